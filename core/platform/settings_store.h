#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// The program's machine-wide settings, in two INI-style layers: a system
// layer that installers and administrators write and the program only reads,
// and a user layer that the program writes. A value of the user layer hides
// the same value of the system layer; the passwords come from the system
// layer alone, so that a user cannot give himself an access level.
//
// Locations: $SELVAR_SYSTEM_SETTINGS, else the first $XDG_CONFIG_DIRS entry
// (default /etc/xdg) + "/selvar/selvar.conf"; $SELVAR_USER_SETTINGS, else
// $XDG_CONFIG_HOME (default ~/.config) + "/selvar/selvar.conf".

// Outcome of a read or write.
enum class SettingStatus {
    Ok = 0,
    ValueUnreadable = 1,  // present but not what was asked for, or the write failed
    KeyMissing = 2,       // neither layer's file could be read
    ValueMissing = 3,     // the file is there, the value is not
};

class SettingsStore {
  public:
    // The process-wide store at the standard locations.
    static SettingsStore& Instance();

    SettingsStore(std::string systemPath, std::string userPath);

    // A 32-bit number; `fallback` when it cannot be read.
    std::int32_t ReadNumber(const std::string& name, std::int32_t fallback,
                            SettingStatus* status = nullptr);
    std::string ReadText(const std::string& name, const std::string& fallback,
                         SettingStatus* status = nullptr);
    // Every value whose name begins with `prefix` (names lower-cased), the
    // user layer's over the system layer's, from one reading of each file.
    std::map<std::string, std::string> ReadAll(const std::string& prefix);
    // From the system layer only.
    std::string ReadSystemText(const std::string& name, const std::string& fallback,
                               SettingStatus* status = nullptr);

    // Into the user layer, written atomically; a failure leaves the old file.
    SettingStatus WriteNumber(const std::string& name, std::int32_t value);
    SettingStatus WriteText(const std::string& name, const std::string& value);

    const std::string& SystemPath() const { return systemPath_; }
    const std::string& UserPath() const { return userPath_; }

  private:
    using Values = std::map<std::string, std::string>;
    bool Load(const std::string& path, Values& out) const;
    SettingStatus Lookup(const std::string& name, bool systemOnly, std::string& out);

    std::mutex mutex_;
    std::string systemPath_;
    std::string userPath_;
};

// Writes a whole file atomically: a temporary file beside it, flushed, then
// renamed over it. False (and the old file untouched) on any failure.
bool WriteFileAtomically(const std::string& path, const std::string& contents);
