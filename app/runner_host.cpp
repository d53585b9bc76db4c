#include "app/runner_host.h"

#include <QCoreApplication>
#include <QTimer>

#include "engine/interpreter.h"
#include "engine/runcontrol.h"

namespace nv {

void RunnerHost::processEvents() {
    QCoreApplication::processEvents();
    releaseStep();
}

bool RunnerHost::releaseStep() {
    if (!rc_ || !rc_->current() || !rc_->current()->stepWaiting()) return false;
    rc_->current()->releaseStep();
    return true;
}

// A step is released at once, so only a pause (or nothing at all) can make the runner wait:
// it then sleeps until an event, for example a signal seen through a socket notifier.
void RunnerHost::waitForEvents() {
    if (releaseStep()) return;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    releaseStep();
}

// The timer does nothing when it fires: its event alone ends the wait.
void RunnerHost::waitForEventsFor(int ms) {
    if (releaseStep()) return;
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(ms);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    releaseStep();
}

void RunnerHost::appendLog(std::string_view text) {
    // One log string may hold CR LF, LF or CR line breaks; each becomes its own line.
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '\n' && text[i] != '\r') continue;
        std::fwrite(text.data() + start, 1, i - start, out_);
        std::fputc('\n', out_);
        std::fflush(out_);
        ++lines_;
        if (i < text.size() && text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
}

} // namespace nv
