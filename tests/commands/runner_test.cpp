// norvane-run as a process: signals that stop a run (and SIGTERM to the window program), inputs
// larger than the memory it may use, and FIFOs that must never hold a run. Each run has a hard
// limit after which it is killed, so a run that blocks fails the test instead of hanging it.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A pseudo-terminal whose slave the runner knows as com101 (through NORVANE_PORTS); the test
// plays the device on the master it returns (-1 when none could be made). `raw` sets the
// slave's line discipline raw before the runner opens it.
int com101Pty(bool raw) {
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return -1;
    if (raw) {
        termios settings{};
        ::tcgetattr(slave, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(slave, TCSANOW, &settings);
    }
    ::close(slave);
    ::setenv("NORVANE_PORTS", (std::string("com101=") + name).c_str(), 1);
    return master;
}

// One norvane-run process with its standard input and output on pipes.
class Runner {
  public:
    // `addressSpace` > 0 limits the child's virtual memory (bytes).
    Runner(const std::string& script, const std::string& cwd, rlim_t addressSpace = 0,
           const std::string& program = NORVANE_RUN) {
        int out[2], in[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            if (::chdir(cwd.c_str()) != 0) ::_exit(120);
            if (addressSpace > 0) {
                const rlimit lim{addressSpace, addressSpace};
                ::setrlimit(RLIMIT_AS, &lim);
            }
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::execl(program.c_str(), program.c_str(), script.c_str(), static_cast<char*>(nullptr));
            ::_exit(121);
        }
        ::close(out[1]);
        ::close(in[0]);
        out_ = out[0];
        in_ = in[1]; // kept open: a script reading standard input waits on it
        ::fcntl(out_, F_SETFL, O_NONBLOCK);
    }
    ~Runner() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
        if (in_ >= 0) ::close(in_);
    }

    // Reads output until `text` shows up or the process ends; false after `limit`.
    bool waitFor(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(30)) {
        const auto deadline = Clock::now() + limit;
        while (output.find(text) == std::string::npos) {
            if (!pump() || Clock::now() > deadline) return output.find(text) != std::string::npos;
        }
        return true;
    }
    // The exit status (128 + N for a process killed by signal N); -1 when it was still
    // running after `limit` and had to be killed.
    int finish(std::chrono::seconds limit = std::chrono::seconds(30)) {
        const auto deadline = Clock::now() + limit;
        for (;;) {
            pump();
            int st = 0;
            const pid_t r = ::waitpid(pid_, &st, WNOHANG);
            if (r == pid_) {
                while (pump()) {
                }
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                return status_;
            }
            if (Clock::now() > deadline) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    void signal(int sig) { ::kill(pid_, sig); }
    bool started() const { return pid_ > 0; }

    std::string output;

  private:
    // False at the end of the output.
    bool pump() {
        char buf[4096];
        const ssize_t n = ::read(out_, buf, sizeof buf);
        if (n > 0) output.append(buf, static_cast<size_t>(n));
        if (n == 0) return false;
        if (n < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1, in_ = -1;
    int status_ = -1;
};

// Counts up forever; "ready" tells that the run is under way.
const char* kEndless = "writelog(\"ready\")\ni = 0\nrepeat\ni = i + 1\nuntil (i < 0)\n";

} // namespace

TEST(RunnerSignals, StopTheRunAndExitWith128PlusTheSignal) {
    QTemporaryDir dir;
    const std::string script = dir.path().toStdString() + "/endless.nvs";
    writeFile(script, kEndless);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        Runner r(script, dir.path().toStdString());
        ASSERT_TRUE(r.started());
        ASSERT_TRUE(r.waitFor("ready")) << r.output;
        r.signal(sig);
        EXPECT_EQ(r.finish(), 128 + sig) << r.output;
        // The run unwound as Stop does: the finish line is its last line.
        EXPECT_NE(r.output.find(": Script finished\n"), std::string::npos) << r.output;
    }
}

TEST(RunnerSignals, ASecondSignalEndsAtOnce) {
    // A long idle time keeps the run from reaching its next line, so the first signal's
    // Stop cannot take effect; the second ends the process anyway.
    QTemporaryDir dir;
    const std::string script = dir.path().toStdString() + "/idle.nvs";
    writeFile(script, "writelog(\"ready\")\nsetidle(600000)\nx = 1\nx = 2\n");
    Runner r(script, dir.path().toStdString());
    ASSERT_TRUE(r.waitFor("ready")) << r.output;
    std::this_thread::sleep_for(std::chrono::seconds(1)); // into the idle time
    r.signal(SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    r.signal(SIGTERM);
    EXPECT_EQ(r.finish(std::chrono::seconds(20)), 128 + SIGTERM) << r.output;
    EXPECT_EQ(r.output.find("Script finished"), std::string::npos) << r.output;
}

// A long sleep and a long waitfor on a silent port end at once when the run stops; the line
// after them never runs. (Were the waits deaf to Stop, the run would outlast the limit.)
TEST(RunnerSignals, SleepAndWaitforEndWhenTheRunStops) {
    QTemporaryDir dir;
    const int master = com101Pty(false);
    ASSERT_GE(master, 0);
    const std::string waits[] = {
        "sleep(600000)\n",
        "openport(\"com101\", 9600, 8, \"n\", \"1\")\nr = waitfor(\"com101\", \"OK\", 600000)\n",
    };
    for (const std::string& wait : waits) {
        const std::string script = dir.path().toStdString() + "/wait.nvs";
        writeFile(script, "writelog(\"ready\")\n" + wait + "writelog(\"after\")\n");
        Runner r(script, dir.path().toStdString());
        ASSERT_TRUE(r.waitFor("ready")) << r.output;
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // into the wait
        r.signal(SIGTERM);
        EXPECT_EQ(r.finish(std::chrono::seconds(20)), 128 + SIGTERM) << wait << r.output;
        EXPECT_NE(r.output.find(": Script finished\n"), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("after"), std::string::npos) << r.output;
    }
    ::unsetenv("NORVANE_PORTS");
    ::close(master);
}

// The runner leaves without Qt's own teardown: whatever the script wrote must still be
// complete once the process has ended, with neither the file, nor the port, nor the log
// closed or flushed by the script itself.
TEST(RunnerExit, FilePortAndLogAreCompleteAfterExit) {
    QTemporaryDir dir;
    const int master = com101Pty(true);
    ASSERT_GE(master, 0);
    // 200 blocks of 1000 bytes to the port (far more than the terminal's buffer holds, so
    // the last of it is still queued when the script ends), 200 to the file, 200 log lines.
    const std::string script = dir.path().toStdString() + "/exit.nvs";
    writeFile(script, R"(fcreate("out.txt")
h = fopen("out.txt")
openport("com101", 115200, 8, "n", "1")
b = ""
for (i, 1, 100, 1)
b = b & "0123456789"
next
for (i, 1, 200, 1)
n = fwrite(b)
send("com101", b)
writelog("line " & i)
next
)");
    std::string received;
    Runner r(script, dir.path().toStdString());
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    std::atomic<int> status = -1;
    std::thread reader([&] {
        // Reads the far end until the runner has ended and the port gives nothing more.
        char buf[4096];
        for (auto quiet = Clock::now();;) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) {
                received.append(buf, size_t(n));
                quiet = Clock::now();
            } else if (status >= 0 && Clock::now() - quiet > std::chrono::milliseconds(500)) {
                return;
            } else if (Clock::now() - quiet > std::chrono::seconds(60)) {
                return;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
    });
    const int exited = r.finish(std::chrono::seconds(60));
    status = exited < 0 ? 0 : exited;
    reader.join();
    ::unsetenv("NORVANE_PORTS");
    ::close(master);
    EXPECT_EQ(exited, 0) << r.output;
    std::string block;
    for (int i = 0; i < 100; ++i)
        block += "0123456789";
    std::string all;
    for (int i = 0; i < 200; ++i)
        all += block;
    EXPECT_EQ(received.size(), all.size());
    EXPECT_TRUE(received == all);
    std::ifstream in(dir.path().toStdString() + "/out.txt", std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(file.size(), all.size());
    EXPECT_TRUE(file == all);
    EXPECT_NE(r.output.find(", from line 11: line 200\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(": Script finished\n"), std::string::npos) << r.output;
}

// waitfor returns as soon as the answer is in, not when its time is up: a device that
// answers each request 100 ms after it, five times, with 20 s allowed per answer. The
// received bytes reach the interpreter as posted events; a wait that went back to sleep
// after the event that woke it saw each answer only at its deadline.
TEST(RunnerWait, WaitforReturnsWhenTheAnswerArrivesDuringTheWait) {
    QTemporaryDir dir;
    const int master = com101Pty(true);
    ASSERT_GE(master, 0);
    const std::string script = dir.path().toStdString() + "/ask.nvs";
    writeFile(script, R"(openport("com101", 115200, 8, "n", "1")
t0 = getticks()
for (i, 1, 5, 1)
send("com101", "Q" & chr(13))
r = waitfor("com101", "#", 20000)
writelog("answer " & r)
flush("com101")
next
t = getticks() - t0
if (t << 10000)
writelog("answered in time")
endif
)");
    Runner r(script, dir.path().toStdString());
    std::atomic<bool> done = false;
    std::thread device([&] {
        char buf[64];
        while (!done) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::read(master, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] != '\r') continue;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                [[maybe_unused]] auto w = ::write(master, "OK#", 3);
            }
        }
    });
    const int exited = r.finish(std::chrono::seconds(150));
    done = true;
    device.join();
    ::unsetenv("NORVANE_PORTS");
    ::close(master);
    EXPECT_EQ(exited, 0) << r.output;
    size_t answers = 0;
    for (size_t at = 0; (at = r.output.find("answer 1\n", at)) != std::string::npos; ++at)
        ++answers;
    EXPECT_EQ(answers, 5u) << r.output;
    EXPECT_NE(r.output.find("answered in time"), std::string::npos) << r.output;
}

TEST(RunnerSignals, AScriptWaitingForStandardInputStops) {
    QTemporaryDir dir;
    const std::string script = dir.path().toStdString() + "/ask.nvs";
    writeFile(script, "writelog(\"ready\")\na = inputbox(\"T\", \"P\", \"d\")\nwritelog(a)\n");
    Runner r(script, dir.path().toStdString()); // its standard input stays open and empty
    ASSERT_TRUE(r.waitFor("ready")) << r.output;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    r.signal(SIGTERM);
    EXPECT_EQ(r.finish(std::chrono::seconds(20)), 128 + SIGTERM) << r.output;
    EXPECT_NE(r.output.find(": Script finished\n"), std::string::npos) << r.output;
}

// The window program: SIGTERM closes the window as the user would, without asking, stops
// the running script and writes the settings. The program runs from a copy in a fresh
// folder, so that its settings file lands there.
TEST(WindowSignals, SigtermClosesTheWindowAndWritesTheSettings) {
    const char* scripts[] = {
        "fcreate(\"started\")\ni = 0\nrepeat\ni = i + 1\nuntil (i < 0)\n",
        // A dialog open at the time is cancelled: the run waiting on it unwinds.
        "fcreate(\"started\")\na = inputbox(\"T\", \"Waiting\", \"d\")\ni = 0\nrepeat\n"
        "i = i + 1\nuntil (i < 0)\n",
    };
    for (const char* script : scripts) {
        QTemporaryDir dir;
        const std::string d = dir.path().toStdString();
        std::filesystem::copy_file(NORVANE_GUI, d + "/norvane");
        writeFile(d + "/script.nvs", script);
        // Root keeps its settings in the configuration folder, anyone else beside the program.
        setenv("XDG_CONFIG_HOME", (d + "/config").c_str(), 1);
        const std::string ini =
            geteuid() == 0 ? d + "/config/norvane/norvane.ini" : d + "/norvane.ini";
        Runner r(d + "/script.nvs", d, 0, d + "/norvane");
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (!std::filesystem::exists(d + "/started") && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(std::filesystem::exists(d + "/started")) << script;
        EXPECT_FALSE(std::filesystem::exists(ini));
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the dialog is up
        r.signal(SIGTERM);
        EXPECT_EQ(r.finish(), 128 + SIGTERM) << script;
        EXPECT_TRUE(std::filesystem::exists(ini)) << script;
        unsetenv("XDG_CONFIG_HOME");
    }
}

// The input is a sparse file: big to read, nothing on disk.
TEST(RunnerMemory, AScriptLargerThanMemoryIsAnUnreadableInput) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#endif
    QTemporaryDir dir;
    const std::string script = dir.path().toStdString() + "/huge.nvs";
    ASSERT_EQ(::truncate((writeFile(script, ""), script.c_str()), off_t(1) << 30), 0);
    Runner r(script, dir.path().toStdString(), rlim_t(512) << 20);
    EXPECT_EQ(r.finish(std::chrono::seconds(60)), 64) << r.output;
}

TEST(RunnerMemory, AnIncludeLargerThanMemoryCannotBeIncluded) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#endif
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    ASSERT_EQ(
        ::truncate((writeFile(d + "/huge.inc", ""), (d + "/huge.inc").c_str()), off_t(1) << 30), 0);
    writeFile(d + "/inc.nvs", "include(\"huge.inc\", \"\")\nwritelog(geterror())\n");
    Runner r(d + "/inc.nvs", d, rlim_t(512) << 20);
    EXPECT_EQ(r.finish(std::chrono::seconds(60)), 0) << r.output;
    EXPECT_NE(r.output.find("from line 2: include: cannot include file."), std::string::npos)
        << r.output;
}

TEST(RunnerFifo, IncludeRefusesAFifoInsteadOfWaitingForAWriter) {
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    ASSERT_EQ(::mkfifo((d + "/pipe").c_str(), 0600), 0);
    writeFile(d + "/inc.nvs", "include(\"pipe\", \"\")\nwritelog(geterror())\n");
    Runner r(d + "/inc.nvs", d);
    EXPECT_EQ(r.finish(std::chrono::seconds(20)), 0) << r.output;
    EXPECT_NE(r.output.find("from line 2: include: cannot include file."), std::string::npos)
        << r.output;
}

TEST(RunnerFifo, FreadReturnsWhatAFifoHoldsAndNeverWaits) {
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    const std::string fifo = d + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Held open for the whole run with three bytes in it: the FIFO never reaches its end.
    const int held = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::write(held, "abc", 3), 3);
    writeFile(d + "/read.nvs", "h = fopen(\"pipe\")\nwritelog(fread(10))\nx = fread(10)\n"
                               "writelog(len(x) & \" \" & error)\nfclose()\n");
    Runner r(d + "/read.nvs", d);
    EXPECT_EQ(r.finish(std::chrono::seconds(20)), 0) << r.output;
    ::close(held);
    EXPECT_NE(r.output.find("from line 2: abc\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("from line 4: 0 0\n"), std::string::npos) << r.output;
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
