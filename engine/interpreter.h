// TExecute, the interpreter: one object per run, created by the Run command and destroyed
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

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/runtime.h"
#include "engine/variables.h"

namespace nv {

class ScriptHost;

struct ScriptFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// A block scan ran past the last program line.
struct ProgramIndexError : std::out_of_range {
    using std::out_of_range::out_of_range;
};

// Deepest nesting of ExecuteLine (procedure calls and nested blocks) before the run ends
// with a fatal error instead of exhausting the stack.
inline constexpr int kMaxLineDepth = 3000;

class TExecute {
  public:
    explicit TExecute(Runtime& rt);
    ~TExecute();
    TExecute(const TExecute&) = delete;
    TExecute& operator=(const TExecute&) = delete;

    // Prepares the program from the editor's lines and runs the top-level loop.
    void Run(const std::vector<std::string>& editorLines);

    void Pause() { FPaused = 1; }
    void Resume() { FPaused = 0; }
    void Stop() { FStopRequested = 1; }
    const char* StateText() const { return FPaused ? "Paused" : "Running"; }
    bool stepWaiting() const { return FStepWait != 0; }
    void releaseStep() { FStepWait = 0; }
    bool stopRequested() const { return FStopRequested != 0; }

    // Error protocol.
    void RaiseScriptError(std::string_view message);
    void ClearScriptError();
    const std::string& lastError() const { return FLastError; }

    // The log: 500-line check, time stamp, ": ", message. Nothing in package mode.
    void LogMessage(std::string_view message);
    // The 500-line check, then `text` added as it stands (no time stamp).
    void appendChecked(std::string_view text);

    // Expressions (the full evaluator); success means a non-empty value.
    bool Evaluate(std::string_view text, std::string& value);
    // Conditions: returns whether the text could be reduced; writes `truth` when a
    // comparison group is combined.
    bool EvaluateCondition(std::string_view text, bool& truth);

    Variables& variables() { return FVariables; }
    void SetVariable(std::string_view name, std::string_view value) { FVariables.set(name, value); }

    // Debug commands.
    void setDebug(bool on) { FDebug = on ? 1 : 0; }
    void setShowLine() { FShowLine = 1; }

    int idleMs() const { return FIdleMs; }
    void setIdleMs(int ms) { FIdleMs = ms; }

    Runtime& runtime() { return rt_; }
    ScriptHost& host();
    const std::vector<std::string>& program() const { return FProgram; }

    // Test seam: prepare the program lines without running them.
    void prepare(const std::vector<std::string>& editorLines);

  private:
    struct LineInfo;

    void ExecuteLine(int& index);
    void dispatch(int& index);
    void assign(const LineInfo& li);
    void RunForLoop(const LineInfo& li, int& index);
    void RunIf(std::string_view cond, int& index);
    void RunWhile(std::string_view cond, int& index);
    void RunRepeat(int& index);
    void CallProcedure(int defIndex);
    bool IncludeFile(const std::string& line, std::string& text);

    LineInfo classifyLine(int index);
    bool evaluateCompact(std::string_view compacted, std::string& value);
    bool EvaluateFlat(std::string_view text, std::string& value);
    bool ResolveOperand(std::string_view text, std::string& value);
    bool CallFunction(std::string_view name, std::string_view inner, std::string& value);
    bool EvaluateComparison(std::string_view inner, std::string& value, bool& isBool, bool& result);
    bool evaluateCondition(std::string_view text, bool& truth, int depth);

    const LineInfo& line(int index);
    const std::string& trimmedLine(int index);
    void debugStop(int index);

    Runtime& rt_;
    ScriptHost& host_;

    uint8_t FStopRequested = 0;
    uint8_t FPaused = 0;
    Variables FVariables;
    std::vector<std::string> FProgram;
    int32_t FLine = 0;
    uint8_t FDebug = 0;
    uint8_t FBreakPending = 0;
    uint8_t FExitPending = 0;
    uint8_t FStepWait = 0;
    int32_t FIdleMs = 0;
    std::string FLastError;
    uint8_t FShowLine = 0;

    // Facts about a program line that cannot change during a run, computed on first use.
    std::vector<std::unique_ptr<LineInfo>> lineInfo_;
    // Lower-cased program lines that define procedures -> index of the first such line.
    std::unordered_map<std::string, int> procedures_;
    int depth_ = 0;
};

} // namespace nv
