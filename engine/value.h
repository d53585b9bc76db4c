// Script values: every value is a byte string, and numbers are texts that read as numbers.
// This module holds the number syntaxes (strict, lenient, integer) and the number writer.
//
// Pure functions, callable from any thread. Errors are results: a failed reading returns
// false and leaves the output untouched.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace nv {

// Strict number syntax on the trimmed text: [sign] digits [. digits] [E [sign] digits].
// `.`, `e5` and `+.` forms read as 0 when they fit the syntax; `1e`, `1,5`, `0x10` do not.
bool isNumber(std::string_view text, double* value = nullptr);

// Lenient reading for arithmetic: the strict value when the whole text is a number, 0 for
// the empty text, otherwise the digits met before the first misfit taken as one whole
// number (`12abc` 12, `-5x` 5, `1.5x` 15). Never fails.
double lenientNumber(std::string_view text);

// Integer syntax for function arguments and control positions: optional blanks, optional
// sign, decimal digits or hexadecimal after `$`, `x`, `X`, `0x`, `0X`; must fit 32 bits.
bool parseInteger(std::string_view text, int32_t& out);

// The number writer: at most 15 significant digits, no trailing zeros, `.` as separator;
// fixed notation when |v| >= 0.00001 and the integer part has at most 15 digits, else
// mantissa, `E` and exponent (`1E20`, `1E-6`). Used for arithmetic results and for every
// other real that becomes text.
std::string formatNumber(double v);
std::string formatInt(int64_t v);

// A text the number writer writes for an integer of at most 15 digits: `0`, or an optional
// `-` and digits without a leading zero. Reading such a text as a number and writing the
// integer back gives the text itself, so it may be kept as the integer alone.
inline bool plainInteger(std::string_view s, int64_t& out) {
    const bool negative = !s.empty() && s[0] == '-';
    if (negative) s.remove_prefix(1);
    if (s.empty() || s.size() > 15 || (s[0] == '0' && (s.size() > 1 || negative))) return false;
    int64_t n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    out = negative ? -n : n;
    return true;
}
// The integers plainInteger reads: magnitude below 10^15.
inline constexpr int64_t kPlainIntegerLimit = 1'000'000'000'000'000;
inline bool inPlainRange(int64_t v) {
    return v > -kPlainIntegerLimit && v < kPlainIntegerLimit;
}

} // namespace nv
