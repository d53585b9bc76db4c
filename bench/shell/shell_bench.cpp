// The main window measured against its goals:
//   - start-up: from the program's first instruction to the main window shown: 300 ms;
//   - opening a 10,000-line script and colouring all of it: 200 ms;
//   - 100,000 log lines under the 500-line rule, with one event round per line as a run
//     makes them: 2 s in all.
// Usage: bench_shell (QT_QPA_PLATFORM=offscreen, or under Xvfb). Prints each figure beside
// its goal; the exit status is 0 either way (this is a measurement, not a test).
#include "shell/mainform.h"
#include "shell/scripteditor.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <Qsci/qsciscintillabase.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
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

} // namespace

int main(int argc, char** argv) {
    const Clock::time_point start = Clock::now();
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
    return 0;
}
