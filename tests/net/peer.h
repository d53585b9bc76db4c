// Plain blocking loopback sockets for the peers that talk to scripts in the TCP tests.
// Every call is bounded in time (receive timeouts, connect retries with a deadline), so a
// peer thread always ends even when the script does not answer.
#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace nvtest {

class Sock {
  public:
    Sock() = default;
    explicit Sock(int fd) : fd_(fd) {}
    Sock(Sock&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Sock& operator=(Sock&& o) noexcept {
        std::swap(fd_, o.fd_);
        return *this;
    }
    ~Sock() {
        if (fd_ >= 0) ::close(fd_);
    }
    int fd() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

    bool sendAll(const std::string& data) const {
        size_t at = 0;
        while (at < data.size()) {
            const ssize_t n = ::send(fd_, data.data() + at, data.size() - at, MSG_NOSIGNAL);
            if (n <= 0) return false;
            at += static_cast<size_t>(n);
        }
        return true;
    }

    // Reads until `want` bytes came, the peer closed, or `timeoutMs` passed.
    std::string recvUpTo(size_t want, int timeoutMs = 5000) const {
        std::string out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buf[65536];
        while (out.size() < want && std::chrono::steady_clock::now() < end) {
            const ssize_t n = ::recv(fd_, buf, std::min(sizeof buf, want - out.size()), 0);
            if (n == 0) break;
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
                break;
            }
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }
    // Everything until the peer closes (bounded).
    std::string recvToEof(int timeoutMs = 5000) const { return recvUpTo(size_t(-1), timeoutMs); }

  private:
    int fd_ = -1;
};

inline sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

inline void setRecvTimeout(int fd, int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

// A listening socket on 127.0.0.1 at a port the kernel picks.
inline Sock listenLoopback(int& port) {
    Sock s(::socket(AF_INET, SOCK_STREAM, 0));
    int one = 1;
    ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = loopback(0);
    if (::bind(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s.fd(), 4))
        return Sock();
    socklen_t len = sizeof a;
    ::getsockname(s.fd(), reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    setRecvTimeout(s.fd(), 5000); // bounds accept() too
    return s;
}

inline Sock acceptOne(const Sock& listener) {
    Sock c(::accept(listener.fd(), nullptr, nullptr));
    if (c.ok()) setRecvTimeout(c.fd(), 200);
    return c;
}

// A port that nothing listens on right now.
inline int freePort() {
    int port = 0;
    Sock s = listenLoopback(port);
    return port;
}

// Connects to 127.0.0.1:port, retrying while nothing listens yet (the script may not have
// reached its tcp_srv_open line). Invalid after `timeoutMs`.
inline Sock connectLoopback(int port, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        Sock s(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in a = loopback(port);
        if (::connect(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            setRecvTimeout(s.fd(), 200);
            return s;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < end);
    return Sock();
}

// One connect attempt: true when something accepts on the port.
inline bool canConnect(int port) {
    Sock s(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a = loopback(port);
    return ::connect(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

} // namespace nvtest
