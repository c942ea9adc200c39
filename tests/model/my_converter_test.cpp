#include "model/my_converter.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/archive.h"
#include "platform/text.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr const char* kNoData = MyConverter::kNoData;
constexpr const char* kSwitch = "Выкл:Вкл:Авто";
constexpr const char* kAccess =
    "Не_редактируемый,_Заводской:Редактируемый,_Заводской:Не_редактируемый,_Пользовательский:"
    "Редактируемый,_Пользовательский";

MyConverter Make(const char* name, const char* type, int decimals = 0) {
    MyConverter c;
    c.name = name;
    c.type = type;
    c.decimals = decimals;
    return c;
}

struct Encoded {
    int result;
    Bytes data;
};

Encoded Encode(const MyConverter& c, std::string_view text, bool indexSwitch = false,
               std::string* error = nullptr) {
    std::uint8_t out[MyConverter::kMaxRawData];
    int count = -7;
    int result = c.ConvertToData(text, out, count, indexSwitch, error);
    EXPECT_GE(count, 0);
    return {result, Bytes(out, out + std::max(count, 0))};
}

// ---------------------------------------------------------------------------

struct EncodeCase {
    const char* type;
    const char* name;
    int decimals;
    const char* text;
    int result;
    Bytes data;
};

TEST(ConverterEncodeTest, TypeLayouts) {
    const EncodeCase cases[] = {
        {"float", "in.sl", 0, "12.5", 1, {0x41, 0x48, 0x00, 0x00}},
        {"float", "r.oe", 0, "0.1", 1, {0x3D, 0xCC, 0xCC}},
        {"float", "in.sl", 0, "abc", 0, {}},
        {"float", "in.sl", 0, "1e39", 0, {}},
        {"STORED DOT", "x", 0, "12.5", 1, {0x10, 0x7D}},
        {"STORED DOT", "x", 0, "-0.001", 1, {0xB0, 0x01}},
        {"STORED DOT", "x", 1, "5000", 1, {0x10, 0xC3, 0x50}},
        {"stored dot", "x", 2, "-3", 1, {0xA1, 0x2C}},
        {"STORED DOT", "x", 0, "1.25 \r\n", 1, {0x20, 0x7D}},
        {"STORED DOT", "x", 0, "1048576", 1, {0x00, 0x10, 0x00, 0x00}},
        {"STORED DOT", "x", 0, "268435455", 1, {0x0F, 0xFF, 0xFF, 0xFF}},
        {"STORED DOT", "x", 0, "268435456", 0, {}},
        {"STORED DOT", "x", 7, "1.5", 1, {0x35, 0xDC}},      // point at most 3
        {"STORED DOT", "x", 0, "-0.0001", 1, {0x00, 0x00}},  // no negative zero
        {"DEC dot", "x", 0, "300", 1, {0x01, 0x2C}},
        {"DEC dot", "x", 0, "12.9", 0, {}},
        {"DEC dot", "x", 0, "70000", 0, {}},
        {"int16", "x", 0, "-2", 1, {0xFF, 0xFE}},
        {"uint16", "x", 0, "65535", 1, {0xFF, 0xFF}},
        {"byte", "x", 0, "255", 1, {0xFF}},
        {"byte", "x", 0, "256", 0, {}},
        {"bin", "x", 0, "101", 1, {0x05}},
        {"bin", "x", 0, "111111111", 0, {}},
        {"bin", "x", 0, "111111110", 1, {0xFF}},
        {"DWORD", "x", 0, "4294967295", 1, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"DWORD", "x", 0, "4294967296", 0, {}},
        {"time", "x", 0, "12:30", 1, {0x0C, 0x1E, 0x22}},
        {"time", "x", 0, "1:02:03", 1, {0x01, 0x02, 0x03, 0x31}},
        {"time", "x", 0, "", 0, {}},
        {"time", "x", 0, "300:00", 0, {}},
        {"datetime", "x", 0, "05.07.23 10:20:30", 1, {0x17, 0x06, 0x04, 0x0A, 0x14, 0x1E, 0x61}},
        {"datetime", "x", 0, "05.07.23", 1, {0x17, 0x06, 0x04, 0x00, 0x00, 0x00, 0x61}},
        {"datetime", "x", 0, "00.07.23", 0, {}},
        {"datetime", "x", 0, "05.07.2023", 0, {}},
        {"CLK frm", "x", 0, "125", 1, {0x7D}},
        {"CLK frm", "x", 0, "2:05", 1, {0x7D}},
        {"CLK frm", "x", 0, "1:00:00", 1, {0x0E, 0x10}},
        {"CLK frm", "x", 0, "18:12:16", 0, {}},  // 65536 seconds
        {"string", "x", 0, "string", 0, {}},
        {"ASCI", "x", 0, "abc", 0, {}},
        {MyConverter::kUnknownType, "x", 0, "1", 0, {}},
        {kSwitch, "x", 0, "авто", 1, {0x02}},
        {kSwitch, "x", 0, "Нет", 0, {}},
        {"Не_задан:Задан", "x", 0, "Не задан", 1, {0x00}},
        {"float", "dev", 0, "1", -1, {}},
        {"DEC dot", "exit", 0, "1", -1, {}},
        {"byte", "aply", 0, "1", 1, {}},
    };
    for (const EncodeCase& t : cases) {
        SCOPED_TRACE(std::string(t.type) + " / " + t.name + " / " + t.text);
        Encoded e = Encode(Make(t.name, t.type, t.decimals), t.text);
        EXPECT_EQ(e.result, t.result);
        EXPECT_EQ(e.data, t.data);
    }
}

// Texts that used to be sent as another number: beyond a double or a
// single, outside an integer type's own range, or read only in part.
TEST(ConverterEncodeTest, NumbersThatDoNotFitAreRefused) {
    const std::string longNumber(600, '9');
    const std::string tinyNumber = "0." + std::string(400, '0') + "1";  // below any double
    const EncodeCase cases[] = {
        {"float", "x", 0, "1e400", 0, {}},
        {"float", "x", 0, "-1e400", 0, {}},
        {"float", "x", 0, longNumber.c_str(), 0, {}},
        {"STORED DOT", "x", 0, "1e400", 0, {}},
        {"STORED DOT", "x", 0, "-1e400", 0, {}},
        {"STORED DOT", "x", 0, longNumber.c_str(), 0, {}},
        {"float", "x", 0, "1e-400", 1, {0x00, 0x00, 0x00, 0x00}},
        {"STORED DOT", "x", 0, "1e-400", 1, {0x00, 0x00}},
        // The largest single and texts rounding to it; one rounding past it.
        {"float", "x", 0, "3.4028235e38", 1, {0x7F, 0x7F, 0xFF, 0xFF}},
        {"float", "x", 0, "-3.4028235e38", 1, {0xFF, 0x7F, 0xFF, 0xFF}},
        {"float", "x", 0, "3.40282356e38", 1, {0x7F, 0x7F, 0xFF, 0xFF}},
        {"float", "x", 0, "3.4028236e38", 0, {}},
        {"float", "x", 0, "1.5e3", 1, {0x44, 0xBB, 0x80, 0x00}},
        // Nothing, or something after the number.
        {"float", "x", 0, "", 0, {}},
        {"float", "x", 0, "nan", 0, {}},
        {"float", "x", 0, "inf", 0, {}},
        {"float", "x", 0, "12 volts", 0, {}},
        {"float", "x", 0, "1,5", 0, {}},
        {"STORED DOT", "x", 0, "abc", 0, {}},
        // Integer types: their own range, no exponent, no fraction that would be dropped.
        {"int16", "x", 0, "32767", 1, {0x7F, 0xFF}},
        {"int16", "x", 0, "-32768", 1, {0x80, 0x00}},
        {"int16", "x", 0, "32768", 0, {}},
        {"int16", "x", 0, "-32769", 0, {}},
        {"uint16", "x", 0, "-1", 0, {}},
        {"uint16", "x", 0, "-1.99", 0, {}},
        {"uint16", "x", 0, "-0.000001", 1, {0x00, 0x00}},
        {"byte", "x", 0, "-1", 0, {}},
        {"byte", "x", 0, "-1.99", 0, {}},
        {"DEC dot", "x", 0, "-1", 0, {}},
        {"DEC dot", "x", 0, "65535", 1, {0xFF, 0xFF}},
        {"DEC dot", "x", 0, "12.000001", 1, {0x00, 0x0C}},
        {"DEC dot", "x", 0, "1e3", 0, {}},
        {"int16", "x", 0, "1e3", 0, {}},
        {"uint16", "x", 0, "1E2", 0, {}},
        {"byte", "x", 0, "1e2", 0, {}},
        {"DWORD", "x", 0, "1e3", 0, {}},
        {"DWORD", "x", 0, "-1", 0, {}},
        {"DWORD", "x", 0, "abc", 0, {}},
        {"DWORD", "x", 0, "", 0, {}},
        {"int16", "x", 0, "12abc", 0, {}},
        {"int16", "x", 0, " +7 \r\n", 1, {0x00, 0x07}},
        {"int16", "x", 0, tinyNumber.c_str(), 1, {0x00, 0x00}},
    };
    for (const EncodeCase& t : cases) {
        SCOPED_TRACE(std::string(t.type) + " / " + std::string(t.text).substr(0, 40));
        Encoded e = Encode(Make(t.name, t.type, t.decimals), t.text);
        EXPECT_EQ(e.result, t.result);
        EXPECT_EQ(e.data, t.data);
    }
    // A text longer than a value holds is not cut into another value.
    EXPECT_EQ(Encode(Make("x", "int16"), "5" + std::string(600, ' ') + "x").result, 0);
}

// Whatever an integer type accepts reads back as the number written.
TEST(ConverterEncodeTest, IntegerTypesReadBackWhatTheyTake) {
    const char* texts[] = {"-4294967296", "-32769",     "-32768", "-129",   "-128",
                           "-1.99",       "-1",         "-0.5",   "0",      "0.5",
                           "1",           "12.000001",  "127",    "255",    "256",
                           "32767",       "32768",      "65535",  "65536",  "2147483648",
                           "4294967295",  "4294967296", "1e3",    "7.99999"};
    for (const char* type : {"DEC dot", "int16", "uint16", "byte", "DWORD"}) {
        std::int64_t min = 0, max = 0;
        ASSERT_TRUE(IntegerTypeRange(type, min, max)) << type;
        for (const char* text : texts) {
            SCOPED_TRACE(std::string(type) + " / " + text);
            MyConverter c = Make("x", type);
            Encoded e = Encode(c, text);
            ValueNumber n = ReadValueNumber(text);
            const bool whole = !n.exponent && std::fabs(n.value - std::trunc(n.value)) <= 0.00001;
            const bool fits =
                n.value > static_cast<double>(min) - 1 && n.value < static_cast<double>(max) + 1;
            EXPECT_EQ(e.result, whole && fits ? 1 : 0);
            if (e.result != 1) continue;
            ASSERT_EQ(c.ConvertFromData(e.data.data(), static_cast<int>(e.data.size()), false), 1);
            EXPECT_EQ(c.value, std::to_string(static_cast<std::int64_t>(std::trunc(n.value))));
        }
    }
}

// A time or a date with an empty or non-number field is refused, never
// read with its fields shifted.
TEST(ConverterEncodeTest, TimeFieldsAreNeverShifted) {
    const EncodeCase cases[] = {
        {"time", "x", 0, "12::30", 0, {}},
        {"time", "x", 0, "12:30:", 0, {}},
        {"time", "x", 0, ":30", 0, {}},
        {"time", "x", 0, "12:x", 0, {}},
        {"time", "x", 0, "12:30x", 0, {}},
        {"time", "x", 0, "12 30", 0, {}},
        {"time", "x", 0, "1:2:3:4", 0, {}},
        {"time", "x", 0, "-1:30", 0, {}},
        {"time", "x", 0, " 12 : 30 ", 1, {0x0C, 0x1E, 0x22}},
        {"time", "x", 0, "7", 1, {0x07, 0x13}},
        {"datetime", "x", 0, "05.07.23 10:x:30", 0, {}},
        {"datetime", "x", 0, "05..07.23", 0, {}},
        {"datetime", "x", 0, "05.07.23 10:20:", 0, {}},
        {"datetime", "x", 0, "05.07.23 10:20:30:40", 0, {}},
        {"datetime", "x", 0, "05.07", 0, {}},
        {"datetime", "x", 0, "05.07.23  10:20", 1, {0x17, 0x06, 0x04, 0x0A, 0x14, 0x00, 0x61}},
        {"datetime", "x", 0, "5.7.23 10.20.30", 1, {0x17, 0x06, 0x04, 0x0A, 0x14, 0x1E, 0x61}},
        {"CLK frm", "x", 0, "1::5", 0, {}},
        {"CLK frm", "x", 0, "1:x", 0, {}},
        {"CLK frm", "x", 0, "", 0, {}},
        {"CLK frm", "x", 0, "2.5", 0, {}},
        {"CLK frm", "x", 0, " 2 : 05 ", 1, {0x7D}},
    };
    for (const EncodeCase& t : cases) {
        SCOPED_TRACE(std::string(t.type) + " / " + t.text);
        Encoded e = Encode(Make(t.name, t.type, t.decimals), t.text);
        EXPECT_EQ(e.result, t.result);
        EXPECT_EQ(e.data, t.data);
    }
}

TEST(ConverterNumberTest, LeadingNumberMarksOverflowAndExponent) {
    ValueNumber big = ReadValueNumber("  -1e400 volts");
    EXPECT_EQ(big.length, 8u);
    EXPECT_TRUE(big.overflow);
    EXPECT_TRUE(big.exponent);
    ValueNumber tiny = ReadValueNumber("0." + std::string(600, '0') + "1");
    EXPECT_EQ(tiny.length, 603u);
    EXPECT_FALSE(tiny.overflow);
    EXPECT_EQ(tiny.value, 0.0);
    EXPECT_EQ(ReadValueNumber("12.5e").length, 4u);  // an 'e' without digits is no exponent
    EXPECT_EQ(ReadValueNumber("-.").length, 0u);
    EXPECT_EQ(ReadValueNumber("nan").length, 0u);

    EXPECT_TRUE(Make("x", "float").HasEncoder());
    EXPECT_TRUE(Make("x", kSwitch).HasEncoder());
    EXPECT_TRUE(Make("aply", "string").HasEncoder());
    EXPECT_FALSE(Make("x", "string").HasEncoder());
    EXPECT_FALSE(Make("x", MyConverter::kUnknownType).HasEncoder());
}

TEST(ConverterEncodeTest, FailureLeavesBufferAlone) {
    std::uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    int count = 9;
    EXPECT_EQ(Make("x", "byte").ConvertToData("999", out, count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(out[0], 0xEE);
}

TEST(ConverterEncodeTest, EnumerationIndexSwitchAndLabelLimit) {
    MyConverter c = Make("x", kSwitch);
    EXPECT_EQ(Encode(c, "2", true).data, Bytes{0x02});
    EXPECT_EQ(Encode(c, "3", true).result, 0);
    EXPECT_EQ(Encode(c, "Авто", true).result, 0);

    std::string many;
    for (int i = 0; i < 130; ++i)
        many += (i ? ":L" : "L") + std::to_string(i);
    c.type = many;
    EXPECT_EQ(Encode(c, "L126").data, Bytes{126});
    EXPECT_EQ(Encode(c, "L127").result, 0);
    EXPECT_EQ(Encode(c, "127", true).result, 0);
}

TEST(ConverterEncodeTest, AccessAttributesMarkedAtFullLevel) {
    MyConverter c = Make("r.acc", kAccess);
    MyConverter::SetDocumentAccessLevel(2);
    EXPECT_EQ(Encode(c, "Редактируемый, Пользовательский").data, Bytes{0xAF});
    MyConverter::SetDocumentAccessLevel(1);
    EXPECT_EQ(Encode(c, "Редактируемый, Пользовательский").data, Bytes{0x03});
    MyConverter::SetDocumentAccessLevel(-1);
    EXPECT_EQ(Encode(c, "Не редактируемый, Заводской").data, Bytes{0x00});
    // As a loaded table spells it, with blanks for the underscores.
    MyConverter::SetDocumentAccessLevel(2);
    MyConverter loaded = Make("r.acc", ReplaceAll(kAccess, "_", " ").c_str());
    EXPECT_EQ(Encode(loaded, "Не редактируемый, Пользовательский").data, Bytes{0xAE});
    // Only that exact enumeration carries the mark.
    EXPECT_EQ(Encode(Make("x", kSwitch), "Авто").data, Bytes{0x02});
    MyConverter::SetDocumentAccessLevel(-1);
}

TEST(ConverterEncodeTest, NetworkName) {
    MyConverter c = Make("n.nam", "name");
    EXPECT_EQ(Encode(c, "ab").data, (Bytes{78, 78, 22, 20}));
    EXPECT_EQ(Encode(c, "A.B.C.D.").data, (Bytes{27, 25, 23, 21}));
    EXPECT_EQ(Encode(c, "-_ 9").data, (Bytes{18, 78, 74, 72}));

    const std::pair<const char*, const char*> failures[] = {
        {"", "Сетевое имя пусто"},
        {"123456789", "Сетевое имя слишком длинное"},
        {"ABCDE", "Сетевое имя слишком длинное"},
        {".AB", "Недопустимый символ в сетевом имени"},
        {"A..B", "Недопустимый символ в сетевом имени"},
        {"A*B", "Недопустимый символ в сетевом имени"},
        {"Ж", "Недопустимый символ в сетевом имени"},
    };
    for (auto [text, reason] : failures) {
        std::string error;
        Encoded e = Encode(c, text, false, &error);
        EXPECT_EQ(e.result, -1) << text;
        EXPECT_TRUE(e.data.empty()) << text;
        EXPECT_EQ(error, reason) << text;
    }
    EXPECT_EQ(Encode(c, "").result, -1);  // no error text wanted

    for (const char* name : {"A-_9", "A.1", "Z.9.-"}) {
        Encoded e = Encode(c, name);
        ASSERT_EQ(e.result, 1);
        ASSERT_EQ(c.ConvertFromData(e.data.data(), 4, false), 1);
        EXPECT_EQ(c.value.substr(0, std::string(name).size()), name);
    }
}

// ---------------------------------------------------------------------------

struct DecodeCase {
    const char* name;
    const char* type;
    int decimals;
    bool indexed;
    Bytes data;
    int result;
    const char* text;
};

void CheckDecode(const DecodeCase& t) {
    SCOPED_TRACE(std::string(t.name) + " / " + t.type + " / " + std::to_string(t.data.size()));
    MyConverter c = Make(t.name, t.type, t.decimals);
    c.value = "before";
    EXPECT_EQ(c.ConvertFromData(t.data.data(), static_cast<int>(t.data.size()), t.indexed),
              t.result);
    EXPECT_EQ(c.value, t.result == 0 ? "before" : t.text);
}

TEST(ConverterDecodeTest, TypeLayouts) {
    const std::string lengthError3 = "Ошибка; (Непонятная длина ответа:3)";
    const DecodeCase cases[] = {
        {"x", "float", 2, false, {0x41, 0x48, 0, 0}, 1, "12.50"},
        {"x", "float", 9, false, {0x41, 0x48, 0, 0}, 1, "12.500"},
        {"x", "float", 1, true, {0x41, 0x48, 0, 0, 0, 5}, 1, "12.5"},
        {"r.oe", "float", 3, false, {0x3D, 0xCC, 0xCC}, 1, "0.100"},
        {"x", "float", 0, false, {0xFF, 0xFF, 0xFF, 0xFF}, 1, "недопустимое значение"},
        {"x", "float", 0, false, {0x7F, 0x80, 0, 1}, 1, "недопустимое значение"},
        {"x", "float", 0, false, {0x41, 0x48, 0}, -1, lengthError3.c_str()},
        {"x", "STORED DOT", 1, false, {0x10, 0x7D}, 1, "12.5"},
        {"x", "STORED DOT", 3, false, {0xB0, 0x01}, 1, "-0.001"},
        {"x", "STORED DOT", 1, false, {0x10, 0xC3, 0x50}, 1, "5000.0"},
        {"x", "STORED DOT", 0, false, Bytes(9, 0x01), 0, ""},
        {"x", "STORED DOT", 0, true, {0x00, 0x01}, -1, "Ошибка; (Непонятная длина ответа:2)"},
        {"x", "DEC dot", 0, false, {0x01, 0x2C}, 1, "300"},
        {"x", "DEC dot", 0, true, {0x01, 0x2C, 0x00, 0x07}, 1, "300"},
        {"x", "DEC dot", 0, false, Bytes(5, 1), -1, "Ошибка; (Непонятная длина ответа:5)"},
        {"x", "int16", 0, false, {0xFF, 0xFE}, 1, "-2"},
        {"x", "int16", 0, true, {0xFF, 0xFE, 0x00, 0x03}, 1, "-2"},
        {"x", "int16", 0, true, {0xFF, 0xFE, 0x00}, -1, lengthError3.c_str()},
        {"x", "uint16", 0, false, {0xFF, 0xFE}, 1, "65534"},
        {"x", "byte", 0, false, {0xC8}, 1, "200"},
        {"x", "bin", 0, false, {0x05}, 1, "10100000"},
        {"x", "DWORD", 0, false, {0xFF, 0xFF, 0xFF, 0xFF}, 1, "4294967295"},
        {"x", "time", 0, false, {0x0C, 0x1E, 0x00, 0x22}, 1, "12:30:00"},
        {"x",
         "datetime",
         0,
         false,
         {0x17, 0x06, 0x04, 0x0A, 0x14, 0x1E, 0x61},
         1,
         "05.07.23 10:20:30"},
        {"x", "CLK frm", 0, false, {0x7D}, 1, "02:05"},
        {"x", "CLK frm", 0, false, {0x0E, 0x10}, 1, "60:00"},
        {"x", "CLK frm", 0, false, {1, 2, 3}, -1, lengthError3.c_str()},
        {"x", "string", 0, false, {'C', 'B', 'A'}, 1, "ABC"},
        {"x", "ASCI", 0, false, {0xF0, 0xCF}, 1, "Пр"},
        {"x", "string", 0, false, {0, 0, 'B', 'A'}, 1, "AB"},
        {"x", "string", 0, true, {'B', 'A', 0x00, 0x41}, 1, "AB"},
        {"x", "name", 0, false, {78, 78, 22, 20}, 1, "AB  "},
        {"x", "name", 0, false, {78, 78, 2, 21}, 1, "A.1  "},
        {"x", "name", 0, false, {78, 80, 2, 21}, -1, "Недопустимый код символа в сетевом имени"},
        {"x", kSwitch, 0, false, {0x02}, 1, "Авто"},
        {"x", kSwitch, 0, false, {0x03}, 0, ""},
        {"x", "Не_задан:Задан", 0, false, {0x00}, 1, "Не задан"},
        {"x", kSwitch, 0, true, {0x00, 0x01}, -1, "Ошибка; (Непонятная длина ответа:2)"},
        {"x", MyConverter::kUnknownType, 0, false, {0x00}, 0, ""},
        {"x", "byte", 0, false, {}, 0, ""},
    };
    for (const DecodeCase& t : cases)
        CheckDecode(t);
}

TEST(ConverterDecodeTest, ByName) {
    const char* bps = "1200:2400:4800:9600:14400:19200:28800:38400:57600:115200";
    const char* parity = "Even:Odd:Space:Mark:No Parity";
    const std::string registerFault =
        "Ошибки регистров ввода/вывода. Номеру сбившегося регистра :  40";
    const DecodeCase cases[] = {
        {"APLY", "byte", 0, false, {}, 1, ""},
        {"aply", "byte", 0, false, {0x07}, 1, "7"},
        {"dev", "неизвестен", 0, false, {'v', '2', '.', '1'}, 1, "1.2v"},
        {"exit", "byte", 0, false, {24, 0x04, 0xD2}, 1, "Адрес прибора: 1234"},
        {"exit", "byte", 0, false, {0, 0, 7}, 1, "сброс по питанию"},
        {"exit", "byte", 0, false, {0, 0, 40}, 1, registerFault.c_str()},
        {"exit", "byte", 0, false, {0, 7}, -1, "Ошибка; (Непонятная длина ответа:2)"},
        {"bPS", bps, 0, false, {3}, 1, "9600"},
        {"bps", bps, 0, false, {20}, 1, kNoData},
        {"PrtY", parity, 0, false, {4}, 1, "No Parity"},
        {"PrtY", parity, 0, false, {9}, 0, ""},
        {"LEn", "5:6:7:8", 0, false, {2}, 1, "7"},
        {"Len", "5:6:7:8", 0, false, {4}, 0, ""},
        {"A.Len", "8:11", 0, false, {1}, 1, "11"},
        {"Addr", "DEC dot", 0, false, {0x10}, 1, "16"},
        {"Addr", "DEC dot", 0, false, {0x01, 0x00}, 1, "256"},
        {"Addr", "DEC dot", 0, false, {1, 2, 3}, 0, ""},
        {"rEAd", "float", 0, false, {0x41, 0xBA, 0, 0}, 1, "23.250"},
        {"r.cal", "float", 0, false, {0x3F, 0x00, 0, 0}, 1, "0.500"},
        {"rEAd", "float", 0, false, {0xFD}, 1, "Обрыв датчика."},
        {"rd.rg", "float", 0, false, {0x7F, 0x80, 0, 0}, 1, "Переполнение"},
        {"rEAd", "float", 0, false, {0x41, 0xBA}, -1, "Ошибка; (Непонятная длина ответа:2)"},
        {"r.OUt",
         "float",
         0,
         false,
         {0xF3, 0, 0, 1},
         1,
         "у регулятора отсутствует уставка или регулятор не работает в данный момент"},
        {"r.OUt", "float", 0, false, {0xF3, 0, 0, 7}, 1, "Неизвестный подкод ошибки 7"},
        {"rEAd",
         "float",
         0,
         false,
         {0xF5, 0, 0, 11},
         1,
         "На входе вычислителя корня отрицательное число"},
        {"rEAd", "float", 0, false, {0xF5, 0, 0, 12}, 1, "Неизвестный подкод ошибки 12"},
        {"rEAd", "float", 0, false, {0xF5}, -1, "Ошибка; (Непонятная длина ответа:1)"},
        {"rEAd", "float", 0, false, {0xFA}, 1, "Вычисленное значение слишком велико."},
        {"Set.P",
         "float",
         0,
         false,
         {0xFA},
         1,
         "У регулятора отсутствует уставка или регулятор не работает."},
        {"set.p", "float", 0, false, {0xFB}, 1, "У регулятора уставка типа “Мощность”."},
        {"r.St", "byte", 0, false, {0xF3}, 1, "Не могу преобразовать коэффициенты ."},
        {"r.St", "byte", 0, false, {0xFB}, 1, "Вычисленное значение слишком мало."},
        {"r.kEY", "byte", 0, false, {0x00, 0x05}, 1, "5"},
        {"r.PrG", kSwitch, 0, false, {0x01}, 1, "Вкл"},
    };
    for (const DecodeCase& t : cases)
        CheckDecode(t);
}

TEST(ConverterStatusTest, Tables) {
    // Readings and states differ only in the coefficient codes.
    for (unsigned code = 0xF0; code <= 0xFF; ++code) {
        const std::uint8_t data[4] = {static_cast<std::uint8_t>(code), 0, 0, 1};
        std::string reading = ReadingStatusText(data, 4, false);
        std::string state = StateStatusText(data[0]);
        EXPECT_FALSE(reading.empty()) << code;
        if (code == 0xF0 || code >= 0xF7) {
            EXPECT_EQ(state, reading) << code;
        } else {
            EXPECT_EQ(state, "Не могу преобразовать коэффициенты .") << code;
        }
    }
    EXPECT_EQ(StateStatusText(0xEF), "");
    EXPECT_EQ(ReadingStatusText(nullptr, 4, false), "");

    EXPECT_EQ(RestartCauseText(1), RestartCauseText(14));
    EXPECT_EQ(RestartCauseText(15),
              "Повторная проверка обнаружила неисправимый код (Check_Segment)");
    EXPECT_EQ(RestartCauseText(95), "Сбой регистра SREG");
    EXPECT_EQ(RestartCauseText(94).substr(RestartCauseText(94).size() - 3), " 94");
    for (int code : {0, 16, 31, 96, 255})
        EXPECT_EQ(RestartCauseText(static_cast<std::uint8_t>(code)), "Не найдено значение ошибки ")
            << code;
}

// Every decoder must give a result for any bytes and any claimed count, and
// never read outside the bytes it was given.
TEST(ConverterTotalityTest, AnyDataAnyCount) {
    const char* types[] = {"float", "STORED DOT", "DEC dot",  "int16",   "uint16", "byte", "bin",
                           "DWORD", "time",       "datetime", "CLK frm", "string", "ASCI", "name",
                           kSwitch, "неизвестен", "",         "float:x", "a"};
    const char* names[] = {"x",    "r.oe", "rEAd", "Set.P", "r.St", "exit",  "dev",
                           "APLY", "bPS",  "PrtY", "Sbit",  "LEn",  "A.Len", "Addr"};
    std::mt19937 random(7);
    for (const char* type : types) {
        for (const char* name : names) {
            MyConverter c = Make(name, type, 2);
            for (int count = 0; count <= 104; ++count) {
                for (bool indexed : {false, true}) {
                    Bytes data(static_cast<std::size_t>(count));
                    for (auto& b : data)
                        b = static_cast<std::uint8_t>(random());
                    if (count > 0 && count % 3 == 0) data[0] = 0xF5;
                    // A count beyond the buffer of an answer is clamped to it.
                    int claimed = count == 104 ? 1000 : count;
                    if (count == 104) data.resize(MyConverter::kMaxRawData);
                    c.value = "before";
                    int r = c.ConvertFromData(data.data(), claimed, indexed);
                    ASSERT_TRUE(r >= -1 && r <= 1);
                    if (r == 0) {
                        ASSERT_EQ(c.value, "before");
                    }
                    ASSERT_LE(Utf8Length(c.value), MyConverter::kMaxValueText);
                }
            }
            // No data fails, except for "APLY", whose answer carries none.
            EXPECT_EQ(c.ConvertFromData(nullptr, 5, false), EqualsNoCase(name, "APLY") ? 1 : 0);

            const std::string texts[] = {std::string(1000, '9'),
                                         std::string(1000, ':'),
                                         "1e308",
                                         "-1e308",
                                         "nan",
                                         "1:2:3:4:5:6:7:8:9",
                                         "99999999999999999999999",
                                         std::string("\x80\xff"),
                                         std::string(600, 'a') + "Ж"};
            for (const std::string& text : texts) {
                for (bool indexSwitch : {false, true}) {
                    Encoded e = Encode(c, text, indexSwitch);
                    ASSERT_TRUE(e.result >= -1 && e.result <= 1);
                    ASSERT_LE(e.data.size(), 8u);
                    if (e.result != 1) {
                        ASSERT_TRUE(e.data.empty());
                    }
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------

TEST(ConverterLabelTest, IndexAndLabelTexts) {
    MyConverter c = Make("x", kSwitch);
    EXPECT_TRUE(c.IsEnumeration());
    EXPECT_EQ(c.Labels(), (std::vector<std::string>{"Выкл", "Вкл", "Авто"}));
    EXPECT_EQ(c.LabelToIndexText("авто"), "2");
    EXPECT_EQ(c.LabelToIndexText("Ручной"), "-1");
    EXPECT_EQ(c.IndexTextToLabel("2"), "Авто");
    EXPECT_EQ(c.IndexTextToLabel("вкл"), "Вкл");
    EXPECT_EQ(c.IndexTextToLabel("7"), kNoData);
    EXPECT_EQ(c.IndexTextToLabel(""), "");
    EXPECT_EQ(c.IndexTextToLabel(kNoData), kNoData);
    EXPECT_EQ(c.IndexToLabel(1), "Вкл");
    EXPECT_EQ(c.IndexToLabel(3), kNoData);
    EXPECT_EQ(c.IndexToLabel(-1), "");

    // Labels that are numbers or begin with one are still found by their text.
    c.type = "1 мин:5 мин:10";
    EXPECT_EQ(c.IndexTextToLabel("5 мин"), "5 мин");
    EXPECT_EQ(c.IndexTextToLabel("10"), "10");
    EXPECT_EQ(c.IndexTextToLabel("1"), "5 мин");

    c.type = "DEC dot";
    EXPECT_FALSE(c.IsEnumeration());
    EXPECT_TRUE(c.Labels().empty());
    EXPECT_EQ(c.LabelToIndexText("12"), "12");
    EXPECT_EQ(c.IndexTextToLabel("12"), "12");
    EXPECT_EQ(c.IndexToLabel(7), "7");

    // A list of one serial port is a choice too; an undescribed type is not.
    const std::pair<const char*, bool> kinds[] = {
        {"COM1", true},  {"name:x", true}, {"float:x", false},
        {"name", false}, {"", false},      {"неизвестен", false},
    };
    for (auto [type, isEnum] : kinds)
        EXPECT_EQ(Make("x", type).IsEnumeration(), isEnum) << type;
}

TEST(ConverterFitTextTest, DecimalsAndRange) {
    MyConverter c = Make("x", "STORED DOT", 2);
    EXPECT_EQ(c.FitText("1.23456"), "1.23");
    EXPECT_EQ(c.FitText("12."), "12");
    EXPECT_EQ(c.FitText("12"), "12");
    c.decimals = 0;
    EXPECT_EQ(c.FitText("1.5", true), "1");
    c.maxValue = 999;
    EXPECT_EQ(c.FitText("12.34"), "12.3");
    EXPECT_EQ(c.FitText("1234"), "123");
    EXPECT_EQ(c.FitText("abc"), "abc");
    c.maxValue = 99;
    EXPECT_EQ(c.FitText("12.34"), "12");
    // Without a range no digit is dropped.
    c.maxValue = 0;
    EXPECT_EQ(c.FitText("12.34"), "12.34");
}

TEST(ConverterSerializeTest, StoresIndexTextAndReadsLabel) {
    MyConverter c = Make("in.t", kSwitch);
    c.value = "Авто";
    Archive out;
    c.Serialize(out);
    EXPECT_EQ(out.Data(), (Bytes{4, 'i', 'n', '.', 't', 1, '2'}));

    MyConverter back = Make("", kSwitch);
    Archive in(out.Data());
    back.Serialize(in);
    EXPECT_EQ(back.name, "in.t");
    EXPECT_EQ(back.value, "Авто");

    // A damaged archive changes nothing.
    MyConverter damaged = Make("keep", kSwitch);
    Archive shortIn(Bytes{4, 'i', 'n', '.', 't'});
    EXPECT_THROW(damaged.Serialize(shortIn), ArchiveError);
    EXPECT_EQ(damaged.name, "keep");
}

// Numbers on the wire and in value texts use a point whatever the locale says.
TEST(ConverterLocaleTest, CommaLocaleKeepsPoint) {
    std::string previous = std::setlocale(LC_ALL, nullptr);
    const char* found = nullptr;
    for (const char* name : {"ru_RU.UTF-8", "ru_RU.utf8", "de_DE.UTF-8", "fr_FR.UTF-8"}) {
        if (std::setlocale(LC_ALL, name) && *std::localeconv()->decimal_point == ',') {
            found = name;
            break;
        }
    }
    if (!found) {
        std::setlocale(LC_ALL, previous.c_str());
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    MyConverter c = Make("rEAd", "float", 3);
    const std::uint8_t reading[4] = {0x41, 0xBA, 0, 0};
    EXPECT_EQ(c.ConvertFromData(reading, 4, false), 1);
    EXPECT_EQ(c.value, "23.250");
    c.name = "x";
    EXPECT_EQ(c.ConvertFromData(reading, 4, false), 1);
    EXPECT_EQ(c.value, "23.250");
    EXPECT_EQ(Encode(Make("x", "STORED DOT"), "12.5").data, (Bytes{0x10, 0x7D}));
    std::setlocale(LC_ALL, previous.c_str());
}

}  // namespace
