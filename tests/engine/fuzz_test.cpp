// Random byte strings through the evaluator, the condition evaluator, the call splitter and
// whole scripts: nothing may crash or hang. A fixed seed keeps failures reproducible.
#include <gtest/gtest.h>

#include <random>

#include "engine/interpreter.h"
#include "fake_host.h"

using namespace nv;

namespace {

// Bytes biased towards the characters the parsers care about.
std::string randomText(std::mt19937& gen, size_t maxLen) {
    static const char alphabet[] = "()\"\",,&+-*/%\\^=<>|# abcx19.eE\t$";
    std::uniform_int_distribution<size_t> len(0, maxLen);
    std::string s(len(gen), '\0');
    for (auto& c : s)
        c = (gen() % 4 == 0) ? static_cast<char>(gen()) : alphabet[gen() % (sizeof alphabet - 1)];
    return s;
}

} // namespace

TEST(Fuzz, EvaluatorConditionsAndSplitCall) {
    Engine e;
    Interpreter ex(e.rt);
    ex.setVariable("a", "(a)");
    ex.setVariable("b", "1");
    std::mt19937 gen(20261210);
    std::string value, name;
    std::vector<std::string> args;
    for (int i = 0; i < 60000; ++i) {
        const std::string t = randomText(gen, 40);
        ex.evaluate(t, value);
        bool truth = false;
        ex.evaluateCondition(t, truth);
        splitCall(t, name, args);
    }
    SUCCEED();
}

TEST(Fuzz, WholeScriptsEnd) {
    std::mt19937 gen(42);
    static const char* words[] = {"for (i, 1, 3, 1)", "next",        "if (b == 1)",
                                  "elseif (a << 2)",  "else",        "endif",
                                  "while (b << 3)",   "wend",        "repeat",
                                  "until (b >> 0)",   "break",       "exit",
                                  "procedure p",      "procend",     "p",
                                  "b = b + 1",        "writelog(b)", "a = mid(\"xy\", b, 1)"};
    for (int i = 0; i < 3000; ++i) {
        std::string script;
        const int n = static_cast<int>(gen() % 12);
        for (int k = 0; k < n; ++k) {
            script += (gen() % 5 == 0) ? randomText(gen, 20) : words[gen() % std::size(words)];
            script += '\n';
        }
        Engine e;
        int events = 0;
        // A script may loop for ever on purpose; pressing Stop after a while ends it.
        e.host.onEvents = [&](int) {
            if (++events == 2000) e.rc.stop();
        };
        e.run(script);
        ASSERT_FALSE(e.rc.running());
    }
}
