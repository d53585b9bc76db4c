// Whether the window system that Qt is about to be started on answers. Qt ends the process
// with abort() when its platform cannot connect to the display (DISPLAY or WAYLAND_DISPLAY set
// under ssh, cron or a CI runner, but nothing behind it), so both programs ask first, before
// the application object exists: norvane-run then runs on the offscreen platform, the window
// program says it has no display and ends.
//
// Threading: call from main() before any thread or the application object exists. Errors:
// nothing throws; a display that cannot be asked counts as not reachable.
#pragma once

#include <string>

namespace nv {

struct DisplayCheck {
    // False when the chosen platform draws without a display (QT_QPA_PLATFORM=offscreen,
    // vnc, eglfs ...): there is nothing to check then.
    bool needed = false;
    bool reachable = false;
    // True when the environment asks for a display: DISPLAY or WAYLAND_DISPLAY is set, or
    // QT_QPA_PLATFORM names xcb or wayland.
    bool asked = false;
    // What the environment names, for a message: "DISPLAY=:987", or that nothing is named.
    std::string named;
};

DisplayCheck checkDisplay();

} // namespace nv
