#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Locale-independent text helpers. Numbers are read and written with a point
// as decimal separator whatever the process locale says.

// printf-style formatting in the "C" locale.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Where the longest decimal real number at the start of the text lies:
// leading blanks and a sign skipped, digits with at most one point, then an
// exponent when digits follow its letter. end is 0 when there is none.
struct RealSpan {
    std::size_t begin = 0;  // first digit or point
    std::size_t end = 0;    // one past the number
    bool negative = false;
    bool exponent = false;
};
RealSpan ScanLeadingReal(std::string_view text);

// The longest decimal real number at the start of the text, leading blanks
// skipped (sign, digits, point, exponent; no "inf", "nan" or hexadecimal).
// Returns the number of characters consumed, 0 when there is no number or it
// does not fit a double.
std::size_t ParseLeadingReal(std::string_view text, double& out);

// The leading optionally signed decimal integer, leading blanks skipped.
// Values beyond 64 bits saturate. Returns the characters consumed, 0 when none.
std::size_t ParseLeadingInt(std::string_view text, std::int64_t& out);

// Case folding for the Latin and Cyrillic letters of UTF-8 text; every other
// character is kept as it is.
std::string ToLowerUtf8(std::string_view text);
std::string ToUpperUtf8(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);

// Number of characters (code points) of UTF-8 text.
std::size_t Utf8Length(std::string_view text);
// The first `count` characters of UTF-8 text.
std::string_view Utf8Prefix(std::string_view text, std::size_t count);

std::vector<std::string> Split(std::string_view text, char separator);
std::string_view TrimRight(std::string_view text);
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
