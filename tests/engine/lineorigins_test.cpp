// Program lines mapped back to their sources through include expansion: every prepared line
// must be (or, where an included file without a final line end joins it, begin with) the
// source line its origin names.
#include "engine/lineorigins.h"
#include "engine/text.h"

#include <gtest/gtest.h>

using namespace nv;

namespace {

struct Include {
    int editorLine;
    std::string text;
};

TEST(LineOrigins, EveryPreparedLineNamesTheLineItCameFrom) {
    struct Case {
        const char* name;
        std::vector<std::string> editor;
        std::vector<Include> includes; // in the order the editor lines make them
    } cases[] = {
        {"plain", {"a", "b"}, {}},
        {"one file", {"x", "include(1)", "y"}, {{1, "p\nq\n"}}},
        {"no final line end: joined", {"include(1)", "y"}, {{0, "p\nq"}}},
        {"two files, the second in front",
         {"include(1)", "include(2)", "z"},
         {{0, "a1\na2\n"}, {1, "b1\n"}}},
        {"CR LF and a lone CR", {"include(1)", "w"}, {{0, "c1\r\nc2\rc3\n"}}},
        {"empty file", {"include(1)", "v"}, {{0, ""}}},
        {"empty last editor line", {"include(1)", "v", ""}, {{0, "p\n"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LineOrigins origins;
        origins.reset(c.editor.size());
        std::vector<std::string> program = c.editor;
        for (size_t k = 0; k < c.includes.size(); ++k) {
            const Include& inc = c.includes[k];
            origins.include("f" + std::to_string(k), inc.editorLine, inc.text, program);
            program = splitLines(inc.text + joinLines(program));
        }
        program.insert(program.begin(), "begin");
        program.emplace_back("end");
        origins.frame();
        ASSERT_EQ(origins.size(), program.size());
        EXPECT_EQ(origins.at(0).editorLine, -1);
        EXPECT_EQ(origins.at(static_cast<int>(program.size()) - 1).line, -1);
        for (int i = 1; i + 1 < static_cast<int>(program.size()); ++i) {
            const SourceLine s = origins.at(i);
            std::string expected;
            if (s.file.empty()) {
                ASSERT_GE(s.line, 0);
                expected = c.editor[static_cast<size_t>(s.line)];
                EXPECT_EQ(s.editorLine, s.line);
            } else {
                const size_t k = std::stoul(s.file.substr(1));
                expected = splitLines(c.includes[k].text)[static_cast<size_t>(s.line)];
                EXPECT_EQ(s.editorLine, c.includes[k].editorLine);
            }
            EXPECT_EQ(program[static_cast<size_t>(i)].rfind(expected, 0), 0u)
                << "line " << i << ": " << program[static_cast<size_t>(i)] << " from " << s.file
                << ":" << s.line;
        }
    }
    EXPECT_EQ(LineOrigins().at(5).editorLine, -1) << "outside the program";
}

} // namespace
