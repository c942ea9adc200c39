#include "document/access_level.h"

#include <atomic>

#include "platform/ui_services.h"

namespace Access {

namespace {

constinit std::atomic<int> gLevel{kFull};

// The built-in password of the full level when the installation sets none.
constexpr const char* kDefaultFullPassword = "7";
constexpr std::size_t kMaxPassword = 255;

constexpr const char* kPromptText =
    "Конфигурация была создана на полном или среднем уровне доступа.\n\nДля получения доступа "
    "требуется ввести пароль:";

// Commands that need the full level, and the one that needs the middle.
constexpr int kFullLevelCommands[] = {302,   303,   296,   154,   266,  32853,
                                      32854, 32855, 32856, 32857, 32858};
constexpr int kInitialise = 263;

}  // namespace

int Level() {
    return gLevel.load();
}

void SetLevel(int level) {
    gLevel.store(level < kMinimal ? kMinimal : level > kFull ? kFull : level);
}

std::string LevelName(int level) {
    switch (level) {
        case kFull:
            return "Полный доступ";
        case kMiddle:
            return "Ограниченный (средний) доступ";
        default:
            return "Минимальный доступ";
    }
}

std::string Password(int level, SettingStatus* status) {
    const char* name = level == kFull ? "password_max_level" : "password_mid_level";
    const char* fallback = level == kFull ? kDefaultFullPassword : "";
    return SettingsStore::Instance().ReadSystemText(name, fallback, status);
}

bool TakeOverFileLevel(int fileLevel, bool commandLineRun) {
    if (!FileLevelGranted(fileLevel, commandLineRun)) return false;
    SetLevel(fileLevel);
    return true;
}

bool FileLevelGranted(int fileLevel, bool commandLineRun) {
    if (fileLevel <= kMinimal || commandLineRun || Level() >= kFull || Password(fileLevel).empty())
        return true;
    PasswordPrompt* prompt = GetPasswordPrompt();
    for (;;) {
        std::optional<std::string> typed = prompt ? prompt->Ask(kPromptText) : std::nullopt;
        if (!typed) return false;
        if (typed->size() > kMaxPassword) typed->resize(kMaxPassword);
        // Read again: the administrator may have changed it meanwhile.
        if (*typed == Password(fileLevel)) return true;
        ShowMessage("Введен неверный пароль!", {}, MessageIcon::Error, MessageButtons::Ok);
    }
}

bool CommandAllowed(int command, bool commandLineRun) {
    for (int c : kFullLevelCommands)
        if (c == command) return !commandLineRun && Level() >= kFull;
    if (command == kInitialise) return !commandLineRun && Level() >= kMiddle;
    return true;
}

}  // namespace Access
