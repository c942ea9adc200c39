#include "app/command_table.h"

#include <unordered_map>

#include "document/access_level.h"
#include "document/selvar_doc.h"

namespace App {

namespace {

using R = EnableRule;
using O = Owner;
namespace Id = CommandId;

// One row per command; the texts are the program's own, quoted exactly.
// Commands the menus do not show carry their status prompt as their text.
// The ones nothing carries out in this design keep their keys and rules so
// that the keys are taken and the items show grey.
std::vector<CommandInfo> BuildTable() {
    // clang-format off
    std::vector<CommandInfo> t = {
        // "&Файл"
        {Id::kNew, "&Новая конфигурация\tCtrl+N", "Новая конфигурация", "Ctrl+N", "new", 1, O::Document, R::Always, false},
        {Id::kSwitchModification, "Новая модификация", "Новая модификация", nullptr, nullptr, 0, O::Document, R::Always, false},
        {Id::kOpen, "&Открыть...\tCtrl+O", "Открыть...", "Ctrl+O", "open", 2, O::Application, R::Always, false},
        {Id::kSave, "&Сохранить\tCtrl+S", "Сохранить", "Ctrl+S", "save", 3, O::Document, R::Always, false},
        {Id::kSaveAs, "Сохранить &как...", "Сохранить как...", nullptr, nullptr, 0, O::Document, R::Always, false},
        {kFirstRecentFile + 0, "Открыть этот файл конфигурации", "Открыть этот файл конфигурации", nullptr, nullptr, 0, O::Application, R::Always, false},
        {kFirstRecentFile + 1, "Открыть этот файл конфигурации", "Открыть этот файл конфигурации", nullptr, nullptr, 0, O::Application, R::Always, false},
        {kFirstRecentFile + 2, "Открыть этот файл конфигурации", "Открыть этот файл конфигурации", nullptr, nullptr, 0, O::Application, R::Always, false},
        {kFirstRecentFile + 3, "Открыть этот файл конфигурации", "Открыть этот файл конфигурации", nullptr, nullptr, 0, O::Application, R::Always, false},
        {Id::kExit, "Выход\tAlt+F4", "Выход", "Alt+F4", "exit", 20, O::Framework, R::Always, false},
        // "&Прибор" and the branch commands
        {Id::kReadAll, "Прочитать все параметры\tAlt+R", "Прочитать все параметры", "Alt+R", "read-all", 4, O::Document, R::NotNoPort, false},
        {Id::kWriteAll, "Записать все параметры\tAlt+W", "Записать все параметры", "Alt+W", "write-all", 5, O::Document, R::NotNoPort, false},
        {Id::kWriteChanged, "Записать только измененные\tAlt+U", "Записать только измененные", "Alt+U", "write-changed", 6, O::Document, R::NotNoPort, false},
        {Id::kWriteErrors, "Записать только параметры с ошибками", "Записать только параметры с ошибками", nullptr, "write-errors", 7, O::Document, R::NotNoPort, false},
        {Id::kReadStructure, "Прочитать структурные параметры", "Прочитать структурные параметры", nullptr, nullptr, 0, O::Document, R::NotNoPort, false},
        {Id::kReadBranch, "Прочитать все параметры выделенной ветви\tAlt+Ctrl+R", "Прочитать все параметры выделенной ветви", "Alt+Ctrl+R", "read-branch", 8, O::View, R::NotNoPort, false},
        {Id::kWriteBranch, "Записать все параметры выделенной ветви\tAlt+Ctrl+W", "Записать все параметры выделенной ветви", "Alt+Ctrl+W", "write-branch", 9, O::View, R::BranchWrite, false},
        {Id::kWriteChangedBranch, "Записать только измененные параметры выбранной ветви в прибор\nЗаписать измененные параметры ветви", "Записать только измененные параметры выбранной ветви в прибор", "Alt+Ctrl+U", "write-changed-branch", 10, O::View, R::BranchWrite, false, "Записать измененные параметры ветви"},
        {Id::kPreviousProblem, "К предыдущему проблемному параметру дерева\tAtl+вверх", "К предыдущему проблемному параметру дерева", "Alt+Up", "previous-problem", 12, O::View, R::Always, false},
        {Id::kNextProblem, "К следующему проблемному параметру дерева\tAlt+вниз", "К следующему проблемному параметру дерева", "Alt+Down", "next-problem", 11, O::View, R::Always, false},
        {Id::kBlockRead, "Прочитать параметры ветви блока", "Прочитать параметры ветви блока", nullptr, nullptr, 0, O::Document, R::Always, false},
        {Id::kBlockWrite, "Записать параметры ветви блока", "Записать параметры ветви блока", nullptr, nullptr, 0, O::Document, R::Always, false},
        {Id::kBlockWriteChanged, "Записать измененные параметры ветви блока", "Записать измененные параметры ветви блока", nullptr, nullptr, 0, O::Document, R::Always, false},
        {Id::kSinglePoint, "Опрос отдельного параметра...\tAlt+S", "Опрос отдельного параметра...", "Alt+S", nullptr, 0, O::Document, R::Always, false},
        {Id::kCheckLink, "Проверка связи (vEr, dEv)\tAlt+N", "Проверка связи (vEr, dEv)", "Alt+N", nullptr, 0, O::Document, R::NotNoPort, false},
        // "С&ервис" and the level-bound commands
        {Id::kInitialise, "Инициализировать прибор\tAlt+I", "Инициализировать прибор", "Alt+I", "initialise", 19, O::Document, R::NotNoPortLevel1, false},
        {Id::kDeviceNetwork, "Принять сетевые параметры прибора", "Принять сетевые параметры прибора", "Alt+A", nullptr, 0, O::Document, R::NotNoPortLevel2, false},
        // "Режимы программы"
        {Id::kAutoRead, "Режим автоматического чтения", "Режим автоматического чтения", nullptr, nullptr, 0, O::Document, R::NotNoPort, true},
        {Id::kInstantWrite, "Режим немедленной записи", "Режим немедленной записи", nullptr, nullptr, 0, O::Document, R::NotNoPort, true},
        {Id::kTransferAttributes, "Режим 'Не передавать атрибуты'", "Режим 'Не передавать атрибуты'", nullptr, nullptr, 0, O::Document, R::NotNoPort, false},
        {Id::kHideMinimized, "Скрывать свернутое окно", "Скрывать свернутое окно", nullptr, nullptr, 0, O::MainWindow, R::Always, true},
        {Id::kRestore, "Восстановить", "Восстановить", nullptr, nullptr, 0, O::MainWindow, R::Always, false},
        {Id::kProgramNetwork, "Сетевые параметры программы", "Сетевые параметры программы", nullptr, "network-settings", 15, O::Document, R::NotNoPort, false},
        {Id::kRs232, "RS-232", "RS-232", nullptr, nullptr, 0, O::Document, R::NotNoPort, true},
        {Id::kRs485, "RS-485", "RS-485", nullptr, nullptr, 0, O::Document, R::NotNoPort, true},
        {Id::kSemiAutomaticConverter, "Полуавтоматический (KV-7)", "Полуавтоматический (KV-7)", nullptr, nullptr, 0, O::Document, R::NotNoPortRs485, true},
        {Id::kAutomaticConverter, "Автоматический (ND6530)", "Автоматический (ND6530)", nullptr, nullptr, 0, O::Document, R::NotNoPortRs485, true},
        {Id::kToolbar, "Панель инструментов", "Панель инструментов", nullptr, nullptr, 0, O::Framework, R::Always, true},
        {Id::kStatusBar, "Панель состояния", "Панель состояния", nullptr, nullptr, 0, O::Framework, R::Always, true},
        // Dialogs and reports
        {Id::kStructureReport, "Отчет о структуре конфигурации", "Отчет о структуре конфигурации", nullptr, nullptr, 0, O::Document, R::NotNoPort, false},
        {Id::kRegulation, "Запуск / Остановка регулирования", "Запуск / Остановка регулирования", nullptr, nullptr, 0, O::Document, R::NotNoPort, false},
        {Id::kProtocolExport, "Экспорт протокола измерений...", "Экспорт протокола измерений...", nullptr, "protocol-export", 14, O::Document, R::Always, false},
        {Id::kParameterList, "Экспорт списка параметров в HTML", "Экспорт списка параметров в HTML", nullptr, "html-list", 16, O::Document, R::Level2, false},
        {Id::kDbfExport, "Экспортирует таблицу значений параметров в формат DBase-III", "Экспортирует таблицу значений параметров в формат DBase-III", nullptr, nullptr, 0, O::Document, R::Level2, false},
        {Id::kDbfImport, "Импортирует таблицу значений параметров из формата DBase-III", "Импортирует таблицу значений параметров из формата DBase-III", nullptr, nullptr, 0, O::Document, R::Level2, false},
        {Id::kForbidden, "Операция запрещена на этом уровне доступа.", "Операция запрещена на этом уровне доступа.", nullptr, nullptr, 0, O::Document, R::Always, false},
        {Id::kHelp, "Display help for current task or command\nHelp", "Display help for current task or command", "Alt+M", nullptr, 0, O::View, R::Always, false, "Help"},
        {Id::kAbout, "&О программе...", "О программе...", nullptr, "about", 13, O::Application, R::Always, false},
        // Nothing carries these out; they keep their keys, places and rules.
        {Id::kCompare, "Сравнить значения параметров из дерева Конфигурации с реальными в приборе", "Сравнить значения параметров из дерева Конфигурации с реальными в приборе", "Alt+C", nullptr, 0, O::Document, R::NoHandler, false},
        {Id::kCompareBranch, "Сравнить значения с реальными в пределах выделеной ветви", "Сравнить значения с реальными в пределах выделеной ветви", "Alt+Ctrl+C", nullptr, 0, O::View, R::NoHandler, false},
        {Id::kReserved313, "", "", "Shift+F6", nullptr, 0, O::View, R::NoHandler, false},
        {Id::kChangePasswords, "Смена паролей среднего и полного уровней доступа.", "Смена паролей среднего и полного уровней доступа.", nullptr, nullptr, 0, O::Document, R::Level2, false},
        {Id::kReserved32839, "", "", nullptr, "service", 18, O::Document, R::NoHandler, false},
        {Id::kReserved299, "", "", nullptr, nullptr, 0, O::Document, R::NotNoPort, false},
        {Id::kCalibrate, "Калибровка", "Калибровка", nullptr, nullptr, 0, O::Document, R::NotNoPort, false},
    };
    // clang-format on
    static constexpr const char* kCurves[] = {"График №1", "График №2", "График №3", "График №4",
                                              "График №5", "График №6", "График №7", "График №8"};
    for (int i = 0; i < 8; ++i)
        t.push_back({Id::kFirstCurve + i, kCurves[i], kCurves[i], nullptr, nullptr, 0,
                     O::MainWindow, R::NoHandler, false});
    for (int id = Id::kFirstReservedLevel2; id <= Id::kLastReservedLevel2; ++id)
        t.push_back({id, "", "", nullptr, nullptr, 0, O::Document, R::Level2, false});
    return t;
}

MenuEntry Cmd(int id, const char* text = nullptr) {
    MenuEntry e;
    e.command = id;
    e.text = text;
    return e;
}

MenuEntry Sep() {
    MenuEntry e;
    e.kind = MenuEntry::Kind::Separator;
    return e;
}

MenuEntry Sub(const char* text, std::vector<MenuEntry> children) {
    MenuEntry e;
    e.kind = MenuEntry::Kind::Submenu;
    e.text = text;
    e.children = std::move(children);
    return e;
}

MenuEntry Recent() {
    MenuEntry e;
    e.kind = MenuEntry::Kind::RecentFiles;
    return e;
}

// The port cannot be used: "no port" from the command line, or a silent
// start, in which the port is never opened either.
bool PortBarred(const CommandState& s) {
    return s.noPort || s.silent;
}

// The access rules: a level-bound command is off while a command-line
// operation runs, whatever the level.
bool LevelAtLeast(const CommandState& s, int level) {
    return !s.commandLineRun && s.accessLevel >= level;
}

}  // namespace

const std::vector<CommandInfo>& Commands() {
    static const std::vector<CommandInfo> table = BuildTable();
    return table;
}

const CommandInfo* FindCommand(int id) {
    static const std::unordered_map<int, const CommandInfo*> index = [] {
        std::unordered_map<int, const CommandInfo*> map;
        for (const CommandInfo& c : Commands())
            map.emplace(c.id, &c);
        return map;
    }();
    auto it = index.find(id);
    return it == index.end() ? nullptr : it->second;
}

const std::vector<MenuEntry>& MenuBar() {
    static const std::vector<MenuEntry> menu = {
        Sub("&Файл", {Cmd(Id::kNew), Cmd(Id::kSwitchModification), Cmd(Id::kOpen), Cmd(Id::kSave),
                      Cmd(Id::kSaveAs), Recent(), Sep(), Cmd(Id::kExit)}),
        Sub("&Прибор",
            {Cmd(Id::kReadAll), Cmd(Id::kWriteAll), Cmd(Id::kWriteChanged), Cmd(Id::kWriteErrors),
             Sep(), Cmd(Id::kReadBranch), Cmd(Id::kWriteBranch), Sep(), Cmd(Id::kPreviousProblem),
             Cmd(Id::kNextProblem), Sep(), Cmd(Id::kSinglePoint), Cmd(Id::kCheckLink)}),
        Sub("Режимы программы",
            {Cmd(Id::kAutoRead), Cmd(Id::kInstantWrite), Cmd(Id::kHideMinimized), Sep(),
             Cmd(Id::kProgramNetwork), Sub("Тип интерфейса", {Cmd(Id::kRs232), Cmd(Id::kRs485)}),
             Sub("Преобразователь",
                 {Cmd(Id::kSemiAutomaticConverter), Cmd(Id::kAutomaticConverter)}),
             Sep(), Cmd(Id::kToolbar), Cmd(Id::kStatusBar)}),
        Sub("С&ервис", {Cmd(Id::kInitialise), Sep(), Cmd(Id::kProtocolExport)}),
        Sub("&Справка", {Cmd(Id::kAbout)}),
    };
    return menu;
}

const std::vector<MenuEntry>& TrayMenu() {
    static const std::vector<MenuEntry> menu = [] {
        std::vector<MenuEntry> curves;
        for (int i = 0; i < 8; ++i)
            curves.push_back(Cmd(Id::kFirstCurve + i));
        return std::vector<MenuEntry>{Cmd(Id::kRestore),
                                      Cmd(Id::kSinglePoint),
                                      Sub("Графики уставки", std::move(curves)),
                                      Cmd(Id::kCheckLink),
                                      Sep(),
                                      Cmd(Id::kParameterList)};
    }();
    return menu;
}

const std::vector<MenuEntry>& ToolbarNewMenu() {
    static const std::vector<MenuEntry> menu = {
        Cmd(Id::kNew), Cmd(Id::kSwitchModification, "Новый уровень/модификация")};
    return menu;
}

const std::vector<int>& ToolbarButtons() {
    static const std::vector<int> buttons = {Id::kNew,
                                             Id::kOpen,
                                             Id::kSave,
                                             0,
                                             Id::kReadAll,
                                             Id::kWriteAll,
                                             Id::kWriteChanged,
                                             Id::kWriteErrors,
                                             0,
                                             Id::kReadBranch,
                                             Id::kWriteBranch,
                                             Id::kWriteChangedBranch,
                                             0,
                                             Id::kNextProblem,
                                             Id::kPreviousProblem,
                                             0,
                                             Id::kInitialise,
                                             Id::kAbout};
    return buttons;
}

bool CommandEnabled(int id, const CommandState& state) {
    const CommandInfo* info = FindCommand(id);
    if (!info || !state.hasHandler) return false;
    switch (info->rule) {
        case R::Always:
            return true;
        case R::NotNoPort:
            return !PortBarred(state);
        case R::NotNoPortLevel1:
            return !PortBarred(state) && LevelAtLeast(state, Access::kMiddle);
        case R::NotNoPortLevel2:
            return !PortBarred(state) && LevelAtLeast(state, Access::kFull);
        case R::BranchWrite:
            return !PortBarred(state) && !state.pointBranchSelected;
        case R::NotNoPortRs485:
            return !PortBarred(state) && state.rs485;
        case R::Level2:
            return LevelAtLeast(state, Access::kFull);
        case R::NoHandler:
            return false;
    }
    return false;
}

std::optional<bool> CommandChecked(int id, const CommandState& state) {
    switch (id) {
        case Id::kAutoRead:
            return state.autoRead;
        case Id::kInstantWrite:
            return state.instantWrite;
        case Id::kHideMinimized:
            return state.hideMinimized;
        case Id::kRs232:
            return !state.rs485;
        case Id::kRs485:
            return state.rs485;
        case Id::kSemiAutomaticConverter:
            return state.converterType == 0;
        case Id::kAutomaticConverter:
            return state.converterType == 1;
        case Id::kToolbar:
            return state.toolbarVisible;
        case Id::kStatusBar:
            return state.statusBarVisible;
        default:
            return std::nullopt;
    }
}

bool MenuEnabled(std::size_t topLevelIndex, const CommandState& state) {
    if (topLevelIndex >= MenuBar().size()) return false;
    return topLevelIndex != kDeviceMenuIndex || !PortBarred(state);
}

bool InitialAutoRead(bool noPort, bool silent, bool autoReadStartValue) {
    return !noPort && !silent && autoReadStartValue;
}

const char* IndicatorText(Indicator indicator, const CommandState& state) {
    switch (indicator) {
        case Indicator::AutoRead:
            return state.autoRead ? "AutoRead" : "";
        case Indicator::Instant:
            return state.instantWrite ? "Instant" : "";
        case Indicator::HideMinimize:
            return state.hideMinimized ? "HideMinimize" : "";
    }
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
