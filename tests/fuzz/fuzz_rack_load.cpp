// libFuzzer entry for rack files loaded end to end: the input is written to a file, loaded
// into a rack window with the real instruments (offscreen, one application for the whole
// run), saved, the saved file loaded again and saved again, and the window painted into an
// image. Whatever loads
// must save, and what it saved must load; a broken promise aborts. Build with clang and
// -DNORVANE_FUZZ=ON, then run
//   ASAN_OPTIONS=detect_leaks=0 build-fuzz/fuzz_rack_load -max_total_time=300 -rss_limit_mb=2048
//   CORPUS_DIR
// Without libFuzzer the same entry runs as fuzz_rack_load_replay over the files it is given.
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "rack/rackwindow.h"

namespace {

void require(bool promise, const char* what, const std::string& error) {
    if (promise) return;
    std::fprintf(stderr, "%s: %s\n", what, error.c_str());
    std::abort();
}

struct Session {
    int argc = 1;
    char name[16] = "fuzz_rack_load";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
    std::string in, out;
    int x = 0, y = 0;
    std::unique_ptr<nv::rack::RackWindow> window;
    QImage image{640, 480, QImage::Format_ARGB32_Premultiplied};

    Session() {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QApplication>(argc, argv);
        const std::string base = "/tmp/fuzz_rack_load_" + std::to_string(getpid());
        in = base + ".in.res";
        out = base + ".out.res";
        window = std::make_unique<nv::rack::RackWindow>(x, y);
    }
};

// Never destroyed: Qt's own global objects made during the first load are torn down at exit
// before any static made earlier, and the window's controls must not outlive them.
Session& session() {
    static Session* s = new Session;
    return *s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Session& s = session();
    {
        std::ofstream f(s.in, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::string error;
    if (s.window->load(s.in, error)) {
        require(s.window->save(s.out, error), "saving what loaded", error);
        require(s.window->load(s.out, error), "loading what was saved", error);
        // Loaded over itself, the root may take a new name: it must still be one a file holds.
        require(s.window->save(s.out, error), "saving what was saved and loaded", error);
        // Paints every control in the window's top left corner with what the file set.
        s.image.fill(0);
        s.window->render(&s.image);
    }
    std::remove(s.in.c_str());
    std::remove(s.out.c_str());
    // Deferred deletions of the replaced controls happen here, as between a program's lines.
    QCoreApplication::processEvents();
    return 0;
}
