#include "engine/lineorigins.h"

#include <algorithm>

namespace nv {

namespace {

// Start offsets of the lines splitLines makes of `text` (same line-end rules: CR, LF, CR LF;
// no line after a final line end).
std::vector<size_t> lineStarts(std::string_view text) {
    std::vector<size_t> starts;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            starts.push_back(start);
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < text.size()) starts.push_back(start);
    return starts;
}

} // namespace

void LineOrigins::reset(size_t editorLines) {
    files_.assign(1, Source{});
    lines_.resize(editorLines);
    for (size_t i = 0; i < editorLines; ++i)
        lines_[i] = Origin{0, static_cast<int>(i)};
}

void LineOrigins::include(const std::string& file, int editorLine, std::string_view text,
                          const std::vector<std::string>& before) {
    const int source = static_cast<int>(files_.size());
    files_.push_back(Source{file, editorLine});
    // The new program is the split of text + the old lines joined by LF. Its line starts
    // tell each new line's origin: a start inside `text` is that file's line; a start in
    // the joined part falls in one old line, whose origin it keeps. A file without a final
    // line end joins its last line to the first old line: that line counts as the file's.
    std::string joined(text);
    std::vector<size_t> oldStarts;
    oldStarts.reserve(before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        if (i) joined += '\n';
        oldStarts.push_back(joined.size() - text.size());
        joined += before[i];
    }
    const std::vector<size_t> starts = lineStarts(joined);
    std::vector<Origin> next(starts.size());
    for (size_t i = 0; i < starts.size(); ++i) {
        if (starts[i] < text.size()) {
            next[i] = Origin{source, static_cast<int>(i)};
            continue;
        }
        const size_t at = starts[i] - text.size();
        const auto it = std::upper_bound(oldStarts.begin(), oldStarts.end(), at);
        const size_t old =
            it == oldStarts.begin() ? 0 : static_cast<size_t>(it - oldStarts.begin()) - 1;
        next[i] = old < lines_.size() ? lines_[old] : Origin{};
    }
    lines_ = std::move(next);
}

void LineOrigins::frame() {
    lines_.insert(lines_.begin(), Origin{});
    lines_.push_back(Origin{});
}

SourceLine LineOrigins::at(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= lines_.size()) return {};
    const Origin& o = lines_[static_cast<size_t>(index)];
    if (o.source < 0) return {};
    const Source& s = files_[static_cast<size_t>(o.source)];
    return SourceLine{s.file, o.line, o.source == 0 ? o.line : s.editorLine};
}

int LineOrigins::editorLine(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= lines_.size()) return -1;
    const Origin& o = lines_[static_cast<size_t>(index)];
    if (o.source < 0) return -1;
    return o.source == 0 ? o.line : files_[static_cast<size_t>(o.source)].editorLine;
}

} // namespace nv
