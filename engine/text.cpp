#include "engine/text.h"

#include <algorithm>

namespace nv {

std::string compact(std::string_view s) {
    s = trimView(s);
    std::string out;
    out.reserve(s.size());
    bool inQuotes = false;
    for (char c : s) {
        if (c == '"')
            inQuotes = !inQuotes;
        else if (!inQuotes && (c == ' ' || c == '\t'))
            continue;
        out += c;
    }
    return out;
}

// The walk goes backwards from the last `)`, one argument per round, so that commas inside
// quotes or balanced parentheses never split. Positions follow the written algorithm
// (1-based, position 0 unused). Each round resumes where the previous one stopped and the
// arguments are collected last first and turned round once at the end, so a line with
// hundreds of thousands of arguments splits in linear time.
bool splitCall(std::string_view text, std::string& name, std::vector<std::string>& args) {
    args.clear();
    const size_t open = text.find('(');
    if (open == std::string_view::npos) return false;
    name = trim(text.substr(0, open));
    std::string_view rest = trimView(text.substr(open + 1));

    auto at = [&](size_t k) { return rest[k - 1]; }; // 1-based
    size_t end = rest.rfind(')');
    end = end == std::string_view::npos ? 0 : end + 1;
    bool inQuotes = false;
    while (end > 0) {
        int opens = 0, closes = 0;
        bool split = false;
        for (size_t k = end - 1; k >= 1; --k) {
            const char c = at(k);
            if (c == '"') inQuotes = !inQuotes;
            if (!inQuotes) {
                if (c == '(')
                    ++opens;
                else if (c == ')')
                    ++closes;
            }
            if (!inQuotes && (c == ',' || k == 1) && opens == closes) {
                if (k == 1) {
                    args.push_back(trim(rest.substr(0, end - 1)));
                    rest = {};
                } else {
                    args.push_back(trim(rest.substr(k, end - 1 - k)));
                    rest = rest.substr(0, k);
                }
                split = true;
                break;
            }
        }
        // Parentheses that do not balance leave no split point; walking the same rest again
        // would never end, so the split ends with the arguments found so far.
        if (!split) break;
        const size_t comma = rest.rfind(',');
        end = comma == std::string_view::npos ? 0 : comma + 1;
    }
    std::reverse(args.begin(), args.end());
    return true;
}

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            lines.emplace_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    size_t n = 0;
    for (const auto& l : lines)
        n += l.size() + 1;
    out.reserve(n);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) out += '\n';
        out += lines[i];
    }
    return out;
}

} // namespace nv
