#include "app/startup_options.h"

#include <cstring>
#include <optional>
#include <string_view>

#include "platform/text.h"

namespace App {

namespace {

bool IsDigit(char c, int base) {
    if (c >= '0' && c <= '9') return c - '0' < base;
    if (base == 16) return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    return false;
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

// A number as "%i" reads it: blanks skipped, a sign, then "0x" hexadecimal,
// a leading "0" octal, else decimal. None when the text does not start with
// one. Stored into a 32-bit field the way the C conversion does: the low 32
// bits of the (saturated) long value.
std::optional<std::int32_t> ReadNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || !IsDigit(text[i], 10)) return std::nullopt;
    int base = 10;
    if (text[i] == '0') {
        if (i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
            IsDigit(text[i + 2], 16)) {
            base = 16;
            i += 2;
        } else {
            base = 8;
        }
    }
    constexpr std::uint64_t kLimit = 0x7FFFFFFFFFFFFFFFull;
    std::uint64_t value = 0;
    for (; i < text.size() && IsDigit(text[i], base); ++i) {
        std::uint64_t next = value * static_cast<std::uint64_t>(base) +
                             static_cast<std::uint64_t>(DigitValue(text[i]));
        value =
            (value > kLimit / static_cast<std::uint64_t>(base) || next > kLimit) ? kLimit : next;
    }
    std::uint64_t bits = negative ? (~value + 1) : value;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits & 0xFFFFFFFFu));
}

std::string Unquote(std::string_view text) {
    if (!text.empty() && text.front() == '"') text.remove_prefix(1);
    if (!text.empty() && text.back() == '"') text.remove_suffix(1);
    return std::string(text);
}

// The longest start of `text` that fits `capacity` bytes without splitting a
// UTF-8 character.
std::string_view FitBytes(std::string_view text, std::size_t capacity) {
    if (text.size() <= capacity) return text;
    std::size_t end = capacity;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

// Copies a text into a zero-terminated field; a longer text is cut, and the
// cut is noted.
template <std::size_t N>
void StoreText(char (&field)[N], std::string_view option, std::string_view text,
               std::vector<std::string>& notes) {
    std::string_view kept = FitBytes(text, N - 1);
    std::memset(field, 0, N);
    std::memcpy(field, kept.data(), kept.size());
    if (kept.size() < text.size())
        notes.push_back("\"" + std::string(option) + "\": \"" + std::string(text) +
                        "\" is longer than " + std::to_string(N - 1) + " bytes; \"" +
                        std::string(kept) + "\" is used");
}

// The options of one option argument: split at "/", except inside double
// quotes, so that a quoted path keeps its slashes.
std::vector<std::string_view> SplitOptions(std::string_view text) {
    std::vector<std::string_view> parts;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') quoted = !quoted;
        if (text[i] == '/' && !quoted) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(text.substr(start));
    return parts;
}

void ApplyOption(std::string_view name, std::string_view value, bool hasValue, CommandLine& line) {
    StartupOptions& o = line.options;
    o.actionBits |= ActionBit::kDriven;
    auto number = [&]() { return hasValue ? ReadNumber(value) : std::nullopt; };
    auto geometry = [&](std::int32_t& field, std::uint8_t bit) {
        if (auto n = number()) {
            field = *n;
            o.geometryBits |= bit;
        }
    };

    if (name == "write") {
        o.actionBits |= ActionBit::kWrite;
    } else if (name == "read") {
        o.actionBits |= ActionBit::kRead;
    } else if (name == "port") {
        if (o.HasMode(ModeBit::kNewNetParams)) return;
        if (auto n = number()) {
            o.port = static_cast<std::uint8_t>(*n & 0xFF);
            o.actionBits |= ActionBit::kNetworkGiven;
        }
    } else if (name == "bps") {
        if (auto n = number()) {
            o.baud = *n;
            o.actionBits |= ActionBit::kNetworkGiven;
        }
    } else if (name == "prty") {
        int parity = value == "even"  ? ParityOption::kEven
                     : value == "odd" ? ParityOption::kOdd
                     : value == "no"  ? ParityOption::kNone
                                      : ParityOption::kNotGiven;
        if (hasValue && parity != ParityOption::kNotGiven) {
            o.SetParity(parity);
            o.actionBits |= ActionBit::kNetworkGiven;
        } else {
            o.actionBits &= ~ActionBit::kNetworkGiven;
        }
    } else if (name == "addr") {
        if (!value.empty()) {
            StoreText(o.address, name, value, line.notes);
            o.actionBits |= ActionBit::kNetworkGiven;
        }
    } else if (name == "len") {
        if (auto n = number()) {
            o.SetDataLength(*n & 0xF);
            o.actionBits |= ActionBit::kNetworkGiven;
        }
    } else if (name == "sbit") {
        if (!value.empty()) {
            StoreText(o.stopBits, name, value, line.notes);
            o.actionBits |= ActionBit::kNetworkGiven;
        }
    } else if (name == "alen") {
        if (auto n = number()) {
            o.SetAddressLength(*n & 0xF);
            o.actionBits |= ActionBit::kNetworkGiven;
        }
    } else if (name == "rs485") {
        if (!hasValue) return;
        if (value == "auto") o.SetRs485(1);
        if (value == "off") o.SetRs485(2);
        if (value == "on") o.SetRs485(3);
    } else if (name == "aply") {
        o.actionBits |= ActionBit::kApply;
    } else if (name == "x") {
        geometry(o.x, GeometryBit::kX);
    } else if (name == "y") {
        geometry(o.y, GeometryBit::kY);
    } else if (name == "w") {
        geometry(o.w, GeometryBit::kW);
    } else if (name == "h") {
        geometry(o.h, GeometryBit::kH);
    } else if (name == "autoread") {
        if (hasValue && value == "on") o.modeBits |= ModeBit::kAutoReadOn;
        if (hasValue && value == "off") o.modeBits |= ModeBit::kAutoReadOff;
    } else if (name == "autowrite") {
        if (hasValue && value == "on") o.modeBits |= ModeBit::kAutoWriteOn;
        if (hasValue && value == "off") o.modeBits |= ModeBit::kAutoWriteOff;
    } else if (name == "silent") {
        o.modeBits |= ModeBit::kAutoReadOff | ModeBit::kAutoWriteOff | ModeBit::kSilent;
    } else if (name == "close") {
        o.actionBits |= ActionBit::kClose;
    } else if (name == "calibrate") {
        o.actionBits |= ActionBit::kCalibrate;
    } else if (name == "elog") {
        line.errorLog = Unquote(value);
    } else if (name == "exitevent") {
        line.exitEventName = Unquote(value);
    } else if (name == "test") {
        o.modeBits |= ModeBit::kTest;
    } else if (name == "uni") {
        StoreText(o.uni, name, value, line.notes);
        o.modeBits |= ModeBit::kUni;
    } else if (name == "newnetparam") {
        o.modeBits |= ModeBit::kNewNetParams;
        o.actionBits &= ~ActionBit::kNetworkGiven;
        o.port = 0;
    } else if (name == "io") {
        o.actionBits &= ~ActionBit::kNetworkGiven;
        std::string_view mode = value.substr(0, value.find(':'));
        if (EqualsNoCase(mode, "stdio")) o.SetIoMode(IoMode::kStdio);
        if (EqualsNoCase(mode, "socket")) o.SetIoMode(IoMode::kSocket);
    }
}

constexpr std::string_view kOptionNames[] = {
    "write", "read",      "port", "bps",       "prty", "addr", "len",         "sbit",      "alen",
    "rs485", "aply",      "x",    "y",         "w",    "h",    "autoread",    "autowrite", "silent",
    "close", "calibrate", "elog", "exitevent", "test", "uni",  "newnetparam", "io"};

// Every absolute path begins with "/", so an argument that looks like a path
// is taken as a file: its first segment (up to the next "/") is non-empty,
// holds no ":" and, lowered, is no option's name, and a further "/" follows.
// "/write/port:2", "/tmp", "/foo" and "/:5/x:7" stay options.
bool IsAbsolutePath(std::string_view argument) {
    if (argument.empty() || argument[0] != '/') return false;
    const std::size_t slash = argument.find('/', 1);
    if (slash == std::string_view::npos) return false;
    std::string_view first = argument.substr(1, slash - 1);
    if (first.empty() || first.find(':') != std::string_view::npos) return false;
    const std::string lowered = ToLowerUtf8(first);
    for (std::string_view name : kOptionNames)
        if (lowered == name) return false;
    return true;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    for (const std::string& argument : arguments) {
        if (argument.empty() || (argument[0] != '/' && argument[0] != '-') ||
            IsAbsolutePath(argument)) {
            line.plainArguments.push_back(argument);
            line.file = argument;
            continue;
        }
        std::string lowered = ToLowerUtf8(std::string_view(argument).substr(1));
        for (std::string_view option : SplitOptions(lowered)) {
            if (option.empty()) break;
            std::size_t colon = option.find(':');
            bool hasValue = colon != std::string_view::npos;
            std::string_view name = option.substr(0, colon);
            std::string_view value = hasValue ? option.substr(colon + 1) : std::string_view();
            ApplyOption(name, value, hasValue, line);
        }
    }
    return line;
}

}  // namespace App
