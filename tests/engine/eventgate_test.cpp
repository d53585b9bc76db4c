// When a run passes over the event queue: at once after something was handed over, and for
// a watched descriptor once data has arrived on it (real socket pairs).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/eventgate.h"
#include "engine/interpreter.h"
#include "fake_host.h"

namespace {

using namespace std::chrono_literals;

// A host like the window's and the runner's: lines may go without a pass.
struct GatedHost : FakeHost {
    bool passesWhenNeeded() const override { return true; }
};
struct GatedEngine {
    GatedHost host;
    nv::Runtime rt{host};
    nv::RunControl rc{rt};
    nv::RunOutcome run(const std::string& script) { return rc.run(nv::splitLines(script)); }
};

long loopCounter(GatedEngine& e) {
    const std::string* v = e.rc.current()->variables().get("i");
    return v ? std::stol(*v) : 0;
}

bool waitForFlag(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!nv::eventgate::waiting()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(100us);
    }
    return true;
}

} // namespace

// A hand-over flagged while the events are processed (as a receive thread's can be) is
// served by the very next line, not by the next timed pass.
TEST(EventGate, FlaggedHandOverIsServedAtTheNextLine) {
    GatedEngine e;
    long flaggedAt = -1, servedAt = -1;
    e.host.onEvents = [&](int n) {
        const long i = loopCounter(e);
        if (n == 2) {
            flaggedAt = i;
            std::thread([] { nv::eventgate::notify(); }).join();
        } else if (n == 3) {
            servedAt = i;
            e.rc.stop();
        }
    };
    e.run("for (i, 1, 100000000, 1)\nx = i\nnext\n");
    ASSERT_GE(flaggedAt, 0);
    EXPECT_LE(servedAt - flaggedAt, 1);
    EXPECT_EQ(e.host.events, 3);
}

// A loop of short sleeps waits in the event loop and does nothing more: with nothing handed
// over, no pass over the queue (with its yield) goes before each wait.
TEST(EventGate, ShortSleepsWaitWithoutAPassBeforeEachWait) {
    GatedEngine e;
    e.run("for (i, 1, 50, 1)\nsleep(1)\nnext\n");
    EXPECT_GE(e.host.timed.size(), 50u);
    const auto passes = std::count(e.host.waited.begin(), e.host.waited.end(), false);
    EXPECT_LT(passes, 10) << "passes that did not wait, for 50 sleeps";
}

// A host that acts on every pass gets one pass per line, as ever.
TEST(EventGate, HostThatCountsPassesGetsOneALine) {
    Engine e;
    e.run("for (i, 1, 1000, 1)\nx = i\nnext\n");
    EXPECT_EQ(e.host.events, 1 + 1000);
}

TEST(EventGate, WatchedDescriptorRaisesTheFlagUntilAPassHasReadIt) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    nv::eventgate::clear();
    nv::eventgate::watchDescriptor(fds[0]);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    ASSERT_TRUE(waitForFlag(5s));

    // A pass that did not read the byte: the descriptor is still readable, so the flag
    // comes back.
    nv::eventgate::clear();
    nv::eventgate::passDone();
    ASSERT_TRUE(waitForFlag(5s));

    // A pass that read it: nothing more to tell.
    char c;
    nv::eventgate::clear();
    ASSERT_EQ(read(fds[0], &c, 1), 1);
    nv::eventgate::passDone();
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(nv::eventgate::waiting());

    // Let go: new data wakes nobody.
    nv::eventgate::unwatchDescriptor(fds[0]);
    ASSERT_EQ(write(fds[1], "y", 1), 1);
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(nv::eventgate::waiting());
    close(fds[0]);
    close(fds[1]);
}
