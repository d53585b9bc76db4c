// Line syntax shared by every statement, command and function: trimming, the compact
// form, the call form `name(arg, ...)`, and the splitting of a text into lines.
//
// Values are byte strings: nothing here decodes text, and every byte (zero and 0x80..0xFF
// included) passes through unchanged. All functions are pure and thread-agnostic.
// Errors: none are raised; malformed input gets the documented result (SplitCall with
// parentheses that do not balance ends and returns the arguments it found).
#pragma once

#include "base/ascii.h"

#include <string>
#include <string_view>
#include <vector>

namespace nv {

inline std::string trim(std::string_view s) {
    return std::string(trimView(s));
}

// Trimmed text with every blank and tab outside double quotes removed.
std::string compact(std::string_view s);

// Splits `name(arg, ...)` at top-level commas. Returns false when the text holds no `(`;
// then `name` is left as it was and `args` is empty. Arguments are trimmed and keep their
// quotes. Text after the last `)` is ignored.
bool splitCall(std::string_view text, std::string& name, std::vector<std::string>& args);

// Splits a text into lines the way the editor does: at CR LF, LF or a lone CR; a final
// line break adds no empty line.
std::vector<std::string> splitLines(std::string_view text);
// Joins lines with LF.
std::string joinLines(const std::vector<std::string>& lines);

inline bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

} // namespace nv
