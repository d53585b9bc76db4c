#include "cli/signalpipe.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace nv {
namespace {

std::atomic<int> firstSignal{0};
int wakeRead = -1, wakeWrite = -1;

static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free flag");

extern "C" void onStopSignal(int sig) {
    int none = 0;
    if (!firstSignal.compare_exchange_strong(none, sig)) ::_exit(128 + sig);
    const int saved = errno;
    const char byte = static_cast<char>(sig);
    ssize_t ignored = ::write(wakeWrite, &byte, 1);
    (void)ignored;
    errno = saved;
}

} // namespace

SignalPipe::SignalPipe(std::initializer_list<int> watched) : signals_(watched) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        signals_.clear();
        return;
    }
    wakeRead = fds[0];
    wakeWrite = fds[1];
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART, see the header
    for (const int s : signals_)
        ::sigaction(s, &sa, nullptr);
}

SignalPipe::~SignalPipe() {
    // The default action again: a signal after this point ends the process at once.
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    for (const int s : signals_)
        ::sigaction(s, &sa, nullptr);
    if (wakeRead >= 0) ::close(wakeRead);
    if (wakeWrite >= 0) ::close(wakeWrite);
    wakeRead = wakeWrite = -1;
}

int SignalPipe::readFd() const {
    return wakeRead;
}

bool SignalPipe::drain() {
    char buf[16];
    bool any = false;
    while (::read(wakeRead, buf, sizeof buf) > 0)
        any = true;
    return any;
}

int SignalPipe::received() {
    return firstSignal.load();
}

} // namespace nv
