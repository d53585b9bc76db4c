// norvane-run: runs one script file exactly as the Run command would, with no window, and
// writes every log line to standard output as it is added.
#include <QApplication>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "app/runner_host.h"
#include "app/stopsignals.h"
#include "base/files.h"
#include "engine/runcontrol.h"
#include "engine/runtime.h"
#include "engine/text.h"
#include "wiring/subsystems.h"

namespace {

constexpr int kExitFinished = 0, kExitRefused = 1, kExitFatal = 2, kExitUsage = 64;

const char* kHelp =
    "Usage: norvane-run SCRIPT\n"
    "\n"
    "Runs one Norvane script without a window, exactly as the Run command of the editor\n"
    "would: the blocks are validated, the start line is logged, the script runs, and the\n"
    "finish line is logged. Every line that the log pane would receive is written to\n"
    "standard output as it is added.\n"
    "\n"
    "  - In debug mode (debugon) each \"Next line to execute: \" line is written and the\n"
    "    line is released at once.\n"
    "  - inputbox reads its answer as one line from standard input; at the end of input\n"
    "    it takes the default.\n"
    "  - setport shows no dialog: it stores nothing, as if the dialog were closed.\n"
    "  - Serial ports are mapped to devices by the [ports] section of norvane.ini or by\n"
    "    NORVANE_PORTS, for example NORVANE_PORTS='com1=/dev/ttyUSB0;com2=/dev/pts/5'.\n"
    "\n"
    "Exit status:\n"
    "     0  the run finished (also after a script error, which never ends a run)\n"
    "     1  block validation refused the script; nothing ran\n"
    "     2  a fatal error ended the run (also when memory ran out)\n"
    "    64  bad command line, or the script file cannot be read (also when it is\n"
    "        larger than the memory the program may use)\n"
    " 128+N  signal N ended the run (SIGTERM 143, SIGINT 130, SIGHUP 129): the run\n"
    "        stopped as by the Stop command and finished; a second signal ends at once\n";

bool haveDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

int runScript(int& argc, char** argv, const std::string& text) {
    // No display: the windows that subsystems create (terminal windows, the rack) live on
    // the offscreen platform.
    if (!std::getenv("QT_QPA_PLATFORM") && !haveDisplay())
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt wants a private runtime folder and complains on standard error without one; a cron
    // job or CI step usually has none.
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        const std::string dir = "/tmp/norvane-runtime-" + std::to_string(getuid());
        mkdir(dir.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    }
    // The script passes over the event queue once per line; Qt's own event dispatcher does
    // that in about half the time of the GLib one, and the runner needs nothing from GLib.
    setenv("QT_NO_GLIB", "1", 0);
    QApplication app(argc, argv);
    QApplication::setApplicationName("norvane");

    nv::RunnerHost host;
    host.setEditorText(text);
    nv::Runtime rt(host);
    nv::Subsystems subsystems(rt, nullptr);
    nv::RunControl rc(rt);
    host.setRunControl(&rc);

    // SIGTERM, SIGINT and SIGHUP stop the run as the Stop command does; the status then
    // tells that a signal ended it, so that a time-out is never read as success.
    nv::StopSignals stopSignals({SIGTERM, SIGINT, SIGHUP}, [&rc] { rc.stop(); });
    const nv::RunOutcome outcome = rc.run(nv::splitLines(text));
    if (const int sig = nv::StopSignals::received()) return 128 + sig;
    switch (outcome) {
    case nv::RunOutcome::Refused:
        return kExitRefused;
    case nv::RunOutcome::Fatal:
        return kExitFatal;
    default:
        return kExitFinished;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kHelp, stdout);
        return kExitFinished;
    }
    if (argc != 2 || argv[1][0] == '\0') {
        std::fputs("norvane-run: expected one script file (see norvane-run --help)\n", stderr);
        return kExitUsage;
    }
    std::string text, why;
    if (!nv::readFile(argv[1], text, why)) {
        std::fprintf(stderr, "norvane-run: cannot read %s: %s\n", argv[1], why.c_str());
        return kExitUsage;
    }

    try {
        return runScript(argc, argv, text);
    } catch (const std::bad_alloc&) {
        // The run itself reports its own failures; this is a failure around it (the
        // program's text split into lines, the windows set up) with no memory left.
        std::fputs("norvane-run: not enough memory\n", stderr);
        return kExitFatal;
    }
}
