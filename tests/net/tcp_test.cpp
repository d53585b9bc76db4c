// Scripts as TCP server and client against peers written here with plain sockets on
// loopback. Each peer runs on its own thread while the script runs on the main thread.
#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <random>
#include <regex>

#include "net/tcp.h"
#include "tests/commands/harness.h"
#include "tests/net/peer.h"

using nvtest::Sock;
using Lines = std::vector<std::string>;

namespace {

std::string hex(std::string_view s) {
    static const char* d = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        if (!out.empty()) out += ' ';
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

std::string replace(std::string s, const std::string& what, const std::string& with) {
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size()))
        s.replace(at, what.size(), with);
    return s;
}

struct TcpRig : nvtest::ScriptRig {
    nv::TcpSubsystem tcp;
    explicit TcpRig(size_t capacity = nv::TcpSubsystem::kBufferCapacity) : tcp(rt, capacity) {
        nv::installTcp(rt, [this](nv::Interpreter*) { return &tcp; });
    }
};

const std::string kHelloWorld("hello\0world", 11);

// 64 KiB in `s`, then writes of it through `command` until one fails (at most 1000): logs the
// number of the failed write, `error` and the message.
std::string writeUntilRefused(const std::string& command) {
    return "s = \"0123456789abcdef\"\nfor (i, 1, 12, 1)\ns = s & s\nnext\n"
           "e = 0\nn = 0\nwhile (e == 0)\nn = n + 1\n" +
           command +
           "(s)\ne = error\nif (n == 1000)\ne = 2\nendif\nwend\n"
           "writelog(n & \" \" & e & \" \" & geterror())\n";
}

bool logHas(const nvtest::TestHost& host, std::string_view tail) {
    for (const auto& l : host.log)
        if (l.ends_with(tail)) return true;
    return false;
}

// Removes the lines that match `pattern` from `log` and returns them.
Lines take(Lines& log, const std::string& pattern) {
    const std::regex re(pattern);
    Lines taken, rest;
    for (auto& l : log)
        (std::regex_match(l, re) ? taken : rest).push_back(l);
    log = rest;
    return taken;
}

} // namespace

TEST(TcpServer, AnswersItsClientRefusesASecondWithBusyAndClosesAtRunEnd) {
    TcpRig rig;
    const int port = nvtest::freePort();
    auto peer = std::async(std::launch::async, [port] {
        std::vector<std::string> seen;
        Sock c1 = nvtest::connectLoopback(port);
        c1.sendAll(kHelloWorld);
        seen.push_back(c1.recvUpTo(6));
        Sock c2 = nvtest::connectLoopback(port);
        seen.push_back(c2.recvToEof());
        c1.sendAll("!");
        seen.push_back(c1.recvUpTo(3));
        return seen;
    });
    const Lines log = rig.run(replace(R"(tcp_srv_open(PORT)
repeat
  c = len(tcp_srv_hasclient())
until (c >> 0)
writelog(tcp_srv_hasclient())
repeat
  n = len(tcp_srv_read())
until (n >= 11)
writelog(tohex(tcp_srv_read()))
tcp_srv_write("got " & len(tcp_srv_read()))
repeat
  n = len(tcp_srv_read())
until (n >= 12)
writelog(tohex(tcp_srv_read()))
tcp_srv_write("bye")
repeat
  c = len(tcp_srv_hasclient())
until (c == 0)
writelog("gone " & len(tcp_srv_read()))
)",
                                      "PORT", std::to_string(port)));
    const std::vector<std::string> seen = peer.get();

    EXPECT_FALSE(rig.host.timedOut);
    // The refused client's arrival and departure leave the served client's data alone.
    EXPECT_EQ(log, (Lines{"Socket server listen on port : " + std::to_string(port), "127.0.0.1",
                          hex(kHelloWorld), hex(kHelloWorld + "!"), "gone 0"}));
    EXPECT_EQ(seen, (std::vector<std::string>{"got 11", "Busy\r\n", "bye"}));
    EXPECT_FALSE(nvtest::canConnect(port)) << "the server must close when the run ends";
    EXPECT_FALSE(rig.tcp.listening());
}

TEST(TcpClient, TakesTextCutsChunksAtZeroBytesKeepsLargeRepliesAndSeesThePeerClose) {
    TcpRig rig;
    int port = 0;
    Sock listener = nvtest::listenLoopback(port);
    ASSERT_TRUE(listener.ok());
    const std::string large(200000, 'x');
    auto peer = std::async(std::launch::async, [&] {
        std::vector<std::string> seen;
        Sock c = nvtest::acceptOne(listener);
        c.sendAll(std::string("abc\0def", 7));
        seen.push_back(c.recvUpTo(4));
        c.sendAll("ghi");
        seen.push_back(c.recvUpTo(4));
        c.sendAll(large);
        seen.push_back(c.recvUpTo(4));
        return seen; // closes the connection
    });
    const Lines log = rig.run(replace(R"(tcp_open("127.0.0.1", PORT)
repeat
  up = tcp_isconnected()
until (up == 1)
writelog("up " & tcp_isconnected())
repeat
  n = len(tcp_read())
until (n >> 0)
writelog(tohex(tcp_read()))
tcp_write("ack1")
repeat
  n = len(tcp_read())
until (n >= 6)
writelog(tcp_read())
tcp_flush(4)
writelog(tcp_read())
tcp_flush()
tcp_write("ack2")
repeat
  n = len(tcp_read())
until (n >= 200000)
writelog(len(tcp_read()))
tcp_write("ack3")
repeat
  up = tcp_isconnected()
until (up == 0)
writelog("down " & tcp_isconnected() & " " & len(tcp_read()))
)",
                                      "PORT", std::to_string(port)));
    EXPECT_FALSE(rig.host.timedOut);
    EXPECT_EQ(log, (Lines{"Client socket open to 127.0.0.1:" + std::to_string(port), "up 1",
                          "61 62 63", "abcghi", "Socket client buffer flushed", "hi",
                          "Socket client buffer flushed", "200000", "down 0 200000"}));
    EXPECT_EQ(peer.get(), (std::vector<std::string>{"ack1", "ack2", "ack3"}));
}

// The client connection takes data in chunks of at most 128 bytes and keeps each only up to its
// first zero byte; the server side keeps every byte.
TEST(TcpClient, ChunksOfAtMost128BytesAreEachCutAtTheirFirstZero) {
    const std::string z(1, '\0');
    struct Case {
        std::string in, kept;
    } cases[] = {
        {std::string(127, 'a') + z + std::string(128, 'b') + std::string(10, 'c') + z + "ddd",
         std::string(127, 'a') + std::string(128, 'b') + std::string(10, 'c')},
        {std::string(128, 'x') + z + "yyy", std::string(128, 'x')},
        {std::string(300, 'q'), std::string(300, 'q')},
        {z + std::string(127, 'r') + std::string(5, 's'), std::string(5, 's')},
        {"ab" + z + "cd" + z + std::string(300, 'e'), "ab" + std::string(178, 'e')},
        {std::string(256, 'm') + z + z, std::string(256, 'm')},
    };
    for (const auto& c : cases) {
        nv::RecvBuffer buf(1 << 20);
        nv::appendCutAtZero(buf, c.in);
        EXPECT_EQ(buf.view(), c.kept) << c.in.size();
    }

    // The same rule on a real connection (one send of a few hundred bytes arrives whole on
    // loopback).
    TcpRig rig;
    int port = 0;
    Sock listener = nvtest::listenLoopback(port);
    auto peer = std::async(std::launch::async, [&] {
        Sock c = nvtest::acceptOne(listener);
        c.sendAll(cases[0].in);
        return c.recvUpTo(2);
    });
    const Lines log = rig.run(replace(R"(tcp_open("127.0.0.1", PORT)
repeat
  n = pos("c", tcp_read())
until (n >> 0)
tcp_write("ok")
writelog(len(tcp_read()) & " " & pos("b", tcp_read()) & " " & pos("c", tcp_read()))
)",
                                      "PORT", std::to_string(port)));
    EXPECT_EQ(peer.get(), "ok");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "265 128 256");
}

TEST(TcpClient, RefusedConnectionNeverCountsAsConnected) {
    TcpRig rig;
    const int port = nvtest::freePort();
    const Lines log = rig.run(replace(R"(tcp_open("127.0.0.1", PORT)
tcp_write("x")
i = 0
while (i << 300)
  i = i + 1
wend
writelog(tcp_isconnected())
)",
                                      "PORT", std::to_string(port)));
    EXPECT_EQ(log, (Lines{"Client socket open to 127.0.0.1:" + std::to_string(port),
                          "Write error, not connected.", "0"}));
}

TEST(TcpCommands, FailuresLogAndReportTheirMessagesAndTheScriptGoesOn) {
    struct Case {
        std::string script;
        Lines expected;
    };
    // `error` first: geterror() clears it.
    const std::string report = "e = error\nwritelog(e & \" \" & geterror())\n";
    const Case cases[] = {
        {"tcp_srv_open(\"abc\")",
         {"Socket server not started", "1 tcp_srv_open: error starting socket server."}},
        {"tcp_srv_open(70000)",
         {"Socket server not started", "1 tcp_srv_open: error starting socket server."}},
        {"tcp_open(\"no.such.host.invalid\", 80)",
         {"Error connecting to no.such.host.invalid:80", "1 tcp_open: error opening the socket."}},
        {"tcp_open(\"127.0.0.1\", \"abc\")",
         {"Error connecting to 127.0.0.1:abc", "1 tcp_open: error opening the socket."}},
        {"tcp_open(\"127.0.0.1\", 70000)",
         {"Error connecting to 127.0.0.1:70000", "1 tcp_open: error opening the socket."}},
        {"tcp_srv_write(\"x\")",
         {"Write error,server socket.", "1 tcp_srv_write: error writing to server socket."}},
        {"tcp_write(\"x\")",
         {"Write error, not connected.", "1 tcp_write: error writing to socket client."}},
        {"tcp_srv_flush(\"x\")",
         {"Socket buffer not flushed", "1 tcp_srv_flush: error flushing socket buffer."}},
        {"tcp_flush(\"x\")",
         {"Socket client buffer not flushed", "1 tcp_flush: error flushing socket client buffer."}},
        // Forms with another argument count do nothing, and leave `error` as it was.
        {"tcp_write(\"x\")\ntcp_srv_flush(1, 2)\ntcp_close(1)\ntcp_srv_open()\ntcp_open(\"h\")",
         {"Write error, not connected.", "1 tcp_write: error writing to socket client."}},
        // Closing what is not open is no failure.
        {"tcp_write(\"x\")\ntcp_srv_close()\ntcp_close()",
         {"Write error, not connected.", "Socket server stoped", "Socket client closed",
          "0 tcp_write: error writing to socket client."}},
    };
    for (const Case& c : cases) {
        TcpRig rig;
        EXPECT_EQ(rig.run(c.script + "\n" + report + "writelog(\"went on\")\n"), [&] {
            Lines l = c.expected;
            l.push_back("went on");
            return l;
        }()) << c.script;
    }
}

TEST(TcpServer, AFloodingClientIsCappedToTheNewestBytes) {
    const size_t cap = 64 * 1024;
    TcpRig rig(cap);
    const int port = nvtest::freePort();
    auto peer = std::async(std::launch::async, [port, cap] {
        Sock c = nvtest::connectLoopback(port);
        // 1 MiB of older bytes, then exactly `cap` newest bytes ending in a marker.
        c.sendAll(std::string(1 << 20, 'o'));
        c.sendAll(std::string(cap - 1, 'n') + "Z");
        return c.recvUpTo(4);
    });
    const Lines log = rig.run(replace(R"(tcp_srv_open(PORT)
repeat
  z = pos("Z", tcp_srv_read())
until (z >> 0)
writelog(len(tcp_srv_read()) & " " & pos("o", tcp_srv_read()) & " " & mid(tcp_srv_read(), 1, 3))
tcp_srv_write("done")
)",
                                      "PORT", std::to_string(port)));
    EXPECT_EQ(peer.get(), "done");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], std::to_string(cap) + " 0 nnn");
}

// A client that stops reading: writes are refused once the queue holds the limit, and a
// refused write queues nothing; when it reads again, the end of the run waits for the queue.
TEST(TcpServer, WritesAreRefusedAtTheQueueLimitAndTheRunEndLetsTheRestLeave) {
    TcpRig rig;
    const int port = nvtest::freePort();
    std::atomic<bool> readNow{false};
    auto peer = std::async(std::launch::async, [&] {
        Sock c = nvtest::connectLoopback(port);
        for (int i = 0; i < 3000 && !readNow; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return c.recvToEof(20000).size();
    });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (logHas(rig.host, "tcp_srv_write: error writing to server socket.")) readNow = true;
    });
    watch.start(5);
    Lines log = rig.run(replace("tcp_srv_open(PORT)\nrepeat\nc = len(tcp_srv_hasclient())\n"
                                "until (c >> 0)\n",
                                "PORT", std::to_string(port)) +
                            writeUntilRefused("tcp_srv_write"),
                        std::chrono::seconds(30));
    const size_t got = peer.get();
    EXPECT_EQ(take(log, "Data not sent to .*").size(), 0u);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], "Write error,server socket.");
    int n = 0, e = 0;
    char msg[80] = {};
    ASSERT_EQ(std::sscanf(log[2].c_str(), "%d %d %79[^\n]", &n, &e, msg), 3) << log[2];
    EXPECT_EQ(e, 1) << log[2];
    EXPECT_STREQ(msg, "tcp_srv_write: error writing to server socket.");
    const size_t taken = static_cast<size_t>(n - 1) * 65536;
    EXPECT_GE(taken, static_cast<size_t>(nv::TcpSubsystem::kOutputQueueLimit));
    EXPECT_EQ(got, taken);
}

// A server that never reads what the script writes: the close waits a bounded time, logs what
// stays, and a Stop ends the wait at once.
TEST(TcpClient, CloseLogsWhatAPeerThatDoesNotReadLeavesAndStopEndsTheWait) {
    for (const bool stop : {false, true}) {
        TcpRig rig;
        int port = 0;
        Sock listener = nvtest::listenLoopback(port);
        std::atomic<bool> done{false};
        auto peer = std::async(std::launch::async, [&] {
            Sock c = nvtest::acceptOne(listener);
            for (int i = 0; i < 3000 && !done; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        });
        std::chrono::steady_clock::time_point stoppedAt;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!stop || !logHas(rig.host, ": closing")) return;
            watch.stop();
            QTimer::singleShot(100, [&] {
                stoppedAt = std::chrono::steady_clock::now();
                rig.rc.stop();
            });
        });
        watch.start(5);
        Lines log = rig.run(replace("tcp_open(\"127.0.0.1\", PORT)\nrepeat\nup = "
                                    "tcp_isconnected()\nuntil (up == 1)\n",
                                    "PORT", std::to_string(port)) +
                                writeUntilRefused("tcp_write") +
                                "writelog(\"closing\")\ntcp_close()\nwritelog(\"closed\")\n",
                            std::chrono::seconds(30));
        const auto sinceStop = std::chrono::steady_clock::now() - stoppedAt;
        done = true;
        peer.get();
        const Lines lost =
            take(log, "Data not sent to 127.0.0.1:" + std::to_string(port) + ": [0-9]+ bytes");
        ASSERT_EQ(lost.size(), 1u) << stop;
        EXPECT_GE(std::stoll(lost[0].substr(lost[0].rfind(": ") + 2)),
                  nv::TcpSubsystem::kOutputQueueLimit)
            << stop;
        ASSERT_EQ(log.size(), stop ? 5u : 6u) << stop;
        EXPECT_EQ(log[1], "Write error,socket client.");
        EXPECT_TRUE(log[2].ends_with(" 1 tcp_write: error writing to socket client.")) << log[2];
        EXPECT_EQ(log[3], "closing");
        EXPECT_EQ(log[4], "Socket client closed");
        // The wait would last two seconds; the Stop ends it well before.
        if (stop) {
            EXPECT_LT(sinceStop, std::chrono::milliseconds(1500));
        }
    }
}

TEST(TcpRuns, StopClosesTheClientTheServerAndTheClientConnection) {
    TcpRig rig;
    int outerPort = 0;
    Sock outer = nvtest::listenLoopback(outerPort);
    const int port = nvtest::freePort();
    auto peer = std::async(std::launch::async, [&] {
        Sock c = nvtest::connectLoopback(port);
        Sock fromScript = nvtest::acceptOne(outer);
        c.sendAll("hi");
        // Both connections end when Stop is given.
        return c.recvToEof() + "|" + fromScript.recvToEof();
    });
    // Stop once the script has its client and its own connection.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (rig.tcp.serverBuffer() == "hi") rig.rc.stop();
    });
    poll.start(5);
    rig.run(replace(replace(R"(tcp_srv_open(PORT)
tcp_open("127.0.0.1", OUTER)
while (1 == 1)
wend
)",
                            "OUTER", std::to_string(outerPort)),
                    "PORT", std::to_string(port)));
    EXPECT_FALSE(rig.host.timedOut);
    EXPECT_EQ(peer.get(), "|");
    EXPECT_FALSE(nvtest::canConnect(port));
    // The port is free again for the next run, although a connection on it just ended.
    EXPECT_EQ(rig.run("tcp_srv_open(" + std::to_string(port) + ")\n"),
              (Lines{"Socket server listen on port : " + std::to_string(port)}));
}

TEST(TcpRuns, TheClientBufferOutlivesTheRunTheServerBufferDoesNot) {
    TcpRig rig;
    int port = 0;
    Sock listener = nvtest::listenLoopback(port);
    auto peer = std::async(std::launch::async, [&] {
        Sock c = nvtest::acceptOne(listener);
        c.sendAll("keep");
        return c.recvToEof();
    });
    rig.run(replace(R"(tcp_open("127.0.0.1", PORT)
repeat
  k = tcp_read()
until (k == "keep")
)",
                    "PORT", std::to_string(port)));
    EXPECT_EQ(peer.get(), "");
    EXPECT_EQ(rig.run("writelog(tcp_read() & \" \" & tcp_isconnected())\n"), (Lines{"keep 0"}));
}

TEST(RecvBuffer, MatchesAPlainStringUnderRandomAppendsAndFlushes) {
    const size_t cap = 10000;
    nv::RecvBuffer buf(cap);
    std::string model;
    std::mt19937 rng(7);
    for (int step = 0; step < 5000; ++step) {
        if (rng() % 3) {
            std::string piece(rng() % 3000, '\0');
            for (char& c : piece)
                c = static_cast<char>(rng());
            buf.append(piece);
            model += piece;
            if (model.size() > cap) model.erase(0, model.size() - cap);
        } else {
            const long long n = static_cast<long long>(rng() % 4000) - 500;
            buf.dropFront(n);
            if (n > 0) model.erase(0, std::min<size_t>(static_cast<size_t>(n), model.size()));
        }
        ASSERT_EQ(buf.view(), model) << "step " << step;
    }
    buf.append(std::string(cap * 2, 'q') + "end");
    EXPECT_EQ(buf.size(), cap);
    EXPECT_EQ(buf.view().substr(cap - 3), "end");
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Writes go straight to the kernel while nothing waits in the socket's queue and join the
// queue behind what waits otherwise: numbered pieces written until the queue refuses one,
// and more once the peer has caught up, reach the peer exactly once each and in order.
TEST(TcpClient, WritesArriveInOrderWhetherSentAtOnceOrQueued) {
    TcpRig rig;
    int port = 0;
    Sock listener = nvtest::listenLoopback(port);
    ASSERT_TRUE(listener.ok());
    std::atomic<bool> readNow{false};
    auto peer = std::async(std::launch::async, [&] {
        Sock c = nvtest::acceptOne(listener);
        for (int i = 0; i < 3000 && !readNow; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return c.recvToEof(20000);
    });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (logHas(rig.host, "Write error,socket client.")) readNow = true;
    });
    watch.start(5);
    Lines log = rig.run(replace(R"(tcp_open("127.0.0.1", PORT)
repeat
up = tcp_isconnected()
until (up == 1)
s = "0123456789abcdef"
for (i, 1, 12, 1)
s = s & s
next
e = 0
n = 0
while (e == 0)
n = n + 1
tcp_write(n & ":" & s)
e = error
if (n == 1000)
e = 2
endif
wend
writelog("refused " & n)
sleep(500)
for (i, 1, 5, 1)
tcp_write("more" & i & ":" & s)
writelog(error)
next
tcp_close()
)",
                                "PORT", std::to_string(port)),
                        std::chrono::seconds(30));
    const std::string got = peer.get();
    int n = 0;
    for (const auto& l : log)
        std::sscanf(l.c_str(), "refused %d", &n);
    ASSERT_GT(n, 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "0"), 5) << ::testing::PrintToString(log);
    std::string filler = "0123456789abcdef";
    for (int i = 0; i < 12; ++i)
        filler += filler;
    std::string want;
    for (int i = 1; i < n; ++i)
        want += std::to_string(i) + ":" + filler;
    for (int i = 1; i <= 5; ++i)
        want += "more" + std::to_string(i) + ":" + filler;
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
}
