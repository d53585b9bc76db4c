#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "base/cipher.h"
#include "engine/interpreter.h"
#include "fake_host.h"

using namespace nv;
using Lines = std::vector<std::string>;

TEST(Run, StartAndFinishLinesAroundAnEmptyScript) {
    Engine e;
    EXPECT_EQ(e.run(""), RunOutcome::Finished);
    EXPECT_EQ(e.host.plain(), (Lines{": Script started", ": Script finished"}));
    EXPECT_EQ(e.host.states.front(), RunState::Running);
    EXPECT_EQ(e.host.states.back(), RunState::Idle);
}

TEST(Run, ValidationRefusesAndShowsOnlyTheMessage) {
    Engine e;
    e.host.log = {"old"};
    EXPECT_EQ(e.run("next"), RunOutcome::Refused);
    EXPECT_EQ(e.host.log, (Lines{"Error: unexpected next on line 1"}));
}

TEST(Run, LogIsClearedPastFiveHundredLines) {
    Engine e;
    e.run("for (i, 1, 600, 1)\nwritelog(i)\nnext");
    // The pane never holds more than 501 lines, and the last clear left the tail.
    ASSERT_FALSE(e.host.log.empty());
    EXPECT_LE(e.host.log.size(), 501u);
    EXPECT_EQ(e.host.plain().back(), ": Script finished");
    EXPECT_EQ(e.host.plain()[e.host.log.size() - 2], ", from line 2: 600");
}

TEST(Run, FiveHundredAndFirstLineClearsThePane) {
    Engine e;
    e.host.log.assign(501, "x");
    Interpreter ex(e.rt);
    ex.logMessage("hello");
    ASSERT_EQ(e.host.log.size(), 1u);
    EXPECT_EQ(e.host.plain()[0], ": hello");
    e.host.log.assign(500, "x");
    ex.logMessage("kept");
    EXPECT_EQ(e.host.log.size(), 501u);
}

TEST(Run, PackageModeLogsNothingFromScripts) {
    Engine e;
    e.rt.packageMode = true;
    e.run("writelog(1)\ndebugon\nshowline()\nx = 1");
    EXPECT_EQ(e.host.plain(), (Lines{": Script started", ": Script finished"}));
    EXPECT_TRUE(e.host.highlights == std::vector<int>{-1});
}

TEST(Run, StopWhilePausedExecutesThePausedLineThenEnds) {
    Engine e;
    e.host.onEvents = [&](int n) {
        if (n == 3) e.rc.pause(); // paused in the preamble of line 3
        if (n == 10) e.rc.stop(); // stop from inside the pause wait
    };
    e.run("writelog(1)\nwritelog(2)\nwritelog(3)\nwritelog(4)");
    EXPECT_EQ(e.host.plain(), (Lines{": Script started", ", from line 1: 1", ", from line 2: 2",
                                     ": Script paused", ", from line 3: 3", ": Script finished"}));
}

TEST(Run, PauseAndResume) {
    Engine e;
    e.host.onEvents = [&](int n) {
        if (n == 1) e.rc.pause();
        if (n == 5) e.rc.run({});
    };
    e.run("writelog(1)");
    EXPECT_EQ(e.host.plain(), (Lines{": Script started", ": Script paused", ": Script resumed",
                                     ", from line 1: 1", ": Script finished"}));
}

// Waiting for Run after Pause, or for the next step, sleeps in the host's event wait instead
// of spinning over the queue; the other passes do not wait.
TEST(Run, PauseAndStepWaitsSleepUntilAnEvent) {
    Engine e;
    e.host.onEvents = [&](int n) {
        if (n == 1) e.rc.pause();
        if (n == 4) e.rc.run({}); // resume
        if (n == 7) e.rc.run({}); // release the step
    };
    e.run("debugon\nwritelog(1)");
    EXPECT_EQ(e.host.waited,
              (std::vector<bool>{false, true, true, true, false, true, true, false}));
    EXPECT_EQ(e.host.plain().back(), ": Script finished");
    EXPECT_EQ(e.host.plain()[e.host.log.size() - 2], ", from line 2: 1");
}

// Stop runs the stop hooks when it is given (they close what the script opened), also when
// no run exists, and before the run unwinds to its end hooks.
TEST(Run, StopRunsTheStopHooksAtOnce) {
    Engine e;
    Lines order;
    e.rt.onStop.push_back([&] { order.push_back("stop"); });
    e.rt.onRunEnd.push_back([&] { order.push_back("end"); });
    e.host.onEvents = [&](int n) {
        if (n != 2) return;
        e.rc.stop();
        order.push_back("stop given");
    };
    e.run("writelog(1)\nwritelog(2)\nwritelog(3)");
    EXPECT_EQ(order, (Lines{"stop", "stop given", "end"}));
    EXPECT_EQ(e.host.plain(), (Lines{": Script started", ", from line 1: 1", ": Script finished"}));
    order.clear();
    e.rc.stop();
    EXPECT_EQ(order, (Lines{"stop"}));
}

// A command handler that declines its line (returns false) hands it on to the next row whose
// keyword the line begins with, and after the last such row to the assignment.
TEST(Dispatch, DeclinedLineGoesToTheNextRowThenToTheAssignment) {
    Engine e;
    Lines seen;
    e.rt.addCommand({.keyword = "showmain", .handler = [&](CommandCall& c) {
                         seen.push_back("first " + c.line);
                         return false;
                     }});
    e.rt.commands().push_back({"showmain", false, [&](Interpreter&, const std::string& line, int) {
                                   seen.push_back("second " + line);
                                   return line == "showmain";
                               }});
    e.run("showmain\nshowmainx = 5\nwritelog(showmainx)");
    EXPECT_EQ(seen, (Lines{"first showmain", "second showmain", "first showmainx = 5",
                           "second showmainx = 5"}));
    EXPECT_EQ(e.host.plain()[1], ", from line 3: 5");
}

TEST(Run, DebugStepsReleaseOneLineAndStopSkipsTheWaitingLine) {
    Engine e;
    int releases = 0;
    e.host.onEvents = [&](int) {
        Interpreter* ex = e.rc.current();
        if (ex && ex->stepWaiting()) {
            if (++releases < 5)
                e.rc.run({});
            else
                e.rc.stop();
        }
    };
    e.run("debugon\nfor (i, 1, 2, 1)\n\nwritelog(i)\nnext\nwritelog(\"never\")");
    EXPECT_EQ(e.host.plain(), (Lines{": Script started", "Next line to execute: for (i, 1, 2, 1)",
                                     "Next line to execute: ", "Next line to execute: writelog(i)",
                                     ", from line 4: 1", "Next line to execute: ",
                                     "Next line to execute: writelog(i)", ": Script finished"}));
    EXPECT_EQ(e.host.watch, "error=0\ni=2");
}

TEST(Run, ShowlineHighlightsEachLineAndClearsAtTheEnd) {
    Engine e;
    e.run("showline()\nx = 1\ny = 2");
    EXPECT_EQ(e.host.highlights, (std::vector<int>{1, 2, -1}));
}

TEST(Run, RunawayRecursionIsAFatalErrorNotACrash) {
    Engine e;
    EXPECT_EQ(e.run("procedure p\np\nprocend\np"), RunOutcome::Fatal);
    const auto lines = e.host.plain();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], " Fatal error: Stack overflow");
    EXPECT_EQ(lines.back(), ": Script finished");
    // Deep but bounded recursion still works.
    Engine ok;
    ok.run("n = 0\nprocedure p\nn = n + 1\nif (n << 500)\np\nendif\nprocend\np\nwritelog(n)");
    EXPECT_EQ(ok.host.plain()[1], ", from line 9: 500");
}

TEST(Run, ScanPastTheLastLineEndsQuietly) {
    const std::string path = testing::TempDir() + "inc_for.nvs";
    uint32_t s = 0;
    std::ofstream(path, std::ios::binary) << cryptText("for (i, 1, 2, 1)\n", keyFromText("pw"), s);
    Engine e;
    EXPECT_EQ(e.run("include(\"" + path + "\", \"pw\")\nwritelog(1)"), RunOutcome::Finished);
    // The body (include line, writelog, end) ran once, then the scan for `next` fell off.
    EXPECT_EQ(e.host.plain().back(), ": Script finished");
    EXPECT_EQ(e.host.plain().size(), 3u);
}

TEST(Run, FatalErrorsForBadLoopBounds) {
    for (const char* script : {"for (i, 1, 5, 0)\nnext", "x = \"abc\"\nfor (i, x, 5, 1)\nnext"}) {
        Engine e;
        EXPECT_EQ(e.run(script), RunOutcome::Fatal) << script;
        EXPECT_EQ(e.host.plain()[1].rfind(" Fatal error: ", 0), 0u) << script;
    }
}

TEST(Include, DeciphersInReverseOrderAndSharesTheGenerator) {
    const std::string a = testing::TempDir() + "inc_a.nvs", b = testing::TempDir() + "inc_b.nvs";
    uint32_t s = 0;
    std::ofstream(a, std::ios::binary) << cryptText("writelog(\"A\")\n", keyFromText("k1"), s);
    std::ofstream(b, std::ios::binary) << cryptText("writelog(\"B\")", keyFromText(""), s);
    Engine e;
    e.run("include(\"" + a + "\", \"k1\")\ninclude(\"" + b + "\", \"\")\nx = 1");
    const auto& prog = e.host.plain();
    // b (the second include) stands first; it has no final line break, so its last line and
    // the first line of a form one line, whose quotes then run across the join.
    EXPECT_EQ(prog[1], ", from line 1: B\")writelog(\"A");
    // The generator continues from the last decipher: random() draws from that state.
    uint32_t expect = keyFromText("");
    for (int i = 0; i < 13; ++i)
        expect = nextRandomState(expect);
    EXPECT_EQ(e.rt.randomState, expect);
}

TEST(Include, FailureSetsErrorAndTheRunGoesOn) {
    Engine e;
    e.run("include(\"/nonexistent/x\", \"pw\")\nwritelog(error)\n"
          " include(\"/nonexistent/x\", \"pw\")\ninclude (\"/nonexistent/x\", \"pw\")");
    EXPECT_EQ(e.host.plain()[1], ", from line 2: 1");
    Engine f;
    f.run("include(\"/nonexistent/x\", \"pw\")\nwritelog(geterror())");
    EXPECT_EQ(f.host.plain()[1], ", from line 2: include: cannot include file.");
}

TEST(Variables, StoreRules) {
    Engine e;
    Interpreter ex(e.rt);
    auto& v = ex.variables();
    v.set("X", "5");
    v.set("x", "6");
    EXPECT_EQ(v.text(), "x=6");
    v.set("a", "1");
    v.set("b", "2");
    v.set("a", "");
    EXPECT_EQ(v.text(), "x=6\nb=2");
    v.set("B", "3");
    EXPECT_EQ(v.text(), "x=6\nB=3");
    ASSERT_NE(v.get("b"), nullptr);
    EXPECT_EQ(*v.get("b"), "3");
    EXPECT_EQ(v.get("a"), nullptr);
}

// An integer kept without its text: every reader sees the number writer's text, the name is
// the one last written through any path, and a text write drops the integer.
TEST(Variables, IntegersKeptBesideTexts) {
    Engine e;
    Interpreter ex(e.rt);
    auto& v = ex.variables();
    Variables::Slot lower, upper;
    v.setInteger("n", -42, lower);
    EXPECT_EQ(v.text(), "n=-42");
    v.setInteger("N", 7, upper);
    ASSERT_NE(v.get("n"), nullptr);
    EXPECT_EQ(*v.get("n"), "7");
    EXPECT_EQ(v.items().at(0).first, "N");
    v.setInteger("n", 8, lower); // the slot wrote "n" before, but "N" came since
    EXPECT_EQ(v.items().at(0), (std::pair<std::string, std::string>("n", "8")));
    int64_t got = 0;
    EXPECT_TRUE(v.getInteger("N", upper, got));
    EXPECT_EQ(got, 8);
    for (const char* text : {"007", "-0", "1e3", " 5", "1000000000000000", "5.0"}) {
        v.set("n", text);
        EXPECT_FALSE(v.getInteger("n", lower, got)) << text;
        EXPECT_EQ(*v.get("n"), text);
    }
    v.set("n", "-123");
    EXPECT_TRUE(v.getInteger("n", lower, got));
    EXPECT_EQ(got, -123);
    v.set("n", "");
    EXPECT_FALSE(v.getInteger("n", lower, got));
    EXPECT_EQ(v.text(), "");
}

TEST(Evaluate, BytesSurvive) {
    Engine e;
    Interpreter ex(e.rt);
    const std::string bin("a\0\x80\xff", 4);
    ex.setVariable("b", bin);
    std::string v;
    EXPECT_TRUE(ex.evaluate("b & b", v));
    EXPECT_EQ(v, bin + bin);
    EXPECT_TRUE(ex.evaluate("tohex(b)", v));
    EXPECT_EQ(v, "61 00 80 ff");
}

// A text result holding a quote or a parenthesis is put back as a placeholder operand: the
// value arrives whole, through further calls too, and nothing of the placeholder outlives
// the evaluation or can be forged by data.
TEST(Evaluate, SplicedResultsArriveWhole) {
    Engine e;
    Interpreter ex(e.rt);
    const std::string data("q\"(\0)\x7f=,\"", 10);
    ex.setVariable("d", data);
    std::string v;
    EXPECT_TRUE(ex.evaluate("mid(d, 1, 99) & \"z\"", v));
    EXPECT_EQ(v, data + "z");
    EXPECT_TRUE(ex.evaluate("mid(mid(d, 1, 99), 2, 3) & len(mid(d, 1, 99))", v));
    EXPECT_EQ(v, data.substr(1, 3) + "10");
    // Data shaped like a placeholder is only data, next to a real placeholder too.
    const std::string fake("=\x7f"
                           "0\x7f=");
    ex.setVariable("f", fake);
    EXPECT_TRUE(ex.evaluate("chr(34) & ucase(f) & mid(f, 1, 9)", v));
    EXPECT_EQ(v, "\"" + fake + fake);
    // The fallback after a failed call drops the text's first character: the placeholder
    // standing there still reads whole.
    EXPECT_TRUE(ex.evaluate("mid(d, 1, 99) & nosuch(1)", v));
    EXPECT_EQ(v, data);
}

TEST(Evaluate, SelfReproducingTextEnds) {
    Engine e;
    Interpreter ex(e.rt);
    ex.setVariable("x", "(x)");
    ex.setVariable("y", "((y))");
    std::string v;
    EXPECT_FALSE(ex.evaluate("(x)", v));
    EXPECT_FALSE(ex.evaluate("(y)", v)); // grows on every pass
    bool truth = false;
    EXPECT_FALSE(ex.evaluateCondition("(x)", truth));
    EXPECT_FALSE(ex.evaluateCondition("(y)", truth));
}

TEST(Random, GeneratorSequence) {
    Engine e;
    Interpreter ex(e.rt);
    std::string v;
    uint32_t s = 0;
    for (int i = 0; i < 5; ++i) {
        s = nextRandomState(s);
        ASSERT_TRUE(ex.evaluate("random(100)", v) || v == "0");
        EXPECT_EQ(v, std::to_string((uint64_t{100} * s) >> 32));
    }
    EXPECT_TRUE(ex.evaluate("random(0)", v) || v == "0");
    EXPECT_EQ(v, "0");
}

// sleep waits in the host's timed event wait, asking for the time that is left rather than
// passing over the queue again and again, and a Stop given during the wait ends it at once.
TEST(Extensions, SleepWaitsInTheHostAndStopEndsIt) {
    Engine e;
    e.host.onEvents = [&](int n) {
        if (n == 4) e.rc.stop();
    };
    e.run("sleep(600000)\nwritelog(1)");
    ASSERT_EQ(e.host.timed.size(), 2u);
    EXPECT_GT(e.host.timed.front(), 590000);
    EXPECT_EQ(e.host.plain(), (Lines{": Script started", ": Script finished"}));
}

// Names added to the language neither begin with a command keyword nor begin one, so no
// line that dispatched before is taken by them, and they are not taken by an older row.
TEST(Extensions, NewNamesClashWithNoCommandKeyword) {
    FakeHost host;
    Runtime rt(host);
    for (std::string_view name :
         {"sleep", "getarg", "getenv", "waitfor", "band", "bor", "bxor", "shl", "shr", "crc16"}) {
        for (const auto& row : rt.commands()) {
            std::string_view keyword = row.keyword;
            if (keyword.ends_with('(')) keyword.remove_suffix(1);
            if (keyword == name) continue;
            EXPECT_FALSE(name.starts_with(keyword)) << name << " begins with " << keyword;
            EXPECT_FALSE(keyword.starts_with(name)) << keyword << " begins with " << name;
        }
    }
}
