// F1 in the editor opens the page of the keyword under the caret; Help > Help and F1
// elsewhere open the contents.
#include "../shell/fixture.h"
#include "shell/keywordhelp.h"

#include <QDir>

namespace {

class KeywordHelp : public nvtest::WindowTest {
  protected:
    QString help() const { return program.filePath("Help/html"); }
    void pages(std::initializer_list<const char*> names) {
        QDir(program.path()).mkpath("Help/html/reference");
        nvtest::writeFile(program.filePath("Help/html/index.html"), "<html></html>");
        for (const char* n : names)
            nvtest::writeFile(help() + "/reference/" + n + ".html", "<html></html>");
    }
    QUrl page(const QString& rel) const { return QUrl::fromLocalFile(help() + "/" + rel); }
};

TEST_F(KeywordHelp, WordsMapToTheirPagesOrTheContents) {
    pages({"send", "for", "if", "while", "repeat", "procedure", "setport", "tcp_srv_open"});
    const struct {
        const char* word;
        const char* page;
    } cases[] = {
        {"send", "reference/send.html"},
        {"tcp_srv_open", "reference/tcp_srv_open.html"},
        {"next", "reference/for.html"},
        {"elseif", "reference/if.html"},
        {"else", "reference/if.html"},
        {"endif", "reference/if.html"},
        {"wend", "reference/while.html"},
        {"until", "reference/repeat.html"},
        {"procend", "reference/procedure.html"},
        {"myport", "reference/setport.html"},
        {"Send", "index.html"},    // keywords are lower case, as in scripts
        {"reading", "index.html"}, // a variable
        {"", "index.html"},
        {"../index", "index.html"}, // never a path out of the folder
    };
    for (const auto& c : cases)
        EXPECT_EQ(nv::helpPageFor(help(), c.word), help() + "/" + c.page) << c.word;
}

TEST_F(KeywordHelp, F1InTheEditorOpensThePageOfTheWordAtTheCaret) {
    pages({"send", "for", "writelog"});
    make();
    script("for (i, 1, 2, 1)\n  send(\"com1\", i)\nnext\nwritelog(x)\n");
    nv::ScriptEditor* ed = form->editor();
    ed->setFocus();
    const struct {
        int line, index;
        const char* page;
    } cases[] = {
        {1, 3, "reference/send.html"},     // inside the word
        {1, 6, "reference/send.html"},     // just after it, before "("
        {0, 0, "reference/for.html"},      // at its start
        {2, 4, "reference/for.html"},      // "next" leads to its statement
        {1, 10, "index.html"},             // inside "com1": no page
        {3, 8, "reference/writelog.html"}, // at the end of the line's word
    };
    for (const auto& c : cases) {
        opened.clear();
        ed->setCursorPosition(c.line, c.index);
        QTest::keyClick(ed, Qt::Key_F1);
        ASSERT_EQ(opened.size(), 1u) << c.line << ":" << c.index;
        EXPECT_EQ(opened[0], page(c.page)) << c.line << ":" << c.index;
    }
    EXPECT_TRUE(errors.isEmpty());

    // Help > Help opens the contents wherever the caret stands.
    opened.clear();
    ed->setCursorPosition(1, 3);
    form->item("helpAction")->trigger();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], page("index.html"));
}

TEST_F(KeywordHelp, WithoutHelpPagesF1SaysSo) {
    make();
    script("send(\"com1\", 1)\n");
    form->editor()->setFocus();
    QTest::keyClick(form->editor(), Qt::Key_F1);
    EXPECT_TRUE(opened.empty());
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("The help pages are not installed:"))
        << errors[0].toStdString();
}

} // namespace
