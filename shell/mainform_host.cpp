// The main window as the engine's host (engine/host.h): the log pane, the run state shown
// in the items and the status bar, the executing-line mark, the watch window, and the Run,
// Pause and Stop commands that drive the run control.
//
// Threading: user-interface thread only; a run re-enters the window through
// processEvents, so Pause, Stop and a second Run arrive between two script lines.
// Error policy: host calls do not fail; log lines are collected and drawn a few times a
// second, so a script that logs every line is not slowed down by the drawing.
#include "shell/mainform.h"

#include "baseqt/displaytext.h"
#include "baseqt/eventwait.h"
#include "baseqt/placement.h"
#include "engine/runcontrol.h"
#include "engine/runtime.h"
#include "engine/text.h"
#include "shell/debugger.h"
#include "shell/diagnostics.h"
#include "shell/scripteditor.h"
#include "watch/watchwindow.h"
#include "wiring/subsystems.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolBar>

namespace nv {

namespace {

QString stateName(RunState s) {
    switch (s) {
    case RunState::Idle:
        return QStringLiteral("Ready");
    case RunState::Running:
        return QStringLiteral("Running");
    case RunState::Paused:
        return QStringLiteral("Paused");
    case RunState::WaitingForStep:
        return QStringLiteral("Waiting for step");
    }
    return {};
}

} // namespace

void MainWindow::processEvents() {
    QCoreApplication::processEvents();
}

void MainWindow::waitForEvents() {
    waitForQtEvents();
}

void MainWindow::waitForEventsFor(int ms) {
    waitForQtEventsFor(ms);
}

void MainWindow::clearLog() {
    pendingLog_.clear();
    log_->clear();
    logLines_ = 0;
}

void MainWindow::appendLog(std::string_view text) {
    QString t = displayText(text);
    const int lines = logLinesIn(text);
    if (lines > 1) {
        t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    }
    pendingLog_.append(t);
    logLines_ += lines;
    if (!logFlush_->isActive()) logFlush_->start();
}

void MainWindow::flushLog() {
    if (pendingLog_.isEmpty()) return;
    log_->appendPlainText(pendingLog_.join(QLatin1Char('\n')));
    pendingLog_.clear();
}

QString MainWindow::logText() {
    flushLog();
    return log_->toPlainText();
}

void MainWindow::setRunState(RunState state) {
    // The mark of the line a paused or stepped run waits before goes when it runs on (a
    // showline run marks each line again as it runs).
    if (state == RunState::Running &&
        (state_ == RunState::Paused || state_ == RunState::WaitingForStep))
        editor_->setExecutingLine(-1);
    state_ = state;
    const bool waits = state == RunState::Paused || state == RunState::WaitingForStep;
    watch_->setEditable(waits, state == RunState::Idle
                                   ? QStringLiteral("No script is running.")
                                   : QStringLiteral("The script is running: variables can be "
                                                    "changed while it is paused or stopped "
                                                    "before a line."));
    enableItemsFor(state);
    // Choosing a recent file replaces the editor text: not while that text is running.
    recentBar_->setEnabled(item(QStringLiteral("fileMenu"))->isEnabled());
    updateStatus();
}

void MainWindow::setEditorReadOnly(bool readOnly) {
    editor_->setReadOnly(readOnly);
}

void MainWindow::highlightLine(int line) {
    editor_->setExecutingLine(line);
}

void MainWindow::setWatchText(std::string_view text) {
    watch_->setWatchText(text);
}

void MainWindow::showWatch() {
    if (rt_->packageMode) return;
    const auto& p = subs_->positions;
    watch_->showAt(remembered(p.watchX, p.watchY) ? QPoint(p.watchX, p.watchY)
                                                  : placeBesideFree(this, watch_.get(), false));
}

void MainWindow::hideWatch() {
    if (rt_->packageMode) return;
    watch_->hide();
}

std::string MainWindow::editorText() const {
    return editor_->bytes();
}

void MainWindow::quitApplication() {
    closed_ = true;
    QCoreApplication::quit();
}

void MainWindow::updateStatus() {
    stateLabel_->setText(stateName(state_));
    encodingLabel_->setText(editor_->encoding() == TextEncoding::Utf8 ? QStringLiteral("UTF-8")
                                                                      : QStringLiteral("Latin-1"));
}

bool MainWindow::running() const {
    return rc_ && rc_->running();
}

void MainWindow::runScript() {
    if (running()) {
        rc_->run({});
        return;
    }
    if (closed_) return;
    // The marks a failed run left behind go when the next one starts.
    editor_->setErrorLine(-1);
    editor_->setExecutingLine(-1);
    // A script run from the editor has no arguments; getarg(0) is its file once saved, or the
    // file named on the command line for the run at start (which leaves the editor untitled).
    rt_->scriptArguments.clear();
    if (const QString& name = startFile_.isEmpty() ? currentFile_ : startFile_; !name.isEmpty())
        rt_->scriptArguments.push_back(QFile::encodeName(name).toStdString());
    rc_->options.strict = item(QStringLiteral("strictAction"))->isChecked();
    rc_->run(splitLines(editor_->bytes()));
    flushLog();
    // The line that failed keeps the executing-line mark and gets the margin mark.
    if (!closed_) editor_->setErrorLine(rc_->fatalEditorLine());
}

void MainWindow::checkScript() {
    if (running()) return;
    diagnostics_->recheck();
    const std::vector<Finding>& found = diagnostics_->findings();
    for (const Finding& f : found)
        appendLog(findingLogLine(f));
    if (found.empty()) appendLog("Check: no findings");
    flushLog();
}

void MainWindow::toggleBreakpoint() {
    int line = 0, index = 0;
    editor_->getCursorPosition(&line, &index);
    debugger_->toggle(line);
}

void MainWindow::runToCursor() {
    int line = 0, index = 0;
    editor_->getCursorPosition(&line, &index);
    debugger_->setRunTo(line);
    if (!running()) {
        runScript();
        return;
    }
    // A run that waits goes on; a running one stops there when it gets there.
    if (state_ == RunState::Paused || state_ == RunState::WaitingForStep) rc_->run({});
}

void MainWindow::pauseScript() {
    rc_->pause();
}

void MainWindow::stopScript() {
    rc_->stop();
}

RunOutcome MainWindow::runPackagedScript() {
    const RunOutcome outcome = rc_->run(splitLines(editor_->bytes()));
    flushLog();
    return outcome;
}

void MainWindow::setPackageMode(bool on) {
    rt_->packageMode = on;
}

} // namespace nv
