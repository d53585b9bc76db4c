#include "app/runner_host.h"

#include <QCoreApplication>

#include "app/jsonlog.h"
#include "baseqt/displaytext.h"
#include "baseqt/eventwait.h"
#include "base/limits.h"
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
    waitForQtEvents();
    releaseStep();
}

void RunnerHost::waitForEventsFor(int ms) {
    if (releaseStep()) return;
    waitForQtEventsFor(ms);
    releaseStep();
}

void RunnerHost::appendLogEntry(std::string_view text, const LogInfo& info) {
    if (info.kind == LogKind::Fatal) fatal_ = text;
    if (format_ == LogFormat::Json) {
        const std::string object = jsonLogLine(isoTimeNow(), text, info);
        std::fwrite(object.data(), 1, object.size(), out_);
        std::fputc('\n', out_);
        std::fflush(out_);
    }
    lines_ += forEachLogLine(text, [this](std::string_view line) {
        if (format_ == LogFormat::Text) {
            std::fwrite(line.data(), 1, line.size(), out_);
            std::fputc('\n', out_);
            std::fflush(out_);
        }
        if (keeping_) keep(line);
    });
}

// Only the newest part is kept, so that a bench running for days does not fill memory; the
// cut is made at a line break once twice the limit is held, so that trimming stays rare.
void RunnerHost::keep(std::string_view line) {
    kept_ += displayText(line).toUtf8().toStdString();
    kept_ += '\n';
    if (kept_.size() <= 2 * limits::kReportLogBytes) return;
    size_t cut = kept_.size() - limits::kReportLogBytes;
    const size_t nl = kept_.find('\n', cut);
    cut = nl == std::string::npos ? cut : nl + 1;
    kept_.erase(0, cut);
    dropped_ += cut;
}

std::string RunnerHost::keptLog() const {
    if (dropped_ == 0) return kept_;
    return "[" + std::to_string(dropped_) + " earlier bytes of the log left out]\n" + kept_;
}

} // namespace nv
