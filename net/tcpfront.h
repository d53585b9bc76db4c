// The TCP commands and functions as the executables have them: every name registered with
// the engine at once (installTcp), the endpoints behind them made on a script's first TCP
// command from the TCP module, which holds the sockets and is the only part of the program
// linked with Qt Network. The module's file is built into the program itself (see
// tcpfront.cpp), so every copy of the program finds it: run from the build folder, installed,
// or a built program saved anywhere.
//
// Threading: user-interface thread. Errors: a module that cannot be loaded is logged ("TCP
// unavailable: " and the reason) on each TCP command, which then fails as it would inside.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "net/tcpendpoints.h"

namespace nv {

class TcpFront {
  public:
    // Makes the endpoints, or returns null with the reason in `why`.
    using Loader = std::function<std::unique_ptr<TcpEndpoints>(Runtime& rt, std::string& why)>;

    // The default loader loads the module built into the program.
    explicit TcpFront(Runtime& rt, Loader loader = {});
    ~TcpFront();
    TcpFront(const TcpFront&) = delete;
    TcpFront& operator=(const TcpFront&) = delete;

    // The endpoints once a TCP command has made them, else null.
    TcpEndpoints* endpoints() const { return endpoints_.get(); }

    // The module built into the program, loaded (once per process) and asked for endpoints.
    static std::unique_ptr<TcpEndpoints> loadModule(Runtime& rt, std::string& why);

  private:
    TcpEndpoints* get(Interpreter* ex);

    Runtime& rt_;
    Loader loader_;
    std::unique_ptr<TcpEndpoints> endpoints_;
    bool running_ = false;
};

} // namespace nv
