// The TCP server path of a script, measured end to end: norvane-run runs an echo script
// (poll tcp_srv_read, answer with tcp_srv_write, consume with tcp_srv_flush) and a client on
// loopback measures
//   - the round trip of a small request (median and 99th percentile over many), and
//   - the throughput of 50 MB of text (no double quotes) sent and echoed back.
// The same client then measures an echo served by socat and by a short Python script in
// the same run, and the ratios are printed. Goals: median round trip within 200 us, at
// least 50 MB/s.
//
// Then two races of bulk data in interleaved pairs, each side's figures taken over the
// transfer alone (the peer is up and connected first, so its start-up is left out): a script
// server against a Python server, and a script client (tcp_open, poll tcp_read, answer with
// tcp_write, consume with tcp_flush) against a Python client, this program serving. Each
// transfer is checked byte for byte. Printed: the median throughput and the peer's CPU time
// per megabyte. Goals: each script at least 0.5x its Python counterpart's throughput.
//
// Usage: bench_net_echo [MEGABYTES] [PAIRS] [RACE MEGABYTES] (default 50, 7, 20); the
// environment variable NORVANE_BENCH_RUN names another norvane-run to measure. Every peer
// this program starts is ended by its process id when its measurement is done.
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/support/processcpu.h"

namespace {

using Clock = std::chrono::steady_clock;

// The norvane-run measured: the one built beside this program, or NORVANE_BENCH_RUN (another
// build, to compare before and after in one run).
std::string runner() {
    const char* other = std::getenv("NORVANE_BENCH_RUN");
    return other && *other ? other : NORVANE_RUN;
}

int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

pid_t spawn(const std::vector<std::string>& argv) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 1);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

void end(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

int connectWithRetry(int port) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            int one = 1;
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            timeval tv{10, 0};
            ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            return s;
        }
        ::close(s);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

bool sendAll(int s, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t k = ::send(s, p, n, MSG_NOSIGNAL);
        if (k <= 0) return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

bool recvExactly(int s, size_t n) {
    char buf[65536];
    while (n > 0) {
        const ssize_t k = ::recv(s, buf, std::min(n, sizeof buf), 0);
        if (k <= 0) return false;
        n -= static_cast<size_t>(k);
    }
    return true;
}

struct Result {
    bool ok = false;
    double medianUs = 0, p99Us = 0, mbPerS = 0;
};

Result measure(int port, size_t megabytes) {
    Result r;
    const int s = connectWithRetry(port);
    if (s < 0) return r;
    const std::string request = "measure-request\n"; // 16 bytes
    for (int i = 0; i < 200; ++i)                    // warm-up
        if (!sendAll(s, request.data(), request.size()) || !recvExactly(s, request.size())) {
            ::close(s);
            return r;
        }
    std::vector<double> us;
    for (int i = 0; i < 5000; ++i) {
        const auto t0 = Clock::now();
        if (!sendAll(s, request.data(), request.size()) || !recvExactly(s, request.size())) {
            ::close(s);
            return r;
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    std::sort(us.begin(), us.end());
    r.medianUs = us[us.size() / 2];
    r.p99Us = us[us.size() * 99 / 100];

    // Text with no double quote, sent while a second thread takes the echo back.
    std::string chunk(64 * 1024, 'a');
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<char>('a' + i % 26);
    const size_t total = megabytes * 1000 * 1000;
    bool received = false;
    const auto t0 = Clock::now();
    std::thread reader([&] { received = recvExactly(s, total); });
    size_t sent = 0;
    while (sent < total) {
        const size_t n = std::min(chunk.size(), total - sent);
        if (!sendAll(s, chunk.data(), n)) break;
        sent += n;
    }
    reader.join();
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    r.mbPerS = total / 1e6 / secs;
    r.ok = received && sent == total;
    ::close(s);
    return r;
}

void print(const char* name, const Result& r) {
    if (!r.ok) {
        std::printf("%-12s failed\n", name);
        return;
    }
    std::printf("%-12s round trip median %8.1f us  p99 %8.1f us   throughput %8.1f MB/s\n", name,
                r.medianUs, r.p99Us, r.mbPerS);
}

// The pattern sent: 64 KiB of letters repeated, so that an echo can be checked at any offset.
const std::string& pattern() {
    static const std::string p = [] {
        std::string c(64 * 1024, 'a');
        for (size_t i = 0; i < c.size(); ++i)
            c[i] = static_cast<char>('a' + i % 26);
        return c;
    }();
    return p;
}

struct Transfer {
    bool ok = false;
    double mbPerS = 0, cpuPerMb = 0; // the peer's CPU seconds per megabyte, in ms
};

// Sends `total` bytes of the pattern over the connected socket `s` while a second thread
// takes the echo back and checks it; the peer's CPU is read around the transfer.
Transfer transfer(int s, pid_t peer, size_t total) {
    Transfer t;
    const std::string& chunk = pattern();
    bool same = true;
    size_t got = 0;
    const double cpu0 = nvbench::processCpuSeconds(peer);
    const auto t0 = Clock::now();
    std::thread reader([&] {
        std::vector<char> buf(65536);
        while (got < total) {
            const ssize_t k = ::recv(s, buf.data(), std::min(buf.size(), total - got), 0);
            if (k <= 0) return;
            for (ssize_t i = 0; i < k && same; ++i)
                same = buf[size_t(i)] == chunk[(got + size_t(i)) % chunk.size()];
            got += size_t(k);
        }
    });
    size_t sent = 0;
    while (sent < total) {
        const size_t n = std::min(chunk.size(), total - sent);
        if (!sendAll(s, chunk.data(), n)) break;
        sent += n;
    }
    reader.join();
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = nvbench::processCpuSeconds(peer) - cpu0;
    t.ok = same && got == total && sent == total;
    if (!t.ok)
        std::printf("  transfer failed: %zu of %zu bytes sent, %zu came back%s\n", sent, total, got,
                    same ? "" : ", not the bytes sent");
    t.mbPerS = double(total) / 1e6 / secs;
    t.cpuPerMb = cpu * 1e3 / (double(total) / 1e6);
    return t;
}

// A server peer: started, connected to, then one transfer.
Transfer raceServer(const std::vector<std::string>& argv, int port, size_t total) {
    const pid_t pid = spawn(argv);
    Transfer t;
    const int s = connectWithRetry(port);
    if (s >= 0) {
        // One small echo first: the peer has taken the connection and is in its loop.
        if (sendAll(s, "warm\n", 5) && recvExactly(s, 5)) t = transfer(s, pid, total);
        ::close(s);
    }
    end(pid);
    return t;
}

// The echo scripts flush only what they could write: a write refused while the socket's queue
// is full is tried again on the next pass, as a script that must not lose data does.

// A client peer: this program listens, the peer connects, then one transfer.
Transfer raceClient(const std::vector<std::string>& argv, int listener, size_t total) {
    const pid_t pid = spawn(argv);
    Transfer t;
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 10000) == 1) {
        const int s = ::accept(listener, nullptr, nullptr);
        int one = 1;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        timeval tv{10, 0};
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        if (sendAll(s, "warm\n", 5) && recvExactly(s, 5)) t = transfer(s, pid, total);
        ::close(s);
    }
    end(pid);
    return t;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Side {
    const char* name;
    std::vector<double> mbPerS, cpuPerMb;
    int failed = 0;
    void add(const Transfer& t) {
        if (!t.ok) {
            ++failed;
            return;
        }
        mbPerS.push_back(t.mbPerS);
        cpuPerMb.push_back(t.cpuPerMb);
    }
    void print() const {
        std::printf("  %-22s median %8.1f MB/s  CPU %7.2f ms/MB  (%zu transfers, %d failed)\n",
                    name, median(mbPerS), median(cpuPerMb), mbPerS.size(), failed);
    }
};

// Runs `pairs` interleaved pairs (the order alternates) and prints both sides and the ratio.
// True when the script reached `goal` times Python's median throughput.
template <typename Run> bool race(const char* title, int pairs, Side script, Side python, Run run) {
    for (int i = 0; i < pairs; ++i) {
        if (i % 2 == 0) {
            script.add(run(true));
            python.add(run(false));
        } else {
            python.add(run(false));
            script.add(run(true));
        }
    }
    std::printf("%s\n", title);
    script.print();
    python.print();
    const double ratio =
        median(python.mbPerS) > 0 ? median(script.mbPerS) / median(python.mbPerS) : 0;
    std::printf("  throughput ratio script/python3: %.2f (goal >= 0.5: %s); CPU per MB ratio: "
                "%.2f\n",
                ratio, ratio >= 0.5 ? "met" : "MISSED",
                median(python.cpuPerMb) > 0 ? median(script.cpuPerMb) / median(python.cpuPerMb)
                                            : 0.0);
    return ratio >= 0.5 && script.failed == 0;
}

// The echo server every race runs: what it reads it writes back, and it takes out of the
// receive buffer only what the write took (a refused write is tried again with the next read).
std::string echoServerScript(int port) {
    return "tcp_srv_open(" + std::to_string(port) +
           ")\n"
           "while (1 == 1)\n"
           "  x = tcp_srv_read()\n"
           "  n = len(x)\n"
           "  if (n >> 0)\n"
           "    tcp_srv_write(x)\n"
           "    e = error\n"
           "    if (e == 0)\n"
           "      tcp_srv_flush(n)\n"
           "    endif\n"
           "  endif\n"
           "wend\n";
}

std::string writeScript(const std::string& name, const std::string& text) {
    const std::string path = "/tmp/norvane-echo-bench-" + std::to_string(::getpid()) + "-" + name;
    std::ofstream(path) << text;
    return path;
}

const char* kPythonServer = "import socket, sys\n"
                            "s = socket.socket()\n"
                            "s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
                            "s.bind(('127.0.0.1', int(sys.argv[1])))\n"
                            "s.listen(1)\n"
                            "c, _ = s.accept()\n"
                            "c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)\n"
                            "while True:\n"
                            "    d = c.recv(65536)\n"
                            "    if not d:\n"
                            "        break\n"
                            "    c.sendall(d)\n";
const char* kPythonClient = "import socket, sys\n"
                            "c = socket.create_connection(('127.0.0.1', int(sys.argv[1])))\n"
                            "c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)\n"
                            "while True:\n"
                            "    d = c.recv(65536)\n"
                            "    if not d:\n"
                            "        break\n"
                            "    c.sendall(d)\n";

bool races(int pairs, size_t total) {
    std::printf("races: %d interleaved pairs of %zu MB, figures over the transfer alone\n", pairs,
                total / 1000000);
    bool met =
        race("script server vs Python server", pairs, Side{"norvane-run server", {}, {}},
             Side{"python3 server", {}, {}}, [&](bool script) {
                 const int port = freePort();
                 if (!script)
                     return raceServer({"python3", "-c", kPythonServer, std::to_string(port)}, port,
                                       total);
                 const std::string nvs = writeScript("server.nvs", echoServerScript(port));
                 const Transfer t = raceServer({runner(), nvs}, port, total);
                 std::remove(nvs.c_str());
                 return t;
             });
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener, 4);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string port = std::to_string(ntohs(a.sin_port));
    const std::string nvs = writeScript("client.nvs", "tcp_open(\"127.0.0.1\", " + port +
                                                          ")\n"
                                                          "while (1 == 1)\n"
                                                          "  x = tcp_read()\n"
                                                          "  n = len(x)\n"
                                                          "  if (n >> 0)\n"
                                                          "    tcp_write(x)\n"
                                                          "    e = error\n"
                                                          "    if (e == 0)\n"
                                                          "      tcp_flush(n)\n"
                                                          "    endif\n"
                                                          "  endif\n"
                                                          "wend\n");
    met &= race("script client vs Python client", pairs, Side{"norvane-run client", {}, {}},
                Side{"python3 client", {}, {}}, [&](bool script) {
                    return script ? raceClient({runner(), nvs}, listener, total)
                                  : raceClient({"python3", "-c", kPythonClient, port}, listener,
                                               total);
                });
    std::remove(nvs.c_str());
    ::close(listener);
    return met;
}

} // namespace

int main(int argc, char** argv) {
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 50;
    const int pairs = argc > 2 ? std::atoi(argv[2]) : 7;
    const size_t raceBytes = (argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 20) * 1000 * 1000;

    int port = freePort();
    const std::string script = writeScript("echo.nvs", echoServerScript(port));
    pid_t pid = spawn({runner(), script});
    const Result norvane = measure(port, megabytes);
    end(pid);
    std::remove(script.c_str());
    print("norvane-run", norvane);

    port = freePort();
    pid = spawn(
        {"socat", "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr", "PIPE"});
    const Result socat = measure(port, megabytes);
    end(pid);
    print("socat", socat);

    port = freePort();
    const std::string py = "import socket\n"
                           "s = socket.socket()\n"
                           "s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
                           "s.bind(('127.0.0.1', " +
                           std::to_string(port) +
                           "))\n"
                           "s.listen(1)\n"
                           "c, _ = s.accept()\n"
                           "c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)\n"
                           "while True:\n"
                           "    d = c.recv(65536)\n"
                           "    if not d:\n"
                           "        break\n"
                           "    c.sendall(d)\n";
    pid = spawn({"python3", "-c", py});
    const Result python = measure(port, megabytes);
    end(pid);
    print("python3", python);

    if (norvane.ok && socat.ok && python.ok) {
        std::printf("ratios norvane/socat: round trip %.2f, throughput %.2f\n",
                    norvane.medianUs / socat.medianUs, norvane.mbPerS / socat.mbPerS);
        std::printf("ratios norvane/python3: round trip %.2f, throughput %.2f\n",
                    norvane.medianUs / python.medianUs, norvane.mbPerS / python.mbPerS);
        std::printf("goals: median round trip <= 200 us: %s; throughput >= 50 MB/s: %s\n",
                    norvane.medianUs <= 200 ? "met" : "MISSED",
                    norvane.mbPerS >= 50 ? "met" : "MISSED");
    }
    const bool raced = races(pairs, raceBytes);
    return norvane.ok && raced ? 0 : 1;
}
