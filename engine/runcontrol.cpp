#include "engine/runcontrol.h"

#include "engine/builtins.h"
#include "engine/host.h"
#include "engine/interpreter.h"
#include "engine/runtime.h"

namespace nv {

RunControl::RunControl(Runtime& rt) : rt_(rt) {}

RunControl::~RunControl() = default;

namespace {
void runHooks(const std::vector<std::function<void()>>& hooks) {
    for (const auto& h : hooks)
        if (h) h();
}
} // namespace

RunOutcome RunControl::run(const std::vector<std::string>& editorLines) {
    ScriptHost& host = rt_.host();
    if (current_) {
        if (std::string_view(current_->stateText()) == "Paused") {
            current_->resume();
            host.setRunState(RunState::Running);
            current_->appendChecked(rt_.logTime() + ": Script resumed", {LogKind::Run});
        }
        if (current_->stepWaiting()) {
            current_->releaseStep();
            host.setRunState(RunState::Running);
        }
        if (rt_.packageMode) host.quitApplication();
        return RunOutcome::Resumed;
    }

    host.clearLog();
    const std::vector<BlockFault> faults = blockFaults(editorLines);
    if (!faults.empty()) {
        host.appendLogEntry(validateBlocks(editorLines), {LogKind::Error, faults.front().line});
        return RunOutcome::Refused;
    }
    rt_.exitCode = 0;
    rt_.rackOpened = false;
    fatalEditorLine_ = -1;
    Interpreter ex(rt_);
    ex.setOptions(options);
    current_ = &ex;
    host.setRunState(RunState::Running);
    runHooks(rt_.onRunStart);
    host.appendLogEntry(rt_.logTime() + ": Script started", {LogKind::Run});
    host.setEditorReadOnly(true);

    RunOutcome outcome = RunOutcome::Finished;
    try {
        ex.run(editorLines);
    } catch (const ProgramIndexError&) {
        // A block scan ran past the last line (an unclosed block in included text): the run
        // ends without a fatal-error line.
    } catch (const std::exception& e) {
        ex.appendChecked(rt_.logTime() + " Fatal error: " + e.what(),
                         {LogKind::Fatal, ex.executingIndex() > 0 ? ex.executingIndex() : 0});
        outcome = RunOutcome::Fatal;
        fatalEditorLine_ = ex.origins().editorLine(ex.executingIndex());
    }

    current_ = nullptr;
    lastOrigins_ = ex.origins();
    // After a failure the mark stays on the line that failed, so that it can be found.
    host.highlightLine(fatalEditorLine_);
    rt_.rackOpened = false;
    host.setRunState(RunState::Idle);
    runHooks(rt_.onRunEnd);
    ex.appendChecked(rt_.logTime() + ": Script finished", {LogKind::Run});
    host.setEditorReadOnly(false);
    if (rt_.packageMode) host.quitApplication();
    return outcome;
}

SourceLine RunControl::sourceOf(int index) const {
    return current_ ? current_->origins().at(index) : lastOrigins_.at(index);
}

void RunControl::pause() {
    if (!current_) return;
    current_->pause();
    current_->appendChecked(rt_.logTime() + ": Script paused", {LogKind::Run});
    rt_.host().setRunState(RunState::Paused);
}

void RunControl::stop() {
    if (current_) {
        current_->stop();
        current_->resume();
    }
    rt_.rackOpened = false;
    runHooks(rt_.onStop);
    rt_.host().setRunState(RunState::Idle);
}

} // namespace nv
