#include "app/command_line_network.h"

#include <string>

#include "description/desc_branch.h"
#include "document/selvar_doc.h"
#include "model/parameter.h"

namespace App {

namespace {

std::string NumberOrNoData(int value) {
    return value != 0 ? std::to_string(value) : std::string(Parameter::kNoData);
}

std::string TextOrNoData(const char* text) {
    return text[0] != '\0' ? std::string(text) : std::string(Parameter::kNoData);
}

}  // namespace

std::vector<NetworkSettingText> CommandLineSettingTexts(const StartupOptions& options) {
    // The parity setting is an enumeration of these labels; the option's
    // value goes in as the label that stands for it, so that the port and
    // the stored settings take it.
    std::string parity = Parameter::kNoData;
    switch (options.Parity()) {
        case ParityOption::kEven:
            parity = "Even";
            break;
        case ParityOption::kOdd:
            parity = "Odd";
            break;
        case ParityOption::kNone:
            parity = "No Parity";
            break;
        default:
            break;
    }
    return {{"Addr", TextOrNoData(options.address)},
            {"A.Len", NumberOrNoData(options.AddressLength())},
            {"bPS", NumberOrNoData(options.baud)},
            {"Len", NumberOrNoData(options.DataLength())},
            {"Sbit", TextOrNoData(options.stopBits)},
            {"PrtY", parity}};
}

Parameter* DeviceNetworkSetting(CSelvarDoc& doc, const std::string& name) {
    if (DescBranch* own = doc.device().Table().markedBranch)
        if (Parameter* p = own->FindParameter(name)) return p;
    return doc.device().FindParameter(name);
}

NetworkApplyResult ApplyCommandLineSettings(CSelvarDoc& doc, const StartupOptions& options) {
    NetworkApplyResult result;
    Elements::NetRS485prg& program = doc.device().ProgramSettings();
    const bool newParams = options.HasMode(ModeBit::kNewNetParams);
    const bool given = options.Has(ActionBit::kNetworkGiven);
    for (const NetworkSettingText& s : CommandLineSettingTexts(options)) {
        if (newParams) {
            if (Parameter* p = DeviceNetworkSetting(doc, s.name)) {
                p->value = s.value;
                ++result.deviceSettings;
            }
            continue;
        }
        if (!given || s.value == Parameter::kNoData) continue;
        if (program.SetValue(s.name, s.value, true)) result.programChanged = true;
        if (options.Has(ActionBit::kApply)) {
            if (Parameter* p = DeviceNetworkSetting(doc, s.name)) {
                p->value = s.value;
                ++result.deviceSettings;
            }
        }
    }
    if (!newParams && given && options.port != 0) {
        program.SetValue("Port", "COM" + std::to_string(options.port), true);
        result.programChanged = true;
    }
    return result;
}

void ApplyCommandLineNetwork(CSelvarDoc& doc, const StartupOptions& options) {
    if (ApplyCommandLineSettings(doc, options).programChanged) doc.device().reopen_port();
}

void InstallNewNetParamsHook(CSelvarDoc& doc, const StartupOptions& options) {
    if (!options.HasMode(ModeBit::kNewNetParams)) {
        doc.afterOpen = nullptr;
        return;
    }
    doc.afterOpen = [&doc, options](const std::string& path, std::string& error) {
        ApplyCommandLineSettings(doc, options);
        // The file now holds the new settings; the run has nothing more to
        // do, so the open counts as failed and the process ends.
        if (!doc.SaveDocument(path)) {
            error = doc.LastError();
            return false;
        }
        error = "Сетевые параметры записаны в файл '" + path + "'.";
        return false;
    };
}

}  // namespace App
