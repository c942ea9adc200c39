#include "model/parameter.h"

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

bool ParseSeconds(std::string_view text, double& seconds) {
    if (text.find(':') == std::string_view::npos) {
        std::size_t used = ParseLeadingReal(text, seconds);
        return used > 0 && TrimRight(text.substr(used)).empty();
    }
    std::vector<std::string> parts = Split(text, ':');
    double sum = 0;
    double weight = 1;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        std::int64_t part = 0;
        if (!ReadWholeInt(*it, part)) return false;
        sum += static_cast<double>(part) * weight;
        weight *= 60;
    }
    seconds = sum;
    return std::isfinite(sum);
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
            double parsed = 0;
            std::size_t used = ParseLeadingReal(text, parsed);
            if (used == 0) return false;
            // The device holds single precision; check what it will hold.
            double x = static_cast<float>(parsed);
            if (!InRangeWithTolerance(*this, x)) return false;
            // Only the number is kept: blanks before it and text after it are dropped.
            std::string number(TrimRight(std::string_view(text).substr(0, used)));
            number.erase(0, number.find_first_not_of(" \t\r\n\v\f"));
            accepted = FitText(number, EqualsNoCase(type, "float"));
            double y = 0;
            ParseLeadingReal(accepted, y);
            y = static_cast<float>(y);
            if (std::fabs(y - x) > kRoundingTolerance) {
                ShowMessage("Значение было округлено с " + text + " до " + accepted,
                            "Предупреждение", MessageIcon::Exclamation, MessageButtons::Ok);
            }
            break;
        }
        case TextRule::Seconds: {
            double seconds = 0;
            if (!ParseSeconds(text, seconds) || !InRangeExact(*this, seconds)) return false;
            break;
        }
        case TextRule::Bits: {
            double sum = 0;
            double bit = 1;
            for (char c : text) {
                if (c == '1') sum += bit;
                bit *= 2;
            }
            if (!InRangeWithTolerance(*this, sum)) return false;
            break;
        }
        case TextRule::Number: {
            double x = 0;
            std::size_t used = ParseLeadingReal(text, x);
            if (used == 0 || !TrimRight(std::string_view(text).substr(used)).empty()) return false;
            if (!InRangeWithTolerance(*this, x)) return false;
            if (EqualsNoCase(type, "DEC dot") &&
                std::fabs(std::fabs(x) - std::trunc(std::fabs(x))) > 0.00001)
                return false;
            break;
        }
        case TextRule::Any:
            break;
    }
    value = accepted;
    needUpdate = true;
    return true;
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
    std::string range =
        lower.empty() && upper.empty() ? "не ограничен)" : "от " + lower + " до " + upper + ")";
    return "Параметру '" + name + "' (" + DisplayDescription() +
           ") не может быть присвоено значение '" + text + "'.\n(Тип: " + TypeDescription() +
           ". Диапазон значений: " + range;
}
