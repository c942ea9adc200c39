#include "args.h"

#include <algorithm>

#include "platform/text.h"

namespace {

std::string Quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

Args::Args(std::span<const OptionDef> defs, std::span<const std::string_view> argv) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        std::string_view arg = argv[i];
        // A short flag such as "-v" is an option only where the command defines it.
        bool shortFlag = !optionsEnded && arg.size() == 2 && arg[0] == '-' &&
                         std::any_of(defs.begin(), defs.end(),
                                     [&](const OptionDef& d) { return d.name == arg; });
        if (!shortFlag && (optionsEnded || arg.size() < 2 || arg.substr(0, 2) != "--")) {
            operands_.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string_view name = arg;
        std::optional<std::string_view> inlineValue;
        if (auto eq = arg.find('='); eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        const OptionDef* known = nullptr;
        for (const OptionDef& d : defs)
            if (d.name == name) known = &d;
        if (!known) throw UsageError("unknown option " + Quoted(name));
        if (Find(known->name)) throw UsageError("option " + Quoted(name) + " given twice");
        std::string value;
        if (known->takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < argv.size()) {
                value = argv[++i];
            } else {
                throw UsageError("option " + Quoted(name) + " needs a value");
            }
        } else if (inlineValue) {
            throw UsageError("option " + Quoted(name) + " takes no value");
        }
        options_.push_back({known->name, std::move(value)});
    }
}

const Args::Given* Args::Find(std::string_view option) const {
    for (const Given& g : options_)
        if (g.name == option) return &g;
    return nullptr;
}

bool Args::Has(std::string_view option) const {
    return Find(option) != nullptr;
}

std::optional<std::string> Args::Text(std::string_view option) const {
    if (const Given* g = Find(option)) return g->value;
    return std::nullopt;
}

std::int64_t Args::Int(std::string_view option, std::int64_t min, std::int64_t max,
                       std::int64_t fallback) const {
    const Given* g = Find(option);
    if (!g) return fallback;
    std::int64_t n = 0;
    // Blanks are refused too: the parser would skip leading ones silently.
    if (g->value.empty() || IsBlank(g->value.front()) ||
        ParseLeadingInt(g->value, n) != g->value.size())
        throw UsageError(std::string(option) + ": " + Quoted(g->value) + " is not a whole number");
    if (n < min || n > max)
        throw UsageError(std::string(option) + ": " + g->value + " is out of range " +
                         std::to_string(min) + ".." + std::to_string(max));
    return n;
}

std::int64_t Args::RequiredInt(std::string_view option, std::int64_t min, std::int64_t max) const {
    if (!Has(option)) throw UsageError("option " + Quoted(option) + " is required");
    return Int(option, min, max, 0);
}

std::optional<double> Args::Real(std::string_view option) const {
    const Given* g = Find(option);
    if (!g) return std::nullopt;
    double x = 0;
    if (g->value.empty() || IsBlank(g->value.front()) ||
        ParseLeadingReal(g->value, x) != g->value.size())
        throw UsageError(std::string(option) + ": " + Quoted(g->value) + " is not a number");
    return x;
}

void Args::ExpectOperands(std::size_t min, std::size_t max, std::string_view what) const {
    if (operands_.size() < min || operands_.size() > max)
        throw UsageError("expected " + std::string(what) + ", got " +
                         std::to_string(operands_.size()) + " operand(s)");
}

std::vector<std::uint8_t> ParseHexBytes(std::span<const std::string> groups) {
    std::vector<std::uint8_t> bytes;
    for (const std::string& arg : groups) {
        std::size_t i = 0;
        while (i < arg.size()) {
            if (IsBlank(arg[i])) {
                ++i;
                continue;
            }
            std::size_t end = i;
            while (end < arg.size() && !IsBlank(arg[end]))
                ++end;
            std::string_view group(arg.data() + i, end - i);
            for (char c : group)
                if (HexDigit(c) < 0) throw UsageError("not a hex digit in " + Quoted(group));
            if (group.size() % 2 != 0)
                throw UsageError("odd count of hex digits in " + Quoted(group));
            for (std::size_t k = 0; k < group.size(); k += 2)
                bytes.push_back(
                    static_cast<std::uint8_t>(HexDigit(group[k]) * 16 + HexDigit(group[k + 1])));
            i = end;
        }
    }
    return bytes;
}

std::string HexText(const std::uint8_t* data, std::size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        if (i) out.push_back(' ');
        out.push_back(kDigits[data[i] >> 4]);
        out.push_back(kDigits[data[i] & 0x0F]);
    }
    return out;
}

NamedParameter ParseNamedParameter(const std::string& key) {
    NamedParameter out;
    std::size_t colon = key.rfind(':');
    out.name = key.substr(0, colon);
    if (colon != std::string::npos) {
        std::int64_t v = 0;
        std::string digits = key.substr(colon + 1);
        if (digits.empty() || ParseLeadingInt(digits, v) != digits.size() || v < 0 || v > 65535)
            throw UsageError(Quoted(key) + ": the index after ':' must be a number 0..65535");
        out.index = static_cast<int>(v);
    }
    if (out.name.empty()) throw UsageError("empty parameter name");
    return out;
}
