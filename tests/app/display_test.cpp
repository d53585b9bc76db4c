// norvane-run and norvane started where DISPLAY or WAYLAND_DISPLAY names a display that does
// not answer (ssh, cron, CI runners): the runner goes on offscreen and says so in one line
// (a script that can open no window runs without Qt and needs no display), the window
// program says it has no display and ends with 1. Neither may abort.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/tempdir.h"

namespace {

struct Outcome {
    int status = -1; // exit status, or 128 + signal
    std::string out, err;
};

std::string drain(int fd) {
    std::string s;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        s.append(buf, static_cast<size_t>(n));
    close(fd);
    return s;
}

// Runs a program with exactly the given environment (plus PATH and HOME).
Outcome run(std::vector<std::string> argv, std::vector<std::string> env) {
    for (const char* keep : {"PATH", "HOME"})
        if (const char* v = std::getenv(keep)) env.push_back(std::string(keep) + "=" + v);
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    std::vector<char*> a, e;
    for (auto& s : argv)
        a.push_back(s.data());
    a.push_back(nullptr);
    for (auto& s : env)
        e.push_back(s.data());
    e.push_back(nullptr);
    pid_t pid;
    const int rc = posix_spawn(&pid, a[0], &fa, nullptr, a.data(), e.data());
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    Outcome o;
    std::thread errReader([&] { o.err = drain(err[0]); });
    o.out = drain(out[0]);
    errReader.join();
    if (rc != 0) return o;
    int status = 0;
    waitpid(pid, &status, 0);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return o;
}

// An X display number nobody serves here.
std::string deadDisplay() {
    int n = 987;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)))
        ++n;
    return ":" + std::to_string(n);
}

struct Case {
    const char* name;
    std::vector<std::string> env;
};

std::vector<Case> deadDisplays(const nvtest::TempDir& runtime) {
    const std::string xdg = "XDG_RUNTIME_DIR=" + runtime.path.string();
    return {{"DISPLAY names no server", {"DISPLAY=" + deadDisplay(), xdg}},
            {"WAYLAND_DISPLAY names no socket", {"WAYLAND_DISPLAY=nonexistent", xdg}},
            {"both dead", {"DISPLAY=" + deadDisplay(), "WAYLAND_DISPLAY=nonexistent", xdg}},
            {"QT_QPA_PLATFORM=xcb, DISPLAY dead",
             {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + deadDisplay(), xdg}}};
}

// A script that names a subsystem may open a window, so the runner starts Qt for it.
TEST(Display, TheRunnerFallsBackToOffscreenAndSaysSoInOneLine) {
    nvtest::TempDir dir;
    nvtest::put(dir / "s.nvs", "n = enumports()\nwritelog(\"ran\")\n");
    for (const auto& c : deadDisplays(dir)) {
        const Outcome o = run({NORVANE_RUN, dir / "s.nvs"}, c.env);
        EXPECT_EQ(o.status, 0) << c.name << "\n" << o.err;
        EXPECT_NE(o.out.find(": ran\n"), std::string::npos) << c.name << "\n" << o.out;
        EXPECT_NE(o.out.find(": Script finished\n"), std::string::npos) << c.name;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << c.name << "\n" << o.err;
        EXPECT_EQ(o.err.rfind("norvane-run: cannot reach the display (", 0), 0u) << c.name;
        EXPECT_NE(o.err.find("offscreen"), std::string::npos) << c.name << "\n" << o.err;
    }
}

// A script that names no subsystem can open no window: it runs without Qt, and a dead
// display is nothing to speak of.
TEST(Display, APlainScriptRunsWithoutAWordAboutTheDisplay) {
    nvtest::TempDir dir;
    nvtest::put(dir / "s.nvs", "writelog(\"ran\")\n");
    for (const auto& c : deadDisplays(dir)) {
        const Outcome o = run({NORVANE_RUN, dir / "s.nvs"}, c.env);
        EXPECT_EQ(o.status, 0) << c.name << "\n" << o.err;
        EXPECT_NE(o.out.find(": ran\n"), std::string::npos) << c.name << "\n" << o.out;
        EXPECT_EQ(o.err, "") << c.name;
    }
}

TEST(Display, TheWindowProgramSaysItCannotReachTheDisplayAndEndsWithOne) {
    nvtest::TempDir dir;
    auto cases = deadDisplays(dir);
    cases.push_back({"nothing named", {"XDG_RUNTIME_DIR=" + dir.path.string()}});
    for (const auto& c : cases) {
        const Outcome o = run({NORVANE}, c.env);
        EXPECT_EQ(o.status, 1) << c.name << "\n" << o.err;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << c.name << "\n" << o.err;
        EXPECT_EQ(o.err.rfind("norvane: cannot reach the display (", 0), 0u) << c.name << "\n"
                                                                             << o.err;
    }
}

// Run under tests/x11.sh: a display that answers is used, with nothing said about it.
TEST(Display, AReachableDisplayIsUsedWithoutAWord) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "needs a display (tests/x11.sh)";
    nvtest::TempDir dir;
    nvtest::put(dir / "s.nvs", "writelog(\"ran\")\n");
    std::vector<std::string> env{std::string("DISPLAY=") + display,
                                 "XDG_RUNTIME_DIR=" + dir.path.string()};
    if (const char* auth = std::getenv("XAUTHORITY"))
        env.push_back(std::string("XAUTHORITY=") + auth);
    const Outcome o = run({NORVANE_RUN, dir / "s.nvs"}, env);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find(": ran\n"), std::string::npos) << o.out;
    EXPECT_EQ(o.err, "");
}

} // namespace
