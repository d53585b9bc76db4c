// The TCP names as the executables have them: known to the engine at once, the sockets
// behind them loaded on a script's first TCP command.
#include <future>
#include <gtest/gtest.h>

#include "net/tcp.h"
#include "net/tcpfront.h"
#include "tests/commands/harness.h"
#include "tests/net/peer.h"

using Lines = std::vector<std::string>;

namespace {

// Reading the buffers and asking for connections makes nothing; the first command does.
TEST(TcpFront, EveryNameWorksAtOnceAndTheFirstCommandMakesTheEndpoints) {
    nvtest::ScriptRig rig;
    int made = 0;
    nv::TcpFront front(rig.rt, [&](nv::Runtime& rt, std::string&) {
        ++made;
        return std::make_unique<nv::TcpSubsystem>(rt);
    });
    EXPECT_EQ(rig.run("writelog(\"[\" & tcp_read() & tcp_srv_read() & tcp_srv_hasclient() & "
                      "\"] \" & tcp_isconnected())\n"),
              (Lines{"[] 0"}));
    EXPECT_EQ(made, 0);
    EXPECT_EQ(front.endpoints(), nullptr);
    EXPECT_EQ(rig.run("tcp_close()\ntcp_srv_close()\n"),
              (Lines{"Socket client closed", "Socket server stoped"}));
    EXPECT_EQ(made, 1);
    EXPECT_NE(front.endpoints(), nullptr);
}

// Each command says why it cannot work, fails as it would inside, and the script goes on.
TEST(TcpFront, EndpointsThatCannotBeMadeFailEachCommandWithTheReason) {
    nvtest::ScriptRig rig;
    nv::TcpFront front(rig.rt, [](nv::Runtime&, std::string& why) {
        why = "no such file";
        return std::unique_ptr<nv::TcpEndpoints>();
    });
    EXPECT_EQ(rig.run("tcp_srv_open(5000)\ne = error\nwritelog(e & \" \" & geterror())\n"
                      "tcp_write(\"x\")\nwritelog(error)\n"),
              (Lines{"TCP unavailable: no such file", "Socket server not started",
                     "1 tcp_srv_open: error starting socket server.",
                     "TCP unavailable: no such file", "Write error,socket client.", "1"}));
}

// The module built into the program, loaded by a command in the middle of a run, serves that
// run: what the peer sends arrives, and the run's end closes the connection.
TEST(TcpFront, TheBuiltInModuleLoadedMidRunServesThatRun) {
    nvtest::ScriptRig rig;
    nv::TcpFront front(rig.rt);
    int port = 0;
    nvtest::Sock listener = nvtest::listenLoopback(port);
    auto peer = std::async(std::launch::async, [&] {
        nvtest::Sock c = nvtest::acceptOne(listener);
        c.sendAll("ping");
        return c.recvToEof();
    });
    const Lines log = rig.run("writelog(1)\ntcp_open(\"127.0.0.1\", " + std::to_string(port) +
                              ")\nrepeat\nk = tcp_read()\nuntil (k == \"ping\")\n"
                              "tcp_write(\"pong\")\nwritelog(k)\n");
    EXPECT_FALSE(rig.host.timedOut);
    EXPECT_EQ(log.back(), "ping");
    EXPECT_EQ(peer.get(), "pong");
}

} // namespace
