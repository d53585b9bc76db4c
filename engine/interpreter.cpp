// The run loop, the line preamble and the statement dispatcher.
#include "engine/interpreter.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "base/limits.h"
#include "engine/builtins.h"
#include "engine/checker.h"
#include "engine/eventgate.h"
#include "engine/host.h"
#include "engine/lineinfo.h"
#include "engine/text.h"
#include "engine/value.h"

namespace nv {

namespace {
// Lines between two readings of the clock when nothing is waiting. Cheap lines (a few tens
// of nanoseconds each) stretch it up to the most, so that reading the clock stays a small
// part of a line; any slower stretch of lines brings it back to the least at once.
constexpr int kLinesPerClockRead = 4;
constexpr int kMostLinesPerClockRead = 64;
// Lines that took less than this between two readings count as cheap.
constexpr auto kCheapStretch = std::chrono::microseconds(2);
} // namespace

Interpreter::Interpreter(Runtime& rt)
    : rt_(rt), host_(rt.host()), gated_(host_.passesWhenNeeded()) {}

Interpreter::~Interpreter() = default;

ScriptHost& Interpreter::host() {
    return host_;
}

void Interpreter::raiseScriptError(std::string_view message) {
    variables_.set("error", "1");
    lastError_.assign(message);
}

void Interpreter::appendChecked(std::string_view text, LogInfo info) {
    rt_.appendLog(text, info);
}

// A command's message tells which line it comes from, so that a report can point at it.
void Interpreter::logMessage(std::string_view message, LogInfo info) {
    if (info.line == 0 && executing_ > 0) info.line = executing_;
    rt_.logMessage(message, info);
}

const Interpreter::LineInfo& Interpreter::line(int index) {
    if (index < 0 || static_cast<size_t>(index) >= program_.size())
        throw ProgramIndexError("List index out of bounds (" + std::to_string(index) + ")");
    auto& slot = lineInfo_[static_cast<size_t>(index)];
    if (!slot) slot = std::make_unique<LineInfo>(classifyLine(index));
    return *slot;
}

const std::string& Interpreter::trimmedLine(int index) {
    return line(index).trimmed;
}

void Interpreter::run(const std::vector<std::string>& editorLines) {
    variables_.clear();
    setVariable("error", "0");
    prepare(editorLines);
    paused_ = false;
    stopRequested_ = false;
    currentLine_ = 1;
    for (size_t i = 0; i < program_.size(); ++i) {
        if (equalsNoCase(program_[i], "begin")) {
            currentLine_ = static_cast<int32_t>(i) + 1;
            break;
        }
    }
    do {
        const std::string& t = trimmedLine(currentLine_);
        if (!t.empty()) {
            if (t == "end") break;
            executeLine(currentLine_);
        }
        ++currentLine_;
    } while (static_cast<size_t>(currentLine_) < program_.size() && !stopRequested_);
    rt_.rackOpened = false;
}

// Pending break/exit, debug stop, one pass over the event queue, the pause wait, the line
// highlight and the idle time; then the dispatcher.
void Interpreter::executeLine(int& index) {
    endifHandedBack_ = false;
    if (breakPending_ || exitPending_) return;
    if (debug_ || (breakpoints_ && atBreakpoint(index))) {
        debugStop(index);
        if (stopRequested_) return;
    }
    maybePassEvents();
    if (stopRequested_) return;
    if (paused_) {
        // The line that runs once the pause ends is marked, whether or not showline is on.
        host_.highlightLine(origins_.editorLine(index));
        while (paused_)
            host_.waitForEvents();
    }
    if (showLine_) host_.highlightLine(origins_.editorLine(index));
    // An idle time of 0 sleeps not at all: other threads have cores of their own, and the
    // window gets its turn from the passes above.
    if (idleMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(idleMs_));

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
    // Not restored when a failure unwinds: it then names the line that failed.
    const int outer = executing_;
    executing_ = index;
    dispatch(index);
    executing_ = outer;
}

// Waits for Run (one line released) or Stop, with the line about to run marked in the editor.
void Interpreter::debugStop(int index) {
    stepWait_ = true;
    host_.setRunState(RunState::WaitingForStep);
    host_.setWatchText(variables_.text());
    host_.highlightLine(origins_.editorLine(index));
    appendChecked("Next line to execute: " + trimmedLine(index), {LogKind::Debug, index});
    host_.processEvents();
    while (stepWait_ && !stopRequested_)
        host_.waitForEvents();
}

bool Interpreter::atBreakpoint(int index) {
    const Breakpoints& b = *breakpoints_;
    if (b.lines.empty()) return false;
    const int e = origins_.editorLine(index);
    // A mark stands for the editor's own line, never for the lines its include brought.
    if (e < 0 || static_cast<size_t>(e) >= b.lines.size() || !b.lines[static_cast<size_t>(e)] ||
        !origins_.at(index).file.empty())
        return false;
    return !b.hit || b.hit(e);
}

void Interpreter::passEvents() {
    eventgate::clear();
    host_.processEvents();
    eventgate::passDone();
    // The time slice is given up here rather than on every line: on a busy machine the
    // receive threads still get a turn at least once per pass interval.
    sched_yield();
    lastPass_ = lastClockRead_ = Clock::now();
    linesPerClockRead_ = kLinesPerClockRead;
    clockCountdown_ = linesPerClockRead_;
}

// Debug mode and an idle time keep a pass on every line: a step waits for the user anyway,
// and an idle time sleeps far longer than a pass costs. So does a host that asks for it.
void Interpreter::checkPassEvents() {
    if (!eventgate::waiting() && !debug_ && idleMs_ <= 0 && gated_) {
        if (--clockCountdown_ > 0) return;
        const Clock::time_point now = Clock::now();
        if (now - lastClockRead_ < kCheapStretch)
            linesPerClockRead_ = std::min(linesPerClockRead_ * 2, kMostLinesPerClockRead);
        else
            linesPerClockRead_ = kLinesPerClockRead;
        lastClockRead_ = now;
        clockCountdown_ = linesPerClockRead_;
        if (now - lastPass_ < std::chrono::microseconds(eventgate::kPassIntervalUs)) return;
    }
    passEvents();
}

bool Interpreter::waitUntil(int ms, const std::function<bool()>& done) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    // What arrived before the wait is let in first, so that `done` sees it: a wait in the
    // event loop would take it and then sleep on until the next event or the deadline. When
    // the gate says nothing waits, the pass is left out: a loop of short sleeps would
    // otherwise pay a second pass (and a yield) for every wait.
    if (eventgate::waiting() || !gated_) passEvents();
    for (;;) {
        if (done()) return true;
        if (stopRequested_) return false;
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return false;
        // Rounded up: a wake a fraction of a millisecond early would only wait again.
        const auto leftMs = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        eventgate::clear();
        host_.waitForEventsFor(static_cast<int>(leftMs));
        eventgate::passDone();
        lastPass_ = Clock::now();
    }
}

bool Interpreter::rackShown() const {
    return rt_.instruments && rt_.instruments->shown();
}

void Interpreter::dispatch(int& index) {
    const LineInfo& li = knownLine(index);
    switch (li.kind) {
    case LineKind::Comment:
        return;
    case LineKind::For:
        runFor(li, index);
        return;
    case LineKind::If:
        runIf(li.cond, index);
        return;
    case LineKind::While:
        runWhile(li.cond, index);
        return;
    case LineKind::Repeat:
        runRepeat(index);
        return;
    case LineKind::Break:
        breakPending_ = true;
        return;
    case LineKind::Exit:
        exitPending_ = true;
        return;
    case LineKind::ProcCall:
        callProcedure(li.target);
        return;
    case LineKind::ProcDef:
        if (li.target >= 0) index = li.target;
        return;
    case LineKind::Other:
        break;
    }
    if (li.integerAssign && spliced_.empty() && !(li.noForm && options_.strict) &&
        quickAssignable(li)) {
        // assign's own steps, with no control to reach and no kept result.
        if (const Variables::IntegerRead n = quickInteger(li.value); n.ok)
            variables_.setInteger(li.assignName, n.value, li.assignSlot);
        else
            assignText(li);
        return;
    }
    for (int row : li.commandRows) {
        const auto& take = rt_.commands()[static_cast<size_t>(row)].take;
        if (!take || take(*this, li.trimmed, index)) return;
    }
    if (li.noForm && options_.strict) strictLine(index, noFormTrap(rt_, program_, index));
    assign(li);
}

void Interpreter::strictLine(int index, std::string_view why) {
    if (!options_.strict) return;
    const SourceLine at = origins_.at(index);
    std::string where = at.file.empty() ? "line " : at.file + " line ";
    where += std::to_string(at.line + 1);
    throw ScriptFailure("Strict: " + where + ": " + std::string(why));
}

void Interpreter::assign(const LineInfo& li) {
    InstrumentAccess* rack = rt_.instruments;
    if (const int c = li.assignControl.get(rack, li.assignName, true); c >= 0) {
        // A whole number goes to the control as one when it takes one. Its evaluation lets
        // no events through, so the control bound is still the one the name reaches.
        if (int64_t n; evaluateInteger(li.value, n)) {
            clearScriptError();
            if (li.assignControl.whole.assign(n)) return;
            rack->assignBound(*this, c, formatInt(n));
            return;
        }
        // A failed evaluation gives the empty text, which every conversion refuses.
        std::string value;
        if (!evaluateCached(li.value, value)) value.clear();
        clearScriptError();
        // The evaluation may have let events through (an input box) that replaced or hid the
        // rack: the name then reaches what it reaches now, a variable when no control.
        const int now = li.assignControl.get(rack, li.assignName, true);
        if (now >= 0)
            rack->assignBound(*this, now, value);
        else
            variables_.set(li.assignName, std::move(value), li.assignSlot);
        return;
    }
    if (li.bareName && spliced_.empty()) {
        const CachedOperand& o = li.value.operands[0];
        if (o.control.get(rack, o.text, false) < 0 && !variables_.get(o.text, o.slot)) {
            // The name's value is empty: the text path's failed evaluation.
            variables_.set(li.assignName, std::string_view(), li.assignSlot);
            return;
        }
    }
    if (li.viewCall && assignView(li)) return;
    if (int64_t n; evaluateInteger(li.value, n)) {
        variables_.setInteger(li.assignName, n, li.assignSlot);
        return;
    }
    assignText(li);
}

bool Interpreter::quickControlLine(const LineInfo& li) {
    // Pure: a failure here has no effect, and executeLine evaluates the line again.
    int64_t n;
    const int lone = loneInteger(li.value, n); // `x = Meter9`, read here without a call
    if (lone == 0 || (lone < 0 && !integerValue(li.value, n))) return false;
    if (li.assignControl.get(rt_.instruments, li.assignName, true) >= 0) {
        if (!li.assignControl.whole.assign(n)) return false;
        clearScriptError(); // as assign does once the value is known
        return true;
    }
    variables_.setInteger(li.assignName, n, li.assignSlot);
    return true;
}

void Interpreter::assignText(const LineInfo& li) {
    if (assignValueCall(li)) return;
    // The text path would copy the variable, append the other operands and store the copy:
    // the same text results from appending in place.
    if (li.appendsToItself && spliced_.empty() && !rackShown()) {
        if (std::string* text = variables_.editText(li.assignName, li.assignSlot)) {
            for (size_t i = 1; i < li.value.operands.size(); ++i) {
                const CachedOperand& o = li.value.operands[i];
                if (o.kind == CachedOperand::Literal) {
                    text->append(o.literal);
                } else if (o.kind == CachedOperand::Name) {
                    if (const std::string* v = variables_.get(o.text, o.slot)) text->append(*v);
                }
            }
            if (text->empty()) variables_.set(li.assignName, {});
            return;
        }
    }
    std::string value;
    if (evaluateCached(li.value, value))
        variables_.set(li.assignName, std::move(value), li.assignSlot);
    else
        variables_.set(li.assignName, std::string_view(), li.assignSlot);
}

// The text path would splice the result back as a quoted text (or, when it holds a quote or a
// parenthesis, as a placeholder) and walk that: a single operand whose value is the result
// itself, empty or not. Only a shown rack could make the walk read it otherwise (a control
// named like the quoted text), so then the text path runs. A failed call goes on as
// evaluateCall's does: the line's text without its first and last character is walked.
bool Interpreter::assignView(const LineInfo& li) {
    const CachedExpr& ce = li.value;
    if (!ce.call || ce.row < 0 || !rt_.functions()[static_cast<size_t>(ce.row)].givesView ||
        !spliced_.empty() || rackShown())
        return false;
    std::string value;
    std::string_view text;
    if (invokeFunction(ce.row, ce.argTexts, &ce.args, value, &text)) {
        variables_.set(li.assignName, text, li.assignSlot);
        return true;
    }
    if (evaluateFlat(std::string_view(ce.text).substr(1, ce.text.size() - 2), value))
        variables_.set(li.assignName, std::move(value), li.assignSlot);
    else
        variables_.set(li.assignName, {});
    return true;
}

} // namespace nv
