#include "engine/runtime.h"

#include <stdexcept>

#include "base/limits.h"
#include "engine/builtins.h"
#include "engine/checker.h"
#include "engine/host.h"
#include "engine/interpreter.h"
#include "engine/text.h"
#include "engine/value.h"

namespace nv {

namespace {

// The dispatcher's command keywords, in the order they are tested. `true`: the compact form
// of the line must begin with the keyword; `false`: the trimmed line must (blanks count, and
// any longer word that starts with the keyword matches too). Keywords added later (sleep)
// come last, and none begins another keyword or is begun by one, so no line that dispatched
// before changes its meaning.
constexpr struct {
    std::string_view keyword;
    bool onCompact;
} kCommandRows[] = {
    {"closeport(", true},     {"writelog(", true},      {"openport(", true},
    {"setrts(", true},        {"clearrts(", true},      {"setdtr(", true},
    {"cleardtr(", true},      {"exec(", true},          {"flush(", true},
    {"fcreate(", true},       {"fclose(", true},        {"fseek(", true},
    {"openrack(", true},      {"send(", true},          {"saverack(", true},
    {"debugon", false},       {"debugoff", false},      {"showline", false},
    {"showterm(", true},      {"hideterm(", true},      {"setport", false},
    {"capturerack(", true},   {"tcp_srv_open(", true},  {"tcp_open(", true},
    {"tcp_srv_close(", true}, {"tcp_close(", true},     {"tcp_srv_flush(", true},
    {"tcp_flush(", true},     {"tcp_srv_write(", true}, {"tcp_write(", true},
    {"showmain", false},      {"hidemain", false},      {"setidle(", true},
    {"loadimage(", true},     {"ddown_settext(", true}, {"setvisible(", true},
    {"setexitcode(", true},
    {"sleep(", true},
};

// The function table, in search order. A name used with another argument count goes on to
// the next rows; `extract` has two rows.
constexpr struct {
    std::string_view name;
    int argc;
    ArgEval eval;
    bool clearsError;
} kFunctionRows[] = {
    {"geterror", 0, ArgEval::All, true},
    {"enumports", 0, ArgEval::All, true},
    {"receive", 1, ArgEval::All, true},
    {"tcp_srv_read", 0, ArgEval::All, true},
    {"tcp_read", 0, ArgEval::All, true},
    {"tcp_srv_hasclient", 0, ArgEval::All, true},
    {"tcp_isconnected", 0, ArgEval::All, true},
    {"getcts", 1, ArgEval::All, true},
    {"getdsr", 1, ArgEval::All, true},
    {"getrlsd", 1, ArgEval::All, true},
    {"getring", 1, ArgEval::All, true},
    {"tohex", 1, ArgEval::All, true},
    {"len", 1, ArgEval::All, true},
    {"asc", 1, ArgEval::All, true},
    {"pos", 2, ArgEval::UntilFail, true},
    {"ucase", 1, ArgEval::All, true},
    {"lcase", 1, ArgEval::All, true},
    {"mid", 3, ArgEval::UntilFail, true},
    {"del", 3, ArgEval::UntilFail, true},
    {"chr", 1, ArgEval::All, true},
    {"trim", 1, ArgEval::All, true},
    {"random", 1, ArgEval::All, true},
    {"pow", 2, ArgEval::UntilFail, true},
    {"inputbox", 3, ArgEval::UntilFail, true},
    {"extract", 3, ArgEval::UntilFail, false},
    {"extract", 1, ArgEval::All, true},
    {"split", 2, ArgEval::UntilFail, true},
    {"fopen", 1, ArgEval::Custom, false},
    {"fread", 1, ArgEval::Custom, false},
    {"fwrite", 1, ArgEval::Custom, false},
    {"get_bit", 2, ArgEval::All, true},
    {"time", 0, ArgEval::All, true},
    {"date", 0, ArgEval::All, true},
    {"year", 0, ArgEval::All, true},
    {"month", 0, ArgEval::All, true},
    {"day", 0, ArgEval::All, true},
    {"getticks", 0, ArgEval::All, true},
    {"ddown_gettext", 1, ArgEval::All, true},
    // Added after the original set: parameters, timed waits, bits and checksums.
    {"getarg", 1, ArgEval::All, true},
    {"getenv", 1, ArgEval::All, true},
    {"waitfor", 3, ArgEval::All, true},
    {"band", 2, ArgEval::All, true},
    {"bor", 2, ArgEval::All, true},
    {"bxor", 2, ArgEval::All, true},
    {"shl", 2, ArgEval::All, true},
    {"shr", 2, ArgEval::All, true},
    {"crc16", 2, ArgEval::All, true},
};

} // namespace

Runtime::Runtime(ScriptHost& host) : host_(&host) {
    for (const auto& r : kCommandRows)
        commands_.push_back({r.keyword, r.onCompact, {}, {}});
    for (const auto& r : kFunctionRows)
        functions_.push_back({r.name, r.argc, r.eval, r.clearsError, {}, nullptr, false});
    installBuiltins(*this);
}

void Runtime::appendLog(std::string_view text, LogInfo info) {
    if (host_->logLineCount() > limits::kLogLines) host_->clearLog();
    host_->appendLogEntry(text, info);
}

void Runtime::logMessage(std::string_view message, LogInfo info) {
    if (packageMode) return;
    std::string line = logTime();
    line += ": ";
    line += message;
    appendLog(line, info);
}

std::string Runtime::logTime() const {
    return logMilliseconds ? timeTextMs() : timeText();
}

void CommandCall::evaluateArgs() {
    args.assign(argTexts.size(), {});
    argsOk = true;
    for (size_t i = 0; i < argTexts.size(); ++i)
        argsOk &= ex.evaluate(argTexts[i], args[i]);
    if (clearsError) ex.clearScriptError();
}

namespace {

// The protocol every command row shares: package-mode skip, splitting and counting,
// evaluating, clearing the error state, and turning a failure into the command's message.
bool takeCommand(const CommandDefinition& command, const std::string& name, Interpreter& ex,
                 const std::string& line, int lineIndex) {
    if (command.skippedInPackage && ex.runtime().packageMode) return true;
    CommandCall call{ex, line, lineIndex, {}, {}};
    call.clearsError = command.clearsError;
    if (!command.argCounts.empty()) {
        std::string written;
        if (!splitCall(line, written, call.argTexts) || written != name) {
            ex.strictLine(lineIndex, commandFormTrap(command.keyword, command.argCounts, line));
            return true;
        }
        bool counted = false;
        for (int n : command.argCounts)
            counted |= call.argTexts.size() == static_cast<size_t>(n);
        if (!counted) {
            ex.strictLine(lineIndex, commandFormTrap(command.keyword, command.argCounts, line));
            return true;
        }
    }
    try {
        if (command.eval != ArgEval::Custom) call.evaluateArgs();
        return command.handler(call);
    } catch (const ScriptFailure&) {
        throw; // ends the run, as it would anywhere else
    } catch (const ProgramIndexError&) {
        throw;
    } catch (const std::exception&) {
        if (command.failure.empty()) throw; // a failure of the line itself
        if (!command.failureLog.empty())
            ex.logMessage(command.failureLog, {LogKind::Error, lineIndex});
        ex.raiseScriptError(command.failure);
        return true;
    }
}

} // namespace

void Runtime::addCommand(CommandDefinition command) {
    if (!command.handler)
        throw std::logic_error("command without handler: " + std::string(command.keyword));
    if (command.eval == ArgEval::UntilFail)
        throw std::logic_error("commands evaluate all their arguments or none");
    for (auto& row : commands_) {
        if (row.keyword != command.keyword) continue;
        if (row.take)
            throw std::logic_error("command plugged in twice: " + std::string(command.keyword));
        row.argCounts = command.argCounts;
        std::string name(command.keyword);
        if (!name.empty() && name.back() == '(') name.pop_back();
        row.take = [command = std::move(command), name = std::move(name)](
                       Interpreter& ex, const std::string& line, int lineIndex) {
            return takeCommand(command, name, ex, line, lineIndex);
        };
        return;
    }
    throw std::logic_error("no command row for " + std::string(command.keyword));
}

void Runtime::setFunction(std::string_view name, int argc, FunctionHandler handler) {
    for (auto& row : functions_) {
        if (row.name == name && row.argc == argc) {
            row.handler = std::move(handler);
            row.value = nullptr; // a handler plugged in later replaces the one on views too
            return;
        }
    }
    throw std::logic_error("no function row for " + std::string(name));
}

void Runtime::setIntegerFunction(std::string_view name, int argc, IntegerHandler integer) {
    for (auto& row : functions_) {
        if (row.name == name && row.argc == argc && row.handler) {
            row.integer = integer;
            return;
        }
    }
    throw std::logic_error("no function row with a handler for " + std::string(name));
}

void Runtime::setTextFunction(std::string_view name, int argc, TextViewHandler handler) {
    setFunction(name, argc, [handler = std::move(handler)](FnCall& call) {
        std::string_view text;
        const bool ok = handler(call, text);
        if (call.view) {
            *call.view = text;
            return FnResult{ok, {}};
        }
        return textResult(ok, text);
    });
    for (auto& row : functions_)
        if (row.name == name && row.argc == argc) row.givesView = true;
}

void Runtime::setValueFunction(std::string_view name, int argc, ValueHandler handler) {
    setFunction(name, argc, [handler](FnCall& call) {
        std::vector<std::string_view> views(call.args.begin(), call.args.end());
        FnValue v;
        handler(FnArgs{call.ex, views.data(), call.argsOk}, v);
        switch (v.kind) {
        case FnValue::Text:
            return textResult(v.ok, v.text);
        case FnValue::Number:
            return numberResult(v.ok, std::string(v.text));
        default:
            return numberResult(v.ok, formatInt(v.integer));
        }
    });
    for (auto& row : functions_)
        if (row.name == name && row.argc == argc) row.value = handler;
}

} // namespace nv
