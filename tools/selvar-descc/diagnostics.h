#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace descc {

// A place in the sources: file and line (from 1).
struct Location {
    std::string file;
    int line = 0;
    std::string Text() const;  // "file:line", or "file" without a line
};

// Messages of one compilation, in the order found: "file:line: error: text".
class Diagnostics {
  public:
    void Error(const Location& where, const std::string& message);
    void Warning(const Location& where, const std::string& message);

    bool Ok() const { return errors_ == 0; }
    std::size_t ErrorCount() const { return errors_; }
    std::size_t WarningCount() const { return warnings_; }
    const std::vector<std::string>& Messages() const { return messages_; }
    // True when some message holds the text (tests).
    bool Mentions(const std::string& text) const;

  private:
    std::vector<std::string> messages_;
    std::size_t errors_ = 0;
    std::size_t warnings_ = 0;
};

}  // namespace descc
