#include "document/help_text.h"

#include <gtest/gtest.h>

#include <memory>

#include "description/device_description.h"
#include "model/parameter.h"

namespace {

struct Timer : PollTimer {
    bool Start(int) override { return true; }
    void Cancel() override {}
};

class HelpTextTest : public ::testing::Test {
  protected:
    std::string Range(const std::string& type, double low, double high, int decimals = 0) {
        p.type = type;
        p.minValue = low;
        p.maxValue = high;
        p.decimals = decimals;
        return ParameterRangeText(p);
    }
    Parameter p;
};

constexpr const char* kPrefix = "ДИАПАЗОН ЗНАЧЕНИЙ: Значение должно быть ";

TEST_F(HelpTextTest, WholeTextJoinsDescriptionRangeAndComment) {
    p.name = "in.sl";
    p.description = "Тип входа";
    p.type = "DEC dot";
    p.minValue = -5;
    p.maxValue = 17;
    EXPECT_EQ(ParameterHelpText(p, "Выбор датчика"),
              "Тип входа (\"in.sl\")\nДИАПАЗОН ЗНАЧЕНИЙ: Значение должно быть целого типа, от -5 "
              "до 17.\nКОММЕНТАРИЙ: Выбор датчика");
    // The tree's own label is what the user sees; without a comment the
    // heading still stands.
    p.treeLabel = "Вход";
    p.maxValue = p.minValue;
    EXPECT_EQ(ParameterHelpText(p, ""), "Вход (\"in.sl\")\nКОММЕНТАРИЙ: ");
}

TEST_F(HelpTextTest, RangeByTypeWithoutRegardToCase) {
    EXPECT_EQ(Range("STORED DOT", -1.5, 99.25),
              std::string(kPrefix) + "вещественного типа, от -1.500 до 99.250.");
    EXPECT_EQ(Range("stored dot", 0, 1),
              std::string(kPrefix) + "вещественного типа, от 0.000 до 1.000.");
    EXPECT_EQ(Range("CLK frm", 0, 5999), std::string(kPrefix) + "от 00:00 до 99:59.");
    EXPECT_EQ(Range("clk FRM", 65, 6000), std::string(kPrefix) + "от 01:05 до 100:00.");
    EXPECT_EQ(Range("time", 59, 90061), std::string(kPrefix) + "от 00:00:59 до 25:01:01.");
    EXPECT_EQ(Range("TIME", -10, 3600), std::string(kPrefix) + "от 00:00:00 до 01:00:00.");
    EXPECT_EQ(Range("dec DOT", -100, 100), std::string(kPrefix) + "целого типа, от -100 до 100.");
    EXPECT_EQ(Range("Byte", 0, 255), std::string(kPrefix) + "целого типа, от 0 до 255.");
    for (const char* other : {"int16", "uint16", "bin", "DWORD", "string", "a:b:c"})
        EXPECT_EQ(Range(other, 0, 10), "") << other;
}

TEST_F(HelpTextTest, FloatRangeUsesItsDecimals) {
    std::string real = std::string(kPrefix) + "вещественного типа, от ";
    EXPECT_EQ(Range("float", -1.25, 2.5, 0), real + "-1 до 2.");
    EXPECT_EQ(Range("FLOAT", -1.25, 2.5, 1), real + "-1.2 до 2.5.");
    EXPECT_EQ(Range("float", -1.25, 2.5, 2), real + "-1.25 до 2.50.");
    EXPECT_EQ(Range("float", -1.25, 2.5, 3), real + "-1.250 до 2.500.");
    EXPECT_EQ(Range("float", -1.25, 2.5, 4), "");
    EXPECT_EQ(Range("float", -1.25, 2.5, -1), "");
}

TEST_F(HelpTextTest, NoRangeWhenEmptyOrOperative) {
    EXPECT_EQ(Range("float", 3, 3, 1), "");
    EXPECT_EQ(Range("time", 0, 0), "");
    // An inverted range is still a range and is shown as stored.
    EXPECT_EQ(Range("byte", 10, 1), std::string(kPrefix) + "целого типа, от 10 до 1.");

    p.name = "rEAd";
    p.description = "Измерение";
    p.pollTimer = std::make_unique<Timer>();
    EXPECT_EQ(Range("float", 0, 100, 1), "");
    EXPECT_EQ(ParameterHelpText(p, "Текущее значение"),
              "Измерение (\"rEAd\")\nКОММЕНТАРИЙ: Текущее значение");
}

TEST_F(HelpTextTest, CommentFromTheModificationKeepsOnePrefix) {
    // "del" has a fixed comment, so no comment file is needed.
    p.name = "del";
    p.description = "Задержка";
    p.linearIndex = 2;
    const CDeviceDescription* b4 = FindDeviceDescription("b4");
    ASSERT_NE(b4, nullptr);
    EXPECT_EQ(ParameterHelpText(p, *b4),
              "Задержка (\"del\")\nКОММЕНТАРИЙ: Параметр блокирует переключение состояния "
              "Инспектора на заданное время.");
    // A parameter the comment file does not know keeps the heading alone.
    p.name = "zz.zz";
    EXPECT_EQ(ParameterHelpText(p, *b4), "Задержка (\"zz.zz\")\nКОММЕНТАРИЙ: ");
}

}  // namespace
