// The POSIX serial platform. termios2 (asm/termbits.h) is used instead of <termios.h> so that
// any baud rate can be set with BOTHER; the two headers cannot meet in one file, which is why
// nothing else in the program includes this one's headers.
#include "serial/posixserial.h"

#include <asm/termbits.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "base/files.h"
#include <cstring>

namespace nv::serial {

std::string deviceErrorText(int err) {
    return nv::errnoText(err) + " (" + std::to_string(err) + ")";
}

bool settingsValid(const LineSettings& s) {
    return s.baud >= 1 && s.baud <= 4000000 && s.dataBits >= 5 && s.dataBits <= 8 &&
           s.parity <= ParitySpace && s.stopBits <= StopTwo;
}

namespace {

struct SizeFlag {
    uint8_t bits;
    uint32_t flag;
};
constexpr SizeFlag kSizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};

// Parity as control flags: mark and space are "stick" parity (CMSPAR), odd selecting mark.
constexpr uint32_t kParityFlags[] = {
    0,                        // none
    PARENB | PARODD,          // odd
    PARENB,                   // even
    PARENB | PARODD | CMSPAR, // mark
    PARENB | CMSPAR,          // space
};

// The rates that have a speed code. A port set with its code shows a standard speed to every
// tool and peer that reads its settings (stty, a pseudo-terminal's other side, drivers that
// only know the codes); BOTHER is left for the rates that have none.
struct SpeedCode {
    uint32_t baud;
    uint32_t code;
};
constexpr SpeedCode kSpeedCodes[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

uint32_t speedCode(uint32_t baud) {
    for (const auto& c : kSpeedCodes)
        if (c.baud == baud) return c.code;
    return BOTHER;
}

} // namespace

TermiosLine encodeLine(const LineSettings& s, uint32_t cflag) {
    const uint32_t baud = static_cast<uint32_t>(s.baud);
    cflag &= ~(CBAUD | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
    cflag |= speedCode(baud) | CREAD | CLOCAL;
    for (const auto& sz : kSizes)
        if (sz.bits == s.dataBits) cflag |= sz.flag;
    if (s.parity <= ParitySpace) cflag |= kParityFlags[s.parity];
    // One and a half stop bits is what a UART sends for two with a 5-bit word.
    if (s.stopBits != StopOne) cflag |= CSTOPB;
    return {cflag, baud};
}

LineSettings decodeLine(uint32_t cflag, uint32_t speed) {
    LineSettings s;
    s.baud = static_cast<int32_t>(speed);
    // A speed code says the rate even where the speed field was not kept up to date.
    for (const auto& c : kSpeedCodes)
        if ((cflag & CBAUD) == c.code) s.baud = static_cast<int32_t>(c.baud);
    for (const auto& sz : kSizes)
        if ((cflag & CSIZE) == sz.flag) s.dataBits = sz.bits;
    s.parity = ParityNone;
    const uint32_t p = cflag & (PARENB | PARODD | CMSPAR);
    for (uint8_t i = 0; i <= ParitySpace; ++i)
        if (kParityFlags[i] == p) s.parity = i;
    s.stopBits = (cflag & CSTOPB) ? StopTwo : StopOne;
    return s;
}

namespace {

bool isTerminal(int fd) {
    struct termios2 t;
    return ::ioctl(fd, TCGETS2, &t) == 0;
}

class PosixDevice final : public SerialDevice {
  public:
    PosixDevice(int fd, int wakeFd) : fd_(fd), wakeFd_(wakeFd) {}
    ~PosixDevice() override {
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_); // also releases the flock
        ::close(wakeFd_);
    }

    bool configure(const LineSettings& s) override {
        if (!settingsValid(s)) return false;
        struct termios2 t;
        if (::ioctl(fd_, TCGETS2, &t) != 0) return false;
        // Binary mode: no translation, no flow control, no echo, no signals, no error
        // replacement; a read returns whatever has arrived.
        t.c_iflag = 0;
        t.c_oflag = 0;
        t.c_lflag = 0;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        const TermiosLine line = encodeLine(s, t.c_cflag);
        t.c_cflag = line.cflag;
        t.c_ispeed = t.c_ospeed = line.speed;
        return ::ioctl(fd_, TCSETS2, &t) == 0;
    }

    bool readSettings(LineSettings& s) override {
        struct termios2 t;
        if (::ioctl(fd_, TCGETS2, &t) != 0) return false;
        s = decodeLine(t.c_cflag, t.c_ospeed);
        return true;
    }

    bool setDtr(bool on) override { return setModem(TIOCM_DTR, on); }
    bool setRts(bool on) override { return setModem(TIOCM_RTS, on); }

    bool modemLines(uint32_t& bits) override {
        int m = 0;
        if (::ioctl(fd_, TIOCMGET, &m) != 0) return false;
        bits = ((m & TIOCM_CTS) ? kModemCts : 0) | ((m & TIOCM_DSR) ? kModemDsr : 0) |
               ((m & TIOCM_RI) ? kModemRing : 0) | ((m & TIOCM_CD) ? kModemRlsd : 0);
        return true;
    }

    bool counters(LineCounters& c) override {
        struct serial_icounter_struct ic;
        if (::ioctl(fd_, TIOCGICOUNT, &ic) != 0) return false;
        c = {static_cast<uint32_t>(ic.cts),        static_cast<uint32_t>(ic.dsr),
             static_cast<uint32_t>(ic.rng),        static_cast<uint32_t>(ic.dcd),
             static_cast<uint32_t>(ic.frame),      static_cast<uint32_t>(ic.overrun),
             static_cast<uint32_t>(ic.parity),     static_cast<uint32_t>(ic.brk),
             static_cast<uint32_t>(ic.buf_overrun)};
        return true;
    }

    size_t queued() override {
        int n = 0;
        return ::ioctl(fd_, FIONREAD, &n) == 0 && n > 0 ? static_cast<size_t>(n) : 0;
    }

    size_t outQueued() override {
        int n = 0;
        return ::ioctl(fd_, TIOCOUTQ, &n) == 0 && n > 0 ? static_cast<size_t>(n) : 0;
    }

    long read(char* buf, size_t n) override {
        readsStarted_.fetch_add(1);
        const Finish finish{readsDone_};
        for (;;) {
            const ssize_t r = ::read(fd_, buf, n);
            if (r > 0) return r;
            if (r == 0) return -1; // hung up
            if (errno == EINTR) continue;
            return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
        }
    }

    long write(const char* data, size_t n) override {
        for (;;) {
            const ssize_t w = ::write(fd_, data, n);
            if (w >= 0) return w;
            if (errno == EINTR) continue;
            return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
        }
    }

    void purge(bool input, bool output) override {
        if (input || output)
            ::ioctl(fd_, TCFLSH, input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH);
    }

    WaitResult wait(int timeoutMs, bool wantWrite, bool wantRead) override {
        // The user-interface thread also reads (a script taking bytes in as it asks for them):
        // bytes seen by the poll may be gone by the time they are counted. Only when no read
        // ran meanwhile does "readable but nothing to read" mean the device failed.
        const uint64_t started = readsStarted_.load(), done = readsDone_.load();
        struct pollfd p[2] = {
            {fd_, static_cast<short>((wantRead ? POLLIN : 0) | (wantWrite ? POLLOUT : 0)), 0},
            {wakeFd_, POLLIN, 0}};
        for (;;) {
            const int r = ::poll(p, 2, timeoutMs);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return WaitResult::Gone;
            if (r == 0) return WaitResult::Timeout;
            break;
        }
        if (p[1].revents & POLLIN) {
            uint64_t v;
            [[maybe_unused]] auto n = ::read(wakeFd_, &v, sizeof v);
            return WaitResult::Woken;
        }
        // Bytes that arrived before a hang-up are still delivered; the hang-up is reported
        // once they have been read.
        if ((p[0].revents & POLLIN) && queued() > 0) return WaitResult::Readable;
        if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return WaitResult::Gone;
        if (p[0].revents & POLLIN) {
            const bool readMeanwhile = readsStarted_.load() != started ||
                                       readsDone_.load() != done ||
                                       readsStarted_.load() != readsDone_.load();
            return readMeanwhile ? WaitResult::Timeout : WaitResult::Gone;
        }
        if (p[0].revents & POLLOUT) return WaitResult::Writable;
        return WaitResult::Timeout;
    }

    void wake() override {
        const uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
    }

  private:
    bool setModem(int bit, bool on) { return ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) == 0; }

    // Counts a read as done however it returns.
    struct Finish {
        std::atomic<uint64_t>& done;
        ~Finish() { done.fetch_add(1); }
    };

    int fd_;
    int wakeFd_;
    std::atomic<uint64_t> readsStarted_{0}, readsDone_{0};
};

class PosixPlatform final : public SerialPlatform {
  public:
    PosixPlatform(std::string lockDir, std::string byIdDir)
        : lockDir_(std::move(lockDir)), byIdDir_(std::move(byIdDir)) {}

    std::unique_ptr<SerialDevice> open(const std::string& path, std::string* error) override {
        auto fail = [&](const char* what, int err) -> std::unique_ptr<SerialDevice> {
            if (error) *error = path + ": " + what + ": " + deviceErrorText(err);
            return nullptr;
        };
        if (lockedByOther(path)) return fail("held by another program", EBUSY);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return fail("open", errno);
        auto closeFail = [&](const char* what) {
            const int err = errno;
            ::close(fd);
            return fail(what, err);
        };
        if (!isTerminal(fd)) return closeFail("not a serial device");
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return closeFail("held by another program");
        if (::ioctl(fd, TIOCEXCL) != 0) return closeFail("exclusive mode");
        const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd < 0) return closeFail("eventfd");
        return std::make_unique<PosixDevice>(fd, wakeFd);
    }

    // The probe does not set exclusive mode: on a port someone else has open (the console,
    // a terminal program) that flag would outlive the probe and lock them out.
    bool probe(const std::string& path) override {
        if (lockedByOther(path)) return false;
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        const bool free = isTerminal(fd) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        ::close(fd);
        return free;
    }

    // The link in the by-id folder that leads to the same device node as `path`. The folder
    // holds only what udev put there; a name that is already in it is its own stable name.
    std::string stableAlias(const std::string& path) override {
        if (byIdDir_.empty() || path.rfind(byIdDir_ + "/", 0) == 0) return {};
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real) return {};
        const std::string target = real;
        std::free(real);
        std::string found;
        if (DIR* dir = ::opendir(byIdDir_.c_str())) {
            while (const dirent* e = ::readdir(dir)) {
                if (e->d_name[0] == '.') continue;
                const std::string link = byIdDir_ + "/" + e->d_name;
                if (char* r = ::realpath(link.c_str(), nullptr)) {
                    const bool same = target == r;
                    std::free(r);
                    if (same) {
                        found = link;
                        break;
                    }
                }
            }
            ::closedir(dir);
        }
        return found;
    }

  private:
    // A UUCP lock file ("LCK..ttyUSB0", "LCK..pts_3") whose process is alive. Anyone may
    // create files in the lock folder, so the name may hold a FIFO (whose open and read
    // would wait for a writer forever), a link to a device (whose open has effects) or a
    // folder: only a regular file, opened without following links and without waiting, is
    // read, and only its first bytes.
    bool lockedByOther(const std::string& path) const {
        std::string name = path.rfind("/dev/", 0) == 0 ? path.substr(5) : path;
        for (char& c : name)
            if (c == '/') c = '_';
        const std::string lockPath = lockDir_ + "/LCK.." + name;
        const int fd = ::open(lockPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat st {};
        char buf[32] = {};
        ssize_t n = -1;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) n = ::read(fd, buf, sizeof buf - 1);
        ::close(fd);
        if (n <= 0) return false;
        long pid = 0;
        if (n == 4 && (buf[0] < '0' || buf[0] > '9') && buf[0] != ' ') {
            int32_t bin; // old binary lock files hold the pid as a machine word
            std::memcpy(&bin, buf, 4);
            pid = bin;
        } else {
            pid = std::strtol(buf, nullptr, 10);
        }
        if (pid <= 0 || pid == ::getpid()) return false;
        return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
    }

    std::string lockDir_;
    std::string byIdDir_;
};

} // namespace

std::unique_ptr<SerialPlatform> posixSerialPlatform(std::string lockDir, std::string byIdDir) {
    return std::make_unique<PosixPlatform>(std::move(lockDir), std::move(byIdDir));
}

} // namespace nv::serial
