// The words and characters of the rack text form, shared by its reader and writer: which
// bytes make an identifier, the reserved words, UTF-8 sequences and exact real parsing.
// Internal to rackfile/. Plain functions; nothing here fails or throws.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <system_error>

#include "base/ascii.h"

namespace nv::rack::textform {

inline bool identStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
inline bool identChar(char c) {
    return identStart(c) || (c >= '0' && c <= '9');
}
inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
inline bool isHex(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
inline int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    return (c | 0x20) - 'a' + 10;
}

// Dotted identifiers: Font.Color, Form1.Button1Click.
inline bool isIdentifier(std::string_view s) {
    bool atStart = true;
    for (char c : s) {
        if (atStart) {
            if (!identStart(c)) return false;
            atStart = false;
        } else if (c == '.') {
            atStart = true;
        } else if (!identChar(c)) {
            return false;
        }
    }
    return !atStart;
}

inline bool isOneOf(std::string_view s, std::initializer_list<std::string_view> words) {
    for (std::string_view w : words)
        if (equalsNoCase(s, w)) return true;
    return false;
}

inline bool isComponentKeyword(std::string_view s) {
    return isOneOf(s, {"object", "inherited", "inline"});
}

// Bare words that never read back as an identifier value.
inline bool isReservedValueWord(std::string_view s) {
    return isOneOf(s, {"True", "False", "nil", "end", "object", "inherited", "inline"});
}

inline std::string hexBytes(std::string_view b) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (char ch : b) {
        auto u = static_cast<std::uint8_t>(ch);
        s += digits[u >> 4];
        s += digits[u & 15];
    }
    return s;
}

// Length of the valid UTF-8 sequence (of two or more bytes) at s[i], or 0.
inline std::size_t utf8Sequence(std::string_view s, std::size_t i, std::uint32_t* cpOut = nullptr) {
    auto b = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    std::uint8_t c = b(i);
    std::size_t n;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, cp = c & 0x07;
    else
        return 0;
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    static const std::uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return 0;
    if (cpOut) *cpOut = cp;
    return n;
}

template <class T> inline std::errc readReal(std::string_view text, T& out) {
    auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    if (r.ec == std::errc() && r.ptr != text.data() + text.size())
        return std::errc::invalid_argument;
    return r.ec;
}

} // namespace nv::rack::textform
