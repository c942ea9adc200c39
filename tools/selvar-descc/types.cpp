#include "types.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "expr.h"
#include "model/my_converter.h"
#include "platform/text.h"

namespace descc {

namespace {

constexpr const char* kTypeNames[] = {"float",   "STORED DOT", "DEC dot", "int16", "uint16",
                                      "byte",    "bin",        "DWORD",   "time",  "datetime",
                                      "CLK frm", "string",     "ASCI",    "name"};

constexpr double kRangeTolerance = 0.0009;  //, the range check

std::string Underscores(std::string_view text) {
    std::string s(text);
    std::replace(s.begin(), s.end(), '_', ' ');
    return s;
}

bool InRange(double x, double lo, double hi) {
    return (lo == 0 && hi == 0) || (lo - x <= kRangeTolerance && x - hi <= kRangeTolerance);
}

std::string RangeText(double lo, double hi) {
    return Format("%g..%g", lo, hi);
}

bool WholeInteger(std::string_view text, std::int64_t& v) {
    std::size_t used = ParseLeadingInt(text, v);
    return used != 0 && used == text.size();
}

// Seconds of "h:m:s", "m:s" or "s" counted from the right (CLK frm).
bool ClockSeconds(std::string_view text, std::int64_t& seconds) {
    seconds = 0;
    for (const std::string& part : Split(text, ':')) {
        std::int64_t v = 0;
        if (!WholeInteger(part, v) || v < 0) return false;
        seconds = seconds * 60 + v;
    }
    return true;
}

// Packs one coordinate: |v × 10| with bit 15 for the sign.
bool PackCoordinate(double v, std::uint32_t& code) {
    double tenths = std::floor(std::fabs(v) * 10 + 0.5);
    if (tenths > 0x7FFF) return false;
    code = static_cast<std::uint32_t>(tenths) | (v < 0 ? 0x8000u : 0u);
    return true;
}

}  // namespace

bool CanonicalTypeName(std::string_view text, std::string& canonical) {
    std::string wanted = Underscores(text);
    for (const char* name : kTypeNames) {
        if (EqualsNoCase(wanted, name)) {
            canonical = name;
            return true;
        }
    }
    return false;
}

bool IsNumericType(std::string_view t) {
    return t == "float" || t == "STORED DOT" || t == "DEC dot" || t == "int16" || t == "uint16" ||
           t == "byte" || t == "DWORD" || t == "CLK frm";
}

std::string ShownEnumerationType(std::string_view typeText, std::vector<std::string>* marks) {
    std::string out;
    for (const std::string& part : Split(typeText, ':')) {
        if (part.empty()) continue;
        std::string label = part;
        std::string mark;
        std::size_t hide = label.find("<hide>");
        if (hide != std::string::npos) {
            std::size_t end = hide + 6;
            mark = "h";
            if (end < label.size() && label[end] == '(') {
                std::size_t close = label.find(')', end);
                if (close == std::string::npos) close = label.size() - 1;
                mark += label.substr(end + 1, close - end - 1);
                label.erase(hide, close + 1 - hide);
            } else {
                label.erase(hide, 6);
            }
        }
        if (marks) marks->push_back(mark);
        if (!out.empty()) out += ':';
        out += label;
    }
    return Underscores(out);
}

bool CheckEnumerationText(std::string_view typeText, std::string& error) {
    std::vector<std::string> parts = Split(typeText, ':');
    if (parts.size() > 127) {
        error = Format("%zu labels: an enumeration holds at most 127", parts.size());
        return false;
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string label = parts[i];
        std::size_t hide = label.find("<hide>");
        if (hide != std::string::npos) {
            std::size_t end = hide + 6;
            if (end < label.size() && label[end] == '(') {
                std::size_t close = label.find(')', end);
                if (close == std::string::npos) {
                    error = "label \"" + parts[i] + "\": <hide>( without ')'";
                    return false;
                }
                label.erase(hide, close + 1 - hide);
            } else {
                label.erase(hide, 6);
            }
        }
        if (label.empty()) {
            error =
                Format("label %zu is empty (the loader would skip it and renumber the rest)", i);
            return false;
        }
    }
    return true;
}

bool FactoryToData(const FactoryInput& in, std::string_view text, std::string& data,
                   std::string& error) {
    const std::string_view t = in.canonicalType;
    auto range = [&](double x) {
        if (InRange(x, in.minValue, in.maxValue)) return true;
        error = Format("factory value %.*s outside the range %s", static_cast<int>(text.size()),
                       text.data(), RangeText(in.minValue, in.maxValue).c_str());
        return false;
    };
    if (t.empty()) {  // enumeration
        MyConverter c;
        c.type = std::string(in.shownType);
        std::vector<std::string> labels = c.Labels();
        if (!text.empty() && text[0] == '#') {
            std::int64_t index = 0;
            if (!WholeInteger(text.substr(1), index) || index < 0 ||
                index >= static_cast<std::int64_t>(labels.size())) {
                error = Format("factory value %.*s: no label with that index (0..%zu)",
                               static_cast<int>(text.size()), text.data(), labels.size() - 1);
                return false;
            }
            data = std::to_string(index);
            return true;
        }
        std::string index = c.LabelToIndexText(Underscores(text));
        if (index == "-1") {
            error = "factory value \"" + std::string(text) + "\" is none of the labels \"" +
                    std::string(in.shownType) + "\" (or give #INDEX)";
            return false;
        }
        data = index;
        return true;
    }
    if (text.find('_') != std::string_view::npos) {
        error = "factory value \"" + std::string(text) +
                "\" holds '_', which the loader shows as a space";
        return false;
    }
    if (text.rfind("pair(", 0) == 0 && text.back() == ')') {
        if (t != "DWORD") {
            error = "pair(Y,X) is a packed coordinate pair of a DWORD";
            return false;
        }
        std::vector<std::string> xy = Split(text.substr(5, text.size() - 6), ',');
        double y = 0;
        double x = 0;
        std::uint32_t cy = 0;
        std::uint32_t cx = 0;
        if (xy.size() != 2 || !ParseReal(xy[0], y) || !ParseReal(xy[1], x)) {
            error = "expected pair(Y,X) with two numbers, got " + std::string(text);
            return false;
        }
        if (!PackCoordinate(y, cy) || !PackCoordinate(x, cx)) {
            error = "pair(Y,X): a coordinate beyond ±3276.7 cannot be packed";
            return false;
        }
        data = std::to_string(cy << 16 | cx);
        return true;
    }
    double x = 0;
    std::int64_t n = 0;
    auto needInteger = [&](std::int64_t lo, std::int64_t hi) {
        if (!WholeInteger(text, n) || n < lo || n > hi) {
            error = Format("factory value %.*s: %.*s needs an integer in %lld..%lld",
                           static_cast<int>(text.size()), text.data(), static_cast<int>(t.size()),
                           t.data(), static_cast<long long>(lo), static_cast<long long>(hi));
            return false;
        }
        return range(static_cast<double>(n));
    };
    if (t == "float" || t == "STORED DOT") {
        if (!ParseReal(text, x)) {
            error = "factory value \"" + std::string(text) + "\" is not a number";
            return false;
        }
        if (!range(x)) return false;
    } else if (t == "DEC dot" || t == "uint16") {
        if (!needInteger(0, 65535)) return false;
    } else if (t == "int16") {
        if (!needInteger(-32768, 32767)) return false;
    } else if (t == "byte") {
        if (!needInteger(0, 255)) return false;
    } else if (t == "DWORD") {
        if (!needInteger(0, 4294967295LL)) return false;
    } else if (t == "bin") {
        if (text.empty() || text.size() > 8 ||
            text.find_first_not_of("01") != std::string_view::npos) {
            error = "factory value \"" + std::string(text) + "\": bin needs 1 to 8 of '0' and '1'";
            return false;
        }
    } else if (t == "CLK frm") {
        if (!ClockSeconds(text, n) || n > 65535) {
            error = "factory value \"" + std::string(text) + "\": CLK frm needs seconds or m:s";
            return false;
        }
        if (!range(static_cast<double>(n))) return false;
    } else if (t == "string" || t == "ASCI") {
        error = "a parameter of type " + std::string(t) + " cannot be written: no factory value";
        return false;
    }
    // Finally the converter itself must be able to send it.
    MyConverter c;
    c.name = std::string(in.name);
    c.type = std::string(t);
    std::uint8_t bytes[MyConverter::kMaxRawData];
    int count = 0;
    std::string why;
    if (c.ConvertToData(text, bytes, count, false, &why) != 1) {
        error = "factory value \"" + std::string(text) + "\" cannot be encoded as " +
                std::string(t) + (why.empty() ? "" : ": " + why);
        return false;
    }
    data = std::string(text);
    return true;
}

}  // namespace descc
