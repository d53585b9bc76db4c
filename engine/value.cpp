#include "engine/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/text.h"

namespace nv {

namespace {

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The parts of a text read by the strict syntax. `end` is where reading stopped.
struct NumberParts {
    bool negative = false;
    std::string_view intDigits, fracDigits, expDigits;
    bool expNegative = false;
    size_t end = 0;
    bool complete = false; // the syntax was satisfied up to `end`
};

NumberParts scanNumber(std::string_view s) {
    NumberParts p;
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        p.negative = s[i] == '-';
        ++i;
        if (i >= s.size()) {
            p.end = i;
            return p;
        }
    }
    size_t b = i;
    while (i < s.size() && isDigit(s[i]))
        ++i;
    p.intDigits = s.substr(b, i - b);
    if (i < s.size() && s[i] == '.') {
        ++i;
        b = i;
        while (i < s.size() && isDigit(s[i]))
            ++i;
        p.fracDigits = s.substr(b, i - b);
    }
    p.complete = true;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
        size_t j = i + 1;
        bool neg = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) neg = s[j++] == '-';
        b = j;
        while (j < s.size() && isDigit(s[j]))
            ++j;
        if (j > b) {
            p.expDigits = s.substr(b, j - b);
            p.expNegative = neg;
            i = j;
        } else {
            p.complete = false; // `1e` or `1e-` is no number
            i = j;
        }
    }
    p.end = i;
    return p;
}

double partsValue(const NumberParts& p, bool& overflow) {
    overflow = false;
    double v;
    if (p.fracDigits.empty() && p.expDigits.empty() && p.intDigits.size() <= 15) {
        int64_t n = 0;
        for (char c : p.intDigits)
            n = n * 10 + (c - '0');
        v = static_cast<double>(n);
    } else {
        std::string t;
        t.reserve(p.intDigits.size() + p.fracDigits.size() + p.expDigits.size() + 5);
        t += p.intDigits.empty() ? std::string_view("0") : p.intDigits;
        t += '.';
        t += p.fracDigits.empty() ? std::string_view("0") : p.fracDigits;
        if (!p.expDigits.empty()) {
            t += 'e';
            if (p.expNegative) t += '-';
            t += p.expDigits;
        }
        v = 0;
        auto r = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
        if (r.ec == std::errc::result_out_of_range) {
            // Too small underflows to zero; too large is no number.
            if (p.expNegative)
                v = 0;
            else
                overflow = true;
        }
    }
    return p.negative ? -v : v;
}

} // namespace

bool isNumber(std::string_view text, double* value) {
    const std::string_view s = trimView(text);
    if (s.empty()) return false;
    const NumberParts p = scanNumber(s);
    if (!p.complete || p.end != s.size()) return false;
    bool overflow;
    const double v = partsValue(p, overflow);
    if (overflow) return false;
    if (value) *value = v;
    return true;
}

double lenientNumber(std::string_view text) {
    // The common case: a short unsigned integer written plainly.
    if (!text.empty() && text.size() <= 15) {
        int64_t n = 0;
        bool digits = true;
        for (char c : text) {
            if (!isDigit(c)) {
                digits = false;
                break;
            }
            n = n * 10 + (c - '0');
        }
        if (digits) return static_cast<double>(n);
    }
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    text.remove_prefix(i);
    if (text.empty()) return 0;
    double v;
    if (isNumber(text, &v)) return v;
    // Not a number as a whole: the digits met before the first misfit, as one number. They
    // are converted together, correctly rounded; adding them up one by one would lose
    // precision past 15 digits.
    const NumberParts p = scanNumber(text);
    const std::string_view read = text.substr(0, p.end);
    std::string digits;
    digits.reserve(read.size());
    for (char c : read)
        if (isDigit(c)) digits += c;
    if (digits.empty()) return 0;
    double n = 0;
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (r.ec == std::errc::result_out_of_range) return HUGE_VAL;
    return n;
}

bool parseInteger(std::string_view s, int32_t& out) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    int base = 10;
    if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) return false;
    uint64_t n = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        int d;
        if (isDigit(c))
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        n = n * base + d;
        if (n > 0xFFFFFFFFull) return false;
    }
    // Hexadecimal is a magnitude like decimal, not a 32-bit pattern: `$FFFFFFFF` does not fit.
    const auto v = static_cast<int64_t>(n);
    if (!neg && v > INT32_MAX) return false;
    if (neg && v > int64_t{INT32_MAX} + 1) return false;
    out = static_cast<int32_t>(neg ? -v : v);
    return true;
}

std::string formatInt(int64_t v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string formatNumber(double v) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
    if (v == 0) return "0";
    if (v == std::floor(v) && std::fabs(v) < 1e15) return formatInt(static_cast<int64_t>(v));

    // Round to 15 significant digits first; the notation follows the rounded exponent.
    char buf[40];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
    std::string_view sci(buf, r.ptr - buf);
    bool neg = false;
    if (sci[0] == '-') {
        neg = true;
        sci.remove_prefix(1);
    }
    const size_t epos = sci.find('e');
    std::string digits;
    digits += sci[0];
    digits += sci.substr(2, epos - 2);
    int exp = 0;
    std::from_chars(sci.data() + epos + (sci[epos + 1] == '+' ? 2 : 1), sci.data() + sci.size(),
                    exp);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string out;
    if (neg) out += '-';
    if (exp >= -5 && exp <= 14) {
        if (exp < 0) {
            out += "0.";
            out.append(static_cast<size_t>(-exp - 1), '0');
            out += digits;
        } else {
            const size_t intLen = static_cast<size_t>(exp) + 1;
            if (digits.size() <= intLen) {
                out += digits;
                out.append(intLen - digits.size(), '0');
            } else {
                out += digits.substr(0, intLen);
                out += '.';
                out += digits.substr(intLen);
            }
        }
    } else {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out += digits.substr(1);
        }
        out += 'E';
        out += std::to_string(exp);
    }
    return out;
}

} // namespace nv
