// F1 in the editor opens the help window at the page of the keyword under the caret; Help >
// Help and F1 elsewhere open the contents; Help > Search opens it ready to search.
#include "../shell/fixture.h"
#include "shell/helpwindow.h"
#include "shell/keywordhelp.h"

#include <QDir>
#include <QLineEdit>
#include <QTextBrowser>

namespace {

class KeywordHelp : public nvtest::WindowTest {
  protected:
    QString help() const { return program.filePath("Help/html"); }
    // Each page has its name as the id of its title; the page of for also explains next.
    void pages(std::initializer_list<const char*> names) {
        QDir(program.path()).mkpath("Help/html/reference");
        nvtest::writeFile(program.filePath("Help/html/index.html"), "<html></html>");
        for (const char* n : names)
            nvtest::writeFile(help() + "/reference/" + n + ".html",
                              std::string("<html><body><h1 id=\"") + n + "\">" + n + "</h1>" +
                                  (n == std::string("for") ? "<h2 id=\"next\">next</h2>" : "") +
                                  "</body></html>");
    }
    QUrl page(const QString& rel) const {
        QUrl u = QUrl::fromLocalFile(help() + "/" + rel.section('#', 0, 0));
        if (rel.contains('#')) u.setFragment(rel.section('#', 1));
        return u;
    }
    nv::HelpWindow* window() const {
        return form->findChild<nv::HelpWindow*>(QString(), Qt::FindDirectChildrenOnly);
    }
    // The page the help window shows (empty when there is no window).
    QUrl shown() const { return window() ? window()->browser()->source() : QUrl(); }
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
        {1, 3, "reference/send.html#send"},         // inside the word
        {1, 6, "reference/send.html#send"},         // just after it, before "("
        {0, 0, "reference/for.html#for"},           // at its start
        {2, 4, "reference/for.html#next"},          // "next": its statement's page, at "next"
        {1, 10, "index.html"},                      // inside "com1": no page
        {3, 8, "reference/writelog.html#writelog"}, // at the end of the line's word
    };
    for (const auto& c : cases) {
        ed->setCursorPosition(c.line, c.index);
        ed->setFocus();
        QTest::keyClick(ed, Qt::Key_F1);
        EXPECT_EQ(shown(), page(c.page)) << c.line << ":" << c.index;
        ASSERT_TRUE(window()->isVisible());
    }
    // The pages are shown in the program's own window: nothing went to the desktop.
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(form->findChildren<nv::HelpWindow*>().size(), 1);

    // Help > Help opens the contents wherever the caret stands.
    ed->setCursorPosition(1, 3);
    form->item("helpAction")->trigger();
    EXPECT_EQ(shown(), page("index.html"));
}

TEST_F(KeywordHelp, CtrlShiftFOpensTheSearch) {
    pages({"send"});
    make();
    script("send(\"com1\", 1)\n");
    form->editor()->setFocus();
    QTest::keyClick(form->editor(), Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_NE(window(), nullptr);
    EXPECT_TRUE(window()->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return window()->searchBox()->hasFocus(); }, 2000));
    // The key is the help's alone: the script is untouched.
    EXPECT_EQ(form->editor()->text(), "send(\"com1\", 1)\n");
}

TEST_F(KeywordHelp, WithoutHelpPagesTheWindowSaysWhereItLooked) {
    make();
    script("send(\"com1\", 1)\n");
    form->editor()->setFocus();
    QTest::keyClick(form->editor(), Qt::Key_F1);
    EXPECT_TRUE(opened.empty());
    ASSERT_NE(window(), nullptr);
    EXPECT_TRUE(window()->isVisible());
    const QString text = window()->browser()->toPlainText();
    EXPECT_TRUE(text.contains("The help pages are not installed")) << text.toStdString();
    EXPECT_TRUE(text.contains(QDir::toNativeSeparators(help()))) << text.toStdString();
}

} // namespace
