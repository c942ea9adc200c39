#include "app/command_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "document/access_level.h"

namespace {

using App::CommandState;
using App::MenuEntry;

// Walks every command entry of a menu tree.
void ForEachCommand(const std::vector<MenuEntry>& menu, const std::function<void(int)>& visit) {
    for (const MenuEntry& e : menu) {
        if (e.kind == MenuEntry::Kind::Command) visit(e.command);
        if (e.kind == MenuEntry::Kind::Submenu) ForEachCommand(e.children, visit);
    }
}

// "Alt+Ctrl+R" and "Ctrl+Alt+R" are one key: modifiers sorted, key last.
std::string NormalisedKey(const std::string& key) {
    std::vector<std::string> parts;
    std::stringstream in(key);
    for (std::string part; std::getline(in, part, '+');)
        parts.push_back(part);
    std::sort(parts.begin(), parts.end() - 1);
    std::string out;
    for (const std::string& p : parts)
        out += (out.empty() ? "" : "+") + p;
    return out;
}

struct EnableCase {
    const char* what;
    std::function<void(CommandState&)> set;
    std::vector<int> on;
    std::vector<int> off;
};

TEST(CommandTable, EnableRules) {
    const std::vector<EnableCase> cases = {
        {"default state",
         [](CommandState&) {},
         {139,   140, 256,   147,   272,   284,   285, 281,   138,  263,
          266,   134, 271,   268,   32890, 32810, 154, 302,   303,  32853,
          57600, 264, 57601, 57603, 57665, 141,   288, 57664, 32880},
         {257, 282, 313, 32867, 32874, 32839}},
        {"no port",
         [](CommandState& s) { s.noPort = true; },
         {141, 288, 278, 279, 57600, 264, 57601, 32880, 59392, 154, 57664, 57670},
         {139, 140, 256, 147,   272,   284,   285,   281, 138,   263, 266,  134,
          271, 294, 268, 32890, 32891, 32810, 32811, 265, 32885, 299, 32800}},
        {"silent start",
         [](CommandState& s) { s.silent = true; },
         {141, 288},
         {139, 138, 263, 134}},
        {"level 0",
         [](CommandState& s) { s.accessLevel = 0; },
         {139, 140, 138, 134, 268, 288},
         {263, 266, 154, 302, 303, 296, 32853, 32858}},
        {"level 1", [](CommandState& s) { s.accessLevel = 1; }, {263}, {266, 154, 302, 303, 32853}},
        {"command-line run",
         [](CommandState& s) { s.commandLineRun = true; },
         {139, 140},
         {263, 266, 154, 302, 303}},
        {"a \"Точка\" branch selected",
         [](CommandState& s) { s.pointBranchSelected = true; },
         {284, 139, 140},
         {285, 281}},
        {"RS-232", [](CommandState& s) { s.rs485 = false; }, {32890, 32891, 268}, {32810, 32811}},
        {"nothing handles it",
         [](CommandState& s) { s.hasHandler = false; },
         {},
         {57600, 141, 288}},
    };
    for (const EnableCase& c : cases) {
        CommandState state;
        c.set(state);
        for (int id : c.on)
            EXPECT_TRUE(App::CommandEnabled(id, state)) << c.what << ": " << id;
        for (int id : c.off)
            EXPECT_FALSE(App::CommandEnabled(id, state)) << c.what << ": " << id;
    }
    EXPECT_FALSE(App::CommandEnabled(12345, CommandState{})) << "not a command";
}

TEST(CommandTable, DeviceMenuGreyWithoutPort) {
    ASSERT_EQ(App::MenuBar().size(), 5u);
    EXPECT_STREQ(App::MenuBar()[App::kDeviceMenuIndex].text, "&Прибор");
    CommandState state;
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_TRUE(App::MenuEnabled(i, state)) << i;
    state.noPort = true;
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(App::MenuEnabled(i, state), i != App::kDeviceMenuIndex) << i;
    state = CommandState{};
    state.silent = true;
    EXPECT_FALSE(App::MenuEnabled(App::kDeviceMenuIndex, state));
    EXPECT_FALSE(App::MenuEnabled(5, CommandState{}));
}

TEST(CommandTable, CheckMarks) {
    CommandState s;
    s.rs485 = false;
    s.converterType = 1;
    s.autoRead = false;
    s.instantWrite = true;
    s.hideMinimized = true;
    s.toolbarVisible = false;
    EXPECT_EQ(App::CommandChecked(32890, s), true);
    EXPECT_EQ(App::CommandChecked(32891, s), false);
    EXPECT_EQ(App::CommandChecked(32810, s), false);
    EXPECT_EQ(App::CommandChecked(32811, s), true);
    EXPECT_EQ(App::CommandChecked(134, s), false);
    EXPECT_EQ(App::CommandChecked(271, s), true);
    EXPECT_EQ(App::CommandChecked(32880, s), true);
    EXPECT_EQ(App::CommandChecked(59392, s), false);
    EXPECT_EQ(App::CommandChecked(59393, s), true);
    s = CommandState{};
    EXPECT_EQ(App::CommandChecked(32890, s), false);
    EXPECT_EQ(App::CommandChecked(32891, s), true);
    EXPECT_EQ(App::CommandChecked(32810, s), true);
    EXPECT_EQ(App::CommandChecked(32811, s), false);
    EXPECT_EQ(App::CommandChecked(134, s), true);
    EXPECT_EQ(App::CommandChecked(139, s), std::nullopt);

    // Exactly the check items of the table answer with a mark.
    for (const App::CommandInfo& c : App::Commands())
        EXPECT_EQ(App::CommandChecked(c.id, s).has_value(), c.checkable) << c.id;

    EXPECT_FALSE(App::InitialAutoRead(true, false, true));
    EXPECT_FALSE(App::InitialAutoRead(false, true, true));
    EXPECT_FALSE(App::InitialAutoRead(false, false, false));
    EXPECT_TRUE(App::InitialAutoRead(false, false, true));

    s.autoRead = true;
    s.instantWrite = false;
    s.hideMinimized = true;
    EXPECT_STREQ(App::IndicatorText(App::Indicator::AutoRead, s), "AutoRead");
    EXPECT_STREQ(App::IndicatorText(App::Indicator::Instant, s), "");
    EXPECT_STREQ(App::IndicatorText(App::Indicator::HideMinimize, s), "HideMinimize");
}

// The access rules of the document and of the menus must not drift apart.
TEST(CommandTable, LevelsAgreeWithTheDocumentsAccessRules) {
    const int saved = Access::Level();
    for (int level = 0; level <= 2; ++level) {
        for (bool commandLine : {false, true}) {
            Access::SetLevel(level);
            CommandState s;
            s.accessLevel = level;
            s.commandLineRun = commandLine;
            for (const App::CommandInfo& c : App::Commands()) {
                if (c.rule == App::EnableRule::NoHandler) continue;
                EXPECT_EQ(App::CommandEnabled(c.id, s), Access::CommandAllowed(c.id, commandLine))
                    << c.id << " at level " << level << (commandLine ? " (command line)" : "");
            }
        }
    }
    Access::SetLevel(saved);
}

TEST(CommandTable, EveryEntryNamesACommandOnce) {
    std::vector<int> ids;
    for (const App::CommandInfo& c : App::Commands())
        ids.push_back(c.id);
    std::set<int> unique(ids.begin(), ids.end());
    EXPECT_EQ(unique.size(), ids.size()) << "a number is in the table twice";
    for (const App::CommandInfo& c : App::Commands()) {
        ASSERT_NE(App::FindCommand(c.id), nullptr);
        EXPECT_EQ(App::FindCommand(c.id)->id, c.id);
        ASSERT_NE(c.text, nullptr) << c.id;
        ASSERT_NE(c.prompt, nullptr) << c.id;
    }

    std::multiset<int> inMenuBar;
    ForEachCommand(App::MenuBar(), [&](int id) {
        EXPECT_NE(App::FindCommand(id), nullptr) << "menu bar: " << id;
        inMenuBar.insert(id);
    });
    for (int id : inMenuBar)
        EXPECT_EQ(inMenuBar.count(id), 1u) << id << " twice in the menu bar";
    ForEachCommand(App::TrayMenu(),
                   [](int id) { EXPECT_NE(App::FindCommand(id), nullptr) << "tray: " << id; });
    ForEachCommand(App::ToolbarNewMenu(),
                   [](int id) { EXPECT_NE(App::FindCommand(id), nullptr) << "new menu: " << id; });
    for (int id : App::ToolbarButtons()) {
        if (id == 0) continue;
        ASSERT_NE(App::FindCommand(id), nullptr) << "toolbar: " << id;
        EXPECT_NE(App::FindCommand(id)->icon, nullptr)
            << "toolbar button without a picture: " << id;
    }
    EXPECT_NE(App::FindCommand(App::kTrayDefaultCommand), nullptr);

    // The recent files have one place, and their numbers are commands.
    int recent = 0;
    std::function<void(const std::vector<MenuEntry>&)> count = [&](const auto& menu) {
        for (const MenuEntry& e : menu) {
            if (e.kind == MenuEntry::Kind::RecentFiles) ++recent;
            if (e.kind == MenuEntry::Kind::Submenu) {
                EXPECT_NE(e.text, nullptr);
                EXPECT_FALSE(e.children.empty());
                count(e.children);
            }
        }
    };
    count(App::MenuBar());
    EXPECT_EQ(recent, 1);
    for (int i = 0; i < App::kRecentFileCount; ++i)
        EXPECT_NE(App::FindCommand(App::kFirstRecentFile + i), nullptr);
}

TEST(CommandTable, KeysAreUniqueAndMatchTheMenuTexts) {
    std::map<std::string, int> owner;
    for (const App::CommandInfo& c : App::Commands()) {
        if (!c.shortcut) continue;
        auto [it, fresh] = owner.emplace(NormalisedKey(c.shortcut), c.id);
        EXPECT_TRUE(fresh) << c.shortcut << " on " << it->second << " and " << c.id;
    }
    // The keyboard's table: every key reaches its command.
    const std::map<std::string, int> keys = {
        {"Ctrl+N", 57600},   {"Ctrl+O", 57601},   {"Ctrl+S", 57603},   {"Alt+R", 139},
        {"Alt+W", 140},      {"Alt+U", 256},      {"Alt+Ctrl+R", 284}, {"Alt+Ctrl+W", 285},
        {"Alt+Ctrl+U", 281}, {"Alt+Ctrl+C", 282}, {"Alt+Up", 278},     {"Alt+Down", 279},
        {"Alt+S", 141},      {"Alt+N", 138},      {"Alt+I", 263},      {"Alt+A", 266},
        {"Alt+C", 257},      {"Alt+M", 57670},    {"Shift+F6", 313}};
    for (const auto& [key, id] : keys) {
        auto it = owner.find(NormalisedKey(key));
        ASSERT_NE(it, owner.end()) << key;
        EXPECT_EQ(it->second, id) << key;
    }
    // What a menu item shows after its tab is the key that runs it.
    const std::map<std::string, std::string> spoken = {{"Atl+вверх", "Alt+Up"},
                                                       {"Alt+вниз", "Alt+Down"}};
    for (const App::CommandInfo& c : App::Commands()) {
        std::string text = c.text;
        std::size_t tab = text.find('\t');
        if (tab == std::string::npos) continue;
        std::string shown = text.substr(tab + 1);
        if (auto it = spoken.find(shown); it != spoken.end()) shown = it->second;
        ASSERT_NE(c.shortcut, nullptr) << c.id;
        EXPECT_EQ(NormalisedKey(shown), NormalisedKey(c.shortcut)) << c.id;
    }
}

// The prompt is the text less its mnemonic, key and tip; the tip is what
// follows the line break.
TEST(CommandTable, PromptsAndTipsFollowTheTexts) {
    for (const App::CommandInfo& c : App::Commands()) {
        std::string text = c.text;
        std::string tip;
        if (std::size_t nl = text.find('\n'); nl != std::string::npos) {
            tip = text.substr(nl + 1);
            text.resize(nl);
        }
        if (std::size_t tab = text.find('\t'); tab != std::string::npos) text.resize(tab);
        text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
        EXPECT_EQ(c.prompt, text) << c.id;
        EXPECT_EQ(c.tip ? std::string(c.tip) : std::string(), tip) << c.id;
    }
    EXPECT_STREQ(App::FindCommand(281)->tip, "Записать измененные параметры ветви");
}

// The qrc line that makes icons/NAME.svg the resource ":/icons/NAME.svg".
std::string Entry(const std::string& name) {
    return "<file alias=\"" + name + ".svg\">icons/" + name + ".svg</file>";
}

TEST(CommandTable, EveryIconIsAResource) {
    const std::filesystem::path dir = SELVAR_GUI_RESOURCES;
    std::ifstream qrcFile(dir / "selvar.qrc");
    ASSERT_TRUE(qrcFile) << dir / "selvar.qrc";
    std::stringstream qrc;
    qrc << qrcFile.rdbuf();
    ASSERT_NE(qrc.str().find("prefix=\"/icons\""), std::string::npos);

    std::set<int> indexes;
    for (const App::CommandInfo& c : App::Commands()) {
        EXPECT_EQ(c.icon != nullptr, c.iconIndex != 0) << c.id;
        if (!c.icon) continue;
        EXPECT_TRUE(indexes.insert(c.iconIndex).second) << "icon index twice: " << c.iconIndex;
        const std::string file = std::string("icons/") + c.icon + ".svg";
        EXPECT_NE(qrc.str().find(Entry(c.icon)), std::string::npos) << file << " is not listed";
        EXPECT_TRUE(std::filesystem::is_regular_file(dir / file)) << file;
    }
    EXPECT_NE(qrc.str().find(Entry("selvar")), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "icons/selvar.svg"));
}

TEST(CommandTable, ProgressRangeAndCaption) {
    EXPECT_EQ(App::ProgressRange(200u << 16), std::make_pair(0, 200));
    EXPECT_EQ(App::ProgressRange(1), std::make_pair(0, 100));
    EXPECT_EQ(App::ProgressRange(0x10001), std::make_pair(0, 1));
    EXPECT_EQ(App::ProgressRange(0xFFFF0000u), std::make_pair(0, 65535));

    EXPECT_EQ(App::WindowCaption(nullptr), "Конфигуратор Selvar");
    const std::string title = "Untitled";
    EXPECT_EQ(App::WindowCaption(&title), "Конфигуратор Selvar - Untitled");
}

}  // namespace
