// Loading the largest modification's description (parameter table and the
// three trees) against what zlib alone needs to inflate the same four files.
// Both read the files from disk in the same chunks; the loader should stay
// within twice the bare inflate.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "description/device_description.h"
#include "description/parameter_table.h"
#include "description/tree_loader.h"

namespace {

constexpr std::size_t kChunk = 64 * 1024;  // as the loader reads

struct Files {
    std::string table;
    std::vector<std::pair<std::string, std::string>> trees;  // path, tree name
    std::vector<std::string> All() const {
        std::vector<std::string> all{table};
        for (const auto& t : trees)
            all.push_back(t.first);
        return all;
    }
};

// The four files of "Селвар-Б4"; empty when any is missing.
bool FindFiles(Files& files, benchmark::State& state) {
    const CDeviceDescription* d = FindDeviceDescription("Селвар-Б4");
    if (!d) {
        state.SkipWithError("no description \"Селвар-Б4\"");
        return false;
    }
    files.table = DescriptionPath(d->parametersFile);
    files.trees = {{DescriptionPath(d->treeFile), ""},
                   {DescriptionPath(d->operativeTreeFile), ""},
                   {DescriptionPath(d->hiddenTreeFile), "hidden"}};
    for (const std::string& path : files.All()) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) {
            state.SkipWithError(("description file missing: " + path).c_str());
            return false;
        }
    }
    return true;
}

void LoadAll(const Files& files) {
    ParameterTable table;
    LoadParameterTable(table, files.table);
    for (const auto& [path, name] : files.trees) {
        auto root = LoadTree(table, path, name);
        benchmark::DoNotOptimize(root.get());
    }
    benchmark::DoNotOptimize(table.Size());
}

// zlib alone: the trailer's size, then the file in chunks through inflate
// into one buffer of that size.
std::size_t InflateFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    const off_t size = ::lseek(fd, 0, SEEK_END);
    std::uint8_t trailer[4] = {};
    if (size < 4 || ::pread(fd, trailer, 4, size - 4) != 4) {
        ::close(fd);
        return 0;
    }
    ::lseek(fd, 0, SEEK_SET);
    const std::uint32_t isize = trailer[0] | trailer[1] << 8 | trailer[2] << 16 |
                                static_cast<std::uint32_t>(trailer[3]) << 24;
    auto out = std::make_unique_for_overwrite<std::uint8_t[]>(isize);
    auto chunk = std::make_unique_for_overwrite<std::uint8_t[]>(kChunk);
    z_stream z{};
    inflateInit2(&z, 16 + MAX_WBITS);
    z.next_out = out.get();
    z.avail_out = isize;
    int r = Z_OK;
    while (r == Z_OK && z.avail_out > 0) {
        const ssize_t got = ::read(fd, chunk.get(), kChunk);
        if (got <= 0) break;
        z.next_in = chunk.get();
        z.avail_in = static_cast<uInt>(got);
        while (r == Z_OK && z.avail_in > 0 && z.avail_out > 0)
            r = inflate(&z, Z_NO_FLUSH);
    }
    const std::size_t produced = z.total_out;
    inflateEnd(&z);
    ::close(fd);
    benchmark::DoNotOptimize(out.get());
    return produced;
}

std::size_t InflateAll(const Files& files) {
    std::size_t total = 0;
    for (const std::string& path : files.All())
        total += InflateFile(path);
    return total;
}

void BM_LoadDescription(benchmark::State& state) {
    Files files;
    if (!FindFiles(files, state)) return;
    for (auto _ : state)
        LoadAll(files);
}
BENCHMARK(BM_LoadDescription)->Unit(benchmark::kMillisecond);

void BM_BareInflate(benchmark::State& state) {
    Files files;
    if (!FindFiles(files, state)) return;
    std::size_t bytes = 0;
    for (auto _ : state)
        bytes += InflateAll(files);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_BareInflate)->Unit(benchmark::kMillisecond);

// Both in alternation within one run, so that the ratio is taken under the
// same conditions; reported as counters.
void BM_LoadAgainstInflate(benchmark::State& state) {
    Files files;
    if (!FindFiles(files, state)) return;
    using Clock = std::chrono::steady_clock;
    Clock::duration load{}, inflate{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        LoadAll(files);
        const auto t1 = Clock::now();
        InflateAll(files);
        const auto t2 = Clock::now();
        load += t1 - t0;
        inflate += t2 - t1;
    }
    const auto ms = [&](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count() /
               static_cast<double>(state.iterations());
    };
    state.counters["load_ms"] = ms(load);
    state.counters["inflate_ms"] = ms(inflate);
    state.counters["ratio"] = inflate.count() > 0 ? ms(load) / ms(inflate) : 0;
}
BENCHMARK(BM_LoadAgainstInflate)->Unit(benchmark::kMillisecond);

}  // namespace
