// Built-in functions that need no device, and the interpreter's own commands.
#include <cmath>
#include <ctime>

#include "base/cipher.h"
#include "base/limits.h"
#include "engine/builtins.h"
#include "engine/host.h"
#include "engine/interpreter.h"
#include "engine/runtime.h"
#include "engine/text.h"
#include "engine/value.h"

namespace nv {

namespace {

std::tm localNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

std::string twoDigits(int v) {
    std::string s(2, '0');
    s[0] = char('0' + (v / 10) % 10);
    s[1] = char('0' + v % 10);
    return s;
}

// The fields of `text` cut at every `sep`; a trailing separator adds no empty field, and an
// empty separator never occurs in the text.
std::vector<std::string> splitFields(std::string_view text, std::string_view sep) {
    std::vector<std::string> fields;
    if (!sep.empty()) {
        size_t p;
        while ((p = text.find(sep)) != std::string_view::npos) {
            fields.emplace_back(text.substr(0, p));
            text.remove_prefix(p + sep.size());
        }
    }
    if (!text.empty()) fields.emplace_back(text);
    return fields;
}

// An integer argument or the function's "unexpected argument." message. A function that
// reports its own error still succeeds with the empty value (text functions `""`, number
// functions nothing), so that the rest of the expression keeps its meaning.
bool intArg(FnCall& c, size_t i, int32_t& out, const char* message) {
    if (parseInteger(c.args[i], out)) return true;
    c.ex.raiseScriptError(message);
    return false;
}

FnResult fnGeterror(FnCall& c) {
    return textResult(true, c.ex.lastError());
}

FnResult fnTohex(FnCall& c) {
    static const char* digits = "0123456789abcdef";
    const std::string& s = c.args[0];
    std::string out;
    out.reserve(s.size() * 3);
    for (size_t i = 0; i < s.size(); ++i) {
        if (i) out += ' ';
        const auto b = static_cast<unsigned char>(s[i]);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return textResult(c.argsOk, out);
}

// The same on a view (the functions written on views).
bool intArg(const FnArgs& c, size_t i, int32_t& out, const char* message) {
    // A plain integer's text reads as itself when it fits 32 bits, and not at all otherwise.
    if ((c.integerMask >> i & 1u) && c.integers[i] >= INT32_MIN && c.integers[i] <= INT32_MAX) {
        out = static_cast<int32_t>(c.integers[i]);
        return true;
    }
    if (parseInteger(c.args[i], out)) return true;
    c.ex.raiseScriptError(message);
    return false;
}

void fnLen(const FnArgs& c, FnValue& r) {
    const size_t n = c.args[0].size();
    r.setInteger(c.argsOk || n == 0, static_cast<int64_t>(n));
}

void fnAsc(const FnArgs& c, FnValue& r) {
    if (c.args[0].empty()) {
        c.ex.raiseScriptError("asc: unexpected argument.");
        r.setNumber(false, {});
        return;
    }
    r.setInteger(c.argsOk, static_cast<unsigned char>(c.args[0][0]));
}

void fnPos(const FnArgs& c, FnValue& r) {
    const size_t p = c.args[1].find(c.args[0]);
    // An empty substring is found nowhere.
    const int64_t pos = (c.args[0].empty() || p == std::string::npos) ? 0 : int64_t(p) + 1;
    r.setInteger(c.argsOk, pos);
}

void fnUcase(const FnArgs& c, FnValue& r) {
    r.setOwnText(c.argsOk, upperAscii(c.args[0]));
}
void fnLcase(const FnArgs& c, FnValue& r) {
    r.setOwnText(c.argsOk, lowerAscii(c.args[0]));
}

void fnMid(const FnArgs& c, FnValue& r) {
    int32_t start, count;
    if (!intArg(c, 1, start, "mid: unexpected argument.") ||
        !intArg(c, 2, count, "mid: unexpected argument.")) {
        r.setText(c.argsOk, {});
        return;
    }
    const std::string_view s = c.args[0];
    if (start < 1) start = 1;
    if (count < 0 || size_t(start) > s.size()) {
        r.setText(c.argsOk, {});
        return;
    }
    r.setText(c.argsOk, s.substr(size_t(start) - 1, size_t(count)));
}

FnResult fnDel(FnCall& c) {
    int32_t start, count;
    if (!intArg(c, 1, start, "del: unexpected argument.") ||
        !intArg(c, 2, count, "del: unexpected argument."))
        return textResult(c.argsOk, "");
    std::string s = c.args[0];
    if (start >= 1 && size_t(start) <= s.size() && count > 0)
        s.erase(size_t(start) - 1, size_t(count));
    return textResult(c.argsOk, s);
}

void fnChr(const FnArgs& c, FnValue& r) {
    int32_t n;
    if (!intArg(c, 0, n, "chr: unexpected argument.")) {
        r.setText(c.argsOk, {});
        return;
    }
    r.setOwnText(c.argsOk, std::string(1, static_cast<char>(n & 0xFF)));
}

void fnTrim(const FnArgs& c, FnValue& r) {
    r.setText(c.argsOk, trimView(c.args[0]));
}

FnResult fnRandom(FnCall& c) {
    int32_t n;
    if (!intArg(c, 0, n, "random: unexpected argument.")) return numberResult(c.argsOk, "");
    uint32_t& s = c.ex.runtime().randomState;
    s = nextRandomState(s);
    const auto r = static_cast<uint32_t>((uint64_t{static_cast<uint32_t>(n)} * s) >> 32);
    return numberResult(c.argsOk, formatInt(r));
}

FnResult fnPow(FnCall& c) {
    int32_t b, e;
    if (!intArg(c, 0, b, "pow: unexpected argument.") ||
        !intArg(c, 1, e, "pow: unexpected argument."))
        return numberResult(c.argsOk, "");
    const double r = std::pow(double(b), double(e));
    if (!std::isfinite(r)) { // 0 to a negative power, or beyond the range of a real
        c.ex.raiseScriptError("pow: unexpected argument.");
        return numberResult(c.argsOk, "");
    }
    return numberResult(c.argsOk, formatNumber(r));
}

FnResult fnExtract3(FnCall& c) {
    int32_t n;
    if (!parseInteger(c.args[2], n)) return textResult(c.argsOk, "");
    const auto fields = splitFields(c.args[0], c.args[1]);
    if (n < 1 || size_t(n) > fields.size()) return textResult(c.argsOk, "");
    return textResult(c.argsOk, fields[size_t(n) - 1]);
}

FnResult fnExtract1(FnCall& c) {
    int32_t n;
    if (!intArg(c, 0, n, "extract: unexpected argument.")) return textResult(c.argsOk, "");
    const auto& fields = c.ex.runtime().splitFields;
    if (n < 1 || size_t(n) > fields.size()) return textResult(c.argsOk, "");
    return textResult(c.argsOk, fields[size_t(n) - 1]);
}

FnResult fnSplit(FnCall& c) {
    auto& fields = c.ex.runtime().splitFields;
    fields = splitFields(c.args[0], c.args[1]);
    return textResult(c.argsOk, formatInt(int64_t(fields.size())));
}

FnResult fnGetBit(FnCall& c) {
    int32_t v, k;
    if (!parseInteger(c.args[0], v) || !parseInteger(c.args[1], k) || k < 0) {
        c.ex.raiseScriptError("get_bit: error getting bit");
        return numberResult(true, "");
    }
    const int64_t mask = k < 63 ? (int64_t{1} << k) : 0;
    return numberResult(true, (int64_t{v} & mask) > 0 ? "1" : "0");
}

// get_bit on integers: the handler's steps where parseInteger accepts both texts.
bool intGetBit(const int64_t* a, int64_t& result) {
    if (a[0] < INT32_MIN || a[0] > INT32_MAX || a[1] < 0 || a[1] > INT32_MAX) return false;
    const int64_t mask = a[1] < 63 ? (int64_t{1} << a[1]) : 0;
    result = (a[0] & mask) > 0 ? 1 : 0;
    return true;
}

FnResult fnTime(FnCall&) {
    return textResult(true, timeText());
}
FnResult fnDate(FnCall&) {
    return textResult(true, dateText());
}
FnResult fnYear(FnCall&) {
    return numberResult(true, formatInt(localNow().tm_year + 1900));
}
FnResult fnMonth(FnCall&) {
    return numberResult(true, formatInt(localNow().tm_mon + 1));
}
FnResult fnDay(FnCall&) {
    return numberResult(true, formatInt(localNow().tm_mday));
}

FnResult fnGetticks(FnCall& c) {
    timespec ts{};
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) {
        c.ex.raiseScriptError("getticks: undocumented error.");
        return textResult(true, "");
    }
    const int64_t ms = int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    return textResult(true, formatInt(ms));
}

// writelog(value): the time, ", from line ", the line index and the value.
bool cmdWritelog(CommandCall& c) {
    c.ex.appendChecked(c.ex.runtime().logTime() + ", from line " + formatInt(c.lineIndex) + ": " +
                           c.args[0],
                       {LogKind::Output, c.lineIndex});
    return true;
}

// setexitcode(status): the status the program ends with when the run ends normally.
bool cmdSetexitcode(CommandCall& c) {
    int32_t code = 0;
    if (!parseInteger(c.args[0], code)) {
        c.ex.logMessage("Cannot set exit code", {LogKind::Error, c.lineIndex});
        c.ex.raiseScriptError("setexitcode: unexpected argument");
    } else if (code < 0 || code > limits::kScriptExitCodeMax) {
        c.ex.logMessage("Exit code not set, must be a whole number from 0 to 125",
                        {LogKind::Error, c.lineIndex});
        c.ex.raiseScriptError("setexitcode: exit code must be 0 to 125");
    } else {
        c.ex.runtime().exitCode = code;
    }
    return true;
}

bool cmdDebugon(CommandCall& c) {
    c.ex.setDebug(true);
    c.ex.host().showWatch();
    return true;
}

bool cmdDebugoff(CommandCall& c) {
    c.ex.setDebug(false);
    c.ex.host().hideWatch();
    return true;
}

// Only `showline()` turns highlighting on; the bare word does nothing.
bool cmdShowline(CommandCall& c) {
    c.ex.setShowLine();
    return true;
}

} // namespace

std::string timeText() {
    const std::tm tm = localNow();
    return twoDigits(tm.tm_hour) + ':' + twoDigits(tm.tm_min) + ':' + twoDigits(tm.tm_sec);
}

std::string timeTextMs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    localtime_r(&ts.tv_sec, &tm);
    const long ms = ts.tv_nsec / 1000000;
    return twoDigits(tm.tm_hour) + ':' + twoDigits(tm.tm_min) + ':' + twoDigits(tm.tm_sec) + '.' +
           char('0' + ms / 100) + twoDigits(int(ms % 100));
}

std::string dateText() {
    const std::tm tm = localNow();
    return twoDigits(tm.tm_mday) + '-' + twoDigits(tm.tm_mon + 1) + '-' +
           twoDigits(tm.tm_year % 100);
}

void installBuiltins(Runtime& rt) {
    const struct {
        std::string_view name;
        int argc;
        FnResult (*fn)(FnCall&);
    } functions[] = {
        {"geterror", 0, fnGeterror}, {"tohex", 1, fnTohex}, {"del", 3, fnDel},
        {"random", 1, fnRandom},     {"pow", 2, fnPow},     {"extract", 3, fnExtract3},
        {"extract", 1, fnExtract1},  {"split", 2, fnSplit}, {"get_bit", 2, fnGetBit},
        {"time", 0, fnTime},         {"date", 0, fnDate},   {"year", 0, fnYear},
        {"month", 0, fnMonth},       {"day", 0, fnDay},     {"getticks", 0, fnGetticks},
    };
    for (const auto& f : functions)
        rt.setFunction(f.name, f.argc, f.fn);
    // The text functions of busy loops, written on views.
    const struct {
        std::string_view name;
        int argc;
        ValueHandler fn;
    } onViews[] = {
        {"len", 1, fnLen},     {"asc", 1, fnAsc}, {"pos", 2, fnPos}, {"ucase", 1, fnUcase},
        {"lcase", 1, fnLcase}, {"mid", 3, fnMid}, {"chr", 1, fnChr}, {"trim", 1, fnTrim},
    };
    for (const auto& f : onViews)
        rt.setValueFunction(f.name, f.argc, f.fn);
    rt.setIntegerFunction("get_bit", 2, intGetBit);

    // The log and debug commands do nothing in package mode, where no log is shown.
    rt.addCommand({.keyword = "writelog(",
                   .argCounts = {1},
                   .skippedInPackage = true,
                   .handler = cmdWritelog});
    // Unlike the log, the verdict counts in package mode too: a built program ends with it.
    rt.addCommand({.keyword = "setexitcode(", .argCounts = {1}, .handler = cmdSetexitcode});
    rt.addCommand({.keyword = "debugon", .skippedInPackage = true, .handler = cmdDebugon});
    rt.addCommand({.keyword = "debugoff", .skippedInPackage = true, .handler = cmdDebugoff});
    rt.addCommand({.keyword = "showline",
                   .argCounts = {0},
                   .skippedInPackage = true,
                   .handler = cmdShowline});
    installExtensions(rt);
}

} // namespace nv
