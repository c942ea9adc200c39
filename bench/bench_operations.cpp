// Read-all over the largest modification's ordinary tree through the whole
// operation machinery (exchange thread, progress window, traversal, log),
// beside the same number of bare exchange_parameter calls in the same run,
// against the simulated controller emulating 115200 bit/s with the pause
// after an answer 0. A second benchmark runs twenty read-alls in a row and
// reports the resident memory after the 2nd and the 20th.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "description/desc_branch.h"
#include "description/device_description.h"
#include "description/tree_loader.h"
#include "device/device.h"
#include "device/exchange_operations.h"
#include "support/sim_process.h"

namespace {

constexpr int kSpeed = 115200;

double ResidentMiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
}

double Ms(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

// The device, the tree of "b4" and a simulator; Ready() false when any of them failed.
struct Setup {
    Setup() : sim(SELVAR_SIM, {"--modification", "b4", "--pty", "--baud", std::to_string(kSpeed)}) {
        SetLinkPauses({0, 0});
        SetFinishPause(std::chrono::milliseconds(0));
        const CDeviceDescription* d = FindDeviceDescription("b4");
        if (!d || device.LoadTable(*d) != TableLoadStatus::Ok) return;
        root = LoadTree(device.Table(), DescriptionPath(d->treeFile), "");
        if (!root || !sim.Running()) return;
        root->ForEachBranch([&](const DescBranch& b) {
            for (Parameter* p : b.parameters)
                parameters.push_back(p);
        });
        device.Port().portName = sim.Address();
        device.Port().speed = kSpeed;
        // One stop bit and a parity check: 11 bits a character, as the simulator counts.
        device.Port().stopBitsCode = 0;
        device.Port().parityCode = 3;
        SetConfigurationRoot(root.get());
        StartExchangeThread(device);
        ready = !parameters.empty();
    }
    ~Setup() {
        StopExchangeThread();
        SetConfigurationRoot(nullptr);
    }
    // One read-all as the program runs it; its milliseconds.
    double ReadAll() {
        ProgressRenderer quiet;
        LaunchContext context{device, quiet};
        auto start = std::chrono::steady_clock::now();
        LaunchReadAll(context, root.get());
        return Ms(start);
    }

    SimProcess sim;
    Device device;
    std::unique_ptr<DescBranch> root;
    std::vector<Parameter*> parameters;
    bool ready = false;
};

void BM_ReadAllB4(benchmark::State& state) {
    Setup s;
    if (!s.ready) {
        state.SkipWithError("simulator or description files missing: build first");
        return;
    }
    double operationMs = 0, bareMs = 0;
    int failed = 0, bareFailed = 0;
    for (auto _ : state) {
        operationMs = s.ReadAll();
        failed = OperationState().counters.failed;
        // The same reads without the machinery, on a port opened once.
        if (s.device.Port().Open() != 0) {
            state.SkipWithError("cannot open the simulator's terminal");
            return;
        }
        bareFailed = 0;
        auto start = std::chrono::steady_clock::now();
        for (Parameter* p : s.parameters)
            if (p->linearIndex >= 0 && s.device.exchange_parameter(Direction::Read, *p) != 0)
                ++bareFailed;
        bareMs = Ms(start);
        s.device.Port().Close();
        state.SetIterationTime(operationMs / 1000);
    }
    state.counters["parameters"] = static_cast<double>(s.parameters.size());
    state.counters["operation_ms"] = operationMs;
    state.counters["bare_ms"] = bareMs;
    state.counters["overhead_pct"] = (operationMs / bareMs - 1) * 100;
    state.counters["failed"] = failed;
    state.counters["bare_failed"] = bareFailed;
}

void BM_TwentyReadAllsMemory(benchmark::State& state) {
    Setup s;
    if (!s.ready) {
        state.SkipWithError("simulator or description files missing: build first");
        return;
    }
    double after2 = 0, after20 = 0, totalMs = 0;
    for (auto _ : state) {
        totalMs = 0;
        for (int i = 1; i <= 20; ++i) {
            totalMs += s.ReadAll();
            if (i == 2) after2 = ResidentMiB();
            if (i == 20) after20 = ResidentMiB();
        }
        state.SetIterationTime(totalMs / 1000);
    }
    state.counters["rss_after_2_MiB"] = after2;
    state.counters["rss_after_20_MiB"] = after20;
    state.counters["growth_KiB"] = (after20 - after2) * 1024;
}

}  // namespace

BENCHMARK(BM_ReadAllB4)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TwentyReadAllsMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
