// A daily log from anywhere: the whole records are decoded, a cut one is
// reported, and what is decoded encodes back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/protocol_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<Protocol::LogRecord> records;
    bool whole = Protocol::DecodeRecords(bytes, records);
    std::string again;
    for (const Protocol::LogRecord& r : records)
        again += Protocol::EncodeRecord(r);
    // Names keep their bytes up to the first zero, so only the record
    // lengths can be compared in general.
    if (again.size() > size || (whole && again.size() != size)) std::abort();
    return 0;
}
