// The measurement protocol: appending polled values the way the main window
// does (open, append, close per record), and packing and extracting a large
// daily log beside bare zlib over the same bytes. Packing and extracting also
// report how much the peak resident memory grew, which must stay a few
// chunks whatever the log's size.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench_memory.h"
#include "model/parameter.h"
#include "protocol/protocol_files.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kLogBytes = 50u * 1000 * 1000;
constexpr int kAppends = 100000;
const char* const kLogName = "07-12-2026.log";

const fs::path& Folder() {
    static const fs::path dir = [] {
        fs::path d =
            fs::temp_directory_path() / ("selvar-bench-protocol-" + std::to_string(getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

struct Cleanup {
    Cleanup() { Folder(); }  // the folder outlives this object
    ~Cleanup() {
        std::error_code ec;
        fs::remove_all(Folder(), ec);
    }
} cleanup;

// Records of a day of polling: eight parameters, slowly drifting readings.
void AppendSampleRecords(std::string& out, std::size_t bytes, std::mt19937& gen) {
    static const char* const names[] = {"r.co", "in.sl", "rEAd", "A.Len", "bPS", "dev", "t1", "t2"};
    static std::int64_t time = 1765100000;
    std::normal_distribution<float> noise(0.0f, 0.05f);
    while (out.size() < bytes) {
        for (int i = 0; i < 8; ++i) {
            Protocol::LogRecord r;
            r.time = time;
            r.name = names[i];
            r.address = 3;
            float value = 20.0f +
                          5.0f * std::sin(static_cast<float>(time % 86400) / 3000.0f +
                                          static_cast<float>(i)) +
                          noise(gen);
            r.data.resize(4);
            std::memcpy(r.data.data(), &value, 4);
            r.failed = gen() % 500 == 0;
            if (r.failed) r.data.clear();
            out += Protocol::EncodeRecord(r);
        }
        ++time;
    }
}

// The 50 MB log, written in pieces so that making it costs no memory.
const fs::path& LargeLog() {
    static const fs::path path = [] {
        fs::path p = Folder() / kLogName;
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        std::mt19937 gen(1);
        std::string piece;
        std::size_t written = 0;
        while (written < kLogBytes) {
            piece.clear();
            AppendSampleRecords(piece, std::min<std::size_t>(1 << 20, kLogBytes - written), gen);
            piece.resize(std::min(piece.size(), kLogBytes - written));
            out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
            written += piece.size();
        }
        return p;
    }();
    return path;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The fastest round of each: the machine may be busy with other work, and
// the ratios should compare the code, not the neighbours.
double g_packSeconds = 0, g_extractSeconds = 0;
std::vector<std::string> g_chunks;  // the log compressed chunk by chunk, as stored

void BM_AppendRecords(benchmark::State& state) {
    Protocol::ProtocolFiles files(Folder().string(), 1765100000);
    files.SetCurrentLogName("appended.log");
    Parameter p;
    p.name = "in.sl";
    p.deviceAddress = 3;
    p.rawLength = 4;
    p.rawData[0] = 0x41;
    p.rawData[1] = 0x20;
    std::size_t failures = 0;
    for (auto _ : state) {
        for (int i = 0; i < kAppends; ++i)
            if (!files.AppendRecord(p, 1765100000 + i)) ++failures;
        state.PauseTiming();
        fs::remove(Folder() / "appended.log");
        state.ResumeTiming();
    }
    if (failures) state.SkipWithError("a record could not be written");
    state.counters["records/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kAppends, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AppendRecords)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_PackLog(benchmark::State& state) {
    const fs::path log = LargeLog();
    const fs::path archivePath = Folder() / "12-2026.var";
    bool peak = ResetPeak();
    const long before = StatusKb("VmRSS");
    double best = 1e300;
    for (auto _ : state) {
        std::error_code ec;
        fs::remove(archivePath, ec);
        auto archive = Protocol::OpenArchive(archivePath.string(), true);
        auto start = std::chrono::steady_clock::now();
        std::string error;
        if (!archive || !Protocol::PackLogFile(*archive, kLogName, log.string(), false, &error))
            state.SkipWithError(("packing failed: " + error).c_str());
        best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
    }
    g_packSeconds = best;
    if (peak)
        state.counters["peak_rss_growth_MB"] =
            static_cast<double>(StatusKb("VmHWM") - before) / 1024.0;
    state.counters["archive_MB"] = static_cast<double>(fs::file_size(archivePath)) / 1e6;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLogBytes));
}
BENCHMARK(BM_PackLog)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// compress2 alone over the same bytes in the same chunks; pack_ratio is the
// packing time over this one.
void BM_BareCompress2(benchmark::State& state) {
    const std::string bytes = ReadAll(LargeLog());
    std::vector<Bytef> packed(compressBound(Protocol::kChunkSize));
    double best = 1e300;
    for (auto _ : state) {
        g_chunks.clear();
        auto start = std::chrono::steady_clock::now();
        for (std::size_t at = 0; at < bytes.size(); at += Protocol::kChunkSize) {
            uLong n = std::min<std::size_t>(Protocol::kChunkSize, bytes.size() - at);
            uLongf packedLen = packed.size();
            compress2(packed.data(), &packedLen, reinterpret_cast<const Bytef*>(bytes.data() + at),
                      n, Z_DEFAULT_COMPRESSION);
            g_chunks.emplace_back(reinterpret_cast<const char*>(packed.data()), packedLen);
        }
        best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
    }
    state.counters["pack_ratio"] = g_packSeconds / best;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_BareCompress2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_ExtractLog(benchmark::State& state) {
    const fs::path archivePath = Folder() / "12-2026.var";
    auto archive = Protocol::OpenArchive(archivePath.string(), false);
    if (!archive) {
        state.SkipWithError("no archive; the packing benchmark makes it");
        return;
    }
    const fs::path target = Folder() / "extracted";
    bool peak = ResetPeak();
    const long before = StatusKb("VmRSS");
    double best = 1e300;
    for (auto _ : state) {
        // Extraction goes to a fresh folder; freeing the copy of the previous
        // round is not part of it.
        std::error_code ec;
        fs::remove_all(target, ec);
        auto start = std::chrono::steady_clock::now();
        std::string error;
        if (!Protocol::ExtractLogFile(*archive, kLogName, target.string(), &error))
            state.SkipWithError(("extracting failed: " + error).c_str());
        best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
    }
    g_extractSeconds = best;
    if (peak)
        state.counters["peak_rss_growth_MB"] =
            static_cast<double>(StatusKb("VmHWM") - before) / 1024.0;
    if (fs::file_size(target / kLogName) != kLogBytes) state.SkipWithError("wrong size");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLogBytes));
}
BENCHMARK(BM_ExtractLog)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// uncompress alone over the stored chunks; extract_ratio is the extracting
// time over this one.
void BM_BareUncompress(benchmark::State& state) {
    if (g_chunks.empty()) {
        state.SkipWithError("no chunks; the compress2 benchmark makes them");
        return;
    }
    std::vector<Bytef> plain(Protocol::kChunkSize);
    double best = 1e300;
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        auto start = std::chrono::steady_clock::now();
        for (const std::string& chunk : g_chunks) {
            uLongf n = plain.size();
            uncompress(plain.data(), &n, reinterpret_cast<const Bytef*>(chunk.data()),
                       chunk.size());
            bytes += n;
        }
        best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
    }
    state.counters["extract_ratio"] = g_extractSeconds / best;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_BareUncompress)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

}  // namespace
