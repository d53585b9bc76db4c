#include "engine/eventgate.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

namespace nv::eventgate {

namespace detail {
std::atomic<bool> waiting{false};
} // namespace detail

namespace {

// Counts passes (and list changes): the watcher sleeps on it after raising the flag.
std::atomic<unsigned> passes{0};
std::atomic<bool> watcherParked{false};

class Watcher {
  public:
    ~Watcher() {
        {
            std::lock_guard lock(m_);
            stopping_ = true;
        }
        wake();
        if (thread_.joinable()) thread_.join();
        if (changed_ >= 0) ::close(changed_);
    }

    void add(int fd) {
        std::lock_guard lock(m_);
        if (changed_ < 0) {
            changed_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
            if (changed_ < 0) return;
            thread_ = std::thread([this] { loop(); });
        }
        fds_.push_back(fd);
        wakeLocked();
    }

    void remove(int fd) {
        std::lock_guard lock(m_);
        const auto it = std::find(fds_.begin(), fds_.end(), fd);
        if (it == fds_.end()) return;
        fds_.erase(it);
        wakeLocked();
    }

  private:
    void wake() {
        std::lock_guard lock(m_);
        wakeLocked();
    }
    void wakeLocked() {
        if (changed_ >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(changed_, &one, sizeof one);
        }
        passes.fetch_add(1);
        passes.notify_all();
    }

    void loop() {
        std::vector<pollfd> polled;
        for (;;) {
            {
                std::lock_guard lock(m_);
                if (stopping_) return;
                polled.assign(1, pollfd{changed_, POLLIN, 0});
                for (int fd : fds_)
                    polled.push_back(pollfd{fd, POLLIN, 0});
            }
            const unsigned seen = passes.load();
            if (::poll(polled.data(), polled.size(), -1) < 0) continue;
            if (polled[0].revents) {
                uint64_t n;
                [[maybe_unused]] ssize_t r = ::read(changed_, &n, sizeof n);
                continue;
            }
            bool ready = false;
            for (size_t i = 1; i < polled.size(); ++i) {
                if (polled[i].revents & POLLNVAL) {
                    // Closed under the watcher: nothing more will come from it.
                    std::lock_guard lock(m_);
                    const auto it = std::find(fds_.begin(), fds_.end(), polled[i].fd);
                    if (it != fds_.end()) fds_.erase(it);
                } else if (polled[i].revents) {
                    ready = true;
                }
            }
            if (!ready) continue;
            notify();
            // Until a pass has read what is there, the descriptor stays readable: wait for
            // the pass (or a change of the list, or the end) instead of raising it again.
            watcherParked.store(true);
            passes.wait(seen);
            watcherParked.store(false);
        }
    }

    std::mutex m_;
    std::vector<int> fds_;
    int changed_ = -1;
    bool stopping_ = false;
    std::thread thread_;
};

Watcher& watcher() {
    static Watcher w;
    return w;
}

} // namespace

void passDone() noexcept {
    passes.fetch_add(1);
    if (watcherParked.load()) passes.notify_all();
}

void watchDescriptor(int fd) {
    if (fd >= 0) watcher().add(fd);
}

void unwatchDescriptor(int fd) {
    if (fd >= 0) watcher().remove(fd);
}

} // namespace nv::eventgate
