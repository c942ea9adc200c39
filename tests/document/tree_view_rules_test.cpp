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

}  // namespace

// --- columns and fixed rows ---

TEST(TreeViewColumns, HeadersWidthsAndAlignment) {
    const auto& columns = Columns();
    EXPECT_STREQ(columns[0].header, "Название");
    EXPECT_STREQ(columns[3].header, "Индекс Лудра");
    EXPECT_STREQ(columns[8].header, "Ошибки обмена и несоответствия");
    for (int i = 0; i < kColumnCount; ++i)
        EXPECT_EQ(columns[i].alignment, i == 0 || i == 8 ? Alignment::Left : Alignment::Centre)
            << i;

    // 1015 pixels less 15 for the scroll bar: a unit of 100.
    std::array<int, kColumnCount> expected{200, 100, 80, 70, 50, 100, 100, 100, 200};
    EXPECT_EQ(ColumnWidths(1015), expected);
    // A view narrower than the scroll bar has no negative widths.
    for (int w : ColumnWidths(3))
        EXPECT_EQ(w, 0);
}

TEST(TreeViewRows, FixedRowsAndFolders) {
    EXPECT_EQ(RootRowText("Селвар-Б4", "/tmp/a.svx"), "Конфигурация Селвар-Б4(/tmp/a.svx)");
    RowTexts header = OperativeHeaderTexts();
    EXPECT_EQ(header[0], "     Имя параметра");
    EXPECT_EQ(header[1], "Период, мс");
    EXPECT_EQ(header[2], "Значение");
    EXPECT_EQ(header[5], "Ошибки ввода-вывода");
    EXPECT_EQ(PlaceholderRowTexts()[2], "(не определены)");

    EXPECT_EQ(FolderImage(5, true), 6);
    EXPECT_EQ(FolderImage(6, false), 5);
    EXPECT_EQ(FolderImage(6, true), 6);
    EXPECT_EQ(FolderImage(17, true), 17);
}

// --- parameter rows ---

TEST(TreeViewRows, RangeColumnsByType) {
    struct Case {
        const char* type;
        double min, max;
        int decimals;
        const char* lower;
        const char* upper;
    } cases[] = {
        {"float", -1.5, 99.25, 0, "-2", "99"},  // "%.0f" rounds half to even
        {"float", -1.5, 99.25, 1, "-1.5", "99.2"},
        {"FLOAT", 0, 1, 2, "0.00", "1.00"},
        {"float", 0, 1, 3, "0.000", "1.000"},
        {"float", 0, 1, 7, "0.000", "1.000"},
        {"time", 0, 3661, 0, "00:00:00", "01:01:01"},
        {"bin", 0, 5, 0, "00000000", "10100000"},
        {"DEC dot", -10, 300, 2, "-10", "300"},
        {"int16", 7, 7, 0, "", ""},  // equal bounds: no range
        {"float", 0, 0, 2, "", ""},
        {"Выкл:Вкл:Авто", 0, 0, 0, "Выкл", "Авто"},  // a list shows its ends anyway
    };
    for (const Case& c : cases) {
        auto p = MakeParameter("x1", c.type, c.min, c.max, c.decimals);
        RowView row = ParameterRowView(*p, false);
        EXPECT_EQ(row.texts[Column::kMinimum], c.lower) << c.type << " " << c.decimals;
        EXPECT_EQ(row.texts[Column::kMaximum], c.upper) << c.type << " " << c.decimals;
    }
}

TEST(TreeViewRows, OrdinaryOperativeAndProtocolRows) {
    auto p = MakeParameter("in.sl", "float", 0, 10, 1);
    p->treeLabel = "Наклон";
    p->hasLinearIndex = true;
    p->linearIndex = 3;
    p->value = "2.5";
    p->defaultValue = "1.0";
    p->error = "Таймаут";
    RowView row = ParameterRowView(*p, false);
    RowTexts expected{"Наклон", "2.5", "in.sl", "3", "float", "0.0", "10.0", "1.0", "Таймаут"};
    EXPECT_EQ(row.texts, expected);
    EXPECT_EQ(row.image, Image::kPlain);  // a float is no numeric picture
    p->type = "DEC dot";
    EXPECT_EQ(ParameterRowView(*p, false).image, Image::kNumeric);
    EXPECT_FALSE(row.hasCheckBox);

    auto op = MakeOperative("read", "float");
    op->value = "21.7";
    op->error = "Обрыв";
    op->pollPeriod = 2500;
    op->polling = true;
    row = ParameterRowView(*op, false);
    EXPECT_EQ(row.texts, (RowTexts{"Описание read", "2500", "21.7", "", "", "Обрыв", "", "", ""}));
    EXPECT_EQ(row.image, Image::kOperative);
    EXPECT_TRUE(row.hasCheckBox);
    EXPECT_TRUE(row.checked);
    // Without a port nothing is polled: no check box at all.
    row = ParameterRowView(*op, true);
    EXPECT_FALSE(row.hasCheckBox);
    EXPECT_FALSE(row.checked);

    Parameter log;
    log.name = Parameter::kServiceName;
    log.description = "Имя файла для сохранения протокола";
    log.value = "04-03-2031.log";
    row = ParameterRowView(log, false);
    EXPECT_EQ(row.texts[0], "Имя файла для сохранения протокола");
    EXPECT_EQ(row.texts[1], "04-03-2031.log");
    EXPECT_EQ(row.texts[2], "    ");
    EXPECT_EQ(row.image, Image::kProtocol);

    EXPECT_TRUE(PutFirst(*MakeParameter("nPC", "byte")));
    EXPECT_FALSE(PutFirst(*MakeParameter("npc", "byte")));
}

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
        {"", true, {0, 187, 0}},
        {"", false, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        auto p = MakeParameter("r.co", "byte");
        p->error = c.error;
        p->needUpdate = c.changed;
        EXPECT_EQ(ParameterColour(*p), c.colour) << c.error << c.changed;
        // The row shows the same colour as the rule.
        EXPECT_EQ(ParameterRowView(*p, false).colour, c.colour) << c.error;
    }

    // Any of the three change marks is green; no data clears them all.
    auto p = MakeParameter("r.co", "byte");
    p->needUpdateOwner = true;
    EXPECT_EQ(ParameterColour(*p), kChangedGreen);
    p->error = "Таймаут";
    p->value = "7";
    p->needUpdateAccess = true;
    EXPECT_TRUE(SetNoData(p.get()));
    EXPECT_EQ(p->value, "Нет данных");
    EXPECT_EQ(p->error, "");
    EXPECT_FALSE(p->HasPendingUpdate());
    EXPECT_EQ(ParameterColour(*p), kWindowText);

    MessageRecorder boxes;
    EXPECT_FALSE(SetNoData(nullptr));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Параметр не выделен!");
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Exclamation);
}

TEST(TreeViewColours, BranchColourOwnParametersFirstThenFirstColouredChild) {
    auto red = MakeParameter("a", "byte");
    red->error = "Таймаут";
    auto blue = MakeParameter("b", "byte");
    blue->error = "Знач-е в приборе: '1'";
    auto clean = MakeParameter("c", "byte");
    clean->needUpdate = true;  // green rows do not colour a branch
    auto remark = MakeParameter("d", "byte");
    remark->error = Parameter::kNotInitialised;

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
    auto parent = branchOf({clean.get(), remark.get()});
    parent->branches.push_back(branchOf({clean.get()}));
    parent->branches.push_back(branchOf({blue.get()}));
    parent->branches.push_back(branchOf({red.get()}));
    EXPECT_EQ(BranchColour(*parent), kDiffersBlue);
    parent->branches.erase(parent->branches.begin() + 1);
    EXPECT_EQ(BranchColour(*parent), kErrorRed);
    parent->branches.pop_back();
    EXPECT_EQ(BranchColour(*parent), kWindowText);
}

TEST(TreeViewRows, PolledBitRowsShowOneCharacterEach) {
    auto p = MakeOperative("r.cn", "bin");
    p->value = "1011";
    std::array<std::string, 8> bits;
    ASSERT_TRUE(PolledBitTexts(*p, bits));
    EXPECT_EQ(bits, (std::array<std::string, 8>{"1", "0", "1", "1", "", "", "", ""}));
    // A status text in place of the bits is cut by characters, not bytes.
    p->value = "Нет данных";
    ASSERT_TRUE(PolledBitTexts(*p, bits));
    EXPECT_EQ(bits[0], "Н");
    EXPECT_EQ(bits[7], "н");
    p->name = "r.oe.s";
    EXPECT_TRUE(PolledBitTexts(*p, bits));
    p->name = "Inv.d";
    EXPECT_FALSE(PolledBitTexts(*p, bits));
}

TEST(TreeViewRows, ReadOnExpandOnlyOrdinaryParametersWithoutDataOrError) {
    auto p = MakeParameter("r.co", "byte");
    EXPECT_TRUE(ReadsOnExpand(*p, true));
    EXPECT_FALSE(ReadsOnExpand(*p, false));
    p->error = "Таймаут";
    EXPECT_FALSE(ReadsOnExpand(*p, true));
    EXPECT_FALSE(ReadsOnExpand(*MakeOperative("read", "float"), true));
    auto known = MakeParameter("r.co", "byte");
    known->value = "3";
    EXPECT_FALSE(ReadsOnExpand(*known, true));
}

// --- editors ---

TEST(TreeViewEditing, EditorsByColumnTypeAndWritability) {
    auto number = MakeParameter("r.co", "float");
    auto list = MakeParameter("PrtY", "Even:Odd:Space:Mark:No Parity");
    auto unknown = MakeParameter("zz", "неизвестен");
    auto operativeList = MakeOperative("r.st", "Стоп:Пуск");

    EXPECT_EQ(CellEditor(*number, 1, false), Editor::EditBox);
    EXPECT_EQ(CellEditor(*number, 2, false), Editor::None);
    EXPECT_EQ(CellEditor(*number, 1, true), Editor::None);  // disabled row
    EXPECT_EQ(CellEditor(*list, 1, false), Editor::List);
    EXPECT_EQ(CellEditor(*unknown, 1, false), Editor::EditBox);
    EXPECT_EQ(CellEditor(*operativeList, 1, false), Editor::EditBox);  // the period
    EXPECT_EQ(CellEditor(*operativeList, 2, false), Editor::List);
    EXPECT_EQ(CellEditor(*operativeList, 5, false), Editor::None);
    number->treeWritable = false;
    EXPECT_EQ(CellEditor(*number, 1, false), Editor::None);

    list->value = "odd";
    ListChoice choice = ListChoices(*list);
    EXPECT_EQ(choice.labels.size(), 5u);
    EXPECT_EQ(choice.current, 1);
    list->value = "Нет данных";
    EXPECT_EQ(ListChoices(*list).current, -1);
}

TEST(TreeViewEditing, AcceptedCharactersByType) {
    struct Case {
        const char* type;
        std::u32string accepted;
        std::u32string refused;
    } cases[] = {
        {"dec dot", U"1234567890-", U".:aЖ,"},
        {"DEC DOT", U"0-", U"."},
        {"stored dot", U"1234567890-.", U":a,"},
        {"Float", U"09-.", U"e,"},
        {"bin", U"10", U"2-."},
        {"byte", U"1234567890", U"-."},
        {"CLK frm", U"1234567890:", U"-."},
        {"time", U"5:", U"."},
        {"name", U"azAZ09ЖжЁёїЇ -./_", U":,;!\"+"},
        {"ASCI", U"Q _", U"@"},
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

TEST(TreeViewEditing, NormalisationOfTypedText) {
    struct Case {
        const char* type;
        const char* typed;
        const char* normalised;
    } cases[] = {
        {"float", "12,5", "12.5"},    {"CLK frm", "90", "01:30"},
        {"time", "3661", "01:01:01"}, {"bin", "1021", "1001"},
        {"time", "1:2", "1:2"},       {"bin", "10:21", "10:21"},  // a ':' keeps the text
        {"ASCI", "a,b", "a.b"},
    };
    for (const Case& c : cases) {
        auto p = MakeParameter("x", c.type);
        EXPECT_EQ(NormaliseCellText(*p, 1, false, c.typed), c.normalised) << c.type;
    }
    // A period stays milliseconds even for a time value.
    auto op = MakeOperative("t.run", "time");
    EXPECT_EQ(NormaliseCellText(*op, 1, true, "3661"), "3661");
    EXPECT_EQ(NormaliseCellText(*op, 2, true, "3661"), "01:01:01");
}

TEST(TreeViewEditing, PackedCoordinates) {
    struct Case {
        double entered;
        bool high;
        std::uint32_t before, after;
    } cases[] = {
        {-50, false, 0, 0x81F4},
        {50, true, 0x81F4, 0x01F481F4},  // the curve's first point
        {-2.54, false, 0xABCD0000, 0xABCD8019},
        {1.25, true, 0x1234, 0x000D1234},        // floor(12.5 + 0.5)
        {-0.04, false, 0xFFFFFFFF, 0xFFFF0000},  // rounds to 0: no sign
        {3276.7, false, 0, 0x7FFF},
    };
    for (const Case& c : cases) {
        std::uint32_t packed = c.before;
        ASSERT_TRUE(PackCoordinate(c.entered, c.high, packed)) << c.entered;
        EXPECT_EQ(packed, c.after) << c.entered;
    }
    std::uint32_t packed = 42;
    EXPECT_FALSE(PackCoordinate(3276.8, false, packed));
    EXPECT_FALSE(PackCoordinate(-1e300, true, packed));
    EXPECT_EQ(packed, 42u);
}

// --- the commit ---

namespace {

class TreeViewCommit : public ::testing::Test {
  protected:
    void SetUp() override {
        Startup().noPort = true;  // the port is never opened by a reopen
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
        CellEdit edit{p,         column, oldText, NormaliseCellText(p, column, operative, typed),
                      operative, owner,  {}};
        edit.writeNow = writeNow;
        return CommitEdit(*doc, edit);
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

TEST_F(TreeViewCommit, AcceptedValuesTurnGreenAndNormalisedTextsStore) {
    MessageRecorder boxes;
    struct Case {
        const char* type;
        const char* typed;
        const char* stored;
    } cases[] = {
        {"float", "12,5", "12.5"},
        {"CLK frm", "90", "01:30"},
        {"time", "3661", "01:01:01"},
        {"bin", "1021", "1001"},
    };
    for (const Case& c : cases) {
        auto p = MakeParameter("x", c.type, 0, 0, 1);
        doc->SetModifiedFlag(false);
        CommitResult r = Commit(*p, "Нет данных", c.typed);
        EXPECT_TRUE(r.committed) << c.type;
        EXPECT_EQ(p->value, c.stored) << c.type;
        EXPECT_EQ(r.cellText, c.stored) << c.type;
        EXPECT_EQ(r.colour, kChangedGreen) << c.type;
        EXPECT_TRUE(doc->IsModified());
    }
    EXPECT_TRUE(boxes.boxes.empty());

    // The same text again: nothing happens, the document stays unmodified.
    auto p = MakeParameter("x", "float");
    p->value = "3";
    doc->SetModifiedFlag(false);
    CommitResult r = Commit(*p, "3", "3");
    EXPECT_FALSE(r.committed);
    EXPECT_FALSE(doc->IsModified());
    EXPECT_FALSE(p->needUpdate);
}

TEST_F(TreeViewCommit, RefusedValueShowsTheBoxAndKeepsTheOldText) {
    MessageRecorder boxes;
    auto p = MakeParameter("in.sl", "DEC dot", 0, 100);
    p->value = "7";
    CommitResult r = Commit(*p, "7", "12.5");
    EXPECT_EQ(r.cellText, "7");
    EXPECT_EQ(p->value, "7");
    EXPECT_FALSE(p->needUpdate);
    EXPECT_FALSE(r.colour.has_value());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text,
              "Параметру 'in.sl' (Описание in.sl) не может быть присвоено значение '12.5'.\n"
              "(Тип: Знаковое целое число. Диапазон значений: от 0 до 100)");
    EXPECT_EQ(boxes.boxes[0].caption, "Не удалось изменить параметр");
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Error);
}

TEST_F(TreeViewCommit, PollingPeriodOfAtLeastOneSecond) {
    MessageRecorder boxes;
    auto p = MakeOperative("read", "float");
    CommitResult r = Commit(*p, "1000", "999");
    EXPECT_EQ(r.cellText, "1000");
    EXPECT_EQ(p->pollPeriod, 1000);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text,
              "Период опроса должен быть задан числом в миллисекундах.\n"
              "Период опроса не может быть меньше 1000 миллисекунд");
    EXPECT_EQ(boxes.boxes[0].caption, "Неудалось изменить период опроса");

    r = Commit(*p, "1000", "2000,");  // not a whole number
    EXPECT_EQ(r.cellText, "1000");
    EXPECT_EQ(boxes.boxes.size(), 2u);

    p->pollPeriod = 1500;
    r = Commit(*p, "1500", "1000");
    EXPECT_EQ(r.cellText, "1000");
    EXPECT_EQ(p->pollPeriod, 1000);
    EXPECT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(p->value, "Нет данных");  // the value is not touched
}

TEST_F(TreeViewCommit, OperativeValueIsWrittenAtOnce) {
    MessageRecorder boxes;
    auto p = MakeOperative("Set.P", "float");
    p->decimals = 1;
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
    EXPECT_TRUE(boxes.boxes.empty());

    writeNow = [](Parameter& w) {
        w.error = "Таймаут при передаче данных (нет связи)";
        return 1;
    };
    r = Commit(*p, "25.5", "30", 2);
    EXPECT_EQ(r.colour, kErrorRed);
    EXPECT_EQ(r.errorText, "Таймаут при передаче данных (нет связи)");
    EXPECT_EQ(r.cellText, "30");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Таймаут при передаче данных (нет связи)");
    EXPECT_EQ(boxes.boxes[0].caption, "Значение не удалось записать в прибор");
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Error);

    // A refused value is never sent.
    written.clear();
    writeNow = [&](Parameter&) {
        written.push_back("sent");
        return 0;
    };
    p->minValue = 0;
    p->maxValue = 10;
    r = Commit(*p, "30", "50", 2);
    EXPECT_TRUE(written.empty());
    EXPECT_EQ(r.cellText, "30");
}

TEST_F(TreeViewCommit, SchemeCoordinatesGoIntoTheLinkedValue) {
    MessageRecorder boxes;
    auto packed = MakeParameter("grtp", "DWORD");
    packed->value = Format("%u", 0x01F481F4u);
    auto x = MakeParameter("X", "float", -1000, 1000, 1);
    auto y = MakeParameter("Y", "float", -1000, 1000, 1);
    x->linked.push_back(packed.get());
    y->linked.push_back(packed.get());

    Commit(*x, "-50", "-7,25");  // rounded to one decimal first: -7.2
    EXPECT_EQ(x->value, "-7.2");
    EXPECT_EQ(packed->value, Format("%u", 0x01F48048u));
    Commit(*y, "50", "-3");
    EXPECT_EQ(packed->value, Format("%u", 0x801E8048u));
    EXPECT_FALSE(packed->needUpdate);

    // A partner without data starts from zero.
    packed->value = "Нет данных";
    Commit(*x, "-7.2", "1");
    EXPECT_EQ(packed->value, "10");

    // Beyond what 15 bits hold: refused, nothing changes.
    x->maxValue = 5000;
    boxes.boxes.clear();
    CommitResult r = Commit(*x, "1", "4000");
    EXPECT_EQ(r.cellText, "1");
    EXPECT_EQ(x->value, "1");
    EXPECT_EQ(packed->value, "10");
    EXPECT_EQ(boxes.boxes.size(), 1u);
}

TEST_F(TreeViewCommit, NetworkSettingsElementRefusals) {
    MessageRecorder boxes;
    Elements::NetRS485 device;
    device.SetValue("LEn", "8", false);
    device.SetValue("Sbit", "2", false);
    device.SetValue("PrtY", "No Parity", false);
    device.SetValue("A.Len", "8", false);
    device.SetValue("Addr", "16", false);
    Parameter& parity = *device.FindParameter("PrtY");
    CommitResult r = Commit(parity, "No Parity", "Even", 1, &device);
    EXPECT_EQ(r.cellText, "No Parity");
    EXPECT_EQ(parity.value, "No Parity");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Заданные сетевые настройки не поддерживаются прибором!");
    EXPECT_EQ(boxes.boxes[0].caption, "Неудалось изменить значение");
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Information);

    Parameter& address = *device.FindParameter("Addr");
    r = Commit(address, "16", "300", 1, &device);
    EXPECT_EQ(r.cellText, "16");
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[1].text, "Нельзя что бы адрес был >255 если длина адреса 8 бит!");
    EXPECT_EQ(boxes.boxes[1].icon, MessageIcon::Error);

    // The device's own settings are ordinary values once accepted.
    r = Commit(parity, "No Parity", "Odd", 1, &device);
    EXPECT_EQ(r.cellText, "No Parity");  // 8, 2 and odd: refused too
    device.SetValue("Sbit", "1", false);
    r = Commit(parity, "No Parity", "Odd", 1, &device);
    EXPECT_EQ(r.cellText, "Odd");
    EXPECT_EQ(r.colour, kChangedGreen);
    EXPECT_FALSE(r.refreshAll);
}

TEST_F(TreeViewCommit, ProgramSettingsAskWhetherToResetTheConfiguration) {
    Configure();
    Elements::NetRS485prg& settings = doc->device().ProgramSettings();
    Parameter& speed = *settings.FindParameter("bPS");
    Parameter& address = *settings.FindParameter("Addr");
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
        // No owner given: the setting is found among the program's own.
        CommitResult r = Commit(speed, before, c.typed);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, kResetQuestion);
        EXPECT_EQ(boxes.boxes[0].buttons, MessageButtons::YesNoCancel);
        EXPECT_TRUE(r.refreshAll);
        EXPECT_EQ(r.cellText, c.takenOver ? c.typed : before);
        EXPECT_EQ(speed.value, c.takenOver ? c.typed : before);
        EXPECT_EQ(stored("bPS"), c.takenOver ? c.typed : before);
        EXPECT_EQ(kept.value, c.reset ? "Нет данных" : "5");
        // Taken over into the port: nothing left to write.
        EXPECT_FALSE(speed.needUpdate);
    }

    // The program's element refuses an address its length cannot carry.
    MessageRecorder refused;
    CommitResult r = Commit(address, address.value, "300", 1, &settings);
    EXPECT_EQ(r.cellText, address.value);
    ASSERT_EQ(refused.boxes.size(), 1u);
    EXPECT_EQ(refused.boxes[0].caption, "Неудалось изменить значение");
}

TEST_F(TreeViewCommit, ProgramSettingRefusedWhilePolling) {
    Configure();
    Parameter* polled = nullptr;
    doc->OperativeTree()->ForEachBranch([&](const DescBranch& b) {
        for (Parameter* p : b.parameters)
            if (!polled && p->pollTimer) polled = p;
    });
    ASSERT_NE(polled, nullptr);
    StartParameterPolling(*polled);
    MessageRecorder boxes(MessageResult::Yes);
    Parameter& kept = FirstOfTree();
    kept.value = "5";
    Parameter& speed = *doc->device().ProgramSettings().FindParameter("bPS");
    const std::string before = speed.value;
    const std::string other = before == "4800" ? "2400" : "4800";
    CommitResult r = Commit(speed, before, other);
    StopParameterPolling(*polled);
    // Counted as Cancel: no question, nothing reset, the old value back.
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, Polling::kRefusedWhilePolling);
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Error);
    EXPECT_EQ(r.cellText, before);
    EXPECT_EQ(speed.value, before);
    EXPECT_EQ(kept.value, "5");
}

TEST_F(TreeViewCommit, PolledValuesAndCheckBoxes) {
    auto p = MakeOperative("r.oe.s", "bin");
    p->value = "01";
    PolledValue shown = OnPolledValue(*doc, *p, std::time(nullptr));
    EXPECT_FALSE(shown.recorded);
    EXPECT_TRUE(shown.hasBitRows);
    EXPECT_EQ(shown.bitRows[1], "1");

    // The protocol row's box switches the recording.
    Parameter& log = doc->ProtocolParameter();
    EXPECT_FALSE(ProtocolRowView(*doc, false).checked);
    EXPECT_TRUE(ToggleCheck(*doc, log, true));
    EXPECT_TRUE(doc->recordProtocol);
    EXPECT_TRUE(ProtocolRowView(*doc, false).checked);
    EXPECT_FALSE(ProtocolRowView(*doc, true).hasCheckBox);
    EXPECT_FALSE(ToggleCheck(*doc, log, true));
    shown = OnPolledValue(*doc, *p, std::time(nullptr));
    EXPECT_TRUE(shown.recorded);
    EXPECT_TRUE(ToggleCheck(*doc, log, false));

    // An operative row's box starts and stops its polling.
    EXPECT_TRUE(ToggleCheck(*doc, *p, true));
    EXPECT_TRUE(p->polling);
    EXPECT_TRUE(ToggleCheck(*doc, *p, false));
    EXPECT_FALSE(p->polling);
    EXPECT_FALSE(ToggleCheck(*doc, *MakeParameter("r.co", "byte"), true));
}

// --- menus ---

TEST(TreeViewMenus, BranchAndParameterMenus) {
    DescBranch branch;
    branch.elementName = "Вход №1";
    auto p = MakeParameter("r.co", "byte");
    auto commands = [](const std::optional<ContextMenu>& menu) {
        std::vector<int> list;
        if (menu)
            for (const MenuItem& item : menu->items)
                list.push_back(item.command);
        return list;
    };

    std::optional<ContextMenu> menu = ContextMenuFor(true, false, {&branch, nullptr, true, false});
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->name, "<Tree>");
    EXPECT_EQ(commands(menu), (std::vector<int>{32831, 32833, 32835, 32837}));
    EXPECT_EQ(menu->items[3].text, "Сравнить значения с реальными в пределах выделеной ветви");
    branch.elementName = "Точка №3";
    EXPECT_EQ(commands(ContextMenuFor(true, false, {&branch, nullptr, true, false})),
              (std::vector<int>{32831, 32837}));
    EXPECT_FALSE(ContextMenuFor(true, false, {&branch, nullptr, false, true}));
    EXPECT_FALSE(ContextMenuFor(false, false, {&branch, nullptr, true, false}));
    EXPECT_FALSE(ContextMenuFor(true, true, {&branch, nullptr, true, false}));

    menu = ContextMenuFor(true, false, {nullptr, p.get(), true, false});
    EXPECT_EQ(menu->name, "<Tree1>");
    EXPECT_EQ(commands(menu), (std::vector<int>{32863, 32864, 0, 32866}));
    EXPECT_EQ(menu->items[3].text, "Установить значение в \"Нет данных\"");
    p->writable = false;
    EXPECT_EQ(commands(ContextMenuFor(true, false, {nullptr, p.get(), true, false})),
              (std::vector<int>{32863, 0, 32866}));
    // The computer's parameters and the operative ones have no menu.
    EXPECT_FALSE(ContextMenuFor(true, false, {nullptr, p.get(), false, false}));
    EXPECT_FALSE(ContextMenuFor(true, true, {nullptr, p.get(), true, false}));

    EXPECT_EQ(ViewCommand(32831), 284);
    EXPECT_EQ(ViewCommand(32863), 284);
    EXPECT_EQ(ViewCommand(32833), 285);
    EXPECT_EQ(ViewCommand(32864), 285);
    EXPECT_EQ(ViewCommand(32835), 281);
    EXPECT_EQ(ViewCommand(32837), 282);
    EXPECT_EQ(ViewCommand(32866), 0);
}

// --- searches over the rows ---

namespace {

// A tree of plain nodes. Rows of a "lazy" node appear on its first expansion.
struct Node {
    std::string text;
    Rgb colour;
    Node* parent = nullptr;
    std::vector<std::unique_ptr<Node>> children;
    std::vector<std::unique_ptr<Node>> lazy;
    const void* object = nullptr;
};

class NodeTree : public RowTree {
  public:
    static Node* N(RowHandle h) { return static_cast<Node*>(h); }
    static RowHandle H(Node* n) { return n; }

    RowHandle Parent(RowHandle row) const override { return N(row)->parent; }
    RowHandle FirstChild(RowHandle row) const override {
        return N(row)->children.empty() ? nullptr : N(row)->children.front().get();
    }
    RowHandle LastChild(RowHandle row) const override {
        return N(row)->children.empty() ? nullptr : N(row)->children.back().get();
    }
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
    static RowHandle Step(RowHandle row, int direction) {
        Node* parent = N(row)->parent;
        if (!parent) return nullptr;
        auto& list = parent->children;
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list[i].get() != row) continue;
            long j = static_cast<long>(i) + direction;
            if (j < 0 || j >= static_cast<long>(list.size())) return nullptr;
            return list[static_cast<std::size_t>(j)].get();
        }
        return nullptr;
    }
};

Node* Add(Node* parent, const std::string& text, Rgb colour = kWindowText, bool lazy = false) {
    auto node = std::make_unique<Node>();
    node->text = text;
    node->colour = colour;
    node->parent = parent;
    Node* raw = node.get();
    (lazy ? parent->lazy : parent->children).push_back(std::move(node));
    return raw;
}

// root
//   config (red)
//     a1 (red leaf)
//     b (blue branch, children shown on expansion)
//       b1 (black), b2 (blue leaf)
//     c (black branch: never entered)
//       c1 (red leaf)
//     d1 (black leaf)
//   operative (red)
//     o1 (red leaf)
class ErrorSearch : public ::testing::Test {
  protected:
    void SetUp() override {
        root.text = "root";
        config = Add(&root, "config", kErrorRed);
        a1 = Add(config, "a1", kErrorRed);
        b = Add(config, "b", kDiffersBlue);
        b1 = Add(b, "b1", kWindowText, true);
        b2 = Add(b, "b2", kDiffersBlue, true);
        c = Add(config, "c");
        c1 = Add(c, "c1", kErrorRed);
        d1 = Add(config, "d1");
        Node* operative = Add(&root, "operative", kErrorRed);
        o1 = Add(operative, "o1", kErrorRed);
    }
    RowHandle Next(Node* from) { return FindErrorRow(tree, from, config, true); }
    RowHandle Previous(Node* from) { return FindErrorRow(tree, from, config, false); }

    Node root;
    Node *config, *a1, *b, *b1, *b2, *c, *c1, *d1, *o1;
    NodeTree tree;
};

}  // namespace

TEST_F(ErrorSearch, ForwardsAndBackwardsThroughColouredBranches) {
    MessageRecorder boxes;
    // From a leaf: its next siblings; the blue branch is expanded and entered.
    EXPECT_EQ(Next(a1), b2);
    EXPECT_EQ(tree.expansions, 1);
    // From the configuration row itself: it is searched, its first error first.
    EXPECT_EQ(Next(config), a1);
    // Backwards from the last leaf: the black branch is skipped, the blue one
    // entered from its end.
    EXPECT_EQ(Previous(d1), b2);
    // From a leaf inside a branch the search climbs to the branch's siblings.
    EXPECT_EQ(Previous(b1), a1);
    // A selected row with children is passed over backwards.
    EXPECT_EQ(Previous(b), a1);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ErrorSearch, NoMoreErrorsNeverLeavesTheConfiguration) {
    MessageRecorder boxes;
    tree.Expand(b);
    // From the last erroneous row: the red operative rows below are not reached.
    EXPECT_EQ(Next(b2), nullptr);
    EXPECT_EQ(Next(d1), nullptr);
    EXPECT_EQ(Previous(a1), nullptr);
    EXPECT_EQ(Previous(config), nullptr);
    ASSERT_EQ(boxes.boxes.size(), 4u);
    EXPECT_EQ(boxes.boxes[0].text, "Больше нет параметров с ошибками!");
    EXPECT_EQ(boxes.boxes[0].caption, "Сообщение");
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Information);
}

TEST_F(ErrorSearch, FindRowByNameAndObject) {
    int first = 1, second = 2;
    Node* x1 = Add(c, "  Канал", kWindowText);
    x1->object = &first;
    Node* x2 = Add(d1, "КАНАЛ", kWindowText);
    x2->object = &second;
    EXPECT_EQ(FindRow(tree, &root, "канал"), x1);  // depth-first: c before d1
    EXPECT_EQ(FindRow(tree, &root, " канал", &second), x2);
    EXPECT_EQ(FindRow(tree, d1, "Канал"), x2);
    // Only the start's own subtree, not its siblings.
    EXPECT_EQ(FindRow(tree, a1, "Канал"), nullptr);
    EXPECT_EQ(FindRow(tree, &root, "Канал", &root), nullptr);
    EXPECT_EQ(FindRow(tree, nullptr, "Канал"), nullptr);
    EXPECT_EQ(FindRow(tree, &root, "config"), config);
}
