// The boundary between the script side of TCP and the sockets behind it. The commands and
// functions are known to the engine from the start (help, completion, colouring, the checker
// and the builder's scan all read the engine's tables); the sockets need Qt Network and the
// libraries it brings (Kerberos, proxy lookup), which cost every start of the window more than
// most scripts ever use of them. So installTcp registers every TCP name with handlers that
// reach the endpoints (TcpSubsystem, net/tcp.h) only through `get`, and the executables load
// the endpoints when a script first gives a TCP command (TcpFront, net/tcpfront.h).
//
// Threading: user-interface thread. Errors: endpoints that cannot be had make each TCP command
// fail as it would inside (its log line and script error), after `get` has logged why.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace nv {

class Interpreter;
class Runtime;

enum class TcpCommand {
    SrvOpen,
    CliOpen,
    SrvClose,
    CliClose,
    SrvFlush,
    CliFlush,
    SrvWrite,
    CliWrite
};

struct TcpCommandRow {
    const char* keyword;
    int minArgs, maxArgs;
    TcpCommand command;
    // What a failure inside the command logs (empty: nothing) and reports.
    const char* failLog;
    const char* failMessage;
};

inline constexpr TcpCommandRow kTcpCommands[] = {
    {"tcp_srv_open(", 1, 1, TcpCommand::SrvOpen, "Socket server not started",
     "tcp_srv_open: error starting socket server."},
    {"tcp_open(", 2, 2, TcpCommand::CliOpen, "", "tcp_open: error opening the socket."},
    {"tcp_srv_close(", 0, 0, TcpCommand::SrvClose, "",
     "tcp_srv_close: error stoping socket server."},
    {"tcp_close(", 0, 0, TcpCommand::CliClose, "", "tcp_close: error closing the socket client."},
    {"tcp_srv_flush(", 0, 1, TcpCommand::SrvFlush, "Socket server buffer not flushed",
     "tcp_srv_flush: error flushing socket server buffer."},
    {"tcp_flush(", 0, 1, TcpCommand::CliFlush, "",
     "tcp_flush: error flushing socket client buffer."},
    {"tcp_srv_write(", 1, 1, TcpCommand::SrvWrite, "Write error,server socket.",
     "tcp_srv_write: error writing to server socket."},
    {"tcp_write(", 1, 1, TcpCommand::CliWrite, "Write error,socket client.",
     "tcp_write: error writing to socket client."},
};

class TcpEndpoints {
  public:
    virtual ~TcpEndpoints() = default;
    // Runs a command whose line the engine has split and evaluated.
    virtual void command(TcpCommand which, Interpreter& ex,
                         const std::vector<std::string>& args) = 0;
    virtual std::string_view serverBuffer() const = 0;
    virtual std::string_view clientBuffer() const = 0;
    // The served client's dotted address, or empty while none is connected.
    virtual std::string servedClientAddress() const = 0;
    virtual bool clientConnected() const = 0;
    // A run's start, a Stop, a run's end.
    virtual void runStarted() = 0;
    virtual void stopGiven() = 0;
    virtual void runEnded() = 0;
};

// `get(ex)` returns the endpoints, made if need be for the command `ex` runs (null: they
// cannot be had, and why is logged to `ex`); `get(nullptr)` returns them only when they exist.
// Until then the functions read empty buffers and no connection, and the run hooks have
// nothing to close.
using TcpEndpointsGetter = std::function<TcpEndpoints*(Interpreter* ex)>;
void installTcp(Runtime& rt, TcpEndpointsGetter get);

} // namespace nv
