// What a user of the window expects from any editor: a changed script is never lost without
// a question, windows stay on the screen and come up beside the main window, a log line that
// names a line leads to it, the edit keys and menus, and a completion list that narrows.
#include "base/cipher.h"
#include "engine/runtime.h"
#include "tests/serial/pty.h"
#include "tests/shell/fixture.h"
#include "watch/watchwindow.h"

#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>
#include <QTextBlock>
#include <Qsci/qsciscintillabase.h>

using namespace nv;
using nvtest::readFile;
using nvtest::writeFile;
using Unsaved = MainWindow::Dialogs::Unsaved;

namespace {

const std::string kWaitForever = "n = 0\nrepeat\nn = n + 1\nuntil (n == -1)\n";

class Usability : public nvtest::WindowTest {
  protected:
    // Opens `name` (written with `text`) and types into it, so that it holds a change.
    void openAndChange(const QString& name, const std::string& text) {
        writeFile(path(name), text);
        nextOpen = path(name);
        answer = true;
        click("openButton");
        form->editor()->setCursorPosition(0, 0);
        QTest::keyClicks(form->editor(), "z");
    }

    // The 0-based log line that contains `text`; -1 when none does.
    int logLineWith(const QString& text) {
        const QStringList lines = form->logText().split(QLatin1Char('\n'));
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].contains(text)) return i;
        return -1;
    }
};

// ---- unsaved work ----

TEST_F(Usability, EveryWayOutAsksBeforeAChangedScriptIsLost) {
    struct Way {
        const char* name;
        std::function<void()> take;
        // Whether the way out went on: the window closed, or the editor holds other text.
        std::function<bool()> wentOn;
    };
    const auto closedWindow = [this] { return form->closed(); };
    const auto otherText = [this] {
        return form->editor()->bytes().find('z') == std::string::npos;
    };
    const Way ways[] = {
        {"Ctrl+Q", [this] { QTest::keyClick(form.get(), Qt::Key_Q, Qt::ControlModifier); },
         closedWindow},
        {"close button", [this] { form->close(); }, closedWindow},
        {"New", [this] { click("newButton"); }, otherText},
        {"Open",
         [this] {
             nextOpen = path("other.nvs");
             click("openButton");
         },
         otherText},
        {"recent entry", [this] { form->openRecent(1); }, otherText},
    };
    writeFile(path("other.nvs"), "other\n");
    for (const Way& way : ways) {
        for (Unsaved reply : {Unsaved::Cancel, Unsaved::Discard, Unsaved::Save}) {
            SCOPED_TRACE(std::string(way.name) + " answered " +
                         std::to_string(static_cast<int>(reply)));
            make();
            nextOpen = path("other.nvs");
            click("openButton"); // the recent list gets a second entry
            openAndChange("mine.nvs", "mine\n");
            EXPECT_TRUE(form->editor()->unsaved());
            EXPECT_EQ(form->shownTitle(), "Norvane - mine.nvs*");
            questions.clear();
            unsavedQuestions.clear();
            unsavedAnswer = reply;
            way.take();
            ASSERT_EQ(unsavedQuestions.size(), 1);
            EXPECT_TRUE(unsavedQuestions[0].contains("mine.nvs"))
                << unsavedQuestions[0].toStdString();
            EXPECT_TRUE(questions.isEmpty()) << "no second question";
            EXPECT_EQ(way.wentOn(), reply != Unsaved::Cancel);
            EXPECT_EQ(readFile(path("mine.nvs")), reply == Unsaved::Save ? "zmine\n" : "mine\n");
            if (reply == Unsaved::Cancel) {
                EXPECT_EQ(form->editor()->bytes(), "zmine\n");
            }
        }
    }
}

TEST_F(Usability, NoQuestionWithoutAChangeOrInPackageMode) {
    make();
    openAndChange("mine.nvs", "mine\n");
    // Undoing back to what was loaded leaves nothing to lose.
    form->item("undoAction")->trigger();
    EXPECT_FALSE(form->editor()->unsaved());
    EXPECT_EQ(form->shownTitle(), "Norvane - mine.nvs");
    click("newButton");
    form->openRecent(0);
    EXPECT_TRUE(unsavedQuestions.isEmpty());

    // Saving clears the mark.
    QTest::keyClicks(form->editor(), "y");
    EXPECT_EQ(form->shownTitle(), "Norvane - mine.nvs*");
    click("saveButton");
    EXPECT_EQ(form->shownTitle(), "Norvane - mine.nvs");
    form->close();
    EXPECT_TRUE(form->closed());
    EXPECT_TRUE(unsavedQuestions.isEmpty());

    // A built program is one application to its user: it never asks.
    make();
    form->setPackageMode(true);
    QTest::keyClicks(form->editor(), "x = 1");
    form->close();
    EXPECT_TRUE(form->closed());
    EXPECT_TRUE(unsavedQuestions.isEmpty());
}

TEST_F(Usability, SavingAnUntitledScriptCanStillBeCancelled) {
    make();
    QTest::keyClicks(form->editor(), "x = 1");
    unsavedAnswer = Unsaved::Save;
    nextSave.clear(); // the Save as dialog is cancelled
    form->close();
    EXPECT_FALSE(form->closed()) << "nothing saved, nothing discarded";
    nextSave = path("named");
    form->close();
    EXPECT_TRUE(form->closed());
    EXPECT_EQ(readFile(path("named.nvs")), "x = 1");
}

TEST_F(Usability, ClosingWhileAChangedScriptRunsCanBeCancelled) {
    make();
    script("n = 0\nrepeat\nn = n + 1\nuntil (n == -1)\n");
    QTest::keyClicks(form->editor(), "# changed ");
    runWith({[&] {
                 unsavedAnswer = Unsaved::Cancel;
                 form->close();
                 EXPECT_TRUE(form->running()) << "Cancel leaves the run going";
             },
             [&] {
                 unsavedAnswer = Unsaved::Discard;
                 form->close();
             }});
    EXPECT_TRUE(form->closed());
    EXPECT_FALSE(form->running());
    EXPECT_EQ(unsavedQuestions.size(), 2);
}

// ---- windows on the screen ----

TEST_F(Usability, ARememberedSizeLargerThanTheScreenIsFitted) {
    writeSettingsFile("[main]\nx=-300\ny=-200\nwidth=6000\nheight=5000\n");
    make();
    const QRect area = form->screen()->availableGeometry();
    // Under a window manager the frame comes later; the fit follows it.
    EXPECT_TRUE(QTest::qWaitFor([&] { return area.contains(form->frameGeometry()); }, 3000))
        << "frame " << form->frameGeometry().x() << "," << form->frameGeometry().y() << " "
        << form->frameGeometry().width() << "x" << form->frameGeometry().height();
    EXPECT_TRUE(form->statusBar()->isVisible());
    // A size that fits is kept as it was.
    writeSettingsFile("[main]\nx=10\ny=20\nwidth=500\nheight=300\n");
    make();
    EXPECT_EQ(form->size(), QSize(500, 300));
}

TEST_F(Usability, PlacesAreWrittenOnlyForWindowsThatWereShown) {
    make();
    form->close();
    std::string ini = readFile(settingsFile());
    EXPECT_NE(ini.find("[main]"), std::string::npos);
    for (const char* section : {"[debug]", "[rack]", "[terminal]"})
        EXPECT_EQ(ini.find(section), std::string::npos) << section << " in\n" << ini;

    // What the file remembers is kept as it is.
    writeSettingsFile("[debug]\nx=5\ny=6\n");
    make();
    form->close();
    ini = readFile(settingsFile());
    EXPECT_NE(ini.find("[debug]\nx=5\ny=6"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("[terminal]"), std::string::npos) << ini;
}

TEST_F(Usability, WatchWindowComesUpBesideTheMainWindow) {
    make();
    form->move(10, 10);
    form->resize(420, 300);
    QTest::qWait(50);
    script("debugon\nx = 1\n");
    QPoint shownAt;
    runWith({[&] {
        shownAt = form->watchWindow()->pos();
        form->watchWindow()->close();
        click("stopButton");
    }});
    const QRect main = form->frameGeometry();
    EXPECT_GT(shownAt.x(), main.right()) << "not over the main window";
    EXPECT_GE(shownAt.y(), main.top());
    form->close();
    // Shown, so now it has a place of its own.
    const std::string ini = readFile(settingsFile());
    EXPECT_NE(ini.find("[debug]\nx=" + std::to_string(shownAt.x())), std::string::npos) << ini;
}

TEST_F(Usability, TheRackComesUpBesideTheMainWindowUntilItHasAPlace) {
    make();
    form->move(10, 10);
    form->resize(300, 300);
    QTest::qWait(50);
    const std::string open = "openrack(\"" EXAMPLE_RACK "\")\n";
    script(open + kWaitForever);
    QPoint shownAt;
    int width = 0;
    runWith({[&] {
        QWidget* rack = form->rackWindow();
        EXPECT_TRUE(rack->isVisible());
        // The window manager frames the window a moment after it is shown; its place is
        // only known from then on (a slow build reads it before).
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return rack->frameGeometry() != rack->geometry(); }, 3000));
        shownAt = rack->pos();
        width = rack->frameGeometry().width();
        // Moved within the screen: a place past its edge is brought back into sight.
        rack->move(shownAt + QPoint(-5, 7));
        click("stopButton");
    }});
    const QRect area = form->screen()->availableGeometry();
    if (area.right() - form->frameGeometry().right() > width + 8)
        EXPECT_GT(shownAt.x(), form->frameGeometry().right()) << "on its right: there is room";
    else
        // (the frame is not known before the first show: within a frame's width)
        EXPECT_NEAR(shownAt.x() + width, area.right() + 1, 20) << "no room: at the screen's edge";
    form->rackWindow()->hide();
    form->close();
    EXPECT_NE(readFile(settingsFile()).find("[rack]"), std::string::npos);

    // Remembered now: the next start puts it there.
    make();
    form->move(10, 10);
    script(open + kWaitForever);
    runWith({[&] {
        const QPoint want = shownAt + QPoint(-5, 7);
        (void)QTest::qWaitFor([&] { return form->rackWindow()->pos() == want; }, 3000);
        EXPECT_EQ(form->rackWindow()->pos(), want);
        click("stopButton");
    }});
}

TEST_F(Usability, TerminalsComeUpBesideTheMainWindowCascaded) {
    serial::test::Pty one, two;
    ASSERT_FALSE(one.path().empty());
    qputenv("NORVANE_PORTS",
            QByteArray::fromStdString("com1=" + one.path() + ";com2=" + two.path()));
    make();
    form->move(10, 10);
    form->resize(300, 300);
    QTest::qWait(50);
    script("openport(\"com1\", 9600, 8, \"n\", \"1\")\nshowterm(\"com1\", 200, 150, 8)\n"
           "openport(\"com2\", 9600, 8, \"n\", \"1\")\nshowterm(\"com2\", 200, 150, 8)\n"
           "n = 0\nrepeat\nn = n + 1\nuntil (n == -1)\n");
    std::vector<QRect> terminals;
    runWith({[&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && (w->windowTitle() == "COM1" || w->windowTitle() == "COM2"))
                terminals.push_back(w->frameGeometry());
        click("stopButton");
    }});
    qunsetenv("NORVANE_PORTS");
    ASSERT_EQ(terminals.size(), 2u);
    std::sort(terminals.begin(), terminals.end(),
              [](const QRect& a, const QRect& b) { return a.y() < b.y(); });
    const QRect main = form->frameGeometry();
    for (const QRect& t : terminals)
        EXPECT_FALSE(t.topLeft() == QPoint(0, 0) || main.contains(t.topLeft()));
    EXPECT_GT(terminals[1].top(), terminals[0].top()) << "cascaded, each title in sight";
}

TEST_F(Usability, WhenNarrowTheRecentBarYieldsBeforeRunStopAndPause) {
    writeFile(path("a.nvs"), "x\n");
    for (const char* ini : {"", "[toolbar]\nstyle=docked\nrow=1\npos=0\n[recent bar]\n"
                                "style=docked\nrow=1\npos=153\n"}) {
        SCOPED_TRACE(ini);
        writeSettingsFile(std::string(ini) + "[recent]\nMRU1=" + path("a.nvs").toStdString() +
                          "\nMRU2=/x/second.nvs\n");
        make();
        form->resize(340, 400);
        QTest::qWait(100);
        for (const char* name : {"runButton", "stopButton", "pauseButton"}) {
            QWidget* button = form->buttonBar()->widgetForAction(form->item(name));
            ASSERT_NE(button, nullptr);
            EXPECT_TRUE(button->isVisible()) << name;
        }
        form->resize(800, 400);
        QTest::qWait(100);
        ASSERT_EQ(form->recentBar()->actions().size(), 2);
        EXPECT_TRUE(
            form->recentBar()->widgetForAction(form->recentBar()->actions()[1])->isVisible());
    }
}

// ---- errors you can find ----

TEST_F(Usability, ALogLineThatNamesALineLeadsToIt) {
    // The included file's lines come first in the prepared program: "from line" counts them.
    uint32_t state = 0;
    const std::string inc = "a = 1\nb = 2\nwritelog(\"in the included file\")\n";
    writeFile(path("inc.enc"), cryptText(inc, keyFromText("pw"), state));
    make();
    script("x = 1\ninclude(\"" + path("inc.enc").toStdString() +
           "\", \"pw\")\nwritelog(\"in the editor\")\nfor (i, 1, 2, 0)\nnext\n");
    click("runButton");
    ScriptEditor* ed = form->editor();
    struct Case {
        const char* logText;
        int editorLine; // 0-based
    } cases[] = {
        {", from line 3: in the included file", 1}, // the include line stands for its file
        {", from line 6: in the editor", 2},
        {" Fatal error: ", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logText);
        const int at = logLineWith(c.logText);
        ASSERT_GE(at, 0) << log();
        ed->setCursorPosition(0, 0);
        ASSERT_TRUE(form->jumpToLogLine(at));
        int line = -1, index = -1;
        ed->getCursorPosition(&line, &index);
        EXPECT_EQ(line, c.editorLine);
        EXPECT_EQ(ed->errorLine(), c.editorLine) << "marked in the margin";
    }
    // The failing line keeps the executing-line mark after the run.
    EXPECT_EQ(ed->executingLine(), 3);
    EXPECT_EQ(form->jumpToLogLine(logLineWith(": Script started")), false);

    // A click does it; block validation names editor lines.
    script("x = 1\nnext\n");
    click("runButton");
    EXPECT_EQ(ed->executingLine(), -1) << "a new run clears the old mark";
    const int at = logLineWith("on line 2");
    ASSERT_GE(at, 0) << log();
    QPlainTextEdit* pane = form->logPane();
    const QTextBlock block = pane->document()->findBlockByNumber(at);
    QTest::mouseClick(pane->viewport(), Qt::LeftButton, {},
                      pane->cursorRect(QTextCursor(block)).center() + QPoint(20, 0));
    int line = -1, index = -1;
    ed->getCursorPosition(&line, &index);
    EXPECT_EQ(line, 1);
    EXPECT_EQ(ed->errorLine(), 1);
}

// ---- edit menu, keys, status ----

TEST_F(Usability, EditItemsGoToLineAndTheStatusBar) {
    make();
    script("one\ntwo\nthree\n");
    auto* cursor = form->findChild<QLabel*>("CursorLabel");
    ASSERT_NE(cursor, nullptr);
    nextLine = 3;
    QTest::keyClick(form.get(), Qt::Key_G, Qt::ControlModifier);
    // The editor reports the caret when it next updates its view.
    EXPECT_TRUE(QTest::qWaitFor([&] { return cursor->text() == "3:1"; }, 2000))
        << cursor->text().toStdString();
    form->editor()->setFocus();
    form->editor()->setIndentationsUseTabs(true);
    QTest::keyClicks(form->editor(), "\tx");
    EXPECT_TRUE(QTest::qWaitFor([&] { return cursor->text() == "3:6"; }, 2000))
        << "a tab counts the columns it takes: " << cursor->text().toStdString();
    form->item("undoAction")->trigger();
    form->item("undoAction")->trigger();
    EXPECT_EQ(form->editor()->bytes(), "one\ntwo\nthree\n");
    form->item("redoAction")->trigger();
    form->item("selectAllAction")->trigger();
    form->item("copyAction")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "one\ntwo\n\tthree\n");
    for (const char* name : {"cutAction", "pasteAction", "findAction", "replaceAction"})
        EXPECT_NE(form->item(name), nullptr) << name;
    EXPECT_EQ(form->item("goToLineAction")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_G));

    // Replace all is one undo step.
    script("a b a\na\n");
    form->showReplace();
    form->findChild<QLineEdit*>("FindEdit")->setText("a");
    form->findChild<QLineEdit*>("ReplaceEdit")->setText("cc");
    QTest::mouseClick(form->findChild<QToolButton*>("ReplaceAllButton"), Qt::LeftButton);
    EXPECT_EQ(form->editor()->bytes(), "cc b cc\ncc\n");
    form->item("undoAction")->trigger();
    EXPECT_EQ(form->editor()->bytes(), "a b a\na\n");
}

TEST_F(Usability, StopAndPauseKeysAndTheLogMenu) {
    make();
    script("writelog(\"hello\")\nn = 0\nrepeat\nn = n + 1\nuntil (n == -1)\n");
    runWith({[&] { QTest::keyClick(form.get(), Qt::Key_F9, Qt::ControlModifier); },
             [&] {
                 EXPECT_EQ(form->runState(), RunState::Paused);
                 QTest::keyClick(form.get(), Qt::Key_F9, Qt::ShiftModifier);
             }});
    EXPECT_EQ(form->runState(), RunState::Idle);
    EXPECT_NE(log().find("Script paused"), std::string::npos);

    nextLog = path("run.log");
    form->saveLogAs();
    const std::string saved = readFile(nextLog);
    EXPECT_NE(saved.find(": hello\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find(": Script finished\n"), std::string::npos) << saved;
    form->clearLog();
    EXPECT_EQ(log(), "");
}

// ---- the editor ----

TEST_F(Usability, CompletionNarrowsAsLettersAreTyped) {
    make();
    ScriptEditor* ed = form->editor();
    QTest::keyClicks(ed, "ge");
    QTest::keyClick(ed, Qt::Key_Space, Qt::ControlModifier);
    const QStringList get{"get_bit",  "getarg",  "getcts",  "getdsr",  "getenv",
                          "geterror", "getring", "getrlsd", "getticks"};
    EXPECT_EQ(ed->completionShown(), get);
    QTest::keyClicks(ed, "tr");
    EXPECT_EQ(ed->completionShown(), (QStringList{"getring", "getrlsd"}));
    QTest::keyClick(ed, Qt::Key_Backspace);
    EXPECT_EQ(ed->completionShown(), get);
    QTest::keyClicks(ed, "x");
    EXPECT_TRUE(ed->completionShown().isEmpty());
    EXPECT_FALSE(ed->SendScintilla(QsciScintillaBase::SCI_AUTOCACTIVE));

    // Nothing typed: every name, sorted, each once.
    script("");
    QTest::keyClick(ed, Qt::Key_Space, Qt::ControlModifier);
    QStringList all = ed->completionShown();
    EXPECT_EQ(all.size(), 99);
    QStringList sorted = all;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(all, sorted);
}

TEST_F(Usability, LineNumbersKeepEveryDigit) {
    make();
    ScriptEditor* ed = form->editor();
    const QFontMetrics metrics(ed->font());
    std::string many;
    for (int i = 0; i < 123456; ++i)
        many += "x\n";
    ed->setBytes(many);
    EXPECT_GE(ed->marginWidth(0), metrics.horizontalAdvance("1234567"));
    ed->setBytes("x\n");
    EXPECT_LT(ed->marginWidth(0), metrics.horizontalAdvance("1234567"));
}

} // namespace
