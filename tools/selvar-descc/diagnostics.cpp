#include "diagnostics.h"

#include <algorithm>

namespace descc {

std::string Location::Text() const {
    return line > 0 ? file + ":" + std::to_string(line) : file;
}

// A line inside a loop is read once per pass: its message is given once.
void Diagnostics::Error(const Location& where, const std::string& message) {
    std::string text = where.Text() + ": error: " + message;
    if (std::find(messages_.begin(), messages_.end(), text) != messages_.end()) return;
    ++errors_;
    messages_.push_back(std::move(text));
}

void Diagnostics::Warning(const Location& where, const std::string& message) {
    std::string text = where.Text() + ": warning: " + message;
    if (std::find(messages_.begin(), messages_.end(), text) != messages_.end()) return;
    ++warnings_;
    messages_.push_back(std::move(text));
}

bool Diagnostics::Mentions(const std::string& text) const {
    for (const std::string& m : messages_)
        if (m.find(text) != std::string::npos) return true;
    return false;
}

}  // namespace descc
