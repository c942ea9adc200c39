#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class Parameter;

// Shared counters of a running exchange operation. The exchange thread writes
// them while the progress window reads them, hence atomics.
struct OperationCounters {
    std::atomic<int> total{0};
    std::atomic<int> processed{0};
    std::atomic<int> failed{0};

    void Reset(int newTotal = 0) {
        total = newTotal;
        processed = 0;
        failed = 0;
    }
};

// What the whole-list operations need of the device connection: the three
// per-parameter primitives, the cooperative stop test and the counters.
class ParameterDevice {
  public:
    // The result of a primitive that found the operation stopped and did nothing.
    static constexpr int kStoppedResult = -1;

    virtual ~ParameterDevice() = default;

    // Result 0 on success; any other value is a failure whose reason the
    // parameter's error text holds (-1 means the operation was stopped).
    virtual int ReadParameter(Parameter& p) = 0;
    // mode: 0 changed parameters, 1 all of a branch, 2 the whole
    // configuration, negative the factory values (initialisation).
    virtual int WriteParameter(Parameter& p, int mode) = 0;
    // Non-zero only when the exchange failed; a difference alone is not a failure.
    virtual int CompareParameter(Parameter& p) = 0;

    // Tested, never waited for.
    virtual bool StopRequested() const = 0;
    virtual OperationCounters& Counters() = 0;

    // A line of the operation's log (colour as 0x00BBGGRR); nothing without a log.
    virtual void LogLine(const std::string& text, bool bold, std::uint32_t colour, bool italic) {
        (void)text, (void)bold, (void)colour, (void)italic;
    }
};

// The waitable timer of an operative parameter.
class PollTimer {
  public:
    virtual ~PollTimer() = default;
    // First expiry after periodMs, then every periodMs. False when the
    // timer could not be armed.
    virtual bool Start(int periodMs) = 0;
    virtual void Cancel() = 0;
};
