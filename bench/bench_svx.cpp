// Saving and loading the largest configuration, each beside writing and
// reading the same number of bytes with a plain buffered stream. A save is
// written atomically (flushed to disk before it replaces the old file), so it
// is also shown beside the same atomic write of plain bytes, and without the
// file at all.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "description/device_description.h"
#include "description/parameter_table.h"
#include "document/configuration_file.h"
#include "elements/common_params.h"
#include "platform/archive.h"
#include "platform/settings_store.h"

namespace {

class Steps : public Svx::LoadSteps {
  public:
    explicit Steps(ParameterTable& t) : table_(t) {}
    std::string ActiveModification() override { return "Селвар-Б4"; }
    void SetUpConfiguration(const CDeviceDescription&) override {}
    ParameterTable& Table() override { return table_; }

  private:
    ParameterTable& table_;
};

struct Fixture {
    Fixture() {
        const CDeviceDescription* d = FindDeviceDescription("b4");
        ok = LoadParameterTable(table, DescriptionPath(d->parametersFile)) == TableLoadStatus::Ok;
        for (Parameter& p : table.All())
            p.value = "12.345";
        path = (std::filesystem::temp_directory_path() /
                ("selvar-bench-" + std::to_string(getpid()) + ".svx"))
                   .string();
        plain = path + ".plain";
    }
    ~Fixture() {
        std::filesystem::remove(path);
        std::filesystem::remove(plain);
    }
    ParameterTable table;
    Elements::CommonParams common;
    std::string path, plain;
    bool ok = false;
};

Fixture& Shared() {
    static Fixture f;
    return f;
}

void BM_SaveConfiguration(benchmark::State& state) {
    Fixture& f = Shared();
    if (!f.ok) return state.SkipWithError("description files missing: build first");
    std::string error;
    for (auto _ : state)
        Svx::SaveFile(f.path, 2, "Селвар-Б4", f.common, f.table, error);
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(f.path));
}

void BM_PlainWrite(benchmark::State& state) {
    Fixture& f = Shared();
    if (!f.ok) return state.SkipWithError("description files missing: build first");
    std::string error;
    Svx::SaveFile(f.path, 2, "Селвар-Б4", f.common, f.table, error);
    std::string bytes(std::filesystem::file_size(f.path), 'x');
    for (auto _ : state) {
        std::ofstream out(f.plain, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
    }
}

void BM_SaveToMemory(benchmark::State& state) {
    Fixture& f = Shared();
    if (!f.ok) return state.SkipWithError("description files missing: build first");
    for (auto _ : state) {
        Archive ar;
        Svx::Save(ar, 2, "Селвар-Б4", f.common, f.table);
        benchmark::DoNotOptimize(ar.Data().data());
    }
}

void BM_PlainAtomicWrite(benchmark::State& state) {
    Fixture& f = Shared();
    if (!f.ok) return state.SkipWithError("description files missing: build first");
    std::string error;
    Svx::SaveFile(f.path, 2, "Селвар-Б4", f.common, f.table, error);
    std::string bytes(std::filesystem::file_size(f.path), 'x');
    for (auto _ : state)
        WriteFileAtomically(f.plain, bytes);
}

void BM_LoadConfiguration(benchmark::State& state) {
    Fixture& f = Shared();
    if (!f.ok) return state.SkipWithError("description files missing: build first");
    std::string error;
    Svx::SaveFile(f.path, 2, "Селвар-Б4", f.common, f.table, error);
    Steps steps(f.table);
    for (auto _ : state)
        Svx::LoadFile(f.path, steps, true, error);
}

void BM_PlainRead(benchmark::State& state) {
    Fixture& f = Shared();
    if (!f.ok) return state.SkipWithError("description files missing: build first");
    std::string error;
    Svx::SaveFile(f.path, 2, "Селвар-Б4", f.common, f.table, error);
    for (auto _ : state) {
        std::ifstream in(f.path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        benchmark::DoNotOptimize(bytes);
    }
}

}  // namespace

BENCHMARK(BM_SaveConfiguration)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainAtomicWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveToMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadConfiguration)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);
