// ASCII trimming and letter case: the one trimming rule, and the one rule for names that ignore
// case: variable and procedure names, settings-file sections and keys, rack property names, port
// names. Only A-Z and a-z are folded; every other byte compares as it is, so names in any encoding
// stay distinct.
//
// Pure functions, any thread; they do not fail.
#pragma once

#include <string>
#include <string_view>

namespace nv {

inline char lowerAsciiChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
inline char upperAsciiChar(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Removes characters of code 0..32 (blanks, tabs, line ends, control bytes) at both ends:
// how script lines, settings-file lines and names are trimmed everywhere.
std::string_view trimView(std::string_view s);

bool equalsNoCase(std::string_view a, std::string_view b);
bool startsWithNoCase(std::string_view s, std::string_view prefix);
std::string lowerAscii(std::string_view s);
std::string upperAscii(std::string_view s);

} // namespace nv
