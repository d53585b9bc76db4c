#include <gtest/gtest.h>

#include "engine/host.h"
#include "engine/runcontrol.h"
#include "engine/text.h"

using namespace nv;

TEST(Text, TrimAndCompact) {
    EXPECT_EQ(trim(std::string("\t\x01 a b \r\n", 9)), "a b");
    EXPECT_EQ(compact("  send (\"a b\", 1 )  "), "send(\"a b\",1)");
    EXPECT_EQ(compact("x\t=\t\"\t\""), "x=\"\t\"");
    // No escape: a lone quote leaves the rest quoted.
    EXPECT_EQ(compact("a \" b c"), "a\" b c");
}

struct SplitCase {
    const char* text;
    bool hasParen;
    const char* name;
    std::vector<std::string> args;
};

TEST(Text, SplitCallTable) {
    const SplitCase cases[] = {
        {"f()", true, "f", {}},
        {"f(a)", true, "f", {"a"}},
        {"send(mid(a, 1, 2), 5)", true, "send", {"mid(a, 1, 2)", "5"}},
        {"w(\"a,b\", (1, 2))", true, "w", {"\"a,b\"", "(1, 2)"}},
        {"f(a,,b)", true, "f", {"a", "", "b"}},
        {"f(a,)", true, "f", {"a", ""}},
        {" name ( x ) trailing", true, "name", {"x"}},
        {"noparen", false, "", {}},
        // Unbalanced parentheses end the split with what was found so far.
        {"f((a, b)", true, "f", {"b"}},
        {"f(x, (a, b)", true, "f", {"b"}},
    };
    for (const auto& c : cases) {
        std::string name;
        std::vector<std::string> args;
        EXPECT_EQ(splitCall(c.text, name, args), c.hasParen) << c.text;
        EXPECT_EQ(name, c.name) << c.text;
        EXPECT_EQ(args, c.args) << c.text;
    }
}

TEST(Text, SplitLinesLikeTheEditor) {
    EXPECT_EQ(splitLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(splitLines("a\n"), (std::vector<std::string>{"a"}));
    EXPECT_EQ(splitLines("a\n\n"), (std::vector<std::string>{"a", ""}));
    EXPECT_TRUE(splitLines("").empty());
    EXPECT_EQ(splitLines(std::string("a\0b\xff", 4)),
              (std::vector<std::string>{std::string("a\0b\xff", 4)}));
}

TEST(Validate, Messages) {
    using L = std::vector<std::string>;
    EXPECT_EQ(validateBlocks(L{"for (i,1,2,1)", "next"}), "");
    EXPECT_EQ(validateBlocks(L{"a", "b", "c", "d", "e", "f", "next"}),
              "Error: unexpected next on line 7");
    EXPECT_EQ(validateBlocks(L{"while (x == 1)"}), "\r\nError: unterminated block (while)");
    EXPECT_EQ(validateBlocks(L{"for (i,1,2,1)", "endif"}),
              "Error: unexpected endif on line 2\r\nError: unterminated block (for)");
    // `until (` anywhere on the line counts; letter case counts for the closers.
    EXPECT_EQ(validateBlocks(L{"writelog(\"until (\")"}), "Error: unexpected until on line 1");
    EXPECT_EQ(validateBlocks(L{"Next", "ENDIF"}), "");
    // Only the innermost unterminated block is named.
    EXPECT_EQ(validateBlocks(L{"procedure p", "repeat"}), "\r\nError: unterminated block (repeat)");
    EXPECT_EQ(validateBlocks(L{"for(i,1,2,1)", "next"}), "Error: unexpected next on line 2");
}

// The window and norvane-run count their log panes by one rule: each break style ends one
// line, a CR LF pair is one break, and what follows the last break is a line of its own.
TEST(LogLines, EveryBreakStyleEndsOneLine) {
    const std::pair<std::string_view, std::vector<std::string>> cases[] = {
        {"", {""}},
        {"one", {"one"}},
        {"a\r\nb", {"a", "b"}},
        {"a\nb\rc", {"a", "b", "c"}},
        {"a\n\rb", {"a", "", "b"}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"end\n", {"end", ""}},
        {"\r", {"", ""}},
    };
    for (const auto& [text, want] : cases) {
        std::vector<std::string> got;
        const int n = forEachLogLine(text, [&](std::string_view l) { got.emplace_back(l); });
        EXPECT_EQ(got, want) << testing::PrintToString(std::string(text));
        EXPECT_EQ(n, static_cast<int>(want.size()));
        EXPECT_EQ(logLinesIn(text), n);
    }
}
