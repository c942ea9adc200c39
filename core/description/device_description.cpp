#include "description/device_description.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/text.h"

#ifndef SELVAR_INSTALLED_DATA_DIR
#define SELVAR_INSTALLED_DATA_DIR "/usr/local/share/selvar"
#endif

const std::vector<CDeviceDescription>& DeviceDescriptions() {
    static const std::vector<CDeviceDescription> descriptions = {
        {"Селвар-А1", "parameters1.zip", "selvar_a1.tree.zip", "selvar_a1.tree.h.zip",
         "selvar_a1.tree.op.zip", "tooltip_a1.dat", "a1"},
        {"Селвар-Б4", "parameters2.zip", "selvar_b4.tree.zip", "selvar_b4.tree.h.zip",
         "selvar_b4.tree.op.zip", "tooltip_b4.dat", "b4"},
        {"Селвар-Б2", "parameters3.zip", "selvar_b2.tree.zip", "selvar_b2.tree.h.zip",
         "selvar_b2.tree.op.zip", "tooltip_b2.dat", "b2"},
    };
    return descriptions;
}

const CDeviceDescription* FindDeviceDescription(std::string_view nameOrAlias) {
    for (const CDeviceDescription& d : DeviceDescriptions())
        if (EqualsNoCase(d.displayName, nameOrAlias) || EqualsNoCase(d.alias, nameOrAlias))
            return &d;
    return nullptr;
}

namespace {

std::filesystem::path ExecutableDirectory() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
}

}  // namespace

std::string DescriptionDirectory() {
    if (const char* env = std::getenv("SELVAR_DATA_DIR"); env && *env) return env;
    std::filesystem::path exeDir = ExecutableDirectory();
    std::error_code ec;
    const char* probe = DeviceDescriptions().front().parametersFile;
    if (!exeDir.empty() && std::filesystem::exists(exeDir / probe, ec)) return exeDir.string();
    // Installed: bin/ and share/selvar/ under one prefix, wherever the prefix is.
    std::filesystem::path installed = exeDir.parent_path() / "share" / "selvar";
    if (!exeDir.empty() && std::filesystem::exists(installed / probe, ec))
        return installed.string();
    return SELVAR_INSTALLED_DATA_DIR;
}

std::string DescriptionPath(const char* fileName) {
    return (std::filesystem::path(DescriptionDirectory()) / fileName).string();
}
