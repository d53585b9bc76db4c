// The debugger of the main window: breakpoints (plain and conditional) stop a run before
// their line as a debug step does, conditions that would call a function are refused,
// Run to cursor stops once, the watch window's values can be changed while the run waits,
// the waiting line is marked without showline, and breakpoints are kept per file.
#include "base/cipher.h"
#include "fixture.h"
#include "shell/debugger.h"
#include "watch/watchwindow.h"

#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextCursor>

namespace nvtest {
namespace {

using nv::Debugger;

class DebuggerTest : public WindowTest {
  protected:
    Debugger& dbg() { return *form->debugger(); }
    int marked() const { return form->editor()->executingLine(); }
    void caretTo(int line) { form->editor()->setCursorPosition(line, 0); }
    size_t count(const std::string& what) {
        const std::string l = log();
        size_t n = 0;
        for (size_t at = l.find(what); at != std::string::npos; at = l.find(what, at + 1))
            ++n;
        return n;
    }
};

const std::string kLoop = "total = 0\n"
                          "for (i, 1, 5, 1)\n"
                          "  total = total + i\n"
                          "next\n"
                          "writelog(\"total \" & total)\n";

TEST_F(DebuggerTest, BreakpointStopsBeforeItsLineEveryTimeAndRunGoesOn) {
    make();
    script(kLoop);
    caretTo(2);
    QTest::keyClick(form->editor(), Qt::Key_F8); // F8 on the caret's line
    ASSERT_EQ(dbg().lines(), std::vector<int>{2});
    std::vector<std::string> seen;
    std::vector<std::function<void()>> steps;
    for (int pass = 1; pass <= 5; ++pass)
        steps.push_back([&, pass] {
            EXPECT_EQ(form->runState(), nv::RunState::WaitingForStep) << pass;
            EXPECT_EQ(marked(), 2) << pass;
            EXPECT_TRUE(form->watchWindow()->isVisible());
            seen.push_back(variable("i") + "/" + variable("total"));
            click("runButton");
        });
    runWith(steps);
    EXPECT_EQ(seen, (std::vector<std::string>{"1/0", "2/1", "3/3", "4/6", "5/10"}));
    EXPECT_EQ(count("Next line to execute: total = total + i"), 5u);
    EXPECT_NE(log().find("total 15"), std::string::npos);
    EXPECT_EQ(marked(), -1);
}

TEST_F(DebuggerTest, ConditionalBreakpointStopsOnlyWhenItHolds) {
    make();
    script(kLoop);
    ASSERT_EQ(dbg().setCondition(2, "(i >= 4) && (total <> 0)"), QString());
    EXPECT_TRUE(dbg().has(2));
    std::vector<std::string> seen;
    auto look = [&] {
        seen.push_back(variable("i"));
        click("runButton");
    };
    runWith({look, look});
    EXPECT_EQ(seen, (std::vector<std::string>{"4", "5"}));
    EXPECT_EQ(count("Next line to execute:"), 2u);

    // Emptying the condition makes it a plain breakpoint again.
    EXPECT_EQ(dbg().setCondition(2, ""), QString());
    EXPECT_EQ(dbg().condition(2), QString());
}

TEST_F(DebuggerTest, ConditionsThatCallFunctionsOrCannotHoldAreRefused) {
    make();
    script(kLoop);
    const struct {
        const char* condition;
        const char* refusedFor; // empty: taken
    } cases[] = {
        {"(receive(1) == \"x\")", "receive( is a function call"},
        {"((len(s)) >> 2)", "len( is a function call"},
        {"(x == 1) || (random (10) == 3)", "random( is a function call"},
        {"(s == \"f(x)\")", ""}, // a parenthesis in quotes is no call
        {"((n + 1) == 3)", ""},
        {"n == 3", "in parentheses"},
        {"(x)", "compares nothing"},
        {"(s == \"open)", "quotes do not pair"},
    };
    for (const auto& c : cases) {
        const QString why = dbg().setCondition(2, QString::fromLatin1(c.condition));
        if (!*c.refusedFor) {
            EXPECT_EQ(why, QString()) << c.condition;
            EXPECT_EQ(dbg().condition(2), QString::fromLatin1(c.condition));
        } else {
            EXPECT_TRUE(why.contains(QLatin1String(c.refusedFor)))
                << c.condition << ": " << why.toStdString();
            EXPECT_NE(dbg().condition(2), QString::fromLatin1(c.condition)) << c.condition;
        }
    }

    // Through the margin's context menu: the refusal is shown and the question asked again.
    QStringList shown;
    dbg().askCondition = [&](int, const QString&, const QString& refused) {
        shown << refused;
        return shown.size() == 1 ? QStringLiteral("(receive(1) == \"x\")") : QString();
    };
    QTimer::singleShot(50, [] {
        auto* m = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(m, nullptr);
        for (QAction* a : m->actions())
            if (a->text().startsWith(QLatin1String("Condition"))) m->setActiveAction(a);
        QTest::keyClick(m, Qt::Key_Return);
    });
    dbg().showMenu(2, form->editor()->mapToGlobal(QPoint(5, 5)));
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[1].contains(QLatin1String("receive( is a function call")));
}

TEST_F(DebuggerTest, RunToCursorStopsOnceAtTheCaretsLine) {
    make();
    script(kLoop);
    caretTo(2);
    std::vector<std::string> seen;
    QTimer::singleShot(30, form.get(), [&] {
        seen.push_back(variable("i"));
        EXPECT_EQ(marked(), 2);
        click("runButton");
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] { form->stopScript(); });
    guard.start(10000);
    form->item(QStringLiteral("runToCursorAction"))->trigger();
    EXPECT_EQ(seen, std::vector<std::string>{"1"});
    EXPECT_EQ(count("Next line to execute:"), 1u);
    EXPECT_NE(log().find("total 15"), std::string::npos);
    EXPECT_EQ(dbg().runTo(), -1);

    // From a breakpoint further up, Run to cursor lets the run go on to the caret's line.
    dbg().toggle(0);
    runWith({[&] {
                 EXPECT_EQ(marked(), 0);
                 caretTo(4);
                 form->runToCursor();
             },
             [&] {
                 EXPECT_EQ(marked(), 4);
                 EXPECT_EQ(variable("total"), "15");
                 click("runButton");
             }});
    EXPECT_NE(log().find("total 15"), std::string::npos);
}

TEST_F(DebuggerTest, WatchValuesCanBeChangedOnlyWhileTheRunWaits) {
    make();
    script("x = 1\nwritelog(\"x is \" & x)\nwhile (1 == 1)\nwend\n");
    dbg().toggle(1);
    nv::WatchWindow* watch = form->watchWindow();
    auto edit = [&](const QString& line) {
        auto* memo = watch->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
        QString text = watch->text();
        text.replace(
            QRegularExpression(QStringLiteral("^x=.*$"), QRegularExpression::MultilineOption),
            line);
        memo->setPlainText(text);
        QTextCursor c = memo->textCursor();
        c.setPosition(static_cast<int>(text.indexOf(line)));
        memo->setTextCursor(c);
        QTest::keyClick(memo, Qt::Key_Return);
        return watch->note();
    };
    QString whileRunning;
    runWith({[&] {
                 EXPECT_TRUE(watch->editable());
                 EXPECT_EQ(edit("x=41"), QStringLiteral("x changed."));
                 EXPECT_EQ(variable("x"), "41");
                 EXPECT_NE(watch->text().indexOf("x=41"), -1);
                 EXPECT_TRUE(edit("x").contains(QLatin1String("name=value")));
                 click("runButton");
             },
             [&] {
                 // The endless loop runs: the edit is refused and the store keeps its value.
                 EXPECT_FALSE(watch->editable());
                 whileRunning = edit("x=99");
                 EXPECT_EQ(variable("x"), "41");
                 click("stopButton");
             }});
    EXPECT_NE(log().find("x is 41"), std::string::npos);
    EXPECT_TRUE(whileRunning.contains(QLatin1String("running"))) << whileRunning.toStdString();
}

TEST_F(DebuggerTest, TheWaitingLineIsMarkedWhileSteppingAndPaused) {
    make();
    script("debugon\na = 1\n\nb = 2\ndebugoff\nwhile (1 == 1)\nn = 1\nwend\n");
    std::vector<int> marks;
    auto step = [&] {
        marks.push_back(marked());
        click("runButton");
    };
    runWith({step, step, step, [&] { click("pauseButton"); },
             [&] {
                 // The pause waits before a line of the loop, and that line is marked.
                 EXPECT_EQ(form->runState(), nv::RunState::Paused);
                 EXPECT_EQ(marked(), 6);
                 click("stopButton");
             }});
    EXPECT_EQ(marks, (std::vector<int>{1, 3, 4}));
}

// A breakpoint stands for the editor's own line: on an include line it stops before that
// line only, never before the lines the include brought in front of the script.
TEST_F(DebuggerTest, IncludedLinesHaveNoBreakpointsOfTheirOwn) {
    make();
    const std::string inc = path("inc.enc").toStdString();
    {
        uint32_t state = 0;
        writeFile(path("inc.enc"), nv::cryptText("a = 1\nb = 2\n", nv::keyFromText("pw"), state));
    }
    script("include(\"" + inc + "\", \"pw\")\nc = 3\n");
    dbg().toggle(0);
    dbg().toggle(1);
    std::vector<std::string> seen;
    auto look = [&] {
        seen.push_back(variable("b") + "," + variable("c"));
        click("runButton");
    };
    runWith({look, look});
    EXPECT_EQ(seen, (std::vector<std::string>{"2,", "2,"}));
    EXPECT_EQ(count("Next line to execute: include("), 1u);
    EXPECT_EQ(count("Next line to execute: c = 3"), 1u);
    EXPECT_EQ(count("Next line to execute:"), 2u);
}

TEST_F(DebuggerTest, BreakpointsAreKeptPerFile) {
    make();
    writeFile(path("a.nvs"), kLoop);
    writeFile(path("b.nvs"), "x = 1\ny = 2\n");
    nextOpen = path("a.nvs");
    click("openAction");
    dbg().toggle(0);
    ASSERT_EQ(dbg().setCondition(2, "(i == 3)"), QString());
    // A blank line never stops a run: its breakpoint goes to the next line.
    writeFile(path("c.nvs"), "x = 1\n\n\ny = 2\n");
    nextOpen = path("b.nvs");
    click("openAction");
    EXPECT_TRUE(dbg().lines().empty());
    dbg().toggle(1);
    form->close();

    make();
    nextOpen = path("a.nvs");
    click("openAction");
    EXPECT_EQ(dbg().lines(), (std::vector<int>{0, 2}));
    EXPECT_EQ(dbg().condition(2), QStringLiteral("(i == 3)"));
    nextOpen = path("b.nvs");
    click("openAction");
    EXPECT_EQ(dbg().lines(), std::vector<int>{1});
    nextOpen = path("c.nvs");
    click("openAction");
    dbg().toggle(1);
    EXPECT_EQ(dbg().lines(), std::vector<int>{3});
    // Lines move with the text.
    form->editor()->insertAt(QStringLiteral("# new first line\n"), 0, 0);
    EXPECT_EQ(dbg().lines(), std::vector<int>{4});
}

} // namespace
} // namespace nvtest
