#pragma once

#include <string>

// The program's writable home: the folders "protocol" and "temp", the
// reports. $SELVAR_HOME when set, else $XDG_DATA_HOME/selvar (default
// ~/.local/share/selvar). Created on first use.
std::string ProgramHome();
