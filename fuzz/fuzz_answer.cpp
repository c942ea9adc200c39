// Whatever arrives on the line: the answer is parsed, checked as the protocol
// layer checks it, and its data decoded with every kind of value. Nothing may
// read outside the answer, and a frame that failed its checksum must never
// yield data.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "link/frame.h"
#include "link/sio.h"
#include "model/my_converter.h"

namespace {

struct Decoding {
    const char* name;
    const char* type;
};

constexpr Decoding kDecodings[] = {
    {"x", "float"},      {"r.oe", "float"},   {"x", "STORED DOT"},    {"x", "DEC dot"},
    {"x", "int16"},      {"x", "uint16"},     {"x", "byte"},          {"x", "bin"},
    {"x", "DWORD"},      {"x", "time"},       {"x", "datetime"},      {"x", "CLK frm"},
    {"x", "string"},     {"x", "name"},       {"x", "Выкл:Вкл:Авто"}, {"dev", "ASCI"},
    {"exit", "byte"},    {"rEAd", "float"},   {"Set.P", "float"},     {"r.St", "Стоп:Пуск"},
    {"Addr", "DEC dot"}, {"A.Len", "8:11"},   {"LEn", "5:6:7:8"},     {"bPS", "1200:9600"},
    {"APLY", "DEC dot"}, {"x", "неизвестен"},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the decoding; the rest is what the port delivered,
    // cut to the answer buffer as the port cuts it.
    const Decoding& d = kDecodings[data[0] % (sizeof kDecodings / sizeof kDecodings[0])];
    bool indexed = data[0] & 0x80;
    std::string_view received(reinterpret_cast<const char*>(data + 1),
                              std::min<std::size_t>(size - 1, kAnswerBufferSize));
    ParsedAnswer answer;
    AnswerStatus status = parse_answer(received, answer);
    if (status != AnswerStatus::Ok) return 0;
    if (answer.dataLength > kMaxFrameData || answer.byteCount < answer.dataLength + 6)
        __builtin_trap();
    if (hash_buffer(answer.bytes, answer.dataLength + 4) != answer.receivedChecksum)
        __builtin_trap();

    MyConverter c;
    c.name = d.name;
    c.type = d.type;
    c.value = "before";
    int r = c.ConvertFromData(answer.Data(), static_cast<int>(answer.dataLength), indexed);
    if (r == 0 && c.value != "before") __builtin_trap();  // a failure leaves the value alone
    if (c.value.size() > 4 * MyConverter::kMaxValueText) __builtin_trap();
    return 0;
}
