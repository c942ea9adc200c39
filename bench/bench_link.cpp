// 200 parameters read through the protocol layer from the simulated
// controller emulating the line's speed, beside the time the same frames
// need on the line (request and answer characters times the character time,
// plus the device's turnaround). The pause after an answer is 0 here.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include "description/device_description.h"
#include "description/parameter_table.h"
#include "link/device_io.h"
#include "link/frame.h"
#include "support/sim_process.h"

namespace {

constexpr int kParameters = 200;
constexpr int kTurnaroundMs = 2;

void BM_Read200FromSimulator(benchmark::State& state) {
    const int speed = static_cast<int>(state.range(0));
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
    double measuredMs = 0, lineMs = 0;
    int failed = 0;
    for (auto _ : state) {
        lineMs = 0;
        failed = 0;
        auto start = std::chrono::steady_clock::now();
        for (Parameter* p : chosen)
            if (io.exchange_parameter(Direction::Read, *p) != 0) ++failed;
        measuredMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
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
}

}  // namespace

BENCHMARK(BM_Read200FromSimulator)
    ->Arg(9600)
    ->Arg(115200)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
