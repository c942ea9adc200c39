#pragma once

#include <cstdint>
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
};

using LogSink = std::function<void(const std::string& line)>;

class Simulator {
  public:
    Simulator(DeviceModel& model, SimulatorSettings settings, LogSink log);

    // One received line, '#' to CR. Returns the characters the device sends
    // back; empty when it stays silent (not addressed to it, damaged, "APLY",
    // or a fault). `now` is seconds since the device started.
    std::string Process(std::string_view line, double now);

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

    DeviceModel& model_;
    SimulatorSettings settings_;
    LogSink log_;
    FaultInjector faults_;
    int address_;
    int addressLength_;
};

// Data bytes as "3F 80 00 00"; "-" for none.
std::string HexBytes(const std::uint8_t* data, std::size_t count);

}  // namespace sim
