#include "platform/codepage.h"

#include <gtest/gtest.h>

TEST(CodePage, Cp1251RoundTripsEveryByte) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
}

TEST(CodePage, Cp866RoundTripsEveryByte) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp866(Cp866ToUtf8(all)), all);
}

TEST(CodePage, RussianLettersLandOnTheirCodes) {
    EXPECT_EQ(Utf8ToCp1251("Ёжик яА"), "\xA8\xE6\xE8\xEA \xFF\xC0");
    EXPECT_EQ(Utf8ToCp866("Ёжик яА"), "\xF0\xA6\xA8\xAA \xEF\x80");
    EXPECT_EQ(Cp1251ToUtf8("\xCD\xE5\xF2 \xE4\xE0\xED\xED\xFB\xF5"), "Нет данных");
    EXPECT_EQ(Cp866ToUtf8("\x8D\xA5\xE2"), "Нет");
}

TEST(CodePage, UnmappableAndMalformedInputBecomeQuestionMarks) {
    // A Chinese character, an emoji, a lone continuation byte and a truncated sequence.
    EXPECT_EQ(Utf8ToCp1251("a\xE4\xB8\xAD"
                           "b"),
              "a?b");
    EXPECT_EQ(Utf8ToCp1251("\xF0\x9F\x98\x80"), "?");
    EXPECT_EQ(Utf8ToCp1251("\x80z"), "?z");
    EXPECT_EQ(Utf8ToCp866("x\xD0"), "x?");
}
