// The TCP server path of a script, measured end to end: norvane-run runs an echo script
// (poll tcp_srv_read, answer with tcp_srv_write, consume with tcp_srv_flush) and a client on
// loopback measures
//   - the round trip of a small request (median and 99th percentile over many), and
//   - the throughput of 50 MB of text (no double quotes) sent and echoed back.
// The same client then measures an echo served by socat and by a short Python script in
// the same run, and the ratios are printed. Goals: median round trip within 200 us, at
// least 50 MB/s.
//
// Usage: bench_net_echo [MEGABYTES] (default 50). Every peer this program starts is ended
// by its process id when its measurement is done.
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

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

} // namespace

int main(int argc, char** argv) {
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 50;

    int port = freePort();
    const std::string script = "/tmp/norvane-echo-bench-" + std::to_string(::getpid()) + ".nvs";
    if (FILE* f = std::fopen(script.c_str(), "w")) {
        std::fprintf(f,
                     "tcp_srv_open(%d)\n"
                     "while (1 == 1)\n"
                     "  x = tcp_srv_read()\n"
                     "  n = len(x)\n"
                     "  if (n >> 0)\n"
                     "    tcp_srv_write(x)\n"
                     "    tcp_srv_flush(n)\n"
                     "  endif\n"
                     "wend\n",
                     port);
        std::fclose(f);
    }
    pid_t pid = spawn({NORVANE_RUN, script});
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
    return norvane.ok ? 0 : 1;
}
