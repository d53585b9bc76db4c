#include "base/ascii.h"

namespace nv {

std::string_view trimView(std::string_view s) {
    auto trimmed = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    size_t b = 0, e = s.size();
    while (b < e && trimmed(s[b]))
        ++b;
    while (e > b && trimmed(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAsciiChar(a[i]) != lowerAsciiChar(b[i])) return false;
    return true;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && equalsNoCase(s.substr(0, prefix.size()), prefix);
}

std::string lowerAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = lowerAsciiChar(c);
    return r;
}

std::string upperAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = upperAsciiChar(c);
    return r;
}

} // namespace nv
