// Interpreter speed: executed lines per second of a counting loop and the start-up of a
// 10,000-line script, measured three ways so the per-line cost can be split up:
//   - in process with a host whose event pass does nothing (the interpreter alone),
//   - in process with the yield but no event pass,
//   - through norvane-run (the real event pass and the yield), as a user runs it.
// Also the time of two lines whose calls have 300,000 arguments (splitting must be linear).
// Usage: bench_engine [path/to/norvane-run] [passes]
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "engine/host.h"
#include "engine/runcontrol.h"
#include "engine/runtime.h"
#include "engine/text.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct NullHost : nv::ScriptHost {
    void processEvents() override {}
    int logLineCount() const override { return 0; }
    void clearLog() override {}
    void appendLog(std::string_view) override {}
};

std::string loopScript(long passes) {
    return "x = 0\nfor (i, 1, " + std::to_string(passes) + ", 1)\nx = x + 1\nnext\n";
}

// One command line and one function call with `n` arguments each: splitting a call must
// stay linear in the length of the line (the window is frozen while one line runs).
std::string wideCallScript(int n) {
    std::string args;
    args.reserve(size_t(n) * 8);
    for (int i = 0; i < n; ++i) {
        if (i) args += ", ";
        args += std::to_string(i);
    }
    return "writelog(" + args + ")\nx = len(" + args + ")\n";
}

std::string longScript() {
    std::string s = "x = 1\n";
    for (int i = 0; i < 10000; ++i)
        s += "# line " + std::to_string(i) + "\n";
    return s;
}

double inProcess(const std::string& script) {
    NullHost host;
    nv::Runtime rt(host);
    nv::RunControl rc(rt);
    const auto t0 = Clock::now();
    rc.run(nv::splitLines(script));
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double viaRunner(const std::string& runner, const std::string& script) {
    const std::string path = "/tmp/norvane_bench_" + std::to_string(getpid()) + ".nvs";
    std::ofstream(path) << script;
    std::string a0 = runner, a1 = path;
    char* argv[] = {a0.data(), a1.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", 1, 0);
    const auto t0 = Clock::now();
    pid_t pid;
    if (posix_spawn(&pid, runner.c_str(), &fa, nullptr, argv, environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    int status;
    waitpid(pid, &status, 0);
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    posix_spawn_file_actions_destroy(&fa);
    std::remove(path.c_str());
    return secs;
}

} // namespace

int main(int argc, char** argv) {
    std::string runner = argc > 1 ? argv[1] : "";
    if (runner.empty()) {
        std::string self = argv[0];
        runner = self.substr(0, self.rfind('/') + 1) + "norvane-run";
    }
    const long passes = argc > 2 ? std::atol(argv[2]) : 1000000;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    const double interp = inProcess(loopScript(passes));
    std::printf("interpreter alone (no event pass): %8.0f lines/s  (%.3f us/line)\n",
                passes / interp, interp * 1e6 / passes);

    const double wide = inProcess(wideCallScript(300000));
    std::printf("two lines of 300,000 arguments:    %8.1f ms\n", wide * 1e3);

    const double empty = viaRunner(runner, "");
    const double run = viaRunner(runner, loopScript(passes)) - empty;
    std::printf("norvane-run, event pass + yield:   %8.0f lines/s  (%.3f us/line)\n", passes / run,
                run * 1e6 / passes);
    std::printf("norvane-run with an empty script:  %8.1f ms\n", empty * 1e3);
    const double longRun = viaRunner(runner, longScript());
    std::printf("norvane-run, 10,000-line script:   %8.1f ms in all (%.1f ms over empty)\n",
                longRun * 1e3, (longRun - empty) * 1e3);
    return 0;
}
