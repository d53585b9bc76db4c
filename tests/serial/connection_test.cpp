// Connections against real pseudo-terminals (settings, exact bytes both ways, bursts, the
// probe, a vanished device, closing under load, the trace) and, through the fake platform,
// what a pseudo-terminal cannot show (modem lines, line errors, data bits and parity).
#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>

#include "fake_serial.h"
#include "pty.h"
#include "serial/serialports.h"
#include "serial/terminal.h"
#include "serial/trafficlog.h"
#include "termios_probe.h"
#include "tests/commands/harness.h"
#include "tests/support/tempdir.h"

namespace nv::serial::test {
namespace {

std::string allBytes(size_t n) {
    std::string s(n, '\0');
    // No period within a megabyte, so a matching tail means the right bytes.
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((static_cast<uint32_t>(i) * 2654435761u) >> 24);
    return s;
}

struct PtyConnection : ::testing::Test {
    Pty pty;
    std::unique_ptr<SerialPlatform> platform = posixSerialPlatform();
    int x = 0, y = 0;
    std::unique_ptr<TerminalWindow> term() {
        auto t = std::make_unique<TerminalWindow>(*platform, x, y);
        t->devicePath = pty.path();
        return t;
    }
};

TEST_F(PtyConnection, OpensWithSettingsAndReadsThemBackFromTheDevice) {
    // The far side sees a standard rate as its speed code; only a rate without one is
    // "other" (BOTHER, 0010000).
    constexpr uint32_t kOther = 0010000;
    struct Case {
        int32_t baud;
        uint8_t stop;
        uint32_t code;
    } cases[] = {{19200, StopTwo, B19200},
                 {250000, StopOne, kOther},
                 {110, StopOneHalf, B110},
                 {115200, StopOne, B115200}};
    for (const auto& c : cases) {
        auto t = term();
        t->settings = {c.baud, 8, ParityNone, c.stop};
        ASSERT_TRUE(t->openPort()) << t->openError();
        uint32_t cflag = 0, speed = 0;
        ASSERT_TRUE(readTermios(pty.master(), cflag, speed));
        EXPECT_EQ(speed, static_cast<uint32_t>(c.baud));
        EXPECT_EQ((cflag & CSTOPB) != 0, c.stop != StopOne) << c.baud;
        EXPECT_EQ(cflag & CBAUD, c.code) << c.baud;
    }
}

TEST_F(PtyConnection, SendsExactBytes) {
    auto t = term();
    ASSERT_TRUE(t->openPort());
    const std::string bytes = std::string("\0\0\xff\r\n", 5) + allBytes(4096);
    t->send(bytes);
    EXPECT_EQ(pty.read(bytes.size()), bytes);
}

TEST_F(PtyConnection, ReceivesInPiecesAndWholeWithoutConsuming) {
    auto t = term();
    ASSERT_TRUE(t->openPort());
    pty.write(std::string("a\0", 2));
    ASSERT_TRUE(pumpUntil([&] { return t->received().size() == 2; }));
    const std::string rest = allBytes(3000);
    pty.write(rest);
    ASSERT_TRUE(pumpUntil([&] { return t->received().size() == 3002; }));
    EXPECT_EQ(t->received(), std::string("a\0", 2) + rest);
    t->deleteReceived(2);
    EXPECT_EQ(t->received(), rest);
    t->deleteReceived(-1);
    EXPECT_EQ(t->received(), rest);
    t->deleteReceived(1 << 30);
    EXPECT_EQ(t->received(), "");
}

TEST_F(PtyConnection, OneMegabyteBurstKeepsTheNewestBytesInOrder) {
    auto t = term();
    ASSERT_TRUE(t->openPort());
    const std::string burst = allBytes(1 << 20);
    std::thread writer([&] { pty.write(burst, 20000); });
    pumpUntil(
        [&] {
            const auto& r = t->received();
            return r.size() >= kReceiveLimit &&
                   r.compare(r.size() - 64, 64, burst, burst.size() - 64) == 0;
        },
        20000);
    writer.join();
    const std::string& r = t->received();
    ASSERT_GE(r.size(), kReceiveLimit);
    EXPECT_TRUE(r == burst.substr(burst.size() - r.size()));
}

// The script's receive() takes in the bytes waiting in the port itself, as far as the buffer
// has room, without a single event pass: a stream far larger than the buffer, written
// unpaced, read out and flushed in blocks of several sizes (whole reads, blocks that straddle
// the kernel's 4096-byte pieces, the whole buffer), arrives complete and in order, the buffer
// never past its limit. Once the script stops reading, the receive thread takes over again
// at the next pass, and the port is not taken for lost on the way.
TEST_F(PtyConnection, ReadOutTakesInAStreamByItselfBoundedAndInOrder) {
    constexpr size_t kTotal = 300000;
    const std::string stream = allBytes(kTotal);
    for (const size_t block : {size_t(4096), size_t(3000), kReceiveLimit}) {
        auto t = term();
        ASSERT_TRUE(t->openPort());
        std::thread writer([&] { pty.write(stream, 20000); });
        std::string got;
        size_t largest = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (got.size() < kTotal && std::chrono::steady_clock::now() < end) {
            const std::string& r = t->readOut();
            largest = std::max(largest, r.size());
            const size_t take = std::min(block, kTotal - got.size());
            if (r.size() < take) continue;
            got.append(r, 0, take);
            t->deleteReceived(static_cast<long long>(take));
        }
        writer.join();
        EXPECT_LE(largest, kReceiveLimit) << block;
        ASSERT_EQ(got.size(), kTotal) << block;
        EXPECT_TRUE(got == stream)
            << block << ": first difference at "
            << std::mismatch(got.begin(), got.end(), stream.begin()).first - got.begin();
        EXPECT_EQ(t->received(), "") << block;
        pty.write("tail");
        EXPECT_TRUE(pumpUntil([&] { return t->received() == "tail"; })) << block;
        EXPECT_TRUE(t->isOpen()) << block;
        t->closePort();
    }
}

TEST_F(PtyConnection, OneMegabyteSendNeitherBlocksNorLosesBytes) {
    auto t = term();
    ASSERT_TRUE(t->openPort());
    const std::string burst = allBytes(1 << 20);
    t->send(burst); // returns at once; the rest goes out as the peer reads
    std::string got;
    std::thread reader([&] { got = pty.read(burst.size(), 20000); });
    pumpUntil([&] { return got.size() == burst.size(); }, 20000);
    reader.join();
    EXPECT_TRUE(got == burst) << got.size();
}

TEST_F(PtyConnection, VanishedDeviceEndsTheConnection) {
    auto t = term();
    ASSERT_TRUE(t->openPort());
    pty.write("last");
    ASSERT_TRUE(pumpUntil([&] { return t->received() == "last"; }));
    pty.closeMaster();
    ASSERT_TRUE(pumpUntil([&] { return !t->isOpen(); }));
    t->flushMemo();
    EXPECT_EQ(t->received(), "last"); // what came before stays readable
    EXPECT_TRUE(t->memo->toPlainText().contains("PORT ERROR :I/O Error"));
    t->send("ignored"); // a closed connection drops data quietly
}

TEST_F(PtyConnection, ClosingWhileDataStreamsInFreesThePort) {
    auto t = term();
    ASSERT_TRUE(t->openPort());
    std::atomic<bool> run{true};
    std::thread writer([&] {
        const std::string chunk = allBytes(512);
        while (run)
            pty.write(chunk, 50);
    });
    pumpUntil([&] { return t->received().size() > kReceiveLimit; }, 2000);
    t->closePort();
    EXPECT_FALSE(t->isOpen());
    EXPECT_TRUE(platform->probe(pty.path())); // free the moment close returns
    run = false;
    writer.join();
    ASSERT_TRUE(t->openPort()); // and can be opened again
}

TEST_F(PtyConnection, TraceOnlyWhileVisibleAndPaneKeepsItsLineLimit) {
    auto t = term();
    ASSERT_TRUE(t->openPort());
    pty.write("hidden");
    ASSERT_TRUE(pumpUntil([&] { return t->received() == "hidden"; }));
    t->flushMemo();
    EXPECT_EQ(t->memo->toPlainText(), "");

    t->show();
    pty.write("AB\r\n");
    ASSERT_TRUE(pumpUntil([&] { return t->received().size() == 10; }));
    t->send("HELLO WORLD\r");
    // The pane catches up by itself at its next refresh.
    ASSERT_TRUE(pumpUntil([&] { return t->memo->blockCount() == 3; }));
    EXPECT_EQ(t->memo->toPlainText().toStdString(), "(R)  41 42 0d 0a             : AB..    \n"
                                                    "(S)  48 45 4c 4c 4f 20 57 4f : HELLO WO\n"
                                                    "(S)  52 4c 44 0d             : RLD.    ");
    // Saved, each line of the pane carries its chunk's time with milliseconds.
    const std::regex stamped(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \(R\)  41 42 0d 0a             : AB\.\.    \n)"
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \(S\)  48 45 4c 4c 4f 20 57 4f : HELLO WO\n)"
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \(S\)  52 4c 44 0d             : RLD\.    \n)");
    EXPECT_TRUE(std::regex_match(t->traceText(), stamped)) << t->traceText();
    nvtest::TempDir dir;
    std::string error;
    ASSERT_TRUE(t->saveTrace(dir / "trace.txt", error)) << error;
    std::ifstream saved(dir / "trace.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), t->traceText());
    EXPECT_FALSE(t->saveTrace(dir / "no/such/folder/trace.txt", error));
    EXPECT_FALSE(error.empty());

    // One byte a line: the pane is cleared before a line is added once it holds more than
    // 300, so after 3 + 700 lines it holds the last 703 - 2 * 301 = 101.
    t->bytesPerLine = 1;
    const std::string many = allBytes(700);
    pty.write(many);
    ASSERT_TRUE(pumpUntil([&] { return t->received().size() == 710; }));
    t->flushMemo();
    EXPECT_EQ(t->memoLines(), 101);
    EXPECT_EQ(t->memo->blockCount(), 101);
    // The saved trace is what the pane holds, not what it once held.
    const std::string saved101 = t->traceText();
    EXPECT_EQ(std::count(saved101.begin(), saved101.end(), '\n'), 101);
    const auto tail = traceLines("(R) ", many.substr(699), 1);
    EXPECT_TRUE(t->memo->toPlainText().endsWith(QString::fromLatin1(tail[0].c_str())));
}

TEST(Probe, ListsOnlyPortsThatCanBeOpenedExclusively) {
    const auto dir = std::filesystem::temp_directory_path() / "norvane_lock_test";
    std::filesystem::create_directories(dir);
    auto platform = posixSerialPlatform(dir.string());
    Pty free, ours, other, uucp, stale;
    EXPECT_TRUE(platform->probe(free.path()));

    auto held = platform->open(ours.path());
    ASSERT_TRUE(held);
    EXPECT_FALSE(platform->probe(ours.path())) << "held by this program";
    EXPECT_FALSE(platform->open(ours.path())) << "a second open of the same port";

    // Another process holding the device's lock.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(other.path().c_str(), O_RDWR | O_NOCTTY);
        ::flock(fd, LOCK_EX);
        [[maybe_unused]] auto w = ::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_FALSE(platform->probe(other.path())) << "held by another process";
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(platform->probe(other.path()));

    // UUCP lock files: a live owner holds the port, a dead one does not.
    auto lockName = [&](const Pty& p) {
        std::string n = p.path().substr(5);
        std::replace(n.begin(), n.end(), '/', '_');
        return dir / ("LCK.." + n);
    };
    std::ofstream(lockName(uucp)) << "      " << ::getppid() << "\n";
    std::ofstream(lockName(stale)) << "  999999999\n";
    EXPECT_FALSE(platform->probe(uucp.path()));
    EXPECT_TRUE(platform->probe(stale.path()));

    const auto plain = dir / "plainfile";
    std::ofstream(plain) << "not a port";
    EXPECT_FALSE(platform->probe(plain.string()));
    std::string why;
    EXPECT_FALSE(platform->open(plain.string(), &why));
    EXPECT_NE(why.find("not a serial device"), std::string::npos) << why;
    EXPECT_FALSE(platform->probe("/dev/norvane-no-such-port"));
    std::filesystem::remove_all(dir);
}

// Anyone may put entries into the lock folder. A FIFO named like a lock file must not make the
// probe or the open wait for a writer; a link is not followed (it could lead to a live lock
// file or a device), and a folder holds nothing.
TEST(Probe, LockFolderEntriesThatAreNoRegularFileNeitherBlockNorHold) {
    const auto dir = std::filesystem::temp_directory_path() / "norvane_lock_fifo_test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    auto platform = posixSerialPlatform(dir.string());
    auto lockName = [&](const Pty& p) {
        std::string n = p.path().substr(5);
        std::replace(n.begin(), n.end(), '/', '_');
        return dir / ("LCK.." + n);
    };
    Pty fifo, link, folder;
    ASSERT_EQ(::mkfifo(lockName(fifo).c_str(), 0600), 0);
    std::ofstream(dir / "live") << "      " << ::getppid() << "\n";
    std::filesystem::create_symlink(dir / "live", lockName(link));
    std::filesystem::create_directory(lockName(folder));

    for (const Pty* p : {&fifo, &link, &folder}) {
        auto probeAndOpen = std::async(std::launch::async, [&] {
            return platform->probe(p->path()) && platform->open(p->path()) != nullptr;
        });
        if (probeAndOpen.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            // Free the stuck check by playing the FIFO's writer (with bytes for every read
            // that follows), so the test ends.
            int w = -1;
            while (w < 0 &&
                   probeAndOpen.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
                w = ::open(lockName(fifo).c_str(), O_WRONLY | O_NONBLOCK);
            if (w >= 0) [[maybe_unused]]
                auto n = ::write(w, std::string(4096, 'x').data(), 4096);
            probeAndOpen.wait();
            if (w >= 0) ::close(w);
            ADD_FAILURE() << "the lock file check blocked for " << p->path();
            continue;
        }
        EXPECT_TRUE(probeAndOpen.get()) << lockName(*p);
    }
    std::filesystem::remove_all(dir);
}

// --- Through the fake: modem lines, line errors, line settings --------------------------

struct FakeConnection : ::testing::Test {
    FakePlatform platform;
    std::shared_ptr<FakeLine> line = platform.line("/dev/fake0");
    int x = 0, y = 0;
    std::unique_ptr<TerminalWindow> t = std::make_unique<TerminalWindow>(platform, x, y);
    void SetUp() override { t->devicePath = "/dev/fake0"; }
};

TEST_F(FakeConnection, LineFlagsStartAtZeroAndFollowEachChange) {
    struct Flag {
        uint32_t bit;
        int (TerminalWindow::*read)() const;
    } flags[] = {{kModemCts, &TerminalWindow::cts},
                 {kModemDsr, &TerminalWindow::dsr},
                 {kModemRlsd, &TerminalWindow::rlsd},
                 {kModemRing, &TerminalWindow::ring}};
    for (const auto& f : flags)
        line->setLine(f.bit, true);
    ASSERT_TRUE(t->openPort());
    for (const auto& f : flags)
        EXPECT_EQ(((*t).*f.read)(), 0) << "on before open reads 0";
    for (const auto& f : flags) {
        line->setLine(f.bit, false);
        line->setLine(f.bit, true); // two changes before the thread looks: the state counts
        EXPECT_TRUE(pumpUntil([&] { return ((*t).*f.read)() == 1; })) << f.bit;
        line->setLine(f.bit, false);
        EXPECT_TRUE(pumpUntil([&] { return ((*t).*f.read)() == 0; })) << f.bit;
    }
}

TEST_F(FakeConnection, LineErrorsAddPortErrorLinesEvenWhenHidden) {
    ASSERT_TRUE(t->openPort());
    ASSERT_FALSE(t->isVisible());
    line->update([](FakeLine& l) { ++l.counters.parity; });
    ASSERT_TRUE(pumpUntil([&] { return t->memoLines() == 1; }));
    line->update([](FakeLine& l) {
        ++l.counters.parity;
        ++l.counters.frame;
    });
    ASSERT_TRUE(pumpUntil([&] { return t->memoLines() == 2; }));
    line->update([](FakeLine& l) { ++l.counters.overrun; });
    ASSERT_TRUE(pumpUntil([&] { return t->memoLines() == 3; }));
    t->flushMemo();
    EXPECT_EQ(t->memo->toPlainText().toStdString(),
              "PORT ERROR :Parity error\nPORT ERROR :\n"
              "PORT ERROR :Character-buffer overrun has occurred");
}

TEST_F(FakeConnection, DtrAndRtsStartDroppedAndTakeOnlyZeroOrOne) {
    EXPECT_FALSE(t->setDtr(1)) << "not open";
    ASSERT_TRUE(t->openPort());
    EXPECT_FALSE(line->dtr);
    EXPECT_FALSE(line->rts);
    EXPECT_TRUE(t->setDtr(1));
    EXPECT_TRUE(t->setRts(1));
    EXPECT_TRUE(line->dtr && line->rts);
    EXPECT_FALSE(t->setRts(2));
    EXPECT_TRUE(t->setRts(0));
    EXPECT_FALSE(line->rts);
}

TEST_F(FakeConnection, RefusedSettingsLeaveThePortClosedAndFree) {
    t->settings = {9600, 9, ParityNone, StopOne};
    EXPECT_FALSE(t->openPort());
    EXPECT_FALSE(t->isOpen());
    EXPECT_TRUE(platform.probe("/dev/fake0"));
}

// --- The connection table --------------------------------------------------------------

struct Table : ::testing::Test {
    FakePlatform* fake = new FakePlatform;
    int x = 0, y = 0;
    std::unique_ptr<SerialPorts> ports;
    void SetUp() override {
        PortMap map = fakeComOneAndThree(*fake);
        map.set(7, "/dev/fake7"); // mapped, but no device there
        ports = std::make_unique<SerialPorts>(
            nullptr, x, y, SerialPorts::Options{std::unique_ptr<SerialPlatform>(fake), map, ""});
    }
};

TEST_F(Table, DialogChoicesTakePrecedenceAndAreUsedOnce) {
    ports->pending = {"com3", "19200", "7", "even", "2"};
    TerminalWindow* t = ports->openPort("com3", "9600", "8", "n", "1");
    ASSERT_TRUE(t && t->isOpen());
    EXPECT_EQ(fake->line("/dev/fake3")->settings, (LineSettings{19200, 7, ParityEven, StopTwo}));
    EXPECT_EQ(t->portName, "COM3");
    EXPECT_EQ(t->windowTitle(), "COM3");
    EXPECT_FALSE(t->isVisible());
    EXPECT_TRUE(ports->pending.port.empty() && ports->pending.baud.empty());

    // A typed baud rate that is no number: nothing is created and the choices stay.
    ports->pending = {"com1", "fast", "8", "none", "1"};
    EXPECT_EQ(ports->openPort("com1", "9600", "8", "n", "1"), nullptr);
    EXPECT_EQ(ports->terminal(1), nullptr);
    EXPECT_EQ(ports->pending.baud, "fast");
}

TEST_F(Table, ProbeSkipsHeldPortsAndCleanUpDropsOnlyFreedOnes) {
    ports->probe();
    EXPECT_EQ(ports->portList(), (std::vector<std::string>{"COM1", "COM3"}));
    ASSERT_TRUE(ports->openPort("com1", "9600", "8", "n", "1"));
    ports->probeAndCleanUp();
    EXPECT_EQ(ports->portList(), std::vector<std::string>{"COM3"});
    ASSERT_NE(ports->terminal(1), nullptr) << "an open connection is kept";

    ports->terminal(1)->closePort();
    ports->cleanUpConnections();
    EXPECT_EQ(ports->terminal(1), nullptr) << "a closed one whose port is free goes";
    EXPECT_EQ(ports->terminal(0), nullptr);
    EXPECT_EQ(ports->terminal(257), nullptr);
}

TEST_F(Table, OnlyAShownConnectionRemembersItsPlace) {
    // A window never shown has no place of its own: the remembered one stays as it was.
    x = 7, y = 9;
    TerminalWindow* t = ports->openPort("com1", "9600", "8", "n", "1");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->pos(), QPoint(-t->width(), 20)); // no main window: placed from 0,0
    ports->destroy(1);
    EXPECT_EQ(QPoint(x, y), QPoint(7, 9));

    t = ports->openPort("com1", "9600", "8", "n", "1");
    ASSERT_TRUE(t);
    t->move(40, 50);
    t->show();
    const QPoint shown = t->pos();
    ports->destroy(1);
    EXPECT_EQ(QPoint(x, y), shown);
}

// --- Commands on a port whose peer does not read or vanishes ----------------------------

// A script run against com5, a pseudo-terminal; the test plays the device on its master.
struct PortScript : nvtest::ScriptRig {
    Pty pty;
    int x = 0, y = 0;
    std::unique_ptr<SerialPorts> ports;
    PortScript() {
        PortMap map;
        for (int n = 1; n <= 96; ++n)
            map.set(n, "");
        map.set(5, pty.path());
        ports = std::make_unique<SerialPorts>(nullptr, x, y,
                                              SerialPorts::Options{posixSerialPlatform(), map, ""});
        ports->install(rt);
    }
    // Lines that match `pattern`, and the log without them.
    std::vector<std::string> take(std::vector<std::string>& log, const std::string& pattern) {
        const std::regex re(pattern);
        std::vector<std::string> taken, rest;
        for (auto& l : log)
            (std::regex_match(l, re) ? taken : rest).push_back(l);
        log = rest;
        return taken;
    }
};

// 64 KiB in `s`.
const std::string kSixtyFour = "s = \"0123456789abcdef\"\nfor (i, 1, 12, 1)\ns = s & s\nnext\n";

TEST(PortCommands, SendToAPeerThatDoesNotReadIsRefusedAtTheLimitAndQueuesNothing) {
    PortScript rig;
    auto log = rig.run("openport(\"com5\", 115200, 8, \"n\", \"1\")\n" + kSixtyFour + R"(e = 0
n = 0
while (e == 0)
n = n + 1
send("com5", s)
e = error
if (n == 200)
e = 2
endif
wend
writelog(n & " " & e & " " & geterror())
)");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "Port opened: com5");
    int n = 0, e = 0;
    char msg[64] = {};
    ASSERT_EQ(std::sscanf(log[1].c_str(), "%d %d %63[^\n]", &n, &e, msg), 3) << log[1];
    EXPECT_EQ(e, 1) << log[1];
    EXPECT_STREQ(msg, "send: error sending data.");
    // Refused only once the queue holds the limit (the kernel takes some bytes too), and the
    // refused send added nothing: the peer gets exactly the sends that were taken.
    const size_t taken = static_cast<size_t>(n - 1) * 65536;
    EXPECT_GE(taken, kOutputQueueLimit);
    EXPECT_LE(taken, kOutputQueueLimit + 8 * 65536);
    std::string got;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        got = rig.pty.read(taken, 20000);
        got += rig.pty.read(1, 300); // nothing more may come
        done = true;
    });
    pumpUntil([&] { return done.load(); }, 25000);
    reader.join();
    EXPECT_EQ(got.size(), taken);
}

// Unsent bytes get a bounded time to leave when the port closes, by closeport or at the end of
// the program; what a peer that does not read leaves behind is logged with its count.
TEST(PortCommands, ClosingGivesUnsentBytesTimeToLeaveAndLogsWhatStays) {
    struct Case {
        const char* name;
        bool closeport;  // else the end of the program closes the port
        int readAfterMs; // -1: the peer never reads
    } cases[] = {{"closeport, slow peer", true, 400},
                 {"program end, slow peer", false, 400},
                 {"closeport, peer does not read", true, -1}};
    const size_t total = 4 * 65536;
    for (const auto& c : cases) {
        PortScript rig;
        std::string got;
        std::thread reader([&] {
            if (c.readAfterMs < 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(c.readAfterMs));
            got = rig.pty.read(total, 10000);
        });
        auto log = rig.run("openport(\"com5\", 9600, 8, \"n\", \"1\")\n" + kSixtyFour +
                           "for (k, 1, 4, 1)\nsend(\"com5\", s)\nnext\n" +
                           (c.closeport ? "closeport(\"com5\")\n" : ""));
        if (!c.closeport) rig.ports.reset();
        reader.join();
        const auto lost = rig.take(log, "Data not sent to COM5: [0-9]+ bytes");
        if (c.readAfterMs >= 0) {
            EXPECT_EQ(lost.size(), 0u) << c.name;
            EXPECT_EQ(got.size(), total) << c.name;
        } else {
            ASSERT_EQ(lost.size(), 1u) << c.name;
            const long count = std::stol(lost[0].substr(std::strlen("Data not sent to COM5: ")));
            EXPECT_GT(count, 0) << c.name;
            EXPECT_LE(count, static_cast<long>(total)) << c.name;
        }
        std::vector<std::string> expected{"Port opened: com5"};
        if (c.closeport) expected.push_back("Port closed: com5");
        EXPECT_EQ(log, expected) << c.name;
    }
}

TEST(PortCommands, StopEndsTheWaitForUnsentBytesAtOnce) {
    PortScript rig;
    std::chrono::steady_clock::time_point stoppedAt;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (std::none_of(rig.host.log.begin(), rig.host.log.end(),
                         [](const std::string& l) { return l.ends_with(": closing"); }))
            return;
        watch.stop();
        QTimer::singleShot(100, [&] {
            stoppedAt = std::chrono::steady_clock::now();
            rig.rc.stop();
        });
    });
    watch.start(5);
    auto log = rig.run("openport(\"com5\", 9600, 8, \"n\", \"1\")\n" + kSixtyFour +
                       "for (k, 1, 4, 1)\nsend(\"com5\", s)\nnext\nwritelog(\"closing\")\n"
                       "closeport(\"com5\")\n");
    const auto sinceStop = std::chrono::steady_clock::now() - stoppedAt;
    EXPECT_EQ(rig.take(log, "Data not sent to COM5: [0-9]+ bytes").size(), 1u);
    EXPECT_EQ(log, (std::vector<std::string>{"Port opened: com5", "closing", "Port closed: com5"}));
    // The wait would last two seconds; the Stop ends it well before.
    EXPECT_LT(sinceStop, std::chrono::milliseconds(1500));
}

TEST(PortCommands, AVanishedDeviceIsLoggedOnceAndSendsToItFail) {
    PortScript rig;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (const auto& l : rig.host.log)
            if (l.ends_with(": opened")) {
                rig.pty.closeMaster();
                watch.stop();
            }
    });
    watch.start(5);
    auto log = rig.run(R"(openport("com5", 9600, 8, "n", "1")
writelog("opened")
e = 0
while (e == 0)
send("com5", "x")
e = error
wend
writelog(geterror())
send("com5", "y")
e = error
writelog(e & " " & geterror())
)");
    rig.take(log, "Data not sent to COM5: [0-9]+ bytes"); // bytes sent just before the loss
    EXPECT_EQ(log, (std::vector<std::string>{"Port opened: com5", "opened", "Port lost: COM5",
                                             "send: Serial port not open.",
                                             "1 send: Serial port not open."}));
}

// norvane-run --serial-log: every chunk sent and received, its pane shown or not, one line
// each with its time, port, direction, hex and text; a failing file is said once.
TEST(SerialLog, EveryChunkIsWrittenAsItHappensAndAFailingFileIsSaidOnce) {
    PortScript rig;
    nvtest::TempDir dir;
    TrafficLog log;
    std::string error;
    ASSERT_FALSE(log.open(dir / "no/such/folder/serial.log", error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    ASSERT_TRUE(log.open(dir / "serial.log", error)) << error;
    rig.ports->traffic = [&](std::string_view port, std::string_view tag, std::string_view b) {
        log.write(port, tag, b);
    };
    rig.host.onEvents = [&] {
        char buf[64];
        const ssize_t n = ::read(rig.pty.master(), buf, sizeof buf);
        if (n > 0 && std::string(buf, size_t(n)) == "*IDN?\n") rig.pty.write("OK\r\n");
    };
    const auto lines = rig.run(R"(openport("com5", 9600, 8, "n", "1")
send("com5", "*IDN?" & chr(10))
n = 0
while (n << 4)
r = receive("com5")
n = len(r)
wend
writelog(r)
)");
    std::ifstream in(dir / "serial.log");
    const std::string text(std::istreambuf_iterator<char>(in), {});
    const std::string stamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d )";
    EXPECT_TRUE(
        std::regex_match(text, std::regex(stamp + R"(COM5 \(S\) 2a 49 44 4e 3f 0a : \*IDN\?\.\n)" +
                                          stamp + R"(COM5 \(R\) 4f 4b 0d 0a : OK\.\.\n)")))
        << text;

    // A disk that fills up: the run goes on, and the failure is said once.
    std::vector<std::string> said;
    TrafficLog full;
    ASSERT_TRUE(full.open("/dev/full", error)) << error;
    full.onError = [&](const std::string& m) { said.push_back(m); };
    full.write("COM5", "(S) ", "a");
    full.write("COM5", "(S) ", "b");
    EXPECT_EQ(said, (std::vector<std::string>{"Serial log /dev/full: No space left on device"}));
}

// A USB adapter drops off when its device resets and comes back, at the same path (a link
// made again) or under the same stable name on another node. A port set to reconnect opens
// itself again with its settings and says so; one that is not (the default) stays lost. The
// device's disappearance is a pseudo-terminal whose master closes; its return a new one.
// When the path it left leads to another device meanwhile (the next adapter took its
// node), the stable name wins: that device is not the one that was lost.
TEST(PortReconnect, ALostPortThatReconnectsOpensAgainWhenItsDeviceComesBack) {
    struct Case {
        const char* name;
        bool reconnect, byStableName, pathTaken;
    };
    for (const Case c :
         {Case{"same path", true, false, false}, Case{"stable name", true, true, false},
          Case{"path taken by another device", true, false, true},
          Case{"reconnect off", false, false, false}}) {
        SCOPED_TRACE(c.name);
        const auto dir = std::filesystem::temp_directory_path() /
                         ("norvane-replug-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "by-id");
        auto first = std::make_unique<Pty>();
        Pty second, other;
        // By path: the map names a link that is made again to the returning device. By stable
        // name: the map names the node itself, and only the by-id link follows the device.
        const auto link = dir / (c.byStableName ? "by-id/usb-Lab_Adapter_0042-if00-port0" : "dev");
        std::filesystem::create_symlink(first->path(), link);
        const auto stable = dir / "by-id/usb-Lab_Adapter_0042-if00-port0";
        if (c.pathTaken) std::filesystem::create_symlink(first->path(), stable);
        PortMap map;
        for (int n = 1; n <= 96; ++n)
            map.set(n, "");
        map.set(5, c.byStableName ? first->path() : link.string());
        map.setReconnect(5, c.reconnect);
        nvtest::ScriptRig rig;
        int x = 0, y = 0;
        SerialPorts ports(
            nullptr, x, y,
            SerialPorts::Options{posixSerialPlatform("/nonexistent", (dir / "by-id").string()), map,
                                 ""});
        ports.install(rig.rt);
        bool swapped = false;
        rig.host.onEvents = [&] {
            const auto said = [&](const char* text) {
                return std::any_of(rig.host.log.begin(), rig.host.log.end(),
                                   [&](const std::string& l) { return l.ends_with(text); });
            };
            if (first && said(": opened")) first.reset(); // the device goes away
            if (!swapped && said(": away")) {
                swapped = true; // ... and comes back on another node
                std::filesystem::remove(link);
                std::filesystem::create_symlink(c.pathTaken ? other.path() : second.path(), link);
                if (c.pathTaken) {
                    std::filesystem::remove(stable);
                    std::filesystem::create_symlink(second.path(), stable);
                }
            }
        };
        // Long enough for a loaded machine to see the device back; without reconnection,
        // a short look that it stays away.
        const std::string limit = c.reconnect ? "10000" : "2000";
        auto log = rig.run("limit = " + limit + R"(
openport("com5", 9600, 8, "n", "1")
writelog("opened")
e = 0
while (e == 0)
send("com5", "x")
e = error
wend
writelog("away")
t = getticks()
waited = 0
while (e == 1) && (waited << limit)
send("com5", "back")
e = error
now = getticks()
waited = now - t
wend
writelog(e)
)",
                           std::chrono::seconds(20));
        std::vector<std::string> taken;
        for (const auto& l : log)
            if (!l.starts_with("Data not sent to COM5")) taken.push_back(l);
        if (c.reconnect) {
            EXPECT_EQ(taken,
                      (std::vector<std::string>{"Port opened: com5", "opened", "Port lost: COM5",
                                                "away", "Port back: COM5", "0"}));
            EXPECT_EQ(second.read(4), "back");
            if (c.pathTaken) {
                EXPECT_EQ(other.read(1, 100), "");
            }
        } else {
            EXPECT_EQ(taken, (std::vector<std::string>{"Port opened: com5", "opened",
                                                       "Port lost: COM5", "away", "1"}));
        }
        std::filesystem::remove_all(dir);
    }
}

// A script that has just polled the port (and so read it in itself) and then waits: the bytes
// that come during the wait are handed over as ever, and waitfor sees them.
TEST(PortCommands, WaitforRightAfterReceiveSeesBytesThatComeDuringTheWait) {
    PortScript rig;
    std::thread writer;
    rig.host.onEvents = [&] {
        if (writer.joinable()) return;
        for (const auto& l : rig.host.log)
            if (l.ends_with(": opened"))
                writer = std::thread([&] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    rig.pty.write("END");
                });
    };
    auto log = rig.run(R"(openport("com5", 115200, 8, "n", "1")
writelog("opened")
x = receive("com5")
x = receive("com5")
r = waitfor("com5", "END", 10000)
writelog("found " & r & " after " & len(x) & ": " & receive("com5"))
)");
    rig.host.onEvents = nullptr;
    if (writer.joinable()) writer.join();
    EXPECT_EQ(log,
              (std::vector<std::string>{"Port opened: com5", "opened", "found 1 after 0: END"}));
}

// The receive buffer stays bounded, but bytes it drops before the script has read them out
// are reported (in the log and the port's pane, with their own text); bytes the script has
// read out go quietly, as the bounded buffer always let them. The port is flooded while no
// script reads it: after a run that read 8000 bytes, 8000 more come (dropping only bytes the
// script had) and then 20000 more (dropping those and unread ones).
TEST(PortCommands, ReceiveBufferOverflowOfUnreadBytesIsReportedInTheLogAndThePane) {
    PortScript rig;
    const std::string all = allBytes(36000);
    std::thread writer;
    rig.host.onEvents = [&] {
        if (writer.joinable()) return;
        for (const auto& l : rig.host.log)
            if (l.ends_with(": opened"))
                writer = std::thread([&] { rig.pty.write(all.substr(0, 8000)); });
    };
    auto log = rig.run(R"(openport("com5", 115200, 8, "n", "1")
writelog("opened")
n = 0
while (n << 8000)
n = len(receive("com5"))
wend
writelog("read " & n)
)");
    rig.host.onEvents = nullptr;
    if (writer.joinable()) writer.join();
    ASSERT_EQ(log, (std::vector<std::string>{"Port opened: com5", "opened", "read 8000"}));
    TerminalWindow* t = rig.ports->terminal(5);
    ASSERT_TRUE(t);
    // Whatever pieces the bytes arrive in, they have all arrived once the buffer ends in them.
    const auto feed = [&](size_t from, size_t to) {
        const std::string bytes = all.substr(from, to - from);
        std::thread w([&] { rig.pty.write(bytes, 20000); });
        const bool arrived = pumpUntil(
            [&] {
                const std::string& r = t->received();
                return r.size() >= 64 &&
                       r.compare(r.size() - 64, 64, bytes, bytes.size() - 64) == 0;
            },
            20000);
        w.join();
        return arrived;
    };
    ASSERT_TRUE(feed(8000, 16000));
    ASSERT_TRUE(feed(16000, 36000));
    const std::regex full("COM5: receive buffer full, ([0-9]+) bytes dropped");
    const auto reports = [&] {
        std::vector<long> counts;
        for (const auto& l : rig.host.log) {
            std::smatch m;
            const std::string line = nvtest::withoutTime(l);
            if (std::regex_match(line, m, full)) counts.push_back(std::stol(m[1]));
        }
        return counts;
    };
    ASSERT_TRUE(pumpUntil([&] { return !reports().empty(); }, 5000));
    t->flushMemo();
    const QString pane = t->memo->toPlainText();
    EXPECT_TRUE(pane.contains(QRegularExpression(
        "^COM5: receive buffer full, [0-9]+ bytes dropped$", QRegularExpression::MultilineOption)))
        << pane.toStdString();
    EXPECT_FALSE(pane.contains("PORT ERROR")) << pane.toStdString();
    // Every unread byte that is no longer in the buffer is counted once; a close reports what
    // is still uncounted.
    const long kept = static_cast<long>(t->received().size());
    rig.ports->destroy(5);
    long total = 0;
    for (long c : reports())
        total += c;
    EXPECT_EQ(total, 28000 - kept);
}

// A flood far larger than the receive buffer, written as fast as the pseudo-terminal takes it,
// reaches a script that keeps taking what receive() gives: every byte, in order, nothing
// reported dropped. The script sends each piece back, so the test sees exactly what it got.
TEST(PortCommands, AnUnpacedStreamReadByAScriptArrivesWholeAndInOrder) {
    PortScript rig;
    constexpr size_t kTotal = size_t(1) << 20; // 128 buffers' worth
    std::string all = allBytes(kTotal);
    for (char& c : all) // letters and digits: the echo goes through a script text unchanged
        c = "abcdefghijklmnopqrstuvwxyz0123456789"[static_cast<unsigned char>(c) % 36];
    std::thread writer, reader;
    std::string echoed;
    rig.host.onEvents = [&] {
        if (writer.joinable()) return;
        for (const auto& l : rig.host.log)
            if (l.ends_with(": opened")) {
                writer = std::thread([&] { rig.pty.write(all, 30000); });
                reader = std::thread([&] { echoed = rig.pty.read(kTotal, 30000); });
            }
    };
    auto log = rig.run(R"(openport("com5", 115200, 8, "n", "1")
writelog("opened")
total = 0
while (total << )" + std::to_string(kTotal) +
                           R"()
x = receive("com5")
n = len(x)
if (n >> 0)
flush("com5", n)
send("com5", x)
total = total + n
endif
wend
writelog("received " & total)
)",
                       std::chrono::seconds(30));
    rig.host.onEvents = nullptr;
    if (writer.joinable()) writer.join();
    pumpUntil([&] { return echoed.size() == kTotal; }, 20000);
    if (reader.joinable()) reader.join();
    EXPECT_EQ(log, (std::vector<std::string>{"Port opened: com5", "opened",
                                             "received " + std::to_string(kTotal)}));
    ASSERT_EQ(echoed.size(), kTotal);
    EXPECT_TRUE(echoed == all) << "first difference at "
                               << std::mismatch(all.begin(), all.end(), echoed.begin()).first -
                                      all.begin();
}

} // namespace
} // namespace nv::serial::test
