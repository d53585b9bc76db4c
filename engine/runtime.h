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

namespace nv {

class Interpreter;
class ScriptHost;

// A command handler gets the trimmed line and the line index that executeLine received
// (writelog shows it). It returns true when it took the line; false lets the dispatcher go
// on with its next tests (showmain in package mode, hidemain without a rack).
using CommandHandler = std::function<bool(Interpreter& ex, const std::string& line, int lineIndex)>;

// How callFunction evaluates a row's arguments before its handler runs.
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
};

class Runtime {
  public:
    explicit Runtime(ScriptHost& host);

    ScriptHost& host() { return *host_; }

    // Plug a handler into the dispatcher's row for `keyword` (as the table writes it,
    // for example "openport(" or "setport").
    void setCommand(std::string_view keyword, CommandHandler handler);
    // Plug a handler into the function row `name` with `argc` arguments.
    void setFunction(std::string_view name, int argc, FunctionHandler handler);

    // Program-wide state that survives runs.
    bool packageMode = false;
    bool rackOpened = false;
    uint32_t randomState = 0;                // advanced by random() and by the cipher
    std::vector<std::string> splitFields;    // filled by split(), read by extract(n)
    InstrumentAccess* instruments = nullptr; // the rack, when one is installed

    // Run hooks, called in registration order: when a run starts (after validation),
    // when the Stop command is given, and when a run ends (whatever ended it).
    std::vector<std::function<void()>> onRunStart, onStop, onRunEnd;

    // Tables (read by the interpreter).
    struct CommandRow {
        std::string_view keyword;
        bool onCompact; // true: the compact form must begin with it; false: the trimmed line
        CommandHandler handler;
    };
    struct FunctionRow {
        std::string_view name;
        int argc;
        ArgEval eval;
        bool clearsError; // clearScriptError once the arguments are evaluated
        FunctionHandler handler;
    };
    std::vector<CommandRow>& commands() { return commands_; }
    const std::vector<FunctionRow>& functions() const { return functions_; }

  private:
    ScriptHost* host_;
    std::vector<CommandRow> commands_;
    std::vector<FunctionRow> functions_;
};

} // namespace nv
