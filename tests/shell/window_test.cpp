// The main window driven as a person would: buttons clicked, keys typed, files opened and
// saved through the window's dialogs (answered by the test), scripts run through the real
// engine, settings written at close and read at the next start.
#include "rack/rack.h"
#include "serial/portdialog.h"
#include "serial/serialports.h"
#include "shell/helpwindow.h"
#include "shell/scriptlexer.h"
#include "tests/shell/fixture.h"
#include "watch/watchwindow.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTextBrowser>
#include <Qsci/qsciscintillabase.h>
#include <ctime>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

using namespace nv;
using nvtest::readFile;
using nvtest::writeFile;

namespace {

const char* const kIdle = "1100001111";
const char* const kRunning = "0011110000";
const char* const kPaused = "1110000000";
const char* const kStepWait = "1111000000";

const std::string kEndless = "n = 0\nrepeat\nn = n + 1\nuntil (n == -1)\n";

class Window : public nvtest::WindowTest {};

} // namespace

TEST_F(Window, StartsAsAnEditor) {
    make();
    // The caption carries Qt's modified mark, shown only once the script changes.
    EXPECT_EQ(form->windowTitle(), "Norvane - untitled.nvs[*]");
    EXPECT_EQ(form->shownTitle(), "Norvane - untitled.nvs");
    EXPECT_EQ(states(), kIdle);
    EXPECT_FALSE(form->editor()->isReadOnly());
    EXPECT_EQ(form->editor()->tabWidth(), 4);
    EXPECT_TRUE(form->editor()->autoIndent());
    const QFontMetrics metrics(form->editor()->lexer()->font(StyleDefault));
    EXPECT_EQ(metrics.horizontalAdvance('i'), metrics.horizontalAdvance('W')) << "monospace";
    EXPECT_GE(form->editor()->SendScintilla(QsciScintillaBase::SCI_TEXTHEIGHT, 0UL), 13)
        << "lines are drawn at the font's height";
    EXPECT_EQ(form->menuBarDock()->windowTitle(), "Norvane");
    EXPECT_EQ(form->recentBar()->windowTitle(), "Recent files");
    // Each button's tooltip names its key.
    for (auto [name, hint] : {std::pair("openButton", "Open script (Ctrl+O)"),
                              std::pair("saveAsButton", "Save script as (Ctrl+Shift+S)"),
                              std::pair("runButton", "Run script (F9)"),
                              std::pair("stopButton", "Stop script (Shift+F9)"),
                              std::pair("pauseButton", "Pause script (Ctrl+F9)")})
        EXPECT_EQ(form->item(name)->toolTip(), hint);
    EXPECT_EQ(form->item("runAction")->shortcut(), QKeySequence(Qt::Key_F9));
}

// What the first showing does not need waits: the port dialog until a script asks for it, the
// about box until it is asked for, the find bar until it is opened, the window icon until the
// event loop runs; each is there when it is wanted.
TEST_F(Window, WhatTheFirstShowingNeedsNotComesLater) {
    make(nullptr, false);
    EXPECT_EQ(form->findChild<QDialog*>("TFrmSet"), nullptr);
    EXPECT_EQ(form->findChild<nv::AboutBox*>(), nullptr);
    EXPECT_EQ(form->findChild<QLineEdit*>("FindEdit"), nullptr);
    QCoreApplication::processEvents();
    EXPECT_GE(form->windowIcon().availableSizes().size(), 5);
    form->showFind();
    auto* find = form->findChild<QLineEdit*>("FindEdit");
    ASSERT_NE(find, nullptr);
    EXPECT_TRUE(find->isClearButtonEnabled());
    // Tab reaches the bar from the log pane, as when the bar was made with the window.
    QWidget* log = form->findChild<QPlainTextEdit*>("LMemo");
    QWidget* next = log->nextInFocusChain();
    while (log->isAncestorOf(next) || !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    EXPECT_EQ(next, find);
    ASSERT_NE(form->subsystems().serial, nullptr);
    nv::serial::PortDialog* dialog = form->subsystems().serial->dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(form->findChild<QDialog*>("TFrmSet"), dialog);
    EXPECT_EQ(form->subsystems().serial->dialog(), dialog);
}

// The icon theme is read when the buttons are first drawn, not while the window is made, and
// the buttons still show the theme's icons. The theme here has a red document-open; the reads
// of its index are seen through inotify.
TEST_F(Window, TheIconThemeIsReadWhenTheButtonsAreFirstDrawn) {
    QTemporaryDir themes;
    ASSERT_TRUE(QDir(themes.path()).mkpath(QStringLiteral("probe/16x16/actions")));
    const QString index = themes.filePath(QStringLiteral("probe/index.theme"));
    nvtest::writeFile(index, "[Icon Theme]\nName=probe\nDirectories=16x16/actions\n\n"
                             "[16x16/actions]\nSize=16\nContext=Actions\nType=Fixed\n");
    QPixmap red(16, 16);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(themes.filePath(QStringLiteral("probe/16x16/actions/document-open.png"))));
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, index.toLocal8Bit().constData(), IN_OPEN), 0);
    const auto indexRead = [watch] {
        char events[4096];
        bool any = false;
        while (read(watch, events, sizeof events) > 0)
            any = true;
        return any;
    };
    const QStringList searchPaths = QIcon::themeSearchPaths();
    const QString themeName = QIcon::themeName();
    QIcon::setThemeSearchPaths({themes.path()});
    QIcon::setThemeName(QStringLiteral("probe"));
    make(nullptr, false);
    EXPECT_FALSE(indexRead());
    QWidget* open = form->buttonBar()->widgetForAction(form->item(QStringLiteral("openButton")));
    ASSERT_NE(open, nullptr);
    const QImage drawn = open->grab().toImage();
    EXPECT_TRUE(indexRead());
    EXPECT_EQ(drawn.pixelColor(drawn.width() / 2, drawn.height() / 2), QColor(Qt::red));
    QIcon::setThemeSearchPaths(searchPaths);
    QIcon::setThemeName(themeName);
    close(watch);
}

TEST_F(Window, PauseResumeAndStopATightLoopWithinALine) {
    make();
    script(kEndless);
    std::string atPause;
    runWith({
        [&] {
            EXPECT_EQ(states(), kRunning);
            EXPECT_TRUE(form->editor()->isReadOnly());
            EXPECT_FALSE(form->recentBar()->isEnabled()) << "the running text stays in place";
            click("pauseButton");
        },
        [&] {
            EXPECT_EQ(states(), kPaused);
            atPause = variable("n");
        },
        [&] {
            // At most the line that was waiting has run since.
            EXPECT_LE(std::stoll(variable("n")) - std::stoll(atPause), 1);
            click("runButton");
        },
        [&] {
            EXPECT_EQ(states(), kRunning);
            EXPECT_GT(std::stoll(variable("n")), std::stoll(atPause) + 1);
            click("stopButton");
        },
    });
    EXPECT_EQ(states(), kIdle);
    EXPECT_FALSE(form->editor()->isReadOnly());
    const std::string text = log();
    const size_t started = text.find(": Script started"), paused = text.find(": Script paused"),
                 resumed = text.find(": Script resumed"), finished = text.find(": Script finished");
    EXPECT_TRUE(started < paused && paused < resumed && resumed < finished) << text;
}

// A paused run, and a run waiting for its next step, sleep in the event loop: the window's
// thread uses next to no processor time until Run or Stop wakes it. (Spinning over the event
// queue used the thread's whole share; the bound is loose so that a loaded machine passes.)
TEST_F(Window, WaitingForTheUserCostsNoProcessorTime) {
    make();
    auto threadCpu = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
    };
    auto wallClock = [] {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
    };
    for (const std::string& text : {kEndless, "debugon\n" + kEndless}) {
        script(text);
        double cpu0 = 0, wall0 = 0;
        std::vector<std::function<void()>> steps;
        if (text == kEndless) steps.push_back([&] { click("pauseButton"); });
        steps.push_back([&] {
            EXPECT_EQ(states(), text == kEndless ? kPaused : kStepWait);
            cpu0 = threadCpu();
            wall0 = wallClock();
        });
        for (int i = 0; i < 10; ++i)
            steps.push_back([] {});
        steps.push_back([&] {
            const double cpu = threadCpu() - cpu0, wall = wallClock() - wall0;
            EXPECT_LT(cpu, 0.25 * wall) << cpu << " s of " << wall << " s";
            click("stopButton");
        });
        runWith(steps);
        EXPECT_EQ(states(), kIdle);
    }
}

// What ends a wait need not come from the window: a signal handler's self-pipe, watched by a
// socket notifier, wakes a paused run that sleeps in the event loop. (Nothing else is due
// after the pause but the 10 s guard, which would fail the test.)
TEST_F(Window, SocketNotifierWakesAPausedRun) {
    make();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    QSocketNotifier notifier(fds[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char c;
        EXPECT_EQ(read(fds[0], &c, 1), 1);
        form->stopScript();
    });
    std::thread writer;
    script(kEndless);
    runWith({[&] { click("pauseButton"); },
             [&] {
                 EXPECT_EQ(states(), kPaused);
                 writer = std::thread([w = fds[1]] {
                     std::this_thread::sleep_for(std::chrono::milliseconds(200));
                     EXPECT_EQ(write(w, "s", 1), 1);
                 });
             }});
    writer.join();
    EXPECT_EQ(states(), kIdle);
    EXPECT_NE(log().find(": Script finished"), std::string::npos);
    close(fds[0]);
    close(fds[1]);
}

TEST_F(Window, StepsShowVariablesInTheWatchWindow) {
    make();
    form->subsystems().positions.watchX = 130;
    form->subsystems().positions.watchY = 140;
    script("debugon\nx = 1\ny = 2\nz = 3\n");
    WatchWindow* watch = form->watchWindow();
    runWith({
        [&] {
            EXPECT_EQ(states(), kStepWait);
            EXPECT_TRUE(watch->isVisible());
            EXPECT_EQ(watch->pos(), QPoint(130, 140));
            EXPECT_NE(log().find("Next line to execute: x = 1"), std::string::npos);
            click("runButton");
        },
        [&] {
            EXPECT_NE(watch->text().indexOf("x=1"), -1) << watch->text().toStdString();
            EXPECT_NE(log().find("Next line to execute: y = 2"), std::string::npos);
            // The user moves the watch window and closes it.
            watch->move(300, 310);
            watch->close();
            click("stopButton");
        },
    });
    EXPECT_EQ(log().find("Next line to execute: z = 3"), std::string::npos);
    EXPECT_FALSE(watch->isVisible());

    // The next debugon shows it where it was closed.
    script("debugon\nx = 1\n");
    runWith({[&] {
        EXPECT_EQ(watch->pos(), QPoint(300, 310));
        click("stopButton");
    }});
}

TEST_F(Window, ShowlineMarksTheExecutingLineUntilTheRunEnds) {
    make();
    script("showline()\n" + kEndless);
    runWith({[&] {
        const int line = form->editor()->executingLine();
        EXPECT_TRUE(line >= 2 && line <= 4) << line;
        click("stopButton");
    }});
    EXPECT_EQ(form->editor()->executingLine(), -1);
}

TEST_F(Window, ClosingWhileRunningStopsTheScriptAndWritesSettings) {
    make();
    script(kEndless);
    runWith({[&] { form->close(); }});
    EXPECT_TRUE(form->closed());
    EXPECT_EQ(states(), kIdle);
    EXPECT_NE(log().find(": Script finished"), std::string::npos);
    EXPECT_NE(readFile(settingsFile()).find("[main]"), std::string::npos);
}

TEST_F(Window, EscSwitchesToTheRackOnlyWhileARackIsOpen) {
    make();
    QWidget& rack = form->subsystems().rack->window();
    script(kEndless);
    runWith({
        [&] {
            QTest::keyClick(form->editor(), Qt::Key_Escape);
            EXPECT_FALSE(rack.isVisible()) << "no rack opened by the script";
            form->runtime().rackOpened = true;
            QTest::keyClick(form->editor(), Qt::Key_Escape);
            EXPECT_TRUE(rack.isVisible());
            EXPECT_TRUE(form->isVisible());
            QTest::keyClick(form->editor(), Qt::Key_Escape);
            EXPECT_FALSE(form->isVisible());
            form->show();
            click("stopButton");
        },
    });
    rack.hide();
    QTest::keyClick(form->editor(), Qt::Key_Escape);
    EXPECT_FALSE(rack.isVisible()) << "no run";
}

TEST_F(Window, LogPaneCountsLinesAndKeepsTheFiveHundredLineRule) {
    make();
    form->appendLog("one\r\ntwo\rthree");
    form->appendLog("caf\xE9");
    EXPECT_EQ(form->logLineCount(), 4);
    EXPECT_EQ(log(), "one\ntwo\nthree\ncaf\u00e9");

    script("for (i, 1, 600, 1)\nwritelog(i)\nnext\n");
    QTest::keyClick(form.get(), Qt::Key_F9);
    EXPECT_LE(form->logLineCount(), 501);
    EXPECT_EQ(form->logLineCount(), form->logPane()->document()->blockCount());
    EXPECT_NE(log().find(": 600\n"), std::string::npos);
    EXPECT_EQ(log().find(": 1\n"), std::string::npos);
}

TEST_F(Window, ValidationFailureIsShownAndNothingRuns) {
    make();
    script("for (i, 1, 2, 1)\nwritelog(i)\n");
    click("runButton");
    EXPECT_EQ(states(), kIdle);
    EXPECT_EQ(log().find("Script started"), std::string::npos);
    EXPECT_GE(form->logLineCount(), 1);
}

// ---- settings ----

TEST_F(Window, SettingsWrittenAtCloseAreReadAtTheNextStart) {
    writeSettingsFile("[ports]\ncom1=/dev/ttyUSB7\n[recent bar]\nstyle=floating\nx=900\ny=900\n");
    writeFile(path("a.nvs"), "x = 1\n");
    make();
    EXPECT_TRUE(form->recentBar()->isFloating());
    EXPECT_NE(form->recentBar()->pos(), QPoint(900, 900)) << "floats at its default place";
    EXPECT_FALSE(form->buttonBar()->isFloating());
    form->move(50, 60);
    form->resize(700, 500);
    auto& p = form->subsystems().positions;
    p.terminalX = 1, p.terminalY = 2, p.rackX = 3, p.rackY = 4, p.watchX = 5, p.watchY = 6;
    nextOpen = path("a.nvs");
    click("openButton");
    const int logHeight = form->logPane()->height();
    form->close();

    const std::string ini = readFile(settingsFile());
    EXPECT_NE(ini.find("com1=/dev/ttyUSB7"), std::string::npos) << "other keys are kept";
    EXPECT_NE(ini.find("MRU1=" + path("a.nvs").toStdString()), std::string::npos) << ini;

    make();
    EXPECT_EQ(form->pos(), QPoint(50, 60));
    EXPECT_EQ(form->size(), QSize(700, 500));
    EXPECT_EQ(form->logPane()->height(), logHeight);
    const auto& q = form->subsystems().positions;
    EXPECT_EQ(std::tie(q.terminalX, q.terminalY, q.rackX, q.rackY, q.watchX, q.watchY),
              std::tuple(1, 2, 3, 4, 5, 6));
    ASSERT_EQ(form->recent().paths().size(), 1u);
    EXPECT_EQ(form->recent().paths()[0], path("a.nvs"));
    EXPECT_TRUE(form->recentBar()->isFloating());
    EXPECT_GT(form->buttonBar()->y(), form->menuBarDock()->y()) << "button bar on the second row";
}

TEST_F(Window, BarsComeBackOnTheirRows) {
    writeSettingsFile("[menu bar]\nrow=2\n[toolbar]\nrow=0\npos=0\n[recent bar]\nrow=0\npos=400\n");
    make();
    EXPECT_EQ(form->buttonBar()->y(), form->recentBar()->y());
    EXPECT_GT(form->menuBarDock()->y(), form->buttonBar()->y());
    EXPECT_GT(form->recentBar()->x(), form->buttonBar()->x()) << "ordered by position";
    form->close();
    IniFile ini;
    ini.parse(readFile(settingsFile()));
    EXPECT_EQ(ini.value("menu bar", "row").value_or("?"), "1") << "rows are counted from 0";
    EXPECT_EQ(ini.value("toolbar", "row").value_or("?"), "0");
}

TEST_F(Window, BadOrMissingSettingsStillStart) {
    make();
    EXPECT_EQ(form->pos(), QPoint(0, 0)) << "missing file: defaults";
    form.reset();
    static const char garbage[] = "\xff\xfe\n[main]\nx=12\ny=oops\n\0junk";
    writeSettingsFile(std::string(garbage, sizeof garbage - 1));
    make();
    EXPECT_EQ(form->pos(), QPoint(12, 153)) << "reading stopped at y";
    EXPECT_EQ(form->size(), QSize(544, 374));
    form.reset();
    writeSettingsFile("[main]\nx=-5000\ny=9000\n");
    make();
    EXPECT_TRUE(form->screen()->availableGeometry().contains(form->pos()))
        << "a place on no screen comes back onto one";
    script("x = 1\n");
    click("runButton");
    EXPECT_NE(log().find("Script finished"), std::string::npos);
}

TEST_F(Window, PackageModeNeverWritesSettings) {
    make();
    form->setPackageMode(true);
    form->close();
    EXPECT_EQ(readFile(settingsFile()), "<missing>");
}

namespace {
struct ReadOnlyProgramFolder : ShellPlatform {
    bool canWriteDir(const QString&) override { return false; }
};
} // namespace

TEST_F(Window, ReadOnlyProgramFolderKeepsSettingsInTheUserConfig) {
    QTemporaryDir config;
    const QByteArray before = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    ReadOnlyProgramFolder platform;
    make(&platform);
    form->move(33, 44);
    form->close();
    EXPECT_EQ(readFile(settingsFile()), "<missing>");
    make(&platform);
    EXPECT_EQ(form->pos(), QPoint(33, 44));
    form.reset();
    qputenv("XDG_CONFIG_HOME", before);
}

// ---- script files ----

TEST_F(Window, OpenAsksOnlyWhenTheEditorHoldsALine) {
    writeFile(path("one.nvs"), "x = 1\n");
    make();
    nextOpen = path("one.nvs");
    answer = false;
    click("openButton"); // right after start the editor holds one empty line
    EXPECT_EQ(questions, QStringList{"All unsaved changes will be lost. Open another file now ?"});
    EXPECT_EQ(form->shownTitle(), "Norvane - untitled.nvs");

    QTest::keyClick(form.get(), Qt::Key_N, Qt::ControlModifier);
    questions.clear();
    QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_TRUE(questions.isEmpty());
    EXPECT_EQ(form->shownTitle(), "Norvane - one.nvs");
    EXPECT_EQ(form->currentFile(), path("one.nvs"));
    EXPECT_EQ(form->editor()->bytes(), "x = 1\n");

    QTest::keyClicks(form->editor(), "y");
    // A changed script is not discarded without the unsaved-changes question (see
    // usability_test.cpp for every way out); the old question is not asked as well.
    unsavedAnswer = MainWindow::Dialogs::Unsaved::Discard;
    click("newButton");
    EXPECT_TRUE(questions.isEmpty());
    EXPECT_EQ(unsavedQuestions.size(), 1);
    EXPECT_EQ(form->editor()->bytes(), "");
    EXPECT_EQ(form->shownTitle(), "Norvane - untitled.nvs");
}

TEST_F(Window, ScriptBytesSurviveOpenRunAndSave) {
    // Latin-1 (not valid UTF-8), CR LF and lone CR line ends, a zero byte, no final line end.
    static const char raw[] = "writelog(\"caf\xE9\")\r\n# \xFF\xFE\0z\rx = 1";
    const std::string latin1(raw, sizeof raw - 1);
    const std::string utf8 = "writelog(\"\xE2\x82\xAC\")\n";
    for (const auto& [bytes, shown] :
         {std::pair(latin1, "caf\xC3\xA9"), std::pair(utf8, "\xE2\x82\xAC")}) {
        writeFile(path("s.nvs"), bytes);
        make();
        answer = true;
        nextOpen = path("s.nvs");
        click("openButton");
        EXPECT_EQ(form->editor()->bytes(), bytes);
        click("runButton");
        EXPECT_NE(log().find(shown), std::string::npos) << log();
        writeFile(path("s.nvs"), "changed on disk");
        click("saveButton");
        EXPECT_EQ(readFile(path("s.nvs")), bytes);
    }
}

TEST_F(Window, TypingBeyondLatin1MovesTheScriptToUtf8) {
    writeFile(path("l.nvs"), "a\xE9");
    make();
    nextOpen = path("l.nvs");
    click("openButton");
    form->editor()->setCursorPosition(0, 2);
    QKeyEvent euro(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("\u20AC"));
    QApplication::sendEvent(form->editor(), &euro);
    click("saveButton");
    EXPECT_EQ(readFile(path("l.nvs")), "a\xC3\xA9\xE2\x82\xAC");
    EXPECT_NE(form->findChild<QStatusBar*>()->findChildren<QLabel*>().last()->text(), "Latin-1");

    // Pasting does the same.
    nextOpen = path("l2.nvs");
    writeFile(nextOpen, "b\xE9");
    click("openButton");
    form->editor()->setCursorPosition(0, 2);
    QGuiApplication::clipboard()->setText(QString::fromUtf8("\u03A9"));
    QTest::keyClick(form->editor(), Qt::Key_V, Qt::ControlModifier);
    click("saveButton");
    EXPECT_EQ(readFile(nextOpen), "b\xC3\xA9\xCE\xA9");
}

TEST_F(Window, SaveAsNamesAndTheRecentList) {
    make();
    QDir(work.path()).mkdir("v1.2");
    struct Case {
        QString chosen, written;
    } cases[] = {
        {path("plain"), path("plain.nvs")},
        {path("notes.txt"), path("notes.txt")},
        {path("v1.2/inner"), path("v1.2/inner.nvs")},
    };
    script("x = 1\n");
    for (const Case& c : cases) {
        nextSave = c.chosen;
        click("saveAsButton");
        EXPECT_EQ(readFile(c.written), "x = 1\n") << c.chosen.toStdString();
        EXPECT_EQ(form->shownTitle(), "Norvane - " + QFileInfo(c.written).fileName());
        EXPECT_EQ(form->recent().paths().front(), c.written);
    }
    // Save on a titled file writes it and leaves the list's order alone.
    nextOpen = path("plain.nvs");
    click("openButton");
    EXPECT_EQ(form->recent().paths().front(), path("plain.nvs"));
    nextSave = path("other.nvs");
    click("saveAsButton");
    const auto order = form->recent().paths();
    script("y = 2\n");
    click("saveButton");
    EXPECT_EQ(readFile(path("other.nvs")), "y = 2\n");
    EXPECT_EQ(form->recent().paths(), order);

    // The bar's entries: "&n name"; choosing one opens it without a question.
    auto entries = form->recentBar()->actions();
    ASSERT_EQ(entries.size(), 4);
    EXPECT_EQ(entries[1]->text(), "&2 plain");
    questions.clear();
    QTest::mouseClick(form->recentBar()->widgetForAction(entries[1]), Qt::LeftButton);
    EXPECT_TRUE(questions.isEmpty());
    EXPECT_EQ(form->editor()->bytes(), "x = 1\n");
    EXPECT_EQ(form->shownTitle(), "Norvane - plain.nvs");
    EXPECT_EQ(form->recent().paths(), order);
    QTest::keyClick(form.get(), Qt::Key_1, Qt::AltModifier); // the entry's accelerator
    EXPECT_EQ(form->shownTitle(), "Norvane - other.nvs");
    EXPECT_EQ(form->editor()->bytes(), "y = 2\n");
}

namespace {
// A disk that is full: every write fails.
struct FullDisk : ShellPlatform {
    bool writeFile(const QString& path, std::string_view, QString& error) override {
        error = errnoMessage(path, ENOSPC);
        return false;
    }
};
} // namespace

TEST_F(Window, FileFailuresAreReportedAndChangeNothing) {
    writeFile(path("kept.nvs"), "old\n");
    FullDisk disk;
    make(&disk);
    answer = true;
    nextOpen = path("missing.nvs");
    click("openButton");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("Error loading file " + path("missing.nvs")));
    EXPECT_EQ(form->shownTitle(), "Norvane - untitled.nvs");
    EXPECT_TRUE(form->recent().paths().empty());

    nextOpen = path("kept.nvs");
    click("openButton");
    script("new text\n");
    click("saveButton");
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors[1].startsWith("Error saving file"));
    EXPECT_NE(errors[1].indexOf("No space left"), -1) << errors[1].toStdString();
    EXPECT_EQ(readFile(path("kept.nvs")), "old\n");

    nextSave = path("fresh.nvs");
    click("saveAsButton");
    EXPECT_EQ(errors.size(), 3);
    EXPECT_EQ(form->currentFile(), path("kept.nvs")) << "nothing below the failed write";

    QFile::remove(path("kept.nvs"));
    form->openRecent(0);
    EXPECT_EQ(errors.size(), 4);
    EXPECT_EQ(form->editor()->bytes(), "new text\n");
}

TEST_F(Window, RealWritesReplaceAtomicallyAndKeepPermissions) {
    writeFile(path("p.nvs"), "old\n");
    QFile::setPermissions(path("p.nvs"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ReadGroup);
    make();
    nextOpen = path("p.nvs");
    click("openButton");
    script("new\n");
    click("saveButton");
    EXPECT_EQ(readFile(path("p.nvs")), "new\n");
    const auto mask = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                      QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther;
    EXPECT_EQ(QFile::permissions(path("p.nvs")) & mask,
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files), QStringList{"p.nvs"}) << "no leftovers";
}

TEST_F(Window, ExportAsHtmlShowsTheColoursAndMovesTheCurrentFolder) {
    const QString before = QDir::currentPath();
    make();
    QDir(work.path()).mkdir("pages");
    script("for (i, 1, 2, 1) # loop\nsend(\"a<b\", 0x1F) {see https://norvane.test/x}\nnext\n");
    nextHtml = path("pages/out");
    form->item("exportHtmlAction")->trigger();
    const std::string html = readFile(path("pages/out.html"));
    QDir::setCurrent(before);
    EXPECT_NE(html.find("<span class=\"s3\">for</span>"), std::string::npos) << html;
    EXPECT_NE(html.find("<span class=\"s1\"># loop</span>"), std::string::npos);
    EXPECT_NE(html.find("<span class=\"s4\">&quot;a&lt;b&quot;</span>"), std::string::npos);
    EXPECT_NE(html.find("<span class=\"s2\">0x1F</span>"), std::string::npos);
    EXPECT_NE(html.find("<a href=\"https://norvane.test/x\">"), std::string::npos);
    EXPECT_NE(html.find(".s1 { color: #000080; background: #ffffff; font-weight: normal; "
                        "font-style: italic; }"),
              std::string::npos);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(Window, ExportChangesTheFolderScriptsUse) {
    const QString before = QDir::currentPath();
    make();
    QDir(work.path()).mkdir("there");
    writeFile(path("there/data.txt"), "found");
    nextHtml = path("there/page.html");
    form->item("exportHtmlAction")->trigger();
    script("x = fopen(\"data.txt\")\nwritelog(\"open=\" & error)\n");
    click("runButton");
    QDir::setCurrent(before);
    EXPECT_NE(log().find("open=0"), std::string::npos) << log();
}

// ---- the editor ----

TEST_F(Window, BraceCommentsRecolourAsTheyAreTyped) {
    make();
    script("a\n{ x\nfor\n} b\nfor\n");
    ScriptEditor* ed = form->editor();
    auto styleAt = [ed](int line, int index) {
        ed->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0, -1L);
        return ed->SendScintilla(
            QsciScintillaBase::SCI_GETSTYLEAT,
            static_cast<unsigned long>(ed->positionFromLineIndex(line, index)));
    };
    EXPECT_EQ(styleAt(2, 0), StyleComment);
    EXPECT_EQ(styleAt(4, 0), StyleKeyword);
    ed->setSelection(1, 0, 1, 1);
    ed->removeSelectedText(); // the "{" goes
    EXPECT_EQ(styleAt(2, 0), StyleKeyword);
}

TEST_F(Window, TypingAParenthesisShowsTheParameterHint) {
    make();
    form->editor()->setFocus();
    QTest::keyClicks(form->editor(), "x = fread(");
    EXPECT_EQ(form->editor()->shownHint(), "fread(characters number)");
    EXPECT_TRUE(form->editor()->SendScintilla(QsciScintillaBase::SCI_CALLTIPACTIVE));
    QTest::keyClicks(form->editor(), "4)");
    EXPECT_EQ(form->editor()->shownHint(), "");
    QTest::keyClick(form->editor(), Qt::Key_Return);
    QTest::keyClicks(form->editor(), "nosuch(");
    EXPECT_EQ(form->editor()->shownHint(), "");

    QTest::keyClick(form->editor(), Qt::Key_Return);
    QTest::keyClicks(form->editor(), "tcp_srv_");
    QTest::keyClick(form->editor(), Qt::Key_Space, Qt::ControlModifier);
    ASSERT_TRUE(form->editor()->SendScintilla(QsciScintillaBase::SCI_AUTOCACTIVE));
    QTest::keyClick(form->editor(), Qt::Key_Return);
    // The list is sorted: the first name that begins with what was typed.
    EXPECT_TRUE(form->editor()->text().endsWith("tcp_srv_close"))
        << form->editor()->text().toStdString();
}

TEST_F(Window, FindAndWebAddresses) {
    make();
    script("x = 1\nsee www.norvane.test/help here\nwritelog(x)\n");
    QTest::keyClick(form.get(), Qt::Key_F, Qt::ControlModifier);
    auto* edit = form->findChild<QLineEdit*>("FindEdit");
    ASSERT_TRUE(edit->isVisible());
    QTest::keyClicks(edit, "writelog");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(form->editor()->selectedText(), "writelog");
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_FALSE(edit->isVisible());

    ScriptEditor* ed = form->editor();
    ed->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0, -1L);
    const long at = ed->positionFromLineIndex(1, 8);
    const QPoint p(ed->SendScintilla(QsciScintillaBase::SCI_POINTXFROMPOSITION, 0UL, at),
                   ed->SendScintilla(QsciScintillaBase::SCI_POINTYFROMPOSITION, 0UL, at) + 5);
    QTest::mouseClick(ed->viewport(), Qt::LeftButton, {}, p);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl("http://www.norvane.test/help"));
}

// ---- start-up, About, Help ----

TEST_F(Window, AScriptNamedAtStartRunsBeforeTheWindowShows) {
    writeFile(path("start.nvs"), "writelog(\"from start\")\n");
    make(nullptr, false);
    bool visibleDuringRun = true;
    QTimer::singleShot(0, [&] { visibleDuringRun = form->isVisible(); });
    ASSERT_TRUE(form->runFileAtStart(path("start.nvs")));
    EXPECT_NE(log().find(": from start"), std::string::npos) << log();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->shownTitle(), "Norvane - untitled.nvs");
    EXPECT_TRUE(form->currentFile().isEmpty());
    EXPECT_FALSE(form->runFileAtStart(path("nothing.nvs")));
    EXPECT_EQ(errors.size(), 1);
}

// sleep keeps the window alive (the steps below run during it) and Stop ends the wait at once.
// getarg(0) is the script's file once saved, the file named at start, or else empty.
TEST_F(Window, SleepKeepsTheWindowAliveAndStopEndsIt) {
    const std::string body = "a = getarg(0)\nwritelog(\"[\" & a & \"]\")\n";
    make();
    script(body);
    form->runScript();
    EXPECT_NE(log().find(": []"), std::string::npos) << log();
    writeFile(path("s.nvs"), body + "sleep(600000)\nwritelog(\"after\")\n");
    nextOpen = path("s.nvs");
    click("openButton");
    int steps = 0;
    runWith({[&] {
                 ++steps;
                 EXPECT_EQ(states(), kRunning);
             },
             [&] {
                 ++steps;
                 click("stopButton");
             }});
    EXPECT_EQ(steps, 2);
    EXPECT_EQ(states(), kIdle);
    EXPECT_NE(log().find(": [" + path("s.nvs").toStdString() + "]"), std::string::npos) << log();
    EXPECT_EQ(log().find("after"), std::string::npos) << log();

    writeFile(path("start.nvs"), body);
    ASSERT_TRUE(form->runFileAtStart(path("start.nvs")));
    EXPECT_NE(log().find(": [" + path("start.nvs").toStdString() + "]"), std::string::npos)
        << log();
}

TEST_F(Window, AboutBoxAndHelpPages) {
    make();
    form->move(100, 50);
    QPoint aboutAt;
    QString product;
    QTimer::singleShot(50, [&] {
        aboutAt = form->aboutBox()->pos();
        product = form->aboutBox()->productLine();
        QTest::mouseClick(form->aboutBox()->findChild<QPushButton*>("CloseButton"), Qt::LeftButton);
    });
    form->item("aboutAction")->trigger();
    EXPECT_EQ(aboutAt, QPoint(225, 175));
    EXPECT_EQ(product, "Norvane 2.0");
    EXPECT_FALSE(form->aboutBox()->isVisible());

    // The help window says that the pages are missing, then shows them once they are there.
    form->item("helpAction")->trigger();
    auto* help = form->findChild<nv::HelpWindow*>();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_TRUE(help->browser()->toPlainText().contains("The help pages are not installed"));
    QDir(program.path()).mkpath("Help/html");
    writeFile(program.filePath("Help/html/index.html"), "<html></html>");
    form->item("helpAction")->trigger();
    EXPECT_EQ(help->browser()->source(),
              QUrl::fromLocalFile(program.filePath("Help/html/index.html")));
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_TRUE(opened.empty());
}
