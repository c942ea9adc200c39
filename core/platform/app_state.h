#pragma once

#include <array>
#include <atomic>
#include <cstdint>

class Event;

// Process-wide state that the link and the operations consult: the outcome
// bits of a driven run, the start-up switches, and the operation stamps.

namespace Outcome {
constexpr std::uint32_t kFileMissing = 0x01;    // exit code 200
constexpr std::uint32_t kPortFailed = 0x02;     // 201
constexpr std::uint32_t kNoAnswer = 0x04;       // 202
constexpr std::uint32_t kBadAnswers = 0x08;     // 203
constexpr std::uint32_t kCancelled = 0x20;      // 205
constexpr std::uint32_t kUnknownDevice = 0x40;  // 206

std::uint32_t Flags();
void Set(std::uint32_t bits);
void Clear(std::uint32_t bits);
void Reset(std::uint32_t value = 0);
// The field becomes `value` and stays so: later Set, Clear and Reset change
// nothing. The exit event's 0x20 must not lose to what an exchange still in
// flight records after it.
void Latch(std::uint32_t value);
// For tests: the field takes changes again.
void Unlatch();
// The exit code the lowest set bit stands for; 0 when none is set.
int ExitCode(std::uint32_t flags);
}  // namespace Outcome

// Start-up switches the core consults.
struct StartupSwitches {
    std::atomic<bool> noPort{false};          // the program runs without a port
    std::atomic<bool> silent{false};          // the port is never opened
    std::atomic<bool> driven{false};          // a command-line operation runs: record, don't ask
    std::atomic<bool> closeWhenDone{false};   // the driven run closes its windows by itself
    std::atomic<bool> writeRequested{false};  // the driven run writes a file into the device
    std::atomic<bool> readRequested{false};   // the driven run reads the device into a file
    std::atomic<bool> test{false};            // "test": no file opens, the wizard cancels itself
    // Start values of the check marks "Режим автоматического чтения" and
    // "Режим немедленной записи"; the command line and the wizard set them.
    std::atomic<int> autoReadStart{1};
    std::atomic<int> instantWriteStart{0};
    // Set after each exchange operation of a driven run, so that whoever
    // drives the program learns it finished; null when nobody waits.
    std::atomic<Event*> doneEvent{nullptr};
};
StartupSwitches& Startup();

using OperationStamp = std::array<std::uint8_t, 16>;
// 16 random bytes; never all zero, which marks "no operation yet".
OperationStamp NewOperationStamp();
