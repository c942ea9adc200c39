// The protocol export over recorded polling: 40 operative parameters polled
// every second. A full month (about 100 million records, 2.4 GB of logs) is
// more than this machine's disk and time allow for a benchmark run, so the
// month is scaled down: the day benchmarks use kDayHours hours of one day,
// the period benchmark kPeriodDays days of kPeriodMinutes minutes each. The
// scale is printed in the counters.
//
// Targets: pages of one day at most 2x reading and decoding the same records
// alone (html_ratio), the workbook at most 1.5x libxlsxwriter writing the
// same cells bare (workbook_ratio), and peak memory that does not grow with
// the period (peak_rss_growth_MB of 3 days against 30 days).
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_memory.h"
#include "model/my_converter.h"
#include "protocol/export.h"
#include "protocol/protocol_files.h"

namespace fs = std::filesystem;
using namespace Protocol;

namespace {

constexpr int kParameters = 40;
constexpr int kDayHours = 4;
constexpr int kPeriodDays = 30;
constexpr int kPeriodMinutes = 20;
constexpr std::int64_t kDayStart = 1796601600;  // 2026-12-07 00:00:00 UTC

const fs::path& Folder() {
    static const fs::path dir = [] {
        fs::path d =
            fs::temp_directory_path() / ("selvar-bench-export-" + std::to_string(getpid()));
        fs::create_directories(d / "protocol");
        fs::create_directories(d / "temp");
        setenv("TZ", "UTC", 1);
        tzset();
        return d;
    }();
    return dir;
}

struct Cleanup {
    Cleanup() { Folder(); }
    ~Cleanup() {
        std::error_code ec;
        fs::remove_all(Folder(), ec);
    }
} cleanup;

// Forty float readings: eight channels of five names.
std::vector<ReportColumn> Columns() {
    static const char* const names[] = {"rEAd", "r.CAL", "r.OUt", "v.in", "Set.P"};
    std::vector<ReportColumn> columns;
    for (int i = 0; i < kParameters; ++i) {
        ReportColumn c;
        c.name = names[i / 8];
        c.address = static_cast<std::uint8_t>(i % 8);
        c.title = "Канал " + std::to_string(i % 8 + 1) + " [" + c.name + "]";
        c.type = "float";
        c.decimals = 2;
        columns.push_back(c);
    }
    return columns;
}

// A log of `seconds` seconds from `start`, every parameter each second.
void WriteLog(const std::string& name, std::int64_t start, int seconds) {
    const std::vector<ReportColumn> columns = Columns();
    std::ofstream out(Folder() / "protocol" / name, std::ios::binary | std::ios::trunc);
    std::string block;
    for (int s = 0; s < seconds; ++s) {
        for (int i = 0; i < kParameters; ++i) {
            LogRecord r;
            r.time = start + s;
            r.name = columns[static_cast<std::size_t>(i)].name;
            r.address = columns[static_cast<std::size_t>(i)].address;
            r.failed = (s * kParameters + i) % 997 == 0;
            if (!r.failed) {
                float v = 20.0f + 5.0f * std::sin(static_cast<float>(s + i * 60) / 500.0f);
                std::uint32_t bits;
                std::memcpy(&bits, &v, 4);
                r.data = {std::uint8_t(bits >> 24), std::uint8_t(bits >> 16),
                          std::uint8_t(bits >> 8), std::uint8_t(bits)};
            }
            block += EncodeRecord(r);
        }
        if (block.size() > (1u << 20)) {
            out << block;
            block.clear();
        }
    }
    out << block;
}

const std::string& Day() {
    static const std::string name = [] {
        WriteLog("07-12-2026.log", kDayStart, kDayHours * 3600);
        return std::string("07-12-2026.log");
    }();
    return name;
}

ExportRequest Request(ExportFormat format) {
    ExportRequest r;
    r.format = format;
    r.columns = Columns();
    r.byFile = true;
    r.dataFile = Day();
    r.protocolFolder = (Folder() / "protocol").string();
    r.outputFolder = (Folder() / "temp").string();
    return r;
}

ExportHooks Hooks() {
    ExportHooks h;
    h.freeSpace = [](const std::string&) { return std::optional<std::uint64_t>(kMinFreeSpace); };
    return h;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double g_readSeconds = 0;
double g_bareSeconds = 0;

// Reading and decoding the day's records alone: each record matched to its
// parameter and its data decoded, nothing written.
void BM_ReadAndDecodeDay(benchmark::State& state) {
    const std::vector<ReportColumn> columns = Columns();
    std::vector<MyConverter> scratch(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        scratch[i].name = columns[i].name;
        scratch[i].type = columns[i].type;
        scratch[i].decimals = columns[i].decimals;
    }
    const fs::path path = Folder() / "protocol" / Day();
    double best = 1e300;
    std::size_t decoded = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        std::ifstream in(path, std::ios::binary);
        std::vector<char> block(1 << 16);
        LogDecoder decoder;
        decoded = 0;
        while (in) {
            in.read(block.data(), static_cast<std::streamsize>(block.size()));
            auto got = static_cast<std::size_t>(in.gcount());
            if (got == 0) break;
            decoder.Feed(std::string_view(block.data(), got), [&](const LogRecord& r) {
                for (std::size_t i = 0; i < columns.size(); ++i)
                    if (columns[i].address == r.address && columns[i].name == r.name) {
                        scratch[i].value.clear();
                        if (!r.failed)
                            scratch[i].ConvertFromData(r.data.data(),
                                                       static_cast<int>(r.data.size()), false);
                        decoded += scratch[i].value.size();
                        break;
                    }
                return true;
            });
        }
        best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
    }
    benchmark::DoNotOptimize(decoded);
    g_readSeconds = best;
    state.counters["hours_of_day"] = kDayHours;
    state.counters["records"] = kDayHours * 3600.0 * kParameters;
}
BENCHMARK(BM_ReadAndDecodeDay)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_HtmlDay(benchmark::State& state) {
    double best = 1e300;
    for (auto _ : state) {
        ExportJob job(Request(ExportFormat::Html), Hooks());
        auto start = std::chrono::steady_clock::now();
        ExportResult result = job.Run();
        best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
        if (result.status != ExportStatus::Done) state.SkipWithError(result.detail.c_str());
    }
    state.counters["html_ratio"] = best / g_readSeconds;  // target: at most 2
}
BENCHMARK(BM_HtmlDay)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// libxlsxwriter writing the same cells bare: a date and time and forty
// numbers a row, constant memory, values known beforehand.
void BM_BareWorkbookDay(benchmark::State& state) {
    const int rows = kDayHours * 3600;
    std::vector<double> values(static_cast<std::size_t>(rows) * kParameters);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = 20.0 + 5.0 * std::sin(static_cast<double>(i) / 500.0);
    const std::string path = (Folder() / "temp" / "bare.xlsx").string();
    std::string tmpdir = (Folder() / "temp").string();
    double best = 1e300;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        options.tmpdir = tmpdir.data();
        options.use_zip64 = LXW_TRUE;
        lxw_workbook* wb = workbook_new_opt(path.c_str(), &options);
        lxw_format* time = workbook_add_format(wb);
        format_set_num_format(time, "dd.mm.yyyy hh:mm:ss");
        lxw_format* number = workbook_add_format(wb);
        format_set_num_format(number, "0.00");
        lxw_worksheet* ws = workbook_add_worksheet(wb, "bare");
        for (int c = 0; c <= kParameters; ++c)
            worksheet_write_string(ws, 0, static_cast<lxw_col_t>(c), "Канал", nullptr);
        for (int r = 0; r < rows; ++r) {
            lxw_datetime when{2026, 12, 7, r / 3600, r / 60 % 60, static_cast<double>(r % 60)};
            worksheet_write_datetime(ws, static_cast<lxw_row_t>(r + 1), 0, &when, time);
            for (int c = 0; c < kParameters; ++c)
                worksheet_write_number(
                    ws, static_cast<lxw_row_t>(r + 1), static_cast<lxw_col_t>(c + 1),
                    values[static_cast<std::size_t>(r) * kParameters + static_cast<std::size_t>(c)],
                    number);
        }
        workbook_close(wb);
        best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
    }
    g_bareSeconds = best;
}
BENCHMARK(BM_BareWorkbookDay)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void BM_WorkbookDay(benchmark::State& state) {
    double best = 1e300;
    for (auto _ : state) {
        ExportJob job(Request(ExportFormat::Workbook), Hooks());
        auto start = std::chrono::steady_clock::now();
        ExportResult result = job.Run();
        best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
        if (result.status != ExportStatus::Done) state.SkipWithError(result.detail.c_str());
    }
    state.counters["workbook_ratio"] = best / g_bareSeconds;  // target: at most 1.5
}
BENCHMARK(BM_WorkbookDay)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// Workbooks of a period: the peak memory of 30 days against that of 3.
void BM_WorkbookPeriodMemory(benchmark::State& state) {
    const int days = static_cast<int>(state.range(0));
    static bool written = false;
    if (!written) {
        for (int d = 0; d < kPeriodDays; ++d)
            WriteLog(DayLogName(CivilDate::FromSerial(20400 + d)), (20400 + d) * 86400LL + 36000,
                     kPeriodMinutes * 60);
        written = true;
    }
    const bool peak = ResetPeak();
    const long before = StatusKb("VmRSS");
    for (auto _ : state) {
        ExportRequest r = Request(ExportFormat::Workbook);
        r.byFile = false;
        r.from = CivilDate::FromSerial(20400);
        r.to = CivilDate::FromSerial(20400 + days - 1);
        ExportJob job(r, Hooks());
        ExportResult result = job.Run();
        if (result.status != ExportStatus::Done) state.SkipWithError(result.detail.c_str());
    }
    if (peak)
        state.counters["peak_rss_growth_MB"] =
            static_cast<double>(StatusKb("VmHWM") - before) / 1024.0;
    state.counters["days"] = days;
    state.counters["minutes_a_day"] = kPeriodMinutes;
}
BENCHMARK(BM_WorkbookPeriodMemory)
    ->Arg(3)
    ->Arg(kPeriodDays)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
