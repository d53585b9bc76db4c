// A script's request/answer exchange over a serial port, measured end to end, against the
// same exchange written with pyserial and with Tcl's expect, all in one run:
//   - this program plays the instrument on the master side of a pseudo-terminal: for each
//     request "Q\r" it writes the answer "ANSWER:0123456789#" and notes the time;
//   - the client (norvane-run with a polling script, a pyserial script, an expect script, and
//     a plain C loop as the floor) sends the next request as soon as it has seen the whole
//     answer; the time from an answer written to the next request read here is one sample.
//     It holds the client's seeing the answer plus one request's way back (the floor shows
//     what the pseudo-terminal itself costs).
// Then 10 MB are streamed into a port whose terminal window is visible (in process, as the
// program does it) and against a pyserial reader: throughput, the longest stall of the event
// loop, and whether the receive buffer holds exactly the newest bytes of the stream.
//
// Goals: the script sees an answer within 150 us (median) of its being written.
//
// Then the races, in interleaved rounds (the order turns each round), each figure taken after
// the client's start-up:
//   - CPU per exchange of the client: a polling script, a script that waits with waitfor, one
//     that polls with sleep(1), and the pyserial client (goal: a waiting script under 2x
//     pyserial's CPU);
//   - CPU over wall time while a script waits: in sleep(5000), in waitfor on a silent port,
//     and polling receive() with sleep(1), beside a pyserial loop polling with a 1 ms sleep
//     (goal: a waiting script under 2% of a core);
//   - 10 MB streamed into a port read by a script through norvane-run (receive, count, flush)
//     against a pyserial reader, each counting every byte (goal: at least pyserial's rate).
// Usage: bench_serial_exchange [EXCHANGES] [ROUNDS] (default 5000, 7); NORVANE_BENCH_RUN names
// another norvane-run to measure. Every client this program starts is ended by its process id
// when its measurement is done.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>

#include "serial/terminal.h"

namespace {

using Clock = std::chrono::steady_clock;
const std::string kAnswer = "ANSWER:0123456789#";

struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        int s = -1;
        char name[256];
        ::openpty(&master, &s, name, nullptr, nullptr);
        ::close(s);
        slave = name;
    }
    ~Pty() { ::close(master); }
};

std::string runner() {
    const char* other = std::getenv("NORVANE_BENCH_RUN");
    return other && *other ? other : NORVANE_RUN;
}

// The CPU time a process has used so far, all its threads, in seconds (the scheduler's
// nanosecond count: ticks are too coarse for a few seconds of waiting).
double cpuSeconds(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream in(dir + "/" + e->d_name + "/schedstat");
            unsigned long long ns = 0;
            if (in >> ns) total += double(ns) / 1e9;
        }
        ::closedir(d);
    }
    return total;
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
            const std::string& out = "/dev/null") {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDWR);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(o, 1);
        ::dup2(devnull, 2);
        for (const auto& e : env)
            ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

// Plays the instrument for `n` exchanges (bounded by `limit`); returns the samples in us.
// Given a client, its CPU time per exchange (us) after the first exchange goes to `cpuUs`.
std::vector<double> serve(Pty& pty, int n, std::chrono::seconds limit, pid_t client = 0,
                          double* cpuUs = nullptr) {
    double cpu0 = 0;
    std::vector<double> samples;
    std::string pending;
    Clock::time_point answered{};
    const auto end = Clock::now() + limit;
    char buf[256];
    int served = 0;
    while (served < n && Clock::now() < end) {
        pollfd p{pty.master, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const ssize_t r = ::read(pty.master, buf, sizeof buf);
        if (r <= 0) continue;
        pending.append(buf, static_cast<size_t>(r));
        size_t at;
        while ((at = pending.find('\r')) != std::string::npos) {
            pending.erase(0, at + 1);
            const auto now = Clock::now();
            if (served > 0)
                samples.push_back(
                    std::chrono::duration<double, std::micro>(now - answered).count());
            [[maybe_unused]] auto w = ::write(pty.master, kAnswer.data(), kAnswer.size());
            answered = Clock::now();
            if (++served == 1 && client) cpu0 = cpuSeconds(client);
        }
    }
    if (cpuUs) *cpuUs = served == n && n > 1 ? (cpuSeconds(client) - cpu0) * 1e6 / (n - 1) : 0;
    return samples;
}

void report(const char* name, std::vector<double> s, double& median) {
    if (s.empty()) {
        std::printf("%-28s no samples (client missing or failed)\n", name);
        median = 0;
        return;
    }
    std::sort(s.begin(), s.end());
    median = s[s.size() / 2];
    std::printf("%-28s median %7.1f us   p90 %7.1f us   p99 %7.1f us   (%zu samples)\n", name,
                median, s[s.size() * 9 / 10], s[s.size() * 99 / 100], s.size());
}

void endClient(pid_t pid) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

std::string writeFile(const std::string& name, const std::string& text) {
    const std::string path = "/tmp/norvane_bench_serial_" + std::to_string(::getpid()) + "_" + name;
    std::ofstream(path) << text;
    return path;
}

std::vector<double> nativeFloor(int n) {
    Pty pty;
    std::thread client([&] {
        const int fd = ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
        termios t;
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
        char buf[256];
        for (int i = 0; i < n; ++i) {
            [[maybe_unused]] auto w = ::write(fd, "Q\r", 2);
            std::string got;
            while (got.find('#') == std::string::npos) {
                const ssize_t r = ::read(fd, buf, sizeof buf);
                if (r <= 0) break;
                got.append(buf, static_cast<size_t>(r));
            }
        }
        ::close(fd);
    });
    auto s = serve(pty, n, std::chrono::seconds(60));
    client.join();
    return s;
}

struct StreamResult {
    double mbPerSecond = 0;
    double longestStallMs = 0;
    bool newestBytesKept = false;
    size_t bufferSize = 0;
};

// 10 MB into a port whose terminal window is visible and traces every byte.
StreamResult streamInProcess(size_t total) {
    Pty pty;
    auto platform = nv::serial::posixSerialPlatform();
    int x = 0, y = 0;
    nv::serial::TerminalWindow term(*platform, x, y);
    term.devicePath = pty.slave;
    term.settings = {115200, 8, nv::serial::ParityNone, nv::serial::StopOne};
    term.openPort();
    term.show();
    std::string stream(total, '\0');
    for (size_t i = 0; i < total; ++i)
        stream[i] = static_cast<char>((static_cast<uint32_t>(i) * 2654435761u) >> 24);
    std::atomic<bool> written{false};
    const auto start = Clock::now();
    std::thread writer([&] {
        size_t done = 0;
        while (done < total) {
            const ssize_t w =
                ::write(pty.master, stream.data() + done, std::min<size_t>(65536, total - done));
            if (w > 0) done += static_cast<size_t>(w);
        }
        written = true;
    });
    StreamResult r;
    auto last = Clock::now();
    const auto tailMatches = [&] {
        const std::string& b = term.received();
        return b.size() >= 64 && b.compare(b.size() - 64, 64, stream, total - 64) == 0;
    };
    while (!(written && tailMatches()) && Clock::now() - start < std::chrono::seconds(120)) {
        QCoreApplication::processEvents();
        const auto now = Clock::now();
        r.longestStallMs = std::max(r.longestStallMs,
                                    std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    }
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    r.mbPerSecond = static_cast<double>(total) / 1e6 / secs;
    const std::string& b = term.received();
    r.bufferSize = b.size();
    r.newestBytesKept =
        b.size() >= nv::serial::kReceiveLimit && b == stream.substr(total - b.size());
    term.closePort();
    return r;
}

double streamPyserial(size_t total) {
    Pty pty;
    const std::string script = writeFile("stream.py", "import serial, sys\n"
                                                      "s = serial.Serial(sys.argv[1], 115200)\n"
                                                      "n = int(sys.argv[2]); got = 0\n"
                                                      "while got < n:\n"
                                                      "    got += len(s.read(s.in_waiting or 1))\n"
                                                      "print(got)\n");
    const pid_t pid = spawn({"/usr/bin/python3", script, pty.slave, std::to_string(total)});
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // let it open the port
    const std::string chunk(65536, 'x');
    const auto start = Clock::now();
    size_t done = 0;
    while (done < total && Clock::now() - start < std::chrono::seconds(120)) {
        const ssize_t w = ::write(pty.master, chunk.data(), std::min(chunk.size(), total - done));
        if (w > 0) done += static_cast<size_t>(w);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    ::unlink(script.c_str());
    return static_cast<double>(total) / 1e6 / secs;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

const char* kPyExchange = "import serial, sys\n"
                          "s = serial.Serial(sys.argv[1], 115200)\n"
                          "for i in range(int(sys.argv[2])):\n"
                          "    s.write(b'Q\\r')\n"
                          "    buf = b''\n"
                          "    while b'#' not in buf:\n"
                          "        buf += s.read(s.in_waiting or 1)\n";

// One request/answer loop per client kind, each as norvane-run or python3 runs it.
struct Client {
    const char* name;
    std::string script; // a file
    bool python;
    int count; // exchanges per run
    std::vector<double> cpuUs, latencyUs;
    int failed = 0;
};

std::string exchangeScript(const std::string& name, int n, const std::string& wait) {
    return writeFile(name, "openport(\"com101\", 115200, 8, \"n\", \"1\")\n"
                           "for (i, 1, " +
                               std::to_string(n) +
                               ", 1)\n"
                               "send(\"com101\", \"Q\" & chr(13))\n" +
                               wait +
                               "flush(\"com101\")\n"
                               "next\n"
                               "closeport(\"com101\")\n");
}

void cpuRace(int n, int rounds) {
    // The sleeping client answers once a millisecond at best: it makes fewer exchanges.
    const int slow = std::max(10, n / 5);
    std::vector<Client> clients = {
        {"norvane-run polling",
         exchangeScript("poll.nvs", n,
                        "repeat\n"
                        "x = receive(\"com101\")\n"
                        "p = pos(\"#\", x)\n"
                        "until (p >> 0)\n"),
         false,
         n,
         {},
         {},
         0},
        {"norvane-run waitfor",
         exchangeScript("waitfor.nvs", n, "r = waitfor(\"com101\", \"#\", 1000)\n"),
         false,
         n,
         {},
         {},
         0},
        {"norvane-run sleep(1) poll",
         exchangeScript("sleep.nvs", slow,
                        "repeat\n"
                        "sleep(1)\n"
                        "x = receive(\"com101\")\n"
                        "p = pos(\"#\", x)\n"
                        "until (p >> 0)\n"),
         false,
         slow,
         {},
         {},
         0},
        {"pyserial", writeFile("exchange_race.py", kPyExchange), true, n, {}, {}, 0},
    };
    for (int r = 0; r < rounds; ++r) {
        for (size_t k = 0; k < clients.size(); ++k) {
            Client& c = clients[(k + size_t(r)) % clients.size()];
            Pty pty;
            const pid_t pid =
                c.python ? spawn({"/usr/bin/python3", c.script, pty.slave, std::to_string(c.count)})
                         : spawn({runner(), c.script}, {"NORVANE_PORTS=com101=" + pty.slave,
                                                        "QT_QPA_PLATFORM=offscreen"});
            double cpu = 0;
            const std::vector<double> lat =
                serve(pty, c.count, std::chrono::seconds(120), pid, &cpu);
            endClient(pid);
            if (cpu <= 0) {
                ++c.failed;
                continue;
            }
            c.cpuUs.push_back(cpu);
            c.latencyUs.push_back(median(lat));
        }
    }
    std::printf("CPU per exchange, %d rounds (client's CPU after its first exchange):\n", rounds);
    double py = 0, wf = 0;
    for (const Client& c : clients) {
        std::printf("  %-28s CPU %8.1f us/exchange   answer seen after %8.1f us   (%zu runs, %d "
                    "failed)\n",
                    c.name, median(c.cpuUs), median(c.latencyUs), c.cpuUs.size(), c.failed);
        ::unlink(c.script.c_str());
    }
    py = median(clients[3].cpuUs);
    wf = median(clients[1].cpuUs);
    if (py > 0)
        std::printf("  ratio waitfor script / pyserial CPU: %.2f (goal < 2: %s); polling script: "
                    "%.2f\n",
                    wf / py, wf / py < 2 ? "met" : "MISSED", median(clients[0].cpuUs) / py);
}

// CPU over wall time of a client between 1.5 s and 4.5 s after its start (start-up left out).
double waitingShare(const std::vector<std::string>& argv, bool python) {
    Pty pty;
    const pid_t pid =
        python ? spawn(argv)
               : spawn(argv, {"NORVANE_PORTS=com101=" + pty.slave, "QT_QPA_PLATFORM=offscreen"});
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const double c0 = cpuSeconds(pid);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double c1 = cpuSeconds(pid);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    endClient(pid);
    return (c1 - c0) / wall;
}

void idleRace(int rounds) {
    const std::string open = "openport(\"com101\", 115200, 8, \"n\", \"1\")\n";
    struct Waiter {
        const char* name;
        std::string file;
        bool python;
        std::vector<double> share;
    };
    std::vector<Waiter> w = {
        {"norvane-run sleep(5000)", writeFile("idle_sleep.nvs", "sleep(5000)\n"), false, {}},
        {"norvane-run waitfor 5000",
         writeFile("idle_waitfor.nvs", open + "r = waitfor(\"com101\", \"#\", 5000)\n"),
         false,
         {}},
        {"norvane-run receive+sleep(1)",
         writeFile("idle_poll.nvs", open + "t0 = getticks()\n"
                                           "repeat\n"
                                           "x = receive(\"com101\")\n"
                                           "sleep(1)\n"
                                           "t = getticks() - t0\n"
                                           "until (t >> 5000)\n"),
         false,
         {}},
        {"pyserial read+sleep(0.001)",
         writeFile("idle_poll.py", "import serial, sys, time\n"
                                   "s = serial.Serial(sys.argv[1])\n"
                                   "t0 = time.monotonic()\n"
                                   "while time.monotonic() - t0 < 5:\n"
                                   "    x = s.read(s.in_waiting)\n"
                                   "    time.sleep(0.001)\n"),
         true,
         {}},
    };
    for (int r = 0; r < rounds; ++r)
        for (size_t k = 0; k < w.size(); ++k) {
            Waiter& x = w[(k + size_t(r)) % w.size()];
            if (x.python) {
                Pty pty;
                x.share.push_back(waitingShare({"/usr/bin/python3", x.file, pty.slave}, true));
            } else {
                x.share.push_back(waitingShare({runner(), x.file}, false));
            }
        }
    std::printf("CPU over wall time while waiting, %d rounds (start-up left out):\n", rounds);
    for (const Waiter& x : w) {
        std::printf("  %-30s %6.2f %% of a core\n", x.name, 100 * median(x.share));
        ::unlink(x.file.c_str());
    }
}

// 10 MB into a port read by a script through norvane-run: it counts what receive() gives,
// flushes it, and logs the count once it has every byte. Time from the first byte written to
// the script's end.
double streamScript(size_t total, bool& complete) {
    Pty pty;
    const std::string script =
        writeFile("stream.nvs", "openport(\"com101\", 115200, 8, \"n\", \"1\")\n"
                                "total = 0\n"
                                "while (total << " +
                                    std::to_string(total) +
                                    ")\n"
                                    "x = receive(\"com101\")\n"
                                    "n = len(x)\n"
                                    "if (n >> 0)\n"
                                    "flush(\"com101\", n)\n"
                                    "total = total + n\n"
                                    "endif\n"
                                    "wend\n"
                                    "writelog(\"received \" & total)\n"
                                    "closeport(\"com101\")\n");
    const std::string out = writeFile("stream.out", "");
    const pid_t pid =
        spawn({runner(), script},
              {"NORVANE_PORTS=com101=" + pty.slave, "QT_QPA_PLATFORM=offscreen"}, out);
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // let it open the port
    const std::string chunk(65536, 'x');
    const auto start = Clock::now();
    size_t done = 0;
    while (done < total && Clock::now() - start < std::chrono::seconds(120)) {
        const ssize_t w = ::write(pty.master, chunk.data(), std::min(chunk.size(), total - done));
        if (w > 0) done += static_cast<size_t>(w);
    }
    // A script that lost bytes never reaches the count: it is ended 10 s after the last byte.
    int status = 0;
    const auto written = Clock::now();
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() - written > std::chrono::seconds(10)) {
            endClient(pid);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    std::ifstream in(out);
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    complete = log.find("received " + std::to_string(total)) != std::string::npos &&
               log.find("dropped") == std::string::npos;
    if (const size_t at = log.find("receive buffer full"); at != std::string::npos)
        std::printf("  script run: %s\n", log.substr(at, log.find('\n', at) - at).c_str());
    ::unlink(script.c_str());
    ::unlink(out.c_str());
    return static_cast<double>(total) / 1e6 / secs;
}

} // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::max(10, std::atoi(argv[1])) : 5000;
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // partial figures survive an interrupted run
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("%d request/answer exchanges per client over a pseudo-terminal\n", n);

    double floorMedian = 0, nvMedian = 0, pyMedian = 0, exMedian = 0;
    report("C loop (pseudo-terminal)", nativeFloor(n), floorMedian);

    {
        Pty pty;
        const std::string script =
            writeFile("exchange.nvs", "openport(\"com101\", 115200, 8, \"n\", \"1\")\n"
                                      "for (i, 1, " +
                                          std::to_string(n) +
                                          ", 1)\n"
                                          "send(\"com101\", \"Q\" & chr(13))\n"
                                          "repeat\n"
                                          "x = receive(\"com101\")\n"
                                          "p = pos(\"#\", x)\n"
                                          "until (p >> 0)\n"
                                          "flush(\"com101\")\n"
                                          "next\n"
                                          "closeport(\"com101\")\n");
        const pid_t pid = spawn({runner(), script},
                                {"NORVANE_PORTS=com101=" + pty.slave, "QT_QPA_PLATFORM=offscreen"});
        report("norvane-run script", serve(pty, n, std::chrono::seconds(120)), nvMedian);
        endClient(pid);
        ::unlink(script.c_str());
    }
    {
        Pty pty;
        const std::string script =
            writeFile("exchange.py", "import serial, sys\n"
                                     "s = serial.Serial(sys.argv[1], 115200)\n"
                                     "for i in range(int(sys.argv[2])):\n"
                                     "    s.write(b'Q\\r')\n"
                                     "    buf = b''\n"
                                     "    while b'#' not in buf:\n"
                                     "        buf += s.read(s.in_waiting or 1)\n");
        const pid_t pid = spawn({"/usr/bin/python3", script, pty.slave, std::to_string(n)});
        report("pyserial script", serve(pty, n, std::chrono::seconds(120)), pyMedian);
        endClient(pid);
        ::unlink(script.c_str());
    }
    {
        Pty pty;
        const std::string script = writeFile(
            "exchange.exp", "log_user 0\n"
                            "set f [open [lindex $argv 0] {RDWR NOCTTY}]\n"
                            "fconfigure $f -mode 115200,n,8,1 -translation binary -buffering none\n"
                            "spawn -open $f\n"
                            "set timeout 10\n"
                            "for {set i 0} {$i < [lindex $argv 1]} {incr i} {\n"
                            "    send \"Q\\r\"\n"
                            "    expect \"#\"\n"
                            "}\n");
        const pid_t pid = spawn({"expect", script, pty.slave, std::to_string(n)});
        report("expect script", serve(pty, n, std::chrono::seconds(120)), exMedian);
        endClient(pid);
        ::unlink(script.c_str());
    }
    if (nvMedian > 0) {
        std::printf(
            "norvane-run over the pseudo-terminal floor: %.1f us (goal: seen within 150 us)\n",
            nvMedian - floorMedian);
        if (pyMedian > 0) std::printf("ratio norvane-run / pyserial: %.2f\n", nvMedian / pyMedian);
        if (exMedian > 0) std::printf("ratio norvane-run / expect:   %.2f\n", nvMedian / exMedian);
    }

    const size_t total = 10u << 20;
    const StreamResult st = streamInProcess(total);
    std::printf("10 MB into a port, terminal visible: %.1f MB/s, longest event-loop stall %.2f ms, "
                "buffer %zu bytes, newest bytes kept: %s\n",
                st.mbPerSecond, st.longestStallMs, st.bufferSize,
                st.newestBytesKept ? "yes" : "NO");
    const double py = streamPyserial(total);
    std::printf("10 MB read by pyserial: %.1f MB/s; ratio norvane / pyserial: %.2f\n", py,
                py > 0 ? st.mbPerSecond / py : 0.0);

    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    std::vector<double> scriptRates, pyRates;
    int incomplete = 0;
    for (int r = 0; r < rounds; ++r) {
        bool complete = false;
        if (r % 2) pyRates.push_back(streamPyserial(total));
        const double rate = streamScript(total, complete);
        if (complete)
            scriptRates.push_back(rate);
        else
            ++incomplete;
        if (r % 2 == 0) pyRates.push_back(streamPyserial(total));
    }
    std::printf("10 MB read by a script through norvane-run: %.1f MB/s (%d runs short of a byte), "
                "pyserial %.1f MB/s; ratio %.2f (goal >= 1: %s)\n",
                median(scriptRates), incomplete, median(pyRates),
                median(scriptRates) / median(pyRates),
                incomplete == 0 && median(scriptRates) >= median(pyRates) ? "met" : "MISSED");
    cpuRace(n, rounds);
    idleRace(rounds);
    return st.newestBytesKept ? 0 : 1;
}
