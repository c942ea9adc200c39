#include <string>

#include "commands.h"
#include "link/port_setup.h"
#include "link/sio.h"
#include "platform/text.h"

namespace {

struct ParityChoice {
    const char* name;
    int code;
};
constexpr ParityChoice kParities[] = {
    {"even", 1}, {"odd", 4}, {"space", 5}, {"mark", 2}, {"none", 3}};

}  // namespace

void ConfigurePort(const Args& args, Sio& port) {
    port.portName = *args.Text("--port");
    if (port.portName.empty()) throw UsageError("--port needs a port name");
    // What the program uses with nothing stored; the options change single settings.
    ApplyDefaultNetworkSettings(port);
    port.speed = static_cast<int>(args.Int("--bps", 1, 10000000, port.speed));
    if (!IsAcceptedSpeed(port.speed))
        throw UsageError("--bps: " + std::to_string(port.speed) + " is not a speed of the line");
    if (auto parity = args.Text("--parity")) {
        const ParityChoice* found = nullptr;
        for (const ParityChoice& c : kParities)
            if (EqualsNoCase(*parity, c.name)) found = &c;
        if (!found) throw UsageError("--parity: expected even, odd, space, mark or none");
        port.parityCode = found->code;
    }
    port.byteSize = static_cast<int>(args.Int("--len", 5, 8, port.byteSize));
    if (auto stop = args.Text("--sbit")) {
        if (*stop == "1")
            port.stopBitsCode = 0;
        else if (*stop == "1.5")
            port.stopBitsCode = 1;
        else if (*stop == "2")
            port.stopBitsCode = 2;
        else
            throw UsageError("--sbit: expected 1, 1.5 or 2");
    }
    port.addressLength = static_cast<int>(args.Int("--alen", 8, 11, port.addressLength));
    if (port.addressLength != 8 && port.addressLength != 11)
        throw UsageError("--alen: expected 8 or 11");
    port.deviceAddress = static_cast<int>(
        args.Int("--addr", 0, port.addressLength == 11 ? 2047 : 255, port.deviceAddress));
    // The port stores its converter type when it closes, so a choice made here
    // stays for the next run, as the program's own option does.
    int option = Rs485Option::kNotGiven;
    if (auto converter = args.Text("--rs485")) {
        if (EqualsNoCase(*converter, "rts"))
            option = Rs485Option::kOn;
        else if (EqualsNoCase(*converter, "frame"))
            option = Rs485Option::kOff;
        else
            throw UsageError("--rs485: expected rts or frame");
    }
    port.transmissionMode = DecideConverterType(option);
}

std::string PortFailureMessage(const Sio& port) {
    PortFailure failure = port.LastFailure();
    if (failure.detail.empty()) return port.portName + ": " + failure.text;
    return failure.text + ": " + failure.detail;
}
