#include "serial/serialports.h"

#include "base/ini.h"
#include "baseqt/placement.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "engine/builtins.h"
#include "engine/host.h"
#include "engine/interpreter.h"
#include "engine/runtime.h"
#include "engine/text.h"
#include "engine/value.h"

namespace nv::serial {

namespace {

struct Word {
    std::string_view text;
    uint8_t value;
};
constexpr Word kParityWords[] = {
    {"none", ParityNone}, {"even", ParityEven},   {"odd", ParityOdd},
    {"mark", ParityMark}, {"space", ParitySpace},
};
constexpr Word kParityLetters[] = {
    {"n", ParityNone}, {"e", ParityEven}, {"o", ParityOdd}, {"m", ParityMark}, {"s", ParitySpace},
};
constexpr Word kStopWords[] = {{"1", StopOne}, {"1.5", StopOneHalf}, {"2", StopTwo}};

template <size_t N> const Word* findWord(const Word (&table)[N], std::string_view text) {
    for (const auto& w : table)
        if (w.text == text) return &w;
    return nullptr;
}

std::optional<int32_t> integerOf(std::string_view text) {
    int32_t v = 0;
    if (!nv::parseInteger(text, v)) return std::nullopt;
    return v;
}

// The line commands: which line, which way, and their texts.
struct LineCommand {
    std::string_view keyword;
    std::string_view call; // the dispatcher's keyword
    bool rts;
    int state;
    std::string_view logText;
    std::string_view failure;
};
constexpr LineCommand kLineCommands[] = {
    {"setrts", "setrts(", true, 1, "Tried to set RTS for ", "setrts: error setting line."},
    {"clearrts", "clearrts(", true, 0, "Tried to clear RTS for ", "clearrts: error clearing line."},
    {"setdtr", "setdtr(", false, 1, "Tried to set DTR for ", "setdtr: error setting line."},
    {"cleardtr", "cleardtr(", false, 0, "Tried to clear DTR for ",
     "cleardtr: error clearing line."},
};

// The modem-line functions and the flag each reads.
struct LineFunction {
    std::string_view name;
    int (TerminalWindow::*flag)() const;
};
constexpr LineFunction kLineFunctions[] = {
    {"getcts", &TerminalWindow::cts},
    {"getdsr", &TerminalWindow::dsr},
    {"getrlsd", &TerminalWindow::rlsd},
    {"getring", &TerminalWindow::ring},
};

} // namespace

SerialPorts::SerialPorts(QWidget* mainWindow, int& terminalX, int& terminalY)
    : SerialPorts(mainWindow, terminalX, terminalY, Options{}) {}

SerialPorts::SerialPorts(QWidget* mainWindow, int& terminalX, int& terminalY, Options options)
    : mainWindow_(mainWindow), terminalX_(terminalX), terminalY_(terminalY),
      platform_(options.platform ? std::move(options.platform) : posixSerialPlatform()),
      ports_(options.ports
                 ? std::move(*options.ports)
                 : PortMap::load(PortMap::standardSources(
                       QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString()))),
      layoutFile_(options.layoutFile.empty()
                      ? (QCoreApplication::applicationDirPath() + "/terminal.res").toStdString()
                      : std::move(options.layoutFile)) {}

// Made on first use: a window the user may never see need not be built before the main
// window can show.
PortDialog* SerialPorts::dialog() {
    if (!dialog_ && mainWindow_ && !dialogMade_) {
        dialogMade_ = true;
        dialog_ = new PortDialog([this] { return freePorts(); }, mainWindow_,
                                 [this](const std::string& port) {
                                     const auto n = portNumberGeneral(port);
                                     return n && ports_.reconnect(*n);
                                 });
    }
    return dialog_.data();
}

// Connections are owned here and closed with it, whatever the script left open; their unsent
// bytes share one wait.
SerialPorts::~SerialPorts() {
    delete dialog_.data();
    std::vector<int> open;
    for (int n = 1; n <= kMaxPort; ++n)
        if (table_[n] && table_[n]->isOpen()) open.push_back(n);
    drainAndDestroy(open, false); // the program is ending: nothing the user does matters
    for (auto& t : table_)
        t.reset();
}

// Events are processed while waiting: the receive threads' hand-overs keep running, and a
// Stop given meanwhile (a button, a signal) ends the wait at once. Without `userInput`
// clicks and keys wait until the close is done.
void SerialPorts::drainAndDestroy(const std::vector<int>& numbers, bool userInput) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kCloseDrainMs);
    for (;;) {
        bool pending = false;
        for (int n : numbers)
            if (TerminalWindow* t = terminal(n)) pending |= !t->pushOutput();
        if (!pending || stopGiven_ || Clock::now() >= deadline) break;
        QCoreApplication::processEvents(userInput ? QEventLoop::AllEvents
                                                  : QEventLoop::ExcludeUserInputEvents);
        if (stopGiven_) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (int n : numbers)
        destroy(n);
}

TerminalWindow* SerialPorts::terminal(int n) const {
    return n >= 1 && n <= kMaxPort ? table_[n].get() : nullptr;
}

void SerialPorts::destroy(int n) {
    if (n >= 1 && n <= kMaxPort) setSlot(n, nullptr);
}

void SerialPorts::setSlot(int n, std::unique_ptr<TerminalWindow> t) {
    const auto at = std::find(used_.begin(), used_.end(), n);
    if (t && at == used_.end()) used_.push_back(n);
    if (!t && at != used_.end()) used_.erase(at);
    table_[n] = std::move(t);
}

void SerialPorts::probe() {
    portList_.clear();
    for (int n = 1; n <= kMaxPort; ++n) {
        const std::string& path = ports_.path(n);
        if (!path.empty() && platform_->probe(path)) portList_.push_back("COM" + std::to_string(n));
    }
}

// A connection waiting for its device to come back stays: dropping it when the device is
// found free would end the reconnection it waits to make.
void SerialPorts::probeAndCleanUp() {
    probe();
    for (const auto& name : portList_) {
        const int n = std::stoi(name.substr(3));
        if (TerminalWindow* t = terminal(n); !t || !t->awaitingReturn()) destroy(n);
    }
}

// Runs before every receive, send and flush: only the slots in use are looked at.
void SerialPorts::cleanUpConnections() {
    for (size_t i = used_.size(); i-- > 0;) {
        const int n = used_[i];
        TerminalWindow* t = table_[n].get();
        if (!t->isOpen() && !t->awaitingReturn() && !ports_.path(n).empty() &&
            platform_->probe(ports_.path(n)))
            setSlot(n, nullptr);
    }
}

std::vector<std::pair<std::string, std::string>> SerialPorts::freePorts() {
    probe();
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& name : portList_)
        out.emplace_back(nv::lowerAscii(name), ports_.path(std::stoi(name.substr(3))));
    return out;
}

TerminalWindow* SerialPorts::openPort(const std::string& name, const std::string& baud,
                                      const std::string& dataBits, const std::string& parity,
                                      const std::string& stopBits) {
    // The dialog's choices take precedence, all of them applying to one port: the effective
    // one. Every text is checked before anything is created, so a failure leaves the table
    // and the pending settings as they were.
    const std::string& effective = pending.port.empty() ? name : pending.port;
    const auto n = portNumberGeneral(effective);
    if (!n || *n < 1 || *n > kMaxPort) return nullptr;
    const auto baudValue = integerOf(pending.baud.empty() ? baud : pending.baud);
    const auto dataValue = integerOf(pending.dataBits.empty() ? dataBits : pending.dataBits);
    if (!baudValue || !dataValue) return nullptr;
    TerminalLayout layout;
    std::string layoutError;
    if (!loadTerminalLayout(layoutFile_, layout, layoutError)) return nullptr;

    auto t = std::make_unique<TerminalWindow>(*platform_, terminalX_, terminalY_);
    t->log = [this](std::string_view message) {
        if (rt_) rt_->logMessage(message);
    };
    t->applyLayout(layout);
    t->traffic = [this, port = nv::upperAscii(effective)](std::string_view tag,
                                                          std::string_view bytes) {
        if (traffic) traffic(port, tag, bytes);
    };
    const QRect main = mainWindow_ ? mainWindow_->frameGeometry() : QRect(0, 0, 0, 0);
    t->move(main.x() + main.width() - t->width(), main.y() + 20);
    t->portName = nv::upperAscii(effective);
    t->devicePath = ports_.path(*n);
    t->reconnect = pending.port.empty() ? ports_.reconnect(*n) : pending.reconnect;
    t->settings.baud = *baudValue;
    // A value no byte holds must not wrap into a valid one (264 is not 8).
    t->settings.dataBits =
        *dataValue >= 0 && *dataValue <= 255 ? static_cast<uint8_t>(*dataValue) : 0;
    const Word* p = pending.parity.empty() ? findWord(kParityLetters, parity)
                                           : findWord(kParityWords, pending.parity);
    if (p) t->settings.parity = p->value;
    const Word* s = findWord(kStopWords, pending.stopBits.empty() ? stopBits : pending.stopBits);
    if (s) t->settings.stopBits = s->value;

    TerminalWindow* raw = t.get();
    setSlot(*n, std::move(t));
    raw->openPort();
    raw->setWindowTitle(QString::fromStdString(raw->portName));
    raw->hide();
    pending = {};
    return raw;
}

// --- Commands ----------------------------------------------------------------------------

void SerialPorts::install(Runtime& rt) {
    rt_ = &rt;
    // A Stop holds until the next run starts: closes after it do not wait for unsent bytes.
    rt.onRunStart.push_back([this] { stopGiven_ = false; });
    rt.onStop.push_back([this] { stopGiven_ = true; });
    using Args = std::vector<std::string>;
    auto command = [&](std::string_view keyword, std::vector<int> counts, auto action) {
        rt.addCommand({.keyword = keyword,
                       .argCounts = std::move(counts),
                       .handler = [this, action](CommandCall& c) {
                           action(this, c.ex, c.args);
                           return true;
                       }});
    };
    command("openport(", {5},
            [](SerialPorts* s, Interpreter& ex, const Args& a) { s->cmdOpenPort(ex, a); });
    command("closeport(", {1},
            [](SerialPorts* s, Interpreter& ex, const Args& a) { s->cmdClosePort(ex, a); });
    for (const auto& lc : kLineCommands) {
        const std::string_view cmd = lc.keyword;
        command(lc.call, {1},
                [cmd](SerialPorts* s, Interpreter& ex, const Args& a) { s->cmdLine(ex, a, cmd); });
    }
    command("send(", {2},
            [](SerialPorts* s, Interpreter& ex, const Args& a) { s->cmdSend(ex, a); });
    command("flush(", {1, 2},
            [](SerialPorts* s, Interpreter& ex, const Args& a) { s->cmdFlush(ex, a); });
    command("showterm(", {4},
            [](SerialPorts* s, Interpreter& ex, const Args& a) { s->cmdShowTerm(ex, a); });
    command("hideterm(", {1},
            [](SerialPorts* s, Interpreter& ex, const Args& a) { s->cmdHideTerm(ex, a); });
    rt.addCommand(
        {.keyword = "setport", .handler = [this](CommandCall& c) { return cmdSetPort(c.ex); }});

    rt.setFunction("enumports", 0, [this](FnCall& call) {
        probeAndCleanUp();
        std::string names;
        for (const auto& n : portList_) {
            if (!names.empty()) names += ' ';
            names += nv::lowerAscii(n);
        }
        return textResult(call.argsOk, names);
    });

    // The receive and line functions share their port checks; `read` gives the result.
    auto portFunction = [this](std::string_view fname, auto read) {
        return [this, fname, read](FnCall& call) -> FnResult {
            TerminalWindow* t = strictConnection(call.ex, call.args[0], fname);
            if (!t) return {};
            return textResult(call.argsOk, read(*t));
        };
    };
    // The receive buffer stays until the script flushes it: a view of it is enough.
    rt.setTextFunction("receive", 1, [this](FnCall& call, std::string_view& text) {
        TerminalWindow* t = strictConnection(call.ex, call.args[0], "receive");
        if (!t) return false;
        text = t->readOut();
        return call.argsOk;
    });
    for (const auto& lf : kLineFunctions) {
        const auto flag = lf.flag;
        rt.setFunction(lf.name, 1, portFunction(lf.name, [flag](TerminalWindow& t) {
                           return std::to_string((t.*flag)());
                       }));
    }
    rt.setFunction("waitfor", 3, [this](FnCall& call) { return waitFor(call); });
}

// waitfor(PORT, TEXT, MS): 1 as soon as TEXT is in the buffer receive reads, 0 once MS have
// passed; nothing is consumed. The port's receive thread hands its bytes over as events, so
// the wait sleeps in the event loop. A Stop, or the port closing under the wait (a device
// that vanished, a window closed), ends it early with what the buffer holds then.
FnResult SerialPorts::waitFor(FnCall& call) {
    if (!strictConnection(call.ex, call.args[0], "waitfor")) return {};
    const std::string& text = call.args[1];
    int32_t ms;
    // An empty TEXT would be found at once in any buffer: most likely a variable never set.
    if (text.empty() || !nv::parseInteger(call.args[2], ms) || ms < 0) {
        call.ex.raiseScriptError("waitfor: unexpected argument.");
        return numberResult(call.argsOk, "");
    }
    const int n = *portNumberStrict(call.args[0]);
    bool found = false;
    call.ex.waitUntil(ms, [&] {
        // Looked up again on every wake: events during the wait may destroy the connection.
        const TerminalWindow* t = terminal(n);
        found = t && t->received().find(text) != std::string::npos;
        return found || !t || !t->isOpen();
    });
    return numberResult(true, found ? "1" : "0");
}

bool SerialPorts::cmdOpenPort(Interpreter& ex, const std::vector<std::string>& a) {
    const std::string& port = a[0];
    probeAndCleanUp();
    const std::string& effective = pending.port.empty() ? port : pending.port;
    const std::string upper = nv::upperAscii(effective);
    bool listed = false;
    for (const auto& name : portList_)
        listed |= nv::equalsNoCase(name, upper) || nv::equalsNoCase("\\\\.\\" + name, upper);
    if (!listed) {
        ex.logMessage("Port already open or not available: " + effective, {LogKind::Error});
        ex.raiseScriptError("openport: port already open or not available.");
        return true;
    }
    int32_t tmp;
    if (!nv::parseInteger(a[1], tmp) || !nv::parseInteger(a[2], tmp) ||
        !findWord(kParityLetters, a[3]) || !findWord(kStopWords, a[4])) {
        ex.logMessage("Cannot open port: " + effective, {LogKind::Error});
        ex.raiseScriptError("openport: unexpected argument.");
        return true;
    }
    const std::string effectiveCopy = effective; // openPort empties the pending name
    TerminalWindow* t = openPort(port, a[1], a[2], a[3], a[4]);
    // Only a connection that really opened is reported as opened.
    if (t && t->isOpen()) {
        ex.logMessage("Port opened: " + effectiveCopy);
    } else {
        ex.logMessage("Cannot open port: " + effectiveCopy, {LogKind::Error});
        ex.raiseScriptError("openport: cannot open port.");
    }
    return true;
}

bool SerialPorts::cmdClosePort(Interpreter& ex, const std::vector<std::string>& a) {
    cleanUpConnections();
    const auto n = portNumberGeneral(a[0]);
    if (!n) {
        ex.raiseScriptError("closeport: error closing port.");
        return true;
    }
    if (terminal(*n)) {
        drainAndDestroy({*n}, true); // closes the port before the slot is emptied
        ex.logMessage("Port closed: " + a[0]);
    } else {
        ex.logMessage("Port is not open: " + a[0], {LogKind::Error});
    }
    return true;
}

bool SerialPorts::cmdLine(Interpreter& ex, const std::vector<std::string>& a,
                          std::string_view cmd) {
    const LineCommand* lc = nullptr;
    for (const auto& c : kLineCommands)
        if (c.keyword == cmd) lc = &c;
    cleanUpConnections();
    const auto n = portNumberGeneral(a[0]);
    if (!n) {
        ex.raiseScriptError(lc->failure);
        return true;
    }
    TerminalWindow* t = terminal(*n);
    if (!t) return true;
    const bool ok = lc->rts ? t->setRts(lc->state) : t->setDtr(lc->state);
    if (ok) ex.logMessage(std::string(lc->logText) + a[0]);
    return true;
}

TerminalWindow* SerialPorts::strictConnection(Interpreter& ex, const std::string& port,
                                              std::string_view name) {
    cleanUpConnections();
    const auto n = portNumberStrict(port);
    if (!n) {
        ex.raiseScriptError(std::string(name) + ": Serial port not valid.");
        return nullptr;
    }
    TerminalWindow* t = terminal(*n);
    if (!t) ex.raiseScriptError(std::string(name) + ": Serial port not open.");
    return t;
}

bool SerialPorts::cmdSend(Interpreter& ex, const std::vector<std::string>& a) {
    if (a[1].empty()) return true;
    TerminalWindow* t = strictConnection(ex, a[0], "send");
    if (!t) return true;
    switch (t->send(a[1])) {
    case SendResult::Queued:
        break;
    case SendResult::Refused:
        ex.raiseScriptError("send: error sending data.");
        break;
    case SendResult::Closed:
        // A port whose device vanished is closed; a connection whose open failed drops the
        // data quietly (openport has already reported it).
        if (t->lost()) ex.raiseScriptError("send: Serial port not open.");
        break;
    }
    return true;
}

bool SerialPorts::cmdFlush(Interpreter& ex, const std::vector<std::string>& a) {
    TerminalWindow* t = strictConnection(ex, a[0], "flush");
    if (!t) return true;
    if (a.size() == 1) {
        t->clearReceived();
        return true;
    }
    const auto count = integerOf(a[1]);
    if (!count) {
        ex.raiseScriptError("flush: Serial port not valid.");
        return true;
    }
    t->deleteReceived(*count);
    return true;
}

bool SerialPorts::cmdShowTerm(Interpreter& ex, const std::vector<std::string>& a) {
    static constexpr std::string_view kFailure = "showterm: error opening terminal window.";
    cleanUpConnections();
    const auto n = portNumberGeneral(a[0]);
    if (!n) {
        ex.raiseScriptError(kFailure);
        return true;
    }
    TerminalWindow* t = terminal(*n);
    if (!t) {
        ex.raiseScriptError("showterm: Serial port not open.");
        return true;
    }
    if (t->isVisible()) return true;
    t->move(terminalX_, terminalY_);
    t->setMinimumSize(0, 0);
    t->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    t->setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    const auto width = integerOf(a[1]);
    if (!width) return ex.raiseScriptError(kFailure), true;
    t->resize(*width, t->height());
    const auto height = integerOf(a[2]);
    if (!height) return ex.raiseScriptError(kFailure), true;
    t->resize(t->width(), *height);
    // A trace line must hold at least one byte; a very wide one would only build huge lines.
    const auto perLine = integerOf(a[3]);
    if (!perLine || *perLine < 1 || *perLine > 4096) return ex.raiseScriptError(kFailure), true;
    t->bytesPerLine = *perLine;
    // Nothing remembered yet: beside the main window, each further terminal a step down and
    // right so that none hides another's title.
    if (!remembered(terminalX_, terminalY_) && mainWindow_)
        t->move(placeBesideFree(mainWindow_, t, true));
    t->show();
    t->raise();
    return true;
}

bool SerialPorts::cmdHideTerm(Interpreter& ex, const std::vector<std::string>& a) {
    cleanUpConnections();
    const auto n = portNumberGeneral(a[0]);
    if (!n) {
        ex.raiseScriptError("hideterm: error hiding terminal window.");
        return true;
    }
    TerminalWindow* t = terminal(*n);
    if (!t) {
        ex.raiseScriptError("hideterm: serial port not open.");
        return true;
    }
    t->hide();
    return true;
}

// Without a window (the headless runner) the dialog cannot be shown: it behaves as a dialog
// closed by its frame, and nothing is stored.
bool SerialPorts::cmdSetPort(Interpreter& ex) {
    PortChoice choice;
    PortDialog* d = dialog();
    if (!d || !d->choose(choice)) return true;
    pending = choice;
    ex.setVariable("myport", choice.port);
    return true;
}

} // namespace nv::serial
