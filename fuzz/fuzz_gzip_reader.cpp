// The gzip reader on arbitrary file bytes: the whole-buffer and the streaming
// reader must agree, and neither may deliver more than the bound.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "description/gzip_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    const GzipBuffer whole = GunzipMemory(file);
    if (whole.size > MaxInflatedSize(size) || whole.size > whole.announced) __builtin_trap();

    // The same bytes in pieces whose size depends on the input.
    GzipReader reader;
    const GzipStatus opened = reader.OpenMemory(file);
    if (opened != GzipStatus::Ok && opened != whole.status) __builtin_trap();
    const std::size_t piece = size == 0 ? 1 : 1 + data[0] % 64 * 97;
    std::vector<std::uint8_t> streamed;
    std::vector<std::uint8_t> buffer(piece);
    while (reader.HasData()) {
        const std::size_t got = reader.Read(buffer.data(), piece);
        if (got == 0) break;
        streamed.insert(streamed.end(), buffer.begin(), buffer.begin() + static_cast<long>(got));
        if (streamed.size() > reader.Limit()) __builtin_trap();
    }

    const std::size_t common = std::min(streamed.size(), whole.size);
    if (common > 0 && std::memcmp(streamed.data(), whole.bytes.get(), common) != 0)
        __builtin_trap();
    // Broken deflate data may be noticed a few bytes earlier or later
    // depending on how much room inflate had; sound data reads alike.
    if (reader.Status() != GzipStatus::Damaged && whole.status != GzipStatus::Damaged &&
        (streamed.size() != whole.size || reader.Status() != whole.status))
        __builtin_trap();
    return 0;
}
