// The program-wide side of the script engine: what outlives a single run. It holds the
// statement dispatcher's command table and the function table, into which the subsystems
// (serial, files, TCP, rack, ...) plug their handlers by keyword; the single random
// generator state shared with the script cipher; the split field list; the package-mode
// and rack-opened flags; and the hooks that run at the start, stop and end of a run.
//
// The engine knows no subsystem: a table row without a handler takes its line and does
// nothing, and a function row without a handler fails like an unknown function.
//
// Threading: user-interface thread only. Error policy: registering an unknown keyword or
// function is a programming error and throws std::logic_error at start-up.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/host.h"

namespace nv {

class Interpreter;

// How one run goes, set before it starts.
struct RunOptions {
    // A line that is none of the language's forms, a command line that fits none of its
    // command's forms, or a condition that cannot be evaluated or compares nothing ends the
    // run as a fatal error naming the line, where a plain run passes over it silently.
    bool strict = false;
};

// How a function's or a command's arguments are evaluated before its handler runs.
enum class ArgEval {
    All,       // every argument, left to right
    UntilFail, // left to right, stopping at the first empty value (later ones stay empty)
    Custom,    // none: the handler evaluates and clears the error state itself
};

struct FnCall {
    Interpreter& ex;
    const std::vector<std::string>& argTexts; // as written, trimmed, quotes kept
    std::vector<std::string> args;            // evaluated values (empty for ArgEval::Custom)
    bool argsOk = true;                       // every evaluated argument was non-empty
    // Set when the caller takes a buffer function's result as a view (see TextViewHandler).
    std::string_view* view = nullptr;
};

// `value` is the result in its spliced form: text results wrapped in double quotes,
// numbers bare. Use textResult / numberResult.
struct FnResult {
    bool ok = false;
    std::string value;
};
inline FnResult textResult(bool ok, std::string_view v) {
    std::string s;
    s.reserve(v.size() + 2);
    s += '"';
    s += v;
    s += '"';
    return {ok, std::move(s)};
}
inline FnResult numberResult(bool ok, std::string v) {
    return {ok, std::move(v)};
}

using FunctionHandler = std::function<FnResult(FnCall& call)>;
// A function's result computed from integer arguments alone: what the handler returns when
// every argument's text is a plain integer (see plainInteger) and the result is one too.
// False leaves the call to the handler (which then reports what went wrong).
using IntegerHandler = bool (*)(const int64_t* args, int64_t& result);

// The form the hot built-ins are written in: their arguments as views of the evaluated
// values (a variable's text or a literal in the remembered line, not copies of them) and
// their result as a value rather than its spliced text, so that `c = mid(r, p, 1)` over a
// long `r` neither copies `r` nor quotes, splices and walks the result. The row's plain
// handler (for the text path) is made from the same function, so both paths give the same.
struct FnArgs {
    Interpreter& ex;
    const std::string_view* args; // evaluated values, one per argument (failed ones empty)
    bool argsOk = true;           // every evaluated argument was non-empty
    // Bit i set: args[i] is the plain integer integers[i] (see plainInteger) as written, known
    // without reading its digits (a counter, a literal).
    unsigned integerMask = 0;
    const int64_t* integers = nullptr;
};
struct FnValue {
    // Text: spliced quoted. Number: spliced bare (a number's text or empty). Integer: a
    // number written by formatInt.
    enum Kind : unsigned char { Text, Number, Integer };
    Kind kind = Text;
    bool ok = false;
    // Text or Number. It may point into an argument's value: a handler that does so raises
    // no script error after reading its arguments (that writes a variable an argument may
    // be a view of).
    std::string_view text;
    std::string own; // the storage of a new text (point `text` at it with setText)
    int64_t integer = 0;
    void setText(bool success, std::string_view v) {
        kind = Text;
        ok = success;
        text = v;
    }
    void setOwnText(bool success, std::string v) {
        own = std::move(v);
        setText(success, own);
    }
    void setNumber(bool success, std::string_view v) {
        kind = Number;
        ok = success;
        text = v;
    }
    void setInteger(bool success, int64_t v) {
        kind = Integer;
        ok = success;
        integer = v;
    }
};
using ValueHandler = void (*)(const FnArgs& call, FnValue& result);

// A text function whose result is a buffer its subsystem keeps (what a port or a connection
// received, megabytes at a time): the handler points `text` at the bytes and returns the
// call's success. A whole line `x = receive(port)` then copies them once, into the variable,
// instead of quoting them, splicing them into the expression text and walking that. The
// view must stay valid until the next event pass.
using TextViewHandler = std::function<bool(FnCall& call, std::string_view& text)>;

// One command line on its way to its handler. For a call form the Runtime has split the
// line, checked the name and the argument count and (unless the row says otherwise)
// evaluated the arguments and cleared the error state before the handler runs.
struct CommandCall {
    Interpreter& ex;
    const std::string& line;           // the trimmed line
    int lineIndex;                     // the program line's index (writelog shows it)
    std::vector<std::string> argTexts; // as written, trimmed, quotes kept
    std::vector<std::string> args;     // evaluated values, one per argument text
    bool argsOk = true;                // every evaluated argument was non-empty
    bool clearsError = true;           // the row's rule, applied by evaluateArgs()

    // Evaluates every argument, then clears the error state where the row says so: what
    // the Runtime does before the handler unless the row evaluates its own.
    void evaluateArgs();
};

// A handler returns true when it took the line. False ("not mine") lets the dispatcher try
// the next row whose keyword the line begins with, and finally the assignment (showmain in
// package mode, hidemain without a rack).
using CommandHandler = std::function<bool(CommandCall& call)>;

// A command's row: what is the same for every command happens once, in the Runtime, as
// these fields say; the handler holds only what is the command's own.
struct CommandDefinition {
    // The dispatcher's keyword as the table writes it: "openport(" or "setport".
    std::string_view keyword = {};
    // Call form: the accepted argument counts. The line is split (name(arg, ...)); a line
    // whose name is not exactly the keyword's, or whose count is not one of these, does
    // nothing and is taken. Empty: a bare word, not split (debugon, setport, showmain).
    std::vector<int> argCounts = {};
    // All: evaluate every argument before the handler. Custom: the handler calls
    // call.evaluateArgs() itself when it wants them (fseek evaluates nothing when no file
    // is open).
    ArgEval eval = ArgEval::All;
    // The error state is set to "0" once the arguments are evaluated.
    bool clearsError = true;
    // Taken and ignored in package mode (writelog and the debug commands).
    bool skippedInPackage = false;
    // A failure thrown inside the command becomes this script error (and `failureLog` a log
    // line, when given). Empty: failures are not caught and end the run as fatal errors
    // (ddown_settext, setvisible).
    std::string_view failure = {};
    std::string_view failureLog = {};
    CommandHandler handler = {};
};

// Part of the rack: reading and setting controls by name. Installed by the rack subsystem.
class InstrumentAccess {
  public:
    virtual ~InstrumentAccess() = default;
    // True while the rack window is shown and holds at least one control: only then do
    // names reach controls.
    virtual bool shown() const = 0;
    // True when a readable control of that exact name exists on the shown rack; `value`
    // then holds its reading (possibly empty).
    virtual bool readControl(Interpreter& ex, std::string_view name, std::string& value) = 0;
    // True when a settable control of that exact name took the assignment.
    virtual bool assignControl(Interpreter& ex, std::string_view name,
                               std::string_view valueText) = 0;

    // A line names the same control on every pass until a rack is opened, shown or hidden,
    // so the engine binds a name once and keeps the handle while generation() stays the
    // same: whatever changes which control a name reaches changes the generation first.
    // Read on every remembered operand, so not a virtual call.
    uint64_t generation() const { return *generation_; }
    // The control that readControl (settable: assignControl) would reach by this name, as a
    // handle for readBound/assignBound; -1 when none would (also while no rack is shown).
    virtual int bindControl(std::string_view name, bool settable) = 0;
    // readControl and assignControl for a bound handle. assignBound takes the value already
    // evaluated (a failed evaluation gives the empty text) with the error state cleared.
    virtual void readBound(int handle, std::string& value) = 0;
    virtual void assignBound(Interpreter& ex, int handle, const std::string& value) = 0;
    // The same without the text in between, for a control whose value is a whole number,
    // as plain calls the engine keeps beside the binding while generation() stays the same:
    // `get(target, n)` gives exactly what readBound's text reads as (false: the reading is
    // no whole number), `set(target, n)` does what assignBound does with the number's text
    // (false: nothing was done, the text form decides). A null call is one that always
    // answers false. Loops that move a meter or read a slider then cost what a variable
    // costs.
    struct WholeAccess {
        void* target = nullptr;
        bool (*get)(const void* target, int64_t& n) = nullptr;
        bool (*set)(void* target, int64_t n) = nullptr;
        bool read(int64_t& n) const { return get && get(target, n); }
        bool assign(int64_t n) const { return set && set(target, n); }
    };
    virtual WholeAccess wholeAccess(int /*handle*/) { return {}; }

  protected:
    // The counter behind generation(), advanced by the implementation.
    static constexpr uint64_t kFixedGeneration = 1;
    const uint64_t* generation_ = &kFixedGeneration;
};

class Runtime {
  public:
    explicit Runtime(ScriptHost& host);

    ScriptHost& host() { return *host_; }

    // The log, also between script lines (a subsystem reporting a lost port or unsent data):
    // time stamp, ": ", message; nothing in package mode. appendLog adds the text as it
    // stands. Both clear the pane first once it holds more than limits::kLogLines lines.
    void logMessage(std::string_view message, LogInfo info = {});
    void appendLog(std::string_view text, LogInfo info = {});
    // The time stamp of log lines: HH:MM:SS, with milliseconds when logMilliseconds is set.
    std::string logTime() const;

    // Plug a command into the dispatcher's row for command.keyword.
    void addCommand(CommandDefinition command);
    // Plug a handler into the function row `name` with `argc` arguments.
    void setFunction(std::string_view name, int argc, FunctionHandler handler);
    // Adds the integer form of a row that has its handler.
    void setIntegerFunction(std::string_view name, int argc, IntegerHandler integer);
    // Plugs a handler written on views (see ValueHandler) into the row, as its plain handler
    // too.
    void setValueFunction(std::string_view name, int argc, ValueHandler handler);
    // The same for a text function that hands out a view of its buffer; the row's plain
    // handler (for calls inside expressions) quotes the same bytes.
    void setTextFunction(std::string_view name, int argc, TextViewHandler handler);

    // Program-wide state that survives runs.
    bool packageMode = false;
    bool rackOpened = false;
    uint32_t randomState = 0;                // advanced by random() and by the cipher
    std::vector<std::string> splitFields;    // filled by split(), read by extract(n)
    InstrumentAccess* instruments = nullptr; // the rack, when one is installed
    // The status the program ends with when the run ends normally (setexitcode); 0 again
    // whenever a run starts. The program's own statuses (fatal error, refusal, signal) win.
    int exitCode = 0;
    // Log time stamps carry milliseconds (norvane-run --timestamps ms); off by default.
    bool logMilliseconds = false;
    // What getarg(N) returns: [0] the script's (or built program's) name, then the arguments
    // given after it on the command line. Set by the program before a run; empty in a window
    // whose script was never saved.
    std::vector<std::string> scriptArguments;

    // Run hooks, called in registration order: when a run starts (after validation),
    // when the Stop command is given, and when a run ends (whatever ended it).
    std::vector<std::function<void()>> onRunStart, onStop, onRunEnd;

    // Tables (read by the interpreter).
    struct CommandRow {
        std::string_view keyword;
        bool onCompact; // true: the compact form must begin with it; false: the trimmed line
        // The row's whole protocol around its command: true when it took the line. Empty
        // until a subsystem plugs its command in (the line is then taken and does nothing).
        std::function<bool(Interpreter& ex, const std::string& line, int lineIndex)> take;
        // The argument counts of its call form; empty for a bare word or a row no subsystem
        // has plugged in (the checker reads them).
        std::vector<int> argCounts = {};
    };
    struct FunctionRow {
        std::string_view name;
        int argc;
        ArgEval eval;
        bool clearsError; // clearScriptError once the arguments are evaluated
        FunctionHandler handler;
        IntegerHandler integer = nullptr; // optional, beside the handler
        bool givesView = false;       // set by setTextFunction: the handler honours FnCall::view
        ValueHandler value = nullptr; // set by setValueFunction: the handler on views
    };
    std::vector<CommandRow>& commands() { return commands_; }
    const std::vector<CommandRow>& commands() const { return commands_; }
    const std::vector<FunctionRow>& functions() const { return functions_; }

  private:
    ScriptHost* host_;
    std::vector<CommandRow> commands_;
    std::vector<FunctionRow> functions_;
};

} // namespace nv
