// The checker's findings in the window: wavy underlines in the editor after a pause in the
// typing, Script > Check in the log with a click that leads to the line, and the Strict run
// setting.
#include "shell/diagnostics.h"
#include "tests/shell/fixture.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QToolTip>
#include <Qsci/qsciscintillabase.h>

using namespace nv;
using nvtest::readFile;

namespace {

using B = QsciScintillaBase;

class Diagnose : public nvtest::WindowTest {
  protected:
    // The underlined pieces of the text, in order, as the editor holds them.
    std::vector<std::string> underlined() {
        ScriptEditor* ed = form->editor();
        const std::string text = ed->bytes();
        std::vector<std::string> out;
        const long len = static_cast<long>(text.size());
        for (long pos = 0; pos < len;) {
            const long end = ed->SendScintilla(B::SCI_INDICATOREND, Diagnostics::kIndicator, pos);
            if (ed->SendScintilla(B::SCI_INDICATORVALUEAT, Diagnostics::kIndicator, pos))
                out.push_back(
                    text.substr(static_cast<size_t>(pos), static_cast<size_t>(end - pos)));
            if (end <= pos) break;
            pos = end;
        }
        return out;
    }
    int logLineWith(const std::string& piece) {
        const QStringList lines = form->logText().split(QLatin1Char('\n'));
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].toStdString().find(piece) != std::string::npos) return i;
        return -1;
    }
    // Waits for the check that follows the typing.
    void waitForCheck() { QTRY_VERIFY_WITH_TIMEOUT(!form->diagnostics()->pending(), 5000); }
};

} // namespace

TEST_F(Diagnose, TypingUnderlinesAMisspelledCommandAfterAPauseAndFixingItClears) {
    make();
    script("x = 1\n");
    waitForCheck();
    ScriptEditor* ed = form->editor();
    ed->setFocus();
    ed->setCursorPosition(1, 0);
    QTest::keyClicks(ed, "  writelgo(x)");
    // Not checked inside the keystrokes: the underline comes after the pause.
    EXPECT_TRUE(form->diagnostics()->pending());
    EXPECT_TRUE(underlined().empty());
    waitForCheck();
    EXPECT_EQ(underlined(), std::vector<std::string>{"writelgo(x)"});

    // The explanation shows where the mouse rests, and nowhere else.
    const long at = ed->SendScintilla(B::SCI_POSITIONFROMLINE, 1) + 4;
    const QString why = form->diagnostics()->explanationAt(at);
    EXPECT_TRUE(why.startsWith(QLatin1String("line: "))) << why.toStdString();
    EXPECT_TRUE(form->diagnostics()->explanationAt(1).isEmpty());
    emit ed->SCN_DWELLSTART(static_cast<int>(at), 40, 20);
    EXPECT_EQ(QToolTip::text(), why);

    // Fixing the name clears it.
    ed->setCursorPosition(1, 10);
    QTest::keyClick(ed, Qt::Key_Backspace);
    QTest::keyClick(ed, Qt::Key_Backspace);
    QTest::keyClicks(ed, "og");
    waitForCheck();
    EXPECT_EQ(ed->bytes(), "x = 1\n  writelog(x)");
    EXPECT_TRUE(underlined().empty());
}

TEST_F(Diagnose, TheUnderlineCoversThePieceAFindingNames) {
    make();
    struct Case {
        const char* script;
        std::vector<std::string> marked;
    } cases[] = {
        // A function that does not exist: its call, not the line.
        {"x = 1 + lenn(\"abc\") * 2\n", {"lenn(\"abc\")"}},
        // A condition with a call in it: the condition.
        {"if (len(\"abc\") == 3)\nx = 1\nendif\n", {"(len(\"abc\") == 3)"}},
        // Anything else: the line without its indentation.
        {"x = 1\n\tWritelog(x)  \n", {"Writelog(x)"}},
        // Block words the run passes over are no findings.
        {"if (x == 1)\nelse\nendif\nrepeat\nuntil (x == 1)\n", {}},
        // The window has no password: an include is not checked, and says so on its line.
        {"include(\"inc/greet.enc\", \"secret\")\nx = 1\n",
         {"include(\"inc/greet.enc\", \"secret\")"}},
    };
    for (const Case& c : cases) {
        script(c.script);
        form->diagnostics()->recheck();
        EXPECT_EQ(underlined(), c.marked) << c.script;
    }
    EXPECT_EQ(log(), "") << "checking writes nothing in the log";
}

TEST_F(Diagnose, CheckListsTheFindingsInTheLogAndAClickLeadsToTheLine) {
    make();
    script("x = 1\nwritelgo(x)\ny = 2\nz = nosuch(3)\n");
    QAction* check = form->item(QStringLiteral("checkAction"));
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->shortcut(), QKeySequence(Qt::Key_F7));
    check->trigger();
    const int first = logLineWith("2: line: ");
    const int second = logLineWith("4: function: ");
    ASSERT_GE(first, 0) << log();
    ASSERT_GE(second, 0) << log();
    EXPECT_EQ(form->logText().split(QLatin1Char('\n')).size(), 2) << log();

    QPlainTextEdit* pane = form->logPane();
    const QTextBlock block = pane->document()->findBlockByNumber(second);
    QTest::mouseClick(pane->viewport(), Qt::LeftButton, {},
                      pane->cursorRect(QTextCursor(block)).center() + QPoint(20, 0));
    int line = -1, index = -1;
    form->editor()->getCursorPosition(&line, &index);
    EXPECT_EQ(line, 3);
    EXPECT_TRUE(form->jumpToLogLine(first));
    form->editor()->getCursorPosition(&line, &index);
    EXPECT_EQ(line, 1);

    // A clean script: one line says so, and it leads nowhere.
    form->clearLog();
    script("x = 1\nwritelog(x)\n");
    check->trigger();
    EXPECT_EQ(log(), "Check: no findings");
    EXPECT_FALSE(form->jumpToLogLine(0));
}

TEST_F(Diagnose, StrictIsRememberedAndEndsTheRunOnATrap) {
    make();
    QAction* strict = form->item(QStringLiteral("strictAction"));
    ASSERT_NE(strict, nullptr);
    EXPECT_TRUE(strict->isCheckable());
    EXPECT_FALSE(strict->isChecked()) << "off by default";
    const std::string traps = "writelgo(1)\nwritelog(\"after\")\n";

    // Off: the trap does nothing and the run goes on.
    script(traps);
    click("runButton");
    EXPECT_NE(log().find("after"), std::string::npos) << log();
    EXPECT_EQ(log().find("Fatal error"), std::string::npos) << log();
    form->close();
    EXPECT_EQ(readFile(settingsFile()).find("strict"), std::string::npos)
        << "a file never switched on stays without the key";

    make();
    form->item(QStringLiteral("strictAction"))->trigger();
    form->close();
    EXPECT_NE(readFile(settingsFile()).find("[script]\nstrict=1"), std::string::npos)
        << readFile(settingsFile());

    make();
    ASSERT_TRUE(form->item(QStringLiteral("strictAction"))->isChecked());
    script(traps);
    click("runButton");
    EXPECT_NE(log().find("Fatal error"), std::string::npos) << log();
    EXPECT_EQ(log().find("after"), std::string::npos) << log();
    EXPECT_EQ(form->editor()->errorLine(), 0) << "the trap's line is marked";

    form->item(QStringLiteral("strictAction"))->trigger();
    form->close();
    EXPECT_EQ(readFile(settingsFile()).find("strict=1"), std::string::npos);
}
