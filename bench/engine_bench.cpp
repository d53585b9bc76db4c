// Interpreter speed: executed lines per second of a counting loop and the start-up of a
// 10,000-line script, through norvane-run (its own host, gated event passes), as a user runs
// it. Every run figure goes through norvane-run: an in-process host whose event pass does
// nothing and which passes on every line would give figures no user sees.
// Also the time of two lines whose calls have 300,000 arguments (splitting must be linear),
// and of checking a 10,000-line script (the editor re-checks after edits; goal under 50 ms).
//
// Then the same work written in the script language and in each peer a bench user would
// pick instead (python3 at a script's top level, Tcl inside a proc, lua5.4), each run by its
// own interpreter in this one run: a counting loop of 300,000 passes, a text-heavy loop (mid,
// pos and & over a 1 kB reply), a CRC-16 (Modbus) over the bytes 0..255 computed bit by bit
// (once with the language's own commands, once with the bit functions band, shr and bxor),
// and the CRC as examples/modbus-poll.nvs writes it (a procedure per XOR). Each figure is the
// median of interleaved pairs, each side less the start-up of an empty script run just before
// it; CPU time decides the ratio (peer / Norvane, so 1.0 or more means Norvane is at least as
// fast). Every side must print the same result, or the figures are not compared. A peer that
// is not installed is named and skipped. Build Release.
//
// Last, the processor time a waiting script costs: a 1.5 s sleep(1500) through norvane-run
// (goal: under 0.1 s of CPU above an empty script's), beside the same wait written as a
// getticks() loop.
//
// Usage: bench_engine [path/to/norvane-run] [passes] [runs]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
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
#include "engine/runtime.h"
#include "engine/text.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// For the checker only, which reads a script and runs none of it.
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

// Runs `program script` once with the script in a file; the seconds from start to exit.
// `output` (when given) receives what the program wrote to standard output.
struct Cost {
    double wall = 0, cpu = 0; // seconds
};

Cost timedCost(const std::string& program, const std::string& script, const char* suffix,
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
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Cost cost;
    cost.wall = std::chrono::duration<double>(Clock::now() - t0).count();
    cost.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    posix_spawn_file_actions_destroy(&fa);
    std::remove(path.c_str());
    if (output) {
        std::ifstream in(outPath);
        output->assign(std::istreambuf_iterator<char>(in), {});
        std::remove(outPath.c_str());
    }
    return cost;
}

double timedRun(const std::string& program, const std::string& script, const char* suffix,
                std::string* output = nullptr) {
    return timedCost(program, script, suffix, output).wall;
}

double viaRunner(const std::string& runner, const std::string& script) {
    return timedRun(runner, script, ".nvs");
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The median start-up of `program` on an empty script: CPU and wall.
Cost medianStart(const std::string& program, const char* suffix, int runs) {
    std::vector<double> cpu, wall;
    for (int i = 0; i < runs; ++i) {
        const Cost c = timedCost(program, "", suffix);
        cpu.push_back(c.cpu);
        wall.push_back(c.wall);
    }
    return {median(wall), median(cpu)};
}

// The same work in the script language and in each peer language, and the text each prints
// when it is done. The peers are written as their users would write them: Python at the top
// level of a script, Tcl inside a proc (where Tcl compiles to byte code), Lua with locals.
struct Race {
    const char* name;
    std::string norvane, python, tcl, lua;
    std::string result; // printed by every side (Norvane through writelog)
};

// The modbus-poll example's CRC: a procedure per XOR, bit by bit, as the example writes it.
const char* const kExampleCrcProcedures = "procedure xorab\n"
                                          "x = 0\n"
                                          "m = 1\n"
                                          "for (bit, 0, 15, 1)\n"
                                          "u = get_bit(a, bit)\n"
                                          "w = get_bit(c, bit)\n"
                                          "if (u <> w)\n"
                                          "x = x + m\n"
                                          "endif\n"
                                          "m = m * 2\n"
                                          "next\n"
                                          "procend\n"
                                          "procedure crc16\n"
                                          "crc = 65535\n"
                                          "n = len(frame)\n"
                                          "for (k, 1, n, 1)\n"
                                          "a = crc\n"
                                          "c = asc(mid(frame, k, 1))\n"
                                          "xorab\n"
                                          "crc = x\n"
                                          "for (j, 1, 8, 1)\n"
                                          "lsb = get_bit(crc, 0)\n"
                                          "crc = (crc - lsb) / 2\n"
                                          "if (lsb == 1)\n"
                                          "a = crc\n"
                                          "c = 40961\n"
                                          "xorab\n"
                                          "crc = x\n"
                                          "endif\n"
                                          "next\n"
                                          "next\n"
                                          "procend\n";

std::vector<Race> races(long passes) {
    const std::string n = std::to_string(passes);
    std::vector<Race> r;
    r.push_back({"loop x = x + 1", loopScript(passes) + "writelog(\"x \" & x)\n",
                 "x = 0\nfor i in range(1, " + n + " + 1):\n    x = x + 1\nprint(\"x\", x)\n",
                 "proc main {} {\nset x 0\nfor {set i 1} {$i <= " + n +
                     "} {incr i} {set x [expr {$x + 1}]}\nputs \"x $x\"\n}\nmain\n",
                 "local x = 0\nfor i = 1, " + n + " do x = x + 1 end\nprint(\"x \" .. x)\n",
                 "x " + n});
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
                 "r = '0123456789' * 100\n"
                 "for rep in range(100):\n"
                 "    out = ''\n"
                 "    for p in range(1, 1001):\n"
                 "        c = r[p - 1:p]\n"
                 "        d = '0123456789'.find(c) + 1\n"
                 "        out = out + c\n"
                 "print(len(out), d)\n",
                 "proc main {} {\n"
                 "set r [string repeat 0123456789 100]\n"
                 "for {set rep 1} {$rep <= 100} {incr rep} {\n"
                 "set out \"\"\n"
                 "for {set p 1} {$p <= 1000} {incr p} {\n"
                 "set c [string range $r [expr {$p - 1}] [expr {$p - 1}]]\n"
                 "set d [expr {[string first $c 0123456789] + 1}]\n"
                 "append out $c\n"
                 "}\n"
                 "}\n"
                 "puts \"[string length $out] $d\"\n"
                 "}\nmain\n",
                 "local r = string.rep('0123456789', 100)\n"
                 "local out, d\n"
                 "for rep = 1, 100 do\n"
                 "  out = ''\n"
                 "  for p = 1, 1000 do\n"
                 "    local c = string.sub(r, p, p)\n"
                 "    d = string.find('0123456789', c, 1, true)\n"
                 "    out = out .. c\n"
                 "  end\n"
                 "end\n"
                 "print(#out .. ' ' .. d)\n",
                 "1000 10"});
    // The script language's own form has no bit operators: the feedback bit and the XOR with
    // 0xA001 go through get_bit, additions and subtractions. A hundred rounds: python3's
    // start-up (about 25 ms) moves by a few milliseconds from run to run, which against 30
    // rounds' 9 ms of work moved the ratio by half. Expressions have no precedence,
    // so `crc - lsb / 2` is (crc - lsb) / 2, the shift right.
    r.push_back({"CRC-16 bit by bit, 256 bytes x100",
                 "for (r, 1, 100, 1)\n"
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
                 "for r in range(100):\n"
                 "    crc = 65535\n"
                 "    for n in range(256):\n"
                 "        for k in range(8):\n"
                 "            lsb = crc & 1\n"
                 "            crc >>= 1\n"
                 "            if lsb != ((n >> k) & 1):\n"
                 "                crc ^= 0xA001\n"
                 "print('crc', crc)\n",
                 "proc main {} {\n"
                 "for {set r 1} {$r <= 100} {incr r} {\n"
                 "set crc 65535\n"
                 "for {set n 0} {$n <= 255} {incr n} {\n"
                 "for {set k 0} {$k <= 7} {incr k} {\n"
                 "set lsb [expr {$crc & 1}]\n"
                 "set crc [expr {$crc >> 1}]\n"
                 "if {$lsb != (($n >> $k) & 1)} {set crc [expr {$crc ^ 0xA001}]}\n"
                 "}\n"
                 "}\n"
                 "}\n"
                 "puts \"crc $crc\"\n"
                 "}\nmain\n",
                 "local crc\n"
                 "for r = 1, 100 do\n"
                 "  crc = 65535\n"
                 "  for n = 0, 255 do\n"
                 "    for k = 0, 7 do\n"
                 "      local lsb = crc & 1\n"
                 "      crc = crc >> 1\n"
                 "      if lsb ~= ((n >> k) & 1) then crc = crc ~ 0xA001 end\n"
                 "    end\n"
                 "  end\n"
                 "end\n"
                 "print('crc ' .. crc)\n",
                 "crc 56940"});
    // The same CRC as a user of the bit functions writes it: a line for each of the peers'
    // operations (band for &, shr for >>, bxor for ^), against the same peers.
    {
        Race bits = r.back();
        bits.name = "CRC-16 bit by bit with band/shr/bxor, x100";
        bits.norvane = "for (r, 1, 100, 1)\n"
                       "crc = 65535\n"
                       "for (n, 0, 255, 1)\n"
                       "for (k, 0, 7, 1)\n"
                       "lsb = band(crc, 1)\n"
                       "bit = get_bit(n, k)\n"
                       "crc = shr(crc, 1)\n"
                       "if (lsb <> bit)\n"
                       "crc = bxor(crc, 40961)\n"
                       "endif\n"
                       "next\n"
                       "next\n"
                       "next\n"
                       "writelog(\"crc \" & crc)\n";
        r.push_back(std::move(bits));
    }
    // The example's form over a read request's 6 bytes, 200 times; the peers with a function
    // per frame as their users would write it.
    r.push_back({"CRC-16 as modbus-poll.nvs, x200",
                 std::string(kExampleCrcProcedures) +
                     "frame = chr(1) & chr(3) & chr(0) & chr(0) & chr(0) & chr(4)\n"
                     "for (r, 1, 200, 1)\n"
                     "crc16\n"
                     "next\n"
                     "writelog(\"crc \" & crc)\n",
                 "def crc16(frame):\n"
                 "    crc = 0xFFFF\n"
                 "    for b in frame:\n"
                 "        crc ^= b\n"
                 "        for j in range(8):\n"
                 "            lsb = crc & 1\n"
                 "            crc >>= 1\n"
                 "            if lsb:\n"
                 "                crc ^= 0xA001\n"
                 "    return crc\n"
                 "frame = bytes([1, 3, 0, 0, 0, 4])\n"
                 "for r in range(200):\n"
                 "    crc = crc16(frame)\n"
                 "print('crc', crc)\n",
                 "proc crc16 {frame} {\n"
                 "set crc 0xFFFF\n"
                 "foreach b $frame {\n"
                 "set crc [expr {$crc ^ $b}]\n"
                 "for {set j 0} {$j < 8} {incr j} {\n"
                 "set lsb [expr {$crc & 1}]\n"
                 "set crc [expr {$crc >> 1}]\n"
                 "if {$lsb} {set crc [expr {$crc ^ 0xA001}]}\n"
                 "}\n"
                 "}\n"
                 "return $crc\n"
                 "}\n"
                 "proc main {} {\n"
                 "for {set r 1} {$r <= 200} {incr r} {set crc [crc16 {1 3 0 0 0 4}]}\n"
                 "puts \"crc $crc\"\n"
                 "}\nmain\n",
                 "local function crc16(frame)\n"
                 "  local crc = 0xFFFF\n"
                 "  for i = 1, #frame do\n"
                 "    crc = crc ~ frame:byte(i)\n"
                 "    for j = 1, 8 do\n"
                 "      local lsb = crc & 1\n"
                 "      crc = crc >> 1\n"
                 "      if lsb == 1 then crc = crc ~ 0xA001 end\n"
                 "    end\n"
                 "  end\n"
                 "  return crc\n"
                 "end\n"
                 "local frame = string.char(1, 3, 0, 0, 0, 4)\n"
                 "local crc\n"
                 "for r = 1, 200 do crc = crc16(frame) end\n"
                 "print('crc ' .. crc)\n",
                 "crc 2372"});
    return r;
}

// The smallest difference of two process times that is a measurement: the kernel accounts
// CPU time in ticks of a few milliseconds, and a median below this after the start-up is
// taken off (even a negative one) says only that the work is too small to see.
constexpr double kResolution = 0.001;

// "CPU (wall)" in milliseconds, or "below resolution".
std::string figure(double cpu, double wall) {
    if (cpu < kResolution) return "below resolution";
    char buf[64];
    if (wall < kResolution)
        std::snprintf(buf, sizeof buf, "%8.1f (   below)", cpu * 1e3);
    else
        std::snprintf(buf, sizeof buf, "%8.1f (%8.1f)", cpu * 1e3, wall * 1e3);
    return buf;
}

std::string formatRatio(double r) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%5.2f", r);
    return buf;
}

bool haveProgram(const char* name) {
    const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

bool printed(const std::string& output, const std::string& result) {
    // norvane-run writes "time, from line N: text"; the peers write the text alone.
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

    const double wide = viaRunner(runner, wideCallScript(300000)) - viaRunner(runner, "");
    std::printf("two lines of 300,000 arguments:    %8.1f ms (norvane-run, over empty)\n",
                wide * 1e3);

    double checkCpu = 0;
    const double check = checkLongScript(runs, checkCpu);
    std::printf("checking a 10,000-line script:     %8.1f ms (median of %d; processor %.1f ms)\n",
                check * 1e3, runs, checkCpu * 1e3);

    const double empty = viaRunner(runner, "");
    const double run = viaRunner(runner, loopScript(passes)) - empty;
    if (run < kResolution)
        std::printf("norvane-run, with event passes:    below resolution\n");
    else
        std::printf("norvane-run, with event passes:    %8.0f lines/s  (%.3f us/line)\n",
                    passes / run, run * 1e6 / passes);
    std::printf("norvane-run with an empty script:  %8.1f ms\n", empty * 1e3);
    const double longRun = viaRunner(runner, longScript());
    std::printf("norvane-run, 10,000-line script:   %8.1f ms in all (%.1f ms over empty)\n",
                longRun * 1e3, (longRun - empty) * 1e3);

    // Each race against each peer: `runs` interleaved pairs, each side's empty script run
    // just before its work, so that a change of the machine's load touches both sides of a
    // difference alike. CPU time is the processes' own (user + system), the fairer figure on
    // a shared machine; wall time beside it. Ratio = peer / Norvane: 1.0 or more means
    // Norvane is at least as fast.
    // python3 by its own path: a shim in front of it (pyenv) would be timed with it.
    struct Peer {
        const char* label;
        const char* program;
        const char* suffix;
        std::string Race::*text;
    };
    const Peer peers[] = {{"python3", "/usr/bin/python3", ".py", &Race::python},
                          {"Tcl proc", "tclsh", ".tcl", &Race::tcl},
                          {"lua5.4", "lua5.4", ".lua", &Race::lua}};
    std::printf("\nAgainst python3, Tcl (tclsh, inside a proc) and Lua (lua5.4): median of %d "
                "interleaved pairs, start-up subtracted, CPU (wall) in ms; ratio = peer / "
                "Norvane on CPU\n",
                runs);
    const Cost nvStart = medianStart(runner, ".nvs", runs);
    std::printf("start-up (empty script): norvane-run %.1f (%.1f)", nvStart.cpu * 1e3,
                nvStart.wall * 1e3);
    for (const Peer& peer : peers) {
        if (!haveProgram(peer.program)) continue;
        const Cost c = medianStart(peer.program, peer.suffix, runs);
        std::printf("   %s %.1f (%.1f)", peer.label, c.cpu * 1e3, c.wall * 1e3);
    }
    std::printf("\n");
    for (const Race& r : races(300000)) {
        std::printf("%s\n", r.name);
        for (const Peer& peer : peers) {
            if (!haveProgram(peer.program)) {
                std::printf("  %-9s not installed: not compared\n", peer.label);
                continue;
            }
            std::vector<double> nvCpu, nvWall, pCpu, pWall;
            std::string nvOut, pOut;
            for (int i = 0; i < runs; ++i) {
                const Cost nvEmpty = timedCost(runner, "", ".nvs");
                const Cost nv = timedCost(runner, r.norvane, ".nvs", i == 0 ? &nvOut : nullptr);
                const Cost pEmpty = timedCost(peer.program, "", peer.suffix);
                const Cost p =
                    timedCost(peer.program, r.*peer.text, peer.suffix, i == 0 ? &pOut : nullptr);
                nvCpu.push_back(nv.cpu - nvEmpty.cpu);
                nvWall.push_back(nv.wall - nvEmpty.wall);
                pCpu.push_back(p.cpu - pEmpty.cpu);
                pWall.push_back(p.wall - pEmpty.wall);
            }
            if (!printed(nvOut, r.result) || !printed(pOut, r.result)) {
                std::printf("  %-9s results differ (expected \"%s\"): not compared\n", peer.label,
                            r.result.c_str());
                continue;
            }
            const double n = median(nvCpu), p = median(pCpu);
            const std::string nvText = figure(n, median(nvWall)), pText = figure(p, median(pWall));
            std::string ratio = "-";
            if (n > kResolution && p > kResolution) ratio = formatRatio(p / n);
            std::printf("  %-9s norvane-run %-19s   %-9s %-19s   ratio %s\n", peer.label,
                        nvText.c_str(), peer.label, pText.c_str(), ratio.c_str());
        }
    }

    const double emptyCpu = timedCost(runner, "", ".nvs").cpu;
    const Cost sleep = timedCost(runner, "sleep(1500)\n", ".nvs");
    const double slept = sleep.wall, sleepCpu = sleep.cpu;
    const double spinCpu =
        timedCost(runner, "t0 = getticks()\nrepeat\nt = getticks() - t0\nuntil (t >> 1500)\n",
                  ".nvs")
            .cpu;
    std::printf("\nA 1.5 s wait through norvane-run (%.2f s), processor time above an empty "
                "script's (%.3f s):\n",
                slept, emptyCpu);
    std::printf("%-34s %7.3f s CPU  (goal < 0.1 s: %s)\n", "sleep(1500)", sleepCpu - emptyCpu,
                sleepCpu - emptyCpu < 0.1 ? "met" : "NOT MET");
    std::printf("%-34s %7.3f s CPU\n", "getticks() loop", spinCpu - emptyCpu);
    return 0;
}
