#pragma once

#include "app/startup_options.h"

class CSelvarDoc;

namespace App {

// Puts the network settings of the command line into the program's settings
// (and, with "aply", the device's), then reopens the port when anything
// changed. With "newnetparam" only the device's settings of the open
// configuration receive them.
void ApplyCommandLineNetwork(CSelvarDoc& doc, const StartupOptions& options);

// With "newnetparam": after a configuration file is opened, its device
// settings take the command line's values and the file is written back; the
// open then reports failure so that the process ends. Installs the hook into
// the document; nothing without the option.
void InstallNewNetParamsHook(CSelvarDoc& doc, const StartupOptions& options);

}  // namespace App
