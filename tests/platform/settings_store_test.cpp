#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/app_state.h"

namespace fs = std::filesystem;

namespace {

class SettingsStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("selvar-settings-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    void WriteFile(const fs::path& p, const std::string& text) {
        fs::create_directories(p.parent_path());
        std::ofstream(p) << text;
    }
    std::string ReadFile(const fs::path& p) {
        std::ifstream in(p);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    fs::path dir;
};

}  // namespace

TEST_F(SettingsStoreTest, MissingFilesGiveDefaultsAndStatus) {
    SettingsStore store((dir / "sys.conf").string(), (dir / "user.conf").string());
    SettingStatus s;
    EXPECT_EQ(store.ReadNumber("baud_rate", 9600, &s), 9600);
    EXPECT_EQ(s, SettingStatus::KeyMissing);
    WriteFile(dir / "sys.conf", "[SelvarM]\nother=1\n");
    EXPECT_EQ(store.ReadNumber("baud_rate", 9600, &s), 9600);
    EXPECT_EQ(s, SettingStatus::ValueMissing);
}

TEST_F(SettingsStoreTest, UserLayerHidesSystemLayerButNotForPasswords) {
    WriteFile(dir / "sys.conf",
              "; installed\n[SelvarM]\nAddress = 20\npassword_max_level=7\n[Other]\naddress=99\n");
    WriteFile(dir / "user.conf", "[SelvarM]\naddress=30\npassword_max_level=0\n");
    SettingsStore store((dir / "sys.conf").string(), (dir / "user.conf").string());
    EXPECT_EQ(store.ReadNumber("address", 16), 30);
    EXPECT_EQ(store.ReadSystemText("password_max_level", "x"), "7");
    EXPECT_EQ(store.ReadText("password_max_level", "x"), "0");
    SettingStatus s;
    EXPECT_EQ(store.ReadSystemText("password_mid_level", "", &s), "");
    EXPECT_EQ(s, SettingStatus::ValueMissing);

    // A whole family at once keeps the same layering, and only its section.
    WriteFile(dir / "sys.conf",
              "[SelvarM]\nport.COM1=/dev/a\nport.COM2=/dev/b\n[Other]\nport.COM3=x\n");
    WriteFile(dir / "user.conf", "[SelvarM]\nPORT.COM2=tcp://h:1\nportable=1\n");
    const std::map<std::string, std::string> expected{{"port.com1", "/dev/a"},
                                                      {"port.com2", "tcp://h:1"}};
    EXPECT_EQ(store.ReadAll("port.COM"), expected);
}

TEST_F(SettingsStoreTest, UnreadableNumbersFallBack) {
    WriteFile(dir / "user.conf", "[SelvarM]\nbaud_rate=fast\nbyte_size=99999999999\n");
    SettingsStore store((dir / "sys.conf").string(), (dir / "user.conf").string());
    SettingStatus s;
    EXPECT_EQ(store.ReadNumber("baud_rate", 9600, &s), 9600);
    EXPECT_EQ(s, SettingStatus::ValueUnreadable);
    EXPECT_EQ(store.ReadNumber("byte_size", 8, &s), 8);
    EXPECT_EQ(s, SettingStatus::ValueUnreadable);
}

TEST_F(SettingsStoreTest, WritesKeepOtherLinesAndCreateTheFile) {
    SettingsStore store((dir / "sys.conf").string(), (dir / "cfg" / "user.conf").string());
    EXPECT_EQ(store.WriteNumber("RS485type", 1), SettingStatus::Ok);
    EXPECT_EQ(store.WriteText("hidemin", "1"), SettingStatus::Ok);
    EXPECT_EQ(store.WriteNumber("rs485TYPE", 0), SettingStatus::Ok);
    EXPECT_EQ(ReadFile(dir / "cfg" / "user.conf"), "[SelvarM]\nrs485TYPE=0\nhidemin=1\n");

    WriteFile(dir / "cfg" / "user.conf", "# mine\n[SelvarM]\na=1\n[Else]\nb=2\n");
    EXPECT_EQ(store.WriteNumber("c", 3), SettingStatus::Ok);
    EXPECT_EQ(ReadFile(dir / "cfg" / "user.conf"), "# mine\n[SelvarM]\na=1\nc=3\n[Else]\nb=2\n");
    EXPECT_EQ(store.WriteText("bad", "two\nlines"), SettingStatus::ValueUnreadable);
    EXPECT_EQ(store.ReadNumber("c", 0), 3);
}

TEST_F(SettingsStoreTest, FailedWriteLeavesTheOldFile) {
    fs::path file = dir / "user.conf";
    WriteFile(file, "[SelvarM]\na=1\n");
    // The temporary file cannot be created where a folder of its name stands.
    fs::create_directories(dir / ("user.conf.tmp." + std::to_string(getpid())));
    SettingsStore store((dir / "sys.conf").string(), file.string());
    EXPECT_EQ(store.WriteNumber("a", 2), SettingStatus::ValueUnreadable);
    EXPECT_EQ(ReadFile(file), "[SelvarM]\na=1\n");
}

TEST(Outcome, LowestBitDecidesTheExitCode) {
    EXPECT_EQ(Outcome::ExitCode(0), 0);
    EXPECT_EQ(Outcome::ExitCode(Outcome::kNoAnswer | Outcome::kCancelled), 202);
    EXPECT_EQ(Outcome::ExitCode(Outcome::kUnknownDevice), 206);
    EXPECT_EQ(Outcome::ExitCode(Outcome::kFileMissing | Outcome::kUnknownDevice), 200);
}

TEST(OperationStamp, StampsDifferAndAreNeverZero) {
    OperationStamp a = NewOperationStamp(), b = NewOperationStamp();
    EXPECT_NE(a, b);
    EXPECT_NE(a, OperationStamp{});
}
