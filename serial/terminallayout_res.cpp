// The layout read from "terminal.res" with the component stream reader.
#include "rackfile/componentstream.h"
#include "serial/terminallayout.h"

#include "base/limits.h"

namespace nv::serial {

namespace {

struct ScrollStyle {
    const char* ident;
    bool vertical, horizontal;
};
constexpr ScrollStyle kScrollStyles[] = {
    {"ssNone", false, false},
    {"ssVertical", true, false},
    {"ssHorizontal", false, true},
    {"ssBoth", true, true},
};

} // namespace

bool loadTerminalLayout(const std::string& path, TerminalLayout& out, std::string& error) {
    const rack::ReadResult r = rack::readFile(path);
    if (!r.ok) {
        error = path + ": " + r.message();
        return false;
    }
    const rack::Component& form = r.doc.root;
    const rack::Component* memo = form.find("Memo1");
    if (!memo) {
        error = path + ": no Memo1";
        return false;
    }
    TerminalLayout l;
    if (auto v = rack::intProperty(form, "ClientWidth")) l.clientWidth = static_cast<int>(*v);
    if (auto v = rack::intProperty(form, "ClientHeight")) l.clientHeight = static_cast<int>(*v);
    if (auto v = rack::identProperty(form, "BorderStyle"))
        l.sizeable = *v == "bsSizeable" || *v == "bsSizeToolWin";
    if (auto v = rack::colorProperty(*memo, "Color")) l.memoColor = *v;
    if (auto v = rack::colorProperty(*memo, "Font.Color")) l.memoFontColor = *v;
    if (auto v = rack::textProperty(*memo, "Font.Name")) l.memoFontName = *v;
    if (auto v = rack::pixelSizeProperty(*memo, "Font.Height", limits::kMaxFontPixels))
        l.memoFontPixels = *v;
    if (auto v = rack::identProperty(*memo, "ScrollBars")) {
        for (const auto& s : kScrollStyles)
            if (*v == s.ident) {
                l.verticalScrollBar = s.vertical;
                l.horizontalScrollBar = s.horizontal;
            }
    }
    out = l;
    return true;
}

} // namespace nv::serial
