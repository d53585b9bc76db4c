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
// Usage: bench_serial_exchange [EXCHANGES] (default 5000). Every client this program starts
// is ended by its process id when its measurement is done.
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

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 1);
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
std::vector<double> serve(Pty& pty, int n, std::chrono::seconds limit) {
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
            ++served;
        }
    }
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

} // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::max(10, std::atoi(argv[1])) : 5000;
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
        const pid_t pid = spawn({NORVANE_RUN, script},
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
    return st.newestBytesKept ? 0 : 1;
}
