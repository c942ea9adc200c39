#include "platform/text.h"

#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

namespace {

locale_t CLocale() {
    // Created once and never freed: it lives as long as the process.
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return loc;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Position after leading blanks and an optional sign.
std::size_t SkipBlanksAndSign(std::string_view text, bool& negative) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    return i;
}

}  // namespace

std::string Format(const char* fmt, ...) {
    // uselocale() is per thread, so this is safe beside other threads.
    locale_t previous = uselocale(CLocale());
    char small[256];
    va_list args;
    va_start(args, fmt);
    int n = std::vsnprintf(small, sizeof small, fmt, args);
    va_end(args);
    std::string out;
    if (n < 0) {
        out.clear();
    } else if (static_cast<std::size_t>(n) < sizeof small) {
        out.assign(small, static_cast<std::size_t>(n));
    } else {
        out.resize(static_cast<std::size_t>(n) + 1);
        va_start(args, fmt);
        std::vsnprintf(out.data(), out.size(), fmt, args);
        va_end(args);
        out.resize(static_cast<std::size_t>(n));
    }
    uselocale(previous);
    return out;
}

RealSpan ScanLeadingReal(std::string_view text) {
    RealSpan span;
    std::size_t i = SkipBlanksAndSign(text, span.negative);
    span.begin = i;
    std::size_t digits = 0;
    while (i < text.size() && IsDigit(text[i]))
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0) return RealSpan{};
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < text.size() && IsDigit(text[j])) {
            while (j < text.size() && IsDigit(text[j]))
                ++j;
            i = j;
            span.exponent = true;
        }
    }
    span.end = i;
    return span;
}

std::size_t ParseLeadingReal(std::string_view text, double& out) {
    const RealSpan span = ScanLeadingReal(text);
    if (span.end == 0) return 0;
    const bool negative = span.negative;
    const std::size_t numberStart = span.begin;
    const std::size_t i = span.end;
    double value = 0;
    auto [ptr, ec] = std::from_chars(text.data() + numberStart, text.data() + i, value,
                                     std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Underflow reads as zero; overflow is no number at all.
        std::string_view digitsText = text.substr(numberStart, i - numberStart);
        bool tiny = digitsText.find("e-") != std::string_view::npos ||
                    digitsText.find("E-") != std::string_view::npos;
        if (!tiny) return 0;
        value = 0;
    } else if (ec != std::errc() || ptr != text.data() + i || !std::isfinite(value)) {
        return 0;
    }
    out = negative ? -value : value;
    return i;
}

std::size_t ParseLeadingInt(std::string_view text, std::int64_t& out) {
    bool negative = false;
    std::size_t i = SkipBlanksAndSign(text, negative);
    if (i >= text.size() || !IsDigit(text[i])) return 0;
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    while (i < text.size() && IsDigit(text[i])) {
        int d = text[i] - '0';
        value = value > (kMax - d) / 10 ? kMax : value * 10 + d;
        ++i;
    }
    out = negative ? -value : value;
    return i;
}

namespace {

// Maps one code point between cases for the Latin and Cyrillic alphabets.
char32_t FoldCase(char32_t c, bool upper) {
    if (upper) {
        if (c >= U'a' && c <= U'z') return c - 32;
        if (c >= U'а' && c <= U'я') return c - 32;
        if (c >= U'ѐ' && c <= U'џ') return c - 80;
    } else {
        if (c >= U'A' && c <= U'Z') return c + 32;
        if (c >= U'А' && c <= U'Я') return c + 32;
        if (c >= U'Ѐ' && c <= U'Џ') return c + 80;
    }
    return c;
}

std::string MapCase(std::string_view text, bool upper) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto b0 = static_cast<unsigned char>(text[i]);
        if (b0 < 0x80) {
            out.push_back(static_cast<char>(FoldCase(b0, upper)));
            continue;
        }
        // Only two-byte sequences hold the letters that change case here.
        if ((b0 >> 5) == 6 && i + 1 < text.size() &&
            (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
            char32_t c = ((b0 & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
            char32_t m = FoldCase(c, upper);
            out.push_back(static_cast<char>(0xC0 | (m >> 6)));
            out.push_back(static_cast<char>(0x80 | (m & 0x3F)));
            ++i;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

}  // namespace

std::string ToLowerUtf8(std::string_view text) {
    return MapCase(text, false);
}
std::string ToUpperUtf8(std::string_view text) {
    return MapCase(text, true);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    bool ascii = true;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto ca = static_cast<unsigned char>(a[i]);
        auto cb = static_cast<unsigned char>(b[i]);
        if (ca >= 0x80 || cb >= 0x80) {
            ascii = false;
            break;
        }
        if (FoldCase(ca, false) != FoldCase(cb, false)) return false;
    }
    return ascii || ToLowerUtf8(a) == ToLowerUtf8(b);
}

std::size_t Utf8Length(std::string_view text) {
    std::size_t n = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

std::string_view Utf8Prefix(std::string_view text, std::size_t count) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == count) return text.substr(0, i);
            ++seen;
        }
    }
    return text;
}

std::vector<std::string> Split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t pos = text.find(separator, start);
        if (pos == std::string_view::npos) {
            parts.emplace_back(text.substr(start));
            return parts;
        }
        parts.emplace_back(text.substr(start, pos - start));
        start = pos + 1;
    }
}

std::string_view TrimRight(std::string_view text) {
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    if (from.empty()) return std::string(text);
    std::size_t start = 0;
    for (;;) {
        std::size_t pos = text.find(from, start);
        if (pos == std::string_view::npos) break;
        out.append(text.substr(start, pos - start));
        out.append(to);
        start = pos + from.size();
    }
    out.append(text.substr(start));
    return out;
}
