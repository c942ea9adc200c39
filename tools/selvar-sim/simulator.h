#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "faults.h"
#include "model.h"
#include "wire.h"

// The simulated controller as the line sees it: a received line goes in,
// what the device sends back comes out. It filters by address, lets the
// device model answer, injects faults, logs and keeps the state file.
namespace sim {

struct SimulatorSettings {
    int address = 16;
    int addressLength = 8;
    FaultPlan faults;
    std::uint64_t seed = 1;
    bool verbose = false;   // log every frame
    std::string statePath;  // empty: written values are not kept
    std::string dumpPath;   // empty: no dump of every value
    // Empty: none. Else each value the device answers with is appended as
    // a line "name[:index][@offset]<TAB>text".
    std::string answersPath;
};

// What the device sends back to one received line.
struct Response {
    std::string echo;       // at once: the line hands the request back
    std::string answer;     // after the turnaround and delayMs; empty: silence
    double delayMs = 0;     // added to the turnaround
    double outageMs = 0;    // from now on the device, or its link, is gone this long
    bool dropLink = false;  // the outage takes the link away as well
};

// What the device has seen, for the summary and the dump.
struct Traffic {
    std::uint64_t requests = 0;  // lines addressed to the device, damaged ones included
    std::uint64_t answered = 0;  // lines that got something back
    std::uint64_t unheard = 0;   // requests that came while the device was out
};

using LogSink = std::function<void(const std::string& line)>;

class Simulator {
  public:
    Simulator(DeviceModel& model, SimulatorSettings settings, LogSink log);

    // One received line, '#' to CR. Returns the characters the device sends
    // back; empty when it stays silent (not addressed to it, damaged, "APLY",
    // or a fault). `now` is seconds since the device started.
    std::string Process(std::string_view line, double now);
    // The same, with the faults that are about timing and the link.
    Response Respond(std::string_view line, double now);

    const Traffic& Seen() const { return traffic_; }
    const FaultCounts& Faults() const { return faults_.Counts(); }
    // "1234 requests, 1200 answered, 123 faults (late 10, echo 3)".
    std::string Summary() const;
    // Writes the dump file now (after a change it is written anyway).
    void WriteDump();

    int Address() const { return address_; }
    int AddressLength() const { return addressLength_; }
    // The address offset a request is sent to: 0..7 above the device's
    // address, 0 for the fixed address 255; nothing when it is not for this
    // device.
    std::optional<int> OffsetOf(const Request& request) const;

  private:
    std::string Describe(const Request& request, int offset) const;
    void Log(const std::string& line) const;
    void Verbose(const std::string& line) const;
    void SaveState();
    std::string Damage(const Fault& fault, std::string answer);

    DeviceModel& model_;
    SimulatorSettings settings_;
    LogSink log_;
    FaultInjector faults_;
    int address_;
    int addressLength_;
    Traffic traffic_;
    double silentUntil_ = -1;  // seconds since the start
    bool dumpDue_ = true;
    std::ofstream answers_;
};

// Data bytes as "3F 80 00 00"; "-" for none.
std::string HexBytes(const std::uint8_t* data, std::size_t count);

}  // namespace sim
