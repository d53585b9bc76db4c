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
//   - 10 MB streamed unpaced into a port read by a script through norvane-run against a
//     pyserial reader, each checking every byte (count and a checksum of each 4096-byte
//     block, folded in order; goal: at least pyserial's rate, nothing lost).
// Usage: bench_serial_exchange [EXCHANGES] [ROUNDS] [PART] (default 5000, 7, every part; PART
// is latency, stream, cpu or idle); NORVANE_BENCH_RUN names
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

#include "bench/support/processcpu.h"
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
            if (++served == 1 && client) cpu0 = nvbench::processCpuSeconds(client);
        }
    }
    if (cpuUs)
        *cpuUs = served == n && n > 1
                     ? (nvbench::processCpuSeconds(client) - cpu0) * 1e6 / (n - 1)
                     : 0;
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

// A client that does not end within a second of SIGTERM gets SIGKILL: expect, done with its
// exchanges, sat for minutes in the close of its port (a request it sent was never read).
void endClient(pid_t pid) {
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) != 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
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
    const double c0 = nvbench::processCpuSeconds(pid);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double c1 = nvbench::processCpuSeconds(pid);
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

// The stream both readers of the race get: letters and digits, no period within it, so that
// a lost, doubled or reordered piece changes the checksum.
const std::string& raceStream(size_t total) {
    static std::string s;
    if (s.size() != total) {
        s.assign(total, '\0');
        for (size_t i = 0; i < total; ++i)
            s[i] = "abcdefghijklmnopqrstuvwxyz0123456789"
                [((static_cast<uint32_t>(i) * 2654435761u) >> 24) % 36];
    }
    return s;
}

// Both readers check every byte the same way: the stream is cut into 4096-byte blocks, each
// block's CRC-16/XMODEM is folded into acc = (acc * 7 + crc) mod 2^24 in order, and the reader
// prints "received <bytes> <acc>" once it has them all.
constexpr size_t kRaceBlock = 4096;
std::string raceVerdict(size_t total) {
    const std::string& s = raceStream(total);
    uint32_t acc = 0;
    for (size_t at = 0; at < total; at += kRaceBlock) {
        uint32_t crc = 0;
        for (size_t i = at; i < std::min(total, at + kRaceBlock); ++i) {
            crc ^= static_cast<uint32_t>(static_cast<unsigned char>(s[i])) << 8;
            for (int b = 0; b < 8; ++b)
                crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) & 0xFFFF : (crc << 1) & 0xFFFF;
        }
        acc = (acc * 7 + crc) & 0xFFFFFF;
    }
    return "received " + std::to_string(total) + " " + std::to_string(acc);
}

// `total` bytes (a multiple of kRaceBlock) written unpaced into a port read by a script
// through norvane-run or by pyserial. The time runs from the first byte written to the
// reader's verdict line appearing in its output (its exit is not timed: start-up and
// teardown are left out on both sides). `complete`: the verdict is the right one and nothing
// was reported dropped.
double streamRace(size_t total, bool python, bool& complete) {
    Pty pty;
    const std::string n = std::to_string(total);
    const std::string script =
        python ? writeFile("stream.py",
                           "import serial, sys, binascii\n"
                           "s = serial.Serial(sys.argv[1], 115200)\n"
                           "n = int(sys.argv[2]); got = 0; acc = 0; buf = b''\n"
                           "while got < n:\n"
                           "    buf += s.read(s.in_waiting or 1)\n"
                           "    while len(buf) >= 4096:\n"
                           "        acc = (acc * 7 + binascii.crc_hqx(buf[:4096], 0)) & 0xFFFFFF\n"
                           "        buf = buf[4096:]; got += 4096\n"
                           "print('received', got, acc, flush=True)\n")
               : writeFile("stream.nvs", "openport(\"com101\", 115200, 8, \"n\", \"1\")\n"
                                         "total = 0\n"
                                         "acc = 0\n"
                                         "while (total << " +
                                             n +
                                             ")\n"
                                             "x = receive(\"com101\")\n"
                                             "n = len(x)\n"
                                             "if (n >= 4096)\n"
                                             "c = crc16(mid(x, 1, 4096), \"xmodem\")\n"
                                             "flush(\"com101\", 4096)\n"
                                             "acc = band(acc * 7 + c, 16777215)\n"
                                             "total = total + 4096\n"
                                             "endif\n"
                                             "wend\n"
                                             "writelog(\"received \" & total & \" \" & acc)\n"
                                             "closeport(\"com101\")\n");
    const std::string out = writeFile(python ? "stream_py.out" : "stream_nvs.out", "");
    const pid_t pid =
        python ? spawn({"/usr/bin/python3", script, pty.slave, n}, {}, out)
               : spawn({runner(), script},
                       {"NORVANE_PORTS=com101=" + pty.slave, "QT_QPA_PLATFORM=offscreen"}, out);
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // let it open the port
    const std::string& stream = raceStream(total);
    const std::string verdict = raceVerdict(total);
    const auto readOut = [&] {
        std::ifstream in(out);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    // Without blocking, so that a reader that has ended cannot hold the bench.
    ::fcntl(pty.master, F_SETFL, ::fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    const auto start = Clock::now();
    size_t done = 0;
    while (done < total && Clock::now() - start < std::chrono::seconds(120)) {
        const ssize_t w =
            ::write(pty.master, stream.data() + done, std::min<size_t>(65536, total - done));
        if (w > 0) {
            done += static_cast<size_t>(w);
        } else {
            pollfd p{pty.master, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
    }
    // A reader that lost bytes never gets its verdict: it is ended 10 s after the last byte.
    const auto written = Clock::now();
    std::string log;
    while ((log = readOut()).find("received ") == std::string::npos &&
           Clock::now() - written < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() - written > std::chrono::seconds(12)) {
            endClient(pid);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    log = readOut();
    complete = log.find(verdict) != std::string::npos && log.find("dropped") == std::string::npos;
    if (!complete) {
        const size_t at = log.find("received ");
        std::printf("  %s run short: %s (want %s)%s\n", python ? "pyserial" : "script",
                    at == std::string::npos ? "no verdict"
                                            : log.substr(at, log.find('\n', at) - at).c_str(),
                    verdict.c_str(),
                    log.find("dropped") != std::string::npos ? ", bytes reported dropped" : "");
    }
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
    // A third argument runs one part only: latency, stream, cpu or idle.
    const std::string part = argc > 3 ? argv[3] : "";
    const auto want = [&](const char* name) { return part.empty() || part == name; };
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    bool newestKept = true;
    if (want("latency")) {
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
            const pid_t pid = spawn({runner(), script}, {"NORVANE_PORTS=com101=" + pty.slave,
                                                         "QT_QPA_PLATFORM=offscreen"});
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
            const std::string script =
                writeFile("exchange.exp",
                          "log_user 0\n"
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
            if (pyMedian > 0)
                std::printf("ratio norvane-run / pyserial: %.2f\n", nvMedian / pyMedian);
            if (exMedian > 0)
                std::printf("ratio norvane-run / expect:   %.2f\n", nvMedian / exMedian);
        }
    }

    if (want("stream")) {

        const size_t total = 10u << 20;
        const StreamResult st = streamInProcess(total);
        std::printf(
            "10 MB into a port, terminal visible: %.1f MB/s, longest event-loop stall %.2f ms, "
            "buffer %zu bytes, newest bytes kept: %s\n",
            st.mbPerSecond, st.longestStallMs, st.bufferSize, st.newestBytesKept ? "yes" : "NO");
        newestKept = st.newestBytesKept;
        std::vector<double> scriptRates, pyRates;
        int incomplete = 0, pyIncomplete = 0;
        for (int r = 0; r < rounds; ++r) {
            for (int k = 0; k < 2; ++k) { // the order turns each round
                const bool python = (k + r) % 2 == 1;
                bool complete = false;
                const double rate = streamRace(total, python, complete);
                if (complete)
                    (python ? pyRates : scriptRates).push_back(rate);
                else
                    ++(python ? pyIncomplete : incomplete);
            }
        }
        std::printf(
            "10 MB unpaced, every byte checked, %d rounds: a script through norvane-run "
            "%.1f MB/s (%d runs short), pyserial %.1f MB/s (%d short); ratio %.2f (goal >= 1: "
            "%s)\n",
            rounds, median(scriptRates), incomplete, median(pyRates), pyIncomplete,
            median(pyRates) > 0 ? median(scriptRates) / median(pyRates) : 0.0,
            incomplete == 0 && median(scriptRates) >= median(pyRates) ? "met" : "MISSED");
    }
    if (want("cpu")) cpuRace(n, rounds);
    if (want("idle")) idleRace(rounds);
    return newestKept ? 0 : 1;
}
