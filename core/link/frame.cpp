#include "link/frame.h"

#include <array>
#include <cstdint>

#include "platform/text.h"

namespace {

constexpr std::uint16_t kPolynomial = 0x8F57;

// Code of a free name position: the space character.
constexpr std::uint8_t kSpaceCode = 78;

// One register step per byte, so that a checksum costs a lookup per byte
// instead of eight shifts; the register is the same as the bitwise one.
constexpr std::array<std::uint16_t, 256> MakeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned reg = byte << 8;
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 0x8000u) ? ((reg << 1) ^ kPolynomial) : (reg << 1);
        table[byte] = static_cast<std::uint16_t>(reg);
    }
    return table;
}
constexpr std::array<std::uint16_t, 256> kTable = MakeTable();

// Feeds `bits` bits of `value`, most significant first, into the register.
std::uint16_t FeedBits(std::uint16_t reg, unsigned value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        unsigned in = (value >> i) & 1u;
        unsigned top = (reg >> 15) & 1u;
        reg = static_cast<std::uint16_t>(reg << 1);
        if (top != in) reg ^= kPolynomial;
    }
    return reg;
}

// The 7-bit code of a name character without its point bit, or -1 for a
// character that takes no position.
int CharacterCode(unsigned char c) {
    if (c >= '0' && c <= '9') return (c - '0') * 2;
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return (c - 'A' + 10) * 2;
    if (c == '-') return 72;
    if (c == '_') return 74;
    if (c == ' ') return kSpaceCode;
    return -1;
}

std::uint8_t Nibble(char c) {
    return static_cast<std::uint8_t>((c - 'G') & 0x0F);
}

}  // namespace

std::uint16_t hash_name(std::string_view name) {
    if (name.empty()) return 0;
    // Bytes of multi-byte characters are never letters here, so walking the
    // bytes of the first 8 code points is enough.
    std::string_view head = Utf8Prefix(name, 8);
    // A fifth coded character is computed but never fed: position 4 only
    // keeps the walk going so that a point after the fourth still counts.
    std::uint8_t codes[5] = {kSpaceCode, kSpaceCode, kSpaceCode, kSpaceCode, kSpaceCode};
    std::size_t p = 0;
    for (std::size_t i = 0; i < head.size() && p <= 4; ++i) {
        auto c = static_cast<unsigned char>(head[i]);
        if (c == '.') {
            // The point marks the character before it. It is added, as the
            // device does, so only the low 7 bits of a code are ever fed.
            if (p > 0) codes[p - 1] = static_cast<std::uint8_t>(codes[p - 1] + 1);
            continue;
        }
        int code = CharacterCode(c);
        if (code < 0) continue;
        codes[p++] = static_cast<std::uint8_t>(code);
    }
    std::uint16_t reg = 0;
    for (int k = 0; k < 4; ++k)
        reg = FeedBits(reg, codes[k], 7);
    return reg;
}

std::uint16_t hash_buffer(const std::uint8_t* data, std::size_t count) {
    std::uint16_t reg = 0;
    for (std::size_t i = 0; i < count; ++i)
        reg = static_cast<std::uint16_t>((reg << 8) ^ kTable[((reg >> 8) ^ data[i]) & 0xFFu]);
    return reg;
}

void encode_buffer(const std::uint8_t* data, std::size_t count, char* out) {
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] = static_cast<char>('G' + (data[i] >> 4));
        out[2 * i + 1] = static_cast<char>('G' + (data[i] & 0x0F));
    }
}

std::size_t decode_buffer(const char* chars, std::size_t count, std::uint8_t* out) {
    std::size_t bytes = count / 2;
    for (std::size_t i = 0; i < bytes; ++i)
        out[i] = static_cast<std::uint8_t>((Nibble(chars[2 * i]) << 4) | Nibble(chars[2 * i + 1]));
    return bytes;
}

bool build_request(int deviceAddress, int addressOffset, int addressLength, bool request,
                   std::uint16_t nameHash, const std::uint8_t* data, std::size_t count,
                   LineFrame& out) {
    out.length = 0;
    if (count > kMaxFrameData) return false;
    const bool wide = addressLength == 11;
    // Summed in 64 bits so that no pair of ints can overflow.
    const std::int64_t address =
        addressOffset == kFixedAddressOffset ? 255 : std::int64_t{deviceAddress} + addressOffset;
    if (address < 0 || address > (wide ? 2047 : 255)) return false;

    std::uint8_t frame[kMaxByteFrame];
    const auto a = static_cast<unsigned>(address);
    frame[0] = static_cast<std::uint8_t>(wide ? a >> 3 : a);
    frame[1] =
        static_cast<std::uint8_t>((wide ? (a & 7u) << 5 : 0u) | (request ? 0x10u : 0u) | count);
    frame[2] = static_cast<std::uint8_t>(nameHash >> 8);
    frame[3] = static_cast<std::uint8_t>(nameHash & 0xFF);
    for (std::size_t i = 0; i < count; ++i)
        frame[4 + i] = data[i];
    const std::uint16_t sum = hash_buffer(frame, 4 + count);
    frame[4 + count] = static_cast<std::uint8_t>(sum >> 8);
    frame[5 + count] = static_cast<std::uint8_t>(sum & 0xFF);

    const std::size_t bytes = count + 6;
    out.chars[0] = kFrameStart;
    encode_buffer(frame, bytes, out.chars + 1);
    out.chars[1 + 2 * bytes] = kFrameEnd;
    out.length = 2 * bytes + 2;
    return true;
}

AnswerStatus parse_answer(std::string_view received, ParsedAnswer& out) {
    out = ParsedAnswer{};
    if (received.empty() || received.front() != kFrameStart) return out.status;

    std::string_view body = received.substr(1);
    if (!body.empty() && body.back() == kFrameEnd) body.remove_suffix(1);
    const std::size_t arrived = body.size() / 2;
    // Whatever does not fit cannot belong to a frame anyway: the longest is
    // kMaxByteFrame bytes, well inside the buffer.
    const std::size_t room = sizeof out.bytes;
    const std::size_t decodeChars = (arrived < room ? arrived : room) * 2;
    out.byteCount = decode_buffer(body.data(), decodeChars, out.bytes);
    if (out.byteCount < 6) return out.status = AnswerStatus::NotAFrame;

    out.dataLength = out.bytes[1] & 0x0Fu;
    out.nameHash = static_cast<std::uint16_t>((out.bytes[2] << 8) | out.bytes[3]);
    const std::size_t frameBytes = out.dataLength + 6;
    // The length field, not the count of arrived characters, says where the
    // checksum is; trusting the count would misplace it or read past the data.
    if (out.byteCount < frameBytes) return out.status = AnswerStatus::Truncated;

    const std::size_t summed = frameBytes - 2;
    out.receivedChecksum =
        static_cast<std::uint16_t>((out.bytes[summed] << 8) | out.bytes[summed + 1]);
    out.computedChecksum = hash_buffer(out.bytes, summed);
    if (arrived > frameBytes) return out.status = AnswerStatus::Overlong;
    out.status =
        out.receivedChecksum == out.computedChecksum ? AnswerStatus::Ok : AnswerStatus::BadChecksum;
    return out.status;
}
