// Byte-level helpers shared by the binary and text forms of the component stream: little-
// endian packing, the 80-bit extended real of the file format (built from its fields, so it
// works whatever `long double` is on the host) and UTF-8 encoding of code points.
//
// Threading: pure functions. Errors: unpackExtended returns nullopt for an encoding with no
// finite value (infinity, NaN, the integer bit clear on a normal exponent); callers keep
// such values as raw bytes.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nv::rack {

inline std::string packLE(std::uint64_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

inline std::uint64_t unpackLE(std::string_view s) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < s.size() && i < 8; ++i)
        v |= std::uint64_t(static_cast<std::uint8_t>(s[i])) << (8 * i);
    return v;
}

// 80-bit layout: 64-bit significand with an explicit integer bit, then 15-bit exponent
// (bias 16383) and the sign bit.
inline std::optional<long double> unpackExtended(std::string_view b) {
    if (b.size() != 10) return std::nullopt;
    std::uint64_t mant = unpackLE(b.substr(0, 8));
    unsigned top = static_cast<std::uint8_t>(b[8]) | (static_cast<std::uint8_t>(b[9]) << 8);
    bool negative = top & 0x8000;
    int exp = static_cast<int>(top & 0x7FFF);
    long double v;
    if (exp == 0x7FFF) return std::nullopt;
    if (exp == 0) {
        v = std::ldexp(static_cast<long double>(mant), 1 - 16383 - 63);
    } else {
        if (!(mant >> 63)) return std::nullopt;
        v = std::ldexp(static_cast<long double>(mant), exp - 16383 - 63);
    }
    return negative ? -v : v;
}

inline std::string packExtended(long double v) {
    std::uint64_t mant = 0;
    unsigned top = std::signbit(v) ? 0x8000 : 0;
    long double a = std::fabs(v);
    if (std::isnan(v)) {
        top |= 0x7FFF;
        mant = 0xC000000000000000ull;
    } else if (std::isinf(v)) {
        top |= 0x7FFF;
        mant = 0x8000000000000000ull;
    } else if (a != 0) {
        int e = 0;
        long double m = std::frexp(a, &e); // a = m * 2^e, 0.5 <= m < 1
        int biased = e - 1 + 16383;
        if (biased >= 0x7FFF) {
            top |= 0x7FFF;
            mant = 0x8000000000000000ull;
        } else if (biased >= 1) {
            mant = static_cast<std::uint64_t>(std::ldexp(m, 64));
            top |= static_cast<unsigned>(biased);
        } else {
            mant = static_cast<std::uint64_t>(std::ldexp(a, 16383 + 62));
        }
    }
    return packLE(mant, 8) + packLE(top, 2);
}

inline void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace nv::rack
