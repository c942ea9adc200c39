#include "value_layout.h"

#include <bit>
#include <cmath>
#include <string_view>

#include "platform/text.h"

namespace sim {

namespace {

enum class Number { None, Float, StoredDot, Unsigned, Signed, Clock };

struct TypeLayout {
    const char* name;
    SizeRule size;
    Number number;
};

// One row per value type; an enumeration and an unknown type fall to the
// rows below the table.
constexpr TypeLayout kLayouts[] = {
    {"float", {4, 4, 4, true}, Number::Float},
    {"STORED DOT", {2, 4, 2, true}, Number::StoredDot},
    {"DEC dot", {2, 2, 2, true}, Number::Unsigned},
    {"int16", {2, 2, 2, true}, Number::Signed},
    {"uint16", {2, 2, 2, true}, Number::Unsigned},
    {"byte", {1, 1, 1, true}, Number::Unsigned},
    {"bin", {1, 1, 1, false}, Number::None},
    {"DWORD", {4, 4, 4, true}, Number::Unsigned},
    {"time", {2, 4, 4, false}, Number::None},
    {"datetime", {7, 7, 7, false}, Number::None},
    {"CLK frm", {1, 2, 1, true}, Number::Clock},
    {"string", {1, kMaxFrameData, 1, false}, Number::None},
    {"ASCI", {1, kMaxFrameData, 1, false}, Number::None},
    {"name", {4, 4, 4, false}, Number::None},
};
constexpr TypeLayout kEnumeration = {"", {1, 1, 1, false}, Number::None};
constexpr TypeLayout kUnknown = {"", {1, kMaxFrameData, 1, false}, Number::None};
// "r.oe" travels as the three high bytes of a float.
constexpr TypeLayout kShortFloat = {"float", {3, 3, 3, true}, Number::Float};

const TypeLayout& LayoutFor(const MyConverter& conv) {
    if (EqualsNoCase(conv.name, "r.oe") && EqualsNoCase(conv.type, "float")) return kShortFloat;
    const std::string_view type = conv.type;
    const std::string_view first = type.substr(0, type.find(':'));
    for (const TypeLayout& row : kLayouts) {
        const std::string_view name = row.name;
        // Texts are whole-type names; the others are compared by their first part.
        const bool whole = name == "string" || name == "ASCI" || name == "name";
        if (EqualsNoCase(whole ? type : first, name)) return row;
    }
    return conv.IsEnumeration() ? kEnumeration : kUnknown;
}

std::uint64_t BigEndian(const std::uint8_t* data, std::size_t count) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < count; ++i)
        v = (v << 8) | data[i];
    return v;
}

}  // namespace

SizeRule SizeRuleFor(const MyConverter& conv) {
    return LayoutFor(conv).size;
}

std::vector<std::uint8_t> Normalise(const MyConverter& conv, const std::uint8_t* data,
                                    std::size_t count) {
    std::vector<std::uint8_t> out(data, data + count);
    if (EqualsNoCase(std::string_view(conv.type).substr(0, conv.type.find(':')), "time") &&
        count >= 2 && count < 4) {
        // Fields h[, m[, s]] and the format byte; missing fields read as 0.
        const std::uint8_t format = data[count - 1];
        out.assign(data, data + count - 1);
        out.resize(3, 0);
        out.push_back(format);
    }
    return out;
}

std::optional<double> NumericValue(const MyConverter& conv, const std::uint8_t* data,
                                   std::size_t count) {
    const TypeLayout& layout = LayoutFor(conv);
    if (count == 0 || count > 8) return std::nullopt;
    switch (layout.number) {
        case Number::Float: {
            std::uint8_t bytes[4] = {0, 0, 0, 0};
            for (std::size_t i = 0; i < count && i < 4; ++i)
                bytes[i] = data[i];
            const float f = GetFloat(bytes);
            if (!std::isfinite(f)) return std::nullopt;
            return f;
        }
        case Number::StoredDot: {
            const int point = StoredDotPoint(data, count);
            const std::uint64_t mantissa = (std::uint64_t{data[0] & 0x0Fu} << (8 * (count - 1))) |
                                           BigEndian(data + 1, count - 1);
            const double magnitude =
                static_cast<double>(mantissa) / std::pow(10.0, static_cast<double>(point));
            return (data[0] & 0x80u) != 0 ? -magnitude : magnitude;
        }
        case Number::Unsigned:
        case Number::Clock:
            return static_cast<double>(BigEndian(data, count));
        case Number::Signed:
            if (count != 2) return std::nullopt;
            return static_cast<std::int16_t>(BigEndian(data, 2));
        case Number::None:
            break;
    }
    return std::nullopt;
}

int StoredDotPoint(const std::uint8_t* data, std::size_t count) {
    return count == 0 ? 0 : (data[0] >> 4) & 7;
}

bool IsAccessAttributeEnumeration(const MyConverter& conv) {
    static constexpr const char* kLabels[] = {
        "Не редактируемый, Заводской",
        "Редактируемый, Заводской",
        "Не редактируемый, Пользовательский",
        "Редактируемый, Пользовательский",
    };
    if (!conv.IsEnumeration()) return false;
    const std::vector<std::string> labels = conv.Labels();
    if (labels.size() != std::size(kLabels)) return false;
    for (std::size_t i = 0; i < labels.size(); ++i)
        if (labels[i] != kLabels[i]) return false;
    return true;
}

void PutFloat(float value, std::uint8_t* out) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(bits >> (24 - 8 * i));
}

float GetFloat(const std::uint8_t* data) {
    return std::bit_cast<float>(static_cast<std::uint32_t>(BigEndian(data, 4)));
}

}  // namespace sim
