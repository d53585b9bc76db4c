// The command-line conventions every tool follows: --help on standard output with status 0
// (the window program without opening a window), --version with the licence and status 0,
// and a bad command line with 64.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace {

struct Outcome {
    int status = -1;
    std::string out;
};

// Runs `command` with standard error dropped and no display, so that the window program
// could not open a window even if it tried.
Outcome run(const std::string& command) {
    Outcome o;
    FILE* p = popen(("env -u DISPLAY -u WAYLAND_DISPLAY " + command + " 2>/dev/null").c_str(), "r");
    if (!p) return o;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        o.out.append(buf, n);
    const int status = pclose(p);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
}

TEST(Tools, HelpVersionAndUsageErrorsFollowOneConvention) {
    const std::string tools[] = {NORVANE, NORVANE_RUN, NORVANE_RACK, NORVANE_SIM};
    for (const std::string& tool : tools) {
        const std::string name = tool.substr(tool.rfind('/') + 1);
        const Outcome help = run("'" + tool + "' --help");
        EXPECT_EQ(help.status, 0) << name;
        EXPECT_EQ(help.out.rfind("Usage: " + name, 0), 0u) << name << ": " << help.out;
        const Outcome version = run("'" + tool + "' --version");
        EXPECT_EQ(version.status, 0) << name;
        EXPECT_EQ(version.out.rfind(name + " ", 0), 0u) << name << ": " << version.out;
        EXPECT_NE(version.out.find("GPL-3.0-or-later"), std::string::npos) << name;
        EXPECT_NE(version.out.find("Qt 6"), std::string::npos) << name;
        // The window program passes other options on to Qt.
        if (name != "norvane") {
            EXPECT_EQ(run("'" + tool + "' --no-such-option x").status, 64) << name;
        }
    }
}

} // namespace
