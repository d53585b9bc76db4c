// The expression evaluator: innermost parentheses first, results spliced back into the text,
// then a flat walk strictly left to right with no precedence.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <functional>

#include "engine/interpreter.h"
#include "engine/lineinfo.h"
#include "engine/text.h"
#include "engine/value.h"

namespace nv {

namespace {

// An integer text written exactly as the number writer would write it: no sign, no leading
// zero, at most 15 digits. Such an operand normalises to itself.
inline bool isCanonicalInteger(std::string_view s) {
    if (s.empty() || s.size() > 15 || (s[0] == '0' && s.size() > 1)) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Integer operands give integer results on the integer path when the result has at most 15
// digits: below 2^53 the real arithmetic is exact too, and the number writer writes such a
// result as the plain integer, so both paths give the same text. Anything else (a remainder,
// a wider result) takes the real path. False: not taken.
bool integerStep(std::string& left, std::string_view right, char op, bool& ok) {
    int64_t a, b, r;
    if (!plainInteger(left, a) || !plainInteger(right, b)) return false;
    switch (op) {
    case '+':
        r = a + b;
        break;
    case '-':
        r = a - b;
        break;
    case '*':
        if (__builtin_mul_overflow(a, b, &r)) return false;
        break;
    default: // '/'
        if (b == 0) {
            ok = false; // as the real path: a division by zero faults
            return true;
        }
        if (a % b != 0) return false;
        r = a / b;
        break;
    }
    constexpr int64_t kLimit = 1'000'000'000'000'000; // 1e15
    if (r <= -kLimit || r >= kLimit) return false;
    char buf[24];
    const auto end = std::to_chars(buf, buf + sizeof buf, r).ptr;
    left.assign(buf, end);
    ok = true;
    return true;
}

// Apply one operator. Returns false on an arithmetic fault (division by zero, overflow).
bool applyOperator(std::string& left, std::string_view right, char op, bool firstStep) {
    switch (op) {
    case '&':
        left += right;
        return true;
    case '+':
    case '-':
    case '*':
    case '/': {
        bool ok;
        if (integerStep(left, right, op, ok)) return ok;
        const double a = lenientNumber(left), b = lenientNumber(right);
        double r;
        if (op == '+')
            r = a + b;
        else if (op == '-')
            r = a - b;
        else if (op == '*')
            r = a * b;
        else {
            if (b == 0) return false;
            r = a / b;
        }
        if (!std::isfinite(r)) return false;
        left = formatNumber(r);
        return true;
    }
    default:
        // `%`, `\` and `^` split operands but compute nothing: as the first step they leave
        // an empty result, later they leave the result unchanged.
        if (firstStep) left.clear();
        return true;
    }
}

// A placeholder operand is `=`, DEL, a tag drawn once per run, the index of the kept result
// in decimal, DEL, `=`. It holds no operator, quote, parenthesis, comma or blank, so every
// later step (the flat walk, argument splitting, compaction, trimming) leaves it whole. It is
// resolved before any name; its `=` (an assignment's name ends at the first `=`) and the tag
// mean that no variable or control a script names is ever hidden by one, and that data which
// happens to hold such a text is not taken for one. The `=` at each end is padding: the
// fallback after a failed call drops the text's first and last character, and the
// placeholder is still recognised without either of them.
constexpr char kMark = '\x7f';

} // namespace

std::string Interpreter::placeholderFor(std::string_view value) {
    if (placeholderTag_.empty()) {
        // Not a secret, only unlikely to occur in received data.
        uint64_t x = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                     uint64_t(reinterpret_cast<uintptr_t>(this));
        x = (x ^ (x >> 31)) * 0x9E3779B97F4A7C15ull;
        placeholderTag_ += kMark;
        for (int i = 0; i < 16; ++i, x >>= 4)
            placeholderTag_ += "0123456789abcdef"[x & 15];
        placeholderTag_ += '_';
    }
    std::string p = "=";
    p += placeholderTag_;
    p += formatInt(static_cast<int64_t>(spliced_.size()));
    p += kMark;
    p += '=';
    spliced_.emplace_back(value);
    return p;
}

bool Interpreter::resolvePlaceholder(std::string_view operand, std::string& value) const {
    bool padded = false;
    if (!operand.empty() && operand.front() == '=') {
        operand.remove_prefix(1);
        padded = true;
    }
    if (!operand.empty() && operand.back() == '=') {
        operand.remove_suffix(1);
        padded = true;
    }
    const size_t tag = placeholderTag_.size();
    if (!padded || operand.size() < tag + 2 || operand.substr(0, tag) != placeholderTag_ ||
        operand.back() != kMark)
        return false;
    size_t index = 0;
    for (char c : operand.substr(tag, operand.size() - tag - 1)) {
        if (c < '0' || c > '9' || index > spliced_.size()) return false;
        index = index * 10 + size_t(c - '0');
    }
    if (index >= spliced_.size()) return false;
    value = spliced_[index];
    return true;
}

// A placeholder that ended up inside a quoted text (a call written inside a quoted literal is
// still called) becomes the quoted result that the text would have held before.
void Interpreter::expandPlaceholders(std::string& text) const {
    std::string out;
    size_t from = 0;
    for (size_t p = text.find(placeholderTag_); p != std::string::npos;
         p = text.find(placeholderTag_, p + 1)) {
        if (p == 0 || text[p - 1] != '=') continue;
        const size_t end = text.find(kMark, p + 1);
        if (end == std::string::npos || end + 1 >= text.size() || text[end + 1] != '=') continue;
        std::string value;
        if (!resolvePlaceholder(std::string_view(text).substr(p - 1, end - p + 3), value)) continue;
        out.append(text, from, p - 1 - from);
        out += '"';
        out += value;
        out += '"';
        from = end + 2;
        p = end + 1;
    }
    if (from == 0) return;
    out.append(text, from, std::string::npos);
    text = std::move(out);
}

bool Interpreter::evaluate(std::string_view text, std::string& value) {
    return evaluateCompact(compact(text), value);
}

// Raises the evaluation depth for as long as an evaluation lasts; the outermost one forgets
// the kept results when it ends.
struct Interpreter::EvaluationScope {
    Interpreter& ex;
    explicit EvaluationScope(Interpreter& e) : ex(e) { ++ex.evaluationDepth_; }
    ~EvaluationScope() {
        if (--ex.evaluationDepth_ == 0) ex.spliced_.clear();
    }
};

bool Interpreter::evaluateCompact(std::string_view compacted, std::string& value) {
    EvaluationScope scope(*this);

    // Loop bounds and counters are mostly plain integers, which evaluate to themselves
    // unless a shown rack control bears that name.
    if (isCanonicalInteger(compacted) &&
        !(rt_.instruments && rt_.instruments->bindControl(compacted, false) >= 0)) {
        value.assign(compacted);
        return true;
    }
    size_t close = compacted.find(')');
    if (close == std::string_view::npos) return evaluateFlat(compacted, value);

    std::string s(compacted);
    // A value spliced back may hold parentheses and bring back an earlier text; such a loop
    // must end. Texts are remembered (by hash) only after a splice that brought parentheses.
    std::vector<size_t> seen;
    return reduceGroups(s, close, seen, 0, 4 * s.size() + 1000, value);
}

// Puts a group's result in place of the group s[from..close]. False: the text came back to
// an earlier form, and the evaluation ends without a value.
bool Interpreter::spliceResult(std::string& s, size_t from, size_t open, size_t close,
                               std::string& part, std::vector<size_t>& seen) {
    // A text result holding a quote or a parenthesis goes back as a placeholder, so that
    // its value arrives unchanged; every other result goes back as written.
    if (from != open && part.size() >= 2 && part.front() == '"' && part.back() == '"' &&
        part.find_first_of("\"()", 1) < part.size() - 1)
        part = placeholderFor(std::string_view(part).substr(1, part.size() - 2));
    s.replace(from, close - from + 1, part);
    if (part.find_first_of("()") != std::string::npos) {
        const size_t h = std::hash<std::string>{}(s);
        for (size_t e : seen)
            if (e == h) return false;
        seen.push_back(h);
    }
    return true;
}

// Innermost groups first, each replaced by its value, then the flat walk.
bool Interpreter::reduceGroups(std::string& s, size_t close, std::vector<size_t>& seen,
                               size_t passes, size_t passLimit, std::string& value) {
    std::string part, inner;
    while (close != std::string::npos) {
        if (++passes > passLimit) {
            value.clear();
            return false;
        }
        const size_t open = s.rfind('(', close);
        if (open == std::string::npos) return evaluateFlat(s, value);
        inner.assign(s, open + 1, close - open - 1);
        size_t from;
        if (open == 0 || isGrouping(s[open - 1])) {
            if (!evaluateFlat(inner, part)) break;
            from = open;
        } else {
            from = open - 1;
            while (from > 0 && !isNameStopper(s[from - 1]))
                --from;
            const std::string name = s.substr(from, open - from);
            if (!callFunction(name, inner, part)) {
                if (s.size() < 2) {
                    value.clear();
                    return false;
                }
                return evaluateFlat(std::string_view(s).substr(1, s.size() - 2), value);
            }
        }
        if (!spliceResult(s, from, open, close, part, seen)) {
            value.clear();
            return false;
        }
        close = s.find(')');
    }
    return evaluateFlat(s, value);
}

bool Interpreter::evaluateFlat(std::string_view text, std::string& value) {
    std::string_view t = trimView(text);
    if (t.size() >= 2 && t.front() == '(' && t.back() == ')') t = t.substr(1, t.size() - 2);

    // Walk operands and operators; apply each operator as soon as its right operand is
    // known, which is the same strictly left-to-right order.
    bool inQuotes = false;
    size_t start = 0;
    char pendingOp = 0;
    bool firstStep = true;
    std::string operand;
    value.clear();
    bool faulted = false;
    auto finishOperand = [&](size_t end) {
        std::string_view raw = trimView(t.substr(start, end - start));
        if (pendingOp == 0) {
            if (!raw.empty()) resolveOperand(raw, value);
            return;
        }
        if (faulted) return;
        // An empty operand (two operators in a row, one first or last) is the empty value.
        if (raw.empty())
            operand.clear();
        else
            resolveOperand(raw, operand);
        if (!applyOperator(value, operand, pendingOp, firstStep)) faulted = true;
        firstStep = false;
    };
    for (size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        if (c == '"') {
            inQuotes = !inQuotes;
        } else if (!inQuotes && isOperator(c)) {
            finishOperand(i);
            pendingOp = c;
            start = i + 1;
        }
    }
    finishOperand(t.size());
    return !faulted && !value.empty();
}

bool Interpreter::resolveOperand(std::string_view text, std::string& value) {
    if (!spliced_.empty() && resolvePlaceholder(text, value)) return true;
    if (rt_.instruments && rt_.instruments->readControl(*this, text, value)) return true;
    if (isCanonicalInteger(text)) {
        value.assign(text);
        return true;
    }
    double number;
    // Only a digit, a sign, a point or an exponent letter can start a number.
    const char c0 = text.empty() ? '\0' : text[0];
    const bool mayBeNumber = (c0 >= '0' && c0 <= '9') || c0 == '-' || c0 == '+' || c0 == '.' ||
                             c0 == 'e' || c0 == 'E' || static_cast<unsigned char>(c0) <= 32;
    if (mayBeNumber && isNumber(text, &number)) {
        value = formatNumber(number);
        return true;
    }
    if (!text.empty() && text.front() == '"' && text.back() == '"') {
        value.assign(text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string_view());
        if (!spliced_.empty()) expandPlaceholders(value);
        return true;
    }
    if (const std::string* v = variables_.get(text)) {
        value = *v;
        return true;
    }
    value.clear();
    return false;
}

namespace {

CachedOperand cacheOperand(std::string_view raw) {
    CachedOperand o;
    o.text = std::string(trimView(raw));
    const std::string_view text = o.text;
    double number;
    // The order of resolveOperand (a placeholder or a rack control aside, see
    // evaluateCached): integer, number, quoted text, name.
    const char c0 = text.empty() ? '\0' : text[0];
    const bool mayBeNumber = (c0 >= '0' && c0 <= '9') || c0 == '-' || c0 == '+' || c0 == '.' ||
                             c0 == 'e' || c0 == 'E' || static_cast<unsigned char>(c0) <= 32;
    if (text.empty()) {
        o.kind = CachedOperand::Empty;
        o.integer = true; // an empty operand reads as 0
    } else if (isCanonicalInteger(text)) {
        o.kind = CachedOperand::Literal;
        o.literal = o.text;
        o.integer = plainInteger(o.literal, o.number);
    } else if (mayBeNumber && isNumber(text, &number)) {
        o.kind = CachedOperand::Literal;
        o.literal = formatNumber(number);
        o.integer = plainInteger(o.literal, o.number);
    } else if (text.front() == '"' && text.back() == '"') {
        o.kind = CachedOperand::Literal;
        o.literal = text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string_view();
    } else {
        o.kind = CachedOperand::Name;
    }
    return o;
}

} // namespace

CachedExpr cacheExpression(const Runtime& rt, std::string compacted) {
    CachedExpr ce;
    ce.text = std::move(compacted);
    const std::string& s = ce.text;
    const size_t close = s.find(')');
    if (close == std::string::npos) {
        if (s.find('(') != std::string::npos) return ce;
        // The same split as the flat walk's.
        const std::string_view t = trimView(s);
        bool inQuotes = false;
        size_t start = 0;
        for (size_t i = 0; i < t.size(); ++i) {
            if (t[i] == '"') {
                inQuotes = !inQuotes;
            } else if (!inQuotes && isOperator(t[i])) {
                ce.operands.push_back(cacheOperand(t.substr(start, i - start)));
                ce.ops += t[i];
                start = i + 1;
            }
        }
        ce.operands.push_back(cacheOperand(t.substr(start)));
        ce.flat = true;
        ce.integerForm = ce.ops.find_first_not_of("+-*/") == std::string::npos;
        for (const CachedOperand& o : ce.operands)
            if (o.kind != CachedOperand::Name && !o.integer) ce.integerForm = false;
        const CachedOperand& only = ce.operands[0];
        if (ce.ops.empty() && only.kind == CachedOperand::Literal && only.text.size() <= 9 &&
            isCanonicalInteger(only.text)) {
            ce.plainBound = true;
            ce.bound = static_cast<int32_t>(std::stol(only.text));
        }
        return ce;
    }
    // One call that is the whole expression, `name(arguments)`, with no other parenthesis:
    // the text path's first group is the call itself, and its result becomes the whole text.
    const size_t open = s.find('(');
    if (open == std::string::npos || open == 0 || isGrouping(s[open - 1]) || s.back() != ')')
        return ce;
    const bool single = close == s.size() - 1 && s.rfind('(') == open;
    for (size_t i = 0; i < open; ++i)
        if (isNameStopper(s[i])) return ce;
    std::string name;
    splitCall(s, name, ce.argTexts);
    ce.row = functionRow(rt, std::string_view(s).substr(0, open), ce.argTexts.size());
    if (ce.row < 0) {
        // No such function: the text path fails it, with nothing to remember.
        ce.argTexts.clear();
        return ce;
    }
    for (const std::string& a : ce.argTexts)
        ce.args.push_back(cacheExpression(rt, compact(a)));
    if (single) {
        ce.call = true;
        return ce;
    }
    // A nested call, when the group walk's first groups are exactly the inner calls, left to
    // right: no parenthesis but theirs and the outer pair (none inside a quoted text), and
    // every argument text holds whole quoted texts, so that an inner result spliced as a
    // quoted text splits off as the same argument.
    auto evenQuotes = [](std::string_view t) {
        return std::count(t.begin(), t.end(), '"') % 2 == 0;
    };
    size_t inner = 0;
    bool fits = true;
    for (size_t i = 0; i < ce.args.size() && fits; ++i) {
        const CachedExpr& a = ce.args[i];
        fits = evenQuotes(ce.argTexts[i]) && (a.flat || a.call);
        if (a.call) {
            ++inner;
            for (size_t j = 0; j < a.args.size() && fits; ++j)
                fits = a.args[j].flat && evenQuotes(a.argTexts[j]);
        }
    }
    const auto count = [&s](char c) { return size_t(std::count(s.begin(), s.end(), c)); };
    if (!fits || inner == 0 || count('(') != inner + 1 || count(')') != inner + 1) {
        ce.args.clear();
        ce.argTexts.clear();
        ce.row = -1;
        return ce;
    }
    ce.nested = true;
    return ce;
}

// The flat walk over a remembered split: the same steps as evaluateFlat, with the operands'
// kinds known. A kind holds only where no shown rack control bears the operand's text, so
// each operand is first offered to the control it is bound to, as the text path offers it
// to the rack. A kept result (inside the arguments of a call) may stand for any operand:
// then the text path runs.
bool Interpreter::evaluateCached(const CachedExpr& ce, std::string& value) {
    if (ce.nested && spliced_.empty()) return evaluateNested(ce, value);
    if (!spliced_.empty() || !(ce.flat || ce.call)) return evaluateCompact(ce.text, value);
    if (int64_t n; evaluateInteger(ce, n)) {
        char buf[24];
        value.assign(buf, std::to_chars(buf, buf + sizeof buf, n).ptr);
        return true;
    }
    if (ce.call) return evaluateCall(ce, value);
    InstrumentAccess* rack = rt_.instruments;
    std::string control;
    // The operand's value: a control's reading, a literal, a variable, or empty.
    auto resolve = [&](const CachedOperand& o) -> std::string_view {
        if (o.kind == CachedOperand::Empty) return {};
        if (const int c = o.control.get(rack, o.text, false); c >= 0) {
            rack->readBound(c, control);
            return control;
        }
        if (o.kind == CachedOperand::Literal) return o.literal;
        if (const std::string* v = variables_.get(o.text, o.slot)) return *v;
        return {};
    };
    value = resolve(ce.operands[0]);
    for (size_t i = 1; i < ce.operands.size(); ++i)
        if (!applyOperator(value, resolve(ce.operands[i]), ce.ops[i - 1], i == 1)) return false;
    return !value.empty();
}

// The same steps as applyOperator's integer path (integerStep), on the values alone. Every
// step whose result the integer path would not give ends it: the text path then starts over.
bool Interpreter::evaluateInteger(const CachedExpr& ce, int64_t& value) {
    if (!(ce.call || ce.integerForm) || !spliced_.empty()) return false;
    return integerValue(ce, value);
}

bool Interpreter::integerValue(const CachedExpr& ce, int64_t& value) {
    if (ce.call) return integerCall(ce, value);
    if (!ce.integerForm) return false;
    InstrumentAccess* rack = rt_.instruments;
    auto operand = [this, rack](const CachedOperand& o, int64_t& v) {
        // An operand a shown control bears reads the control: as a whole number when it
        // holds one, else the text path decides.
        if (o.kind != CachedOperand::Empty)
            if (const int c = o.control.get(rack, o.text, false); c >= 0)
                return o.control.whole.read(v);
        if (o.kind != CachedOperand::Name) {
            v = o.number;
            return true;
        }
        return variables_.getInteger(o.text, o.slot, v);
    };
    int64_t a;
    if (!operand(ce.operands[0], a)) return false;
    // A lone empty operand is the empty value, not 0.
    if (ce.operands.size() == 1 && ce.operands[0].kind == CachedOperand::Empty) return false;
    for (size_t i = 1; i < ce.operands.size(); ++i) {
        int64_t b;
        if (!operand(ce.operands[i], b)) return false;
        switch (ce.ops[i - 1]) {
        case '+':
            a += b;
            break;
        case '-':
            a -= b;
            break;
        case '*':
            if (__builtin_mul_overflow(a, b, &a)) return false;
            break;
        default: // '/'
            if (b == 0 || a % b != 0) return false;
            a /= b;
            break;
        }
        if (!inPlainRange(a)) return false;
    }
    value = a;
    return true;
}

// A call of a function with an integer form, its arguments all plain integers: the text
// path would evaluate them to the same texts, clear the error state and splice the handler's
// number in place of the whole text, which walks to the number itself.
bool Interpreter::integerCall(const CachedExpr& ce, int64_t& value) {
    const Runtime::FunctionRow& row = rt_.functions()[static_cast<size_t>(ce.row)];
    constexpr size_t kMostArguments = 4;
    if (!row.integer || row.eval == ArgEval::Custom || ce.args.size() > kMostArguments)
        return false;
    int64_t args[kMostArguments];
    for (size_t i = 0; i < ce.args.size(); ++i) {
        const int lone = loneInteger(ce.args[i], args[i]);
        if (lone == 0 || (lone < 0 && !integerValue(ce.args[i], args[i]))) return false;
    }
    int64_t r;
    if (!row.integer(args, r) || !inPlainRange(r)) return false;
    if (row.clearsError) clearScriptError();
    value = r;
    return true;
}

// A lone operand's value as the flat walk resolves it, read in place: a literal's text, or
// the variable's. True when it is also a plain integer, `integer` (a variable's digits are
// then written into `digits`, its text not being read).
static bool readInPlace(Variables& vars, const CachedOperand& o, std::string_view& view,
                        int64_t& integer, char (&digits)[24]) {
    if (o.kind == CachedOperand::Literal) {
        view = o.literal;
        integer = o.number;
        return o.integer;
    }
    if (o.kind != CachedOperand::Name) return false;
    if (vars.getInteger(o.text, o.slot, integer)) {
        char* end = std::to_chars(digits, digits + 24, integer).ptr;
        view = std::string_view(digits, size_t(end - digits));
        return true;
    }
    if (const std::string* v = vars.get(o.text, o.slot)) view = *v;
    return false;
}

namespace {

// The evaluated arguments of a value call as FnArgs takes them, at most four: each a view of
// a text read in place or of a copy of its own. Integers are also handed over as numbers,
// with their digits written here (a counter's text is not written into the variable, nor
// read back by the handler).
struct ArgumentValues {
    static constexpr size_t kMost = 4;
    std::string_view views[kMost];
    std::string own[kMost];
    int64_t integers[kMost];
    char digits[kMost][24];
    unsigned integerMask = 0;
    bool ok = true;       // every argument read so far is non-empty
    bool stopped = false; // a call that stops at its first failed argument met one

    // Argument i as a lone operand read in place; false when its value is empty.
    bool readLone(Variables& vars, size_t i, const CachedOperand& o) {
        if (readInPlace(vars, o, views[i], integers[i], digits[i])) integerMask |= 1u << i;
        return !views[i].empty();
    }
    // Argument i as own[i], just evaluated (`evaluated`: the evaluation's answer). A failed
    // argument counts as empty, whatever partial result an arithmetic fault left behind.
    bool keepOwn(size_t i, bool evaluated) {
        if (!evaluated) own[i].clear();
        views[i] = own[i];
        return evaluated;
    }
    // After argument i: a failed one fails the arguments, and later ones stay empty for a
    // call that stops there.
    void note(bool argumentOk, ArgEval eval) {
        if (argumentOk) return;
        ok = false;
        stopped = eval == ArgEval::UntilFail;
    }
    FnArgs args(Interpreter& ex) const { return FnArgs{ex, views, ok, integerMask, integers}; }
};

} // namespace

void Interpreter::noteControlFree(const CachedExpr& e) {
    e.controlFree = noControls() || !reachesControl(e);
    e.controlFreeAt = rt_.instruments->generation();
}

void Interpreter::noteControlFree(const LineInfo& li) {
    li.controlFree =
        controlFree(li.value) &&
        (noControls() || li.assignControl.get(rt_.instruments, li.assignName, true) < 0);
    li.controlFreeAt = rt_.instruments->generation();
}

bool Interpreter::reachesControl(const CachedExpr& e) {
    InstrumentAccess* rack = rt_.instruments;
    for (const CachedOperand& o : e.operands)
        if (o.kind != CachedOperand::Empty && o.control.get(rack, o.text, false) >= 0) return true;
    for (const CachedExpr& a : e.args)
        if (reachesControl(a)) return true;
    return false;
}

Variables::IntegerRead Interpreter::quickIntegerSteps(const CachedExpr& e) {
    const CachedOperand* o = e.operands.data();
    auto operand = [this](const CachedOperand& op) -> Variables::IntegerRead {
        if (op.kind == CachedOperand::Name) return variables_.integer(op.text, op.slot);
        return {true, op.number};
    };
    Variables::IntegerRead a = operand(o[0]);
    if (!a.ok) return a;
    const size_t steps = e.ops.size();
    for (size_t i = 0; i < steps; ++i) {
        const Variables::IntegerRead b = operand(o[i + 1]);
        if (!b.ok) return b;
        switch (e.ops[i]) {
        case '+':
            a.value += b.value;
            break;
        case '-':
            a.value -= b.value;
            break;
        case '*':
            if (__builtin_mul_overflow(a.value, b.value, &a.value)) return {false, 0};
            break;
        default: // '/'
            if (b.value == 0 || a.value % b.value != 0) return {false, 0};
            a.value /= b.value;
            break;
        }
        if (!inPlainRange(a.value)) return {false, 0};
    }
    return a;
}

// integerCall's steps when no rack control can be reached and nothing is kept.
Variables::IntegerRead Interpreter::quickIntegerCall(const CachedExpr& ce) {
    const Runtime::FunctionRow& row = rt_.functions()[static_cast<size_t>(ce.row)];
    constexpr size_t kMostArguments = 4;
    const size_t argc = ce.args.size();
    if (!row.integer || row.eval == ArgEval::Custom || argc > kMostArguments) return {false, 0};
    int64_t args[kMostArguments];
    for (size_t i = 0; i < argc; ++i) {
        const CachedExpr& a = ce.args[i];
        if (a.integerForm) {
            const Variables::IntegerRead v = quickIntegerValue(a);
            if (!v.ok) return v;
            args[i] = v.value;
        } else if (!a.call || !integerCall(a, args[i])) {
            return {false, 0};
        }
    }
    int64_t r;
    if (!row.integer(args, r) || !inPlainRange(r)) return {false, 0};
    if (row.clearsError) clearScriptError();
    return {true, r};
}

// The text path's steps for a text that is one call: the call, then its result spliced in
// place of the whole text and walked.
bool Interpreter::evaluateCall(const CachedExpr& ce, std::string& value) {
    EvaluationScope scope(*this);
    if (FnValue r; valueCall(ce, r)) {
        if (!r.ok)
            return evaluateFlat(std::string_view(ce.text).substr(1, ce.text.size() - 2), value);
        return callResultValue(r, value);
    }
    std::string part;
    if (!invokeFunction(ce.row, ce.argTexts, &ce.args, part))
        return evaluateFlat(std::string_view(ce.text).substr(1, ce.text.size() - 2), value);
    std::string s = ce.text;
    std::vector<size_t> seen;
    const size_t open = s.find('(');
    if (!spliceResult(s, 0, open, s.size() - 1, part, seen)) {
        value.clear();
        return false;
    }
    const size_t close = s.find(')');
    if (close == std::string::npos) {
        // The walk of a lone integer or a lone quoted text gives it back as it stands (a
        // result with an inner quote went in as a placeholder above).
        if (spliced_.empty() && !(rt_.instruments && rt_.instruments->bindControl(s, false) >= 0)) {
            if (isCanonicalInteger(s)) {
                value = std::move(s);
                return true;
            }
            if (s.size() >= 2 && s.front() == '"' && s.back() == '"' &&
                s.find('"', 1) == s.size() - 1) {
                value.assign(s, 1, s.size() - 2);
                return !value.empty();
            }
        }
        return evaluateFlat(s, value);
    }
    return reduceGroups(s, close, seen, 1, 4 * ce.text.size() + 1000, value);
}

bool Interpreter::valueCall(const CachedExpr& ce, FnValue& r) {
    const Runtime::FunctionRow& row = rt_.functions()[static_cast<size_t>(ce.row)];
    constexpr size_t kMostArguments = ArgumentValues::kMost;
    // A shown rack may bear any operand's or result's text as a control name, and a kept
    // result may stand for any operand: the text path decides those.
    if (!row.value || row.eval == ArgEval::Custom || ce.args.size() > kMostArguments ||
        !spliced_.empty() || rackShown())
        return false;
    // Clearing the error state must not add the variable `error` (it was removed): an
    // addition may move the texts the views point into.
    if (row.clearsError && !variables_.has("error", errorSlot_)) return false;
    // An argument that is a call may change variables (the error state) after an earlier
    // argument was read, so then every argument is evaluated into a copy of its own, as the
    // text path does.
    bool copies = false;
    for (const CachedExpr& a : ce.args)
        copies |= !a.flat;
    ArgumentValues args;
    bool owned = false;
    for (size_t i = 0; i < ce.args.size() && !args.stopped; ++i) {
        const CachedExpr& a = ce.args[i];
        const bool lone = !copies && a.flat && a.operands.size() == 1;
        owned |= !lone;
        args.note(lone ? args.readLone(variables_, i, a.operands[0])
                       : args.keepOwn(i, evaluateCached(a, args.own[i])),
                  row.eval);
    }
    if (row.clearsError) clearScriptError();
    row.value(args.args(*this), r);
    // A result that points into an argument's copy (or written digits) outlives it.
    const char* digits = args.digits[0];
    const std::less<const char*> before;
    const bool intoDigits =
        !before(r.text.data(), digits) && before(r.text.data(), digits + sizeof args.digits);
    if ((owned || intoDigits) && r.kind != FnValue::Integer && r.text.data() != r.own.data()) {
        std::string kept(r.text);
        r.own = std::move(kept);
        r.text = r.own;
    }
    return true;
}

bool Interpreter::callResultValue(const FnValue& r, std::string& value) {
    if (r.kind == FnValue::Text) {
        value.assign(r.text);
        return !value.empty();
    }
    if (r.kind == FnValue::Integer && inPlainRange(r.integer)) {
        char buf[24];
        value.assign(buf, std::to_chars(buf, buf + sizeof buf, r.integer).ptr);
        return true;
    }
    // A number spliced bare: a plain integer walks to itself, anything else is walked.
    const std::string number =
        r.kind == FnValue::Integer ? formatInt(r.integer) : std::string(r.text);
    if (isCanonicalInteger(number)) {
        value = number;
        return true;
    }
    return evaluateFlat(number, value);
}

namespace {

// The form a call's result is spliced in: a text quoted, a number bare.
std::string splicedForm(const FnValue& r) {
    if (r.kind == FnValue::Text) return textResult(r.ok, r.text).value;
    return r.kind == FnValue::Integer ? formatInt(r.integer) : std::string(r.text);
}

// An inner result the outer call's argument walk reads back as the value callResultValue
// gives: a text holding no quote and no parenthesis (spliced quoted, it is one quoted operand,
// commas inside it do not split), or a number of digits, letters, points and signs (spliced
// bare, it is the whole argument; an empty one would leave a lone argument unwritten, and the
// call would count none). Any other goes in as the group walk puts it.
bool readsBackAsItself(const FnValue& r) {
    if (r.kind == FnValue::Integer) return true;
    if (r.kind == FnValue::Text) {
        // One vectorised search a character: find_first_of looks up every byte of a block
        // in the set and costs more than the call it saves.
        const std::string_view t = r.text;
        return t.find('"') == std::string_view::npos && t.find('(') == std::string_view::npos &&
               t.find(')') == std::string_view::npos;
    }
    return !r.text.empty() && std::all_of(r.text.begin(), r.text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               c == '.' || c == '+' || c == '-';
    });
}

} // namespace

bool Interpreter::spliceInnerResults(const CachedExpr& ce, const FnValue* results, size_t count,
                                     std::string& s, std::vector<size_t>& seen) {
    s = ce.text;
    std::string part;
    for (size_t k = 0; k < count; ++k) {
        const size_t close = s.find(')');
        const size_t open = s.rfind('(', close);
        size_t from = open - 1;
        while (from > 0 && !isNameStopper(s[from - 1]))
            --from;
        part = splicedForm(results[k]);
        if (!spliceResult(s, from, open, close, part, seen)) return false;
    }
    return true;
}

bool Interpreter::evaluateNested(const CachedExpr& ce, std::string& value) {
    constexpr size_t kMostArguments = ArgumentValues::kMost;
    const Runtime::FunctionRow& row = rt_.functions()[static_cast<size_t>(ce.row)];
    const size_t argc = ce.args.size();
    // A shown rack may bear any operand's or result's text as a control name: the walk decides.
    if (!row.value || row.eval == ArgEval::Custom || argc > kMostArguments || rackShown())
        return evaluateCompact(ce.text, value);
    EvaluationScope scope(*this);
    FnValue inner[kMostArguments];
    size_t done = 0;
    std::string s;
    std::vector<size_t> seen;
    // The group walk from the text it would hold after the inner calls done so far.
    auto walkOn = [&] {
        if (!spliceInnerResults(ce, inner, done, s, seen)) {
            value.clear();
            return false;
        }
        return reduceGroups(s, s.find(')'), seen, done, 4 * ce.text.size() + 1000, value);
    };
    const size_t innerCalls = size_t(
        std::count_if(ce.args.begin(), ce.args.end(), [](const CachedExpr& a) { return a.call; }));
    // The inner calls come first, left to right, as the walk takes its innermost groups.
    for (const CachedExpr& a : ce.args) {
        if (!a.call) continue;
        FnValue& r = inner[done];
        if (!valueCall(a, r)) return walkOn();
        if (!r.ok) {
            // As the walk ends after a failed call: its text so far, less the first and last
            // character.
            if (!spliceInnerResults(ce, inner, done, s, seen)) {
                value.clear();
                return false;
            }
            return evaluateFlat(std::string_view(s).substr(1, s.size() - 2), value);
        }
        ++done;
        if (!readsBackAsItself(r)) return walkOn();
        // A later inner call may raise a script error, which may add a variable and move the
        // text this result points into.
        if (innerCalls > 1 && r.kind != FnValue::Integer && r.text.data() != r.own.data()) {
            std::string kept(r.text);
            r.own = std::move(kept);
            r.text = r.own;
        }
    }
    // Clearing or raising the error state must not add the variable `error` (see valueCall):
    // the inner results may still be views into other variables' texts when the outer call
    // fails and the walk's text is made from them.
    if (!variables_.has("error", errorSlot_)) return walkOn();
    // An argument of more than one operand may fault and raise a script error, which may add
    // a variable and move the texts a view points into; so may a second inner call. Then
    // every value is a copy of its own.
    bool copies = done > 1;
    for (const CachedExpr& a : ce.args)
        copies |= a.flat && !a.ops.empty();
    ArgumentValues args;
    size_t k = 0;
    for (size_t i = 0; i < argc && !args.stopped; ++i) {
        const CachedExpr& a = ce.args[i];
        bool ok;
        if (a.call) {
            const FnValue& r = inner[k++];
            if (r.kind == FnValue::Text && !copies) {
                args.views[i] = r.text;
                ok = !r.text.empty();
            } else {
                ok = args.keepOwn(i, callResultValue(r, args.own[i]));
            }
        } else if (!copies && a.operands.size() == 1) {
            ok = args.readLone(variables_, i, a.operands[0]); // as valueCall reads it
        } else {
            ok = args.keepOwn(i, evaluateCached(a, args.own[i]));
        }
        args.note(ok, row.eval);
    }
    if (row.clearsError) clearScriptError();
    FnValue r;
    row.value(args.args(*this), r);
    if (!r.ok) {
        if (!spliceInnerResults(ce, inner, done, s, seen)) {
            value.clear();
            return false;
        }
        return evaluateFlat(std::string_view(s).substr(1, s.size() - 2), value);
    }
    return callResultValue(r, value);
}

bool Interpreter::assignValueCall(const LineInfo& li) {
    const CachedExpr& ce = li.value;
    if (!ce.call || ce.row < 0) return false;
    EvaluationScope scope(*this);
    FnValue r;
    if (!valueCall(ce, r)) return false;
    std::string value;
    bool ok;
    if (!r.ok) {
        // As evaluateCall goes on after a failed call.
        ok = evaluateFlat(std::string_view(ce.text).substr(1, ce.text.size() - 2), value);
    } else if (r.kind == FnValue::Text) {
        // The empty text removes the variable, as a failed evaluation does.
        variables_.set(li.assignName, r.text, li.assignSlot);
        return true;
    } else if (r.kind == FnValue::Integer && inPlainRange(r.integer)) {
        variables_.setInteger(li.assignName, r.integer, li.assignSlot);
        return true;
    } else {
        ok = callResultValue(r, value);
    }
    if (ok)
        variables_.set(li.assignName, std::move(value), li.assignSlot);
    else
        variables_.set(li.assignName, {});
    return true;
}

bool Interpreter::callFunction(std::string_view name, std::string_view inner, std::string& value) {
    std::string callText;
    callText.reserve(name.size() + inner.size() + 2);
    callText.append(name).append("(").append(inner).append(")");
    std::string splitName;
    std::vector<std::string> argTexts;
    splitCall(callText, splitName, argTexts);
    const int row = functionRow(rt_, name, argTexts.size());
    return invokeFunction(row, argTexts, nullptr, value);
}

int functionRow(const Runtime& rt, std::string_view name, size_t argc) {
    const auto& rows = rt.functions();
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].name == name && rows[i].argc == static_cast<int>(argc))
            return static_cast<int>(i);
    return -1;
}

bool Interpreter::invokeFunction(int rowIndex, const std::vector<std::string>& argTexts,
                                 const std::vector<CachedExpr>* cachedArgs, std::string& value,
                                 std::string_view* view) {
    const Runtime::FunctionRow* row =
        rowIndex < 0 ? nullptr : &rt_.functions()[static_cast<size_t>(rowIndex)];
    if (!row || !row->handler) {
        value.clear();
        return false;
    }
    FnCall call{*this, argTexts, {}, true, view};
    if (row->eval != ArgEval::Custom) {
        call.args.resize(argTexts.size());
        for (size_t i = 0; i < argTexts.size(); ++i) {
            const bool ok = cachedArgs ? evaluateCached((*cachedArgs)[i], call.args[i])
                                       : evaluate(argTexts[i], call.args[i]);
            if (!ok) {
                // A failed argument counts as empty, whatever partial result an arithmetic
                // fault left behind (`len(5 / 0)` is 0).
                call.args[i].clear();
                call.argsOk = false;
                if (row->eval == ArgEval::UntilFail) {
                    for (size_t j = i; j < argTexts.size(); ++j)
                        call.args[j].clear();
                    break;
                }
            }
        }
    }
    if (row->clearsError) clearScriptError();
    FnResult r = row->handler(call);
    value = std::move(r.value);
    return r.ok;
}

} // namespace nv
