// 200 parameters read through the protocol layer from the simulated
// controller emulating the line's speed, beside the time the same frames
// need on the line (request and answer characters times the character time,
// plus the device's turnaround). The pause after an answer is 0 here.
// Each speed runs idle and with one core kept busy by a spinning thread of
// the benchmark's own, since the characters' pacing must hold on a loaded
// machine too; cpu_share is the process's user + system time over the wall
// time of the idle run (the link must not keep a core busy while it talks).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "description/device_description.h"
#include "description/parameter_table.h"
#include "link/device_io.h"
#include "link/frame.h"
#include "support/sim_process.h"

namespace {

constexpr int kParameters = 200;
constexpr int kTurnaroundMs = 2;

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(u.ru_utime) + seconds(u.ru_stime);
}

// Keeps one core busy while it lives.
class Spinner {
  public:
    Spinner() {
        thread_ = std::thread([this] {
            while (!stop_.load(std::memory_order_relaxed)) {
            }
        });
    }
    ~Spinner() {
        stop_ = true;
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void BM_Read200FromSimulator(benchmark::State& state) {
    const int speed = static_cast<int>(state.range(0));
    const bool loaded = state.range(1) != 0;
    SetLinkPauses({0, 0});
    ParameterTable table;
    const CDeviceDescription* d = FindDeviceDescription("b4");
    if (LoadParameterTable(table, DescriptionPath(d->parametersFile)) != TableLoadStatus::Ok) {
        state.SkipWithError("description files missing: build first");
        return;
    }
    // Plain parameters the device answers by themselves.
    std::vector<Parameter*> chosen;
    for (Parameter& p : table.All()) {
        if (p.bindingKind == 0 && p.name != "APLY" && p.name != "exit" && p.type != "неизвестен")
            chosen.push_back(&p);
        if (chosen.size() == static_cast<std::size_t>(kParameters)) break;
    }
    SimProcess sim(SELVAR_SIM, {"--modification", "b4", "--pty", "--baud", std::to_string(speed),
                                "--turnaround", std::to_string(kTurnaroundMs)});
    if (!sim.Running()) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    DeviceIO io;
    io.Port().portName = sim.Address();
    io.Port().speed = speed;
    // One stop bit and a parity check: 11 bits a character, as the simulator counts.
    io.Port().stopBitsCode = 0;
    io.Port().parityCode = 3;
    if (io.Port().Open() != 0) {
        state.SkipWithError("cannot open the simulator's terminal");
        return;
    }
    double measuredMs = 0, lineMs = 0, cpuSeconds = 0;
    int failed = 0;
    std::unique_ptr<Spinner> spinner;
    if (loaded) spinner = std::make_unique<Spinner>();
    for (auto _ : state) {
        lineMs = 0;
        failed = 0;
        const double cpuBefore = ProcessCpuSeconds();
        auto start = std::chrono::steady_clock::now();
        for (Parameter* p : chosen)
            if (io.exchange_parameter(Direction::Read, *p) != 0) ++failed;
        measuredMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        cpuSeconds = ProcessCpuSeconds() - cpuBefore;
        for (Parameter* p : chosen) {
            std::size_t request = 2 * (6 + (p->hasLinearIndex ? 2 : 0)) + 2;
            std::size_t answer = 2 * (6 + std::size_t{p->rawLength}) + 2;
            lineMs +=
                static_cast<double>(request + answer) * io.Port().characterTime + kTurnaroundMs;
        }
        state.SetIterationTime(measuredMs / 1000);
    }
    state.counters["measured_ms"] = measuredMs;
    state.counters["line_ms"] = lineMs;
    state.counters["ratio"] = measuredMs / lineMs;
    state.counters["failed"] = failed;
    // The spinner's own time would count in a loaded run.
    if (!loaded) state.counters["cpu_share"] = cpuSeconds * 1000 / measuredMs;
}

}  // namespace

BENCHMARK(BM_Read200FromSimulator)
    ->ArgNames({"bps", "loaded"})
    ->Args({9600, 0})
    ->Args({9600, 1})
    ->Args({115200, 0})
    ->Args({115200, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
