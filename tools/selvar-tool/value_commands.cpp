#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

#include "commands.h"
#include "link/device_io.h"
#include "model/my_converter.h"
#include "model/parameter.h"
#include "platform/text.h"

namespace {

// The type names a converter knows. Anything else without a ':' would be
// taken as a one-label enumeration, which on the command line is almost
// always a misspelt name, so the tool refuses it.
constexpr std::string_view kTypeNames[] = {
    "float",   "STORED DOT", "DEC dot", "int16", "uint16",
    "byte",    "bin",        "DWORD",   "time",  "datetime",
    "CLK frm", "string",     "ASCI",    "name",  MyConverter::kUnknownType,
};

std::string CheckedType(const Args& args) {
    std::optional<std::string> type = args.Text("--type");
    if (!type) throw UsageError("option '--type' is required");
    if (type->find(':') != std::string::npos) return *type;
    for (std::string_view known : kTypeNames)
        if (EqualsNoCase(*type, known)) return *type;
    throw UsageError("unknown type '" + *type +
                     "' (a type name, or enumeration labels separated by ':')");
}

// Decimals the device can show: the stored point holds 0..7.
constexpr std::int64_t kMaxDecimals = 7;

void Configure(const Args& args, MyConverter& converter) {
    converter.type = CheckedType(args);
    converter.decimals = static_cast<int>(args.Int("--decimals", 0, kMaxDecimals, 0));
    if (std::optional<std::string> name = args.Text("--name")) converter.name = *name;
}

// A text as it can be shown on a terminal: bytes that are no UTF-8, and
// control characters, as \xNN.
std::string Shown(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80             ? 1
                             : (c & 0xE0) == 0xC0 ? 2
                             : (c & 0xF0) == 0xE0 ? 3
                             : (c & 0xF8) == 0xF0 ? 4
                                                  : 0;
        bool valid = length > 0 && i + length <= text.size() && (length != 2 || c >= 0xC2);
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (valid && (c >= 0x20 && c != 0x7F)) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += Format("\\x%02X", static_cast<unsigned>(c));
            ++i;
        }
    }
    return out;
}

}  // namespace

int TakeWriteValue(const Args& args, Parameter& p, const std::string& text, Io& io) {
    if (args.Has("--raw")) {
        p.value = text;
        return ExchangeCode::kOk;
    }
    if (!p.HasEncoder()) {
        io.err << "selvar-tool write: the type of '" << p.name
               << "' is not known, so no value of it can be sent (name its modification with "
                  "--modification)\n";
        return ExchangeCode::kNotEncodable;
    }
    std::string reason;
    if (p.EnterText(text, &reason)) return ExchangeCode::kOk;
    io.err << "selvar-tool write: " << p.RefusalMessage(Shown(text)) << '\n';
    if (!reason.empty()) io.err << "selvar-tool write: " << reason << '\n';
    io.err << "selvar-tool write: nothing was sent (--raw sends a text unchecked)\n";
    return ExchangeCode::kNotEncodable;
}

int RunEncode(const Args& args, Io& io) {
    args.ExpectOperands(1, 1, "one TEXT (quote a text with blanks)");
    MyConverter converter;
    Configure(args, converter);

    std::uint8_t data[MyConverter::kMaxRawData] = {};
    int count = 0;
    std::string reason;
    const int result = converter.ConvertToData(args.Operands()[0], data, count, false, &reason);
    if (result != 1) {
        if (!reason.empty())
            io.err << "encode: " << reason << '\n';
        else if (result < 0)
            io.err << "encode: '" << converter.name << "' has no write method\n";
        else
            io.err << "encode: the value cannot be encoded as " << converter.type << '\n';
        return Exit::kRefused;
    }
    const auto shown = count < 0 ? 0 : static_cast<std::size_t>(count);
    io.out << HexText(data, shown < MyConverter::kMaxRawData ? shown : MyConverter::kMaxRawData)
           << '\n';
    return Exit::kOk;
}

int RunDecode(const Args& args, Io& io) {
    args.ExpectOperands(1, std::numeric_limits<std::size_t>::max(), "HEX bytes");
    MyConverter converter;
    Configure(args, converter);
    std::vector<std::uint8_t> data = ParseHexBytes(args.Operands());
    if (data.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        throw UsageError("too many data bytes");

    const int result = converter.ConvertFromData(data.data(), static_cast<int>(data.size()),
                                                 args.Has("--indexed"));
    if (result == 0) {
        io.err << "decode: the data cannot be decoded as " << converter.type << '\n';
        return Exit::kRefused;
    }
    io.out << converter.value << '\n';
    if (result < 0) {
        io.err << "decode: length or network-name error\n";
        return Exit::kPartial;
    }
    return Exit::kOk;
}

int RunParse(const Args& args, Io& io) {
    args.ExpectOperands(1, 1, "one TEXT (quote a text with blanks)");
    Parameter parameter;
    Configure(args, parameter);
    std::optional<double> min = args.Real("--min");
    std::optional<double> max = args.Real("--max");
    if (min.has_value() != max.has_value()) throw UsageError("--min and --max go together");
    if (min && *min > *max) throw UsageError("--min is above --max");
    parameter.minValue = min.value_or(0);
    parameter.maxValue = max.value_or(0);

    if (!parameter.SetValueFromText(args.Operands()[0])) {
        io.err << parameter.RefusalMessage(args.Operands()[0]) << '\n';
        return Exit::kRefused;
    }
    io.out << parameter.value << '\n';
    return Exit::kOk;
}
