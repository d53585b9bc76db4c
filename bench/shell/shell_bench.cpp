// The main window measured against its goals:
//   - start-up: from the program's first instruction to the main window shown: 300 ms;
//   - opening a 10,000-line script and colouring all of it: 200 ms;
//   - checking that script again after an edit, to its underlines set: 50 ms;
//   - 100,000 log lines under the 500-line rule, with one event round per line as a run
//     makes them: 2 s in all;
//   - a run in the window, in a tight loop: Stop and Pause given meanwhile (posted from
//     another thread, as a click reaches the window) take effect within 20 ms, and the log
//     pane keeps repainting at 30 frames a second or more while a loop logs every pass.
// Usage: bench_shell (QT_QPA_PLATFORM=offscreen, or under Xvfb). Prints each figure beside
// its goal; the exit status is 0 either way (this is a measurement, not a test).
// `bench_shell startup|map [pairs]` runs the start-up races instead (startup_race.cpp).
#include "shell/diagnostics.h"
#include "shell/mainform.h"
#include "shell/scripteditor.h"
#include "startup_race.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <Qsci/qsciscintillabase.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

void report(const char* what, double ms, double goalMs) {
    std::printf("%-48s %9.1f ms   goal %6.0f ms   %s\n", what, ms, goalMs,
                ms <= goalMs ? "ok" : "SLOW");
}

std::string longScript(int lines) {
    static const char* const body[] = {
        "# poll the meter {and keep the reading}",
        "for (i, 1, 10, 1)",
        "    send(\"com1\", \"READ?\" & chr(13))",
        "    x = receive(\"com1\")",
        "    if (len(x) > 0x10)",
        "        writelog(\"reading \" & i & \": \" & x)  # see https://norvane.test/m",
        "    endif",
        "next",
    };
    std::string s;
    for (int i = 0; i < lines; ++i) {
        s += body[i % 8];
        s += '\n';
    }
    return s;
}

// Counts the paint events of one widget.
struct PaintCounter : QObject {
    std::atomic<int> paints{0};
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs `script` in the window; `afterMs` after the start another thread posts `action` to
// the window (the time of posting goes to `posted`). Returns when the run has ended.
template <class Action>
void runWithPosted(nv::MainWindow& form, const std::string& script, int afterMs, Action action,
                   Clock::time_point& posted) {
    form.editor()->setBytes(script);
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
        posted = Clock::now();
        QMetaObject::invokeMethod(&form, action, Qt::QueuedConnection);
    });
    form.runScript();
    poster.join();
}

} // namespace

int main(int argc, char** argv) {
    const Clock::time_point start = Clock::now();
    if (argc > 1 && (std::string(argv[1]) == "startup" || std::string(argv[1]) == "map"))
        return startupRace(argv[0], argv[1], argc > 2 ? std::max(7, std::atoi(argv[2])) : 9);
    QApplication app(argc, argv);
    QTemporaryDir program;
    nv::MainWindow::Options options;
    options.programDir = program.path();
    auto form = std::make_unique<nv::MainWindow>(options);
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) std::printf("window never exposed\n");
    report("start-up to the shown window", msSince(start), 300);

    // Open and colour a long script, as the Open command does; the best of five.
    const QString file = QDir(program.path()).filePath(QStringLiteral("long.nvs"));
    {
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        const std::string s = longScript(10000);
        f.write(s.data(), static_cast<qint64>(s.size()));
    }
    form->dialogs.openScript = [&](const QString&) { return file; };
    form->dialogs.confirm = [](const QString&) { return true; };
    std::vector<double> open;
    for (int i = 0; i < 5; ++i) {
        const Clock::time_point t = Clock::now();
        form->openScript();
        form->editor()->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0, -1L);
        open.push_back(msSince(t));
    }
    report("open and colour 10,000 lines (best of 5)", *std::min_element(open.begin(), open.end()),
           200);

    // The check that follows an edit, from its start to the underlines set; a misspelled
    // command every hundred lines gives it underlines to set.
    {
        std::string s = longScript(10000);
        for (size_t at = 0, n = 0; (at = s.find('\n', at)) != std::string::npos; ++at)
            if (++n % 100 == 0) s.insert(at + 1, "writelgo(x)\n");
        form->editor()->setBytes(s);
        std::vector<double> check;
        for (int i = 0; i < 5; ++i) {
            const Clock::time_point t = Clock::now();
            form->diagnostics()->recheck();
            check.push_back(msSince(t));
        }
        std::printf("  (%zu findings)\n", form->diagnostics()->findings().size());
        report("check 10,000 lines, underlines set (median of 5)", median(check), 50);
    }

    // The engine's log rule: clear when the pane holds more than 500 lines, then append.
    {
        const Clock::time_point t = Clock::now();
        for (int i = 0; i < 100000; ++i) {
            if (form->logLineCount() > 500) form->clearLog();
            form->appendLog("12:00:00, from line 7: reading " + std::to_string(i));
            form->processEvents();
        }
        form->logText();
        report("100,000 log lines with the 500-line rule", msSince(t), 2000);
    }

    // A tight loop in the window: Stop and Pause, each posted 200 ms into a run.
    const std::string loop = "x = 0\nfor (i, 1, 2000000000, 1)\nx = x + 1\nnext\n";
    {
        std::vector<double> stop, pause;
        for (int i = 0; i < 7; ++i) {
            Clock::time_point posted, ended;
            runWithPosted(
                *form, loop, 200, [&] { form->stopScript(); }, posted);
            ended = Clock::now();
            stop.push_back(std::chrono::duration<double, std::milli>(ended - posted).count());

            // Pause takes effect once its handler has run (the line under way finishes);
            // the run is then stopped from inside the pause.
            Clock::time_point paused;
            runWithPosted(
                *form, loop, 200,
                [&] {
                    form->pauseScript();
                    paused = Clock::now();
                    QMetaObject::invokeMethod(
                        form.get(), [&] { form->stopScript(); }, Qt::QueuedConnection);
                },
                posted);
            pause.push_back(std::chrono::duration<double, std::milli>(paused - posted).count());
        }
        report("Stop in a tight loop, posted to end of run (median)", median(stop), 20);
        report("Stop in a tight loop (worst of 7)", *std::max_element(stop.begin(), stop.end()),
               20);
        report("Pause in a tight loop, posted to paused (median)", median(pause), 20);
        report("Pause in a tight loop (worst of 7)", *std::max_element(pause.begin(), pause.end()),
               20);
    }

    // Log pane paints while a loop logs on every pass, over 2 s of running.
    {
        PaintCounter counter;
        form->logPane()->viewport()->installEventFilter(&counter);
        const std::string logging = "for (i, 1, 2000000000, 1)\nwritelog(i)\nnext\n";
        Clock::time_point posted;
        const Clock::time_point t = Clock::now();
        runWithPosted(
            *form, logging, 2000, [&] { form->stopScript(); }, posted);
        const double secs = std::chrono::duration<double>(posted - t).count();
        form->logPane()->viewport()->removeEventFilter(&counter);
        std::printf("%-48s %9.1f /s   goal %6d /s   %s\n",
                    "log pane paints while a loop logs every pass", counter.paints / secs, 30,
                    counter.paints / secs >= 30 ? "ok" : "SLOW");
    }
    return 0;
}
