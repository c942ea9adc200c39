#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The configurator's command line: options that let another program drive a
// run (one operation, the port and its settings, the window's rectangle, an
// event to ask for the end) and the plain arguments naming files.

namespace App {

namespace ModeBit {
constexpr std::uint16_t kAutoReadOn = 1u << 0, kAutoReadOff = 1u << 1, kAutoWriteOn = 1u << 2,
                        kAutoWriteOff = 1u << 3, kTest = 1u << 4, kSilent = 1u << 5,
                        kNoPort = 1u << 6, kUni = 1u << 7, kNewNetParams = 1u << 8;
}  // namespace ModeBit

namespace ActionBit {
constexpr std::uint32_t kWrite = 1u << 0, kNetworkGiven = 1u << 1, kClose = 1u << 2,
                        kApply = 1u << 3, kCalibrate = 1u << 4, kDriven = 1u << 5, kRead = 1u << 6;
}  // namespace ActionBit

namespace GeometryBit {
constexpr std::uint8_t kX = 1, kY = 2, kW = 4, kH = 8;
}  // namespace GeometryBit

// Values of the link bits' fields.
namespace IoMode {
constexpr int kStdio = 1, kSocket = 3;
}  // namespace IoMode
namespace ParityOption {
constexpr int kNotGiven = 0, kEven = 1, kOdd = 2, kNone = 3;
}  // namespace ParityOption

// The command line's options as one block, zeroed before parsing.
struct StartupOptions {
    std::uint16_t modeBits = 0;  // ModeBit::
    // io mode bits 0-1, parity 2-3, data length 4-7, address length 8-11, rs485 12-13
    std::uint16_t linkBits = 0;
    char uni[12] = {};
    std::uint32_t actionBits = 0;   // ActionBit::
    std::uint8_t geometryBits = 0;  // GeometryBit::
    std::uint8_t port = 0;
    std::int32_t baud = 0;
    char address[6] = {};
    char stopBits[6] = {};
    std::int32_t x = 0, y = 0, w = 0, h = 0;

    int IoMode() const { return linkBits & 0x3; }
    int Parity() const { return (linkBits >> 2) & 0x3; }
    int DataLength() const { return (linkBits >> 4) & 0xF; }
    int AddressLength() const { return (linkBits >> 8) & 0xF; }
    int Rs485() const { return (linkBits >> 12) & 0x3; }
    void SetIoMode(int v) { SetLinkField(0, 0x3, v); }
    void SetParity(int v) { SetLinkField(2, 0x3, v); }
    void SetDataLength(int v) { SetLinkField(4, 0xF, v); }
    void SetAddressLength(int v) { SetLinkField(8, 0xF, v); }
    void SetRs485(int v) { SetLinkField(12, 0x3, v); }

    bool Has(std::uint32_t actionBit) const { return (actionBits & actionBit) != 0; }
    bool HasMode(std::uint16_t modeBit) const { return (modeBits & modeBit) != 0; }
    bool HasGeometry(std::uint8_t geometryBit) const { return (geometryBits & geometryBit) != 0; }
    bool Driven() const { return Has(ActionBit::kDriven); }

  private:
    void SetLinkField(int shift, unsigned mask, int v) {
        linkBits = static_cast<std::uint16_t>((linkBits & ~(mask << shift)) |
                                              ((static_cast<unsigned>(v) & mask) << shift));
    }
};

struct CommandLine {
    StartupOptions options;
    std::vector<std::string> plainArguments;  // in order, as typed
    std::string file;                         // the last plain argument ("command-line file")
    std::string errorLog;            // "elog", quotes removed (lower-cased, as the whole option is)
    std::string exitEventName;       // "exitevent", quotes removed, lower-cased
    std::vector<std::string> notes;  // what was cut or ignored (too-long texts)
};

// arguments: argv[1..]. Pure: no file is created, no event opened.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace App
