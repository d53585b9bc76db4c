// Where each line of a prepared program came from. Preparing a run brings the text of
// `include` files in front of the editor's lines and frames everything in `begin`/`end`, so a
// program line's index (the one `writelog` shows after "from line") is not the editor's line
// number. LineOrigins follows every include as it is made and answers, for any program line,
// which source it came from and which editor line stands for it: the line itself, or the
// `include` line that brought the file in.
//
// Threading: none of its own; used on the thread that prepares the run. Errors: an index
// outside the program gives the frame's answer (no source, editor line -1); nothing throws.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nv {

struct SourceLine {
    std::string file;    // the included file as named; empty: the editor's text
    int line = -1;       // 0-based line in that source; -1: a frame line (`begin`, `end`)
    int editorLine = -1; // 0-based editor line that stands for it; -1: none
};

class LineOrigins {
  public:
    // The editor's own lines, before any include.
    void reset(size_t editorLines);
    // `text` (the included file's content) was put in front of `before`, the program as it
    // stood, and the result split into lines again; `editorLine` is the include line.
    void include(const std::string& file, int editorLine, std::string_view text,
                 const std::vector<std::string>& before);
    // `begin` in front and `end` behind.
    void frame();

    SourceLine at(int index) const;
    // Only the editor line (cheap: no file name copied).
    int editorLine(int index) const;
    size_t size() const { return lines_.size(); }

  private:
    struct Origin {
        int source = -1; // index into files_; -1: a frame line
        int line = -1;
    };
    // files_[0] is the editor; the others are included files with the editor line that
    // included them.
    struct Source {
        std::string file;
        int editorLine = -1;
    };
    std::vector<Source> files_;
    std::vector<Origin> lines_;
};

} // namespace nv
