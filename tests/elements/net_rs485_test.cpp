#include "elements/net_rs485.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "link/device_io.h"
#include "platform/app_state.h"
#include "platform/settings_store.h"
#include "support/message_recorder.h"

using namespace Elements;

namespace {

// Each test starts with an empty user layer.
class NetSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { std::filesystem::remove(SettingsStore::Instance().UserPath()); }
};

}  // namespace

TEST_F(NetSettingsTest, EmptyStoreGivesTheDefaults) {
    NetRS485prg s;
    EXPECT_EQ(s.GetValue("Addr"), "16");
    EXPECT_EQ(s.GetValue("A.Len"), "8");
    EXPECT_EQ(s.GetValue("bPS"), "9600");
    EXPECT_EQ(s.GetValue("LEn"), "8");
    EXPECT_EQ(s.GetValue("Sbit"), "1");
    EXPECT_EQ(s.GetValue("PrtY"), "No Parity");
    EXPECT_EQ(s.GetValue("Port"), "COM1");
    EXPECT_FALSE(s.HasChanges(true));
    EXPECT_EQ(s.parameters.size(), 7u);
    EXPECT_EQ(s.Image(), 19);
    EXPECT_EQ(
        s.SettingsSummary(),
        "Скорость: 9600\r\nДлина слова данных: 8\r\nЧетность: No Parity\r\nКол-во стоп-бит: 1\r\n"
        "Длина адреса: 8\r\nАдрес: 16\r\nCOM-порт: COM1\r\n");
    NetRS485 device;
    EXPECT_EQ(device.parameters.size(), 6u);
    EXPECT_EQ(device.GetValue("bPS"), "Нет данных");
    EXPECT_EQ(device.TypeName(), "Настройки RS-485");
}

TEST_F(NetSettingsTest, SettingsSurviveARestartWithOneAndAHalfStopBitsAsOne) {
    {
        NetRS485prg s;
        s.SetValue("Sbit", "1.5", true);
        s.SetValue("PrtY", "Odd", true);
        s.SetValue("Addr", "300", true);
        s.SetValue("A.Len", "11", true);
        s.SetValue("Port", "COM7", true);
        s.SetValue("bPS", "115200", true);
    }
    NetRS485prg again;
    EXPECT_EQ(again.GetValue("Sbit"), "1");
    EXPECT_EQ(again.GetValue("PrtY"), "Odd");
    EXPECT_EQ(again.GetValue("Addr"), "300");
    EXPECT_EQ(again.GetValue("Port"), "COM7");
    EXPECT_EQ(again.GetValue("bPS"), "115200");
}

TEST_F(NetSettingsTest, PortSettingsFollowTheLabels) {
    DeviceIO io;
    NetRS485prg& s = io.ProgramSettings();
    s.SetValue("Sbit", "1.5", true);
    s.SetValue("PrtY", "Space", true);
    s.SetValue("Port", "/dev/ttyUSB3", true);
    s.SetValue("Addr", "42", true);
    io.load_port_settings();
    EXPECT_EQ(io.Port().stopBitsCode, 1);
    EXPECT_EQ(io.Port().parityCode, 5);
    EXPECT_EQ(io.Port().portName, "/dev/ttyUSB3");
    EXPECT_EQ(io.Port().deviceAddress, 42);
    EXPECT_FALSE(s.HasChanges(true));
    for (auto [label, code] : {std::pair{"Even", 1}, {"Odd", 4}, {"Mark", 2}, {"No Parity", 3}}) {
        s.SetValue("PrtY", label, false);
        io.load_port_settings();
        EXPECT_EQ(io.Port().parityCode, code) << label;
    }
}

TEST_F(NetSettingsTest, ReopenFailureIsShownAndRecorded) {
    MessageRecorder boxes;
    Outcome::Reset();
    DeviceIO io;
    io.ProgramSettings().SetValue("Port", "/dev/selvar-absent", false);
    EXPECT_EQ(io.reopen_port(), -1);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Ошибка драйвера последовательного порта");
    EXPECT_EQ(boxes.boxes[0].text,
              "Не удается открыть порт /dev/selvar-absent. Связь с сетью отсутствует. Проверьте "
              "сетевые параметры");
    EXPECT_EQ(Outcome::Flags(), Outcome::kPortFailed);

    Startup().driven = true;
    io.reopen_port();
    EXPECT_EQ(boxes.boxes.size(), 1u);  // driven runs record, they do not ask
    Startup().driven = false;
    Startup().silent = true;
    EXPECT_EQ(io.reopen_port(), -1);
    Startup().silent = false;
    Outcome::Reset();
}

TEST(NetChecks, CombinationOfEightDataBitsTwoStopBitsAndParity) {
    NetRS485 e;
    e.SetValue("LEn", "8", false);
    e.SetValue("Sbit", "2", false);
    e.SetValue("PrtY", "No Parity", false);
    EXPECT_TRUE(CheckCombination(e, "bps", "1200"));
    EXPECT_TRUE(CheckCombination(e, "PRTY", "Mark"));
    EXPECT_FALSE(CheckCombination(e, "prty", "even"));
    EXPECT_FALSE(CheckCombination(e, "PrtY", "Odd"));
    e.SetValue("PrtY", "Even", false);
    EXPECT_TRUE(CheckCombination(e, "len", "7"));
    EXPECT_FALSE(CheckCombination(e, "sbit", "2"));
    EXPECT_TRUE(CheckCombination(e, "sbit", "1"));
}

TEST(NetChecks, AddressAboveByteNeedsElevenBits) {
    NetRS485 e;
    std::string why;
    EXPECT_FALSE(CheckAddress(e, "Addr", "10", why));
    EXPECT_EQ(why, "Вначале следует указать длину адреса.");
    e.SetValue("A.Len", "8", false);
    EXPECT_FALSE(CheckAddress(e, "addr", "300", why));
    EXPECT_EQ(why, "Нельзя что бы адрес был >255 если длина адреса 8 бит!");
    EXPECT_TRUE(CheckAddress(e, "addr", "255", why));
    e.SetValue("A.Len", "11", false);
    EXPECT_TRUE(CheckAddress(e, "addr", "300", why));
    e.SetValue("Addr", "300", false);
    EXPECT_FALSE(CheckAddress(e, "a.len", "8", why));
    EXPECT_TRUE(CheckAddress(e, "a.len", "11", why));
    EXPECT_TRUE(CheckAddress(e, "bPS", "9600", why));
}
