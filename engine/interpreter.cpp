// The run loop, the line preamble and the statement dispatcher.
#include "engine/interpreter.h"

#include <sched.h>

#include <chrono>
#include <thread>

#include "engine/builtins.h"
#include "engine/host.h"
#include "engine/lineinfo.h"
#include "engine/text.h"
#include "engine/value.h"

namespace nv {

TExecute::TExecute(Runtime& rt) : rt_(rt), host_(rt.host()) {}

TExecute::~TExecute() = default;

ScriptHost& TExecute::host() {
    return host_;
}

void TExecute::RaiseScriptError(std::string_view message) {
    FVariables.set("error", "1");
    FLastError.assign(message);
}

void TExecute::ClearScriptError() {
    FVariables.set("error", "0");
}

void TExecute::appendChecked(std::string_view text) {
    if (host_.logLineCount() > 500) host_.clearLog();
    host_.appendLog(text);
}

void TExecute::LogMessage(std::string_view message) {
    if (rt_.packageMode) return;
    std::string line = timeText();
    line += ": ";
    line += message;
    appendChecked(line);
}

const TExecute::LineInfo& TExecute::line(int index) {
    if (index < 0 || static_cast<size_t>(index) >= FProgram.size())
        throw ProgramIndexError("List index out of bounds (" + std::to_string(index) + ")");
    auto& slot = lineInfo_[static_cast<size_t>(index)];
    if (!slot) slot = std::make_unique<LineInfo>(classifyLine(index));
    return *slot;
}

const std::string& TExecute::trimmedLine(int index) {
    return line(index).trimmed;
}

void TExecute::Run(const std::vector<std::string>& editorLines) {
    FVariables.clear();
    SetVariable("error", "0");
    prepare(editorLines);
    FPaused = 0;
    FStopRequested = 0;
    FLine = 1;
    for (size_t i = 0; i < FProgram.size(); ++i) {
        if (equalsNoCase(FProgram[i], "begin")) {
            FLine = static_cast<int32_t>(i) + 1;
            break;
        }
    }
    do {
        const std::string& t = trimmedLine(FLine);
        if (!t.empty()) {
            if (t == "end") break;
            ExecuteLine(FLine);
        }
        ++FLine;
    } while (static_cast<size_t>(FLine) < FProgram.size() && !FStopRequested);
    rt_.rackOpened = false;
}

// Pending break/exit, debug stop, one pass over the event queue, the pause wait, the line
// highlight and the idle time; then the dispatcher.
void TExecute::ExecuteLine(int& index) {
    if (FBreakPending || FExitPending) return;
    if (FDebug) {
        FStepWait = 1;
        host_.setRunState(RunState::WaitingForStep);
        host_.setWatchText(FVariables.text());
        appendChecked("Next line to execute: " + trimmedLine(index));
        host_.processEvents();
        while (FStepWait) {
            if (FStopRequested) return;
            host_.processEvents();
        }
    }
    host_.processEvents();
    if (FStopRequested) return;
    while (FPaused)
        host_.processEvents();
    if (FShowLine) host_.highlightLine(index - 1);
    if (FIdleMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(FIdleMs));
    else
        sched_yield();

    struct DepthGuard {
        int& d;
        explicit DepthGuard(int& depth) : d(depth) {
            if (++d > kMaxLineDepth) {
                --d;
                throw ScriptFailure("Stack overflow");
            }
        }
        ~DepthGuard() { --d; }
    } guard(depth_);
    dispatch(index);
}

void TExecute::dispatch(int& index) {
    const LineInfo& li = line(index);
    switch (li.kind) {
    case LineKind::Comment:
        return;
    case LineKind::For:
        RunForLoop(li, index);
        return;
    case LineKind::If:
        RunIf(std::string_view(li.trimmed).substr(3), index);
        return;
    case LineKind::While:
        RunWhile(std::string_view(li.trimmed).substr(6), index);
        return;
    case LineKind::Repeat:
        RunRepeat(index);
        return;
    case LineKind::Break:
        FBreakPending = 1;
        return;
    case LineKind::Exit:
        FExitPending = 1;
        return;
    case LineKind::ProcCall:
        CallProcedure(li.target);
        return;
    case LineKind::ProcDef:
        if (li.target >= 0) index = li.target;
        return;
    case LineKind::Other:
        break;
    }
    for (int row : li.commandRows) {
        const auto& handler = rt_.commands()[static_cast<size_t>(row)].handler;
        if (!handler || handler(*this, li.trimmed, index)) return;
    }
    assign(li);
}

void TExecute::assign(const LineInfo& li) {
    if (rt_.instruments && rt_.instruments->assignControl(*this, li.assignName, li.valueText))
        return;
    std::string value;
    if (evaluateCompact(li.valueCompact, value))
        FVariables.set(li.assignName, value);
    else
        FVariables.set(li.assignName, {});
}

} // namespace nv
