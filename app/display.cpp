#include "app/display.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QLibraryInfo>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace nv {

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// The X server answers, authorisation included. libxcb is the library Qt's own X11 platform
// connects through; it is loaded here only for this question, so the program needs no build
// dependency of its own, and where it is missing Qt could not reach an X server either.
bool xServerAnswers(const std::string& display) {
    void* lib = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return false;
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(dlsym(lib, "xcb_connect"));
    const auto hasError = reinterpret_cast<HasError>(dlsym(lib, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(dlsym(lib, "xcb_disconnect"));
    bool ok = false;
    if (connect && hasError && disconnect) {
        int screen = 0;
        // A failed connect still returns an object (in the error state) that must be freed.
        if (void* c = connect(display.c_str(), &screen)) {
            ok = hasError(c) == 0;
            disconnect(c);
        }
    }
    dlclose(lib);
    return ok;
}

// A Wayland compositor listens on a socket named by WAYLAND_DISPLAY, a path of its own or a
// name in XDG_RUNTIME_DIR. Only useful to Qt when its Wayland platform is installed.
bool waylandAnswers(const std::string& name) {
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                         QStringLiteral("/platforms"));
    if (platforms.entryList({QStringLiteral("libqwayland*")}, QDir::Files).isEmpty()) return false;
    std::string path = name;
    if (path.front() != '/') {
        const std::string runtime = env("XDG_RUNTIME_DIR");
        if (runtime.empty()) return false;
        path = runtime + "/" + name;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

} // namespace

DisplayCheck checkDisplay() {
    // The platforms Qt will try: those QT_QPA_PLATFORM lists (each may carry ":options"),
    // else its default, which may be either of the two.
    bool x11 = true, wayland = true;
    const std::string chosen = env("QT_QPA_PLATFORM");
    if (!chosen.empty()) {
        x11 = wayland = false;
        size_t at = 0;
        while (at <= chosen.size()) {
            size_t end = chosen.find(';', at);
            if (end == std::string::npos) end = chosen.size();
            const std::string_view item = std::string_view(chosen).substr(at, end - at);
            const std::string_view platform = item.substr(0, item.find(':'));
            if (platform == "xcb")
                x11 = true;
            else if (platform.starts_with("wayland"))
                wayland = true;
            else if (!platform.empty())
                return {}; // a platform that needs no display
            at = end + 1;
        }
    }
    DisplayCheck check;
    check.needed = true;
    const std::string display = x11 ? env("DISPLAY") : "";
    const std::string waylandDisplay = wayland ? env("WAYLAND_DISPLAY") : "";
    if (!display.empty()) check.named = "DISPLAY=" + display;
    if (!waylandDisplay.empty())
        check.named += (check.named.empty() ? "" : ", ") + ("WAYLAND_DISPLAY=" + waylandDisplay);
    check.asked = !check.named.empty() || !chosen.empty();
    if (check.named.empty()) check.named = "neither DISPLAY nor WAYLAND_DISPLAY is set";
    check.reachable = (!display.empty() && xServerAnswers(display)) ||
                      (!waylandDisplay.empty() && waylandAnswers(waylandDisplay));
    return check;
}

} // namespace nv
