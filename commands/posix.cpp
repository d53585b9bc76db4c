#include "commands/posix.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace nv::sys {
namespace {

// Largest piece read at once; the result grows piece by piece.
constexpr size_t kReadPiece = size_t(1) << 20;

template <typename F> auto retryEintr(F f) {
    decltype(f()) r;
    do {
        r = f();
    } while (r < 0 && errno == EINTR);
    return r;
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

bool looksLikeAddress(const std::string& t) {
    if (t.rfind("mailto:", 0) == 0 || t.rfind("www.", 0) == 0) return true;
    const size_t colon = t.find("://");
    if (colon == std::string::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; ++i) {
        const char c = t[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok) return false;
    }
    return true;
}

std::vector<std::string> splitCommandLine(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool inQuotes = false, inWord = false;
    for (const char c : text) {
        if (c == '"') {
            inQuotes = !inQuotes;
            inWord = true;
        } else if (!inQuotes && (c == ' ' || c == '\t')) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

} // namespace

// The kernel reads a path up to its first zero byte: a name holding one would reach
// another file than the script named.
bool usablePath(const std::string& path) {
    return path.find('\0') == std::string::npos;
}

int openExisting(const std::string& path) {
    if (!usablePath(path)) return -1;
    // Non-blocking: a FIFO or device must never hold the script's thread in open or read.
    // O_NOCTTY: a terminal opened as a file must not become the program's controlling one.
    int fd = retryEintr(
        [&] { return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); });
    if (fd >= 0 && fd < 3) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        fd = moved;
    }
    return fd < 0 ? -1 : fd;
}

bool createEmpty(const std::string& path) {
    if (!usablePath(path)) return false;
    const int fd = retryEintr(
        [&] { return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); });
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool closeFd(int fd) {
    // EINTR on close leaves the descriptor closed on Linux; retrying could close another.
    return ::close(fd) == 0 || errno == EINTR;
}

int64_t seekFd(int fd, int64_t offset, int whence) {
    static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (whence < 0 || whence > 2) return -1;
    const off_t r = ::lseek(fd, static_cast<off_t>(offset), kWhence[whence]);
    return r < 0 ? -1 : static_cast<int64_t>(r);
}

bool readFd(int fd, uint64_t count, std::string& out) {
    out.clear();
    while (out.size() < count) {
        const size_t piece =
            static_cast<size_t>(std::min<uint64_t>(count - out.size(), kReadPiece));
        const size_t at = out.size();
        out.resize(at + piece);
        const ssize_t n = retryEintr([&] { return ::read(fd, out.data() + at, piece); });
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) { // all that a FIFO holds now
            out.resize(at);
            break;
        }
        if (n < 0) {
            out.clear();
            return false;
        }
        out.resize(at + static_cast<size_t>(n));
        if (n == 0) break;
    }
    return true;
}

bool writeFd(int fd, std::string_view data, uint64_t& written) {
    written = 0;
    while (written < data.size()) {
        const ssize_t n =
            retryEintr([&] { return ::write(fd, data.data() + written, data.size() - written); });
        if (n <= 0) return false;
        written += static_cast<uint64_t>(n);
    }
    return true;
}

std::string findInPath(const std::string& name) {
    if (name.empty()) return {};
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        // An empty entry means the current directory.
        const std::string dir = end > start ? dirs.substr(start, end - start) : std::string(".");
        const std::string candidate = dir + "/" + name;
        if (isExecutableFile(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}

LaunchPlan planLaunch(const std::string& target, const std::string& opener) {
    if (target.empty() || !usablePath(target)) return {};
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && isExecutableFile(target))
        return {target.find('/') == std::string::npos ? "./" + target : target, {}};
    if (exists || looksLikeAddress(target)) {
        const std::string o = opener.find('/') == std::string::npos ? findInPath(opener) : opener;
        if (o.empty() || !isExecutableFile(o)) return {};
        return {o, {target}};
    }
    std::vector<std::string> words = splitCommandLine(target);
    if (words.empty()) return {};
    std::string program = words.front().find('/') == std::string::npos
                              ? findInPath(words.front())
                              : (isExecutableFile(words.front()) ? words.front() : "");
    if (program.empty()) return {};
    words.erase(words.begin());
    return {program, std::move(words)};
}

bool startDetached(const LaunchPlan& plan) {
    if (plan.program.empty() || !usablePath(plan.program)) return false;
    for (const std::string& a : plan.args)
        if (!usablePath(a)) return false;
    // Everything the children need is built before fork: after it only async-signal-safe
    // calls are allowed.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(plan.program.c_str()));
    for (const std::string& a : plan.args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // The grandchild reports a failed exec through this pipe; a successful exec closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return false;
    const int devnull = ::open("/dev/null", O_RDWR | O_CLOEXEC);

    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        if (devnull >= 0) ::close(devnull);
        return false;
    }
    if (child == 0) {
        ::close(report[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
        if (devnull >= 0) {
            ::dup2(devnull, 0);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
        }
        ::execv(argv[0], argv.data());
        const int err = errno;
        ssize_t ignored = ::write(report[1], &err, sizeof err);
        (void)ignored;
        ::_exit(127);
    }
    ::close(report[1]);
    if (devnull >= 0) ::close(devnull);
    int status = 0;
    retryEintr([&] { return ::waitpid(child, &status, 0); });
    int err = 0;
    const ssize_t n = retryEintr([&] { return ::read(report[0], &err, sizeof err); });
    ::close(report[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
}

} // namespace nv::sys
