#include "model/my_converter.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "platform/archive.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace {

// -1 until a document is open; constant-initialised, so no constructor runs.
constinit std::atomic<int> gDocumentAccessLevel{-1};

constexpr const char* kLengthErrorFormat = "Ошибка; (Непонятная длина ответа:%i)";
constexpr const char* kInvalidFloat = "недопустимое значение";
constexpr const char* kOverflow = "Переполнение";
constexpr const char* kDeviceAddress = "Адрес прибора:";
constexpr const char* kNameEmpty = "Сетевое имя пусто";
constexpr const char* kNameTooLong = "Сетевое имя слишком длинное";
constexpr const char* kNameBadChar = "Недопустимый символ в сетевом имени";
constexpr const char* kNameBadCode = "Недопустимый код символа в сетевом имени";
constexpr const char* kUnknownSubcode = "Неизвестный подкод ошибки %i";

// The access attributes of a parameter; at the full access level the device
// expects the index marked with 0xAC.
constexpr const char* kAccessAttributeType =
    "Не_редактируемый,_Заводской:Редактируемый,_Заводской:Не_редактируемый,_"
    "Пользовательский:Редактируемый,_Пользовательский";
constexpr std::uint8_t kFullAccessMark = 0xAC;
constexpr int kFullAccessLevel = 2;

// An index byte of a written enumeration keeps its top bit clear.
constexpr int kMaxEncodedLabels = 127;

// Characters of a network name by code / 2.
constexpr char kNameAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-_/ ";
constexpr std::uint8_t kNameSpaceCode = 78;
constexpr std::uint8_t kMaxNameCode = 79;

// Largest data of any written value ("datetime").
constexpr std::size_t kMaxEncoded = 8;

// ---------------------------------------------------------------------------
// Small helpers

// The device and old texts pad with blanks and control characters.
std::string_view TrimControls(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
        text.remove_suffix(1);
    return text;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Whether a number that from_chars finds out of range is too large rather
// than too small: the decimal place of its first significant digit decides.
bool BeyondLargest(std::string_view number) {
    std::size_t e = number.find_first_of("eE");
    std::string_view mantissa = number.substr(0, e);
    std::int64_t exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view digits = number.substr(e + 1);
        bool negative = !digits.empty() && digits[0] == '-';
        if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) digits.remove_prefix(1);
        for (char c : digits)
            exponent = std::min<std::int64_t>(exponent * 10 + (c - '0'), 1'000'000'000);
        if (negative) exponent = -exponent;
    }
    std::size_t point = mantissa.find('.');
    if (point == std::string_view::npos) point = mantissa.size();
    std::size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) return false;
    std::int64_t place = first < point ? static_cast<std::int64_t>(point - first) - 1
                                       : -static_cast<std::int64_t>(first - point);
    return place + exponent >= 0;
}

enum class Reading { kNone, kOk, kTooLarge };

// The number of a span as T; below the smallest T it reads as zero.
template <typename T>
Reading ReadSpan(std::string_view text, const RealSpan& span, T& out) {
    if (span.end == 0) return Reading::kNone;
    std::string_view number = text.substr(span.begin, span.end - span.begin);
    T value = 0;
    auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value,
                                     std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        if (BeyondLargest(number)) return Reading::kTooLarge;
        value = 0;
    } else if (ec != std::errc() || ptr != number.data() + number.size() || !std::isfinite(value)) {
        return Reading::kNone;
    }
    out = span.negative ? -value : value;
    return Reading::kOk;
}

// The whole text (trailing blanks and control characters aside) as one
// real number of type T.
template <typename T>
Reading WholeReal(std::string_view text, T& out) {
    text = TrimControls(text);
    RealSpan span = ScanLeadingReal(text);
    if (span.end != text.size()) return Reading::kNone;
    return ReadSpan(text, span, out);
}

// An integer type's value: the whole text is an integer, or a real within
// 0.00001 of one as a "DEC dot" text may be. An exponent is refused: the
// device's reading takes the integer before it.
bool WholeInteger(std::string_view text, std::int64_t& out) {
    constexpr double kFractionTolerance = 0.00001;
    text = TrimControls(text);
    RealSpan span = ScanLeadingReal(text);
    if (span.end != text.size() || span.exponent) return false;
    std::int64_t whole = 0;
    if (ParseLeadingInt(text, whole) == 0) return false;
    double real = 0;
    if (ReadSpan(text, span, real) != Reading::kOk) return false;
    if (std::fabs(real - static_cast<double>(whole)) > kFractionTolerance) return false;
    out = whole;
    return true;
}

// True when the whole text (blanks around it allowed) is one integer.
bool WholeInt(std::string_view text, std::int64_t& out) {
    text = TrimControls(text);
    std::size_t used = ParseLeadingInt(text, out);
    return used != 0 && used == text.size();
}

std::uint32_t BigEndian(const std::uint8_t* data, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | data[i];
    return v;
}

void PutBigEndian(std::uint32_t v, int bytes, std::uint8_t* out) {
    for (int i = bytes - 1; i >= 0; --i) {
        out[i] = static_cast<std::uint8_t>(v & 0xFF);
        v >>= 8;
    }
}

std::string WithDecimals(double x, int decimals) {
    int precision = decimals >= 0 && decimals <= 2 ? decimals : 3;
    return Format("%.*f", precision, x);
}

// Device texts arrive last character first, in code page 1251; a zero byte
// is padding and ends the text.
std::string ReversedDeviceText(const std::uint8_t* data, int count) {
    std::string out;
    for (int i = count - 1; i >= 0 && data[i] != 0; --i)
        AppendCp1251Char(out, data[i]);
    return out;
}

// ---------------------------------------------------------------------------
// Enumeration labels: the ':'-separated parts of the type text, '_' shown as ' '.

std::string ShownLabel(std::string_view part) {
    std::string label(part);
    std::replace(label.begin(), label.end(), '_', ' ');
    return label;
}

template <typename Visit>  // Visit(index, part) returns true to stop
void ForEachLabel(std::string_view type, Visit visit) {
    int index = 0;
    for (;;) {
        std::size_t end = type.find(':');
        if (visit(index, type.substr(0, end)) || end == std::string_view::npos) return;
        type.remove_prefix(end + 1);
        ++index;
    }
}

bool LabelAt(std::string_view type, std::int64_t index, std::string& out) {
    bool found = false;
    if (index < 0) return false;
    ForEachLabel(type, [&](int i, std::string_view part) {
        if (i != index) return false;
        out = ShownLabel(part);
        found = true;
        return true;
    });
    return found;
}

// A label part as shown, without what trails it: '_' is shown as ' ', and
// blanks and control characters at the end do not count.
std::string_view TrimShownLabel(std::string_view part) {
    while (!part.empty() && (static_cast<unsigned char>(part.back()) <= 32 || part.back() == '_'))
        part.remove_suffix(1);
    return part;
}

char AsciiLower(unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

// Whether two label texts read the same, '_' taken as ' ' and case not
// minded. Labels are compared for every saved value, so the common cases
// are settled without building the shown texts.
bool SameShownLabel(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto ca = static_cast<unsigned char>(a[i] == '_' ? ' ' : a[i]);
        auto cb = static_cast<unsigned char>(b[i] == '_' ? ' ' : b[i]);
        if (ca == cb) continue;
        if (ca >= 0x80 || cb >= 0x80) return EqualsNoCase(ShownLabel(a), ShownLabel(b));
        if (AsciiLower(ca) != AsciiLower(cb)) return false;
    }
    return true;
}

// A text without letters, blanks, '_' or non-ASCII characters (a number, as
// saved values of enumerations are) equals a label only byte for byte.
bool IsPlainText(std::string_view text) {
    if (text.empty()) return false;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c <= 32 || c >= 0x80 || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            return false;
    }
    return true;
}

// FindLabel for a plain text: the text is looked for in the type text
// directly instead of label by label.
int FindPlainLabel(std::string_view type, std::string_view wanted, int limit) {
    for (std::size_t pos = type.find(wanted); pos != std::string_view::npos;
         pos = type.find(wanted, pos + 1)) {
        if (pos != 0 && type[pos - 1] != ':') continue;
        std::size_t stop = std::min(type.find(':', pos), type.size());
        if (TrimShownLabel(type.substr(pos, stop - pos)).size() != wanted.size()) continue;
        auto index = std::count(type.begin(), type.begin() + static_cast<std::ptrdiff_t>(pos), ':');
        return index < limit ? static_cast<int>(index) : -1;
    }
    return -1;
}

// Index of the first of the first `limit` labels equal to the text (case,
// '_' against ' ' and trailing blanks not minded); -1 when none.
int FindLabel(std::string_view type, std::string_view text, int limit) {
    std::string_view wanted = TrimControls(text);
    if (IsPlainText(wanted)) return FindPlainLabel(type, wanted, limit);
    int found = -1;
    ForEachLabel(type, [&](int i, std::string_view part) {
        if (i >= limit) return true;
        if (SameShownLabel(TrimShownLabel(part), wanted)) found = i;
        return found >= 0;
    });
    return found;
}

// ---------------------------------------------------------------------------
// Encoders: value text to request data.

struct EncodeRequest {
    const MyConverter& converter;
    std::string_view text;  // at most the value text limit
    bool indexSwitch;
    std::string* errorText;
};

using Encoder = int (*)(const EncodeRequest&, std::uint8_t* out, int& count);

int EncodeFloat(const EncodeRequest& req, std::uint8_t* out, int& count) {
    // Read straight as a single, so that a text rounding to the largest
    // single is taken and one rounding past it is not.
    float x = 0;
    if (WholeReal(req.text, x) != Reading::kOk) return 0;
    PutBigEndian(std::bit_cast<std::uint32_t>(x), 4, out);
    // "r.oe" is held in three bytes: the low byte of the single is dropped.
    count = EqualsNoCase(req.converter.name, "r.oe") ? 3 : 4;
    return 1;
}

int EncodeStoredDot(const EncodeRequest& req, std::uint8_t* out, int& count) {
    double x = 0;
    if (WholeReal(req.text, x) != Reading::kOk) return 0;
    double magnitude = std::fabs(x);
    int point = req.converter.decimals;
    if (point == 0) {
        // The point goes behind the last non-zero decimal among the first three.
        double scale = 1;
        for (int digits = 1; digits <= 3; ++digits) {
            scale *= 10;
            if (std::fmod(std::floor(magnitude * scale + 0.5), 10.0) != 0) point = digits;
        }
    }
    point = std::clamp(point, 0, 3);
    double mantissa = std::floor(magnitude * std::pow(10.0, point) + 0.5);
    if (!(mantissa < 268435456.0)) return 0;  // 28 bits at most
    auto m = static_cast<std::uint32_t>(mantissa);
    int bytes = m >= (1u << 20) ? 4 : m >= (1u << 12) ? 3 : 2;
    PutBigEndian(m, bytes, out);
    // A zero is never sent negative.
    unsigned sign = x < 0 && m != 0 ? 0x80u : 0u;
    out[0] = static_cast<std::uint8_t>(sign | (static_cast<unsigned>(point) << 4) | out[0]);
    count = bytes;
    return 1;
}

// An integer of `bytes` bytes within the type's own range, so that what is
// sent reads back as the number written.
int EncodeInteger(std::string_view text, int bytes, std::int64_t min, std::int64_t max,
                  std::uint8_t* out, int& count) {
    std::int64_t v = 0;
    if (!WholeInteger(text, v) || v < min || v > max) return 0;
    PutBigEndian(static_cast<std::uint32_t>(v), bytes, out);
    count = bytes;
    return 1;
}

constexpr std::int64_t kInt16Min = -32768, kInt16Max = 32767;
constexpr std::int64_t kUint16Max = 0xFFFF, kByteMax = 0xFF, kDwordMax = 0xFFFFFFFF;

int EncodeUnsigned16(const EncodeRequest& req, std::uint8_t* out, int& count) {
    return EncodeInteger(req.text, 2, 0, kUint16Max, out, count);
}

int EncodeSigned16(const EncodeRequest& req, std::uint8_t* out, int& count) {
    return EncodeInteger(req.text, 2, kInt16Min, kInt16Max, out, count);
}

int EncodeOneByte(const EncodeRequest& req, std::uint8_t* out, int& count) {
    return EncodeInteger(req.text, 1, 0, kByteMax, out, count);
}

int EncodeFourBytes(const EncodeRequest& req, std::uint8_t* out, int& count) {
    return EncodeInteger(req.text, 4, 0, kDwordMax, out, count);
}

int EncodeBin(const EncodeRequest& req, std::uint8_t* out, int& count) {
    unsigned bits = 0;
    for (std::size_t i = 0; i < req.text.size(); ++i) {
        if (req.text[i] != '1') continue;
        // A set bit the byte cannot hold would be lost without a word.
        if (i >= 8) return 0;
        bits |= 1u << i;
    }
    out[0] = static_cast<std::uint8_t>(bits);
    count = 1;
    return 1;
}

// The fields of a time or a date: whole numbers, one separator between two
// of them (blanks around it allowed; a blank is a separator only where the
// separators include it). An empty or non-number field, more than maxCount
// fields or anything after the last refuse the whole text (-1), so that no
// field ever slips into another's place.
int ReadFields(std::string_view text, std::string_view separators, std::int64_t* out,
               int maxCount) {
    text = TrimControls(text);
    const bool blankSeparates = separators.find(' ') != std::string_view::npos;
    int count = 0;
    std::size_t pos = 0;
    auto skipBlanks = [&] {
        std::size_t from = pos;
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
            ++pos;
        return pos != from;
    };
    for (;;) {
        skipBlanks();
        if (count == maxCount || pos >= text.size() || !IsDigit(text[pos])) return -1;
        std::int64_t v = 0;
        pos += ParseLeadingInt(text.substr(pos), v);
        out[count++] = v;
        bool blanks = skipBlanks();
        if (pos == text.size()) return count;
        if (separators.find(text[pos]) != std::string_view::npos && text[pos] != ' ')
            ++pos;
        else if (!(blanks && blankSeparates))
            return -1;
    }
}

bool FitsByte(std::int64_t v) {
    return v >= 0 && v <= 255;
}

int EncodeTime(const EncodeRequest& req, std::uint8_t* out, int& count) {
    std::int64_t parts[3];
    int n = ReadFields(req.text, ":", parts, 3);
    if (n <= 0) return 0;
    for (int i = 0; i < n; ++i) {
        if (!FitsByte(parts[i])) return 0;
        out[i] = static_cast<std::uint8_t>(parts[i]);
    }
    // The last byte tells the device how many parts came.
    out[n] = static_cast<std::uint8_t>((4 - n) | (n * 16));
    count = n + 1;
    return 1;
}

int EncodeDateTime(const EncodeRequest& req, std::uint8_t* out, int& count) {
    std::int64_t p[6] = {};  // day, month, year, hour, minute, second
    // Day, month and year at least; a missing time of day counts 0.
    if (ReadFields(req.text, ":. ", p, 6) < 3) return 0;
    const std::int64_t fields[6] = {p[2], p[1] - 1, p[0] - 1, p[3], p[4], p[5]};
    for (int i = 0; i < 6; ++i) {
        if (!FitsByte(fields[i])) return 0;
        out[i] = static_cast<std::uint8_t>(fields[i]);
    }
    out[6] = 0x61;
    count = 7;
    return 1;
}

int EncodeClock(const EncodeRequest& req, std::uint8_t* out, int& count) {
    constexpr std::int64_t kMaxSeconds = 0xFFFF;
    std::vector<std::string> parts = Split(TrimControls(req.text), ':');
    std::int64_t seconds = 0;
    std::int64_t weight = 1;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        // Each part a whole number: an empty one would shift the others.
        std::int64_t v = 0;
        if (ReadFields(*it, "", &v, 1) != 1 || v > kMaxSeconds) return 0;
        if (v != 0) {
            if (weight > kMaxSeconds) return 0;
            seconds += v * weight;
            if (seconds > kMaxSeconds) return 0;
        }
        weight = std::min(weight * 60, kMaxSeconds + 1);
    }
    int bytes = seconds < 256 ? 1 : 2;
    PutBigEndian(static_cast<std::uint32_t>(seconds), bytes, out);
    count = bytes;
    return 1;
}

int NameFailure(const EncodeRequest& req, const char* reason) {
    if (req.errorText) *req.errorText = reason;
    return -1;
}

// Four character codes, coded as the device codes parameter names; the first
// character travels in the last byte.
int EncodeNetworkName(const EncodeRequest& req, std::uint8_t* out, int& count) {
    std::size_t length = Utf8Length(req.text);
    if (length == 0) return NameFailure(req, kNameEmpty);
    if (length >= 9) return NameFailure(req, kNameTooLong);
    std::uint8_t codes[4] = {kNameSpaceCode, kNameSpaceCode, kNameSpaceCode, kNameSpaceCode};
    int coded = 0;
    bool pointed = false;  // the last coded character already carries a point
    for (char c : ToUpperUtf8(req.text)) {
        if (c == '.') {
            // A point marks the character before it, once.
            if (coded == 0 || pointed) return NameFailure(req, kNameBadChar);
            ++codes[coded - 1];
            pointed = true;
            continue;
        }
        int code = 0;
        if (c >= 'A' && c <= 'Z') {
            code = (c - 55) * 2;
        } else if (c >= '0' && c <= '9') {
            code = (c - '0') * 2;
        } else if (c == ' ') {
            code = 78;
        } else if (c == '_') {
            code = 74;
        } else if (c == '-') {
            code = 72;
        } else {
            return NameFailure(req, kNameBadChar);
        }
        // A fifth character would be lost without a word.
        if (coded == 4) return NameFailure(req, kNameTooLong);
        codes[coded++] = static_cast<std::uint8_t>(code);
        pointed = false;
    }
    for (int i = 0; i < 4; ++i)
        out[i] = codes[3 - i];
    count = 4;
    return 1;
}

int EncodeEnumeration(const EncodeRequest& req, std::uint8_t* out, int& count) {
    const std::string& type = req.converter.type;
    int index = -1;
    if (req.indexSwitch) {
        std::int64_t v = 0;
        std::string label;
        if (WholeInt(req.text, v) && v < kMaxEncodedLabels && LabelAt(type, v, label))
            index = static_cast<int>(v);
    } else {
        index = FindLabel(type, req.text, kMaxEncodedLabels);
    }
    if (index < 0) return 0;
    unsigned byte = static_cast<unsigned>(index);
    // Loaded tables show '_' as ' ': both spellings name the access attributes.
    if (ReplaceAll(type, "_", " ") == ReplaceAll(kAccessAttributeType, "_", " ") &&
        MyConverter::DocumentAccessLevel() == kFullAccessLevel)
        byte += kFullAccessMark;
    out[0] = static_cast<std::uint8_t>(byte);
    count = 1;
    return 1;
}

int NoWriteMethod(const EncodeRequest&, std::uint8_t*, int&) {
    return -1;
}

int NothingToSend(const EncodeRequest&, std::uint8_t*, int& count) {
    count = 0;
    return 1;
}

// ---------------------------------------------------------------------------
// Decoders: answer data to value text.

struct Answer {
    const std::uint8_t* data;
    int n;  // bytes received
    int k;  // bytes of the value: n without the two index bytes of an indexed parameter
};

using Decoder = int (*)(const MyConverter&, const Answer&, std::string& text);

int LengthError(const Answer& in, std::string& text) {
    text = Format(kLengthErrorFormat, in.n);
    return -1;
}

int DecodeFloat(const MyConverter& c, const Answer& in, std::string& text) {
    bool shortForm = EqualsNoCase(c.name, "r.oe");
    if (in.k != (shortForm ? 3 : 4)) return LengthError(in, text);
    const std::uint8_t* d = in.data;
    // An exponent of all ones is an infinity or not a number: the device's
    // mark of a value it does not have.
    if (!shortForm && (d[0] & 0x7F) == 0x7F && (d[1] & 0x80)) {
        text = kInvalidFloat;
        return 1;
    }
    std::uint32_t bits = BigEndian(d, 3) << 8 | (shortForm ? 0u : d[3]);
    text = WithDecimals(std::bit_cast<float>(bits), c.decimals);
    return 1;
}

int DecodeStoredDot(const MyConverter& c, const Answer& in, std::string& text) {
    if (in.k < 1) return LengthError(in, text);
    if (in.k > 8) return 0;
    const std::uint8_t* d = in.data;
    int point = (d[0] >> 4) & 7;
    std::uint64_t mantissa = d[0] & 0x0Fu;
    for (int i = 1; i < in.k; ++i)
        mantissa = mantissa << 8 | d[i];
    double x = static_cast<double>(mantissa) / std::pow(10.0, point);
    if ((d[0] & 0x80) && mantissa != 0) x = -x;
    text = WithDecimals(x, c.decimals);
    return 1;
}

int DecodeDecDot(const MyConverter&, const Answer& in, std::string& text) {
    // Counts with the index bytes: 1 or 3 hold one byte, 2 or 4 two.
    if (in.n < 1 || in.n > 4) return LengthError(in, text);
    text = Format("%u", BigEndian(in.data, in.n % 2 == 0 ? 2 : 1));
    return 1;
}

int DecodeInt16(const MyConverter&, const Answer& in, std::string& text) {
    if (in.k != 2) return LengthError(in, text);
    text = Format("%i", static_cast<int>(static_cast<std::int16_t>(BigEndian(in.data, 2))));
    return 1;
}

int DecodeUint16(const MyConverter&, const Answer& in, std::string& text) {
    if (in.k != 2) return LengthError(in, text);
    text = Format("%u", BigEndian(in.data, 2));
    return 1;
}

int DecodeByte(const MyConverter&, const Answer& in, std::string& text) {
    if (in.k != 1) return LengthError(in, text);
    text = Format("%u", static_cast<unsigned>(in.data[0]));
    return 1;
}

int DecodeBin(const MyConverter&, const Answer& in, std::string& text) {
    if (in.k != 1) return LengthError(in, text);
    text.clear();
    for (int bit = 0; bit < 8; ++bit)
        text += (in.data[0] >> bit) & 1 ? '1' : '0';
    return 1;
}

int DecodeDword(const MyConverter&, const Answer& in, std::string& text) {
    if (in.k != 4) return LengthError(in, text);
    text = Format("%u", BigEndian(in.data, 4));
    return 1;
}

int DecodeTime(const MyConverter&, const Answer& in, std::string& text) {
    if (in.k != 4) return LengthError(in, text);
    const std::uint8_t* d = in.data;
    text = Format("%02u:%02u:%02u", unsigned{d[0]}, unsigned{d[1]}, unsigned{d[2]});
    return 1;
}

int DecodeDateTime(const MyConverter&, const Answer& in, std::string& text) {
    if (in.k != 7) return LengthError(in, text);
    const std::uint8_t* d = in.data;
    text = Format("%02u.%02u.%02u %02u:%02u:%02u", d[2] + 1u, d[1] + 1u, unsigned{d[0]},
                  unsigned{d[3]}, unsigned{d[4]}, unsigned{d[5]});
    return 1;
}

int DecodeClock(const MyConverter&, const Answer& in, std::string& text) {
    if (in.k != 1 && in.k != 2) return LengthError(in, text);
    std::uint32_t seconds = BigEndian(in.data, in.k);
    text = Format("%02u:%02u", seconds / 60, seconds % 60);
    return 1;
}

int DecodeString(const MyConverter&, const Answer& in, std::string& text) {
    // The index bytes of an indexed parameter are no part of the text.
    text = ReversedDeviceText(in.data, std::max(in.k, 0));
    return 1;
}

int DecodeNetworkName(const MyConverter&, const Answer& in, std::string& text) {
    if (in.n != 4 && in.n != 6) return LengthError(in, text);
    text.clear();
    for (int i = 3; i >= 0; --i) {
        std::uint8_t code = in.data[i];
        if (code > kMaxNameCode) {
            text = kNameBadCode;
            return -1;
        }
        text += kNameAlphabet[code / 2];
        if (code & 1) text += '.';
    }
    return 1;
}

int DecodeEnumeration(const MyConverter& c, const Answer& in, std::string& text) {
    // An indexed answer of the index bytes alone holds no value.
    if (in.k < 1) return LengthError(in, text);
    return LabelAt(c.type, in.data[0], text) ? 1 : 0;
}

// ---------------------------------------------------------------------------
// The value types: one row each, found by the first ':'-part of the type text
// (by the whole type text for the rows so marked). A type text that no row
// names is an enumeration.

struct TypeRow {
    std::string_view name;
    bool wholeText;
    Encoder encode;  // null: not encodable
    Decoder decode;  // null: not decodable
};

constexpr TypeRow kTypeRows[] = {
    {"float", false, EncodeFloat, DecodeFloat},
    {"STORED DOT", false, EncodeStoredDot, DecodeStoredDot},
    // Read back unsigned, whatever the description calls it.
    {"DEC dot", false, EncodeUnsigned16, DecodeDecDot},
    {"int16", false, EncodeSigned16, DecodeInt16},
    {"uint16", false, EncodeUnsigned16, DecodeUint16},
    {"byte", false, EncodeOneByte, DecodeByte},
    {"bin", false, EncodeBin, DecodeBin},
    {"DWORD", false, EncodeFourBytes, DecodeDword},
    {"time", false, EncodeTime, DecodeTime},
    {"datetime", false, EncodeDateTime, DecodeDateTime},
    {"CLK frm", false, EncodeClock, DecodeClock},
    // The device has no write method for texts.
    {"string", true, nullptr, DecodeString},
    {"ASCI", true, nullptr, DecodeString},
    {"name", true, EncodeNetworkName, DecodeNetworkName},
    // A parameter that no table described has no known layout.
    {MyConverter::kUnknownType, true, nullptr, nullptr},
};

constexpr std::size_t LongestTypeName() {
    std::size_t longest = 0;
    for (const TypeRow& row : kTypeRows)
        longest = std::max(longest, row.name.size());
    return longest;
}

// Asked for every value saved or loaded; enumeration texts are long, so only
// as much of the text is looked at as a type name can fill.
const TypeRow* FindTypeRow(std::string_view type) {
    std::size_t colon = type.substr(0, LongestTypeName() + 1).find(':');
    // Without a colon that near the start, the first part is too long for any name.
    std::string_view first = colon == std::string_view::npos ? type : type.substr(0, colon);
    for (const TypeRow& row : kTypeRows) {
        std::string_view candidate = row.wholeText ? type : first;
        if (candidate.size() != row.name.size()) continue;
        // Most rows differ in the first letter already; case folding never
        // turns a non-ASCII letter into an ASCII one.
        auto c = static_cast<unsigned char>(candidate.front());
        auto r = static_cast<unsigned char>(row.name.front());
        if ((c < 0x80) != (r < 0x80) || (c < 0x80 && AsciiLower(c) != AsciiLower(r))) continue;
        if (EqualsNoCase(candidate, row.name)) return &row;
    }
    return nullptr;
}

bool IsEnumerationType(std::string_view type) {
    return !type.empty() && FindTypeRow(type) == nullptr;
}

int DecodeByType(const MyConverter& c, const Answer& in, std::string& text) {
    if (const TypeRow* row = FindTypeRow(c.type)) return row->decode ? row->decode(c, in, text) : 0;
    return IsEnumerationType(c.type) ? DecodeEnumeration(c, in, text) : 0;
}

// ---------------------------------------------------------------------------
// Parameters whose name decides how they are read or written.

int DecodeApply(const MyConverter& c, const Answer& in, std::string& text) {
    if (in.n != 0) return DecodeByType(c, in, text);
    text.clear();
    return 1;
}

int DecodeDeviceText(const MyConverter&, const Answer& in, std::string& text) {
    text = ReversedDeviceText(in.data, in.n);
    return 1;
}

int DecodeRestart(const MyConverter&, const Answer& in, std::string& text) {
    constexpr std::uint8_t kAddressReport = 24;
    if (in.n != 3) return LengthError(in, text);
    const std::uint8_t* d = in.data;
    if (d[0] == kAddressReport)
        text = Format("%s %d", kDeviceAddress, static_cast<int>(BigEndian(d + 1, 2)));
    else
        text = RestartCauseText(d[2]);
    return 1;
}

// The label of an enumeration type; a type name has no labels.
bool EnumerationLabel(const MyConverter& c, std::int64_t index, std::string& out) {
    return IsEnumerationType(c.type) && LabelAt(c.type, index, out);
}

int DecodeLabelOrNoData(const MyConverter& c, const Answer& in, std::string& text) {
    if (!EnumerationLabel(c, in.data[0], text)) text = MyConverter::kNoData;
    return 1;
}

int DecodeLabel(const MyConverter& c, const Answer& in, std::string& text) {
    return EnumerationLabel(c, in.data[0], text) ? 1 : 0;
}

int DecodeFixedChoice(const Answer& in, std::initializer_list<const char*> choices,
                      std::string& text) {
    if (in.data[0] >= choices.size()) return 0;
    text = choices.begin()[in.data[0]];
    return 1;
}

int DecodeWordLength(const MyConverter&, const Answer& in, std::string& text) {
    return DecodeFixedChoice(in, {"5", "6", "7", "8"}, text);
}

int DecodeAddressLength(const MyConverter&, const Answer& in, std::string& text) {
    return DecodeFixedChoice(in, {"8", "11"}, text);
}

int DecodeAddress(const MyConverter&, const Answer& in, std::string& text) {
    if (in.n != 1 && in.n != 2) return 0;
    text = Format("%d", static_cast<int>(BigEndian(in.data, in.n)));
    return 1;
}

bool IsStatus(std::uint8_t first) {
    return (first & 0xF0) == 0xF0;
}

int DecodeReadingAs(const Answer& in, bool isSetPoint, std::string& text) {
    const std::uint8_t* d = in.data;
    if (IsStatus(d[0])) {
        text = ReadingStatusText(d, in.n, isSetPoint);
        return text.empty() ? LengthError(in, text) : 1;
    }
    if (in.n < 4) return LengthError(in, text);
    if (d[0] == 0x7F) {
        text = kOverflow;
        return 1;
    }
    text = Format("%5.3f", static_cast<double>(std::bit_cast<float>(BigEndian(d, 4))));
    return 1;
}

int DecodeReading(const MyConverter&, const Answer& in, std::string& text) {
    return DecodeReadingAs(in, false, text);
}

int DecodeSetPoint(const MyConverter&, const Answer& in, std::string& text) {
    return DecodeReadingAs(in, true, text);
}

int DecodeState(const MyConverter& c, const Answer& in, std::string& text) {
    if (IsStatus(in.data[0])) {
        text = StateStatusText(in.data[0]);
        return 1;
    }
    // Two bytes carry the state in the second one.
    if (in.n == 2) return DecodeByType(c, Answer{in.data + 1, 1, 1}, text);
    return DecodeByType(c, in, text);
}

struct NameRule {
    const char* name;
    Encoder encode;  // null: the type rules
    Decoder decode;  // null: the type rules
    bool acceptsNoData;
};

constexpr NameRule kNameRules[] = {
    {"APLY", NothingToSend, DecodeApply, true},
    {"dev", NoWriteMethod, DecodeDeviceText, false},
    {"ver", NoWriteMethod, DecodeDeviceText, false},
    {"exit", NoWriteMethod, DecodeRestart, false},
    {"bPS", nullptr, DecodeLabelOrNoData, false},
    {"PrtY", nullptr, DecodeLabel, false},
    {"Sbit", nullptr, DecodeLabelOrNoData, false},
    {"LEn", nullptr, DecodeWordLength, false},
    {"A.Len", nullptr, DecodeAddressLength, false},
    {"Addr", nullptr, DecodeAddress, false},
    {"rEAd", nullptr, DecodeReading, false},
    {"r.CAL", nullptr, DecodeReading, false},
    {"rd.rg", nullptr, DecodeReading, false},
    {"Set.P", nullptr, DecodeSetPoint, false},
    {"r.OUt", nullptr, DecodeReading, false},
    {"r.kEY", nullptr, DecodeState, false},
    {"r.PrG", nullptr, DecodeState, false},
    {"r.StP", nullptr, DecodeState, false},
    {"r.St", nullptr, DecodeState, false},
};

const NameRule* FindNameRule(std::string_view name) {
    for (const NameRule& rule : kNameRules)
        if (EqualsNoCase(name, rule.name)) return &rule;
    return nullptr;
}

// ---------------------------------------------------------------------------
// Status texts.

constexpr const char* kWrongValue = "Вычисленное значение заведомо неверно.";
constexpr const char* kNoCoefficients = "Не могу преобразовать коэффициенты.";
constexpr const char* kTooLarge = "Вычисленное значение слишком велико.";
constexpr const char* kTooSmall = "Вычисленное значение слишком мало.";

// Readings, by code - 0xF0; null: the text depends on the subcode in byte 3.
constexpr const char* kReadingStatus[16] = {
    kWrongValue,
    kNoCoefficients,
    kNoCoefficients,
    nullptr,
    kNoCoefficients,
    nullptr,
    "Данные не готовы.",
    "Датчик отключен.",
    "Велика температура холодного спая.",
    "Мала температура холодного спая.",
    kTooLarge,
    kTooSmall,
    "Короткое замыкание",
    "Обрыв датчика.",
    "Отсутствие связи с АЦП.",
    "Некорректный юстировочный коэффициент.",
};

// The set point reuses two codes for the state of its regulator.
struct StatusOverride {
    std::uint8_t code;
    const char* text;
};
constexpr StatusOverride kSetPointStatus[] = {
    {0xFA, "У регулятора отсутствует уставка или регулятор не работает."},
    {0xFB, "У регулятора уставка типа “Мощность”."},
};

// Subcodes, indexed by byte 3; null: unknown.
constexpr const char* kRegulatorSubcodes[] = {
    nullptr,
    "у регулятора отсутствует уставка или регулятор не работает в данный момент",
    "у регулятора уставка типа «мощность»",
};
constexpr const char* kComputationSubcodes[] = {
    "Неверное количество входов",
    "Отключен вход вычислителя",
    "Отключен датчик, используемый вычислителем",
    "Несоответствуют датчик и вычислитель",
    "Отключен фильтр, используемый вычислителем",
    "Недопустимый формат данных фильтра RS485",
    "Мала температура сухого термометра (влажность)",
    "Велика температура сухого термометра",
    "Мала температура влажного термометра",
    "Велика температура влажного термометра",
    "Вычислитель отключен",
    "На входе вычислителя корня отрицательное число",
};

template <std::size_t N>
std::string SubcodeText(const char* const (&table)[N], std::uint8_t subcode) {
    if (subcode < N && table[subcode]) return table[subcode];
    return Format(kUnknownSubcode, static_cast<int>(subcode));
}

// States, by code - 0xF0 (the coefficient text has its own spacing here).
constexpr const char* kStateCoefficients = "Не могу преобразовать коэффициенты .";
constexpr const char* kStateStatus[16] = {
    kWrongValue,        kStateCoefficients, kStateCoefficients, kStateCoefficients,
    kStateCoefficients, kStateCoefficients, kStateCoefficients, kReadingStatus[7],
    kReadingStatus[8],  kReadingStatus[9],  kTooLarge,          kTooSmall,
    kReadingStatus[12], kReadingStatus[13], kReadingStatus[14], kReadingStatus[15],
};

struct RestartCause {
    std::uint8_t first;
    std::uint8_t last;
    const char* text;
    bool withNumber;  // the text is followed by the cause number
};
constexpr RestartCause kRestartCauses[] = {
    {1, 1, "Нештатный вход в программу контроля", false},
    {2, 2, "Сбой бегущей единицы на порту С", false},
    {3, 3, "Сбой бегущей единицы на порту E", false},
    {4, 4, "сбой бегущей единицы на порту B", false},
    {5, 5, "переполнение одного из стеков (данных или адресов возврата)", false},
    {6, 6, "внешний сброс", false},
    {7, 7, "сброс по питанию", false},
    {8, 8, "Самопроизвольный watchdog", false},
    {9, 9, "Кто-то держит SDA линию магистрали в 0", false},
    {10, 10, "Ошибки при чтения/записи еепром", false},
    {11, 11, "ошибки при записи еепром", false},
    {12, 12, "Не хватает времени до перезагрузки очереди", false},
    {13, 13, "Ошибка зацикливания указателей pwmQueue", false},
    {14, 14, "Нештатный вход в программу контроля", false},
    {15, 15, "Повторная проверка обнаружила неисправимый код (Check_Segment)", false},
    {32, 94, "Ошибки регистров ввода/вывода. Номеру сбившегося регистра : ", true},
    {95, 95, "Сбой регистра SREG", false},
};
constexpr const char* kUnknownRestart = "Не найдено значение ошибки ";

}  // namespace

// ---------------------------------------------------------------------------

std::string ReadingStatusText(const std::uint8_t* data, int count, bool isSetPoint) {
    if (!data || count < 1 || !IsStatus(data[0])) return {};
    const std::uint8_t code = data[0];
    if (code == 0xF3 || code == 0xF5) {
        if (count < 4) return {};
        return code == 0xF3 ? SubcodeText(kRegulatorSubcodes, data[3])
                            : SubcodeText(kComputationSubcodes, data[3]);
    }
    if (isSetPoint)
        for (const StatusOverride& o : kSetPointStatus)
            if (o.code == code) return o.text;
    return kReadingStatus[code - 0xF0];
}

std::string StateStatusText(std::uint8_t code) {
    return IsStatus(code) ? kStateStatus[code - 0xF0] : std::string();
}

std::string RestartCauseText(std::uint8_t code) {
    for (const RestartCause& cause : kRestartCauses) {
        if (code < cause.first || code > cause.last) continue;
        return cause.withNumber ? Format("%s %d", cause.text, static_cast<int>(code)) : cause.text;
    }
    return kUnknownRestart;
}

void MyConverter::SetDocumentAccessLevel(int level) {
    gDocumentAccessLevel.store(level);
}

int MyConverter::DocumentAccessLevel() {
    return gDocumentAccessLevel.load();
}

namespace {

Encoder FindEncoder(const MyConverter& c) {
    if (const NameRule* rule = FindNameRule(c.name); rule && rule->encode) return rule->encode;
    if (const TypeRow* row = FindTypeRow(c.type)) return row->encode;
    return IsEnumerationType(c.type) ? EncodeEnumeration : nullptr;
}

}  // namespace

ValueNumber ReadValueNumber(std::string_view text) {
    ValueNumber n;
    RealSpan span = ScanLeadingReal(text);
    double value = 0;
    Reading reading = ReadSpan(text, span, value);
    if (reading == Reading::kNone) return n;
    n.length = span.end;
    n.exponent = span.exponent;
    n.overflow = reading == Reading::kTooLarge;
    n.value = n.overflow ? 0 : value;
    return n;
}

bool IntegerTypeRange(std::string_view type, std::int64_t& min, std::int64_t& max) {
    const TypeRow* row = FindTypeRow(type);
    if (!row) return false;
    min = 0;
    if (row->encode == EncodeUnsigned16)
        max = kUint16Max;
    else if (row->encode == EncodeOneByte)
        max = kByteMax;
    else if (row->encode == EncodeFourBytes)
        max = kDwordMax;
    else if (row->encode == EncodeSigned16)
        min = kInt16Min, max = kInt16Max;
    else
        return false;
    return true;
}

bool MyConverter::HasEncoder() const {
    return FindEncoder(*this) != nullptr;
}

int MyConverter::ConvertToData(std::string_view text, std::uint8_t* out, int& count,
                               bool indexSwitch, std::string* errorText) const {
    count = 0;
    Encoder encode = FindEncoder(*this);
    if (!encode) return 0;
    // A cut text could read as another value.
    std::string_view limited = Utf8Prefix(text, kMaxValueText);
    if (limited.size() != text.size()) return 0;
    EncodeRequest req{*this, limited, indexSwitch, errorText};

    // Encoders write here, so that a failure leaves the caller's buffer as it was.
    std::uint8_t data[kMaxEncoded] = {};
    int produced = 0;
    int result = encode(req, data, produced);
    if (result != 1) return result;
    if (produced > 0) {
        if (!out) return 0;
        std::memcpy(out, data, static_cast<std::size_t>(produced));
    }
    count = produced;
    return 1;
}

int MyConverter::ConvertFromData(const std::uint8_t* data, int count, bool hasLinearIndex) {
    // Never trust the count beyond what an answer can hold.
    int n = data ? std::clamp(count, 0, static_cast<int>(kMaxRawData)) : 0;
    Answer in{data, n, hasLinearIndex ? n - 2 : n};
    const NameRule* rule = FindNameRule(name);
    if (n == 0 && !(rule && rule->acceptsNoData)) return 0;

    std::string text;
    int result =
        rule && rule->decode ? rule->decode(*this, in, text) : DecodeByType(*this, in, text);
    if (result != 0) value = std::string(Utf8Prefix(text, kMaxValueText));
    return result;
}

bool MyConverter::IsEnumeration() const {
    return IsEnumerationType(type);
}

std::vector<std::string> MyConverter::Labels() const {
    std::vector<std::string> labels;
    if (!IsEnumeration()) return labels;
    ForEachLabel(type, [&](int, std::string_view part) {
        labels.push_back(ShownLabel(part));
        return false;
    });
    return labels;
}

namespace {

// The saved forms of an enumeration value, for a type known to be one.
std::string IndexTextOfLabel(std::string_view type, std::string_view label) {
    return std::to_string(FindLabel(type, label, std::numeric_limits<int>::max()));
}

std::string LabelOfIndexText(std::string_view type, std::string_view text) {
    if (text.empty() || text == MyConverter::kNoData) return std::string(text);
    std::string label;
    // Only a text that is wholly a number is an index, so that labels such as
    // "5 мин" or "9600" are still found by their text.
    std::int64_t index = 0;
    if (WholeInt(text, index) && LabelAt(type, index, label)) return label;
    int found = FindLabel(type, text, std::numeric_limits<int>::max());
    if (found >= 0 && LabelAt(type, found, label)) return label;
    return MyConverter::kNoData;
}

}  // namespace

std::string MyConverter::LabelToIndexText(std::string_view label) const {
    if (!IsEnumeration()) return std::string(label);
    return IndexTextOfLabel(type, label);
}

std::string MyConverter::IndexTextToLabel(std::string_view text) const {
    if (!IsEnumeration()) return std::string(text);
    return LabelOfIndexText(type, text);
}

std::string MyConverter::IndexToLabel(int index) const {
    if (index < 0) return {};
    if (!IsEnumeration()) return Format("%i", index);
    std::string label;
    return LabelAt(type, index, label) ? label : std::string(kNoData);
}

std::string MyConverter::FitText(std::string_view text, bool useDecimals) const {
    std::string out(text);
    if (decimals != 0 || useDecimals) {
        std::size_t point = out.find('.');
        std::size_t keep = static_cast<std::size_t>(std::max(decimals, 0));
        if (point != std::string::npos && out.size() - point - 1 > keep)
            out.resize(point + 1 + keep);
    } else if (minValue != 0 || maxValue != 0) {
        // Without a range there is nothing to fit the digits to.
        auto digitsValue = [](std::string_view s) -> std::int64_t {
            std::string digits(s);
            digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
            std::int64_t v = 0;
            return ParseLeadingInt(digits, v) == 0 ? -1 : v;
        };
        for (std::int64_t n = digitsValue(out);
             (static_cast<double>(n) < minValue || static_cast<double>(n) > maxValue) && n > 9;
             n = digitsValue(out)) {
            std::size_t last = out.find_last_of("0123456789");
            if (last == std::string::npos) break;
            out.resize(last);
        }
    }
    if (!out.empty() && out.back() == '.') out.pop_back();
    return out;
}

void MyConverter::Serialize(Archive& ar) {
    const bool enumeration = IsEnumeration();
    if (ar.IsStoring()) {
        ar.WriteText(name);
        if (enumeration)
            ar.WriteText(IndexTextOfLabel(type, value));
        else
            ar.WriteText(value);
        return;
    }
    // Both texts are read before anything changes, so that a damaged archive
    // leaves the converter as it was.
    std::string storedName = ar.ReadText();
    std::string stored = ar.ReadText();
    name = std::move(storedName);
    if (enumeration)
        value = LabelOfIndexText(type, stored);
    else
        value = std::move(stored);
}
