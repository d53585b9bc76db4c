#include "net/tcp.h"

#include <sys/socket.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QHostInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <thread>

#include "engine/builtins.h"
#include "engine/eventgate.h"
#include "engine/host.h"
#include "engine/interpreter.h"
#include "engine/runtime.h"
#include "engine/text.h"
#include "engine/value.h"

namespace nv {
namespace {

// How much Qt takes from the kernel per socket event. Qt would otherwise pull an unread
// peer's data into memory without limit; with a bound the rest waits in the kernel and TCP
// flow control slows the peer down. Moderate bites also keep each script line's value small
// (every tcp_srv_read copies the whole buffer into the line): measured on loopback, an echo
// script moves several times as much data per second with 128 KiB as with 4 MiB.
constexpr qint64 kSocketReadBuffer = qint64(128) << 10;
// How long a refused client may go on taking its "Busy" line before it is dropped.
constexpr int kLingerMs = 5000;

bool parsePort(const std::string& text, quint16& port) {
    int32_t p = 0;
    if (!parseInteger(text, p) || p < 1 || p > 65535) return false;
    port = static_cast<quint16>(p);
    return true;
}

bool isConnected(const QTcpSocket* s) {
    return s && s->state() == QAbstractSocket::ConnectedState;
}

std::string_view bytesOf(const QByteArray& b) {
    return std::string_view(b.constData(), static_cast<size_t>(b.size()));
}

// Closes a socket once what was written to it has gone out, in the background, and frees it
// when the close has completed (or after kLingerMs, whichever comes first). For the refused
// client's few bytes; the script's own connections close through closeDraining.
void retire(QTcpSocket* s, QObject* owner) {
    if (!s) return;
    QObject::disconnect(s, nullptr, owner, nullptr);
    QObject::connect(s, &QAbstractSocket::disconnected, s, &QObject::deleteLater);
    QTimer::singleShot(kLingerMs, s, [s] {
        s->abort();
        s->deleteLater();
    });
    s->disconnectFromHost();
    if (s->state() == QAbstractSocket::UnconnectedState) s->deleteLater();
}

// Data arriving on a connection wakes a running script at its next line rather than at the
// engine's next timed event pass; the descriptor is let go as soon as the socket leaves the
// connected state, which it does before the descriptor is closed.
void watchConnected(QTcpSocket* s) {
    const int fd = static_cast<int>(s->socketDescriptor());
    if (fd < 0) return;
    eventgate::watchDescriptor(fd);
    auto released = std::make_shared<bool>(false);
    auto release = [fd, released] {
        if (*released) return;
        *released = true;
        eventgate::unwatchDescriptor(fd);
    };
    QObject::connect(s, &QAbstractSocket::stateChanged, s, [release](auto state) {
        if (state != QAbstractSocket::ConnectedState) release();
    });
    QObject::connect(s, &QObject::destroyed, release);
}

void fail(Interpreter& ex, std::string_view logLine, std::string_view message) {
    if (!logLine.empty()) ex.logMessage(logLine);
    ex.raiseScriptError(message);
}

// An IPv4 peer of a dual-stack socket shows as ::ffff:a.b.c.d; scripts expect the dotted
// form.
std::string dottedAddress(const QHostAddress& a) {
    bool v4 = false;
    const quint32 ip = a.toIPv4Address(&v4);
    return (v4 ? QHostAddress(ip) : a).toString().toStdString();
}

// A host text: an address as written, or a name resolved now (an IPv4 address preferred,
// since the server side of this tool listens on IPv4). Resolving here lets tcp_open report
// a name that does not resolve instead of failing silently later.
bool resolveHost(const std::string& host, QHostAddress& out) {
    if (host.empty()) return false;
    const QString text = QString::fromStdString(host);
    if (out.setAddress(text)) return true;
    const QHostInfo info = QHostInfo::fromName(text);
    const QList<QHostAddress> all = info.addresses();
    if (info.error() != QHostInfo::NoError || all.isEmpty()) return false;
    out = all.front();
    for (const QHostAddress& a : all)
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            out = a;
            break;
        }
    return true;
}

} // namespace

TcpSubsystem::TcpSubsystem(Runtime& rt, size_t bufferCapacity)
    : server_(new QTcpServer(this)), srvBuf_(bufferCapacity), cliBuf_(bufferCapacity), rt_(rt) {
    connect(server_, &QTcpServer::newConnection, this, &TcpSubsystem::onServerClientConnected);
}

void TcpSubsystem::command(TcpCommand which, Interpreter& ex,
                           const std::vector<std::string>& args) {
    // Each command's handler, in TcpCommand's order.
    using Handler = void (TcpSubsystem::*)(Interpreter&, const std::vector<std::string>&);
    static constexpr Handler kHandlers[] = {&TcpSubsystem::srvOpen,  &TcpSubsystem::cliOpen,
                                            &TcpSubsystem::srvClose, &TcpSubsystem::cliClose,
                                            &TcpSubsystem::srvFlush, &TcpSubsystem::cliFlush,
                                            &TcpSubsystem::srvWrite, &TcpSubsystem::cliWrite};
    static_assert(std::size(kHandlers) == std::size(kTcpCommands));
    (this->*kHandlers[static_cast<size_t>(which)])(ex, args);
}

std::string TcpSubsystem::servedClientAddress() const {
    return isConnected(client0_) ? dottedAddress(client0_->peerAddress()) : std::string();
}

bool TcpSubsystem::clientConnected() const {
    return isConnected(client_);
}

void TcpSubsystem::runStarted() {
    running_ = true;
    stopGiven_ = false;
    srvBuf_.clear();
}

void TcpSubsystem::stopGiven() {
    stopGiven_ = true;
    closeAll();
}

void TcpSubsystem::runEnded() {
    // The run is over and the window already takes a new Run: user input waits until the
    // close is done, so that no run starts inside the end of this one.
    userInputWhileClosing_ = false;
    closeAll();
    userInputWhileClosing_ = true;
    srvBuf_.clear();
    running_ = false;
}

TcpSubsystem::~TcpSubsystem() = default;

bool TcpSubsystem::listening() const {
    return server_->isListening();
}

int TcpSubsystem::serverPort() const {
    return server_->isListening() ? server_->serverPort() : 0;
}

// Both connections share one wait.
void TcpSubsystem::closeAll() {
    QTcpSocket* served = client0_;
    QTcpSocket* own = client_;
    client0_ = nullptr;
    client_ = nullptr;
    closeServer();
    closeDraining({served, own});
}

void TcpSubsystem::closeServerClient() {
    QTcpSocket* c = client0_;
    client0_ = nullptr;
    closeDraining({c});
}

void TcpSubsystem::closeServer() {
    server_->close();
    // Connections the server accepted but has not announced yet go with it.
    while (QTcpSocket* s = server_->nextPendingConnection())
        retire(s, this);
}

void TcpSubsystem::closeClient() {
    QTcpSocket* c = client_;
    client_ = nullptr;
    closeDraining({c});
}

// The sockets are already detached from this subsystem's slots, so events processed during
// the wait (a Stop among them, which re-enters closeAll) never reach them.
void TcpSubsystem::closeDraining(const std::vector<QTcpSocket*>& sockets) {
    std::vector<QPointer<QTcpSocket>> open;
    for (QTcpSocket* s : sockets) {
        if (!s) continue;
        QObject::disconnect(s, nullptr, this, nullptr);
        if (s->state() == QAbstractSocket::ConnectedState) s->flush();
        open.emplace_back(s);
    }
    auto waiting = [&] {
        for (const auto& s : open)
            if (s && s->state() == QAbstractSocket::ConnectedState && s->bytesToWrite() > 0)
                return true;
        return false;
    };
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kCloseDrainMs);
    while (!stopGiven_ && waiting() && Clock::now() < deadline) {
        QCoreApplication::processEvents(
            userInputWhileClosing_ ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
        if (stopGiven_ || !waiting()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (const auto& s : open) {
        if (!s) continue;
        const qint64 left = s->bytesToWrite();
        if (left > 0) {
            rt_.logMessage("Data not sent to " + dottedAddress(s->peerAddress()) + ":" +
                               std::to_string(s->peerPort()) + ": " + std::to_string(left) +
                               " bytes",
                           {LogKind::Error});
            s->abort();
        }
        retire(s, this);
    }
}

bool TcpSubsystem::queueWrite(QTcpSocket* s, const std::string& data) {
    s->flush(); // what the kernel takes now does not count against the limit
    if (s->bytesToWrite() >= kOutputQueueLimit) return false;
    // With nothing queued ahead of them the bytes go straight to the kernel: copying a bulk
    // write into the socket's queue first (fresh memory each time) cost more than the send.
    // Only what the kernel does not take now is queued, behind nothing, so the order holds; a
    // send that fails leaves the bytes to the queue, which reports the failure as before.
    size_t sent = 0;
    if (s->bytesToWrite() == 0 && s->state() == QAbstractSocket::ConnectedState) {
        const ssize_t n = ::send(static_cast<int>(s->socketDescriptor()), data.data(), data.size(),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) sent = static_cast<size_t>(n);
        if (sent == data.size()) return true;
    }
    if (s->write(data.data() + sent, static_cast<qint64>(data.size() - sent)) < 0) return false;
    // Hand the bytes to the kernel now rather than at the next event dispatch: a reply
    // should not wait for the script's next line.
    s->flush();
    return true;
}

// --- server -------------------------------------------------------------------------------

void TcpSubsystem::srvOpen(Interpreter& ex, const std::vector<std::string>& args) {
    const std::string& port = args[0];
    quint16 p = 0;
    if (!parsePort(port, p) || !server_->listen(QHostAddress::AnyIPv4, p)) {
        fail(ex, "Socket server not started", "tcp_srv_open: error starting socket server.");
        return;
    }
    ex.logMessage("Socket server listen on port : " + port);
}

void TcpSubsystem::srvClose(Interpreter& ex, const std::vector<std::string>&) {
    closeServerClient();
    closeServer();
    srvBuf_.clear();
    ex.logMessage("Socket server stoped");
}

void TcpSubsystem::srvFlush(Interpreter& ex, const std::vector<std::string>& args) {
    if (args.empty()) {
        srvBuf_.clear();
    } else {
        int32_t n = 0;
        if (!parseInteger(args[0], n)) {
            fail(ex, "Socket buffer not flushed", "tcp_srv_flush: error flushing socket buffer.");
            return;
        }
        srvBuf_.dropFront(n);
    }
    ex.logMessage("Socket server buffer flushed");
}

void TcpSubsystem::srvWrite(Interpreter& ex, const std::vector<std::string>& args) {
    if (!isConnected(client0_) || !queueWrite(client0_, args[0]))
        fail(ex, "Write error,server socket.", "tcp_srv_write: error writing to server socket.");
}

void TcpSubsystem::onServerClientConnected() {
    while (QTcpSocket* s = server_->nextPendingConnection()) {
        if (client0_) {
            // Beyond the one client: refused without disturbing the client being served.
            // Whatever it sends meanwhile stays in the kernel, not in memory here.
            s->setReadBufferSize(4096);
            s->write("Busy\r\n");
            retire(s, this);
            continue;
        }
        client0_ = s;
        s->setReadBufferSize(kSocketReadBuffer);
        // A reply written in several tcp_srv_write lines must not wait for the peer's
        // delayed acknowledgement of the first piece.
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        watchConnected(s);
        srvBuf_.clear();
        connect(s, &QIODevice::readyRead, this, [this, s] { onServerDataAvailable(s); });
        connect(s, &QAbstractSocket::disconnected, this,
                [this, s] { onServerClientDisconnected(s); });
        if (s->bytesAvailable() > 0) onServerDataAvailable(s);
    }
}

void TcpSubsystem::onServerDataAvailable(QTcpSocket* client) {
    if (!running_ || client != client0_) return;
    srvBuf_.append(bytesOf(client->readAll()));
}

void TcpSubsystem::onServerClientDisconnected(QTcpSocket* client) {
    if (client != client0_) return;
    srvBuf_.clear();
    client0_ = nullptr;
    QObject::disconnect(client, nullptr, this, nullptr);
    client->deleteLater();
}

// --- client -------------------------------------------------------------------------------

void TcpSubsystem::cliOpen(Interpreter& ex, const std::vector<std::string>& args) {
    const std::string& host = args[0];
    const std::string& port = args[1];
    quint16 p = 0;
    QHostAddress address;
    if (!parsePort(port, p) || !resolveHost(host, address)) {
        fail(ex, "Error connecting to " + host + ":" + port, "tcp_open: error opening the socket.");
        return;
    }
    closeClient();
    cliBuf_.clear();
    QTcpSocket* s = new QTcpSocket(this);
    s->setReadBufferSize(kSocketReadBuffer);
    connect(s, &QIODevice::readyRead, this, &TcpSubsystem::onClientDataAvailable);
    // Small writes go out at once (see onServerClientConnected); the option needs the connection.
    connect(s, &QAbstractSocket::connected, s, [s] {
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        watchConnected(s);
    });
    client_ = s;
    s->connectToHost(address, p);
    ex.logMessage("Client socket open to " + host + ":" + port);
}

void TcpSubsystem::cliClose(Interpreter& ex, const std::vector<std::string>&) {
    closeClient();
    cliBuf_.clear();
    ex.logMessage("Socket client closed");
}

void TcpSubsystem::cliFlush(Interpreter& ex, const std::vector<std::string>& args) {
    if (args.empty()) {
        cliBuf_.clear();
    } else {
        int32_t n = 0;
        if (!parseInteger(args[0], n)) {
            fail(ex, "Socket client buffer not flushed",
                 "tcp_flush: error flushing socket client buffer.");
            return;
        }
        cliBuf_.dropFront(n);
    }
    ex.logMessage("Socket client buffer flushed");
}

void TcpSubsystem::cliWrite(Interpreter& ex, const std::vector<std::string>& args) {
    if (!isConnected(client_)) {
        fail(ex, "Write error, not connected.", "tcp_write: error writing to socket client.");
        return;
    }
    if (!queueWrite(client_, args[0]))
        fail(ex, "Write error,socket client.", "tcp_write: error writing to socket client.");
}

void TcpSubsystem::onClientDataAvailable() {
    if (!running_ || !client_) return;
    appendCutAtZero(cliBuf_, bytesOf(client_->readAll()));
}

} // namespace nv
