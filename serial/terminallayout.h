// The terminal window's layout, taken from the layout file "terminal.res" in the program's
// folder (the component stream format of rack files): the client size, whether the border
// can be resized, and the colours, font and scroll bars of the pane Memo1.
//
// Threading: any thread (plain data and a file read). Error policy: loading returns false with
// a readable reason when the file is missing, unreadable or lacks Memo1; the caller decides
// what that means (a connection cannot be created without its window).
#pragma once

#include <cstdint>
#include <string>

namespace nv::serial {

struct TerminalLayout {
    int clientWidth = 246;
    int clientHeight = 124;
    bool sizeable = false;
    uint32_t memoColor = 0x000000;     // 0xRRGGBB
    uint32_t memoFontColor = 0x00FF00; // lime
    std::string memoFontName = "Terminal";
    int memoFontPixels = 0; // 0: the platform's default size
    bool verticalScrollBar = true;
    bool horizontalScrollBar = false;
};

bool loadTerminalLayout(const std::string& path, TerminalLayout& out, std::string& error);

} // namespace nv::serial
