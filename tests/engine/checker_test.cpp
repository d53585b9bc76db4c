#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "base/cipher.h"
#include "engine/checker.h"
#include "engine/interpreter.h"
#include "fake_host.h"

using namespace nv;
using Lines = std::vector<std::string>;

namespace {

// "LINE kind" for each finding, in order.
Lines kinds(Runtime& rt, const std::string& script, const CheckOptions& options = {}) {
    Lines out;
    for (const Finding& f : checkScript(rt, splitLines(script), options))
        out.push_back((f.file.empty() ? "" : f.file + ":") + std::to_string(f.line) + " " +
                      std::string(f.kind));
    return out;
}

} // namespace

TEST(Checker, FindsEachTrapAndNothingElse) {
    const struct {
        const char* script;
        Lines expected;
    } cases[] = {
        // None of the forms.
        {"comopen(com1)", {"1 line"}},
        {"len(\"a\")", {"1 line"}},
        {"Next", {"1 line"}},
        {"  include(\"x.enc\", \"pw\")", {"1 line"}},
        {"if(x == 1)\nendif", {"1 line", "2 block"}},
        {"for (i, 1, 2)\nnext", {"1 line"}},
        // Commands: their forms, and words that begin with one.
        {"writelog(1, 2)", {"1 args"}},
        {"showline", {"1 args"}},
        {"setportspeed = 9600", {"1 prefix"}},
        {"debugonce = 1", {"1 prefix"}},
        {"debugon\ndebugon()\nshowline()\nwritelog(\"a\")", {}},
        // Expressions.
        {"x = nosuchfunc(3)", {"1 function"}},
        {"x = LEN(\"a\")", {"1 function"}},
        {"x = len(\"a\", 2)", {"1 function"}},
        {"x = mid(s,(1),2)", {"1 function"}},
        {"x = len(mid(a, 1, 2)) + pow(2, 3)", {}},
        {"y = (\"abc\")", {"1 indirect"}},
        {"y = (a & b)", {"1 indirect"}},
        {"y = (a + 1) * (5)", {}},
        {"writelog(\"value: f(x)\")", {"1 quoted"}},
        {"writelog(\"unclosed)", {"1 unbalanced"}},
        {"x = (1", {"1 unbalanced"}},
        // Conditions.
        {"if (len(\"abc\") == 3)\nendif", {"1 condition"}},
        {"if (a == \"\")\nendif", {"1 condition"}},
        {"while (a > 1)\nwend", {"1 condition"}},
        {"if (x)\nendif", {"1 condition"}},
        {"if (a == 1 && b == 2)\nendif", {"1 condition"}},
        {"repeat\nuntil (x = 1)", {"2 condition"}},
        {"if (a == 1)\nelseif (getticks() >> 5)\nendif", {"2 condition"}},
        {"if ((a == 1) && (b == 2))\nendif\nif ((n + 1) == 3) || (b <> \"x\")\nendif", {}},
        // break.
        {"break", {"1 break"}},
        {"repeat\nif (x == 1)\nbreak\nendif\nrepeat\nuntil (x == 2)\nuntil (x == 3)", {"3 break"}},
        {"for (i, 1, 3, 1)\nbreak\nfor (j, 1, 2, 1)\nnext\nnext", {"2 break"}},
        {"for (i, 1, 3, 1)\nfor (j, 1, 2, 1)\nnext\nif (i == 2)\nbreak\nendif\nnext", {}},
        {"procedure p\nbreak\nprocend", {}},
        // The block keywords that pass through, and names that only begin like a keyword.
        {"for (i, 1, 2, 1)\nnext\nif (a == 1)\nelseif (a == 2)\nelse\nif (b == 1)\nend\nendif\n"
         "endif\nwhile (a == 1)\nwend\nrepeat\nuntil (a == 1)\nprocedure p\nprocend\np\n# c\n\n"
         "begin\nend",
         {}},
        {"sleep = 5\nsleeptime = 5\nrepeatcount = 1\nbreakpoint = 2\nnext_one = 3", {}},
    };
    for (const auto& c : cases) {
        Engine e;
        EXPECT_EQ(kinds(e.rt, c.script), c.expected) << c.script;
    }
}

TEST(Checker, ExplainsWhatTheRunWillDo) {
    Engine e;
    const auto f = checkScript(e.rt, splitLines("x = 1\nif (len(\"abc\") == 3)\nendif"));
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(formatFinding(f[0], "t.nvs"),
              "t.nvs:2: condition: a function call (len() is not called inside a condition: the "
              "value of its argument is put after the name, so the condition cannot be "
              "evaluated: the if does nothing, and its lines, its else lines and endif all run "
              "as plain lines");
}

// Included text is checked only with its own password, and its findings name its file.
TEST(Checker, IncludesWithTheirPasswordOnly) {
    const std::string path = testing::TempDir() + "checker_inc.enc";
    {
        uint32_t state = 0;
        std::ofstream(path, std::ios::binary)
            << cryptText("x = 1\ncomopen(com1)\n", keyFromText("pw"), state);
    }
    const std::string script = "include(\"" + path + "\", \"pw\")\nwritelog(1)";
    Engine e;
    e.rt.randomState = 77;
    EXPECT_EQ(kinds(e.rt, script), (Lines{"1 include"}));
    EXPECT_EQ(kinds(e.rt, script, {true, "other"}), (Lines{"1 include"}));
    EXPECT_EQ(kinds(e.rt, script, {true, "pw"}), (Lines{path + ":2 line"}));
    EXPECT_EQ(e.rt.randomState, 77u); // a check draws nothing from the run's generator
    EXPECT_EQ(kinds(e.rt, "include(\"/nonexistent.enc\", \"pw\")", {true, "pw"}),
              (Lines{"1 include"}));
    // An argument that holds a call is not evaluated (no input box pops up while checking).
    EXPECT_EQ(kinds(e.rt, "include(inputbox(\"a\", \"b\", \"c\"), \"pw\")", {true, "pw"}),
              (Lines{"1 include"}));
    std::remove(path.c_str());
}

// A strict run ends on the lines the checker calls `line`, `args` and `condition`, naming the
// line; a plain run passes over them as ever.
TEST(Checker, StrictRunEndsWhereThePlainRunPassesSilently) {
    const struct {
        const char* script;
        const char* fatal; // the fatal line's start after the time stamp; empty: none
    } cases[] = {
        {"writelog(1)\ncomopen(com1)\nwritelog(2)", " Fatal error: Strict: line 2: comopen("},
        {"if (len(\"abc\") == 3)\nwritelog(1)\nendif", " Fatal error: Strict: line 1: the cond"},
        {"x = 0\nrepeat\nx = x + 1\nif (x == 3)\nbreak\nendif\nuntil (x = 3)",
         " Fatal error: Strict: line 7: the cond"},
        {"x = 5\nwhile (x)\nwend", " Fatal error: Strict: line 2: the condition (x) compares"},
        {"writelog(1, 2)", " Fatal error: Strict: line 1: writelog( takes 1 argument, not 2"},
        {"for (i, 1, 2)\nnext", " Fatal error: Strict: line 1: a for ( line"},
        {"if(x == 1)\nx = 2\nendif", nullptr}, // refused by validation, as without --strict
        {"for (i, 1, 2, 1)\nif (i == 1)\nwritelog(i)\nelseif (i == 2)\nelse\nend\nendif\nnext\n"
         "procedure p\nprocend\np\n# c\nsetidle = 1\nrepeat\nuntil (1 == 1)\n",
         ""},
    };
    for (const auto& c : cases) {
        Engine plain, strict;
        strict.rc.options.strict = true;
        const RunOutcome p = plain.run(c.script), s = strict.run(c.script);
        if (!c.fatal) {
            EXPECT_EQ(s, RunOutcome::Refused) << c.script;
            continue;
        }
        EXPECT_EQ(p, RunOutcome::Finished) << c.script;
        const Lines log = strict.host.plain();
        if (!*c.fatal) {
            EXPECT_EQ(s, RunOutcome::Finished) << c.script;
            EXPECT_EQ(log, plain.host.plain()) << c.script;
            continue;
        }
        EXPECT_EQ(s, RunOutcome::Fatal) << c.script;
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2].rfind(c.fatal, 0), 0u) << log[log.size() - 2];
    }
}
