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

} // namespace nv
