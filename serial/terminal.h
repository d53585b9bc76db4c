// One serial port connection: TerminalWindow, the open port together with its terminal window
// (a top-most window whose read-only pane "Memo1" traces the traffic in hexadecimal), and
// ReceiveThread, its receive thread. The thread only waits for port events (bytes, room to
// write, modem-line changes, line errors, the device going away) and hands each one to the
// user-interface thread, blocking until it has been handled there; reading, the receive
// buffer, the line flags and the trace all live on the user-interface thread, so nothing is
// shared under a lock but the hand-over itself. A script's receive() also reads the port
// itself, on the same thread (see readOut); meanwhile the thread does not wait for bytes.
//
// Threading: every member function is for the user-interface thread. Closing never waits on
// the user-interface thread (a hand-over still queued is cancelled), so closePort() may join the
// thread without deadlock and the port is free again when closePort() returns.
// Error policy: nothing throws. A port that cannot be opened leaves the connection closed with
// the reason in openError(); line errors only add "PORT ERROR :" lines to the pane. Received
// bytes the receive buffer drops before the script has read them out are counted and reported
// as "COM1: receive buffer full, 1234 bytes dropped", in the log and the pane, at most once a
// second (a close reports what is still uncounted at once). A vanished
// device adds one too, closes the connection, marks it lost and logs "Port lost: " with the
// port's name once; a connection that reconnects (off by default) then looks for its device
// every kSerialReconnectMs, at its path and at the device's stable name in /dev/serial/by-id
// as it was when the port opened, and when it is back opens it again with the same line
// settings and DTR and RTS as the script left them, logging "Port back: " with the port's
// name. A send while the device is away fails as on any lost port. A send is refused (and queues
// nothing) while the output queue already holds kOutputQueueLimit bytes; bytes still unsent when
// the connection closes are logged with their count ("Data not sent to "). Other read and write
// failures are not script errors.
#pragma once

#include "base/limits.h"

#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "serial/serialdevice.h"
#include "serial/terminallayout.h"

class QPlainTextEdit;

namespace nv::serial {

// Event bits of a hand-over (the values the status routine knows them by).
inline constexpr uint32_t kEvRxChar = 0x001;
inline constexpr uint32_t kEvCts = 0x008;
inline constexpr uint32_t kEvDsr = 0x010;
inline constexpr uint32_t kEvRlsd = 0x020;
inline constexpr uint32_t kEvErr = 0x080;
inline constexpr uint32_t kEvRing = 0x100;

// Line-error flags and the device-failure flag of the status routine.
inline constexpr uint32_t kErrRxOver = 1, kErrOverrun = 2, kErrParity = 4, kErrFrame = 8,
                          kErrBreak = 16, kErrTxFull = 256, kErrIo = 1024;

// The pane's text for one exact error value; empty for anything else (several at once).
std::string_view lineErrorText(uint32_t flags);

// The hex trace of `bytes` with `perLine` bytes a line (at least 1): tag, for each position a
// blank and two hex digits (three blanks past the chunk's end), " : ", and the chunk padded to
// perLine with control bytes and 0x7F shown as ".".
std::vector<std::string> traceLines(std::string_view tag, std::string_view bytes, int perLine);

// One piece of the pane's trace as it was added: when (milliseconds since the epoch), its tag
// ("(S) ", "(R) ") and bytes, or a whole line of its own ("PORT ERROR :...") with no tag.
struct TraceChunk {
    std::int64_t ms = 0;
    std::string tag;
    std::string bytes;
};
// The trace as a file keeps it: each line as the pane shows it, after its chunk's local time
// with milliseconds ("2026-12-11 09:30:05.123 "), so the order and pace of an exchange show.
std::string traceFileText(const std::vector<TraceChunk>& chunks, int perLine);

// One line of a traffic log (norvane-run --serial-log): ISO 8601 local time with milliseconds
// and zone, the port, the direction, the bytes in hex and as text (control bytes as "."):
// "2026-12-11T09:30:05.123+01:00 COM5 (S) 2a 49 44 4e 3f 0a : *IDN?.".
std::string trafficLine(std::int64_t ms, std::string_view port, std::string_view tag,
                        std::string_view bytes);

// The receive buffer's rule: past 8192 bytes, each arrival first deletes as many bytes from
// the front as it brings. Returns how many bytes it deleted.
size_t appendReceived(std::string& buffer, std::string_view arrival);
inline constexpr size_t kReceiveLimit = limits::kSerialReceiveBuffer;
// The pane is cleared before a line is added once it holds more than this many lines.
inline constexpr int kMemoLineLimit = limits::kTerminalLines;
// A send is refused while the connection's output queue holds this many bytes.
inline constexpr size_t kOutputQueueLimit = limits::kSerialOutputQueue;
// Least time between two "receive buffer full" lines of one port.
inline constexpr int kOverflowReportMs = 1000;

// What became of the bytes of a send.
enum class SendResult {
    Queued,  // written, or queued to go out as the port takes them
    Refused, // the output queue is full: nothing was queued
    Closed,  // the connection is not open: nothing was queued
};

struct PortEvent {
    uint32_t mask = 0;   // kEv* bits
    uint32_t modem = 0;  // kModem* lines as read after the change
    uint32_t errors = 0; // kErr* flags
    bool writable = false;
    bool gone = false;
};

class TerminalWindow;

class ReceiveThread {
  public:
    ReceiveThread(TerminalWindow& owner, SerialDevice& device);
    ~ReceiveThread(); // stops and joins
    void start();
    void stop();
    // The user-interface thread has bytes waiting to be written.
    void wantWrite(bool on);
    // Whether waiting bytes are handed over; off while the receive buffer has no room, so
    // they stay in the kernel's queue.
    void wantRead(bool on);

  private:
    struct HandOver {
        std::mutex m;
        std::condition_variable cv;
        bool stopping = false;
        bool done = false;
    };
    void waitLoop();
    bool handOver(const PortEvent& ev);

    TerminalWindow& owner_;
    SerialDevice& device_;
    std::shared_ptr<HandOver> hand_ = std::make_shared<HandOver>();
    std::atomic<bool> wantWrite_{false};
    std::atomic<bool> wantRead_{true};
    LineCounters last_; // the receive thread's own once it runs
    bool haveCounters_ = false;
    std::thread thread_;
};

class TerminalWindow : public QWidget {
  public:
    // `rememberedX/Y` are the program's remembered terminal position, written when the user
    // closes the window and when the connection is destroyed.
    TerminalWindow(SerialPlatform& platform, int& rememberedX, int& rememberedY);
    ~TerminalWindow() override;

    void applyLayout(const TerminalLayout& layout);

    // Settings used by openPort().
    std::string portName = "COM4";
    std::string devicePath;
    LineSettings settings{9600, 8, ParityNone, StopOne};
    int bytesPerLine = 8;

    // Named apart from QWidget::close, which only hides the window (see closeEvent).
    bool openPort();
    void closePort();
    bool isOpen() const { return open_; }
    const std::string& openError() const { return openError_; }

    // 0 drops the line, 1 raises it; true only when open and the platform call succeeded.
    bool setDtr(int state);
    bool setRts(int state);
    SendResult send(std::string_view bytes);
    // True once the device has vanished under the open connection (until it is back).
    bool lost() const { return lost_; }
    // Whether a lost device is looked for and the port opened again when it returns.
    bool reconnect = false;
    // Lost, and looking for the device: the connection must stay for it to come back.
    bool awaitingReturn() const { return lost_ && reconnect; }
    // Bytes sent but not yet out of the port: the output queue and the driver's own.
    size_t unsent();
    // Hands queued bytes to the port as far as it takes them now; true when nothing is left
    // unsent (or the connection is not open). Used while a close waits for the queue.
    bool pushOutput();

    // Where the connection's log lines go ("Port lost: ", "Data not sent to ", "receive buffer
    // full"); none: dropped.
    std::function<void(std::string_view)> log;

    const std::string& received() const { return receiveBuffer_; }
    // The buffer as the script reads it out: what it holds now counts as seen, so dropping
    // it later loses nothing the script has not had. While the script polls (calls again
    // within a millisecond), bytes already waiting in the port are taken in first, as far as
    // the buffer has room for them, so a script that reads a stream or waits for an answer
    // gets them without waiting for the receive thread's next hand-over.
    const std::string& readOut();
    void clearReceived();
    void deleteReceived(long long n);
    // True while bytes are left in the kernel's queue because the buffer has no room.
    bool readingHeld() const { return readHeld_; }

    int cts() const { return cts_; }
    int dsr() const { return dsr_; }
    int ring() const { return ring_; }
    int rlsd() const { return rlsd_; }

    QPlainTextEdit* memo = nullptr;
    // Lines in the pane as the 300-line rule counts them, including lines still waiting for the
    // pane's next refresh; flushMemo() brings the pane up to date at once.
    int memoLines() const { return memoLines_; }
    void flushMemo();

    // What the pane shows, as traceFileText gives it, and saved to a file (the pane's context
    // menu offers it); false with the reason when the file cannot be written.
    std::string traceText() const;
    bool saveTrace(const std::string& path, std::string& error) const;

    // Every chunk sent or received, shown or not, as it happens: "(S) " or "(R) " and the
    // bytes (norvane-run --serial-log); none: nothing is kept.
    std::function<void(std::string_view tag, std::string_view bytes)> traffic;

    // The event step, run on the user-interface thread for each hand-over.
    void onPortEvent(const PortEvent& ev);

  protected:
    void closeEvent(QCloseEvent* e) override;

  private:
    bool openDevice(const std::string& path);
    void lookForDevice();
    void receiveBytes(bool all = false);
    size_t receiveRoom(bool untilEmpty);
    void receiveAll();
    void holdReading();
    void syncThreadReading();
    void roomFreed();
    void status(const PortEvent& ev);
    void writePending();
    size_t applyMemoRule(size_t k);
    void trace(std::string_view tag, std::string_view bytes);
    void showMemoMenu(const QPoint& at);
    void addMemoLine(std::string line);
    void scheduleMemo();
    void rememberPosition();
    void reportOverflow();

    SerialPlatform& platform_;
    int& rememberedX_;
    int& rememberedY_;
    std::unique_ptr<SerialDevice> device_;
    std::unique_ptr<ReceiveThread> thread_;
    bool open_ = false;
    bool lost_ = false;
    std::string openError_;
    std::string stableAlias_;        // the device's by-id name when it opened; empty: none
    bool dtr_ = false, rts_ = false; // as the script last set them
    QTimer reconnectTimer_;
    int cts_ = 0, dsr_ = 0, ring_ = 0, rlsd_ = 0;
    std::string receiveBuffer_;
    size_t seen_ = 0;          // bytes at the buffer's front the script has read out
    size_t droppedUnseen_ = 0; // bytes dropped unread and not yet reported
    QTimer overflowTimer_;
    bool readHeld_ = false; // the receive thread waits for room before handing bytes over
    bool stalled_ = false;  // the full buffer was left alone too long: newest bytes win
    QTimer stallTimer_;
    bool scriptReading_ = false; // readOut() takes bytes in itself: the thread leaves them
    bool readSincePass_ = false; // readOut() ran since the last pass of the event loop
    std::chrono::steady_clock::time_point nextScriptRead_{}; // readOut() reads again from here
    std::chrono::steady_clock::time_point lastReadOut_{};
    QTimer scriptReadTimer_;
    std::string pendingOut_;
    size_t droppedOut_ = 0; // queued bytes a failing device refused
    int memoLines_ = 0;
    std::vector<std::string> memoPending_;
    std::vector<TraceChunk> traceRecord_; // what the pane holds, with times
    bool memoClearPending_ = false;
    QTimer memoTimer_;
};

} // namespace nv::serial
