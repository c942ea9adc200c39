#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

#include "commands.h"
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

}  // namespace

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
