// Interpreter speed: executed lines per second of a counting loop and the start-up of a
// 10,000-line script, measured two ways so the per-line cost can be split up:
//   - in process with a host whose event pass does nothing (the interpreter alone),
//   - through norvane-run (the real event passes), as a user runs it.
// Also the time of two lines whose calls have 300,000 arguments (splitting must be linear),
// and of checking a 10,000-line script (the editor re-checks after edits; goal under 50 ms).
//
// Then the same work written in the script language and in Tcl, each run by its own
// interpreter (norvane-run and tclsh) in this one run: a counting loop of 300,000 passes at
// the top level, a CRC-16 (Modbus) over the bytes 0..255 computed bit by bit, and a
// text-heavy loop (mid, pos and & over a 1 kB reply). Each figure is the median of several
// runs, each less the start-up of an empty script run just before it (on both sides); the
// ratio is Tcl's time over Norvane's, so 1.0 or more means Norvane is at least as fast. Both
// interpreters must print the same result, or the figures are not compared. Build Release.
//
// Usage: bench_engine [path/to/norvane-run] [passes] [runs]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/checker.h"
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

// A 10,000-line script of the usual mix (loops, conditions, calls, commands, a few traps),
// checked as the editor re-checks it after an edit: median time of several checks.
double checkLongScript(int runs, double& cpuTime) {
    static const char* kBlock[] = {
        "for (i, 1, 10, 1)",
        "x = mid(reply, i, 2) & \"-\"",
        "if (x == \"OK\")",
        "writelog(\"ok \" & i)",
        "elseif (n >> 3)",
        "send(\"com1\", x)",
        "else",
        "n = len(x) + pow(2, i)",
        "endif",
        "next",
        "repeat",
        "y = (a & b)",
        "until (y <> \"\")",
        "comopen(com1)",
        "# a comment",
        "while (k << 5)",
        "k = k + 1",
        "wend",
        "z = nosuchfunc(3)",
        "setportspeed = 9600",
    };
    std::vector<std::string> lines;
    while (lines.size() < 10000)
        for (const char* l : kBlock)
            lines.emplace_back(l);
    NullHost host;
    nv::Runtime rt(host);
    std::vector<double> times, cpu;
    size_t findings = 0;
    for (int r = 0; r < runs; ++r) {
        const auto t0 = Clock::now();
        const std::clock_t c0 = std::clock();
        findings = nv::checkScript(rt, lines).size();
        cpu.push_back(double(std::clock() - c0) / CLOCKS_PER_SEC);
        times.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    if (findings == 0) std::printf("(the check found nothing: the script is not read)\n");
    cpuTime = cpu[cpu.size() / 2];
    return times[times.size() / 2];
}

double inProcess(const std::string& script) {
    NullHost host;
    nv::Runtime rt(host);
    nv::RunControl rc(rt);
    const auto t0 = Clock::now();
    rc.run(nv::splitLines(script));
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Runs `program script` once with the script in a file; the seconds from start to exit.
// `output` (when given) receives what the program wrote to standard output.
double timedRun(const std::string& program, const std::string& script, const char* suffix,
                std::string* output = nullptr) {
    const std::string base = "/tmp/norvane_bench_" + std::to_string(getpid());
    const std::string path = base + suffix, outPath = base + ".stdout";
    std::ofstream(path) << script;
    std::string a0 = program, a1 = path;
    char* argv[] = {a0.data(), a1.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, output ? outPath.c_str() : "/dev/null",
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const auto t0 = Clock::now();
    pid_t pid;
    if (posix_spawnp(&pid, program.c_str(), &fa, nullptr, argv, environ) != 0) {
        std::perror(program.c_str());
        std::exit(1);
    }
    int status;
    waitpid(pid, &status, 0);
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    posix_spawn_file_actions_destroy(&fa);
    std::remove(path.c_str());
    if (output) {
        std::ifstream in(outPath);
        output->assign(std::istreambuf_iterator<char>(in), {});
        std::remove(outPath.c_str());
    }
    return secs;
}

double viaRunner(const std::string& runner, const std::string& script) {
    return timedRun(runner, script, ".nvs");
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The median over `runs` of (script run - empty-script run), each pair taken back to back so
// that a change of the machine's load between runs touches both sides of a difference.
double medianWork(const std::string& program, const std::string& script, const char* suffix,
                  int runs, std::string* output = nullptr) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const double empty = timedRun(program, "", suffix);
        t.push_back(timedRun(program, script, suffix, i == 0 ? output : nullptr) - empty);
    }
    return median(t);
}

double medianRun(const std::string& program, const std::string& script, const char* suffix,
                 int runs) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i)
        t.push_back(timedRun(program, script, suffix));
    return median(t);
}

// The same work in both languages, and the text each prints when it is done.
struct Race {
    const char* name;
    std::string norvane, tcl;
    std::string result; // printed by both (Norvane through writelog)
};

std::vector<Race> races(long passes) {
    const std::string n = std::to_string(passes);
    std::vector<Race> r;
    r.push_back({"loop x = x + 1", loopScript(passes) + "writelog(\"x \" & x)\n",
                 "set x 0\nfor {set i 1} {$i <= " + n +
                     "} {incr i} {set x [expr {$x + 1}]}\nputs \"x $x\"\n",
                 "x " + n});
    // The script language has no bit operators: the feedback bit and the XOR with 0xA001
    // go through get_bit, additions and subtractions. Expressions have no precedence, so
    // `crc - lsb / 2` is (crc - lsb) / 2, the shift right.
    r.push_back({"CRC-16 over 256 bytes x30",
                 "for (r, 1, 30, 1)\n"
                 "crc = 65535\n"
                 "for (n, 0, 255, 1)\n"
                 "for (k, 0, 7, 1)\n"
                 "lsb = get_bit(crc, 0)\n"
                 "bit = get_bit(n, k)\n"
                 "crc = crc - lsb / 2\n"
                 "if (lsb <> bit)\n"
                 "crc = crc + 32768\n"
                 "bit = get_bit(crc, 13)\n"
                 "if (bit == 1)\n"
                 "crc = crc - 8192\n"
                 "else\n"
                 "crc = crc + 8192\n"
                 "endif\n"
                 "bit = get_bit(crc, 0)\n"
                 "if (bit == 1)\n"
                 "crc = crc - 1\n"
                 "else\n"
                 "crc = crc + 1\n"
                 "endif\n"
                 "endif\n"
                 "next\n"
                 "next\n"
                 "next\n"
                 "writelog(\"crc \" & crc)\n",
                 "for {set r 1} {$r <= 30} {incr r} {\n"
                 "set crc 65535\n"
                 "for {set n 0} {$n <= 255} {incr n} {\n"
                 "for {set k 0} {$k <= 7} {incr k} {\n"
                 "set lsb [expr {$crc & 1}]\n"
                 "set crc [expr {$crc >> 1}]\n"
                 "if {$lsb != (($n >> $k) & 1)} {set crc [expr {$crc ^ 0xA001}]}\n"
                 "}\n"
                 "}\n"
                 "}\n"
                 "puts \"crc $crc\"\n",
                 "crc 56940"});
    r.push_back({"text: mid, pos, & over 1 kB x100",
                 "r = \"\"\n"
                 "for (i, 1, 100, 1)\n"
                 "r = r & \"0123456789\"\n"
                 "next\n"
                 "for (rep, 1, 100, 1)\n"
                 "out = \"\"\n"
                 "for (p, 1, 1000, 1)\n"
                 "c = mid(r, p, 1)\n"
                 "d = pos(c, \"0123456789\")\n"
                 "out = out & c\n"
                 "next\n"
                 "next\n"
                 "writelog(len(out) & \" \" & d)\n",
                 "set r [string repeat 0123456789 100]\n"
                 "for {set rep 1} {$rep <= 100} {incr rep} {\n"
                 "set out \"\"\n"
                 "for {set p 1} {$p <= 1000} {incr p} {\n"
                 "set c [string range $r [expr {$p - 1}] [expr {$p - 1}]]\n"
                 "set d [expr {[string first $c 0123456789] + 1}]\n"
                 "append out $c\n"
                 "}\n"
                 "}\n"
                 "puts \"[string length $out] $d\"\n",
                 "1000 10"});
    return r;
}

bool printed(const std::string& output, const std::string& result) {
    // norvane-run writes "time, from line N: text"; tclsh writes the text alone.
    for (const std::string& line : nv::splitLines(output)) {
        if (line == result) return true;
        const size_t colon = line.find(": ");
        if (colon != std::string::npos && line.substr(colon + 2) == result) return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    std::string runner = argc > 1 ? argv[1] : "";
    if (runner.empty()) {
        std::string self = argv[0];
        runner = self.substr(0, self.rfind('/') + 1) + "norvane-run";
    }
    const long passes = argc > 2 ? std::atol(argv[2]) : 1000000;
    const int runs = std::max(5, argc > 3 ? std::atoi(argv[3]) : 7);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    const double interp = inProcess(loopScript(passes));
    std::printf("interpreter alone (no event pass): %8.0f lines/s  (%.3f us/line)\n",
                passes / interp, interp * 1e6 / passes);

    const double wide = inProcess(wideCallScript(300000));
    std::printf("two lines of 300,000 arguments:    %8.1f ms\n", wide * 1e3);

    double checkCpu = 0;
    const double check = checkLongScript(runs, checkCpu);
    std::printf("checking a 10,000-line script:     %8.1f ms (median of %d; processor %.1f ms)\n",
                check * 1e3, runs, checkCpu * 1e3);

    const double empty = viaRunner(runner, "");
    const double run = viaRunner(runner, loopScript(passes)) - empty;
    std::printf("norvane-run, with event passes:    %8.0f lines/s  (%.3f us/line)\n", passes / run,
                run * 1e6 / passes);
    std::printf("norvane-run with an empty script:  %8.1f ms\n", empty * 1e3);
    const double longRun = viaRunner(runner, longScript());
    std::printf("norvane-run, 10,000-line script:   %8.1f ms in all (%.1f ms over empty)\n",
                longRun * 1e3, (longRun - empty) * 1e3);

    std::printf("\nAgainst Tcl (tclsh), median of %d runs, start-up subtracted "
                "(ratio = Tcl / Norvane, 1.0 or more: Norvane at least as fast)\n",
                runs);
    const double nvStart = medianRun(runner, "", ".nvs", runs);
    const double tclStart = medianRun("tclsh", "", ".tcl", runs);
    std::printf("%-34s norvane-run %7.1f ms   tclsh %7.1f ms\n", "start-up (empty script)",
                nvStart * 1e3, tclStart * 1e3);
    for (const Race& r : races(300000)) {
        std::string nvOut, tclOut;
        const double nv = medianWork(runner, r.norvane, ".nvs", runs, &nvOut);
        const double tcl = medianWork("tclsh", r.tcl, ".tcl", runs, &tclOut);
        if (!printed(nvOut, r.result) || !printed(tclOut, r.result)) {
            std::printf("%-34s results differ (expected \"%s\"): not compared\n", r.name,
                        r.result.c_str());
            continue;
        }
        std::printf("%-34s norvane-run %7.1f ms   tclsh %7.1f ms   ratio %5.2f\n", r.name, nv * 1e3,
                    tcl * 1e3, tcl / nv);
    }
    return 0;
}
