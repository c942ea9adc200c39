#include "model/parameter.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "link/frame.h"
#include "platform/archive.h"
#include "platform/codepage.h"
#include "platform/text.h"
#include "platform/ui_services.h"

namespace {

// How a user's text is checked before it becomes the value.
enum class TextRule {
    Real,     // a real number, cut to the decimals the device holds
    Seconds,  // seconds, or parts separated by ':' counted in powers of 60
    Bits,     // '1' at position i adds 2^i
    Number,   // a whole text that is a number
    Any,      // no check
};

struct TypeInfo {
    const char* name;
    const char* shown;    // description shown for the type; null: the name itself
    bool numericPicture;  // picture 28 rather than 27 in the tree
    TextRule rule;
};

constexpr TypeInfo kTypes[] = {
    {"float", "Число с плавающей точкой", false, TextRule::Real},
    {"STORED DOT", "Знаковое число с односторонней десятичной точкой", true, TextRule::Real},
    {"DEC dot", "Знаковое целое число", true, TextRule::Number},
    {"int16", nullptr, true, TextRule::Number},
    {"uint16", nullptr, true, TextRule::Number},
    {"byte", nullptr, false, TextRule::Number},
    {"bin", nullptr, false, TextRule::Bits},
    {"DWORD", nullptr, true, TextRule::Any},
    {"time", nullptr, true, TextRule::Seconds},
    {"datetime", nullptr, false, TextRule::Any},
    {"CLK frm", "Составной тип данных с информацией о времени", true, TextRule::Seconds},
    {"string", nullptr, true, TextRule::Any},
    {"ASCI", "Строковый тип", true, TextRule::Any},
    {"name", "Нетипизированный набор битов", true, TextRule::Any},
};

const TypeInfo* FindType(std::string_view type) {
    for (const TypeInfo& t : kTypes)
        if (EqualsNoCase(type, t.name)) return &t;
    return nullptr;
}

constexpr double kRangeTolerance = 0.0009;
constexpr double kRoundingTolerance = 1e-6;

bool NoRange(const Parameter& p) {
    return p.minValue == 0 && p.maxValue == 0;
}

bool InRangeWithTolerance(const Parameter& p, double x) {
    return NoRange(p) ||
           (!(p.minValue - x > kRangeTolerance) && !(x - p.maxValue > kRangeTolerance));
}

bool InRangeExact(const Parameter& p, double x) {
    return NoRange(p) || (p.minValue <= x && x <= p.maxValue);
}

// Reads the whole text (blanks around allowed) as an integer.
bool ReadWholeInt(std::string_view text, std::int64_t& out) {
    std::size_t used = ParseLeadingInt(text, out);
    return used > 0 && TrimRight(text.substr(used)).empty();
}

// Seconds, or parts separated by ':'. A clock counts its parts from the
// right (seconds, minutes, hours, ...); a time of day from the left (hours,
// minutes, seconds), as the device reads the parts it is sent.
bool ParseSeconds(std::string_view text, bool timeOfDay, double& seconds) {
    if (text.find(':') == std::string_view::npos) {
        ValueNumber n = ReadValueNumber(text);
        seconds = n.value;
        return n.length > 0 && !n.overflow && TrimRight(text.substr(n.length)).empty();
    }
    std::vector<std::string> parts = Split(text, ':');
    constexpr std::size_t kTimeParts = 3;
    if (timeOfDay && parts.size() > kTimeParts) return false;
    double sum = 0;
    double weight = 1;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::int64_t part = 0;
        if (!ReadWholeInt(parts[timeOfDay ? i : parts.size() - 1 - i], part)) return false;
        if (timeOfDay)
            sum += static_cast<double>(part) * std::pow(60.0, static_cast<double>(2 - i));
        else
            sum += static_cast<double>(part) * weight;
        weight *= 60;
    }
    seconds = sum;
    return std::isfinite(sum);
}

// A whole number of seconds that fits the "%u" of a shown time.
bool WholeSeconds(std::string_view text, std::uint32_t& seconds) {
    std::int64_t n = 0;
    if (!ReadWholeInt(text, n) || n < 0 || n > 0xFFFFFFFF) return false;
    seconds = static_cast<std::uint32_t>(n);
    return true;
}

std::string TimeOfDayText(std::uint32_t s) {
    return Format("%02u:%02u:%02u", s / 3600, (s / 60) % 60, s % 60);
}

// A number with a point and an exponent in plain digits, so that cutting it
// to the device's decimals keeps its value ("1.5e3" is 1500, not 1.5).
// Without a point nothing is cut, and the text stays as typed.
std::string PlainNumber(std::string_view number) {
    std::size_t e = number.find_first_of("eE");
    if (e == std::string_view::npos || number.find('.') == std::string_view::npos)
        return std::string(number);
    std::string_view mantissa = number.substr(0, e);
    std::string sign;
    if (!mantissa.empty() && (mantissa[0] == '-' || mantissa[0] == '+')) {
        if (mantissa[0] == '-') sign = "-";
        mantissa.remove_prefix(1);
    }
    std::string_view exponentText = number.substr(e + 1);
    if (!exponentText.empty() && exponentText[0] == '+') exponentText.remove_prefix(1);
    int exponent = 0;
    auto [ptr, ec] =
        std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);
    // Far beyond any single either way: too large is left for the checks to
    // refuse, too small is zero at any decimals.
    constexpr int kFar = 64;
    if (ec == std::errc::result_out_of_range)
        exponent = exponentText[0] == '-' ? -kFar - 1 : kFar + 1;
    if (ec == std::errc::invalid_argument || exponent > kFar) return std::string(number);
    std::size_t point = mantissa.find('.');
    std::size_t whole = point == std::string_view::npos ? mantissa.size() : point;
    std::string digits(mantissa.substr(0, whole));
    if (point != std::string_view::npos) digits += mantissa.substr(point + 1);
    long shifted = static_cast<long>(whole) + exponent;
    if (shifted < -kFar) return "0";
    std::string out;
    if (shifted <= 0)
        out = "0." + std::string(static_cast<std::size_t>(-shifted), '0') + digits;
    else if (static_cast<std::size_t>(shifted) >= digits.size())
        out = digits + std::string(static_cast<std::size_t>(shifted) - digits.size(), '0');
    else
        out = digits.substr(0, static_cast<std::size_t>(shifted)) + "." +
              digits.substr(static_cast<std::size_t>(shifted));
    std::size_t first = out.find_first_not_of('0');
    if (first == std::string::npos)
        out = "0";
    else if (out[first] == '.')
        out.erase(0, first - 1);
    else
        out.erase(0, first);
    return sign + out;
}

// Whether the encoder takes the text as the check read it. Types without a
// wire form and parameters without a write method are left to the exchange
// to report.
bool Sendable(const Parameter& p, std::string_view text, std::string* reason = nullptr) {
    std::uint8_t data[MyConverter::kMaxRawData];
    int count = 0;
    std::string why;
    int result = p.ConvertToData(text, data, count, false, &why);
    if (reason) *reason = why;
    return result == 1 || (result < 0 && why.empty());
}

std::string TimeOfDay(double seconds) {
    auto s = static_cast<unsigned>(std::fmax(0.0, std::fmin(seconds, 4294967295.0)));
    return Format("%02u:%02u:%02u", s / 3600, (s / 60) % 60, s % 60);
}

std::string BinaryText(double bound) {
    auto bits = static_cast<unsigned>(std::fmax(0.0, std::fmin(bound, 255.0)));
    std::string text(8, '0');
    for (int i = 0; i < 8; ++i)
        if (bits & (1u << i)) text[static_cast<std::size_t>(i)] = '1';
    return text;
}

std::string DecimalText(double value, int decimals) {
    switch (decimals) {
        case 0:
            return Format("%.0f", value);
        case 1:
            return Format("%.1f", value);
        case 2:
            return Format("%.2f", value);
        default:
            return Format("%.3f", value);
    }
}

// Copies a UTF-8 text into a record field as a zero-terminated OEM text.
void PutText(SavedRecord& r, std::size_t offset, std::size_t size, std::string_view text) {
    std::string oem = Utf8ToCp866(text);
    std::size_t n = std::min(oem.size(), size - 1);
    std::memcpy(r.data() + offset, oem.data(), n);
}

std::string GetText(const SavedRecord& r, std::size_t offset, std::size_t size) {
    const char* begin = reinterpret_cast<const char*>(r.data() + offset);
    std::size_t n = 0;
    while (n < size && begin[n] != '\0')
        ++n;
    return Cp866ToUtf8(std::string_view(begin, n));
}

void PutI32(SavedRecord& r, std::size_t offset, std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        r[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(u >> (8 * i));
}

std::int32_t GetI32(const SavedRecord& r, std::size_t offset) {
    std::uint32_t u = 0;
    for (int i = 3; i >= 0; --i)
        u = (u << 8) | r[offset + static_cast<std::size_t>(i)];
    return static_cast<std::int32_t>(u);
}

// Field offsets of the saved-value record.
namespace rec {
constexpr std::size_t kName = 0, kNameSize = 9;
constexpr std::size_t kDescription = 9, kDescriptionSize = 80;
constexpr std::size_t kValue = 89, kValueSize = 64;
constexpr std::size_t kHasIndex = 153;
constexpr std::size_t kLinearIndex = 156;
constexpr std::size_t kDeviceAddress = 160;
constexpr std::size_t kWritable = 164;
constexpr std::size_t kError = 167, kErrorSize = 80;
constexpr std::size_t kNeedUpdate = 247, kNeedUpdateAccess = 248, kNeedUpdateOwner = 249;
constexpr std::size_t kPrivacy = 250;
}  // namespace rec

}  // namespace

Parameter::~Parameter() {
    if (pollTimer && polling) pollTimer->Cancel();
}

std::uint16_t Parameter::Hash() const {
    return hash_name(name);
}

std::uint32_t Parameter::Key() const {
    return (static_cast<std::uint32_t>(linearIndex) << 16) | Hash();
}

std::string Parameter::TypeDescription() const {
    if (const TypeInfo* t = FindType(type); t && t->shown) return t->shown;
    return type;
}

std::string Parameter::TypeCaption() const {
    return type.find(':') != std::string::npos ? "Enum" : type;
}

void Parameter::Reset() {
    hasLinearIndex = false;
    linearIndex = 0;
    writable = true;
    treeWritable = true;
    needUpdate = needUpdateAccess = needUpdateOwner = false;
    value = kNoData;
    error.clear();
    accessAttribute = 1;
    ownerAttribute = 0;
}

bool Parameter::SetValueFromText(const std::string& text) {
    const TypeInfo* info = IsEnumeration() ? nullptr : FindType(type);
    TextRule rule = info ? info->rule : TextRule::Any;
    std::string accepted = text;

    switch (rule) {
        case TextRule::Real: {
            ValueNumber parsed = ReadValueNumber(text);
            if (parsed.length == 0 || parsed.overflow) return false;
            // Only the number is kept: blanks before it and text after it are dropped.
            std::string number(TrimRight(std::string_view(text).substr(0, parsed.length)));
            number.erase(0, number.find_first_not_of(" \t\r\n\v\f"));
            // The number as typed must fit the type (a single, say) before it is cut.
            if (!Sendable(*this, number)) return false;
            // The device holds single precision; check what it will hold.
            double x = static_cast<float>(parsed.value);
            if (!InRangeWithTolerance(*this, x)) return false;
            accepted = FitText(PlainNumber(number), EqualsNoCase(type, "float"));
            if (!Sendable(*this, accepted)) return false;
            double y = static_cast<float>(ReadValueNumber(accepted).value);
            if (std::fabs(y - x) > kRoundingTolerance) {
                ShowMessage("Значение было округлено с " + text + " до " + accepted,
                            "Предупреждение", MessageIcon::Exclamation, MessageButtons::Ok);
            }
            break;
        }
        case TextRule::Seconds: {
            const bool timeOfDay = EqualsNoCase(type, "time");
            double seconds = 0;
            if (!ParseSeconds(text, timeOfDay, seconds) || !InRangeExact(*this, seconds))
                return false;
            // The device reads a lone number as hours: send the seconds as a time.
            std::uint32_t whole = 0;
            if (timeOfDay && text.find(':') == std::string::npos && WholeSeconds(text, whole))
                accepted = TimeOfDayText(whole);
            if (!Sendable(*this, accepted)) return false;
            break;
        }
        case TextRule::Bits: {
            double sum = 0;
            double bit = 1;
            for (char c : text) {
                if (c == '1') sum += bit;
                bit *= 2;
            }
            if (!InRangeWithTolerance(*this, sum) || !Sendable(*this, text)) return false;
            break;
        }
        case TextRule::Number: {
            ValueNumber x = ReadValueNumber(text);
            if (x.length == 0 || x.overflow ||
                !TrimRight(std::string_view(text).substr(x.length)).empty())
                return false;
            if (!InRangeWithTolerance(*this, x.value)) return false;
            if (EqualsNoCase(type, "DEC dot") &&
                std::fabs(std::fabs(x.value) - std::trunc(std::fabs(x.value))) > 0.00001)
                return false;
            // The type's own range, and no exponent the device would misread.
            if (!Sendable(*this, text)) return false;
            break;
        }
        case TextRule::Any:
            break;
    }
    value = accepted;
    needUpdate = true;
    return true;
}

std::string Parameter::NormaliseEditedText(std::string_view typed) const {
    if (IsEnumeration()) return std::string(typed);
    std::string text = ReplaceAll(typed, ",", ".");
    if (text.find(':') != std::string::npos) return text;
    std::uint32_t seconds = 0;
    if (EqualsNoCase(type, "CLK frm") && WholeSeconds(text, seconds))
        return Format("%02u:%02u", seconds / 60, seconds % 60);
    if (EqualsNoCase(type, "time") && WholeSeconds(text, seconds)) return TimeOfDayText(seconds);
    if (EqualsNoCase(type, "bin"))
        for (char& c : text)
            if (c != '1') c = '0';
    return text;
}

bool Parameter::EnterText(std::string_view typed, std::string* reason) {
    std::string text = NormaliseEditedText(typed);
    const TypeInfo* info = IsEnumeration() ? nullptr : FindType(type);
    TextRule rule = info ? info->rule : TextRule::Any;
    if (rule == TextRule::Real) {
        // The edit box takes digits, '-' and '.' only, so nothing follows the number.
        ValueNumber n = ReadValueNumber(text);
        if (n.length == 0 || !TrimRight(std::string_view(text).substr(n.length)).empty())
            return false;
    }
    if (rule == TextRule::Any && HasEncoder() && !Sendable(*this, text, reason)) return false;
    return SetValueFromText(text);
}

void Parameter::ToRecord(std::vector<SavedRecord>& records) const {
    SavedRecord r{};
    PutText(r, rec::kName, rec::kNameSize, name);
    PutText(r, rec::kDescription, rec::kDescriptionSize, DisplayDescription());
    PutText(r, rec::kValue, rec::kValueSize, value);
    r[rec::kHasIndex] = hasLinearIndex ? 1 : 0;
    PutI32(r, rec::kLinearIndex, linearIndex);
    PutI32(r, rec::kDeviceAddress, deviceAddress);
    r[rec::kWritable] = CanWrite() ? 1 : 0;
    PutText(r, rec::kError, rec::kErrorSize, error);
    r[rec::kNeedUpdate] = needUpdate ? 1 : 0;
    r[rec::kNeedUpdateAccess] = needUpdateAccess ? 1 : 0;
    r[rec::kNeedUpdateOwner] = needUpdateOwner ? 1 : 0;
    r[rec::kPrivacy] = static_cast<std::uint8_t>(privacy & 0xFF);
    records.push_back(r);
}

void Parameter::FromRecord(const SavedRecord& r) {
    Reset();
    name = std::string(Utf8Prefix(GetText(r, rec::kName, rec::kNameSize), 8));
    description = std::string(TrimRight(GetText(r, rec::kDescription, rec::kDescriptionSize)));
    value = GetText(r, rec::kValue, rec::kValueSize);
    hasLinearIndex = r[rec::kHasIndex] != 0;
    linearIndex = GetI32(r, rec::kLinearIndex);
    deviceAddress = GetI32(r, rec::kDeviceAddress);
    writable = r[rec::kWritable] != 0;
    error = GetText(r, rec::kError, rec::kErrorSize);
    needUpdate = r[rec::kNeedUpdate] != 0;
    needUpdateAccess = r[rec::kNeedUpdateAccess] != 0;
    needUpdateOwner = r[rec::kNeedUpdateOwner] != 0;
    privacy = r[rec::kPrivacy];
}

namespace {

// The fixed parts of a saved parameter around its error text: index flag,
// index, device address and the two writability bytes before it; the three
// need-update bytes, the access and owner attributes, privacy and the table
// flag after it. Each part goes through the archive in one piece.
constexpr std::size_t kHeadSize = 11;
constexpr std::size_t kTailSize = 10;

void PutLe32(std::uint8_t* out, std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(u >> (8 * i));
}

std::int32_t GetLe32(const std::uint8_t* in) {
    return static_cast<std::int32_t>(in[0] | (in[1] << 8) | (in[2] << 16) |
                                     (static_cast<std::uint32_t>(in[3]) << 24));
}

bool Fits(const Archive& ar, std::size_t size) {
    return ar.Size() - ar.Position() >= size;
}

}  // namespace

void Parameter::Serialize(Archive& ar) {
    MyConverter::Serialize(ar);
    if (ar.IsStoring()) {
        std::uint8_t head[kHeadSize];
        head[0] = hasLinearIndex ? 1 : 0;
        PutLe32(head + 1, linearIndex);
        PutLe32(head + 5, deviceAddress);
        head[9] = writable ? 1 : 0;
        head[10] = treeWritable ? 1 : 0;
        ar.WriteBytes(head, sizeof head);
        ar.WriteText(error);
        std::uint8_t tail[kTailSize];
        tail[0] = needUpdate ? 1 : 0;
        tail[1] = needUpdateAccess ? 1 : 0;
        tail[2] = needUpdateOwner ? 1 : 0;
        tail[3] = accessAttribute;
        tail[4] = ownerAttribute;
        PutLe32(tail + 5, privacy);
        tail[9] = tableFlag ? 1 : 0;
        ar.WriteBytes(tail, sizeof tail);
        return;
    }
    // A part that runs past the end of the data is read field by field, so
    // that a damaged file fails at the same field as always.
    if (Fits(ar, kHeadSize)) {
        std::uint8_t head[kHeadSize];
        ar.ReadBytes(head, sizeof head);
        hasLinearIndex = head[0] != 0;
        linearIndex = GetLe32(head + 1);
        deviceAddress = GetLe32(head + 5);
        // head[9], head[10]: writability comes from the description, never from a file.
    } else {
        hasLinearIndex = ar.ReadBool();
        linearIndex = ar.ReadI32();
        deviceAddress = ar.ReadI32();
        ar.ReadU8();
        ar.ReadU8();
    }
    error = ar.ReadText();
    if (Fits(ar, kTailSize)) {
        std::uint8_t tail[kTailSize];
        ar.ReadBytes(tail, sizeof tail);
        needUpdate = tail[0] != 0;
        needUpdateAccess = tail[1] != 0;
        needUpdateOwner = tail[2] != 0;
        accessAttribute = tail[3];
        ownerAttribute = tail[4];
        privacy = GetLe32(tail + 5);
        tableFlag = tail[9] != 0;
    } else {
        needUpdate = ar.ReadBool();
        needUpdateAccess = ar.ReadBool();
        needUpdateOwner = ar.ReadBool();
        accessAttribute = ar.ReadU8();
        ownerAttribute = ar.ReadU8();
        privacy = ar.ReadI32();
        tableFlag = ar.ReadBool();
    }
}

int Parameter::StartPollTimer() {
    if (polling || !pollTimer) return 1;
    polling = true;
    if (!pollTimer->Start(pollPeriod)) {
        polling = false;
        return 1;
    }
    return 0;
}

int Parameter::StopPollTimer() {
    if (!pollTimer || !polling) return 1;
    polling = false;
    pollTimer->Cancel();
    return 0;
}

std::pair<std::string, std::string> Parameter::RangeTexts() const {
    if (IsEnumeration()) {
        std::vector<std::string> labels = Labels();
        if (labels.empty()) return {};
        return {labels.front(), labels.back()};
    }
    if (minValue == maxValue) return {};
    if (EqualsNoCase(type, "float"))
        return {DecimalText(minValue, decimals), DecimalText(maxValue, decimals)};
    if (EqualsNoCase(type, "time")) return {TimeOfDay(minValue), TimeOfDay(maxValue)};
    if (EqualsNoCase(type, "bin")) return {BinaryText(minValue), BinaryText(maxValue)};
    return {Format("%.0f", minValue), Format("%.0f", maxValue)};
}

ParameterRow Parameter::RowTexts(bool withIndexes) const {
    ParameterRow row;
    row.name = name;
    if (name == kServiceName) return row;
    row.putFirst = name == "nPC";

    if (!error.empty() && error != kNotInitialised) {
        row.colour =
            error.rfind(kDeviceValuePrefix, 0) == 0 ? RowColour::kDeviceDiffers : RowColour::kError;
    } else if (HasPendingUpdate()) {
        row.colour = RowColour::kChanged;
    }
    if (hasLinearIndex) {
        row.index = std::to_string(linearIndex);
        if (withIndexes) row.name += ":" + row.index;
    }
    row.type = TypeCaption();
    std::tie(row.lower, row.upper) = RangeTexts();
    row.value = value;
    row.factory = defaultValue;
    row.error = error;
    const TypeInfo* info = IsEnumeration() ? nullptr : FindType(type);
    row.image = info && info->numericPicture ? RowImage::kNumeric : RowImage::kPlain;
    if (pollTimer) {
        row.image = RowImage::kOperative;
        row.pollPeriod = std::to_string(pollPeriod);
        row.hasCheckBox = true;
        row.checked = polling;
    }
    return row;
}

std::string Parameter::RefusalMessage(const std::string& text) const {
    auto [lower, upper] = RangeTexts();
    // Without a range of its own an integer still has its type's.
    std::int64_t min = 0, max = 0;
    if (lower.empty() && upper.empty() && !IsEnumeration() && IntegerTypeRange(type, min, max)) {
        lower = std::to_string(min);
        upper = std::to_string(max);
    }
    std::string range =
        lower.empty() && upper.empty() ? "не ограничен)" : "от " + lower + " до " + upper + ")";
    return "Параметру '" + name + "' (" + DisplayDescription() +
           ") не может быть присвоено значение '" + text + "'.\n(Тип: " + TypeDescription() +
           ". Диапазон значений: " + range;
}
