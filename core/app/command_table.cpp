#include "app/command_table.h"

namespace App {

const std::vector<CommandInfo>& Commands() {
    static const std::vector<CommandInfo> table;
    return table;
}

const CommandInfo* FindCommand(int) {
    return nullptr;
}

const std::vector<MenuEntry>& MenuBar() {
    static const std::vector<MenuEntry> menu;
    return menu;
}

const std::vector<MenuEntry>& TrayMenu() {
    static const std::vector<MenuEntry> menu;
    return menu;
}

const std::vector<MenuEntry>& ToolbarNewMenu() {
    static const std::vector<MenuEntry> menu;
    return menu;
}

const std::vector<int>& ToolbarButtons() {
    static const std::vector<int> buttons;
    return buttons;
}

bool CommandEnabled(int, const CommandState&) {
    return true;
}

std::optional<bool> CommandChecked(int, const CommandState&) {
    return std::nullopt;
}

bool MenuEnabled(std::size_t, const CommandState&) {
    return true;
}

bool InitialAutoRead(bool noPort, bool silent, bool autoReadStartValue) {
    return !noPort && !silent && autoReadStartValue;
}

const char* IndicatorText(Indicator, const CommandState&) {
    return "";
}

std::pair<int, int> ProgressRange(std::uint32_t wParam) {
    const int high = static_cast<int>(wParam >> 16);
    return {0, high == 0 ? 100 : high};
}

std::string WindowCaption(const std::string* documentTitle) {
    std::string caption = "Конфигуратор Selvar";
    if (documentTitle) caption += " - " + *documentTitle;
    return caption;
}

}  // namespace App
