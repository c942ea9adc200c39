#include "link/port_map.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/device_io.h"
#include "link/port_setup.h"
#include "link/sio.h"
#include "link/sio_channels.h"
#include "platform/settings_store.h"
#include "support/pty_peer.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A fake /dev and /sys: a USB converter on ttyUSB0 with its by-id link and
// its USB description, a real tty as ttyUSB1, a modem-class device on
// ttyACM0, a built-in port with a UART (ttyS0) and one without (ttyS1), and
// ttyUSB120, beyond the rule. Plain files stand for the other device nodes.
class FakeTree : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::remove(SettingsStore::Instance().UserPath());
        root_ = fs::temp_directory_path() / ("selvar-ports-" + std::to_string(getpid()));
        fs::remove_all(root_);
        roots_.dev = (root_ / "dev").string();
        roots_.sys = (root_ / "sys").string();
        fs::create_directories(root_ / "dev" / "serial" / "by-id");
        fs::create_symlink(pty_.Path(), root_ / "dev" / "ttyUSB1");
        for (const char* node : {"ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "ttyUSB120", "console"})
            WriteFile(root_ / "dev" / node, "");
        fs::create_symlink("../../ttyUSB0", root_ / "dev" / "serial" / "by-id" / kById);

        fs::path usb = root_ / "sys" / "devices" / "pci0000:00" / "usb1" / "1-1";
        WriteFile(usb / "idVendor", "0403\n");
        WriteFile(usb / "idProduct", "6001\n");
        WriteFile(usb / "manufacturer", "FTDI\n");
        WriteFile(usb / "product", "FT232R USB UART\n");
        WriteFile(usb / "serial", "A10K3X\n");
        fs::create_directories(usb / "1-1:1.0" / "ttyUSB0");
        fs::path tty = root_ / "sys" / "class" / "tty";
        fs::create_directories(tty / "ttyUSB0");
        fs::create_symlink(usb / "1-1:1.0" / "ttyUSB0", tty / "ttyUSB0" / "device");
        WriteFile(tty / "ttyS0" / "type", "4\n");
        WriteFile(tty / "ttyS1" / "type", "0\n");
    }
    void TearDown() override {
        unsetenv("SELVAR_DEV_ROOT");
        unsetenv("SELVAR_SYS_ROOT");
        fs::remove(SettingsStore::Instance().UserPath());
        fs::remove_all(root_);
    }
    std::string Dev(const std::string& name) const { return roots_.dev + "/" + name; }

    static constexpr const char* kById = "usb-FTDI_FT232R_USB_UART_A10K3X-if00-port0";
    PtyPeer pty_;
    fs::path root_;
    PortRoots roots_;
};

}  // namespace

TEST(PortRule, EachKindHasItsOwnBlockOfComNames) {
    PortRoots roots{"/d", "/s"};
    EXPECT_EQ(DefaultComPath(1, roots), "/d/ttyUSB0");
    EXPECT_EQ(DefaultComPath(99, roots), "/d/ttyUSB98");
    EXPECT_EQ(DefaultComPath(101, roots), "/d/ttyACM0");
    EXPECT_EQ(DefaultComPath(201, roots), "/d/ttyS0");
    EXPECT_EQ(DefaultComPath(256, roots), "/d/ttyS55");
    for (int none : {0, 100, 200, 257})
        EXPECT_EQ(DefaultComPath(none, roots), "") << none;
    // Every name the rule gives leads back to the same COM name, so no two
    // kinds of device share one.
    for (int n = 1; n <= kHighestComNumber; ++n) {
        std::string path = DefaultComPath(n, roots);
        if (path.empty()) continue;
        EXPECT_EQ(DefaultComName(fs::path(path).filename().string()), "COM" + std::to_string(n));
    }
    EXPECT_EQ(DefaultComName("ttyUSB99"), "");
    EXPECT_EQ(DefaultComName("ttyS56"), "");
    EXPECT_EQ(DefaultComName("ttyAMA0"), "");
    EXPECT_EQ(DefaultComName("ttyUSB"), "");

    EXPECT_EQ(ComNumber("COM3"), 3);
    EXPECT_EQ(ComNumber("com256"), 256);
    EXPECT_EQ(ComNumber("COM1000"), 1000);
    for (const char* not_com : {"COM", "COM0", "COM03", "COM-1", "COM3x", "LPT1"})
        EXPECT_EQ(ComNumber(not_com), 0) << not_com;
}

TEST_F(FakeTree, NamesResolveThroughTheMapThenTheRule) {
    EXPECT_EQ(ResolvePortName("COM1", roots_), Dev("ttyUSB0"));
    EXPECT_EQ(ResolvePortName("com101", roots_), Dev("ttyACM0"));
    EXPECT_EQ(ResolvePortName("COM7", roots_), Dev("ttyUSB6"));  // absent, still its name
    EXPECT_EQ(ResolvePortName("COM100", roots_), "");
    EXPECT_EQ(ResolvePortName("COM300", roots_), "");
    EXPECT_EQ(ResolvePortName("LPT1", roots_), "LPT1");
    EXPECT_EQ(ResolvePortName("tcp://host:4001", roots_), "tcp://host:4001");
    std::string byId = Dev(std::string("serial/by-id/") + kById);
    SettingsStore::Instance().WriteText("port.COM100", byId);
    SettingsStore::Instance().WriteText("port.COM1", "tcp://10.0.0.5:4001");
    EXPECT_EQ(ResolvePortName("COM100", roots_), byId);
    EXPECT_EQ(ResolvePortName("Com1", roots_), "tcp://10.0.0.5:4001");
}

TEST_F(FakeTree, EveryPresentPortIsFoundWithItsAdapterAndStablePath) {
    SettingsStore::Instance().WriteText("port.COM240", Dev(std::string("serial/by-id/") + kById));
    SettingsStore::Instance().WriteText("port.COM250", "tcp://10.0.0.5:4001");
    std::vector<PortInfo> ports = FindPorts(roots_);
    std::vector<std::string> names;
    for (const PortInfo& p : ports)
        names.push_back(p.name);
    // ttyACM0 beside ttyUSB0 has a name, ttyS1 has no UART, names above
    // COM64 are looked at, and ttyUSB120 is listed without a name.
    EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM2", "COM101", "COM201", "COM240",
                                               "COM250", ""}));
    ASSERT_EQ(ports.size(), 7u);

    const PortInfo& usb = ports[0];
    EXPECT_EQ(usb.target, Dev("ttyUSB0"));
    EXPECT_EQ(usb.device, fs::canonical(Dev("ttyUSB0")).string());
    EXPECT_EQ(usb.stablePath, Dev(std::string("serial/by-id/") + kById));
    EXPECT_EQ(usb.description, "FTDI FT232R USB UART, serial A10K3X");
    EXPECT_FALSE(usb.mapped);

    EXPECT_EQ(ports[1].device, fs::canonical(pty_.Path()).string());
    EXPECT_EQ(ports[2].description, "");
    EXPECT_EQ(ports[4].device, usb.device);  // the mapped stable path reaches the same adapter
    EXPECT_TRUE(ports[4].mapped);
    EXPECT_EQ(ports[5].target, "tcp://10.0.0.5:4001");
    EXPECT_EQ(ports[6].target, Dev("ttyUSB120"));

    setenv("SELVAR_DEV_ROOT", roots_.dev.c_str(), 1);
    setenv("SELVAR_SYS_ROOT", roots_.sys.c_str(), 1);
    EXPECT_EQ(Sio::ListPorts(), "COM1:COM2:COM101:COM201:COM240:COM250");
}

TEST_F(FakeTree, ProbeSaysWhyAPortCannotBeOpened) {
    std::vector<PortInfo> ports = FindPorts(roots_);
    ASSERT_GE(ports.size(), 2u);
    EXPECT_EQ(ProbePort(ports[1]), "");  // the pseudo-terminal behind ttyUSB1
    {
        Sio holder;
        holder.portName = pty_.Path();
        ASSERT_EQ(holder.Open(), 0);
        EXPECT_TRUE(Contains(ProbePort(ports[1]), "busy")) << ProbePort(ports[1]);
    }
    EXPECT_TRUE(Contains(ProbePort(ports[0]), "not a serial port")) << ProbePort(ports[0]);
}

TEST_F(FakeTree, OpenFailuresCarryTheResolvedPathAndTheReason) {
    setenv("SELVAR_DEV_ROOT", roots_.dev.c_str(), 1);
    struct Case {
        std::string port;
        int code;
        std::string detail;
    } cases[] = {
        {"COM7", -1, "COM7 → " + Dev("ttyUSB6") + ": No such file or directory"},
        {"COM101", -2,
         "COM101 → " + Dev("ttyACM0") + ": not a serial port (Inappropriate ioctl for device)"},
        {"COM100", -1, "COM100: no device: COM1-COM99 are ttyUSB0-98"},
        {"/dev/selvar-absent", -1, "/dev/selvar-absent: No such file or directory"},
        {"tcp://localhost", -1, "tcp://localhost: expected tcp://host:port"},
    };
    for (const Case& c : cases) {
        Sio sio;
        sio.portName = c.port;
        EXPECT_EQ(sio.Open(), c.code) << c.port;
        PortFailure failure = sio.LastFailure();
        EXPECT_EQ(failure.text, "Ошибка открытия порта");
        EXPECT_EQ(failure.detail.substr(0, c.detail.size()), c.detail);
    }
    // Settings refused after the open keep their own texts and need no detail.
    Sio slow;
    slow.portName = pty_.Path();
    slow.speed = 256000;
    EXPECT_EQ(slow.Open(), -2);
    EXPECT_EQ(slow.LastFailure().text, "Неверное значение скорости обмена");
}

TEST(PortFailures, RefusedConnectionAndBusyPortSayWhy) {
    int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len);
    close(server);  // nobody listens there now
    Sio sio;
    sio.portName = "tcp://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    EXPECT_EQ(sio.Open(), -1);
    EXPECT_EQ(sio.LastFailure().detail, sio.portName + ": Connection refused");

    PtyPeer pty;
    Sio first, second;
    first.portName = second.portName = pty.Path();
    ASSERT_EQ(first.Open(), 0);
    EXPECT_EQ(second.Open(), -1);
    EXPECT_EQ(second.LastFailure().detail,
              pty.Path() + ": Device or resource busy: another program holds the port");
}

TEST(PortFailures, PermissionDeniedNamesTheGroupToJoin) {
    DeviceAccess access{"root", "dialout", 0660, false, false};
    EXPECT_EQ(PermissionDeniedReason("/dev/ttyUSB0", access),
              "Permission denied: the user must be in group 'dialout', which owns /dev/ttyUSB0 "
              "(sudo usermod -aG dialout $USER, then log in again)");
    access.groupAssigned = true;
    EXPECT_TRUE(Contains(PermissionDeniedReason("/dev/ttyUSB0", access), "log out and in again"));
    access.mode = 0600;  // the group could not use it either
    EXPECT_EQ(PermissionDeniedReason("/dev/ttyUSB0", access),
              "Permission denied: /dev/ttyUSB0 belongs to root:dialout with mode 0600, which does "
              "not let this user read and write it");

    // The owner and group are read from the node itself.
    fs::path file = fs::temp_directory_path() / ("selvar-access-" + std::to_string(getpid()));
    WriteFile(file, "");
    chmod(file.c_str(), 0640);
    DeviceAccess read;
    ASSERT_TRUE(ReadDeviceAccess(file.string(), read));
    EXPECT_EQ(read.mode, 0640u);
    EXPECT_TRUE(read.groupActive);  // we created it, with our own group
    EXPECT_FALSE(read.group.empty());
    fs::remove(file);
    EXPECT_FALSE(ReadDeviceAccess(file.string(), read));
    EXPECT_EQ(SystemReason(ENOENT), "No such file or directory");
}

class ConverterTypeTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::remove(SettingsStore::Instance().UserPath()); }
    void TearDown() override { fs::remove(SettingsStore::Instance().UserPath()); }
};

TEST_F(ConverterTypeTest, OptionWinsElseTheStoredTypeNormalised) {
    EXPECT_EQ(DecideConverterType(Rs485Option::kNotGiven), ConverterType::kSemiAutomatic);
    SettingsStore::Instance().WriteNumber("RS485type", 7);
    EXPECT_EQ(DecideConverterType(Rs485Option::kNotGiven), ConverterType::kAutomatic);
    EXPECT_EQ(DecideConverterType(Rs485Option::kAuto), ConverterType::kSemiAutomatic);
    EXPECT_EQ(DecideConverterType(Rs485Option::kOn), ConverterType::kSemiAutomatic);
    SettingsStore::Instance().WriteNumber("RS485type", 0);
    EXPECT_EQ(DecideConverterType(Rs485Option::kOff), ConverterType::kAutomatic);
}

TEST_F(ConverterTypeTest, TheStoredTypeSurvivesARun) {
    SettingsStore::Instance().WriteNumber("RS485type", 1);
    {
        Sio port;
        port.transmissionMode = DecideConverterType(Rs485Option::kNotGiven);
    }
    EXPECT_EQ(SettingsStore::Instance().ReadNumber("RS485type", -1), 1);
}

TEST_F(ConverterTypeTest, DefaultNetworkSettingsAreThoseOfAnEmptyStore) {
    DeviceIO io;
    io.load_port_settings();
    Sio defaults;
    defaults.stopBitsCode = 1;  // the port's own default, 1.5, must not survive
    ApplyDefaultNetworkSettings(defaults);
    const Sio& program = io.Port();
    EXPECT_EQ(defaults.speed, program.speed);
    EXPECT_EQ(defaults.byteSize, program.byteSize);
    EXPECT_EQ(defaults.parityCode, program.parityCode);
    EXPECT_EQ(defaults.stopBitsCode, program.stopBitsCode);
    EXPECT_EQ(defaults.stopBitsCode, 0);
    EXPECT_EQ(defaults.addressLength, program.addressLength);
    EXPECT_EQ(defaults.deviceAddress, program.deviceAddress);
}
