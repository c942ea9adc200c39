// The device model seen through the master's codec: what a request gets back.

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <string>
#include <vector>

#include "platform/text.h"
#include "sim_support.h"

namespace {

using simtest::Bytes;
using simtest::Decode;
using simtest::Device;
using simtest::Index;

constexpr std::uint16_t kErr = 0x0233;

TEST(SimIdentification, EachModificationIsRecognisedByTheMastersKey) {
    for (const CDeviceDescription& d : DeviceDescriptions()) {
        SCOPED_TRACE(d.displayName);
        Device device(d.alias);
        ASSERT_TRUE(device.loaded);
        const auto dev = device.Read("dev");
        const auto pver = device.Read("p.ver");
        const auto ver = device.Read("ver");
        ASSERT_EQ(dev.hash, hash_name("dev"));
        ASSERT_EQ(pver.hash, hash_name("p.ver"));
        const std::string devText(TrimRight(Decode("dev", "ASCI", dev.data)));
        const std::string pverText = Decode("p.ver", "ASCI", pver.data);
        EXPECT_EQ(devText + "-" + std::string(Utf8Prefix(pverText, 2)), d.displayName);
        EXPECT_FALSE(Decode("ver", "ASCI", ver.data).empty());
        // Cyrillic travels in code page 1251: one byte a character.
        EXPECT_EQ(dev.data.size(), 6u);
        EXPECT_EQ(device.Read("n.Err").data, Bytes{0});
        EXPECT_EQ(Decode("exit", "byte", device.Read("exit").data), "сброс по питанию");
    }
}

TEST(SimIdentification, OverridesAnswerInsteadOfTheModificationsOwn) {
    sim::ModelSettings settings;
    settings.dev = "Другой";
    settings.pver = "Х9.01";
    settings.restartCause = 8;
    Device device("b2", settings);
    EXPECT_EQ(Decode("dev", "ASCI", device.Read("dev").data), "Другой");
    EXPECT_EQ(Decode("p.ver", "ASCI", device.Read("p.ver").data), "Х9.01");
    EXPECT_EQ(Decode("exit", "byte", device.Read("exit").data), "Самопроизвольный watchdog");
}

struct Case {
    const char* what;
    bool read;
    const char* name;
    Bytes data;  // value bytes, then index bytes
    int offset;
    int error;       // expected n.Err code, or -1 for a data answer
    Bytes expected;  // data answer
};

TEST(SimRequests, AnswersAndErrorCodes) {
    const std::vector<Case> cases = {
        {"plain read", true, "A.Len", {}, 0, -1, {0x00}},
        {"address as DEC dot", true, "Addr", {}, 0, -1, {0x00, 0x10}},
        {"factory value, indexed", true, "in.sl", Index(1), 0, -1, {0x3F, 0x80, 0, 0, 0, 1}},
        {"write answers the new value",
         false,
         "in.sl",
         {0x3F, 0xC0, 0, 0, 0, 1},
         0,
         -1,
         {0x3F, 0xC0, 0, 0, 0, 1}},
        {"and keeps it", true, "in.sl", Index(1), 0, -1, {0x3F, 0xC0, 0, 0, 0, 1}},
        {"enumeration factory label", true, "in.t", Index(0), 0, -1, {4, 0, 0}},
        {"time stored as four bytes",
         false,
         "St.tm",
         {0x0C, 0x1E, 0x22, 0, 3},
         0,
         -1,
         {0x0C, 0x1E, 0, 0x22, 0, 3}},
        {"access attribute marked 0xAC", false, "L.At", {0xAD, 0, 2}, 0, -1, {0x01, 0, 2}},
        {"operative reading at its offset", true, "r.St", {}, 5, -1, {0x01}},
        {"unknown hash", true, "zzzz", {}, 0, 0x28, {}},
        {"plain parameter at an object offset", true, "in.sl", Index(1), 3, 0x28, {}},
        {"read-only by the table", false, "dev", {0x41}, 0, 0x33, {}},
        {"reading", false, "rEAd", {0, 0, 0, 0}, 1, 0x33, {}},
        {"access attribute forbids", false, "offs", {0, 1}, 0, 0x33, {}},
        {"protected without the access code", false, "r.co", {0x01}, 0, 0x33, {}},
        {"value too short", false, "in.sl", {0x3F, 0xC0, 0, 1}, 0, 0x31, {}},
        {"index missing", true, "in.sl", {}, 0, 0x31, {}},
        {"read with data", true, "in.sl", {0x3F, 0, 1}, 0, 0x31, {}},
        {"plain read with data", true, "A.Len", {0x01}, 0, 0x31, {}},
        {"index beyond the family", true, "in.sl", Index(8), 0, 0x34, {}},
        {"far index", true, "in.sl", Index(0xFFFF), 0, 0x34, {}},
        {"no such label", false, "in.t", {0x40, 0, 0}, 0, 0x06, {}},
        {"above the range", false, "in.F", {0, 61, 0, 0}, 0, 0x06, {}},
        {"decimal point above 3", false, "in.Lo", {0x50, 0x01, 0, 0}, 0, 0x02, {}},
        {"8-bit address above 255", false, "Addr", {0x01, 0x2C}, 0, 0x47, {}},
        {"two stop bits", false, "Sbit", {0x02}, 0, -1, {0x02}},
        {"then even parity", false, "PrtY", {0x00}, 0, 0x47, {}},
        {"hour 24", false, "rtC", {23, 0, 0, 24, 0, 0, 0x61}, 0, 0x06, {}},
    };
    Device device("b4");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto a = device.Exchange(c.offset, c.read, c.name, c.data);
        ASSERT_TRUE(a.answered);
        EXPECT_EQ(a.status, AnswerStatus::Ok);
        if (c.error >= 0) {
            EXPECT_EQ(a.hash, kErr);
            EXPECT_EQ(a.data, Bytes{static_cast<std::uint8_t>(c.error)});
            // n.Err keeps the code for the next question.
            EXPECT_EQ(device.Read("n.Err").data, Bytes{static_cast<std::uint8_t>(c.error)});
        } else {
            EXPECT_EQ(a.hash, hash_name(c.name));
            EXPECT_EQ(a.data, c.expected);
        }
    }
}

TEST(SimRequests, ApplyIsNeverAnswered) {
    Device device("a1");
    EXPECT_FALSE(device.Exchange(0, false, "APLY").answered);
    EXPECT_FALSE(device.Exchange(0, true, "APLY").answered);
}

TEST(SimRequests, ValuesDecodeAsTheMasterShowsThem) {
    Device device("b4");
    EXPECT_EQ(Decode("in.sl", "float", device.Read("in.sl", Index(0)).data, true, 3), "1.000");
    EXPECT_EQ(Decode("A.Len", "8:11", device.Read("A.Len").data), "8");
    EXPECT_EQ(Decode("bPS", "1200:2400:4800:9600:14400:19200:28800:38400:57600:115200",
                     device.Read("bPS").data),
              "9600");
    EXPECT_EQ(Decode("ou.dl", "CLK frm", device.Read("ou.dl", Index(0)).data, true), "00:05");
    EXPECT_EQ(Decode("in.Hi", "STORED DOT", device.Read("in.Hi", Index(0)).data, true), "100");
    EXPECT_EQ(
        Decode("St.tm", "time", device.Write("St.tm", {0x0C, 0x1E, 0x22}, Index(3)).data, true),
        "12:30:00");
}

TEST(SimProtection, AccessCodeUnlocksOneProtectedWriteAndResetRestoresFactoryValues) {
    Device device("a1");
    ASSERT_EQ(device.Write("in.sl", {0x40, 0, 0, 0}, Index(0)).hash, hash_name("in.sl"));

    device.Write("pass", {0x01, 0x10});  // 272: wrong code
    EXPECT_EQ(device.Write("r.co", {0x01}).data, Bytes{0x33});

    device.Write("pass", {0x01, 0x0F});  // 271
    const auto reset = device.Write("r.co", {0x01});
    EXPECT_EQ(reset.hash, hash_name("r.co"));
    EXPECT_EQ(reset.data, Bytes{0x01});
    EXPECT_EQ(device.Read("in.sl", Index(0)).data, (Bytes{0x3F, 0x80, 0, 0, 0, 0}));
    // The address survives: network settings have no factory value.
    EXPECT_EQ(device.Read("Addr").data, (Bytes{0, 16}));

    EXPECT_EQ(device.Write("r.co", {0x01}).data, Bytes{0x33});
}

TEST(SimObjects, RegulationAnswersAtEveryObjectOffset) {
    Device device("a1");  // one object in the description
    auto state = [&](int k) { return device.Read("r.st", {}, k).data; };
    auto command = [&](int k, std::uint8_t start) {
        return device.Write("r-s", {start}, {}, k).hash == hash_name("r-s");
    };
    EXPECT_EQ(state(0), Bytes{1});
    EXPECT_EQ(state(7), Bytes{0});
    // Channel counts at 8 × object; objects the description lacks have none.
    EXPECT_EQ(device.Read("n.Ch", Index(0)).data, (Bytes{0, 1, 0, 0}));
    EXPECT_EQ(device.Read("n.Ch", Index(56)).data, (Bytes{0, 0, 0, 56}));
    EXPECT_EQ(device.Read("n.Ch", Index(0), 5).data, (Bytes{0, 1, 0, 0}));
    EXPECT_EQ(device.Read("n.Ch", Index(64)).data, Bytes{0x34});
    EXPECT_EQ(device.Read("n.Ch", Index(4)).data, Bytes{0x34});

    ASSERT_TRUE(command(0, 0));
    EXPECT_EQ(state(0), Bytes{0});
    EXPECT_EQ(Decode("Set.P", "float", device.Read("Set.P").data),
              "У регулятора отсутствует уставка или регулятор не работает.");
    ASSERT_TRUE(command(0, 1));
    EXPECT_EQ(state(0), Bytes{1});

    ASSERT_TRUE(command(3, 1));  // no channels: it does not start
    EXPECT_EQ(state(3), Bytes{0});
    device.Write("n.Ch", {0, 2}, Index(24));
    ASSERT_TRUE(command(3, 1));
    EXPECT_EQ(state(3), Bytes{1});

    device.Write("str.s", {0}, {}, 6);  // the switch is the device's, at any offset
    EXPECT_EQ(device.Read("str.s").data, Bytes{0});
    ASSERT_TRUE(command(0, 0));  // taken, but network control is off
    EXPECT_EQ(state(0), Bytes{1});
}

TEST(SimReadings, ChangeWithTimeAndReportStatusCodes) {
    Device device("b2");  // four inputs
    auto reading = [&](const char* name, int k, double now) {
        return Decode(name, "float", device.Read(name, {}, k, now).data, false, 3);
    };
    double value = 0;
    ASSERT_GT(ParseLeadingReal(reading("rEAd", 0, 5), value), 0u) << reading("rEAd", 0, 5);
    EXPECT_NE(reading("rEAd", 0, 5), reading("rEAd", 0, 12));
    EXPECT_NE(reading("rEAd", 0, 5), reading("rEAd", 1, 5));

    // The last input has a sensor break for ten seconds of every minute.
    EXPECT_EQ(reading("rEAd", 3, 45), "Обрыв датчика.");
    EXPECT_NE(reading("rEAd", 3, 55), "Обрыв датчика.");

    device.Write("in.t", {0}, Index(1));  // sensor type "Отключен"
    EXPECT_EQ(reading("rEAd", 1, 5), "Датчик отключен.");
    // Channel 2 records input 2.
    EXPECT_EQ(reading("rd.rg", 1, 5), "Датчик отключен.");

    device.Write("cv.t", {0}, Index(2));
    EXPECT_EQ(reading("r.CAL", 2, 5), "Вычислитель отключен");

    const auto level = device.Read("r.oe", {}, 0, 5);
    EXPECT_EQ(level.data.size(), 3u);
    EXPECT_NE(device.Read("r.cn", {}, 0, 0).data, device.Read("r.cn", {}, 0, 2).data);
}

TEST(SimReadings, ClockRunsFromTheWallClockAndCanBeSet) {
    Device device("a1");
    const std::time_t wall = 1700000000;
    std::tm local{};
    localtime_r(&wall, &local);
    const std::string expected =
        Format("%02d.%02d.%02d %02d:%02d:%02d", local.tm_mday, local.tm_mon + 1,
               local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec);
    EXPECT_EQ(Decode("rtC", "datetime", device.Read("rtC").data), expected);

    const auto set = device.Write("rtC", {24, 0, 30, 12, 0, 0, 0x61});  // 31.01.24 12:00:00
    EXPECT_EQ(set.hash, hash_name("rtC"));
    EXPECT_EQ(Decode("rtC", "datetime", set.data), "31.01.24 12:00:00");
    EXPECT_EQ(Decode("rtC", "datetime", device.Read("rtC").data), "31.01.24 12:00:00");
}

}  // namespace
