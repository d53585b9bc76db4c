// The layout built into the program, used when it is built without the component stream
// reader: the file is not read and the window gets the layout "terminal.res" describes.
#include "serial/terminallayout.h"

namespace nv::serial {

bool loadTerminalLayout(const std::string&, TerminalLayout& out, std::string&) {
    out = TerminalLayout{};
    return true;
}

} // namespace nv::serial
