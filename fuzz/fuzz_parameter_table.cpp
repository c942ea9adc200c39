// The parameter table loader. The first byte chooses what the rest is: odd,
// a table file as stored; even, the decompressed records, which the harness
// compresses itself so that the fuzzer works on the record fields directly.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "description/gzip_reader.h"
#include "description/parameter_table.h"
#include "description/record_layout.h"

namespace {

std::vector<std::uint8_t> Gzip(std::span<const std::uint8_t> data) {
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) __builtin_trap();
    std::vector<std::uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())) + 32);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) __builtin_trap();
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    ParameterTable table;
    if (data[0] & 1) {
        LoadParameterTableFromMemory(table, rest, "fuzz");
        if (table.Size() > MaxInflatedSize(rest.size()) / TableRecord::kSize) __builtin_trap();
        return 0;
    }
    const std::vector<std::uint8_t> file = Gzip(rest);
    const TableLoadStatus status = LoadParameterTableFromMemory(table, file, "fuzz");
    if (status != TableLoadStatus::Ok || table.Size() != rest.size() / TableRecord::kSize)
        __builtin_trap();
    // What the program does next with a loaded table.
    for (Parameter& p : table.All()) {
        (void)p.RowTexts(true);
        (void)table.Find(p.name, p.linearIndex);
    }
    return 0;
}
