#include "link/port_map.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "link/sio.h"
#include "link/sio_channels.h"
#include "platform/event.h"
#include "platform/settings_store.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

struct RuleBlock {
    int firstCom;
    int lastCom;
    const char* kind;  // kernel name without its number
};
constexpr RuleBlock kDefaultRule[] = {{1, 99, "ttyUSB"}, {101, 199, "ttyACM"}, {201, 256, "ttyS"}};

constexpr const char* kNoDefault =
    "no device: COM1-COM99 are ttyUSB0-98, COM101-COM199 ttyACM0-98, COM201-COM256 ttyS0-55; "
    "a port map line port.COMn=PATH names any other";

bool IsTcp(const std::string& name) {
    return name.rfind("tcp://", 0) == 0;
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The number of "ttyUSB3" when it is of `kind`, else -1.
int KernelNumber(const std::string& kernelName, std::string_view kind) {
    if (kernelName.rfind(kind, 0) != 0) return -1;
    std::string_view digits = std::string_view(kernelName).substr(kind.size());
    if (!AllDigits(digits) || digits.size() > 6) return -1;
    std::int64_t n = 0;
    ParseLeadingInt(digits, n);
    return static_cast<int>(n);
}

std::string ReadLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    return std::string(TrimRight(line));
}

// False for a built-in port whose node exists without a UART behind it,
// as the kernel creates them.
bool HasHardware(const std::string& kernelName, const PortRoots& roots) {
    if (KernelNumber(kernelName, "ttyS") < 0) return true;
    std::error_code ec;
    fs::path type = fs::path(roots.sys) / "class" / "tty" / kernelName / "type";
    if (!fs::exists(type, ec)) return true;  // nothing known: the node decides
    return ReadLine(type) != "0";
}

// The device node behind `target` when it is present; "" otherwise.
std::string PresentDevice(const std::string& target, const PortRoots& roots) {
    std::error_code ec;
    fs::path device = fs::canonical(target, ec);
    if (ec) return {};
    if (!HasHardware(device.filename().string(), roots)) return {};
    return device.string();
}

// Device node -> its by-id link, else its by-path link.
std::map<std::string, std::string> StablePaths(const PortRoots& roots) {
    std::map<std::string, std::string> found;
    for (const char* folder : {"by-path", "by-id"}) {
        std::error_code ec;
        std::vector<fs::path> links;
        for (const auto& entry :
             fs::directory_iterator(fs::path(roots.dev) / "serial" / folder, ec))
            links.push_back(entry.path());
        // Several links to one device: the first by name, the same on every run.
        std::sort(links.rbegin(), links.rend());
        for (const fs::path& link : links) {
            fs::path device = fs::canonical(link, ec);
            if (!ec) found[device.string()] = link.string();
        }
    }
    return found;
}

// Maker, product and serial number of the USB device above a tty, from sysfs.
std::string Describe(const std::string& kernelName, const PortRoots& roots) {
    std::error_code ec;
    fs::path top = fs::canonical(roots.sys, ec);
    if (ec) return {};
    fs::path dir = fs::canonical(fs::path(roots.sys) / "class" / "tty" / kernelName / "device", ec);
    if (ec) return {};
    for (; dir != top && dir.has_relative_path() && dir.string().rfind(top.string(), 0) == 0;
         dir = dir.parent_path()) {
        if (!fs::exists(dir / "idVendor", ec)) continue;
        std::string text = ReadLine(dir / "manufacturer");
        std::string product = ReadLine(dir / "product");
        if (!product.empty()) text += (text.empty() ? "" : " ") + product;
        if (text.empty())
            text = "USB " + ReadLine(dir / "idVendor") + ":" + ReadLine(dir / "idProduct");
        std::string serial = ReadLine(dir / "serial");
        if (!serial.empty()) text += ", serial " + serial;
        return text;
    }
    return {};
}

}  // namespace

PortRoots DefaultPortRoots() {
    PortRoots roots;
    if (const char* dev = std::getenv("SELVAR_DEV_ROOT"); dev && *dev) roots.dev = dev;
    if (const char* sys = std::getenv("SELVAR_SYS_ROOT"); sys && *sys) roots.sys = sys;
    return roots;
}

int ComNumber(const std::string& name) {
    if (name.size() < 4 || !EqualsNoCase(name.substr(0, 3), "COM")) return 0;
    std::string_view digits = std::string_view(name).substr(3);
    if (!AllDigits(digits) || digits.size() > 9 || digits[0] == '0') return 0;
    std::int64_t n = 0;
    ParseLeadingInt(digits, n);
    return static_cast<int>(n);
}

std::string DefaultComPath(int n, const PortRoots& roots) {
    for (const RuleBlock& b : kDefaultRule)
        if (n >= b.firstCom && n <= b.lastCom)
            return roots.dev + "/" + b.kind + std::to_string(n - b.firstCom);
    return {};
}

std::string DefaultComName(const std::string& kernelName) {
    for (const RuleBlock& b : kDefaultRule) {
        int k = KernelNumber(kernelName, b.kind);
        if (k >= 0 && k <= b.lastCom - b.firstCom) return "COM" + std::to_string(b.firstCom + k);
    }
    return {};
}

std::string ResolvePortName(const std::string& name) {
    return ResolvePortName(name, DefaultPortRoots());
}

std::string ResolvePortName(const std::string& name, const PortRoots& roots) {
    if (IsTcp(name) || name.rfind('/', 0) == 0) return name;
    int n = ComNumber(name);
    std::string key = n > 0 ? "port.COM" + std::to_string(n) : "port." + ToUpperUtf8(name);
    std::string mapped = SettingsStore::Instance().ReadText(key, "");
    if (!mapped.empty()) return mapped;
    return n > 0 ? DefaultComPath(n, roots) : name;
}

std::string PortFailureDetail(const std::string& name, const std::string& target,
                              const std::string& reason) {
    if (target.empty()) return name + ": " + kNoDefault;
    std::string text = target == name ? name : name + " → " + target;
    return reason.empty() ? text : text + ": " + reason;
}

std::vector<PortInfo> FindPorts() {
    return FindPorts(DefaultPortRoots());
}

std::vector<PortInfo> FindPorts(const PortRoots& roots) {
    std::vector<PortInfo> ports;
    std::set<std::string> reached;
    std::map<std::string, std::string> stable = StablePaths(roots);
    auto add = [&](PortInfo info) {
        if (!IsTcp(info.target)) {
            info.device = PresentDevice(info.target, roots);
            if (info.device.empty()) return;
            reached.insert(info.device);
            if (auto it = stable.find(info.device); it != stable.end())
                info.stablePath = it->second;
            info.description = Describe(fs::path(info.device).filename().string(), roots);
        }
        ports.push_back(std::move(info));
    };

    // The whole map in one reading of the settings, not one per COM name.
    const std::map<std::string, std::string> map = SettingsStore::Instance().ReadAll("port.com");
    for (int n = 1; n <= kHighestComNumber; ++n) {
        std::string name = "COM" + std::to_string(n);
        auto it = map.find("port.com" + std::to_string(n));
        std::string mapped = it == map.end() ? std::string() : it->second;
        std::string target = mapped.empty() ? DefaultComPath(n, roots) : mapped;
        if (!target.empty()) add({name, target, {}, {}, {}, !mapped.empty()});
    }

    // Present devices that no COM name reaches still deserve a line: the
    // user maps them, or gives their path.
    std::set<std::string> candidates;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(roots.dev, ec)) {
        std::string kernel = entry.path().filename().string();
        for (const RuleBlock& b : kDefaultRule)
            if (KernelNumber(kernel, b.kind) >= 0) candidates.insert(entry.path().string());
    }
    for (const auto& [device, link] : stable)
        candidates.insert(link);
    for (const std::string& path : candidates) {
        std::string device = PresentDevice(path, roots);
        if (!device.empty() && !reached.count(device)) add({{}, path, {}, {}, {}, false});
    }
    return ports;
}

std::string ProbePort(const PortInfo& port) {
    if (IsTcp(port.target)) {
        Event shutdown;
        ChannelOpenResult opened = OpenTcpChannel(port.target.substr(6), shutdown);
        return opened.channel ? std::string() : opened.detail;
    }
    ChannelOpenResult opened = OpenTtyChannel(port.target);
    return opened.channel ? std::string() : opened.detail;
}

std::string Sio::ListPorts() {
    std::string list;
    for (const PortInfo& port : FindPorts()) {
        if (port.name.empty()) continue;
        if (!list.empty()) list += ':';
        list += port.name;
    }
    return list;
}
