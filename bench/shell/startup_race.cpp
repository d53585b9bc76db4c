// Start-up races against the tools a bench user would pick instead, each side a separate
// process, in interleaved pairs, medians of each side:
//   startup: norvane-run on a one-line script against python3 on the same line, both printing
//            one line; CPU and wall time from fork to exit (goal: at or below python3's);
//            then the same line in a script that names a subsystem, which norvane-run hands
//            to the full runner with Qt (for information: what a serial, TCP or rack script
//            pays before its first line);
//   map:     from fork to the first MapNotify of a new top-level window (what the user sees,
//            not what main() sees), the norvane window against wish showing a comparable one
//            (a menu bar, an editor and a log pane); wall time, and the CPU the process had
//            used by then (goal: within 1.3x of wish's time). Needs an X display (xvfb-run -a).
// The programs are the ones beside bench_shell (the build folder).
#include "startup_race.h"

#include <X11/Xlib.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench/support/processcpu.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    double wallMs = 0, cpuMs = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

pid_t spawn(const std::vector<std::string>& argv) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

// From fork to exit.
Sample runToExit(const std::vector<std::string>& argv) {
    const auto t0 = Clock::now();
    const pid_t pid = spawn(argv);
    int status = 0;
    rusage u{};
    ::wait4(pid, &status, 0, &u);
    Sample s;
    s.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    s.cpuMs = (double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 +
               double(u.ru_utime.tv_usec + u.ru_stime.tv_usec)) /
              1e3;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "startup race: %s did not end with 0\n", argv[0].c_str());
    return s;
}

// The CPU every thread of a running process has used so far, in milliseconds.
double cpuSoFarMs(pid_t pid) {
    return nvbench::processCpuSeconds(pid) * 1e3;
}

// From fork to the first MapNotify of a top-level window; the process is then killed.
Sample runToMap(Display* d, const std::vector<std::string>& argv) {
    const Window root = DefaultRootWindow(d);
    XSelectInput(d, root, SubstructureNotifyMask);
    XSync(d, True); // drops what came before
    Sample s;
    const auto t0 = Clock::now();
    const pid_t pid = spawn(argv);
    pollfd p{ConnectionNumber(d), POLLIN, 0};
    for (bool mapped = false; !mapped;) {
        while (!mapped && XPending(d) > 0) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type == MapNotify && e.xmap.event == root && !e.xmap.override_redirect) {
                s.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
                s.cpuMs = cpuSoFarMs(pid);
                mapped = true;
            }
        }
        if (mapped) break;
        if (::poll(&p, 1, 30000) <= 0) {
            std::fprintf(stderr, "startup race: %s mapped no window in 30 s\n", argv[0].c_str());
            break;
        }
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    XSelectInput(d, root, NoEventMask);
    return s;
}

const char* verdict(bool ok) {
    return ok ? "ok" : "MISSED";
}

std::string besideThis(const char* argv0, const char* name) {
    std::string self = argv0;
    const size_t slash = self.rfind('/');
    return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/" + name;
}

} // namespace

int startupRace(const char* argv0, const std::string& which, int pairs) {
    char dirTemplate[] = "/tmp/norvane_startup_XXXXXX";
    if (!::mkdtemp(dirTemplate)) return 1;
    const std::string dir = dirTemplate;
    // The window program's settings and recent files from a folder of this run's own.
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    std::ofstream(dir + "/one.nvs") << "writelog(1)\n";
    std::ofstream(dir + "/one.py") << "print(1)\n";
    std::ofstream(dir + "/full.nvs") << "# with a port: openport\nwritelog(1)\n";
    std::ofstream(dir + "/window.tcl")
        << "wm title . {Untitled - Norvane}\n"
           "menu .m\n. configure -menu .m\n"
           "foreach x {File Edit Script Options Help} {set m .m.[string tolower $x]; "
           ".m add cascade -label $x -menu $m; menu $m}\n"
           "text .t -width 100 -height 30\ntext .l -width 100 -height 8\n"
           "pack .t .l -fill both -expand 1\n";
    std::printf("%d interleaved pairs, medians\n", pairs);
    if (which.empty() || which == "startup") {
        const std::vector<std::string> norvane = {besideThis(argv0, "norvane-run"),
                                                  dir + "/one.nvs"};
        // The system's python3, not a version manager's wrapper script found first on PATH.
        const std::string py = ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3"
                                                                       : "python3";
        const std::vector<std::string> python = {py, dir + "/one.py"};
        // Medians of interleaved pairs against python3: wall and CPU of each side.
        struct Medians {
            double wall, cpu, pyWall, pyCpu;
        };
        const auto race = [&](const std::vector<std::string>& argv) {
            std::vector<double> nw, nc, pw, pc;
            for (int i = 0; i < pairs; ++i) {
                const Sample n = runToExit(argv), p = runToExit(python);
                nw.push_back(n.wallMs);
                nc.push_back(n.cpuMs);
                pw.push_back(p.wallMs);
                pc.push_back(p.cpuMs);
            }
            return Medians{median(nw), median(nc), median(pw), median(pc)};
        };
        const Medians plain = race(norvane);
        const bool ok = plain.cpu <= plain.pyCpu && plain.wall <= plain.pyWall;
        std::printf("one-line script: norvane-run %.1f ms wall, %.1f ms CPU; python3 %.1f ms "
                    "wall, %.1f ms CPU: %.2fx the wall, %.2fx the CPU (<= 1.0) %s\n",
                    plain.wall, plain.cpu, plain.pyWall, plain.pyCpu, plain.wall / plain.pyWall,
                    plain.cpu / plain.pyCpu, verdict(ok));
        const Medians full = race({norvane[0], dir + "/full.nvs"});
        std::printf("the same naming a subsystem (full runner, Qt): norvane-run %.1f ms wall, "
                    "%.1f ms CPU; python3 %.1f ms wall, %.1f ms CPU: %.2fx the wall, %.2fx the "
                    "CPU (for information)\n",
                    full.wall, full.cpu, full.pyWall, full.pyCpu, full.wall / full.pyWall,
                    full.cpu / full.pyCpu);
    }
    if (which.empty() || which == "map") {
        Display* d = XOpenDisplay(nullptr);
        if (!d) {
            std::printf("window mapped: no X display (run under xvfb-run -a)\n");
        } else {
            const std::vector<std::string> norvane = {besideThis(argv0, "norvane")};
            const std::vector<std::string> wish = {"wish", dir + "/window.tcl"};
            std::vector<double> nw, nc, ww, wc;
            for (int i = 0; i < pairs; ++i) {
                const Sample n = runToMap(d, norvane), w = runToMap(d, wish);
                nw.push_back(n.wallMs);
                nc.push_back(n.cpuMs);
                ww.push_back(w.wallMs);
                wc.push_back(w.cpuMs);
            }
            const double ratio = median(nw) / median(ww);
            std::printf("window mapped from fork: norvane %.1f ms (%.1f ms CPU), wish %.1f ms "
                        "(%.1f ms CPU): %.2fx (<= 1.3) %s\n",
                        median(nw), median(nc), median(ww), median(wc), ratio,
                        verdict(ratio <= 1.3));
            XCloseDisplay(d);
        }
    }
    std::filesystem::remove_all(dir);
    return 0;
}
