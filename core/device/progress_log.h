#pragma once

#include <cstdint>
#include <string>

// The operation log of the progress window. The GUI shows the lines as rich
// text; a headless renderer or a test records them.
class ProgressLog {
  public:
    virtual ~ProgressLog() = default;
    // Appends one line; colour is 0x00BBGGRR.
    virtual void LogLine(const std::string& text, bool bold, std::uint32_t colour, bool italic) = 0;
};

// Colours of the log lines, as 0x00BBGGRR values.
namespace LogColour {
constexpr std::uint32_t kBlack = 0x000000;
constexpr std::uint32_t kReadFailed = 0x0000C8;   // red 200
constexpr std::uint32_t kWriteFailed = 0x0000FF;  // red 255
constexpr std::uint32_t kHint = 0x000080;         // red 128
}  // namespace LogColour
