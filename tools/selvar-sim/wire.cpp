#include "wire.h"

namespace sim {

namespace {

constexpr char kFirstNibble = 'G';
constexpr char kLastNibble = 'V';
constexpr std::size_t kMinLineFrame = 2 * 6 + 2;

}  // namespace

RequestStatus ParseRequest(std::string_view line, Request& out) {
    out = Request{};
    if (line.size() < kMinLineFrame || line.size() > kMaxLineFrame || line.front() != kFrameStart ||
        line.back() != kFrameEnd || line.size() % 2 != 0)
        return RequestStatus::Malformed;
    for (char c : line.substr(1, line.size() - 2))
        if (c < kFirstNibble || c > kLastNibble) return RequestStatus::Malformed;

    ParsedAnswer parsed;
    const AnswerStatus status = parse_answer(line, parsed);
    if (status != AnswerStatus::Ok && status != AnswerStatus::BadChecksum)
        return RequestStatus::Malformed;

    out.count = parsed.dataLength + 6;
    for (std::size_t i = 0; i < out.count; ++i)
        out.bytes[i] = parsed.bytes[i];
    out.read = (out.bytes[1] & 0x10u) != 0;
    out.hash = parsed.nameHash;
    out.dataLength = parsed.dataLength;
    return status == AnswerStatus::Ok ? RequestStatus::Ok : RequestStatus::BadChecksum;
}

int RequestAddress(const Request& request, int addressLength) {
    const unsigned low = request.bytes[1] >> 5;
    if (addressLength == 11) return static_cast<int>((unsigned{request.bytes[0]} << 3) | low);
    return low == 0 ? request.bytes[0] : -1;
}

bool BuildAnswer(const Request& request, int address, int addressLength, std::uint16_t hash,
                 const std::uint8_t* data, std::size_t count, LineFrame& out) {
    (void)request;
    return build_request(address, 0, addressLength, true, hash, data, count, out);
}

void LineAssembler::Feed(const char* data, std::size_t count, Clock::time_point now,
                         const LineHandler& onLine) {
    for (std::size_t i = 0; i < count; ++i) {
        const char c = data[i];
        if (c == kFrameStart) {
            // A new start abandons a line in progress: resynchronise on it.
            dropped_ += length_;
            line_[0] = c;
            length_ = 1;
            start_ = now;
            continue;
        }
        if (length_ == 0) {
            ++dropped_;
            continue;
        }
        if (length_ == sizeof line_) {
            // Longer than any frame: drop it and wait for the next start.
            dropped_ += length_ + 1;
            length_ = 0;
            continue;
        }
        line_[length_++] = c;
        if (c == kFrameEnd) {
            const std::size_t n = length_;
            length_ = 0;
            onLine(std::string_view(line_, n), start_);
        }
    }
}

}  // namespace sim
