#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The frame codec of the device protocol: pure functions over bytes, no I/O,
// no allocation. A byte frame is address (2 bytes with the request bit and the
// data length), name hash, 0..15 data bytes and a checksum; on the line every
// byte travels as two letters 'G'..'V' between '#' and CR.

constexpr std::size_t kMaxFrameData = 15;
constexpr std::size_t kMaxByteFrame = kMaxFrameData + 6;      // 21
constexpr std::size_t kMaxLineFrame = 2 * kMaxByteFrame + 2;  // 44, '#' and CR included
constexpr char kFrameStart = '#';
constexpr char kFrameEnd = '\r';

// Address offset that stands for the fixed address 255 whatever the device's own.
constexpr int kFixedAddressOffset = -1;

// 16-bit hash of a parameter's device name (UTF-8; only Latin letters, digits,
// point, space, '_' and '-' count, over the first 8 characters).
std::uint16_t hash_name(std::string_view name);

// 16-bit checksum (CRC, polynomial 0x8F57, initial 0, MSB first).
std::uint16_t hash_buffer(const std::uint8_t* data, std::size_t count);

// Writes 2 * count letters to out.
void encode_buffer(const std::uint8_t* data, std::size_t count, char* out);

// Reads count / 2 bytes into out (an odd last character is ignored); returns
// the number of bytes written. Characters outside 'G'..'V' are not rejected:
// the checksum catches them.
std::size_t decode_buffer(const char* chars, std::size_t count, std::uint8_t* out);

struct LineFrame {
    char chars[kMaxLineFrame];
    std::size_t length = 0;  // '#' .. CR inclusive
    std::string_view View() const { return {chars, length}; }
};

// Builds a request line frame. addressLength is 8 or 11 (any other value is
// taken as 8); request is true for a read. The address sent is deviceAddress +
// addressOffset, or 255 when addressOffset is kFixedAddressOffset. Returns
// false, leaving out empty, when count exceeds kMaxFrameData or the address
// does not fit the address form (0..255, or 0..2047 in the 11-bit form):
// masking it would reach another device.
bool build_request(int deviceAddress, int addressOffset, int addressLength, bool request,
                   std::uint16_t nameHash, const std::uint8_t* data, std::size_t count,
                   LineFrame& out);

enum class AnswerStatus {
    Ok,           // checksum matches
    NotAFrame,    // does not start with '#' or holds fewer than the 6 bytes of a frame
    Truncated,    // the length field asks for more data than arrived
    Overlong,     // more bytes arrived than the length field announces
    BadChecksum,  // computed checksum differs from the received one
};

struct ParsedAnswer {
    std::uint8_t bytes[kMaxLineFrame / 2 + 8];  // decoded byte frame (as much as arrived)
    std::size_t byteCount = 0;
    std::size_t dataLength = 0;  // N from byte 1
    std::uint16_t nameHash = 0;
    std::uint16_t receivedChecksum = 0;
    std::uint16_t computedChecksum = 0;
    AnswerStatus status = AnswerStatus::NotAFrame;
    const std::uint8_t* Data() const { return bytes + 4; }
};

// Parses received characters ('#' .. CR; a missing CR is tolerated). Any input
// of any length gives a status; nothing is read outside `received`. The frame
// is taken as long as its length field says (6 + N bytes): fewer bytes are
// Truncated, more are Overlong; the checksums are filled in whenever the
// 6 + N bytes arrived. Only as many bytes as `bytes` holds are decoded.
AnswerStatus parse_answer(std::string_view received, ParsedAnswer& out);
