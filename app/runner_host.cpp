#include "app/runner_host.h"

#include <QCoreApplication>

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

void RunnerHost::appendLog(std::string_view text) {
    lines_ += forEachLogLine(text, [this](std::string_view line) {
        std::fwrite(line.data(), 1, line.size(), out_);
        std::fputc('\n', out_);
        std::fflush(out_);
    });
}

} // namespace nv
