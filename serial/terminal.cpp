#include "serial/terminal.h"

#include "base/ascii.h"
#include "base/files.h"
#include "baseqt/displaytext.h"
#include "engine/eventgate.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QVBoxLayout>
#include <chrono>
#include <ctime>

namespace nv::serial {

namespace {

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// "2026-12-11 09:30:05.123 ": local time, as the log's own time stamps are.
std::string localStamp(std::int64_t ms) {
    const std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    localtime_r(&secs, &tm);
    char buf[40];
    const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    char frac[8];
    std::snprintf(frac, sizeof frac, ".%03d ", static_cast<int>(ms % 1000));
    return std::string(buf, n) + frac;
}

struct ErrorText {
    uint32_t flags;
    std::string_view text;
};
constexpr ErrorText kErrorTexts[] = {
    {kErrRxOver, "An input buffer overflow has occurred"},
    {kErrOverrun, "Character-buffer overrun has occurred"},
    {kErrParity, "Parity error"},
    {kErrFrame, "Framing error"},
    {kErrBreak, "Break detected"},
    {kErrTxFull, "Output buffer was full"},
    {kErrIo, "I/O Error"},
};

// A counter that moved between two readings adds its event or error bit.
struct CounterBit {
    uint32_t LineCounters::*field;
    uint32_t event;
    uint32_t error;
};
constexpr CounterBit kCounterBits[] = {
    {&LineCounters::cts, kEvCts, 0},
    {&LineCounters::dsr, kEvDsr, 0},
    {&LineCounters::rlsd, kEvRlsd, 0},
    {&LineCounters::ring, kEvRing, 0},
    {&LineCounters::frame, kEvErr, kErrFrame},
    {&LineCounters::overrun, kEvErr, kErrOverrun},
    {&LineCounters::parity, kEvErr, kErrParity},
    {&LineCounters::brk, kEvErr, kErrBreak},
    {&LineCounters::bufOverrun, kEvErr, kErrRxOver},
};

// How often waiting trace lines reach the pane.
constexpr int kMemoRefreshMs = 15;
// How often the receive thread reads the line counters of a driver that keeps them.
constexpr int kCounterIntervalMs = 20;
// The most bytes one hand-over reads; more waiting bytes make another hand-over at once.
constexpr size_t kReadChunk = 65536;
// How long receive() leaves the port alone after each of its reads: also the most it adds to
// the time a script polling for an answer takes to see it.
constexpr int kScriptReadPauseUs = 20;

QColor rgb(uint32_t v) {
    return QColor((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

} // namespace

std::string_view lineErrorText(uint32_t flags) {
    for (const auto& e : kErrorTexts)
        if (e.flags == flags) return e.text;
    return {};
}

std::vector<std::string> traceLines(std::string_view tag, std::string_view bytes, int perLine) {
    static const char kHex[] = "0123456789abcdef";
    const size_t n = static_cast<size_t>(perLine < 1 ? 1 : perLine);
    std::vector<std::string> lines;
    lines.reserve((bytes.size() + n - 1) / n);
    for (size_t at = 0; at < bytes.size(); at += n) {
        const std::string_view chunk = bytes.substr(at, n);
        std::string line;
        line.reserve(tag.size() + 4 * n + 3);
        line.append(tag);
        for (size_t i = 0; i < n; ++i) {
            if (i < chunk.size()) {
                const auto b = static_cast<unsigned char>(chunk[i]);
                line += ' ';
                line += kHex[b >> 4];
                line += kHex[b & 15];
            } else {
                line.append(3, ' ');
            }
        }
        line += " : ";
        for (size_t i = 0; i < n; ++i) {
            const char c = i < chunk.size() ? chunk[i] : ' ';
            const auto b = static_cast<unsigned char>(c);
            line += (b < 0x20 || b == 0x7F) ? '.' : c;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string trafficLine(std::int64_t ms, std::string_view port, std::string_view tag,
                        std::string_view bytes) {
    const std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    localtime_r(&secs, &tm);
    char when[40], zone[8];
    const size_t n = std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &tm);
    std::strftime(zone, sizeof zone, "%z", &tm); // +0100
    char frac[8];
    std::snprintf(frac, sizeof frac, ".%03d", static_cast<int>(ms % 1000));
    std::string out(when, n);
    out += frac;
    out.append(zone, 3).append(":").append(zone + 3);
    out += ' ';
    out += port;
    out += ' ';
    if (bytes.empty()) return out + std::string(nv::trimView(tag));
    // traceLines with the whole chunk on one line; its padding is none then.
    out += traceLines(nv::trimView(tag), bytes, static_cast<int>(std::max<size_t>(1, bytes.size())))
               .front();
    return out;
}

std::string traceFileText(const std::vector<TraceChunk>& chunks, int perLine) {
    std::string out;
    for (const TraceChunk& c : chunks) {
        const std::string stamp = localStamp(c.ms);
        if (c.tag.empty()) {
            out += stamp + c.bytes + '\n';
            continue;
        }
        for (const std::string& line : traceLines(c.tag, c.bytes, perLine))
            out += stamp + line + '\n';
    }
    return out;
}

size_t appendReceived(std::string& buffer, std::string_view arrival) {
    size_t dropped = 0;
    if (buffer.size() > kReceiveLimit) {
        dropped = std::min(arrival.size(), buffer.size());
        buffer.erase(0, dropped);
    }
    buffer.append(arrival);
    return dropped;
}

// --- ReceiveThread -----------------------------------------------------------------------

ReceiveThread::ReceiveThread(TerminalWindow& owner, SerialDevice& device)
    : owner_(owner), device_(device) {}

ReceiveThread::~ReceiveThread() {
    stop();
}

// The counters' starting point is read before the thread runs, so that a change made right
// after the port opened is not taken for the starting point.
void ReceiveThread::start() {
    haveCounters_ = device_.counters(last_);
    thread_ = std::thread([this] { waitLoop(); });
}

void ReceiveThread::stop() {
    {
        std::lock_guard lock(hand_->m);
        hand_->stopping = true;
    }
    hand_->cv.notify_all();
    device_.wake();
    if (thread_.joinable()) thread_.join();
}

void ReceiveThread::wantWrite(bool on) {
    if (wantWrite_.exchange(on) != on && on) device_.wake();
}

void ReceiveThread::wantRead(bool on) {
    if (wantRead_.exchange(on) != on && on) device_.wake();
}

void ReceiveThread::waitLoop() {
    LineCounters& last = last_;
    const bool haveCounters = haveCounters_;
    for (;;) {
        {
            std::lock_guard lock(hand_->m);
            if (hand_->stopping) return;
        }
        PortEvent ev;
        switch (device_.wait(haveCounters ? kCounterIntervalMs : -1, wantWrite_.load(),
                             wantRead_.load())) {
        case WaitResult::Readable:
            // Bytes nobody wants handed over now (the buffer is full, or the script reads
            // them in itself) are left where they are; whoever wants them again wakes us.
            if (wantRead_.load()) ev.mask |= kEvRxChar;
            break;
        case WaitResult::Writable:
            ev.writable = true;
            break;
        case WaitResult::Gone:
            ev.gone = true;
            break;
        case WaitResult::Woken:
            // A wake-up for new output arms the next wait with room-to-write; the stop flag
            // is checked at the top.
            ev.writable = wantWrite_.load();
            break;
        case WaitResult::Timeout:
            break;
        }
        LineCounters now;
        if (haveCounters && device_.counters(now) && !(now == last)) {
            for (const auto& c : kCounterBits)
                if (now.*c.field != last.*c.field) {
                    ev.mask |= c.event;
                    ev.errors |= c.error;
                }
            last = now;
        }
        if (ev.mask & (kEvCts | kEvDsr | kEvRlsd | kEvRing)) device_.modemLines(ev.modem);
        if (ev.mask == 0 && !ev.writable && !ev.gone) continue;
        if (!handOver(ev) || ev.gone) return;
    }
}

// Posts the event to the user-interface thread and blocks until it has run there or the
// connection is closing; a queued event whose connection is closing does nothing, so stop()
// never waits for the user-interface thread.
bool ReceiveThread::handOver(const PortEvent& ev) {
    auto hand = hand_;
    {
        std::lock_guard lock(hand->m);
        if (hand->stopping) return false;
        hand->done = false;
    }
    TerminalWindow* owner = &owner_;
    QMetaObject::invokeMethod(
        owner,
        [owner, hand, ev] {
            {
                std::lock_guard lock(hand->m);
                if (hand->stopping) return;
            }
            owner->onPortEvent(ev);
            {
                std::lock_guard lock(hand->m);
                hand->done = true;
            }
            hand->cv.notify_all();
        },
        Qt::QueuedConnection);
    // Posted first, flagged second: the interpreter's next line then finds it queued.
    eventgate::notify();
    std::unique_lock lock(hand->m);
    hand->cv.wait(lock, [&] { return hand->done || hand->stopping; });
    return !hand->stopping;
}

// --- TerminalWindow -------------------------------------------------------------------------

TerminalWindow::TerminalWindow(SerialPlatform& platform, int& rememberedX, int& rememberedY)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint), platform_(platform),
      rememberedX_(rememberedX), rememberedY_(rememberedY) {
    memo = new QPlainTextEdit(this);
    memo->setObjectName("Memo1");
    memo->setReadOnly(true);
    memo->setUndoRedoEnabled(false);
    memo->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(memo, &QWidget::customContextMenuRequested, this,
                     [this](const QPoint& at) { showMemoMenu(at); });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(memo);
    memoTimer_.setSingleShot(true);
    memoTimer_.setInterval(kMemoRefreshMs);
    QObject::connect(&memoTimer_, &QTimer::timeout, this, [this] { flushMemo(); });
    overflowTimer_.setSingleShot(true);
    overflowTimer_.setInterval(kOverflowReportMs);
    QObject::connect(&overflowTimer_, &QTimer::timeout, this, [this] { reportOverflow(); });
    stallTimer_.setSingleShot(true);
    stallTimer_.setInterval(limits::kSerialReceiveStallMs);
    QObject::connect(&stallTimer_, &QTimer::timeout, this, [this] {
        stalled_ = true;
        readHeld_ = false;
        scriptReading_ = false;
        syncThreadReading();
    });
    // Fires at each pass of the event loop: the interpreter makes one at least every
    // millisecond while lines run, and a wait (sleep, waitfor, the end of the run) makes
    // several at once. The first pass with no receive() since the one before gives reading
    // back to the receive thread, so bytes that arrive while the script is not reading are
    // handed over as ever; a script that keeps reading keeps the thread out of the way.
    scriptReadTimer_.setSingleShot(true);
    scriptReadTimer_.setInterval(0);
    QObject::connect(&scriptReadTimer_, &QTimer::timeout, this, [this] {
        if (readSincePass_) {
            readSincePass_ = false;
            scriptReadTimer_.start();
            return;
        }
        scriptReading_ = false;
        syncThreadReading();
    });
    reconnectTimer_.setInterval(limits::kSerialReconnectMs);
    QObject::connect(&reconnectTimer_, &QTimer::timeout, this, [this] { lookForDevice(); });
    applyLayout(TerminalLayout{});
}

TerminalWindow::~TerminalWindow() {
    rememberPosition();
    closePort();
}

void TerminalWindow::applyLayout(const TerminalLayout& l) {
    setWindowFlag(Qt::WindowMinimizeButtonHint, true);
    setWindowFlag(Qt::WindowMaximizeButtonHint, l.sizeable);
    if (l.sizeable) {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        resize(l.clientWidth, l.clientHeight);
    } else {
        setFixedSize(l.clientWidth, l.clientHeight);
    }
    QPalette p = memo->palette();
    p.setColor(QPalette::Base, rgb(l.memoColor));
    p.setColor(QPalette::Text, rgb(l.memoFontColor));
    memo->setPalette(p);
    memo->setVerticalScrollBarPolicy(l.verticalScrollBar ? Qt::ScrollBarAlwaysOn
                                                         : Qt::ScrollBarAlwaysOff);
    memo->setHorizontalScrollBarPolicy(l.horizontalScrollBar ? Qt::ScrollBarAlwaysOn
                                                             : Qt::ScrollBarAlwaysOff);
    memo->setLineWrapMode(l.horizontalScrollBar ? QPlainTextEdit::NoWrap
                                                : QPlainTextEdit::WidgetWidth);
    QFont f(QString::fromStdString(l.memoFontName));
    f.setStyleHint(QFont::TypeWriter);
    if (l.memoFontPixels > 0) f.setPixelSize(l.memoFontPixels);
    memo->setFont(f);
}

bool TerminalWindow::openPort() {
    if (open_) return true;
    memo->setReadOnly(true);
    QFont f = memo->font();
    f.setFamily("Terminal"); // a fixed-pitch face stands in where it is not installed
    f.setStyleHint(QFont::TypeWriter);
    memo->setFont(f);

    openError_.clear();
    lost_ = false;
    reconnectTimer_.stop();
    dtr_ = rts_ = false;
    if (!openDevice(devicePath)) {
        hide();
        return false;
    }
    stableAlias_ = platform_.stableAlias(devicePath);
    return true;
}

// Opens `path` at the start state and then the connection's settings; on success the
// connection is open with its receive thread running. DTR and RTS are set as dtr_ and rts_.
bool TerminalWindow::openDevice(const std::string& path) {
    device_ = platform_.open(path, &openError_);
    if (!device_) return false;
    // The state every port starts from: 9600 baud, 8 data bits, even parity, one stop bit,
    // queues empty, DTR and RTS down.
    device_->configure({9600, 8, ParityEven, StopOne});
    device_->purge(true, true);
    device_->setDtr(false);
    device_->setRts(false);
    // A setting the driver refuses must not leave a port open at settings nobody asked for.
    if (!device_->configure(settings)) {
        openError_ = path + ": the device refused the line settings";
        device_.reset();
        return false;
    }
    if (dtr_) device_->setDtr(true);
    if (rts_) device_->setRts(true);
    open_ = true;
    readHeld_ = stalled_ = scriptReading_ = readSincePass_ = false;
    stallTimer_.stop();
    thread_ = std::make_unique<ReceiveThread>(*this, *device_);
    thread_->start();
    return true;
}

void TerminalWindow::closePort() {
    if (!open_) return;
    reportOverflow(); // the close must not swallow the last count
    const size_t queuedNow = unsent();
    const size_t notSent = queuedNow + droppedOut_;
    open_ = false;
    // Output is discarded only when some is left: a port without a driver queue count (a
    // pseudo-terminal) would otherwise lose bytes its peer has not read yet, and a UART whose
    // queue is empty has nothing to discard. What is left must go, or the close would wait
    // for it.
    device_->purge(true, queuedNow > 0);
    device_->setDtr(false);
    device_->setRts(false);
    thread_.reset(); // stops and joins; a queued hand-over is cancelled
    device_.reset(); // closes the port: it is free again from here on
    pendingOut_.clear();
    droppedOut_ = 0;
    if (notSent > 0 && log)
        log("Data not sent to " + portName + ": " + std::to_string(notSent) + " bytes");
}

size_t TerminalWindow::unsent() {
    return open_ ? pendingOut_.size() + device_->outQueued() : 0;
}

bool TerminalWindow::pushOutput() {
    if (!open_) return true;
    writePending();
    return unsent() == 0;
}

bool TerminalWindow::setDtr(int state) {
    if (!open_ || (state != 0 && state != 1)) return false;
    if (!device_->setDtr(state == 1)) return false;
    dtr_ = state == 1;
    return true;
}

bool TerminalWindow::setRts(int state) {
    if (!open_ || (state != 0 && state != 1)) return false;
    if (!device_->setRts(state == 1)) return false;
    rts_ = state == 1;
    return true;
}

SendResult TerminalWindow::send(std::string_view bytes) {
    if (!open_) return SendResult::Closed;
    if (bytes.empty()) return SendResult::Queued;
    // What the port takes right now does not count against the limit.
    if (!pendingOut_.empty()) writePending();
    if (pendingOut_.size() >= kOutputQueueLimit) return SendResult::Refused;
    if (traffic) traffic("(S) ", bytes);
    if (isVisible()) trace("(S) ", bytes);
    // Bytes the port cannot take now wait here until it has room; a send never blocks the
    // script and never loses a byte of a port that stays open.
    pendingOut_.append(bytes);
    writePending();
    return SendResult::Queued;
}

void TerminalWindow::writePending() {
    while (open_ && !pendingOut_.empty()) {
        const long w = device_->write(pendingOut_.data(), pendingOut_.size());
        if (w < 0) {
            // The device failed; its hang-up event follows, and the close counts these.
            droppedOut_ += pendingOut_.size();
            pendingOut_.clear();
            break;
        }
        if (w == 0) break;
        pendingOut_.erase(0, static_cast<size_t>(w));
    }
    if (thread_) thread_->wantWrite(!pendingOut_.empty());
}

// Only while the buffer has room and is not taking the newest bytes after a stall: the bytes
// then come in exactly as a hand-over would bring them, only sooner.
// While the script reads this way the receive thread leaves reading to it: a thread woken for
// every arrival, only to hand over bytes the script has already taken, costs a context switch
// and a pass each (and each pass would give it reading back). It takes over again at the
// first pass of the event loop the script has not read since the one before.
const std::string& TerminalWindow::readOut() {
    if (open_ && !readHeld_ && !stalled_) {
        // Only a script that polls (calls again within a pass interval of the event loop),
        // or already reads the port itself, does so. One that reads now and then (between
        // sleeps) leaves the bytes to the thread, which hands them over during the sleep:
        // taking reading from it and giving it back around every sleep would cost more than
        // the hand-over it saves.
        const auto now = std::chrono::steady_clock::now();
        const bool polling =
            now - lastReadOut_ < std::chrono::microseconds(eventgate::kPassIntervalUs);
        lastReadOut_ = now;
        if (polling || scriptReading_) {
            // A read costs microseconds of the kernel's time, found it anything or not (more
            // than a whole script line). A polling script would spend most of its time
            // there, each read taking the few hundred bytes that came since the last and
            // holding up the kernel filling the queue; so after a read the next waits a
            // little.
            if (now >= nextScriptRead_) {
                receiveRoom(false);
                nextScriptRead_ = now + std::chrono::microseconds(kScriptReadPauseUs);
            }
            readSincePass_ = true;
            if (!scriptReading_) {
                scriptReading_ = true;
                syncThreadReading();
                scriptReadTimer_.start();
            }
        }
    }
    seen_ = receiveBuffer_.size();
    return receiveBuffer_;
}

void TerminalWindow::clearReceived() {
    receiveBuffer_.clear();
    seen_ = 0;
    roomFreed();
}

void TerminalWindow::deleteReceived(long long n) {
    if (n <= 0) return;
    if (static_cast<unsigned long long>(n) >= receiveBuffer_.size()) {
        receiveBuffer_.clear();
        seen_ = 0;
    } else {
        receiveBuffer_.erase(0, static_cast<size_t>(n));
        seen_ -= std::min(seen_, static_cast<size_t>(n));
    }
    roomFreed();
}

// The script takes bytes out: it is reading the stream, so bytes wait for room again instead
// of pushing older ones out, and a held reader goes on as soon as there is room.
void TerminalWindow::roomFreed() {
    stalled_ = false;
    stallTimer_.stop();
    if (!readHeld_) return;
    if (receiveBuffer_.size() < kReceiveLimit) {
        readHeld_ = false;
        syncThreadReading();
    } else {
        stallTimer_.start(); // still full: the script gets another while to make room
    }
}

// Leaves further bytes in the kernel's queue, whose flow control then holds the sender (a
// pseudo-terminal's writer waits; a UART's driver queue fills and, past its size, reports
// an overrun as a line error). Until the script makes room or the stall time passes.
void TerminalWindow::holdReading() {
    if (readHeld_) return;
    readHeld_ = true;
    syncThreadReading();
    stallTimer_.start();
}

void TerminalWindow::syncThreadReading() {
    if (thread_) thread_->wantRead(!readHeld_ && !scriptReading_);
}

void TerminalWindow::onPortEvent(const PortEvent& ev) {
    if (!open_) return;
    if (ev.writable) writePending();
    if ((ev.mask & kEvRxChar) && !readHeld_) receiveBytes();
    if (const uint32_t rest = ev.mask & ~kEvRxChar) status({rest, ev.modem, ev.errors});
    if (ev.gone && open_) {
        receiveBytes(true); // whatever arrived before the hang-up, room or not
        status({kEvErr, 0, kErrIo});
        lost_ = true;
        if (log) log("Port lost: " + portName);
        closePort(); // keeps dtr_ and rts_ for the return
        if (reconnect) reconnectTimer_.start();
    }
}

// The device may come back at its path (a link udev or a peer makes again) or under its
// stable name on another node (ttyUSB0 back as ttyUSB1). The stable name is tried first:
// it follows the device itself, while the node it left may meanwhile belong to another
// device (the next adapter plugged in takes the lowest free number).
void TerminalWindow::lookForDevice() {
    if (open_ || !lost_) {
        reconnectTimer_.stop();
        return;
    }
    for (const std::string& path : {stableAlias_, devicePath}) {
        if (path.empty() || !platform_.probe(path)) continue;
        std::string ignored;
        std::swap(ignored, openError_);
        if (openDevice(path)) {
            reconnectTimer_.stop();
            lost_ = false;
            if (log) log("Port back: " + portName);
            return;
        }
        openError_ = std::move(ignored);
    }
}

// Reads only as many bytes as the buffer has room for below its limit, so that the buffer's
// rule never drops a byte of a stream the script is reading; the rest waits in the kernel.
// `all`, or a buffer left full past the stall time, takes what waits as the buffer's rule
// has it: the newest bytes are kept and the oldest dropped (and reported).
void TerminalWindow::receiveBytes(bool all) {
    if (!open_) return;
    if (all || stalled_) return receiveAll();
    receiveRoom(true);
}

// A hand-over reads on while the kernel has more (a pseudo-terminal gives at most 4096 bytes
// a read), so that one hand-over fills the room the script made. The script's own reads stop
// at the first: the kernel refills its queue only after a read, so a second read right away
// mostly finds nothing (or waits for the refill), and the script's next receive() reads
// again anyway. Nothing is asked first: a read that finds nothing costs no more than asking
// would. Returns the bytes taken.
size_t TerminalWindow::receiveRoom(bool untilEmpty) {
    if (receiveBuffer_.size() >= kReceiveLimit) {
        holdReading();
        return 0;
    }
    char chunk[kReceiveLimit];
    const size_t room = kReceiveLimit - receiveBuffer_.size();
    size_t got = 0;
    while (got < room) {
        const long r = device_->read(chunk + got, room - got);
        if (r <= 0) break;
        got += static_cast<size_t>(r);
        if (!untilEmpty) break;
    }
    if (got == 0) return 0;
    const std::string_view bytes(chunk, got);
    if (traffic) traffic("(R) ", bytes);
    if (isVisible()) trace("(R) ", bytes);
    receiveBuffer_.append(bytes); // below the limit before: the rule drops nothing
    if (receiveBuffer_.size() >= kReceiveLimit) holdReading();
    return got;
}

// One read of what waits: the buffer then stays a little past its limit, as its rule has it.
void TerminalWindow::receiveAll() {
    std::string bytes(std::clamp<size_t>(device_->queued(), 1, kReadChunk), '\0');
    const long r = device_->read(bytes.data(), bytes.size());
    if (r <= 0) return;
    bytes.resize(static_cast<size_t>(r));
    if (traffic) traffic("(R) ", bytes);
    if (isVisible()) trace("(R) ", bytes);
    const size_t dropped = appendReceived(receiveBuffer_, bytes);
    if (!stalled_ && receiveBuffer_.size() >= kReceiveLimit) holdReading();
    // The bounded buffer keeps the newest bytes, as scripts expect; dropping bytes the script
    // has already read out is that rule at work, dropping bytes it never had is a loss the
    // script could not otherwise notice.
    const size_t seenDropped = std::min(dropped, seen_);
    seen_ -= seenDropped;
    if (dropped > seenDropped) {
        droppedUnseen_ += dropped - seenDropped;
        if (!overflowTimer_.isActive()) overflowTimer_.start();
    }
}

// One line per overflow episode: the first loss starts the count, which is reported a second
// later with everything lost meanwhile, so a stream that keeps overflowing gives one line a
// second. Not a "PORT ERROR :" line: those are the driver's line errors.
void TerminalWindow::reportOverflow() {
    overflowTimer_.stop();
    if (droppedUnseen_ == 0) return;
    const std::string line =
        portName + ": receive buffer full, " + std::to_string(droppedUnseen_) + " bytes dropped";
    droppedUnseen_ = 0;
    addMemoLine(line);
    if (log) log(line);
}

void TerminalWindow::status(const PortEvent& ev) {
    // Each flag holds its line's state as read after the change, so a line that changes
    // twice between two events is still reported as it is.
    struct LineFlag {
        uint32_t event, line;
        int TerminalWindow::*flag;
    };
    static constexpr LineFlag kFlags[] = {
        {kEvCts, kModemCts, &TerminalWindow::cts_},
        {kEvDsr, kModemDsr, &TerminalWindow::dsr_},
        {kEvRlsd, kModemRlsd, &TerminalWindow::rlsd_},
        {kEvRing, kModemRing, &TerminalWindow::ring_},
    };
    for (const auto& f : kFlags)
        if (ev.mask & f.event) this->*f.flag = (ev.modem & f.line) ? 1 : 0;
    if (ev.mask & kEvErr) {
        std::string line = "PORT ERROR :";
        line.append(lineErrorText(ev.errors));
        addMemoLine(std::move(line));
    }
}

// The rule "clear the pane first once it holds more than 300 lines" applied to `k` lines
// about to be added: returns the index of the first of them that the rule leaves standing.
// Only those are formatted and handed to the pane, so a burst costs at most one clear and
// about 300 lines however long it is.
size_t TerminalWindow::applyMemoRule(size_t k) {
    size_t first = 0;
    for (size_t i = 0; i < k; ++i) {
        if (memoLines_ > kMemoLineLimit) {
            memoLines_ = 0;
            first = i;
            memoClearPending_ = true;
            memoPending_.clear();
            traceRecord_.clear();
        }
        ++memoLines_;
    }
    return first;
}

void TerminalWindow::trace(std::string_view tag, std::string_view bytes) {
    const size_t n = static_cast<size_t>(std::max(1, bytesPerLine));
    const size_t first = applyMemoRule((bytes.size() + n - 1) / n);
    traceRecord_.push_back({nowMs(), std::string(tag), std::string(bytes.substr(first * n))});
    for (auto& line : traceLines(tag, bytes.substr(first * n), bytesPerLine))
        memoPending_.push_back(std::move(line));
    scheduleMemo();
}

void TerminalWindow::addMemoLine(std::string line) {
    applyMemoRule(1);
    traceRecord_.push_back({nowMs(), {}, line});
    memoPending_.push_back(std::move(line));
    scheduleMemo();
}

// The pane is brought up to date at most every kMemoRefreshMs: a stream then costs one pane
// update per refresh instead of one per arrival, and the event loop stays responsive.
void TerminalWindow::scheduleMemo() {
    if (!memoTimer_.isActive()) memoTimer_.start();
}

void TerminalWindow::flushMemo() {
    memoTimer_.stop();
    if (memoClearPending_) memo->clear();
    memoClearPending_ = false;
    if (memoPending_.empty()) return;
    QString text;
    for (size_t i = 0; i < memoPending_.size(); ++i) {
        if (i > 0) text += QLatin1Char('\n');
        text += displayText(memoPending_[i]);
    }
    memoPending_.clear();
    memo->appendPlainText(text);
}

std::string TerminalWindow::traceText() const {
    return traceFileText(traceRecord_, bytesPerLine);
}

bool TerminalWindow::saveTrace(const std::string& path, std::string& error) const {
    return safeSave(path, traceText(), error);
}

// The pane's own menu (copy, select all) with "Save trace..." below it.
void TerminalWindow::showMemoMenu(const QPoint& at) {
    std::unique_ptr<QMenu> menu(memo->createStandardContextMenu(at));
    menu->addSeparator();
    QAction* save = menu->addAction("Save trace...");
    save->setEnabled(!traceRecord_.empty());
    if (menu->exec(memo->viewport()->mapToGlobal(at)) != save) return;
    const QString name = QFileDialog::getSaveFileName(
        this, "Save trace", QString::fromStdString(portName) + "-trace.txt",
        "Text files (*.txt);;All files (*)");
    if (name.isEmpty()) return;
    std::string error;
    if (!saveTrace(name.toStdString(), error))
        QMessageBox::warning(this, "Save trace", QString::fromStdString(error));
}

void TerminalWindow::rememberPosition() {
    // A terminal that never got a window of its own (never shown) has no place to remember.
    if (!testAttribute(Qt::WA_WState_Created)) return;
    rememberedX_ = x();
    rememberedY_ = y();
}

void TerminalWindow::closeEvent(QCloseEvent* e) {
    rememberPosition();
    hide();
    e->ignore();
}

} // namespace nv::serial
