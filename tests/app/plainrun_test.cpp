// Which scripts norvane-run runs itself without Qt, and which it hands to the full runner:
// a script that reaches a subsystem's command or function in any spelling the engine
// accepts must never run where no subsystem is plugged in (its lines would do nothing).
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/plainrun.h"
#include "engine/host.h"
#include "engine/runtime.h"

namespace {

struct NoHost : nv::ScriptHost {
    void processEvents() override {}
    int logLineCount() const override { return 0; }
    void clearLog() override {}
    void appendLog(std::string_view) override {}
};

TEST(PlainRun, EverySpellingOfASubsystemNameGoesToTheFullRunner) {
    NoHost host;
    const nv::Runtime rt(host);
    const struct {
        const char* script;
        bool full;
    } cases[] = {
        {"writelog(1)\n", false},
        {"x = 1\nfor (i, 1, 3, 1)\nx = x + i\nnext\nwritelog(x)\n", false},
        {"sleep(10)\nwritelog(band(6, 3) & getarg(0))\nsetexitcode(3)\n", false},
        {"openport(\"com1\", 9600, 8, \"n\", \"1\")\n", true},
        {"send (\"com1\", \"x\")\n", true},             // a blank before the parenthesis
        {"tcp_ open(\"localhost\", 5025)\n", true},     // a blank inside the name
        {"x = RECEIVE(\"com1\")\n", true},              // another case
        {"if (tcp_isconnected() == 1)\nendif\n", true}, // a function inside a condition
        {"\tshowmain\n", true},                         // a bare command word
        {"setport\n", true},
        {"# openrack(\"a.rck\") later\nwritelog(1)\n", true}, // a comment counts too
        {"include(\"more.inc\", \"\")\n", true},              // text not looked at here
        {"writelog(getenv(\"HOME\"))\n", true}, // the environment the full runner sets
    };
    for (const auto& c : cases)
        EXPECT_EQ(nv::needsFullRunner(rt, c.script), c.full) << c.script;
}

std::string output(const std::string& command) {
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return "popen failed";
    std::string out;
    std::array<char, 4096> buf;
    for (size_t n; (n = std::fread(buf.data(), 1, buf.size(), p)) > 0;)
        out.append(buf.data(), n);
    ::pclose(p);
    return out;
}

// A script given as a pipe (a shell's process substitution) can be read only once: the
// runner that runs it must be the one that reads it, whichever runner that is.
TEST(PlainRun, AScriptFromAPipeRunsWhateverItNames) {
    for (const char* script : {"writelog(\"ran\")", "# openport later\nwritelog(\"ran\")"}) {
        const std::string command = std::string("bash -c '\"$0\" <(printf \"%s\\n\" \"$1\")' ") +
                                    NORVANE_RUN + " '" + script + "'";
        EXPECT_NE(output(command).find(": ran\n"), std::string::npos) << script;
    }
}

// The point of the plain run: the program itself loads no Qt library.
TEST(PlainRun, TheRunnerLinksNoQt) {
    const std::string libraries = output(std::string("LD_TRACE_LOADED_OBJECTS=1 ") + NORVANE_RUN);
    EXPECT_NE(libraries.find("libc.so"), std::string::npos) << libraries;
    EXPECT_EQ(libraries.find("libQt"), std::string::npos) << libraries;
}

} // namespace
