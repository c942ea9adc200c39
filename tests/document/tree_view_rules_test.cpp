// The configuration tree's rules without a widget: row texts and colours,
// editors and accepted characters, the commit of an edit with its boxes, the
// error search and the row search over a tree of plain nodes, the menus.
#include "document/tree_view_rules.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "description/desc_branch.h"
#include "description/device_description.h"
#include "device/polling.h"
#include "device/program_modes.h"
#include "document/selvar_doc.h"
#include "elements/net_rs485.h"
#include "platform/app_state.h"
#include "platform/text.h"
#include "support/message_recorder.h"

using namespace TreeView;

namespace {

class IdleTimer : public PollTimer {
  public:
    bool Start(int) override { return true; }
    void Cancel() override {}
};

std::unique_ptr<Parameter> MakeParameter(const std::string& name, const std::string& type,
                                         double min = 0, double max = 0, int decimals = 0) {
    auto p = std::make_unique<Parameter>();
    p->name = name;
    p->type = type;
    p->minValue = min;
    p->maxValue = max;
    p->decimals = decimals;
    p->description = "Описание " + name;
    return p;
}

std::unique_ptr<Parameter> MakeOperative(const std::string& name, const std::string& type) {
    auto p = MakeParameter(name, type);
    p->pollTimer = std::make_unique<IdleTimer>();
    return p;
}

// "caption|icon|text" of a recorded box.
std::string Shown(const MessageRecorder::Box& box) {
    return box.caption + "|" + std::to_string(static_cast<int>(box.icon)) + "|" + box.text;
}
std::string Shown(const std::string& caption, MessageIcon icon, const std::string& text) {
    return Shown({text, caption, icon, MessageButtons::Ok});
}

}  // namespace

// --- columns and rows ---

TEST(TreeViewRows, ColumnWidthsInTenthsOfTheUsableWidth) {
    // 1015 pixels less 15 for the scroll bar: a unit of 100.
    std::array<int, kColumnCount> expected{200, 100, 80, 70, 50, 100, 100, 100, 200};
    EXPECT_EQ(ColumnWidths(1015), expected);
    EXPECT_EQ(ColumnWidths(3), (std::array<int, kColumnCount>{}));  // never negative
}

TEST(TreeViewRows, RangeColumnsByType) {
    struct Case {
        const char* type;
        double min, max;
        int decimals;
        const char* lower;
        const char* upper;
    } cases[] = {
        {"float", -1.5, 99.25, 1, "-1.5", "99.2"},
        {"FLOAT", 0, 1, 2, "0.00", "1.00"},
        {"float", 0, 1, 7, "0.000", "1.000"},  // more decimals than three
        {"time", 0, 3661, 0, "00:00:00", "01:01:01"},
        {"bin", 0, 5, 0, "00000000", "10100000"},
        {"DEC dot", -10, 300, 2, "-10", "300"},
        {"int16", 7, 7, 0, "", ""},                  // equal bounds: no range
        {"Выкл:Вкл:Авто", 0, 0, 0, "Выкл", "Авто"},  // unless a list
    };
    for (const Case& c : cases) {
        RowView row =
            ParameterRowView(*MakeParameter("x1", c.type, c.min, c.max, c.decimals), false);
        EXPECT_EQ(row.texts[Column::kMinimum], c.lower) << c.type << " " << c.decimals;
        EXPECT_EQ(row.texts[Column::kMaximum], c.upper) << c.type << " " << c.decimals;
    }
}

TEST(TreeViewRows, OperativeRowsAndTheirBitRows) {
    auto op = MakeOperative("r.cn", "bin");
    op->value = "1011";
    op->error = "Обрыв";
    op->pollPeriod = 2500;
    op->polling = true;
    RowView row = ParameterRowView(*op, false);
    EXPECT_EQ(row.texts, (RowTexts{"Описание r.cn", "2500", "1011", "", "", "Обрыв", "", "", ""}));
    EXPECT_TRUE(row.hasCheckBox && row.checked);
    EXPECT_FALSE(ParameterRowView(*op, true).hasCheckBox);  // no port: nothing is polled

    std::array<std::string, 8> bits;
    ASSERT_TRUE(PolledBitTexts(*op, bits));
    EXPECT_EQ(bits, (std::array<std::string, 8>{"1", "0", "1", "1", "", "", "", ""}));
    // A status text in place of the bits is cut by characters, not bytes.
    op->name = "r.oe.s";
    op->value = "Нет данных";
    ASSERT_TRUE(PolledBitTexts(*op, bits));
    EXPECT_EQ(bits[0] + bits[7], "Нн");
    op->name = "Inv.d";
    EXPECT_FALSE(PolledBitTexts(*op, bits));
}

// --- colours ---

TEST(TreeViewColours, FourRulesFirstMatchAndNoData) {
    struct Case {
        const char* error;
        bool changed;
        Rgb colour;
    } cases[] = {
        {"Знач-е в приборе: '5',Ред-ый,польз.", true, {64, 64, 255}},
        {"Таймаут при передаче данных (нет связи)", true, {213, 0, 0}},
        {"Значение не записано, так как параметер не инициализирован", true, {0, 187, 0}},
        {"Значение не записано, так как параметер не инициализирован", false, {0, 0, 0}},
        {"", false, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        auto p = MakeParameter("r.co", "byte");
        p->error = c.error;
        p->needUpdate = c.changed;
        EXPECT_EQ(ParameterColour(*p), c.colour) << c.error << c.changed;
        EXPECT_EQ(ParameterRowView(*p, false).colour, c.colour) << c.error;
    }

    // No data clears the error and all three change marks.
    auto p = MakeParameter("r.co", "byte");
    p->error = "Таймаут";
    p->needUpdateAccess = p->needUpdateOwner = true;
    EXPECT_TRUE(SetNoData(p.get()));
    EXPECT_EQ(p->value + "|" + p->error, "Нет данных|");
    EXPECT_EQ(ParameterColour(*p), kWindowText);

    MessageRecorder boxes;
    EXPECT_FALSE(SetNoData(nullptr));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(Shown(boxes.boxes[0]), Shown("", MessageIcon::Exclamation, "Параметр не выделен!"));
}

TEST(TreeViewColours, BranchColourOwnParametersFirstThenFirstColouredChild) {
    auto red = MakeParameter("a", "byte");
    red->error = "Таймаут";
    auto blue = MakeParameter("b", "byte");
    blue->error = "Знач-е в приборе: '1'";
    auto clean = MakeParameter("c", "byte");
    clean->needUpdate = true;  // green rows do not colour a branch
    clean->error = Parameter::kNotInitialised;
    auto branchOf = [](std::vector<Parameter*> params) {
        auto b = std::make_unique<DescBranch>();
        b->parameters = std::move(params);
        return b;
    };
    // Own blue beats a red child; own red beats own blue listed first.
    auto top = branchOf({blue.get(), clean.get()});
    top->branches.push_back(branchOf({red.get()}));
    EXPECT_EQ(BranchColour(*top), kDiffersBlue);
    top->parameters.push_back(red.get());
    EXPECT_EQ(BranchColour(*top), kErrorRed);

    // Clean own parameters: the first coloured child decides.
    auto parent = branchOf({clean.get()});
    parent->branches.push_back(branchOf({clean.get()}));
    parent->branches.push_back(branchOf({blue.get()}));
    parent->branches.push_back(branchOf({red.get()}));
    EXPECT_EQ(BranchColour(*parent), kDiffersBlue);
    parent->branches.erase(parent->branches.begin() + 1);
    EXPECT_EQ(BranchColour(*parent), kErrorRed);
    parent->branches.pop_back();
    EXPECT_EQ(BranchColour(*parent), kWindowText);
}

// --- editors ---

TEST(TreeViewEditing, EditorsByColumnTypeAndWritability) {
    auto number = MakeParameter("r.co", "float");
    auto list = MakeParameter("PrtY", "Even:Odd:Space:Mark:No Parity");
    auto operativeList = MakeOperative("r.st", "Стоп:Пуск");
    EXPECT_EQ(CellEditor(*number, 2, false), Editor::None);
    EXPECT_EQ(CellEditor(*number, 1, true), Editor::None);  // disabled row
    EXPECT_EQ(CellEditor(*list, 1, false), Editor::List);
    EXPECT_EQ(CellEditor(*MakeParameter("zz", "неизвестен"), 1, false), Editor::EditBox);
    EXPECT_EQ(CellEditor(*operativeList, 1, false), Editor::EditBox);  // the period
    EXPECT_EQ(CellEditor(*operativeList, 2, false), Editor::List);
    number->treeWritable = false;
    EXPECT_EQ(CellEditor(*number, 1, false), Editor::None);
    list->value = "odd";
    EXPECT_EQ(ListChoices(*list).current, 1);
}

TEST(TreeViewEditing, AcceptedCharactersByType) {
    struct Case {
        const char* type;
        std::u32string accepted;
        std::u32string refused;
    } cases[] = {
        {"dec dot", U"1234567890-", U".:aЖ,"},
        {"stored dot", U"1234567890-.", U":a,"},
        {"Float", U"09-.", U"e,"},
        {"bin", U"10", U"2-."},
        {"byte", U"1234567890", U"-."},
        {"CLK frm", U"1234567890:", U"-."},
        {"name", U"azAZ09ЖжЁёїЇ -./_", U":,;!\"+"},
        {"string", U"я/", U"#"},
        {"uint16", U"abc:,!#Ж", U""},
        {"Выкл:Вкл", U"anything", U""},
    };
    for (const Case& c : cases) {
        for (char32_t ch : c.accepted)
            EXPECT_TRUE(AcceptsCharacter(c.type, ch)) << c.type << " U+" << std::hex << +ch;
        for (char32_t ch : c.refused)
            EXPECT_FALSE(AcceptsCharacter(c.type, ch)) << c.type << " U+" << std::hex << +ch;
        EXPECT_TRUE(AcceptsCharacter(c.type, kBackspace)) << c.type;
    }
}

TEST(TreeViewEditing, PeriodIsNormalisedAsMilliseconds) {
    auto op = MakeOperative("t.run", "time");
    EXPECT_EQ(NormaliseCellText(*op, 1, true, "3661"), "3661");
    EXPECT_EQ(NormaliseCellText(*op, 2, true, "3661"), "01:01:01");
}

// --- the commit ---

namespace {

class TreeViewCommit : public ::testing::Test {
  protected:
    void SetUp() override {
        Startup().noPort = true;  // a reopened port is never opened
        Modes().instantWrite = false;
        doc = std::make_unique<CSelvarDoc>();
    }
    void TearDown() override {
        doc.reset();
        Startup().noPort = false;
    }

    CommitResult Commit(Parameter& p, const std::string& oldText, const std::string& typed,
                        int column = 1, const Elements::InvisibleElement* owner = nullptr) {
        bool operative = IsOperative(p);
        std::string text = NormaliseCellText(p, column, operative, typed);
        return CommitEdit(*doc, {p, column, oldText, text, operative, owner, writeNow});
    }

    void Configure() { ASSERT_TRUE(doc->SetUpConfiguration(FindDeviceDescription("a1"), false)); }

    // A parameter of the configuration tree, which a reset clears.
    Parameter& FirstOfTree() {
        Parameter* first = nullptr;
        doc->ConfigurationTree()->ForEachBranch([&](const DescBranch& b) {
            if (!first && !b.parameters.empty()) first = b.parameters.front();
        });
        EXPECT_NE(first, nullptr);
        return *first;
    }

    std::unique_ptr<CSelvarDoc> doc;
    std::function<int(Parameter&)> writeNow;
};

}  // namespace

TEST_F(TreeViewCommit, AcceptedValuesTurnGreenRefusedOnesKeepTheOldText) {
    MessageRecorder boxes;
    struct Case {
        const char* type;
        const char* typed;
        const char* stored;
    } cases[] = {
        {"float", "12,5", "12.5"},
        {"CLK frm", "90", "01:30"},
        {"time", "3661", "01:01:01"},
        {"bin", "1021", "1001"},  // pasted: the edit box takes 0 and 1 only
    };
    for (const Case& c : cases) {
        auto p = MakeParameter("x", c.type, 0, 0, 1);
        doc->SetModifiedFlag(false);
        CommitResult r = Commit(*p, "Нет данных", c.typed);
        EXPECT_EQ(p->value + "|" + r.cellText, std::string(c.stored) + "|" + c.stored);
        EXPECT_EQ(r.colour, kChangedGreen) << c.type;
        EXPECT_TRUE(doc->IsModified());
    }
    EXPECT_TRUE(boxes.boxes.empty());

    // The same text again: nothing happens.
    auto p = MakeParameter("in.sl", "DEC dot", 0, 100);
    p->value = "7";
    doc->SetModifiedFlag(false);
    EXPECT_FALSE(Commit(*p, "7", "7").committed);
    EXPECT_FALSE(doc->IsModified() || p->needUpdate);

    CommitResult r = Commit(*p, "7", "12.5");
    EXPECT_EQ(r.cellText + "|" + p->value, "7|7");
    EXPECT_FALSE(p->needUpdate || r.colour);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(Shown(boxes.boxes[0]),
              Shown("Не удалось изменить параметр", MessageIcon::Error,
                    "Параметру 'in.sl' (Описание in.sl) не может быть присвоено значение "
                    "'12.5'.\n(Тип: Знаковое целое число. Диапазон значений: от 0 до 100)"));
}

TEST_F(TreeViewCommit, PollingPeriodOfAtLeastOneSecond) {
    MessageRecorder boxes;
    auto p = MakeOperative("read", "float");
    EXPECT_EQ(Commit(*p, "1000", "999").cellText, "1000");
    EXPECT_EQ(Commit(*p, "1000", "2000,").cellText, "1000");  // not a whole number
    EXPECT_EQ(p->pollPeriod, 1000);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(Shown(boxes.boxes[0]), Shown("Неудалось изменить период опроса", MessageIcon::Error,
                                           "Период опроса должен быть задан числом в "
                                           "миллисекундах.\nПериод опроса не может быть меньше "
                                           "1000 миллисекунд"));
    p->pollPeriod = 1500;
    EXPECT_EQ(Commit(*p, "1500", "1000").cellText, "1000");
    EXPECT_EQ(p->pollPeriod, 1000);
    EXPECT_EQ(p->value, "Нет данных");  // the value is not touched
    EXPECT_EQ(boxes.boxes.size(), 2u);
}

TEST_F(TreeViewCommit, OperativeValueIsWrittenAtOnce) {
    MessageRecorder boxes;
    auto p = MakeOperative("Set.P", "float");
    p->decimals = 1;
    p->maxValue = 100;
    p->error = "Обрыв";
    std::vector<std::string> written;
    writeNow = [&](Parameter& w) {
        written.push_back(w.value + "|" + w.error);
        w.needUpdate = false;
        return 0;
    };
    CommitResult r = Commit(*p, "Нет данных", "25,5", 2);
    EXPECT_EQ(written, std::vector<std::string>{"25.5|"});  // the old error is cleared first
    EXPECT_EQ(r.cellText, "25.5");
    EXPECT_EQ(r.colour, kWindowText);
    // A refused value is never sent.
    EXPECT_EQ(Commit(*p, "25.5", "150", 2).cellText, "25.5");
    EXPECT_EQ(written.size(), 1u);
    boxes.boxes.clear();

    writeNow = [](Parameter& w) {
        w.error = "Таймаут при передаче данных (нет связи)";
        return 1;
    };
    r = Commit(*p, "25.5", "30", 2);
    EXPECT_EQ(r.colour, kErrorRed);
    EXPECT_EQ(r.errorText, "Таймаут при передаче данных (нет связи)");
    EXPECT_EQ(r.cellText, "30");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(Shown(boxes.boxes[0]),
              Shown("Значение не удалось записать в прибор", MessageIcon::Error,
                    "Таймаут при передаче данных (нет связи)"));
}

TEST_F(TreeViewCommit, SchemeCoordinatesGoIntoTheLinkedValue) {
    MessageRecorder boxes;
    auto packed = MakeParameter("grtp", "DWORD");
    packed->value = Format("%u", 0x01F481F4u);  // the curve's first point, -50 and 50
    auto x = MakeParameter("X", "float", -5000, 5000, 1);
    auto y = MakeParameter("Y", "float", -5000, 5000, 2);
    x->linked.push_back(packed.get());
    y->linked.push_back(packed.get());

    Commit(*x, "-50", "-7,25");  // cut to one decimal first: -7.2
    EXPECT_EQ(x->value, "-7.2");
    EXPECT_EQ(packed->value, Format("%u", 0x01F48048u));
    Commit(*y, "50", "1,25");  // floor(12.5 + 0.5)
    EXPECT_EQ(packed->value, Format("%u", 0x000D8048u));
    Commit(*y, "1.2", "-0.04");  // rounds to 0: no sign
    EXPECT_EQ(packed->value, Format("%u", 0x00008048u));
    EXPECT_FALSE(packed->needUpdate);

    // A partner without data starts from zero.
    packed->value = "Нет данных";
    Commit(*x, "-7.2", "-3");
    EXPECT_EQ(packed->value, Format("%u", 0x801Eu));

    // Beyond what 15 bits hold: refused, nothing changes.
    boxes.boxes.clear();
    EXPECT_EQ(Commit(*x, "-3", "3276.8").cellText, "-3");
    EXPECT_EQ(x->value, "-3");
    EXPECT_EQ(packed->value, Format("%u", 0x801Eu));
    EXPECT_EQ(boxes.boxes.size(), 1u);
}

TEST_F(TreeViewCommit, NetworkSettingsElementRefusals) {
    MessageRecorder boxes;
    Elements::NetRS485 device;
    const char* settings[][2] = {
        {"LEn", "8"}, {"Sbit", "2"}, {"PrtY", "No Parity"}, {"A.Len", "8"}, {"Addr", "16"}};
    for (auto& [name, value] : settings)
        device.SetValue(name, value, false);
    Parameter& parity = *device.FindParameter("PrtY");
    EXPECT_EQ(Commit(parity, "No Parity", "Even", 1, &device).cellText, "No Parity");
    EXPECT_EQ(parity.value, "No Parity");
    Parameter& address = *device.FindParameter("Addr");
    EXPECT_EQ(Commit(address, "16", "300", 1, &device).cellText, "16");
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(Shown(boxes.boxes[0]),
              Shown("Неудалось изменить значение", MessageIcon::Information,
                    "Заданные сетевые настройки не поддерживаются прибором!"));
    EXPECT_EQ(Shown(boxes.boxes[1]),
              Shown("Неудалось изменить значение", MessageIcon::Error,
                    "Нельзя что бы адрес был >255 если длина адреса 8 бит!"));

    // The device's own settings are ordinary values once accepted.
    device.SetValue("Sbit", "1", false);
    CommitResult r = Commit(parity, "No Parity", "Odd", 1, &device);
    EXPECT_EQ(r.cellText, "Odd");
    EXPECT_EQ(r.colour, kChangedGreen);
    EXPECT_FALSE(r.refreshAll);
}

TEST_F(TreeViewCommit, ProgramSettingsAskWhetherToResetTheConfiguration) {
    Configure();
    Elements::NetRS485prg& settings = doc->device().ProgramSettings();
    Parameter& speed = *settings.FindParameter("bPS");
    Parameter& kept = FirstOfTree();
    auto stored = [](const char* name) { return Elements::NetRS485prg().GetValue(name); };
    struct Case {
        MessageResult answer;
        const char* typed;
        bool takenOver;
        bool reset;
    } cases[] = {
        {MessageResult::Cancel, "19200", false, false},
        {MessageResult::No, "38400", true, false},
        {MessageResult::Yes, "57600", true, true},
    };
    for (const Case& c : cases) {
        MessageRecorder boxes(c.answer);
        kept.value = "5";
        const std::string before = speed.value;
        const std::string expected = c.takenOver ? c.typed : before;
        // No owner given: the setting is found among the program's own.
        CommitResult r = Commit(speed, before, c.typed);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, kResetQuestion);
        EXPECT_EQ(boxes.boxes[0].buttons, MessageButtons::YesNoCancel);
        EXPECT_TRUE(r.refreshAll);
        EXPECT_EQ(r.cellText + "|" + speed.value + "|" + stored("bPS"),
                  expected + "|" + expected + "|" + expected);
        EXPECT_EQ(kept.value, c.reset ? "Нет данных" : "5");
        EXPECT_FALSE(speed.needUpdate);  // taken over into the port
    }

    // While polling: the refusal box counts as Cancel.
    Parameter* polled = nullptr;
    doc->OperativeTree()->ForEachBranch([&](const DescBranch& b) {
        for (Parameter* p : b.parameters)
            if (!polled && p->pollTimer) polled = p;
    });
    ASSERT_NE(polled, nullptr);
    StartParameterPolling(*polled);
    kept.value = "5";
    MessageRecorder boxes(MessageResult::Yes);
    CommitResult r = Commit(speed, "57600", "4800");
    StopParameterPolling(*polled);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(Shown(boxes.boxes[0]), Shown("", MessageIcon::Error, Polling::kRefusedWhilePolling));
    EXPECT_EQ(r.cellText + "|" + speed.value, "57600|57600");
    EXPECT_EQ(kept.value, "5");
}

TEST_F(TreeViewCommit, CheckBoxesSwitchRecordingAndPolling) {
    auto p = MakeOperative("read", "float");
    EXPECT_FALSE(OnPolledValue(*doc, *p, std::time(nullptr)).recorded);
    Parameter& log = doc->ProtocolParameter();
    EXPECT_TRUE(ToggleCheck(*doc, log, true));
    EXPECT_TRUE(ProtocolRowView(*doc, false).checked);
    EXPECT_TRUE(OnPolledValue(*doc, *p, std::time(nullptr)).recorded);
    EXPECT_TRUE(ToggleCheck(*doc, log, false));
    EXPECT_TRUE(ToggleCheck(*doc, *p, true));
    EXPECT_TRUE(p->polling);
    EXPECT_TRUE(ToggleCheck(*doc, *p, false));
    EXPECT_FALSE(p->polling);
}

// --- menus ---

TEST(TreeViewMenus, BranchAndParameterMenus) {
    DescBranch branch;
    branch.elementName = "Вход №1";
    auto p = MakeParameter("r.co", "byte");
    auto commands = [](const std::optional<ContextMenu>& menu) {
        std::vector<int> list;
        for (const MenuItem& item : menu ? menu->items : std::vector<MenuItem>{})
            list.push_back(item.command);
        return list;
    };
    EXPECT_EQ(commands(ContextMenuFor(true, false, {&branch, nullptr, true, false})),
              (std::vector<int>{32831, 32833, 32835, 32837}));
    branch.elementName = "Точка №3";
    EXPECT_EQ(commands(ContextMenuFor(true, false, {&branch, nullptr, true, false})),
              (std::vector<int>{32831, 32837}));
    EXPECT_FALSE(ContextMenuFor(true, false, {&branch, nullptr, false, true}));  // operative
    EXPECT_FALSE(ContextMenuFor(false, false, {&branch, nullptr, true, false}));
    EXPECT_FALSE(ContextMenuFor(true, true, {&branch, nullptr, true, false}));

    EXPECT_EQ(commands(ContextMenuFor(true, false, {nullptr, p.get(), true, false})),
              (std::vector<int>{32863, 32864, 0, 32866}));
    p->writable = false;
    EXPECT_EQ(commands(ContextMenuFor(true, false, {nullptr, p.get(), true, false})),
              (std::vector<int>{32863, 0, 32866}));
    // The computer's parameters have no menu.
    EXPECT_FALSE(ContextMenuFor(true, false, {nullptr, p.get(), false, false}));
    EXPECT_EQ(ViewCommand(32864), 285);
    EXPECT_EQ(ViewCommand(32866), 0);  // the view's own
}

// --- searches over the rows ---

namespace {

// A tree of plain nodes; the rows of a lazy node appear on its expansion.
struct Node {
    std::string text;
    Rgb colour;
    Node* parent = nullptr;
    std::vector<std::unique_ptr<Node>> children, lazy;
    const void* object = nullptr;
};

class NodeTree : public RowTree {
  public:
    static Node* N(RowHandle h) { return static_cast<Node*>(h); }
    RowHandle Parent(RowHandle row) const override { return N(row)->parent; }
    RowHandle FirstChild(RowHandle row) const override { return Child(row, true); }
    RowHandle LastChild(RowHandle row) const override { return Child(row, false); }
    RowHandle NextSibling(RowHandle row) const override { return Step(row, 1); }
    RowHandle PreviousSibling(RowHandle row) const override { return Step(row, -1); }
    std::string Text(RowHandle row) const override { return N(row)->text; }
    const void* Object(RowHandle row) const override { return N(row)->object; }
    Rgb Colour(RowHandle row) const override { return N(row)->colour; }
    bool HasChildren(RowHandle row) const override {
        return !N(row)->children.empty() || !N(row)->lazy.empty();
    }
    void Expand(RowHandle row) override {
        ++expansions;
        for (auto& c : N(row)->lazy)
            N(row)->children.push_back(std::move(c));
        N(row)->lazy.clear();
    }
    int expansions = 0;

  private:
    static RowHandle Child(RowHandle row, bool first) {
        auto& list = N(row)->children;
        return list.empty() ? nullptr : (first ? list.front() : list.back()).get();
    }
    static RowHandle Step(RowHandle row, long direction) {
        if (!N(row)->parent) return nullptr;
        auto& list = N(row)->parent->children;
        for (std::size_t i = 0; i < list.size(); ++i) {
            long j = static_cast<long>(i) + direction;
            if (list[i].get() == row)
                return j < 0 || j >= static_cast<long>(list.size())
                           ? nullptr
                           : list[static_cast<std::size_t>(j)].get();
        }
        return nullptr;
    }
};

Node* Add(Node* parent, const std::string& text, Rgb colour = kWindowText, bool lazy = false) {
    auto node = std::make_unique<Node>(Node{text, colour, parent, {}, {}, nullptr});
    Node* raw = node.get();
    (lazy ? parent->lazy : parent->children).push_back(std::move(node));
    return raw;
}

// root
//   config (red): a1 (red leaf); b (blue, lazy: b1 black, b2 blue);
//                 c (black: never entered; c1 red); d1 (black)
//   operative (red): o1 (red)
class RowSearch : public ::testing::Test {
  protected:
    void SetUp() override {
        config = Add(&root, "config", kErrorRed);
        a1 = Add(config, "a1", kErrorRed);
        b = Add(config, "b", kDiffersBlue);
        b1 = Add(b, "b1", kWindowText, true);
        b2 = Add(b, "b2", kDiffersBlue, true);
        c = Add(config, "c");
        Add(c, "c1", kErrorRed);
        d1 = Add(config, "d1");
        Add(Add(&root, "operative", kErrorRed), "o1", kErrorRed);
    }
    RowHandle Next(Node* from) { return FindErrorRow(tree, from, config, true); }
    RowHandle Previous(Node* from) { return FindErrorRow(tree, from, config, false); }

    Node root;
    Node *config, *a1, *b, *b1, *b2, *c, *d1;
    NodeTree tree;
};

}  // namespace

TEST_F(RowSearch, ErrorsForwardsAndBackwardsThroughColouredBranches) {
    MessageRecorder boxes;
    EXPECT_EQ(Next(a1), b2);  // the blue branch is expanded and entered
    EXPECT_EQ(tree.expansions, 1);
    EXPECT_EQ(Next(config), a1);  // the configuration row is searched itself
    EXPECT_EQ(Previous(d1), b2);  // entered from its end; c skipped
    EXPECT_EQ(Previous(b1), a1);  // climbs to the branch's siblings
    EXPECT_EQ(Previous(b), a1);   // a row with children is passed over backwards
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(RowSearch, NoMoreErrorsNeverLeavesTheConfiguration) {
    MessageRecorder boxes;
    tree.Expand(b);
    // From the last erroneous row: the red operative rows below are not reached.
    EXPECT_EQ(Next(b2), nullptr);
    EXPECT_EQ(Next(d1), nullptr);
    EXPECT_EQ(Previous(a1), nullptr);
    EXPECT_EQ(Previous(config), nullptr);
    ASSERT_EQ(boxes.boxes.size(), 4u);
    EXPECT_EQ(Shown(boxes.boxes[0]),
              Shown("Сообщение", MessageIcon::Information, "Больше нет параметров с ошибками!"));
}

TEST_F(RowSearch, FindRowByNameAndObject) {
    int first = 1, second = 2;
    Add(c, "  Канал")->object = &first;
    Node* x2 = Add(d1, "КАНАЛ");
    x2->object = &second;
    EXPECT_EQ(FindRow(tree, &root, "канал"), c->children.back().get());  // depth-first
    EXPECT_EQ(FindRow(tree, &root, " канал", &second), x2);
    EXPECT_EQ(FindRow(tree, a1, "Канал"), nullptr);  // the start's subtree only
    EXPECT_EQ(FindRow(tree, &root, "Канал", &root), nullptr);
    EXPECT_EQ(FindRow(tree, &root, "config"), config);
}
