// The bytes of an archive stream from anywhere: chunks inflate or fail
// without a crash, and no chunk header makes the reader allocate more than a
// writer could have stored.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "protocol/protocol_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::size_t total = 0;
    std::string error;
    Protocol::InflateChunks(
        bytes,
        [&](std::string_view part) {
            if (part.empty() || part.size() > Protocol::kChunkSize) std::abort();
            total += part.size();
            return true;
        },
        &error);
    return 0;
}
