// norvane-sim: plays an instrument described by a device file on a pseudo-terminal or a TCP
// port, so that scripts, examples and tests have a peer without hardware.
//
// Everything runs on the main thread in Qt's event loop: the pseudo-terminal's master side and
// the TCP sockets are watched by notifiers, answers wait their delays on timers.
//
// Exit status: 0 ended by SIGINT, SIGTERM or SIGHUP (or --check passed), 1 the device file is
// not valid, 2 the port could not be set up (no pseudo-terminal, the TCP port is taken, the
// link cannot be made), 64 a bad command line or an unreadable device file.
#include "cli/stopsignals.h"
#include "base/files.h"
#include "base/limits.h"
#include "sim/device.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QCommandLineParser>

#include "cli/commandline.h"
#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <memory>
#include <regex>
#include <utility>

using namespace nv::sim;

namespace {

// A quiet spell after which a Modbus slave drops bytes that formed no frame.
constexpr int frameGapMs = 100;
// What a TCP client's socket holds of its requests before they wait in the system's buffers
// (and the client's sends block) while the simulator is not reading them.
constexpr qint64 clientReadBuffer = 64 * 1024;
// Requests are read in pieces of this size, so that the answers queued between two looks at a
// client's queue stay small.
constexpr qint64 clientReadPiece = 4096;

const char* const helpText = R"(Usage: norvane-sim [options] DEVICE-FILE

Plays the instrument described by DEVICE-FILE (see docs/simulator.md) so that Norvane
scripts can talk to it without hardware. The instruments that come with Norvane are in
/usr/share/norvane/devices/ when it is installed (examples/devices/ in the source tree),
its example scripts in /usr/share/norvane/examples/.

On a pseudo-terminal (the default) it prints two lines on standard output: the terminal's
path and the NORVANE_PORTS entry that maps a port name to it, for example
    /dev/pts/7
    com5=/dev/pts/7
Run a script against it with
    NORVANE_PORTS='com5=/dev/pts/7' norvane-run script.nvs

Options:
  --port comN     the port name of the NORVANE_PORTS entry (default com1)
  --link PATH     also make a symbolic link PATH to the pseudo-terminal (the entry then
                  names PATH); it is removed when the simulator ends
  --tcp PORT      serve TCP clients on PORT instead (0: a free port); prints ADDRESS:PORT
  --listen ADDR   the address for --tcp (default 127.0.0.1, only this machine)
  --seed N        seed the random values (the same seed gives the same answers)
  --trace         tell on standard error what came in and what went out
  --check         only check the device file, then end
  -h, --help      this text
  --version       the version and the licence

It runs until SIGINT (Ctrl+C), SIGTERM or SIGHUP.
Exit status: 0 ended by a signal (or --check passed), 1 the device file is not valid,
2 the port could not be set up, 64 a bad command line or an unreadable device file.
)";

void say(const std::string& line) {
    std::fprintf(stderr, "norvane-sim: %s\n", line.c_str());
}

// Delivers one connection's answers in order, each after its delay.
class Outbox {
  public:
    Outbox(QObject* owner, std::function<void(const std::string&)> write)
        : owner_(owner), write_(std::move(write)) {}

    void add(std::vector<Output> outputs) {
        for (auto& o : outputs) {
            queued_ += o.bytes.size();
            queue_.push_back(std::move(o));
        }
        pump();
    }
    // Bytes of answers still waiting for their delay.
    size_t queued() const { return queued_; }

  private:
    void pump() {
        while (!waiting_ && !queue_.empty()) {
            Output& next = queue_.front();
            if (next.delayMs > 0) {
                waiting_ = true;
                const int ms = next.delayMs;
                next.delayMs = 0;
                QTimer::singleShot(ms, owner_, [this] {
                    waiting_ = false;
                    pump();
                });
                return;
            }
            queued_ -= next.bytes.size();
            write_(next.bytes);
            queue_.pop_front();
        }
    }

    QObject* owner_;
    std::function<void(const std::string&)> write_;
    std::deque<Output> queue_;
    size_t queued_ = 0;
    bool waiting_ = false;
};

// The device on a pseudo-terminal. The simulator keeps the terminal's own side open too:
// without that, the master side reports a hang-up whenever no program has the port open,
// and the terminal would lose the raw mode set here.
class PtyPort : public QObject {
  public:
    PtyPort(Device& device, std::string& error) : device_(device) {
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            error = "cannot make a pseudo-terminal: " + nv::errnoText(errno);
            return;
        }
        path_ = name;
        termios t{};
        if (::tcgetattr(slave_, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(slave_, TCSANOW, &t);
        }
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
        reader_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
        writer_ = new QSocketNotifier(master_, QSocketNotifier::Write, this);
        writer_->setEnabled(false);
        connect(reader_, &QSocketNotifier::activated, this, [this] { readSome(); });
        connect(writer_, &QSocketNotifier::activated, this, [this] { writeSome(); });
        gap_.setSingleShot(true);
        gap_.setInterval(frameGapMs);
        connect(&gap_, &QTimer::timeout, this, [this] { device_.idle(session_); });
    }
    ~PtyPort() override {
        if (master_ >= 0) ::close(master_);
        if (slave_ >= 0) ::close(slave_);
    }
    const std::string& path() const { return path_; }
    Outbox& outbox() { return outbox_; }

  private:
    void readSome() {
        char buf[4096];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) return;
        gap_.start();
        outbox_.add(device_.receive(session_, std::string(buf, static_cast<size_t>(n))));
    }
    // A terminal that nobody reads keeps the answers of the last kSimClientQueue bytes: the
    // device has to go on (its timed blocks speak unasked), and the program that opens the
    // port later wants what is current. Each spell of dropping is told once; it ends when the
    // reader has caught up below half of that.
    void send(const std::string& bytes) {
        unsent_ += bytes;
        if (unsent_.size() > nv::limits::kSimClientQueue) {
            unsent_.erase(0, unsent_.size() - nv::limits::kSimClientQueue);
            if (!dropping_)
                say(path_ + ": nobody reads the answers; the oldest unsent are dropped, the last " +
                    std::to_string(nv::limits::kSimClientQueue) + " bytes kept");
            dropping_ = true;
        }
        writeSome();
    }
    void writeSome() {
        while (!unsent_.empty()) {
            const ssize_t w = ::write(master_, unsent_.data(), unsent_.size());
            if (w <= 0) break;
            unsent_.erase(0, static_cast<size_t>(w));
        }
        if (unsent_.size() < nv::limits::kSimClientQueue / 2) dropping_ = false;
        writer_->setEnabled(!unsent_.empty());
    }

    Device& device_;
    Device::Session session_;
    int master_ = -1, slave_ = -1;
    std::string path_, unsent_;
    bool dropping_ = false;
    QSocketNotifier* reader_ = nullptr;
    QSocketNotifier* writer_ = nullptr;
    QTimer gap_;
    Outbox outbox_{this, [this](const std::string& b) { send(b); }};
};

// The device behind a TCP server: each client is a connection of its own, all share the
// device's variables.
//
// A client that sends requests without reading the answers is not answered into memory without
// end: once its unsent answers pass kSimClientQueue, its requests are left unread until it has
// taken them below half of that, so the system's buffers fill and its own sends block. Other
// clients are served meanwhile.
//
// Clients are accepted here rather than by QTcpServer, which takes the refusal at the limit
// of open files for a passing one and tries again at once, for ever. At that limit the
// simulator stops accepting (new clients wait in the system's queue) until a client leaves.
// The system refuses as soon as no descriptor is free, whether or not a client waits, so the
// spell is told once: it ends when accepting finds the queue empty with a descriptor to spare.
class TcpPort : public QObject {
  public:
    TcpPort(Device& device, const QHostAddress& address, quint16 port, std::string& error)
        : device_(device) {
        if (!server_.listen(address, port)) {
            error = "cannot listen on " + address.toString().toStdString() + ":" +
                    std::to_string(port) + ": " + server_.errorString().toStdString();
            return;
        }
        server_.pauseAccepting();
        acceptor_ = new QSocketNotifier(server_.socketDescriptor(), QSocketNotifier::Read, this);
        connect(acceptor_, &QSocketNotifier::activated, this, [this] { accept(); });
    }
    // The sockets go first, each with its own end, while the list of clients their end edits
    // is still there.
    ~TcpPort() override {
        delete acceptor_;
        server_.close();
        for (const auto& c : std::exchange(clients_, {})) {
            QObject::disconnect(c->socket, nullptr, nullptr, nullptr);
            delete c->socket;
        }
    }
    quint16 port() const { return server_.serverPort(); }
    QString address() const { return server_.serverAddress().toString(); }
    void broadcast(const std::vector<Output>& outputs) {
        for (auto& c : clients_)
            c->outbox->add(outputs);
    }

  private:
    struct Client {
        QTcpSocket* socket;
        std::string name; // address:port, kept for the log after the peer is gone
        Device::Session session;
        std::unique_ptr<Outbox> outbox;
        QTimer gap;
        bool held = false; // its requests wait until it reads its answers
    };

    void accept() {
        for (;;) {
            const int fd = ::accept4(static_cast<int>(server_.socketDescriptor()), nullptr, nullptr,
                                     SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    toldFull_ = false;
                else
                    cannotAccept(errno);
                return;
            }
            auto* s = new QTcpSocket(this);
            if (!s->setSocketDescriptor(fd)) {
                say("cannot take a new client: " + s->errorString().toStdString());
                ::close(fd);
                delete s;
                continue;
            }
            add(s);
        }
    }

    // Out of descriptors (or memory): accepting again at once would fail again at once, for
    // as long as the client waits.
    void cannotAccept(int error) {
        acceptor_->setEnabled(false);
        full_ = true;
        if (toldFull_) return;
        toldFull_ = true;
        say("cannot take a new client (" + nv::errnoText(error) + "); " +
            std::to_string(clients_.size()) +
            " connected, new clients wait until one of them leaves");
    }

    void add(QTcpSocket* s) {
        auto c = std::make_shared<Client>();
        c->socket = s;
        c->name = s->peerAddress().toString().toStdString() + ":" + std::to_string(s->peerPort());
        c->outbox = std::make_unique<Outbox>(
            s, [s](const std::string& b) { s->write(b.data(), static_cast<qint64>(b.size())); });
        c->gap.setSingleShot(true);
        c->gap.setInterval(frameGapMs);
        s->setReadBufferSize(clientReadBuffer);
        Client* raw = c.get();
        connect(&c->gap, &QTimer::timeout, s, [this, raw] { device_.idle(raw->session); });
        clients_.push_back(c);
        say("client " + c->name + " connected");
        connect(s, &QTcpSocket::readyRead, s, [this, raw] { serve(*raw); });
        connect(s, &QTcpSocket::bytesWritten, s, [this, raw] {
            if (raw->held && unsent(*raw) < nv::limits::kSimClientQueue / 2) {
                raw->held = false;
                serve(*raw);
            }
        });
        // The client's outbox and timers go with its socket, never before it: an answer
        // still waiting on a timer has the socket as its context.
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        connect(s, &QObject::destroyed, this, [this, raw] {
            std::erase_if(clients_, [raw](const auto& c) { return c.get() == raw; });
            if (full_) {
                full_ = false;
                acceptor_->setEnabled(true);
            }
        });
    }

    static size_t unsent(const Client& c) {
        return c.outbox->queued() + static_cast<size_t>(c.socket->bytesToWrite());
    }

    void serve(Client& c) {
        while (!c.held && c.socket->bytesAvailable() > 0) {
            const QByteArray b = c.socket->read(clientReadPiece);
            c.gap.start();
            c.outbox->add(device_.receive(c.session, b.toStdString()));
            if (unsent(c) > nv::limits::kSimClientQueue) {
                c.held = true;
                say("client " + c.name + " does not read its answers (" +
                    std::to_string(unsent(c)) +
                    " bytes unsent); its requests wait until it has read them");
            }
        }
    }

    Device& device_;
    QTcpServer server_;
    std::vector<std::shared_ptr<Client>> clients_;
    QSocketNotifier* acceptor_ = nullptr;
    bool full_ = false;     // accepting is paused until a client leaves
    bool toldFull_ = false; // the spell at the limit has been told
};

// The symbolic link of --link, removed at the end if it still points at this terminal.
class Link {
  public:
    bool make(const std::string& link, const std::string& target, std::string& error) {
        struct stat st {};
        if (::lstat(link.c_str(), &st) == 0) {
            // A link left behind by a simulator that was killed is replaced; anything else
            // is somebody's file.
            if (!S_ISLNK(st.st_mode)) {
                error = link + " exists and is not a symbolic link";
                return false;
            }
            ::unlink(link.c_str());
        }
        if (::symlink(target.c_str(), link.c_str()) != 0) {
            error = "cannot make the link " + link + ": " + nv::errnoText(errno);
            return false;
        }
        link_ = link;
        target_ = target;
        return true;
    }
    ~Link() {
        if (link_.empty()) return;
        char buf[4096];
        const ssize_t n = ::readlink(link_.c_str(), buf, sizeof buf - 1);
        if (n > 0 && std::string(buf, static_cast<size_t>(n)) == target_) ::unlink(link_.c_str());
    }

  private:
    std::string link_, target_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("norvane-sim");

    nv::cli::CommandLine line("norvane-sim", helpText);
    QCommandLineParser& parser = line.parser();
    const QCommandLineOption portOpt("port", "port name", "comN", "com1");
    const QCommandLineOption linkOpt("link", "link", "PATH");
    const QCommandLineOption tcpOpt("tcp", "tcp port", "PORT");
    const QCommandLineOption listenOpt("listen", "address", "ADDR", "127.0.0.1");
    const QCommandLineOption seedOpt("seed", "seed", "N");
    const QCommandLineOption traceOpt("trace", "trace");
    const QCommandLineOption checkOpt("check", "check");
    parser.addOptions({portOpt, linkOpt, tcpOpt, listenOpt, seedOpt, traceOpt, checkOpt});
    auto usage = [&line](const std::string& why) { return line.usageError(why); };
    if (const auto status = line.parse(QCoreApplication::arguments())) return *status;
    if (parser.positionalArguments().size() != 1) return usage("give exactly one device file");
    const std::string portName = parser.value(portOpt).toStdString();
    static const std::regex comName("com([1-9][0-9]?|1[0-9][0-9]|2[0-4][0-9]|25[0-6])");
    if (!std::regex_match(portName, comName)) return usage("--port wants com1 to com256");
    std::optional<uint64_t> seed;
    if (parser.isSet(seedOpt)) {
        bool ok = false;
        seed = parser.value(seedOpt).toULongLong(&ok);
        if (!ok) return usage("--seed wants a whole number");
    }
    int tcpPort = -1;
    if (parser.isSet(tcpOpt)) {
        bool ok = false;
        tcpPort = parser.value(tcpOpt).toInt(&ok);
        if (!ok || tcpPort < 0 || tcpPort > 65535) return usage("--tcp wants a port, 0 to 65535");
        if (parser.isSet(linkOpt)) return usage("--link is for a pseudo-terminal, not --tcp");
    }
    const QHostAddress listenAddress(parser.value(listenOpt));
    if (listenAddress.isNull()) return usage("--listen wants an IP address");

    const std::string path = parser.positionalArguments().front().toStdString();
    std::string text, error;
    if (!nv::readFile(path, text, error)) {
        say(path + ": " + error);
        return 64;
    }
    DeviceFile file;
    std::vector<std::string> errors;
    if (!parseDeviceFile(text, file, errors)) {
        for (const auto& e : errors)
            std::fprintf(stderr, "%s: %s\n", path.c_str(), e.c_str());
        return 1;
    }
    if (parser.isSet(checkOpt)) {
        std::printf("%s: no mistakes found\n", path.c_str());
        return 0;
    }

    // Watched from here on, so that a signal during start-up still removes the link.
    nv::StopSignals stop({SIGINT, SIGTERM, SIGHUP}, [] { QCoreApplication::quit(); });
    Device device(std::move(file), seed);
    if (parser.isSet(traceOpt)) device.onTrace([](const std::string& t) { say(t); });
    device.onWarning([&path](const std::string& w) { say(path + ": " + w); });
    const std::string title = device.file().name.empty() ? path : device.file().name;

    std::unique_ptr<PtyPort> pty;
    std::unique_ptr<TcpPort> tcp;
    Link link;
    if (tcpPort >= 0) {
        tcp =
            std::make_unique<TcpPort>(device, listenAddress, static_cast<quint16>(tcpPort), error);
        if (!error.empty()) {
            say(error);
            return 2;
        }
        const std::string where = tcp->address().toStdString() + ":" + std::to_string(tcp->port());
        std::printf("%s\n", where.c_str());
        say("\"" + title + "\" on TCP " + where + "; Ctrl+C ends it");
    } else {
        pty = std::make_unique<PtyPort>(device, error);
        if (!error.empty()) {
            say(error);
            return 2;
        }
        std::string mapped = pty->path();
        if (parser.isSet(linkOpt)) {
            mapped = parser.value(linkOpt).toStdString();
            if (!link.make(mapped, pty->path(), error)) {
                say(error);
                return 2;
            }
        }
        std::printf("%s\n%s=%s\n", pty->path().c_str(), portName.c_str(), mapped.c_str());
        say("\"" + title + "\" on " + pty->path() + "; Ctrl+C ends it");
    }
    std::fflush(stdout);

    std::vector<std::unique_ptr<QTimer>> timers;
    for (size_t i = 0; i < device.file().timed.size(); ++i) {
        auto t = std::make_unique<QTimer>();
        QObject::connect(t.get(), &QTimer::timeout, [&, i] {
            auto out = device.tick(i);
            if (pty) pty->outbox().add(out);
            if (tcp) tcp->broadcast(out);
        });
        t->start(device.file().timed[i].ms);
        timers.push_back(std::move(t));
    }

    QCoreApplication::exec();
    return 0;
}
