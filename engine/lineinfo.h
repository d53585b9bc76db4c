// Facts about one program line that cannot change during a run: its trimmed text, which
// statement it is, which command rows its beginning matches, and the parts of an assignment
// or a `for (` header. Computed the first time a line is executed, so that a loop body pays
// for trimming, compacting and keyword tests once instead of on every pass. Private to the
// interpreter.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/eventgate.h"
#include "engine/interpreter.h"
#include "engine/value.h"

namespace nv {

// The expression evaluator's character classes. The checker reads texts with the same ones,
// so that what it calls a group or a call is what the run will.
inline bool isOperator(char c) {
    switch (c) {
    case '%':
    case '&':
    case '*':
    case '+':
    case '-':
    case '/':
    case '\\':
    case '^':
        return true;
    default:
        return false;
    }
}
// A `(` after one of these (or first in the text) opens a plain group.
inline bool isGrouping(char c) {
    return c == ' ' || c == '(' || c == ')' || isOperator(c);
}
// These end a function name read backwards from its `(`.
inline bool isNameStopper(char c) {
    return isGrouping(c) || c == ',';
}

// The comparison operators of conditions, in the order they are looked for.
inline constexpr std::string_view kComparisons[] = {"==", ">>", "<<", ">=", "<=", "<>"};
// The index into kComparisons of the first operator (in table order) that occurs anywhere in
// the text, and in `pos` where; -1 when none does.
int findComparisonOperator(std::string_view text, size_t& pos);

// Lines that reach the dispatcher as no statement and are meant to: the block keywords that
// pass through (`else`, `endif`, `next`, `wend`, `procend`, `end`, `begin`, `elseif (`...,
// `until (`...) and an `include(` line as the editor expanded it. `raw` is the line as
// written, `trimmed` the same trimmed.
bool passesThrough(std::string_view trimmed, std::string_view raw);
// A statement keyword with its parenthesis not one blank after it (`if(`, `for  (`): no
// statement, whatever else the line then is.
bool headerWithoutBlank(std::string_view trimmed);

// Which rack control a name on a remembered line reaches: looked up once, and again only
// when the rack's generation changed (a rack opened, shown or hidden). Without a rack, or
// with none shown, no name reaches a control.
struct ControlBinding {
    mutable uint64_t generation = 0; // 0: never bound (the rack's generations start at 1)
    mutable int handle = -1;
    // The bound control's whole-number reading and setting, taken with the handle.
    mutable InstrumentAccess::WholeAccess whole;
    // The handle (-1: no control) for `name` on `rack` (may be null).
    int get(InstrumentAccess* rack, std::string_view name, bool settable) const {
        if (!rack) return -1;
        const uint64_t now = rack->generation();
        if (now != generation) {
            handle = rack->bindControl(name, settable);
            whole = handle >= 0 ? rack->wholeAccess(handle) : InstrumentAccess::WholeAccess{};
            generation = now;
        }
        return handle;
    }
};

// An expression's compact text, and, when it holds no parenthesis, its operands and
// operators as the flat walk splits them, each operand with what its text alone says about
// it; or, when it is one function call and nothing else, the call's parts. Only what a
// variable holds (and what a call returns) is read again on each pass. Any operand, even a
// literal, may name a shown rack control, which comes first: each operand is bound to the
// control its text names, if any.
struct CachedOperand {
    enum Kind : unsigned char { Empty, Literal, Name };
    Kind kind = Empty;
    std::string text;    // the operand as the walk reads it (trimmed)
    std::string literal; // Literal: its value
    // Literal: its value is a plain integer (see plainInteger), `number`. Empty: 0.
    bool integer = false;
    int64_t number = 0;
    mutable Variables::Slot slot;
    ControlBinding control;
};
struct CachedExpr {
    std::string text; // the compact form: what the text path evaluates
    bool flat = false;
    std::vector<CachedOperand> operands;
    std::string ops; // ops[i] stands between operands[i] and operands[i + 1]
    // Flat, with only `+ - * /` and operands that are names, plain integer literals or (as
    // the walk reads them) empty: evaluateInteger may compute it without texts.
    bool integerForm = false;
    // A `for (` bound written as a plain integer literal: its value.
    bool plainBound = false;
    int32_t bound = 0;
    // One function call that is the whole text: its row in the function table (-1: none),
    // its argument texts as the call splits them and their remembered forms.
    bool call = false;
    int row = -1;
    std::vector<std::string> argTexts;
    std::vector<CachedExpr> args;
    // Whether no operand, the call's arguments' included, reaches a shown control, as found
    // at rack generation controlFreeAt (0: not yet asked; see Interpreter::controlFree).
    mutable uint64_t controlFreeAt = 0;
    mutable bool controlFree = false;
    // One call that is the whole text, each argument flat or wholly one call of its own whose
    // arguments are flat (`crc16(mid(x, 1, 4096), "xmodem")`): row, argTexts and args as for
    // `call`, which stays false.
    bool nested = false;
};
CachedExpr cacheExpression(const Runtime& rt, std::string compacted);
int functionRow(const Runtime& rt, std::string_view name, size_t argc);

// A condition's text, and, when it is one parenthesised comparison of two flat expressions
// (`(a <> b)`, no calls, no nested groups), the comparison and its sides: evaluating the
// sides has no effect besides their values, so whatever the remembered form cannot decide
// goes the text path from the start.
struct CachedCondition {
    std::string text;
    bool simple = false;
    int op = -1;
    CachedExpr left, right;
};
CachedCondition cacheCondition(const Runtime& rt, std::string_view text);

enum class LineKind { Comment, For, If, While, Repeat, Break, Exit, ProcCall, ProcDef, Other };

struct Interpreter::LineInfo {
    std::string trimmed;
    LineKind kind = LineKind::Other;
    // What the block scans look for: the line is `next`, `wend`, `else`, `endif`, or begins
    // with `elseif (` or `if (`.
    bool next = false, wend = false, isElse = false, endif = false, elseif = false, opensIf = false;
    // Where the block scans that start on this line end. They read only line texts, which
    // do not change during a run, so each is made once, on first use (-1: not yet).
    // `if (` and `elseif (` lines, the condition false: the first line that is an `elseif (`
    // or an `else` of this level, or the `endif` that closes it, and which of the three.
    enum class FalseStop : unsigned char { Elseif, Else, Endif };
    mutable int falseStop = -1;
    mutable FalseStop falseStopKind = FalseStop::Endif;
    mutable int falseStopDepth = 0; // the `if (` lines opened and closed before it
    // `else` and `elseif (` lines reached by a branch that ran: the `endif` it skips to.
    mutable int skipTo = -1;
    // ProcCall: index of the definition line. ProcDef: index of its `procend`, or -1.
    int target = -1;
    // Other: the command rows whose keyword the line begins with, in table order.
    std::vector<int> commandRows;
    // Other: no command row, no `=` and no block keyword: the line does nothing.
    bool noForm = false;
    // Other: no command row, no bare name, no view call, and a value in integer form or one
    // call: assign may try the value as an integer first without its other checks.
    bool integerAssign = false;
    // What runLine may do without executeLine's preamble (see there).
    enum class Quick : unsigned char { None, Integer, BareName, If };
    Quick quick = Quick::None;
    // Other: the assignment it falls back to.
    std::string assignName, valueText;
    CachedExpr value;
    // The value is one call of a row that gives views (assignView may take it).
    bool viewCall = false;
    // No `=` and the value is one name (`else`, `endif` and the like): while the name is no
    // variable and no control, the line only removes the variable of no name.
    bool bareName = false;
    mutable Variables::Slot assignSlot;
    // The value is the assigned variable itself followed by `&` and operands that are not
    // it (`out = out & c`): its text may grow in place instead of being copied.
    bool appendsToItself = false;
    ControlBinding assignControl; // the settable control the assigned name reaches
    // Neither the value nor the assigned name reaches a control, at rack generation
    // controlFreeAt (0: not yet asked; see Interpreter::quickAssignable).
    mutable uint64_t controlFreeAt = 0;
    mutable bool controlFree = false;
    // If, While, and lines beginning with `elseif (` or `until (`: the condition.
    CachedCondition cond;
    // For: whether the header has the form `for(name, start, end, step)`, its variable and
    // the compact forms of its three bound expressions.
    bool forValid = false;
    std::string forVar;
    CachedExpr forArgs[3];
    mutable Variables::Slot forSlot;
};

inline int Interpreter::loneInteger(const CachedExpr& e, int64_t& value) {
    if (!e.integerForm || e.operands.size() != 1) return -1;
    const CachedOperand& o = e.operands[0];
    // A lone empty operand is the empty value, and an operand a shown control bears reads
    // the control (the text path decides unless it holds a whole number).
    if (o.kind == CachedOperand::Empty) return 0;
    if (const int c = o.control.get(rt_.instruments, o.text, false); c >= 0)
        return o.control.whole.read(value) ? 1 : 0;
    if (o.kind == CachedOperand::Literal) {
        value = o.number;
        return 1;
    }
    return variables_.getInteger(o.text, o.slot, value) ? 1 : 0;
}

// One comparison on the way through, whether a rack is shown or not: the answer is kept
// with the generation it holds for, a hidden rack's included.
inline bool Interpreter::controlFree(const CachedExpr& e) {
    const InstrumentAccess* rack = rt_.instruments;
    if (!rack) return true;
    if (e.controlFreeAt != rack->generation()) noteControlFree(e);
    return e.controlFree;
}

inline bool Interpreter::quickAssignable(const LineInfo& li) {
    const InstrumentAccess* rack = rt_.instruments;
    if (!rack) return true;
    if (li.controlFreeAt != rack->generation()) noteControlFree(li);
    return li.controlFree;
}

// integerValue's steps for a flat integer form when none of its names reaches a rack control
// (see controlFree) and no kept result stands in the way. The lone operand (a call's
// argument, a comparison's side) is read inline; longer forms go to quickIntegerSteps. The value is
// returned, not written through a reference, which keeps the stack guard out of the loops.
inline Variables::IntegerRead Interpreter::quickIntegerValue(const CachedExpr& e) {
    if (!e.ops.empty()) return quickIntegerSteps(e);
    // A lone name or integer; a lone empty operand is the empty value, not 0.
    const CachedOperand& o = e.operands.front();
    if (o.kind == CachedOperand::Name) return variables_.integer(o.text, o.slot);
    return {o.kind == CachedOperand::Literal, o.number};
}

// evaluateInteger's answer when no name in it reaches a rack control and nothing is kept.
inline Variables::IntegerRead Interpreter::quickInteger(const CachedExpr& e) {
    if (e.integerForm) return quickIntegerValue(e);
    if (!e.call) return {false, 0};
    return quickIntegerCall(e);
}

// A comparison of two plain integers: their texts are equal exactly when the numbers are,
// and the other comparisons read both as numbers. `op` indexes kComparisons.
inline bool compareIntegers(int op, int64_t a, int64_t b) {
    switch (op) {
    case 0: // ==
        return a == b;
    case 1: // >>
        return a > b;
    case 2: // <<
        return a < b;
    case 3: // >=
        return a >= b;
    case 4: // <=
        return a <= b;
    default: // <>
        return a != b;
    }
}

inline bool Interpreter::evaluateCondition(const CachedCondition& c, bool& truth) {
    // A control's reading is an operand's value like a variable's (evaluateCached offers each
    // operand to the rack first, and the integer path reads a control only as the whole number its
    // text is), and reading one changes nothing, so a shown rack needs no text path here.
    if (!c.simple || !spliced_.empty()) return evaluateCondition(c.text, truth);
    bool integers;
    if (controlFree(c.left) && controlFree(c.right)) {
        const Variables::IntegerRead a =
            c.left.integerForm ? quickIntegerValue(c.left) : Variables::IntegerRead{false, 0};
        const Variables::IntegerRead b = a.ok && c.right.integerForm
                                             ? quickIntegerValue(c.right)
                                             : Variables::IntegerRead{false, 0};
        integers = a.ok && b.ok;
        if (integers) truth = compareIntegers(c.op, a.value, b.value);
    } else {
        integers = integerComparison(c, truth);
    }
    if (!integers) return compareTexts(c, truth);
    conditionCompared_ = true;
    return true;
}

// executeLine's preamble has nothing to do: no break or exit pending, no debug step, no
// breakpoint, no pause, no line shown, no idle time, no pass over the events due on this
// line, and room for one more level.
inline bool Interpreter::quietLine() const {
    return clockCountdown_ > 1 && !anySet() && gated_ && idleMs_ <= 0 &&
           (!breakpoints_ || breakpoints_->lines.empty()) && depth_ < kMaxLineDepth &&
           !eventgate::waiting();
}

// executeLine for a classified line inside a block. When the preamble has nothing to do, the
// lines that loops spend most of their time on run here without it: an integer assignment
// whose failure would have no effect (it then goes the whole way), a bare `else` or `endif`
// that names no variable, and an `if (` line (which sets the executing line as executeLine
// does). Nothing can tell the difference: the first two log nothing and raise nothing, so
// the executing line they would have set is never read.
inline void Interpreter::runLine(int& index) {
    const LineInfo* li = static_cast<size_t>(index) < lineInfo_.size()
                             ? lineInfo_[static_cast<size_t>(index)].get()
                             : nullptr;
    if (!li || li->quick == LineInfo::Quick::None || !spliced_.empty() || !quietLine())
        return executeLine(index);
    switch (li->quick) {
    case LineInfo::Quick::Integer: {
        if (quickAssignable(*li)) {
            const Variables::IntegerRead n = quickInteger(li->value);
            if (!n.ok) return executeLine(index);
            variables_.setInteger(li->assignName, n.value, li->assignSlot);
        } else if (controlFree(li->value)) {
            // The assigned name reaches a control, which takes the number as it takes it
            // whole, or refuses it (nothing done: the text way decides).
            const Variables::IntegerRead n = quickInteger(li->value);
            if (!n.ok || li->assignControl.get(rt_.instruments, li->assignName, true) < 0 ||
                !li->assignControl.whole.assign(n.value))
                return executeLine(index);
            clearScriptError(); // as assign does once the value is known
        } else if (!quickControlLine(*li)) {
            return executeLine(index);
        }
        --clockCountdown_;
        endifHandedBack_ = false;
        return;
    }
    case LineInfo::Quick::BareName: {
        if (!quickAssignable(*li)) return executeLine(index);
        const CachedOperand& o = li->value.operands[0];
        if (variables_.has(o.text, o.slot) || variables_.has(li->assignName, li->assignSlot))
            return executeLine(index);
        --clockCountdown_;
        endifHandedBack_ = false;
        return;
    }
    default: { // If
        --clockCountdown_;
        endifHandedBack_ = false;
        struct Level {
            int& d;
            explicit Level(int& depth) : d(depth) { ++d; }
            ~Level() { --d; }
        } level(depth_);
        // As executeLine: not restored when a failure unwinds.
        const int outer = executing_;
        executing_ = index;
        runIf(li->cond, index);
        executing_ = outer;
        return;
    }
    }
}

// testCondition's answer as a value (-1: the condition could not be evaluated), so that the
// statement loops keep no local whose address is taken. Two plain integers are compared here
// when neither side reaches a rack control; anything else goes the whole way.
inline int Interpreter::conditionValue(const CachedCondition& c, int index) {
    if (c.simple && spliced_.empty() && c.left.integerForm && c.right.integerForm &&
        controlFree(c.left) && controlFree(c.right)) {
        const Variables::IntegerRead a = quickIntegerValue(c.left);
        if (a.ok) {
            const Variables::IntegerRead b = quickIntegerValue(c.right);
            if (b.ok) {
                conditionCompared_ = true;
                return compareIntegers(c.op, a.value, b.value);
            }
        }
    }
    return testedCondition(c, index);
}

inline const Interpreter::LineInfo& Interpreter::knownLine(int index) {
    if (static_cast<size_t>(index) < lineInfo_.size())
        if (const LineInfo* li = lineInfo_[static_cast<size_t>(index)].get()) return *li;
    return line(index);
}

} // namespace nv
