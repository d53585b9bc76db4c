// The serial platform: the one small interface through which the serial subsystem reaches the
// operating system. A SerialPlatform opens device paths exclusively and probes them; a
// SerialDevice is one open port (line settings, DTR and RTS, modem lines, line-error counters,
// non-blocking reads and writes, and a wait that a second thread can interrupt). The POSIX
// implementation (posixSerialPlatform) works on termios devices; tests substitute a fake
// where a pseudo-terminal cannot show a behaviour (modem lines, line errors).
//
// Threading: a SerialDevice is used by the user-interface thread and by the port's receive
// thread at once; wait() runs on the receive thread, wake() may be called from any thread,
// everything else on the user-interface thread. Platform calls are thread-safe.
// Error policy: nothing throws; calls return false (or -1) and the open reports a readable
// reason built by deviceErrorText() (errno in words and its number).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace nv::serial {

// Parity values as the connection stores them.
enum Parity : uint8_t {
    ParityNone = 0,
    ParityOdd = 1,
    ParityEven = 2,
    ParityMark = 3,
    ParitySpace = 4
};
// Stop-bit values as the connection stores them: one, one and a half, two.
enum StopBits : uint8_t { StopOne = 0, StopOneHalf = 1, StopTwo = 2 };

struct LineSettings {
    int32_t baud = 9600;
    uint8_t dataBits = 8;
    uint8_t parity = ParityEven;
    uint8_t stopBits = StopOne;
    bool operator==(const LineSettings&) const = default;
};

// True when the settings are ones a UART can take: baud 1 to 4000000, 5 to 8 data bits,
// a known parity and stop-bit value.
bool settingsValid(const LineSettings& s);

// Modem line bits as the status routine reads them.
inline constexpr uint32_t kModemCts = 0x10;
inline constexpr uint32_t kModemDsr = 0x20;
inline constexpr uint32_t kModemRing = 0x40;
inline constexpr uint32_t kModemRlsd = 0x80;

// Running totals of line events kept by the driver. They only grow; a change between two
// readings is an event.
struct LineCounters {
    uint32_t cts = 0, dsr = 0, ring = 0, rlsd = 0;
    uint32_t frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    bool operator==(const LineCounters&) const = default;
};

enum class WaitResult {
    Readable, // bytes are waiting
    Writable, // the output queue has room again
    Timeout,  // the interval passed without data
    Woken,    // wake() was called
    Gone,     // the device hung up or failed: no more events will come
};

class SerialDevice {
  public:
    virtual ~SerialDevice() = default; // closes the device and releases its lock

    virtual bool configure(const LineSettings& s) = 0;
    virtual bool readSettings(LineSettings& s) = 0;
    virtual bool setDtr(bool on) = 0;
    virtual bool setRts(bool on) = 0;
    // The kModem* bits of the lines that are on.
    virtual bool modemLines(uint32_t& bits) = 0;
    // False when the driver keeps no counters (pseudo-terminals); the receive thread then
    // waits for data only.
    virtual bool counters(LineCounters& c) = 0;
    // Bytes waiting in the input queue (0 when unknown).
    virtual size_t queued() = 0;
    // Bytes the driver has accepted but not yet sent (0 when unknown).
    virtual size_t outQueued() = 0;
    // Non-blocking: bytes read, 0 when none wait, -1 when the device has failed.
    virtual long read(char* buf, size_t n) = 0;
    // Non-blocking: bytes the output queue accepted (possibly fewer than n, 0 when full),
    // -1 when the device has failed.
    virtual long write(const char* data, size_t n) = 0;
    // Discards the input queue, the output queue (bytes not yet sent), or both.
    virtual void purge(bool input, bool output) = 0;
    // Blocks until bytes wait (only when `wantRead`), the output queue has room (only when
    // `wantWrite`), the device goes away, wake() is called or timeoutMs passes (-1: no
    // time-out).
    virtual WaitResult wait(int timeoutMs, bool wantWrite, bool wantRead) = 0;
    // Makes the current or next wait() return Woken. Any thread.
    virtual void wake() = 0;
};

class SerialPlatform {
  public:
    virtual ~SerialPlatform() = default;
    // Opens a path exclusively (nobody else may hold it while we do). Null on failure, with
    // the reason in `error` when given.
    virtual std::unique_ptr<SerialDevice> open(const std::string& path,
                                               std::string* error = nullptr) = 0;
    // True when the path could be opened exclusively right now (it exists, is a serial
    // device, and neither this program nor another holds it).
    virtual bool probe(const std::string& path) = 0;
    // A second name of the device at `path` that stays the same when the device comes back
    // on another node (Linux: its link in /dev/serial/by-id); empty when it has none or
    // `path` is already such a name.
    virtual std::string stableAlias(const std::string& /*path*/) { return {}; }
};

// The POSIX platform. `lockDir` is where UUCP lock files ("LCK..ttyUSB0") of other programs
// are looked for; any local user can write there, so only regular files are read, and
// never in a way that can block.
// `byIdDir` is where stable names of USB serial devices are looked for.
std::unique_ptr<SerialPlatform> posixSerialPlatform(std::string lockDir = "/var/lock",
                                                    std::string byIdDir = "/dev/serial/by-id");

// "No such file or directory (2)": the one place that turns an errno value into a message.
// errno in words with its number, as device errors are shown: "No such file or directory (2)".
std::string deviceErrorText(int err);

} // namespace nv::serial
