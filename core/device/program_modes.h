#pragma once

#include <atomic>

#include "platform/app_state.h"

// The check marks of the program's modes. They are plain program state: the
// GUI shows them in its menu, the operations consult and change them.
struct ProgramModes {
    // "Режим автоматического чтения": on at start, as its start value is.
    std::atomic<bool> autoRead{true};
    std::atomic<bool> instantWrite{false};  // "Режим немедленной записи"
    std::atomic<bool> noAttributes{false};  // access attributes are not exchanged
};
ProgramModes& Modes();

// The check marks from the start values, as the main window sets them when
// it is created: automatic reading only for a program that has a port.
inline void ApplyModeStartValues() {
    Modes().autoRead = Startup().autoReadStart != 0 && !Startup().noPort && !Startup().silent;
    Modes().instantWrite = Startup().instantWriteStart != 0;
}
