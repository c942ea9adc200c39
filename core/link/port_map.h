#pragma once

#include <string>
#include <vector>

// Port names. The user sees "COMn"; the port map of the settings (value
// "port.COMn") names a device path, a stable /dev/serial/by-id/... path, or
// tcp://host:port. An unmapped COMn follows the default rule, which gives
// each kind of kernel device a block of its own, so that one kind never
// takes another's name:
//
//   COM1   - COM99   /dev/ttyUSB0 - /dev/ttyUSB98   USB serial converters
//   COM101 - COM199  /dev/ttyACM0 - /dev/ttyACM98   USB modem-class devices
//   COM201 - COM256  /dev/ttyS0   - /dev/ttyS55     built-in and card ports
//
// COM100 and COM200 name nothing unless mapped. The kernel numbers USB
// devices in the order they appear, so only a mapped by-id path follows an
// adapter that comes back under another number.

// Where device nodes and the kernel's device descriptions are looked for;
// $SELVAR_DEV_ROOT and $SELVAR_SYS_ROOT replace /dev and /sys (tests build
// a fake tree there).
struct PortRoots {
    std::string dev = "/dev";
    std::string sys = "/sys";
};
PortRoots DefaultPortRoots();

constexpr int kHighestComNumber = 256;

// n of "COMn" (case ignored, n >= 1); 0 when the name is not a COM name.
int ComNumber(const std::string& name);
// The device path the default rule gives COMn; "" when it gives none.
std::string DefaultComPath(int n, const PortRoots& roots);
// The COM name the default rule gives a kernel device name ("ttyACM0" gives
// "COM101"); "" when it gives none.
std::string DefaultComName(const std::string& kernelName);

// A COM name through the port map, then the default rule; "" for a COM name
// that neither names. Device paths and tcp://host:port pass unchanged.
std::string ResolvePortName(const std::string& name);
std::string ResolvePortName(const std::string& name, const PortRoots& roots);

// The detail of an open failure: the name, what it resolved to, and why.
std::string PortFailureDetail(const std::string& name, const std::string& target,
                              const std::string& reason);

struct PortInfo {
    std::string name;         // "COM3"; "" for a present port no COM name reaches
    std::string target;       // what the name resolves to: a path or tcp://host:port
    std::string device;       // the device node behind target; "" for TCP
    std::string stablePath;   // /dev/serial/by-id/... (else by-path) for the device
    std::string description;  // the adapter's maker, product and serial number
    bool mapped = false;      // the name comes from the port map
};

// Every COM name up to COM256 that resolves to something present, in order,
// then the present serial devices no COM name reaches. Opens nothing: a TCP
// converter counts as present, a built-in port when the kernel found a UART.
std::vector<PortInfo> FindPorts();
std::vector<PortInfo> FindPorts(const PortRoots& roots);

// Whether the port can be opened now, trying it as the link would: "" when
// it can, else why not.
std::string ProbePort(const PortInfo& port);
