// Interpreter, the interpreter: one object per run, created by the Run command and destroyed
// when the run ends. It prepares the program lines (include expansion, `begin`/`end`
// framing), walks them, dispatches each line to a statement or a command, evaluates
// expressions and conditions, calls built-in functions and keeps the variable store.
//
// Threading: user-interface thread only. There is no interpreter thread: every line first
// lets the host dispatch pending events, and Pause, Stop and a second Run arrive that way.
//
// Error policy: script errors never end a run; commands and functions report them through
// raiseScriptError (the variable `error` and the text geterror() returns). A failure that
// no command catches (a `for` step of 0, a bound that is no number, runaway recursion) is
// thrown as ScriptFailure and ends the run with the fatal-error log line; a block scan
// past the last program line throws ProgramIndexError, which ends the run quietly.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/limits.h"
#include "engine/eventgate.h"
#include "engine/lineorigins.h"
#include "engine/runtime.h"
#include "engine/variables.h"

namespace nv {

class ScriptHost;
struct CachedExpr;
struct CachedCondition;

struct ScriptFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// A block scan ran past the last program line.
struct ProgramIndexError : std::out_of_range {
    using std::out_of_range::out_of_range;
};

// Deepest nesting of executeLine (procedure calls and nested blocks) before the run ends
// with a fatal error instead of exhausting the stack.
inline constexpr int kMaxLineDepth = limits::kLineDepth;

// What makes a line do more than run: kept together so that one load tells whether any of
// them is set (Interpreter::quietLine).
struct LineFlags {
    bool stopRequested_ = false;
    bool paused_ = false;
    bool debug_ = false;
    bool breakPending_ = false;
    bool exitPending_ = false;
    bool showLine_ = false;
    bool unused_[2] = {};
    bool anySet() const {
        uint64_t all;
        static_assert(sizeof(LineFlags) == sizeof all);
        std::memcpy(&all, this, sizeof all);
        return all != 0;
    }
};

class Interpreter : private LineFlags {
  public:
    explicit Interpreter(Runtime& rt);
    ~Interpreter();
    Interpreter(const Interpreter&) = delete;
    Interpreter& operator=(const Interpreter&) = delete;

    // Prepares the program from the editor's lines and runs the top-level loop.
    void run(const std::vector<std::string>& editorLines);

    void pause() { paused_ = true; }
    void resume() { paused_ = false; }
    void stop() { stopRequested_ = true; }
    const char* stateText() const { return paused_ ? "Paused" : "Running"; }
    bool stepWaiting() const { return stepWait_; }
    void releaseStep() { stepWait_ = false; }
    bool stopRequested() const { return stopRequested_; }

    // Error protocol.
    void raiseScriptError(std::string_view message);
    void clearScriptError() { variables_.setInteger("error", 0, errorSlot_); }
    const std::string& lastError() const { return lastError_; }

    // The log: 500-line check, time stamp, ": ", message. Nothing in package mode.
    void logMessage(std::string_view message, LogInfo info = {});
    // The 500-line check, then `text` added as it stands (no time stamp).
    void appendChecked(std::string_view text, LogInfo info = {});

    // Expressions (the full evaluator); success means a non-empty value.
    bool evaluate(std::string_view text, std::string& value);
    // Conditions: returns whether the text could be reduced; writes `truth` when a
    // comparison group is combined.
    bool evaluateCondition(std::string_view text, bool& truth);
    inline bool evaluateCondition(const CachedCondition& cond, bool& truth);

    Variables& variables() { return variables_; }
    void setVariable(std::string_view name, std::string_view value) { variables_.set(name, value); }

    // Debug commands.
    void setDebug(bool on) { debug_ = on; }
    void setShowLine() { showLine_ = true; }

    // Breakpoints the window keeps for the editor's lines. A run stops before a line of the
    // editor's own text (not an included file's) that `lines` marks, exactly as a debug step
    // stops, when `hit` agrees (a condition holds, Run to cursor reached its line); Run goes
    // on. The host owns the set and may change it while the run waits; null or empty costs
    // one test per line.
    struct Breakpoints {
        std::vector<char> lines; // by editor line, 0-based
        std::function<bool(int editorLine)> hit;
    };
    void setBreakpoints(const Breakpoints* b) { breakpoints_ = b; }

    // Waits with the event loop running (received data, Pause, Stop and repaints go on) and
    // no processor time spent, until `done` says so, `ms` milliseconds have passed, or Stop
    // is given. Returns `done`'s last answer; `done` is asked first, before any wait.
    bool waitUntil(int ms, const std::function<bool()>& done);

    int idleMs() const { return idleMs_; }
    void setIdleMs(int ms) { idleMs_ = ms; }

    Runtime& runtime() { return rt_; }
    ScriptHost& host();
    const std::vector<std::string>& program() const { return program_; }

    // Where each program line came from (the editor or an included file).
    const LineOrigins& origins() const { return origins_; }
    // The program line being executed (the innermost one when lines nest); after a failure,
    // the line that failed. -1 before the first line.
    int executingIndex() const { return executing_; }

    // Test seam: prepare the program lines without running them.
    void prepare(const std::vector<std::string>& editorLines);

    void setOptions(const RunOptions& options) { options_ = options; }
    // In a strict run, ends the run with a fatal error that names program line `index` and
    // says why; otherwise nothing (the line goes on as the language has it).
    void strictLine(int index, std::string_view why);
    // Asked by prepare() before an `include(` line's file is read, with the editor line
    // (0-based) and the evaluated file name and password; false leaves the line unexpanded.
    // Empty: every include is read, as in a run.
    std::function<bool(int editorLine, const std::string& file, const std::string& password)>
        includeGate;

  private:
    friend class Checker;
    struct LineInfo;
    using Clock = std::chrono::steady_clock;

    void executeLine(int& index);
    // The same for a line inside a block, with shortcuts where nothing can tell (lineinfo.h).
    inline void runLine(int& index);
    inline bool quietLine() const;
    void dispatch(int& index);
    void assign(const LineInfo& li);
    // What assign does once the value is known to have no integer form.
    void assignText(const LineInfo& li);
    void runFor(const LineInfo& li, int& index);
    // A statement's condition: evaluateCondition, and in a strict run the end of the run when
    // it cannot be evaluated or compares nothing.
    bool testCondition(const CachedCondition& cond, bool& truth, int index);
    // The same as 1 (true), 0 (false) or -1 (not evaluated); inline with a shortcut for two
    // plain integers (lineinfo.h).
    inline int conditionValue(const CachedCondition& cond, int index);
    int testedCondition(const CachedCondition& cond, int index);
    void runIf(const CachedCondition& cond, int& index);
    // The stops of the block scans an `if (` chain makes (LineInfo::falseStop, skipTo).
    void findFalseStop(const LineInfo& from, int index);
    int skipToEndif(const LineInfo& from, int index);
    // Leaves the index one line before the `endif` an `elseif (` chain stopped on.
    void handBackEndif(int& index);
    void runWhile(const CachedCondition& cond, int& index);
    void runRepeat(int& index);
    void callProcedure(int defIndex);
    bool includeFile(const std::string& line, std::string& text, std::string* named = nullptr);

    LineInfo classifyLine(int index);
    bool evaluateCompact(std::string_view compacted, std::string& value);
    bool evaluateCached(const CachedExpr& expr, std::string& value);
    // The value of an expression in integer form when every operand is a plain integer and
    // every step stays one; false leaves the expression to the text path, which then gives
    // the same result (the steps are pure) or the one the integers could not.
    bool evaluateInteger(const CachedExpr& expr, int64_t& value);
    // The same, once no kept result and no shown rack are known to stand in the way.
    bool integerValue(const CachedExpr& expr, int64_t& value);
    bool integerCall(const CachedExpr& expr, int64_t& value);
    // The usual operand of a call or a comparison, a lone name or integer literal, read
    // without a walk: 1 with its value, 0 when it has no integer value (the text path then
    // decides), -1 when the expression is no such operand (lineinfo.h).
    inline int loneInteger(const CachedExpr& expr, int64_t& value);
    // evaluateInteger when no name in it reaches a rack control and no result is kept (lineinfo.h).
    inline Variables::IntegerRead quickInteger(const CachedExpr& expr);
    inline Variables::IntegerRead quickIntegerValue(const CachedExpr& expr);
    Variables::IntegerRead quickIntegerCall(const CachedExpr& expr);
    // quickIntegerValue for an expression of more than one operand.
    Variables::IntegerRead quickIntegerSteps(const CachedExpr& expr);
    bool evaluateFlat(std::string_view text, std::string& value);
    bool resolveOperand(std::string_view text, std::string& value);
    bool callFunction(std::string_view name, std::string_view inner, std::string& value);
    // Calls function row `row` (-1: none) with its argument texts, evaluated through the
    // remembered forms when given. With `view`, a row that gives views (FnCall::view) points
    // it at its result instead of writing `value`.
    bool invokeFunction(int row, const std::vector<std::string>& argTexts,
                        const std::vector<CachedExpr>* cachedArgs, std::string& value,
                        std::string_view* view = nullptr);
    // `x = tcp_read()` and the like: the result taken straight into the variable. False: the
    // line is not of that form, and nothing was done.
    bool assignView(const LineInfo& li);
    struct EvaluationScope;
    bool reduceGroups(std::string& s, size_t close, std::vector<size_t>& seen, size_t passes,
                      size_t passLimit, std::string& value);
    bool spliceResult(std::string& s, size_t from, size_t open, size_t close, std::string& part,
                      std::vector<size_t>& seen);
    bool evaluateCall(const CachedExpr& expr, std::string& value);
    // A call of a row written on views (Runtime::setValueFunction), its arguments handed over
    // without copies; false when the call is not one the views may take, and then nothing
    // was evaluated.
    bool valueCall(const CachedExpr& expr, FnValue& result);
    // The value the text path gives for a successful call's result spliced in place of the
    // whole text.
    bool callResultValue(const FnValue& result, std::string& value);
    // A nested call (CachedExpr::nested): each inner call through valueCall, its result handed
    // to the outer call as a value where the group walk would read back exactly that value;
    // everything else goes on along the group walk from where it stands.
    bool evaluateNested(const CachedExpr& expr, std::string& value);
    // The group walk's text after the first `count` inner calls of a nested call gave
    // `results`; false when the walk would have ended there (a text come back).
    bool spliceInnerResults(const CachedExpr& expr, const FnValue* results, size_t count,
                            std::string& s, std::vector<size_t>& seen);
    // `c = mid(r, p, 1)` through valueCall. False: not taken, nothing done.
    bool assignValueCall(const LineInfo& li);
    std::string placeholderFor(std::string_view value);
    bool resolvePlaceholder(std::string_view operand, std::string& value) const;
    void expandPlaceholders(std::string& text) const;
    // evaluateCondition's steps for a remembered comparison: both sides as plain integers
    // (false: not both are), and the text path's comparison of their values.
    bool integerComparison(const CachedCondition& cond, bool& truth);
    bool compareTexts(const CachedCondition& cond, bool& truth);
    bool evaluateComparison(std::string_view inner, std::string& value, bool& isBool, bool& result);
    bool reduceCondition(std::string_view text, bool& truth, int depth);

    const LineInfo& line(int index);
    // The same, inline where the line was classified before (lineinfo.h).
    inline const LineInfo& knownLine(int index);
    const std::string& trimmedLine(int index);
    void debugStop(int index);
    bool atBreakpoint(int index);
    // A pass over the event queue when something waits or the interval is over; passEvents
    // makes one in any case.
    void maybePassEvents() {
        // Most lines only count down to the next reading of the clock.
        if (--clockCountdown_ > 0 && gated_ && !eventgate::waiting() && !debug_ && idleMs_ <= 0)
            return;
        ++clockCountdown_;
        checkPassEvents();
    }
    void checkPassEvents();
    void passEvents();
    bool rackShown() const;
    // No name in the expression reaches a shown control, so the quick paths, which read
    // only variables, give what the full ones give; asked of the rack once per expression
    // and rack generation (lineinfo.h).
    inline bool controlFree(const CachedExpr& e);
    bool reachesControl(const CachedExpr& e);
    // The same for an assignment line, its assigned name included.
    inline bool quickAssignable(const LineInfo& li);
    // The answers above asked again for the rack's present generation.
    void noteControlFree(const CachedExpr& e);
    void noteControlFree(const LineInfo& li);
    // runLine's integer assignment when a name in its value reaches a control: done when the
    // value is a whole number and the control (if the assigned name reaches one) takes it as
    // one; false, with nothing done, leaves the line to executeLine.
    bool quickControlLine(const LineInfo& li);
    // No name can reach a rack control: no rack is installed, or none is shown. Asks the
    // rack only when its generation changed (a rack opened, shown or hidden).
    bool noControls() {
        InstrumentAccess* rack = rt_.instruments;
        if (!rack) return true;
        if (const uint64_t now = rack->generation(); now != controlsGeneration_) {
            controlsGeneration_ = now;
            controlsShown_ = rack->shown();
        }
        return !controlsShown_;
    }

    Runtime& rt_;
    ScriptHost& host_;
    const bool gated_; // the host lets lines go without a pass (ScriptHost::passesWhenNeeded)

    Variables variables_;
    std::vector<std::string> program_;
    int32_t currentLine_ = 0;
    // Set when the line just dispatched was an `elseif (` chain that left the caller to step
    // onto its `endif`; cleared as every line starts.
    bool endifHandedBack_ = false;
    bool stepWait_ = false;
    int32_t idleMs_ = 0;
    std::string lastError_;
    const Breakpoints* breakpoints_ = nullptr;
    RunOptions options_;
    int includeLine_ = -1;   // the editor line prepare() is expanding
    bool textsOnly_ = false; // lines are read, never run (the checker)
    // Set by a condition's reduction when its outermost level combined a comparison.
    bool conditionCompared_ = false;

    // Facts about a program line that cannot change during a run, computed on first use.
    std::vector<std::unique_ptr<LineInfo>> lineInfo_;
    // Lower-cased program lines that define procedures -> index of the first such line.
    std::unordered_map<std::string, int> procedures_;
    int depth_ = 0;
    LineOrigins origins_;
    int executing_ = -1;
    // The clock is read every few lines only: reading it costs a tenth of a line.
    Clock::time_point lastPass_{};
    int clockCountdown_ = 0;
    int linesPerClockRead_ = 4;
    Clock::time_point lastClockRead_{};
    Variables::Slot errorSlot_;       // most calls set `error`
    uint64_t controlsGeneration_ = 0; // noControls(): 0 before the first look
    bool controlsShown_ = false;

    // Text function results that hold `"`, `(` or `)`: the expression text gets a placeholder
    // operand in their place (read back as a quoted text, they would corrupt the quote state
    // or be scanned as calls). Kept while the outermost evaluation lasts, since argument
    // evaluations of a call see the placeholders of the text around them.
    std::vector<std::string> spliced_;
    int evaluationDepth_ = 0;
    std::string placeholderTag_; // drawn on first use
};

} // namespace nv
