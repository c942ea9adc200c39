#include "platform/text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

// Switches the process to a locale whose decimal separator is a comma, when
// the machine has one.
class CommaLocale {
  public:
    CommaLocale() {
        for (const char* name : {"ru_RU.UTF-8", "ru_RU.utf8", "de_DE.UTF-8", "fr_FR.UTF-8"}) {
            if (std::setlocale(LC_ALL, name)) {
                active_ = true;
                return;
            }
        }
    }
    ~CommaLocale() { std::setlocale(LC_ALL, "C"); }
    bool active() const { return active_; }

  private:
    bool active_ = false;
};

}  // namespace

TEST(Text, FormatIgnoresTheProcessLocale) {
    CommaLocale locale;
    if (!locale.active()) GTEST_SKIP() << "no locale with a comma separator installed";
    EXPECT_EQ(Format("%.3f", 12.5), "12.500");
    double x = 0;
    EXPECT_EQ(ParseLeadingReal("3.25", x), 4u);
    EXPECT_DOUBLE_EQ(x, 3.25);
}

TEST(Text, FormatHandlesLongOutput) {
    std::string big(1000, 'x');
    EXPECT_EQ(Format("%s|%d", big.c_str(), 7), big + "|7");
}

TEST(Text, LeadingRealTakesTheLongestNumber) {
    struct Case {
        const char* text;
        std::size_t used;
        double value;
    } cases[] = {
        {"  12.5abc", 6, 12.5},
        {"-0.001", 6, -0.001},
        {"+7", 2, 7},
        {"1e3", 3, 1000},
        {"1e", 1, 1},
        {"5.", 2, 5},
        {".5", 2, 0.5},
        {"1.5e-2x", 6, 0.015},
        {"abc", 0, 0},
        {"", 0, 0},
        {"-", 0, 0},
        {".", 0, 0},
        {"inf", 0, 0},
        {"nan", 0, 0},
        {"0x10", 1, 0},
        {"1e999", 0, 0},
    };
    for (const Case& c : cases) {
        double x = 0;
        EXPECT_EQ(ParseLeadingReal(c.text, x), c.used) << c.text;
        if (c.used) {
            EXPECT_DOUBLE_EQ(x, c.value) << c.text;
        }
    }
}

TEST(Text, LeadingIntSaturatesInsteadOfOverflowing) {
    std::int64_t v = 0;
    EXPECT_EQ(ParseLeadingInt(" -42z", v), 4u);
    EXPECT_EQ(v, -42);
    EXPECT_EQ(ParseLeadingInt("99999999999999999999999", v), 23u);
    EXPECT_EQ(v, INT64_MAX);
    EXPECT_EQ(ParseLeadingInt("x1", v), 0u);
}

TEST(Text, CaseFoldingCoversCyrillic) {
    EXPECT_TRUE(EqualsNoCase("Не_редактируемый", "НЕ_РЕДАКТИРУЕМЫЙ"));
    EXPECT_TRUE(EqualsNoCase("ёЖ", "Ёж"));
    EXPECT_TRUE(EqualsNoCase("r.CO", "R.co"));
    EXPECT_FALSE(EqualsNoCase("float", "floats"));
    EXPECT_EQ(ToUpperUtf8("a.len ё"), "A.LEN Ё");
}

TEST(Text, Utf8Counting) {
    EXPECT_EQ(Utf8Length("Тип1"), 4u);
    EXPECT_EQ(Utf8Prefix("Тип1", 2), "Ти");
    EXPECT_EQ(Utf8Prefix("ab", 5), "ab");
}

TEST(Text, SplitKeepsEmptyParts) {
    EXPECT_EQ(Split("a::b", ':'), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(Split("", ':'), (std::vector<std::string>{""}));
    EXPECT_EQ(ReplaceAll("a_b_c", "_", " "), "a b c");
}
