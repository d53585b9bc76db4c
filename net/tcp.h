// The TCP side of scripts: one server `server_` that listens on all interfaces for a single
// client, and one client connection `client_`, each with its receive buffer. The commands
// tcp_srv_open/close/flush/write and tcp_open/close/flush/write drive them; the functions
// tcp_srv_read, tcp_read, tcp_srv_hasclient and tcp_isconnected read their state. They reach
// this object through installTcp (net/tcpendpoints.h); the executables build it into the TCP
// module they load on first use (net/tcpfront.h).
//
// Receive rules: the server buffer keeps every byte its client sent; the client buffer
// takes the data in chunks of at most 128 bytes and keeps each chunk only up to its first
// zero byte (scripts written for this tool rely on that cut). Data is taken only while a
// run is in progress. Both buffers are capped (kBufferCapacity, newest bytes kept) so that
// a flooding peer cannot exhaust memory. A run's start empties the server buffer; Stop and
// a run's end close the server's client, the server and the client connection.
//
// A second client that connects while one is being served gets "Busy" and a line break,
// and is closed; it never touches the served client's buffer.
//
// Output: what a write hands over waits in the socket's queue until the peer takes it. A write
// is refused (its command's failure, nothing queued) while that queue already holds
// kOutputQueueLimit bytes. Closing a connection (tcp_close, tcp_srv_close, the end of a run)
// first gives its queue up to kCloseDrainMs to go out, processing events meanwhile; Stop
// closes at once, also ending such a wait, and no close waits again until the next run
// starts. Bytes that could not be sent are logged with their count ("Data not sent to ").
//
// Threading: everything runs on the user-interface thread; socket events arrive while the
// engine dispatches events between script lines, so the buffers need no lock. Error policy:
// every failure inside a command becomes that command's log line and script error; socket
// errors that arrive later (refused, reset) are seen only through tcp_isconnected and
// tcp_srv_hasclient.
#pragma once

#include <QObject>
#include <QPointer>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/limits.h"
#include "net/recvbuffer.h"
#include "net/tcpendpoints.h"

class QTcpServer;
class QTcpSocket;

namespace nv {

class Runtime;
class Interpreter;

class TcpSubsystem : public QObject, public TcpEndpoints {
    Q_OBJECT
  public:
    // The limits and their reasons are in base/limits.h.
    static constexpr size_t kBufferCapacity = limits::kTcpReceiveBuffer;
    static constexpr qint64 kOutputQueueLimit = qint64(limits::kTcpOutputQueue);
    static constexpr int kCloseDrainMs = limits::kCloseDrainMs;

    explicit TcpSubsystem(Runtime& rt, size_t bufferCapacity = kBufferCapacity);
    ~TcpSubsystem() override;

    // Closes the server's client, the server and the client connection (Stop, run end).
    void closeAll();

    void command(TcpCommand which, Interpreter& ex, const std::vector<std::string>& args) override;
    std::string_view serverBuffer() const override { return srvBuf_.view(); }
    std::string_view clientBuffer() const override { return cliBuf_.view(); }
    std::string servedClientAddress() const override;
    bool clientConnected() const override;
    void runStarted() override;
    void stopGiven() override;
    void runEnded() override;
    bool listening() const;
    // The port the server listens on, 0 when it does not.
    int serverPort() const;

  private:
    void srvOpen(Interpreter& ex, const std::vector<std::string>& args);
    void srvClose(Interpreter& ex, const std::vector<std::string>& args);
    void srvFlush(Interpreter& ex, const std::vector<std::string>& args);
    void srvWrite(Interpreter& ex, const std::vector<std::string>& args);
    void cliOpen(Interpreter& ex, const std::vector<std::string>& args);
    void cliClose(Interpreter& ex, const std::vector<std::string>& args);
    void cliFlush(Interpreter& ex, const std::vector<std::string>& args);
    void cliWrite(Interpreter& ex, const std::vector<std::string>& args);

    void onServerClientConnected();
    void onServerDataAvailable(QTcpSocket* client);
    void onServerClientDisconnected(QTcpSocket* client);
    void onClientDataAvailable();

    void closeServerClient();
    void closeServer();
    void closeClient();
    // Closes the sockets after their queued bytes have left (bounded, see above), logging
    // what stays.
    void closeDraining(const std::vector<QTcpSocket*>& sockets);
    // Queues `data` unless the output queue is full; false: refused or failed, nothing queued.
    bool queueWrite(QTcpSocket* s, const std::string& data);

    QTcpServer* server_;
    QPointer<QTcpSocket> client0_; // the one served client of server_
    QPointer<QTcpSocket> client_;  // a fresh socket per tcp_open
    RecvBuffer srvBuf_, cliBuf_;
    Runtime& rt_;
    bool running_ = false;
    bool stopGiven_ = false; // from a Stop to the next run's start
    bool userInputWhileClosing_ = true;
};

} // namespace nv
