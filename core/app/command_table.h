#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The main window's commands in one table: number, texts, key, icon, owner
// and the rule that enables each, plus the menus, the toolbar and the tray
// menu that name them. The GUI builds every action from here; the rules are
// plain functions of the program's state so that they are checked without a
// display.
namespace App {

enum class Owner { Framework, Application, MainWindow, Document, View };

// Who may run the command now.
enum class EnableRule {
    Always,
    NotNoPort,        // the port may be used (no "no port" and no "silent" start)
    NotNoPortLevel1,  // ... and the access level is at least 1
    NotNoPortLevel2,  // ... and the access level is 2
    BranchWrite,      // the port may be used and the selection is not a branch
                      // whose name contains "Точка"
    NotNoPortRs485,   // the port may be used and the interface is RS-485
    Level2,           // the access level is 2
    NoHandler         // nothing carries the command out: always grey
};

struct CommandInfo {
    int id;
    // The menu text exactly as shown ("&Новая конфигурация\tCtrl+N"), or the
    // status prompt for commands without a menu item. A text of the form
    // "prompt\ntip" carries the toolbar's tip after the line break.
    const char* text;
    // Status-bar prompt: the text without '&', without the tab part and
    // without the tip.
    const char* prompt;
    // Key sequence in Qt's portable form ("Ctrl+N", "Alt+Ctrl+R", "Alt+Up",
    // "Shift+F6"); nullptr when none. The GUI makes the QKeySequence.
    const char* shortcut;
    // Base name of gui/resources/icons/NAME.svg (":/icons/NAME.svg"); nullptr
    // when none.
    const char* icon;
    int iconIndex;  // the menu icon's place in the icon table, 0 when none
    Owner owner;
    EnableRule rule;
    bool checkable;
    // The toolbar tip when the text gives one ("Записать измененные параметры
    // ветви"); nullptr: use the prompt.
    const char* tip = nullptr;
};

const std::vector<CommandInfo>& Commands();
// nullptr when the number is not a command of the table.
const CommandInfo* FindCommand(int id);

// The recent files of the "&Файл" menu: commands kFirstRecentFile onwards,
// kRecentFileCount of them, in the place of the RecentFiles entry.
constexpr int kFirstRecentFile = 57616;
constexpr int kRecentFileCount = 4;

struct MenuEntry {
    enum class Kind { Command, Separator, Submenu, RecentFiles };
    Kind kind = Kind::Command;
    int command = 0;
    // Submenus: their title. Commands: nullptr, or the text this menu shows
    // instead of the table's (the toolbar's "New" drop-down names 264
    // "Новый уровень/модификация").
    const char* text = nullptr;
    std::vector<MenuEntry> children;  // submenus only
};

const std::vector<MenuEntry>& MenuBar();         // the five top-level menus, in order
const std::vector<MenuEntry>& TrayMenu();        // "tray"
const std::vector<MenuEntry>& ToolbarNewMenu();  // "ToolBar_New"
const std::vector<int>& ToolbarButtons();        // 0 = separator

// The toolbar button with the drop-down arrow (it shows ToolbarNewMenu()).
constexpr int kToolbarDropDownCommand = 57600;
// The tray menu's default item.
constexpr int kTrayDefaultCommand = 32881;
// The top-level menu that the no-port rule greys ("&Прибор").
constexpr std::size_t kDeviceMenuIndex = 1;

struct CommandState {
    bool noPort = false, silent = false;
    int accessLevel = 2;
    // A command-line operation is running: the access-level commands are off.
    bool commandLineRun = false;
    bool pointBranchSelected = false;  // the selected row is a branch whose name contains "Точка"
    bool rs485 = true;                 // the document's interface flag (RS-485 when true)
    int converterType = 0;             // 0 semi-automatic, 1 automatic
    bool autoRead = true, instantWrite = false, hideMinimized = false;
    bool toolbarVisible = true, statusBarVisible = true;
    bool hasHandler = true;  // the GUI says whether anything handles the command now
};

// False for numbers that are not in the table and whenever hasHandler is
// false, as for every command nothing carries out.
bool CommandEnabled(int id, const CommandState& state);
// None: not a check item.
std::optional<bool> CommandChecked(int id, const CommandState& state);
// Whether the top-level menu at that index is enabled as a whole. A grey
// menu does not change its commands' own rules: 141 keeps its key.
bool MenuEnabled(std::size_t topLevelIndex, const CommandState& state);

// "Режим автоматического чтения" at window creation: the start value, unless
// the program runs without a port or silently.
bool InitialAutoRead(bool noPort, bool silent, bool autoReadStartValue);

// The status bar's mode panes, in order after the prompt and progress panes.
enum class Indicator { AutoRead, Instant, HideMinimize };
// "AutoRead", "Instant" or "HideMinimize" while its mode is on, else "".
const char* IndicatorText(Indicator indicator, const CommandState& state);

// Message 1065's range: high word 0 → 0..100, else 0..high word. Returns {min, max}.
std::pair<int, int> ProgressRange(std::uint32_t wParam);
// "Конфигуратор Selvar" + " - " + title; alone when there is no document.
std::string WindowCaption(const std::string* documentTitle);

constexpr const char* kIdlePrompt = "Для вывода комментария по параметру выделите его и нажмите F1";
constexpr const char* kTrayTip = "Конфигуратор Пеллум";
constexpr const char* kClosingQuestion =
    "Вы уверены, что хотите завершить работу с программой-конфигуратором?";

}  // namespace App
