#include "platform/settings_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/text.h"

namespace {

constexpr const char* kSection = "[SelvarM]";

std::string ConfigFile(const char* override, const char* xdgVar, const std::string& xdgDefault) {
    if (const char* v = std::getenv(override); v && *v) return v;
    std::string base = xdgDefault;
    if (const char* v = std::getenv(xdgVar); v && *v) {
        base = v;
        if (std::string(xdgVar) == "XDG_CONFIG_DIRS") base = base.substr(0, base.find(':'));
    }
    return base + "/selvar/selvar.conf";
}

std::string HomeConfig() {
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.config";
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return TrimRight(s);
}

}  // namespace

SettingsStore& SettingsStore::Instance() {
    static SettingsStore store(ConfigFile("SELVAR_SYSTEM_SETTINGS", "XDG_CONFIG_DIRS", "/etc/xdg"),
                               ConfigFile("SELVAR_USER_SETTINGS", "XDG_CONFIG_HOME", HomeConfig()));
    return store;
}

SettingsStore::SettingsStore(std::string systemPath, std::string userPath)
    : systemPath_(std::move(systemPath)), userPath_(std::move(userPath)) {}

bool SettingsStore::Load(const std::string& path, Values& out) const {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        std::string_view l = Trim(line);
        if (l.empty() || l[0] == ';' || l[0] == '#') continue;
        if (l[0] == '[') {
            inSection = EqualsNoCase(l, kSection);
            continue;
        }
        std::size_t eq = l.find('=');
        if (!inSection || eq == std::string_view::npos) continue;
        out[ToLowerUtf8(Trim(l.substr(0, eq)))] = std::string(Trim(l.substr(eq + 1)));
    }
    return true;
}

SettingStatus SettingsStore::Lookup(const std::string& name, bool systemOnly, std::string& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string key = ToLowerUtf8(name);
    Values user, system;
    bool haveUser = !systemOnly && Load(userPath_, user);
    bool haveSystem = Load(systemPath_, system);
    if (haveUser) {
        if (auto it = user.find(key); it != user.end()) {
            out = it->second;
            return SettingStatus::Ok;
        }
    }
    if (haveSystem) {
        if (auto it = system.find(key); it != system.end()) {
            out = it->second;
            return SettingStatus::Ok;
        }
    }
    return haveUser || haveSystem ? SettingStatus::ValueMissing : SettingStatus::KeyMissing;
}

std::map<std::string, std::string> SettingsStore::ReadAll(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string key = ToLowerUtf8(prefix);
    Values user, system, out;
    Load(userPath_, user);
    Load(systemPath_, system);
    for (const Values* layer : {&system, &user})
        for (const auto& [name, value] : *layer)
            if (name.compare(0, key.size(), key) == 0) out[name] = value;
    return out;
}

std::int32_t SettingsStore::ReadNumber(const std::string& name, std::int32_t fallback,
                                       SettingStatus* status) {
    std::string text;
    SettingStatus s = Lookup(name, false, text);
    std::int64_t v = 0;
    if (s == SettingStatus::Ok) {
        std::size_t used = ParseLeadingInt(text, v);
        if (used == 0 || used != text.size() || v < INT32_MIN || v > INT32_MAX)
            s = SettingStatus::ValueUnreadable;
    }
    if (status) *status = s;
    return s == SettingStatus::Ok ? static_cast<std::int32_t>(v) : fallback;
}

std::string SettingsStore::ReadText(const std::string& name, const std::string& fallback,
                                    SettingStatus* status) {
    std::string text;
    SettingStatus s = Lookup(name, false, text);
    if (status) *status = s;
    return s == SettingStatus::Ok ? text : fallback;
}

std::string SettingsStore::ReadSystemText(const std::string& name, const std::string& fallback,
                                          SettingStatus* status) {
    std::string text;
    SettingStatus s = Lookup(name, true, text);
    if (status) *status = s;
    return s == SettingStatus::Ok ? text : fallback;
}

SettingStatus SettingsStore::WriteText(const std::string& name, const std::string& value) {
    // Line breaks would split the value into lines of their own.
    if (value.find_first_of("\r\n") != std::string::npos ||
        name.find_first_of("=\r\n[") != std::string::npos)
        return SettingStatus::ValueUnreadable;
    std::lock_guard<std::mutex> lock(mutex_);
    std::string key = ToLowerUtf8(name);
    // Rewrite the user file keeping its other lines (and comments) as they are.
    std::vector<std::string> lines;
    {
        std::ifstream in(userPath_);
        std::string line;
        while (std::getline(in, line))
            lines.push_back(line);
    }
    bool inSection = false, sectionSeen = false, written = false;
    std::size_t sectionEnd = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view l = Trim(lines[i]);
        if (!l.empty() && l[0] == '[') {
            if (inSection) sectionEnd = i;
            inSection = EqualsNoCase(l, kSection);
            if (inSection) sectionSeen = true;
            continue;
        }
        std::size_t eq = l.find('=');
        if (inSection && eq != std::string_view::npos &&
            ToLowerUtf8(Trim(l.substr(0, eq))) == key) {
            lines[i] = name + "=" + value;
            written = true;
        }
    }
    if (!written) {
        if (!sectionSeen) {
            lines.push_back(kSection);
            lines.push_back(name + "=" + value);
        } else {
            lines.insert(lines.begin() + static_cast<long>(sectionEnd), name + "=" + value);
        }
    }
    std::string contents;
    for (const std::string& l : lines)
        contents += l + "\n";
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(userPath_).parent_path(), ec);
    return WriteFileAtomically(userPath_, contents) ? SettingStatus::Ok
                                                    : SettingStatus::ValueUnreadable;
}

SettingStatus SettingsStore::WriteNumber(const std::string& name, std::int32_t value) {
    return WriteText(name, std::to_string(value));
}

bool WriteFileAtomically(const std::string& path, const std::string& contents) {
    std::string temp = path + ".tmp." + std::to_string(getpid());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const char* p = contents.data();
    std::size_t left = contents.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok && rename(temp.c_str(), path.c_str()) == 0) return true;
    unlink(temp.c_str());
    return false;
}
