// A pseudo-terminal pair for serial tests: the program opens the slave's path as its port,
// the test plays the device on the master. Every wait is bounded.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <string>
#include <thread>

namespace nv::serial::test {

class Pty {
  public:
    Pty() {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
            path_ = name;
            ::close(slave); // the program opens the slave itself
            ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        }
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& path() const { return path_; }
    int master() const { return master_; }
    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    // Writes all bytes (waiting for room, at most `ms` in total).
    bool write(const std::string& bytes, int ms = 5000) {
        size_t done = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (done < bytes.size() && std::chrono::steady_clock::now() < end) {
            const ssize_t w = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (w > 0) {
                done += static_cast<size_t>(w);
            } else {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 10);
            }
        }
        return done == bytes.size();
    }

    // Reads until `n` bytes came or `ms` passed.
    std::string read(size_t n, int ms = 3000) {
        std::string out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        char buf[65536];
        while (out.size() < n && std::chrono::steady_clock::now() < end) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
            if (r > 0) out.append(buf, static_cast<size_t>(r));
        }
        return out;
    }

  private:
    int master_ = -1;
    std::string path_;
};

// Processes events until `pred` holds or `ms` passed; returns pred().
template <class P> bool pumpUntil(P pred, int ms = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return pred();
}

} // namespace nv::serial::test
