#pragma once

#include <string>
#include <vector>

#include "app/startup_options.h"

class CSelvarDoc;
class Parameter;

namespace App {

// One network setting as the command line gives it: "Нет данных" when the
// option was not given.
struct NetworkSettingText {
    std::string name;
    std::string value;
};
// "Addr", "A.Len", "bPS", "Len", "Sbit", "PrtY", in this order.
std::vector<NetworkSettingText> CommandLineSettingTexts(const StartupOptions& options);

// The device's own setting of that name in the active configuration: the
// description's network branch, else the table; null when neither has it.
Parameter* DeviceNetworkSetting(CSelvarDoc& doc, const std::string& name);

struct NetworkApplyResult {
    bool programChanged = false;  // a program setting was set: the port needs reopening
    int deviceSettings = 0;       // device settings that received a value
};
// The settings without reopening the port: the program's ones marked changed
// where they differ; with "aply" the device's ones as well, unmarked; with
// "newnetparam" the device's ones only, whatever the value.
NetworkApplyResult ApplyCommandLineSettings(CSelvarDoc& doc, const StartupOptions& options);

// Puts the network settings of the command line into the program's settings
// (and, with "aply", the device's), then reopens the port when anything of
// the program's was set. With "newnetparam" only the device's settings of
// the open configuration receive them.
void ApplyCommandLineNetwork(CSelvarDoc& doc, const StartupOptions& options);

// With "newnetparam": after a configuration file is opened, its device
// settings take the command line's values and the file is written back; the
// open then reports failure so that the process ends. Without the option the
// document's hook is removed.
void InstallNewNetParamsHook(CSelvarDoc& doc, const StartupOptions& options);

}  // namespace App
