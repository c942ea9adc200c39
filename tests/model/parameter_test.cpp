#include "model/parameter.h"

#include <gtest/gtest.h>

#include "link/frame.h"
#include "model/waitable_poll_timer.h"
#include "platform/archive.h"
#include "support/message_recorder.h"

namespace {

std::unique_ptr<Parameter> Make(const char* type, double min = 0, double max = 0,
                                int decimals = 0) {
    auto p = std::make_unique<Parameter>();
    p->name = "tst";
    p->type = type;
    p->minValue = min;
    p->maxValue = max;
    p->decimals = decimals;
    return p;
}

struct TextCase {
    const char* type;
    double min, max;
    int decimals;
    const char* text;
    bool accepted;
    const char* stored;  // null: the text itself
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.type << " '" << c.text << "'";
}

class SetValueFromTextCases : public ::testing::TestWithParam<TextCase> {};

TEST_P(SetValueFromTextCases, AcceptsOrRefuses) {
    MessageRecorder boxes;
    const TextCase& c = GetParam();
    auto p = Make(c.type, c.min, c.max, c.decimals);
    p->value = "old";
    EXPECT_EQ(p->SetValueFromText(c.text), c.accepted);
    if (c.accepted) {
        EXPECT_EQ(p->value, c.stored ? c.stored : c.text);
        EXPECT_TRUE(p->needUpdate);
    } else {
        EXPECT_EQ(p->value, "old");
        EXPECT_FALSE(p->needUpdate);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, SetValueFromTextCases,
                         ::testing::Values(
                             // Range tolerance of 0.0009 on reals.
                             TextCase{"float", 0, 100, 3, "100.0005", true, "100.000"},
                             TextCase{"float", 0, 100, 3, "100.001", false, nullptr},
                             TextCase{"float", 0, 100, 3, "-0.001", false, nullptr},
                             TextCase{"FLOAT", 0, 0, 3, "-1e6", true, nullptr},
                             TextCase{"float", 0, 100, 2, "abc", false, nullptr},
                             TextCase{"float", 0, 100, 2, "", false, nullptr},
                             TextCase{"float", 0, 100, 2, "  5.5 kg", true, "5.5"},
                             TextCase{"float", 0, 0, 2, "nan", false, nullptr},
                             // Whole numbers with nothing after them.
                             TextCase{"DEC dot", 0, 100, 0, "12", true, nullptr},
                             TextCase{"DEC dot", 0, 100, 0, "12.5", false, nullptr},
                             TextCase{"DEC dot", 0, 100, 0, "12abc", false, nullptr},
                             TextCase{"DEC dot", 0, 100, 0, "12.000001", true, nullptr},
                             TextCase{"int16", -10, 10, 0, "-10", true, nullptr},
                             TextCase{"int16", -10, 10, 0, "11", false, nullptr},
                             TextCase{"uint16", 0, 0, 0, "70000", false, nullptr},
                             TextCase{"uint16", 0, 0, 0, "65535", true, nullptr},
                             TextCase{"byte", 0, 255, 0, "x", false, nullptr},
                             // Bits counted from the left.
                             TextCase{"bin", 0, 5, 0, "101", true, nullptr},
                             TextCase{"bin", 0, 5, 0, "0011", false, nullptr},
                             TextCase{"bin", 0, 12, 0, "0011", true, nullptr},
                             // Times: seconds or parts in powers of 60, range without tolerance.
                             TextCase{"CLK frm", 0, 3723, 0, "1:02:03", true, nullptr},
                             TextCase{"CLK frm", 0, 3722, 0, "1:02:03", false, nullptr},
                             TextCase{"CLK frm", 0, 100, 0, "75", true, nullptr},
                             TextCase{"CLK frm", 0, 0, 0, "99:59:59", false, nullptr},
                             TextCase{"CLK frm", 0, 0, 0, "18:12:15", true, nullptr},
                             TextCase{"time", 0, 86399, 0, "1:x", false, nullptr},
                             TextCase{"time", 0, 0, 0, "1::3", false, nullptr},
                             // No check at all.
                             TextCase{"DWORD", 1, 2, 0, "anything", true, nullptr},
                             TextCase{"Вкл:Выкл", 0, 0, 0, "Вкл", true, nullptr},
                             TextCase{"неизвестен", 0, 0, 0, "", true, nullptr}));

// The check takes only what the encoder will send as the number read.
INSTANTIATE_TEST_SUITE_P(
    AgreesWithEncoder, SetValueFromTextCases,
    ::testing::Values(TextCase{"DEC dot", 0, 0, 0, "1e3", false, nullptr},
                      TextCase{"DEC dot", 0, 2000, 0, "1e3", false, nullptr},
                      TextCase{"int16", 0, 0, 0, "1e3", false, nullptr},
                      TextCase{"int16", 0, 0, 0, "32768", false, nullptr},
                      TextCase{"int16", 0, 0, 0, "-32768", true, nullptr},
                      TextCase{"int16", 0, 0, 0, "12.5", false, nullptr},
                      TextCase{"uint16", 0, 0, 0, "-1", false, nullptr},
                      TextCase{"byte", 0, 0, 0, "-1", false, nullptr},
                      TextCase{"byte", 0, 0, 0, "-1.99", false, nullptr},
                      TextCase{"byte", 0, 0, 0, "256", false, nullptr},
                      TextCase{"float", 0, 0, 0, "1e400", false, nullptr},
                      TextCase{"float", 0, 0, 0, "-1e400", false, nullptr},
                      TextCase{"STORED DOT", 0, 0, 0, "1e400", false, nullptr},
                      TextCase{"STORED DOT", 0, 0, 0, "268435456", false, nullptr},
                      TextCase{"float", 0, 0, 0, "3.4028236e38", false, nullptr},
                      TextCase{"float", 0, 0, 0, "3.4028235e38", true,
                               "340282350000000000000000000000000000000"},
                      TextCase{"float", 0, 0, 0, "34e37", true, nullptr},
                      // An exponent is written out before the text is cut to the decimals.
                      TextCase{"float", 0, 0, 1, "1.5e3", true, "1500"},
                      TextCase{"float", 0, 0, 3, "-2.5e-2", true, "-0.025"},
                      TextCase{"STORED DOT", 0, 0, 2, "12.5E-1", true, "1.25"},
                      TextCase{"float", 0, 0, 0, "1.5e-99999999999", true, "0"},
                      TextCase{"bin", 0, 0, 0, "000000001", false, nullptr},
                      TextCase{"bin", 0, 0, 0, "111111110", true, nullptr},
                      // A time of day counts its parts from the left, as the device does.
                      TextCase{"time", 0, 3600, 0, "12:30", false, nullptr},
                      TextCase{"time", 0, 86399, 0, "12:30", true, nullptr},
                      TextCase{"time", 0, 86399, 0, "1:2:3:4", false, nullptr},
                      TextCase{"time", 0, 0, 0, "75", true, "00:01:15"},
                      TextCase{"time", 0, 0, 0, "75.5", false, nullptr},
                      TextCase{"CLK frm", 0, 0, 0, "75.5", false, nullptr}));

TEST(Parameter, RoundingShowsOneWarning) {
    MessageRecorder boxes;
    auto p = Make("float", 0, 10, 2);
    ASSERT_TRUE(p->SetValueFromText("1.23456"));
    EXPECT_EQ(p->value, "1.23");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Значение было округлено с 1.23456 до 1.23");
    EXPECT_EQ(boxes.boxes[0].caption, "Предупреждение");
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Exclamation);

    auto whole = Make("float", 0, 10, 0);
    ASSERT_TRUE(whole->SetValueFromText("1.5"));
    EXPECT_EQ(whole->value, "1");

    boxes.boxes.clear();
    ASSERT_TRUE(p->SetValueFromText("1.2"));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST(Parameter, StoredDotWithoutDecimalsDropsDigitsUntilInRange) {
    MessageRecorder boxes;
    auto p = Make("STORED DOT", 0, 999, 0);
    ASSERT_TRUE(p->SetValueFromText("12.34"));
    EXPECT_EQ(p->value, "12.3");
    EXPECT_EQ(boxes.boxes.size(), 1u);

    auto q = Make("STORED DOT", 0, 999, 0);
    ASSERT_TRUE(q->SetValueFromText("99.9"));
    EXPECT_EQ(q->value, "99.9");

    // Without a range there is nothing to fit the digits to.
    auto free = Make("STORED DOT", 0, 0, 0);
    ASSERT_TRUE(free->SetValueFromText("12.5"));
    EXPECT_EQ(free->value, "12.5");

    auto d = Make("STORED DOT", 0, 999, 1);
    ASSERT_TRUE(d->SetValueFromText("12.34"));
    EXPECT_EQ(d->value, "12.3");
}

TEST(Parameter, NewAndResetStates) {
    Parameter p;
    EXPECT_EQ(p.value, "Нет данных");
    EXPECT_EQ(p.type, "неизвестен");
    EXPECT_EQ(p.description, "<неизвестный параметр>");
    EXPECT_EQ(p.pollPeriod, 1000);
    EXPECT_TRUE(p.CanWrite());

    p.attributeKind = 3;
    p.hasLinearIndex = true;
    p.linearIndex = 4;
    p.treeWritable = false;
    p.needUpdateOwner = true;
    p.error = "x";
    p.accessAttribute = 0;
    p.Reset();
    EXPECT_EQ(p.attributeKind, 3);
    EXPECT_FALSE(p.hasLinearIndex);
    EXPECT_EQ(p.linearIndex, 0);
    EXPECT_TRUE(p.CanWrite());
    EXPECT_FALSE(p.HasPendingUpdate());
    EXPECT_EQ(p.value, "Нет данных");
    EXPECT_EQ(p.accessAttribute, 1);
}

TEST(Parameter, TypeTexts) {
    auto f = Make("float");
    EXPECT_EQ(f->TypeDescription(), "Число с плавающей точкой");
    EXPECT_EQ(f->TypeCaption(), "float");
    auto e = Make("Выкл:Вкл");
    EXPECT_EQ(e->TypeCaption(), "Enum");
    auto i = Make("int16");
    EXPECT_EQ(i->TypeDescription(), "int16");
    auto c = Make("clk FRM");
    EXPECT_EQ(c->TypeDescription(), "Составной тип данных с информацией о времени");
}

TEST(Parameter, KeyCombinesIndexAndHash) {
    auto p = Make("float");
    p->name = "A.Len";
    p->linearIndex = 3;
    EXPECT_EQ(p->Key(), (3u << 16) | hash_name("A.Len"));
}

TEST(Parameter, RecordLayoutAndRoundTrip) {
    Parameter p;
    p.name = "in.sl";
    p.description = "Наклон";
    p.treeLabel = "Наклон входа";
    p.value = std::string(70, '7');
    p.hasLinearIndex = true;
    p.linearIndex = 0x01020304;
    p.deviceAddress = -1;
    p.treeWritable = false;
    p.error = "Ошибка";
    p.needUpdate = true;
    p.needUpdateOwner = true;
    p.privacy = 0x1FF;
    p.accessAttribute = 0;

    std::vector<SavedRecord> records;
    p.ToRecord(records);
    ASSERT_EQ(records.size(), 1u);
    const SavedRecord& r = records[0];
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[0])), "in.sl");
    // The tree label is the description shown, in the OEM code page.
    EXPECT_EQ(r[9], 0x8D);
    EXPECT_EQ(r[89 + 62], '7');
    EXPECT_EQ(r[89 + 63], 0);  // 70 characters stored as 63
    EXPECT_EQ(r[153], 1);
    EXPECT_EQ(r[156], 0x04);
    EXPECT_EQ(r[159], 0x01);
    EXPECT_EQ(r[160], 0xFF);
    EXPECT_EQ(r[164], 0);
    EXPECT_EQ(r[165], 0);
    EXPECT_EQ(r[247], 1);
    EXPECT_EQ(r[248], 0);
    EXPECT_EQ(r[249], 1);
    EXPECT_EQ(r[250], 0xFF);
    EXPECT_EQ(r[251], 0);

    Parameter q;
    q.attributeKind = 2;
    q.FromRecord(r);
    EXPECT_EQ(q.name, "in.sl");
    EXPECT_EQ(q.description, "Наклон входа");
    EXPECT_EQ(q.value, std::string(63, '7'));
    EXPECT_TRUE(q.hasLinearIndex);
    EXPECT_EQ(q.linearIndex, 0x01020304);
    EXPECT_EQ(q.deviceAddress, -1);
    EXPECT_FALSE(q.writable);
    EXPECT_EQ(q.error, "Ошибка");
    EXPECT_TRUE(q.needUpdate);
    EXPECT_FALSE(q.needUpdateAccess);
    EXPECT_TRUE(q.needUpdateOwner);
    EXPECT_EQ(q.privacy, 0xFF);
    EXPECT_EQ(q.attributeKind, 2);
}

TEST(Parameter, RecordWithoutTerminatorsStaysInsideItsFields) {
    SavedRecord r;
    r.fill('A');
    Parameter p;
    p.FromRecord(r);
    EXPECT_EQ(p.name, "AAAAAAAA");
    EXPECT_EQ(p.description.size(), 80u);
    EXPECT_EQ(p.value.size(), 64u);
    EXPECT_EQ(p.error.size(), 80u);
}

TEST(Parameter, SerializeKeepsDescribedWritability) {
    Parameter p;
    p.name = "r.co";
    p.type = "float";
    p.value = "1.5";
    p.hasLinearIndex = true;
    p.linearIndex = 7;
    p.deviceAddress = 2;
    p.writable = false;
    p.error = "Таймаут";
    p.needUpdateAccess = true;
    p.accessAttribute = 0;
    p.ownerAttribute = 1;
    p.privacy = 3;
    p.tableFlag = true;
    Archive out;
    p.Serialize(out);

    Parameter q;
    q.type = "float";
    Archive in(out.Data());
    q.Serialize(in);
    EXPECT_TRUE(in.AtEnd());
    EXPECT_EQ(q.name, "r.co");
    EXPECT_EQ(q.value, "1.5");
    EXPECT_EQ(q.linearIndex, 7);
    EXPECT_EQ(q.deviceAddress, 2);
    EXPECT_TRUE(q.writable);
    EXPECT_EQ(q.error, "Таймаут");
    EXPECT_TRUE(q.needUpdateAccess);
    EXPECT_EQ(q.accessAttribute, 0);
    EXPECT_EQ(q.ownerAttribute, 1);
    EXPECT_EQ(q.privacy, 3);
    EXPECT_TRUE(q.tableFlag);

    // Every truncation of the stream fails cleanly.
    for (std::size_t n = 0; n < out.Size(); ++n) {
        Parameter r;
        Archive cut(std::vector<std::uint8_t>(out.Data().begin(),
                                              out.Data().begin() + static_cast<long>(n)));
        EXPECT_THROW(r.Serialize(cut), ArchiveError) << n;
    }
}

TEST(Parameter, RowTextsColourAndColumns) {
    auto p = Make("float", 0, 100, 1);
    p->name = "r.co";
    p->value = "5.0";
    p->defaultValue = "1.0";
    EXPECT_EQ(p->RowTexts(false).colour, RowColour::kNormal);
    p->needUpdate = true;
    EXPECT_EQ(p->RowTexts(false).colour, RowColour::kChanged);
    p->error = "Знач-е в приборе: 4";
    EXPECT_EQ(p->RowTexts(false).colour, RowColour::kDeviceDiffers);
    p->error = "Таймаут";
    EXPECT_EQ(p->RowTexts(false).colour, RowColour::kError);
    p->error = Parameter::kNotInitialised;
    EXPECT_EQ(p->RowTexts(false).colour, RowColour::kChanged);

    p->hasLinearIndex = true;
    p->linearIndex = 2;
    ParameterRow row = p->RowTexts(true);
    EXPECT_EQ(row.name, "r.co:2");
    EXPECT_EQ(row.index, "2");
    EXPECT_EQ(row.lower, "0.0");
    EXPECT_EQ(row.upper, "100.0");
    EXPECT_EQ(row.factory, "1.0");
    EXPECT_EQ(row.image, RowImage::kPlain);
    EXPECT_EQ(p->RowTexts(false).name, "r.co");
}

TEST(Parameter, RowBoundsByType) {
    auto t = Make("time", 0, 3723);
    EXPECT_EQ(t->RowTexts(false).upper, "01:02:03");
    EXPECT_EQ(t->RowTexts(false).image, RowImage::kNumeric);
    auto b = Make("bin", 0, 5);
    EXPECT_EQ(b->RowTexts(false).upper, "10100000");
    auto i = Make("int16", -5, 5);
    EXPECT_EQ(i->RowTexts(false).lower, "-5");
    auto none = Make("int16", 3, 3);
    EXPECT_EQ(none->RowTexts(false).lower, "");
    auto e = Make("Выкл:Средне:Вкл", 0, 0);
    EXPECT_EQ(e->RowTexts(false).lower, "Выкл");
    EXPECT_EQ(e->RowTexts(false).upper, "Вкл");
    EXPECT_EQ(e->RowTexts(false).type, "Enum");
}

class FakeTimer : public PollTimer {
  public:
    explicit FakeTimer(int* starts, int* cancels) : starts_(starts), cancels_(cancels) {}
    bool Start(int periodMs) override {
        lastPeriod = periodMs;
        ++*starts_;
        return true;
    }
    void Cancel() override { ++*cancels_; }
    int lastPeriod = 0;

  private:
    int* starts_;
    int* cancels_;
};

TEST(Parameter, PollTimerStartsOnceAndStopsOnce) {
    int starts = 0, cancels = 0;
    {
        Parameter p;
        EXPECT_EQ(p.StartPollTimer(), 1);  // no timer
        p.pollTimer = std::make_unique<FakeTimer>(&starts, &cancels);
        p.pollPeriod = 1500;
        EXPECT_EQ(p.StopPollTimer(), 1);
        EXPECT_EQ(p.StartPollTimer(), 0);
        EXPECT_EQ(p.StartPollTimer(), 1);
        EXPECT_EQ(static_cast<FakeTimer*>(p.pollTimer.get())->lastPeriod, 1500);
        ParameterRow row = p.RowTexts(false);
        EXPECT_EQ(row.image, RowImage::kOperative);
        EXPECT_EQ(row.pollPeriod, "1500");
        EXPECT_TRUE(row.hasCheckBox);
        EXPECT_TRUE(row.checked);
        EXPECT_EQ(p.StopPollTimer(), 0);
        EXPECT_EQ(p.StopPollTimer(), 1);
        EXPECT_EQ(p.StartPollTimer(), 0);
    }
    // The destructor cancels the running timer.
    EXPECT_EQ(starts, 2);
    EXPECT_EQ(cancels, 2);
}

TEST(Parameter, ServiceParameterShowsItsNameOnly) {
    Parameter p;
    p.name = Parameter::kServiceName;
    p.value = "2026_12_08.log";
    p.error = "x";
    ParameterRow row = p.RowTexts(false);
    EXPECT_EQ(row.name, "    ");
    EXPECT_EQ(row.value, "");
    EXPECT_EQ(row.colour, RowColour::kNormal);
}

TEST(Parameter, EditedTextIsNormalised) {
    EXPECT_EQ(Make("float")->NormaliseEditedText("12,5"), "12.5");
    EXPECT_EQ(Make("CLK frm")->NormaliseEditedText("90"), "01:30");
    EXPECT_EQ(Make("clk frm")->NormaliseEditedText("1:30"), "1:30");
    EXPECT_EQ(Make("time")->NormaliseEditedText("3661"), "01:01:01");
    EXPECT_EQ(Make("time")->NormaliseEditedText("-5"), "-5");
    EXPECT_EQ(Make("bin")->NormaliseEditedText("1021"), "1001");
    // Labels come from a list and may hold a comma.
    EXPECT_EQ(Make("Да,_конечно:Нет")->NormaliseEditedText("Да, конечно"), "Да, конечно");
}

// What the tree's editor and the tool's write take, and what they refuse
// without touching the parameter.
TEST(Parameter, EnteredTextIsCheckedAsTheEditorChecksIt) {
    MessageRecorder boxes;
    struct Entry {
        const char* type;
        double min, max;
        const char* text;
        const char* stored;  // null: refused
    };
    const Entry entries[] = {
        {"float", 0, 100, "12,5", "12.5"},
        {"float", 0, 100, " 12.5 ", "12.5"},
        {"float", 0, 0, "12 volts", nullptr},
        {"float", 0, 0, "abc", nullptr},
        {"float", 0, 0, "", nullptr},
        {"float", 0, 0, "nan", nullptr},
        {"float", 0, 0, "\xFF\xFE", nullptr},
        {"DEC dot", 0, 100, "1,0", "1.0"},
        {"CLK frm", 0, 0, "90", "01:30"},
        {"time", 0, 0, "3661", "01:01:01"},
        {"bin", 0, 0, "1021", "1001"},
        {"DWORD", 0, 0, "12", "12"},
        {"DWORD", 0, 0, "abc", nullptr},
        {"DWORD", 0, 0, "-1", nullptr},
        {"DWORD", 0, 0, "", nullptr},
        {"datetime", 0, 0, "05.07.23 10:20:30", "05.07.23 10:20:30"},
        {"datetime", 0, 0, "05.07.23 10:x:30", nullptr},
        {"Выкл:Вкл", 0, 0, "вкл", "вкл"},
        {"Выкл:Вкл", 0, 0, "Авто", nullptr},
        // No wire form: kept as typed, as the tree keeps it.
        {"string", 0, 0, "any text", "any text"},
        {"неизвестен", 0, 0, "", ""},
    };
    for (const Entry& e : entries) {
        SCOPED_TRACE(std::string(e.type) + " / " + e.text);
        auto p = Make(e.type, e.min, e.max, 3);
        p->value = "old";
        EXPECT_EQ(p->EnterText(e.text), e.stored != nullptr);
        EXPECT_EQ(p->value, e.stored ? e.stored : "old");
        EXPECT_EQ(p->needUpdate, e.stored != nullptr);
    }
    EXPECT_TRUE(boxes.boxes.empty());

    auto name = Make("name");
    std::string reason;
    EXPECT_FALSE(name->EnterText("ABCDEFGHI", &reason));
    EXPECT_EQ(reason, "Сетевое имя слишком длинное");
    EXPECT_TRUE(name->EnterText("A.1", &reason));
}

TEST(Parameter, RefusalMessageNamesTheTypeRangeWithoutOwnRange) {
    auto p = Make("int16");
    p->name = "offs";
    p->description = "Смещение";
    EXPECT_EQ(p->RefusalMessage("32768"),
              "Параметру 'offs' (Смещение) не может быть присвоено значение '32768'.\n"
              "(Тип: int16. Диапазон значений: от -32768 до 32767)");
    EXPECT_NE(Make("float")->RefusalMessage("x").find("не ограничен)"), std::string::npos);
}

TEST(Parameter, RefusalMessageNamesTheRange) {
    auto p = Make("float", 0, 100, 3);
    p->name = "r.co";
    p->description = "Уставка";
    EXPECT_EQ(p->RefusalMessage("200"),
              "Параметру 'r.co' (Уставка) не может быть присвоено значение '200'.\n"
              "(Тип: Число с плавающей точкой. Диапазон значений: от 0.000 до 100.000)");
}

}  // namespace

TEST(WaitablePollTimer, ParameterTimerExpiresUntilStopped) {
    Parameter p;
    p.pollTimer = MakeWaitablePollTimer();
    p.pollPeriod = 10;
    auto& timer = static_cast<WaitablePollTimer&>(*p.pollTimer).Waitable();
    ASSERT_EQ(p.StartPollTimer(), 0);
    EXPECT_TRUE(WaitAny({&timer}, std::chrono::seconds(2)).has_value());
    ASSERT_EQ(p.StopPollTimer(), 0);
    EXPECT_FALSE(WaitAny({&timer}, std::chrono::milliseconds(40)).has_value());
}
