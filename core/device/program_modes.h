#pragma once

#include <atomic>

// The check marks of the program's modes. They are plain program state: the
// GUI shows them in its menu, the operations consult and change them.
struct ProgramModes {
    std::atomic<bool> autoRead{false};  // "Режим автоматического чтения"
    std::atomic<bool> instantWrite{false};  // "Режим немедленной записи"
    std::atomic<bool> noAttributes{false};  // access attributes are not exchanged
};
ProgramModes& Modes();
