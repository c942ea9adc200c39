// 40 operative parameters polled every 1000 ms for 20 s from the simulated
// controller emulating a 115200 bit/s line. For each parameter: its polls
// against the expected count (the run's length over the period, within one)
// and its shortest interval between polls; a poll that came before its own
// expiry (start + k periods) is marked, as it would be a fault.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "description/desc_branch.h"
#include "device/device.h"
#include "device/polling.h"
#include "model/parameter.h"
#include "model/waitable_poll_timer.h"
#include "platform/ui_services.h"
#include "support/sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kParameters = 40;
constexpr int kPeriodMs = 1000;
constexpr int kRunMs = 20000;
constexpr int kSpeed = 115200;

class PollTimes : public MainWindowNotifications {
  public:
    void OperativeValueRead(Parameter& p) override {
        std::lock_guard<std::mutex> lock(mutex_);
        times[&p].push_back(Clock::now());
        if (!p.error.empty() && failed++ == 0) firstError = p.error;
    }
    std::map<const Parameter*, std::vector<Clock::time_point>> times;
    int failed = 0;
    std::string firstError;

  private:
    std::mutex mutex_;
};

void BM_Poll40For20s(benchmark::State& state) {
    SetLinkPauses({0, 0});
    Device device;
    const Parameter* reading = device.FindParameter("rEAd");
    if (!reading) {
        state.SkipWithError("description files missing: build first");
        return;
    }
    SimProcess sim(SELVAR_SIM, {"--modification", "a1", "--pty", "--baud", std::to_string(kSpeed)});
    if (!sim.Running()) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    device.Port().portName = sim.Address();
    device.Port().speed = kSpeed;
    device.Port().stopBitsCode = 0;
    device.Port().parityCode = 3;
    if (device.Port().Open() != 0) {
        state.SkipWithError("cannot open the simulator's terminal");
        return;
    }

    std::vector<std::unique_ptr<Parameter>> owned;
    DescBranch operative;
    for (int i = 0; i < kParameters; ++i) {
        auto p = std::make_unique<Parameter>();
        p->name = reading->name;
        p->type = reading->type;
        p->decimals = reading->decimals;
        p->deviceAddress = i % 2;  // the simulated A1 has two inputs
        p->pollPeriod = kPeriodMs;
        operative.AddParameter(p.get());
        owned.push_back(std::move(p));
    }
    operative.PrepareOperative(MakeWaitablePollTimer);

    PollTimes polls;
    SetMainWindowNotifications(&polls);
    int offCount = 0, early = 0;
    double earliestMs = 1e9;
    for (auto _ : state) {
        StartPolling(device, operative);
        std::vector<Clock::time_point> started;
        for (auto& p : owned) {
            started.push_back(Clock::now());
            StartParameterPolling(*p);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kRunMs));
        StopPolling(device);

        const int expected = kRunMs / kPeriodMs;
        std::printf("%-4s %6s %8s %12s\n", "par", "polls", "expected", "earliest_ms");
        for (std::size_t i = 0; i < owned.size(); ++i) {
            const auto& t = polls.times[owned[i].get()];
            double shortest = 1e9;
            bool before = false;
            Clock::time_point previous = started[i];
            for (std::size_t k = 0; k < t.size(); ++k) {
                shortest = std::min(
                    shortest, std::chrono::duration<double, std::milli>(t[k] - previous).count());
                previous = t[k];
                // Two notices may come closer than a period when the link
                // delayed the first; a poll before its own expiry may not.
                auto due = started[i] + std::chrono::milliseconds(kPeriodMs) * (k + 1);
                if (t[k] < due) before = true;
            }
            const int count = static_cast<int>(t.size());
            if (count < expected - 1 || count > expected + 1) ++offCount;
            if (before) ++early;
            earliestMs = std::min(earliestMs, shortest);
            std::printf("%-4zu %6d %8d %12.1f%s\n", i + 1, count, expected, shortest,
                        before ? "  EARLY" : "");
        }
    }
    SetMainWindowNotifications(nullptr);
    if (polls.failed) std::printf("first failure: %s\n", polls.firstError.c_str());
    state.counters["params_off_by_more_than_one"] = offCount;
    state.counters["params_with_early_poll"] = early;
    state.counters["earliest_interval_ms"] = earliestMs;
    state.counters["failed_polls"] = polls.failed;
}
BENCHMARK(BM_Poll40For20s)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
