#include "app/open_file.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "description/device_description.h"
#include "document/configuration_contents.h"
#include "platform/text.h"

namespace App {

namespace fs = std::filesystem;

bool IsOpenDocumentFile(const std::string& requested, const std::string& openPath) {
    if (requested.empty() || openPath.empty()) return false;
    if (!std::ifstream(requested, std::ios::binary).is_open()) return false;
    std::error_code ec;
    if (fs::equivalent(requested, openPath, ec)) return true;
    const fs::path a = fs::absolute(requested, ec).lexically_normal();
    const fs::path b = fs::absolute(openPath, ec).lexically_normal();
    return ToLowerUtf8(a.string()) == ToLowerUtf8(b.string());
}

const CDeviceDescription* StartModification(const std::string& file,
                                            const CDeviceDescription* identified) {
    if (!file.empty()) {
        Svx::Contents contents;
        std::string error;
        // Only the header matters here; the records are not kept.
        contents.onRecord = [](std::uint32_t, const Parameter&) {};
        if (Svx::ReadContents(file, contents, error) || !contents.modification.empty()) {
            for (const CDeviceDescription& d : DeviceDescriptions())
                if (d.displayName == contents.modification) return &d;
        }
    }
    if (identified) return identified;
    return DeviceDescriptions().empty() ? nullptr : &DeviceDescriptions().front();
}

}  // namespace App
