#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "link/frame.h"

// The frame codec seen from the slave's side: a request is parsed, an answer
// built. The byte layout is the master's (link/frame.h); only the direction
// differs.
namespace sim {

struct Request {
    std::uint8_t bytes[kMaxByteFrame]{};
    std::size_t count = 0;  // 6 + dataLength
    bool read = false;      // the request bit
    std::uint16_t hash = 0;
    std::size_t dataLength = 0;
    const std::uint8_t* Data() const { return bytes + 4; }
};

enum class RequestStatus {
    Ok,
    Malformed,    // not '#', pairs of 'G'..'V' and CR, or a length field that disagrees
    BadChecksum,  // well formed, but the checksum does not match
};

// Parses one received line, '#' to CR inclusive. A slave is stricter than the
// master's answer parser: every character between '#' and CR must be a
// nibble letter.
RequestStatus ParseRequest(std::string_view line, Request& out);

// The address a request is sent to, read in the given address form (8 or 11
// bits); -1 when the frame cannot be in that form (an 8-bit frame keeps bits
// 7-5 of byte 1 clear).
int RequestAddress(const Request& request, int addressLength);

// An answer to `request` from `address`: the request's address form, the
// given name hash and data. The master does not look at an answer's request
// bit; answers set it, so that no answer reads as a request the master could
// send (a write's answer would otherwise repeat the write byte for byte) and
// a line that echoes answers back cannot make the device talk to itself.
// False when count exceeds kMaxFrameData.
bool BuildAnswer(const Request& request, int address, int addressLength, std::uint16_t hash,
                 const std::uint8_t* data, std::size_t count, LineFrame& out);

// Cuts a received byte stream into lines '#'..CR. Anything before a '#' is
// dropped; a '#' inside a line starts the line again; a line that grows past
// the longest frame without its CR is dropped whole. Memory stays bounded
// whatever arrives.
class LineAssembler {
  public:
    using Clock = std::chrono::steady_clock;
    // line is '#'..CR; start is when its '#' arrived.
    using LineHandler = std::function<void(std::string_view line, Clock::time_point start)>;

    // Feeds characters received at `now`. The handler returning is all the
    // assembler waits for; it may take its time.
    void Feed(const char* data, std::size_t count, Clock::time_point now,
              const LineHandler& onLine);
    // Characters dropped so far (outside lines, or in dropped lines).
    std::size_t Dropped() const { return dropped_; }

  private:
    char line_[kMaxLineFrame]{};
    std::size_t length_ = 0;  // 0: waiting for '#'
    Clock::time_point start_{};
    std::size_t dropped_ = 0;
};

}  // namespace sim
