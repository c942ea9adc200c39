// Per-call cost of the frame codec and of decoding answer data, the work done
// for every parameter of a read-all or of each poll.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "link/frame.h"
#include "model/my_converter.h"

namespace {

void BM_HashName(benchmark::State& state) {
    const std::string_view names[] = {"A.Len", "r.CAL", "in.sl", "n.Err"};
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(hash_name(names[i++ & 3]));
    }
}
BENCHMARK(BM_HashName);

void BM_HashBufferLongestFrame(benchmark::State& state) {
    std::uint8_t frame[kMaxByteFrame - 2];
    for (std::size_t i = 0; i < sizeof frame; ++i)
        frame[i] = static_cast<std::uint8_t>(i * 37);
    for (auto _ : state) {
        benchmark::DoNotOptimize(frame);
        benchmark::DoNotOptimize(hash_buffer(frame, sizeof frame));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(sizeof frame));
}
BENCHMARK(BM_HashBufferLongestFrame);

void BM_BuildRequest(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::vector<std::uint8_t> data(count, 0x5A);
    LineFrame frame;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            build_request(16, 0, 8, count == 0, 0x1ED2, data.data(), count, frame));
        benchmark::DoNotOptimize(frame.chars);
    }
}
BENCHMARK(BM_BuildRequest)->Arg(0)->Arg(4)->Arg(15);

void BM_ParseAnswer(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::vector<std::uint8_t> data(count, 0xA5);
    LineFrame frame;
    build_request(16, 0, 8, false, 0x1ED2, data.data(), count, frame);
    ParsedAnswer answer;
    for (auto _ : state) {
        benchmark::DoNotOptimize(parse_answer(frame.View(), answer));
        benchmark::DoNotOptimize(answer.bytes);
    }
}
BENCHMARK(BM_ParseAnswer)->Arg(0)->Arg(4)->Arg(15);

struct DecodeCase {
    const char* name;
    const char* type;
    int decimals;
    std::uint8_t data[4];
    int count;
};

void BM_ConvertFromData(benchmark::State& state, const DecodeCase& c) {
    MyConverter converter;
    converter.name = c.name;
    converter.type = c.type;
    converter.decimals = c.decimals;
    int result = 0;
    for (auto _ : state) {
        result = converter.ConvertFromData(c.data, c.count, false);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(converter.value.data());
    }
    if (result != 1) state.SkipWithError("the sample data did not decode");
}

// 12.5 as a single, 5000.0 with a stored point, -2, label 2, and 23.25 read.
constexpr DecodeCase kFloat{"in.sl", "float", 2, {0x41, 0x48, 0x00, 0x00}, 4};
constexpr DecodeCase kStoredDot{"r.co", "STORED DOT", 1, {0x10, 0xC3, 0x50}, 3};
constexpr DecodeCase kInt16{"in.sh", "int16", 0, {0xFF, 0xFE}, 2};
constexpr DecodeCase kEnumeration{"in.t", "Выкл:Вкл:Авто:Ручной", 0, {0x02}, 1};
constexpr DecodeCase kReading{"rEAd", "float", 3, {0x41, 0xBA, 0x00, 0x00}, 4};

BENCHMARK_CAPTURE(BM_ConvertFromData, float, kFloat);
BENCHMARK_CAPTURE(BM_ConvertFromData, stored_dot, kStoredDot);
BENCHMARK_CAPTURE(BM_ConvertFromData, int16, kInt16);
BENCHMARK_CAPTURE(BM_ConvertFromData, enumeration, kEnumeration);
BENCHMARK_CAPTURE(BM_ConvertFromData, reading, kReading);

}  // namespace
