#pragma once

#include <string>

#include "platform/settings_store.h"

// The program's access level: 2 full (the level at start), 1 middle, 0
// minimal. A configuration file carries the level it was saved at; opening it
// takes that level over, raising it only with the level's password.
namespace Access {

constexpr int kMinimal = 0;
constexpr int kMiddle = 1;
constexpr int kFull = 2;

int Level();
void SetLevel(int level);
std::string LevelName(int level);

// The stored password of level 1 or 2, from the system settings only (the
// program never writes them); the built-in default when it cannot be read.
std::string Password(int level, SettingStatus* status = nullptr);

// Whether the level of a file being opened may be taken over: asks the
// password when the file's level is above 0, the program is below the full
// level and the level's password is not empty (never in a command-line
// run); a wrong password asks again. False when the user cancelled. The
// level itself is left alone.
bool FileLevelGranted(int fileLevel, bool commandLineRun);
// The above, then the level becomes the file's when granted.
bool TakeOverFileLevel(int fileLevel, bool commandLineRun);

// Whether a main-window command is offered at the current level.
bool CommandAllowed(int command, bool commandLineRun);

}  // namespace Access
