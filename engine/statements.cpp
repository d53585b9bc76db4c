// Statements and control flow. Blocks are found by scanning program lines at run time;
// bodies run through executeLine with a line index that nested statements move forward.
#include <cmath>
#include <cstdlib>
#include <utility>

#include "engine/checker.h"
#include "engine/host.h"
#include "engine/lineinfo.h"
#include "engine/text.h"
#include "engine/value.h"

namespace nv {

namespace {

// A `for` bound: any number, rounded to an integer; anything else ends the run.
int32_t loopBound(const std::string& text) {
    int32_t n;
    if (!text.empty() && text.size() <= 9 &&
        text.find_first_not_of("0123456789") == std::string::npos && parseInteger(text, n))
        return n;
    double v;
    if (!isNumber(text, &v)) throw ScriptFailure("'" + text + "' is not a valid integer value");
    const double r = std::nearbyint(v);
    if (r < INT32_MIN || r > INT32_MAX)
        throw ScriptFailure("'" + text + "' is not a valid integer value");
    return static_cast<int32_t>(r);
}

} // namespace

Interpreter::LineInfo Interpreter::classifyLine(int index) {
    // For a reader that only looks (the checker), the remembered forms keep just their text:
    // what the line is does not depend on them, and building them is most of the cost.
    auto expression = [this](std::string compacted) {
        if (!textsOnly_) return cacheExpression(rt_, std::move(compacted));
        CachedExpr e;
        e.text = std::move(compacted);
        return e;
    };
    auto condition = [this](std::string_view text) {
        if (!textsOnly_) return cacheCondition(rt_, text);
        CachedCondition c;
        c.text = std::string(text);
        return c;
    };
    LineInfo li;
    li.trimmed = trim(program_[static_cast<size_t>(index)]);
    const std::string& L = li.trimmed;
    li.next = L == "next";
    li.wend = L == "wend";
    li.isElse = L == "else";
    li.endif = L == "endif";
    li.elseif = startsWith(L, "elseif (");
    li.opensIf = startsWith(L, "if (");
    const std::string C = compact(L);
    if (!C.empty() && C[0] == '#') {
        li.kind = LineKind::Comment;
    } else if (startsWith(L, "for (")) {
        li.kind = LineKind::For;
        std::string name;
        std::vector<std::string> args;
        splitCall(C, name, args);
        if (name == "for" && args.size() == 4) {
            li.forValid = true;
            li.forVar = args[0];
            for (int i = 0; i < 3; ++i)
                li.forArgs[i] = expression(compact(args[static_cast<size_t>(i) + 1]));
        }
    } else if (startsWith(L, "if (")) {
        li.kind = LineKind::If;
        li.quick = LineInfo::Quick::If;
        li.cond = condition(std::string_view(L).substr(3));
    } else if (startsWith(L, "while (")) {
        li.kind = LineKind::While;
        li.cond = condition(std::string_view(L).substr(6));
    } else if (L == "repeat") {
        li.kind = LineKind::Repeat;
    } else if (L == "break") {
        li.kind = LineKind::Break;
    } else if (L == "exit") {
        li.kind = LineKind::Exit;
    } else if (auto it = procedures_.find(lowerAscii("procedure " + L)); it != procedures_.end()) {
        li.kind = LineKind::ProcCall;
        li.target = it->second;
    } else if (startsWith(L, "procedure ")) {
        li.kind = LineKind::ProcDef;
        for (size_t j = static_cast<size_t>(index); j < program_.size(); ++j) {
            if (trimView(program_[j]) == "procend") {
                li.target = static_cast<int>(j);
                break;
            }
        }
    } else {
        const auto& rows = rt_.commands();
        for (size_t r = 0; r < rows.size(); ++r)
            if (startsWith(rows[r].onCompact ? C : L, rows[r].keyword))
                li.commandRows.push_back(static_cast<int>(r));
        const size_t eq = L.find('=');
        if (eq == std::string::npos) {
            li.valueText = L;
        } else {
            li.assignName = trim(std::string_view(L).substr(0, eq));
            li.valueText = L.substr(eq + 1);
        }
        li.value = expression(compact(li.valueText));
        li.viewCall = li.value.call && li.value.row >= 0 &&
                      rt_.functions()[static_cast<size_t>(li.value.row)].givesView;
        li.bareName = eq == std::string::npos && li.value.flat && li.value.ops.empty() &&
                      li.value.operands[0].kind == CachedOperand::Name;
        if (li.value.flat && !li.value.ops.empty() &&
            li.value.ops.find_first_not_of('&') == std::string::npos) {
            const std::string self = lowerAscii(li.assignName);
            const auto& ops = li.value.operands;
            li.appendsToItself = !self.empty() && ops[0].kind == CachedOperand::Name &&
                                 lowerAscii(ops[0].text) == self;
            for (size_t i = 1; i < ops.size(); ++i)
                if (ops[i].kind == CachedOperand::Name && lowerAscii(ops[i].text) == self)
                    li.appendsToItself = false;
        }
        li.integerAssign = li.commandRows.empty() && !li.bareName && !li.viewCall &&
                           (li.value.integerForm || li.value.call);
        li.noForm = li.commandRows.empty() &&
                    (eq == std::string::npos ? !passesThrough(L, program_[size_t(index)])
                                             : headerWithoutBlank(L));
        bool pureArgs = true; // a call whose failure has no effect
        for (const CachedExpr& a : li.value.args)
            pureArgs = pureArgs && a.integerForm;
        if (li.integerAssign && !li.noForm && (li.value.integerForm || pureArgs))
            li.quick = LineInfo::Quick::Integer;
        else if (li.bareName && li.commandRows.empty() && !li.noForm)
            li.quick = LineInfo::Quick::BareName;
    }
    // Read as conditions by the `if (` and `repeat` statements, whatever else they are.
    if (startsWith(L, "elseif (")) {
        li.cond = condition(std::string_view(L).substr(7));
    } else if (startsWith(L, "until (")) {
        li.cond = condition(std::string_view(L).substr(6));
    }
    return li;
}

void Interpreter::runFor(const LineInfo& li, int& index) {
    if (!li.forValid) {
        strictLine(index, "a for ( line is for (name, start, end, step): " + li.trimmed +
                              " is no statement");
        return;
    }
    int64_t pass = 1;
    int j = index;
    std::string v[3];
    int64_t bound[3];
    for (;;) {
        // A plain integer bound is its own value unless a shown rack control bears its text.
        bool literal[3];
        for (int i = 0; i < 3; ++i) {
            const CachedExpr& a = li.forArgs[i];
            literal[i] = a.plainBound &&
                         a.operands[0].control.get(rt_.instruments, a.operands[0].text, false) < 0;
            if (!literal[i] && !evaluateCached(a, v[i])) return;
        }
        for (int i = 0; i < 3; ++i)
            bound[i] = literal[i] ? li.forArgs[i].bound : loopBound(v[i]);
        const int64_t start = bound[0], end = bound[1], step = bound[2];
        if (step == 0) throw ScriptFailure("Division by zero");
        const int64_t count = std::llabs(end - start) / std::llabs(step);
        const bool usable = (start <= end && step > 0) || (end <= start && step < 0);
        if (!usable) {
            if (pass == 1) {
                // Pass over the body to the `next` that matches this `for (`.
                int fors = 0, nexts = 0;
                for (int k = index + 1;; ++k) {
                    const std::string& t = trimmedLine(k);
                    if (startsWith(t, "for ("))
                        ++fors;
                    else if (t == "next" && ++nexts == fors + 1) {
                        index = k;
                        return;
                    }
                }
            }
            break;
        }
        // The counter is kept as an integer; its text is written only when read as one.
        const int64_t counter = start + (pass - 1) * step;
        for (j = index + 1; !knownLine(j).next; ++j) {
            variables_.setInteger(li.forVar, counter, li.forSlot);
            runLine(j);
        }
        ++pass;
        if (pass - 1 > count || breakPending_ || exitPending_ || stopRequested_) break;
    }
    breakPending_ = false;
    index = j;
}

bool Interpreter::testCondition(const CachedCondition& cond, bool& truth, int index) {
    const bool ok = evaluateCondition(cond, truth);
    if (options_.strict && (!ok || !conditionCompared_))
        strictLine(index, conditionTrap(cond.text, ok));
    return ok;
}

int Interpreter::testedCondition(const CachedCondition& cond, int index) {
    bool truth = false;
    if (!testCondition(cond, truth, index)) return -1;
    return truth ? 1 : 0;
}

void Interpreter::runIf(const CachedCondition& cond, int& index) {
    const int value = conditionValue(cond, index);
    if (value < 0) return;
    bool truth = value > 0;
    // A reached `elseif (` is a new `if (` that shares the closing `endif`. The chain is walked
    // here rather than by one call per `elseif (`, so the caller's index is stepped back once
    // for the whole chain, however many `elseif (` lines were passed: the caller's own step
    // forward then lands on that `endif`, which passes through the dispatcher without effect.
    // When the caller is a branch of an enclosing `if (`, that `endif` is the nested chain's
    // and does not end the branch (endifHandedBack_ tells it so).
    bool chained = false;
    for (;;) {
        if (truth) {
            // The branch runs up to its `else` or `elseif (`, from where the rest is passed
            // over to the `endif` of this level; without either, up to and with the `endif`.
            int k = index + 1;
            bool nestedEndif = false;
            for (;;) {
                const LineInfo& t = knownLine(k);
                if (t.isElse || t.elseif) {
                    k = skipToEndif(t, k);
                    break;
                }
                const bool isEndif = t.endif && !std::exchange(nestedEndif, false);
                runLine(k);
                nestedEndif = std::exchange(endifHandedBack_, false);
                if (isEndif) break;
                ++k;
            }
            index = k;
            if (chained) handBackEndif(index);
            return;
        }
        const LineInfo& from = knownLine(index);
        if (from.falseStop < 0) findFalseStop(from, index);
        index = from.falseStop;
        if (from.falseStopKind == LineInfo::FalseStop::Endif) {
            if (chained) handBackEndif(index);
            return;
        }
        if (from.falseStopKind == LineInfo::FalseStop::Else) {
            // The `else` line and its branch run, up to and with the `endif` of this level
            // (an `endif` a nested chain handed back is that chain's).
            const int opens = from.falseStopDepth;
            int closes = opens;
            bool nestedEndif = false;
            for (;; ++index) {
                const bool isEndif = knownLine(index).endif && !std::exchange(nestedEndif, false);
                if (isEndif) ++closes;
                runLine(index);
                nestedEndif = std::exchange(endifHandedBack_, false);
                if (isEndif && closes == opens + 1) break;
            }
            if (chained) handBackEndif(index);
            return;
        }
        // An `elseif (` whose condition cannot be evaluated leaves the index on its line, so
        // that line and its branch then run as ordinary lines.
        const int next = testedCondition(line(index).cond, index);
        if (next < 0) {
            --index;
            return;
        }
        truth = next > 0;
        chained = true;
    }
}

// Counts the `if (` lines opened and the `endif` lines met from line `index` on, to the first
// `elseif (` or `else` where the two are even, or the `endif` one past them.
void Interpreter::findFalseStop(const LineInfo& from, int index) {
    int opens = 0, closes = 0;
    for (;;) {
        const LineInfo& t = knownLine(++index);
        if (opens == closes && t.elseif) {
            from.falseStopKind = LineInfo::FalseStop::Elseif;
            break;
        }
        if (t.opensIf) ++opens;
        if (t.endif) ++closes;
        if (opens == closes && t.isElse) {
            from.falseStopKind = LineInfo::FalseStop::Else;
            break;
        }
        if (t.endif && closes == opens + 1) {
            from.falseStopKind = LineInfo::FalseStop::Endif;
            break;
        }
    }
    from.falseStopDepth = opens;
    from.falseStop = index;
}

int Interpreter::skipToEndif(const LineInfo& from, int index) {
    if (from.skipTo < 0) {
        int opens = 0, closes = 0, k = index;
        for (;;) {
            const LineInfo& t = knownLine(++k);
            if (t.opensIf)
                ++opens;
            else if (t.endif && ++closes == opens + 1)
                break;
        }
        from.skipTo = k;
    }
    return from.skipTo;
}

void Interpreter::handBackEndif(int& index) {
    --index;
    endifHandedBack_ = true;
}

void Interpreter::runWhile(const CachedCondition& cond, int& index) {
    bool truth = false;
    if (!testCondition(cond, truth, index)) return;
    if (truth) {
        int j;
        do {
            maybePassEvents();
            for (j = index + 1; !knownLine(j).wend; ++j)
                runLine(j);
            testCondition(cond, truth, index);
        } while (truth && !breakPending_ && !exitPending_ && !stopRequested_);
        index = j;
    } else {
        int opens = 0, closes = 0;
        for (;;) {
            const std::string& t = trimmedLine(++index);
            if (startsWith(t, "while ("))
                ++opens;
            else if (t == "wend" && ++closes == opens + 1)
                break;
        }
    }
    breakPending_ = false;
}

void Interpreter::runRepeat(int& index) {
    int k = index + 1;
    bool truth = false;
    for (;;) {
        const std::string& t = trimmedLine(k);
        if (startsWith(t, "until (")) {
            maybePassEvents();
            testCondition(line(k).cond, truth, k);
            if (truth || breakPending_ || exitPending_ || stopRequested_) break;
            k = index + 1;
        } else {
            runLine(k);
            ++k;
        }
    }
    index = k;
    breakPending_ = false;
}

void Interpreter::callProcedure(int defIndex) {
    for (int k = defIndex + 1; !stopRequested_; ++k) {
        const std::string& t = knownLine(k).trimmed;
        if (t.empty()) continue;
        if (t == "procend" || exitPending_) {
            exitPending_ = false;
            return;
        }
        runLine(k);
    }
}

} // namespace nv
