// Conditions: parenthesised comparisons joined by one logical operator, reduced from the
// innermost group outwards. Each side of a comparison is an expression.
#include <functional>

#include "base/limits.h"
#include "engine/interpreter.h"
#include "engine/lineinfo.h"
#include "engine/text.h"
#include "engine/value.h"

namespace nv {

// In table order: the first operator that occurs anywhere in the text decides.
int findComparisonOperator(std::string_view text, size_t& pos) {
    for (int i = 0; i < 6; ++i) {
        pos = text.find(kComparisons[i]);
        if (pos != std::string_view::npos) return i;
    }
    return -1;
}

namespace {

enum Cmp { Eq, Gt, Lt, Ge, Le, Ne };

// Numbers compare as numbers; anything else by the sum of its byte values.
void compareNumbers(const std::string& l, const std::string& r, double& x, double& y) {
    if (isNumber(l, &x) && isNumber(r, &y)) return;
    x = y = 0;
    for (unsigned char c : l)
        x += c;
    for (unsigned char c : r)
        y += c;
}

bool compare(int op, const std::string& l, const std::string& r) {
    if (op == Eq) return l == r;
    if (op == Ne) return l != r;
    if ((op == Ge || op == Le) && l == r) return true;
    double x, y;
    compareNumbers(l, r, x, y);
    return (op == Gt || op == Ge) ? x > y : x < y;
}

// Nested conditions recurse once per doubled parenthesis; a text of thousands of them must
// not exhaust the stack.
constexpr int kMaxConditionDepth = limits::kConditionDepth;

} // namespace

bool Interpreter::evaluateCondition(std::string_view text, bool& truth) {
    conditionCompared_ = false;
    return reduceCondition(text, truth, 0);
}

CachedCondition cacheCondition(const Runtime& rt, std::string_view text) {
    CachedCondition c;
    c.text = std::string(text);
    const std::string s = compact(text);
    if (s.size() < 2 || s.front() != '(' || s.back() != ')') return c;
    const std::string_view inner = std::string_view(s).substr(1, s.size() - 2);
    size_t p;
    if (inner.find_first_of("()") != std::string_view::npos) return c;
    c.op = findComparisonOperator(inner, p);
    if (c.op < 0) return c;
    c.left = cacheExpression(rt, compact(trimView(inner.substr(0, p))));
    c.right = cacheExpression(rt, compact(trimView(inner.substr(p + 2))));
    c.simple = c.left.flat && c.right.flat;
    return c;
}

bool Interpreter::integerComparison(const CachedCondition& c, bool& truth) {
    auto integerSide = [this](const CachedExpr& e, int64_t& v) {
        const int lone = loneInteger(e, v);
        return lone > 0 || (lone < 0 && evaluateInteger(e, v));
    };
    int64_t a, b;
    if (!integerSide(c.left, a) || !integerSide(c.right, b)) return false;
    truth = compareIntegers(c.op, a, b);
    return true;
}

bool Interpreter::compareTexts(const CachedCondition& c, bool& truth) {
    std::string l, r;
    if (!evaluateCached(c.left, l) || !evaluateCached(c.right, r))
        return evaluateCondition(c.text, truth);
    truth = compare(c.op, l, r);
    conditionCompared_ = true;
    return true;
}

bool Interpreter::reduceCondition(std::string_view text, bool& truth, int depth) {
    if (depth > kMaxConditionDepth) return false;
    std::string s = compact(text);
    enum { None, And, Or } op = None;
    bool started = false;
    std::vector<size_t> seen; // texts after a value splice that brought parentheses
    const size_t passLimit = 4 * s.size() + 1000;
    size_t passes = 0;
    std::string value;

    size_t close = s.find(')');
    while (close != std::string::npos) {
        if (++passes > passLimit) return false;
        const size_t open = s.rfind('(', close);
        if (open == std::string::npos) return false;
        const std::string_view inner = std::string_view(s).substr(open + 1, close - open - 1);
        size_t opPos;
        bool isBool = false, result = false;
        size_t groupEnd = close;
        if (open >= 1 && s[open - 1] == '(' && findComparisonOperator(inner, opPos) >= 0) {
            // A doubled parenthesis around comparisons: a nested condition that runs to the
            // `)` balancing the run of `(` before it.
            size_t runStart = open - 1;
            while (runStart > 0 && s[runStart - 1] == '(')
                --runStart;
            int level = 0;
            size_t balance = std::string::npos;
            for (size_t i = runStart; i < s.size(); ++i) {
                if (s[i] == '(')
                    ++level;
                else if (s[i] == ')' && --level == 0) {
                    balance = i;
                    break;
                }
            }
            if (balance == std::string::npos) return false;
            bool sub = false;
            reduceCondition(std::string_view(s).substr(open, balance - open + 1), sub, depth + 1);
            result = sub;
            isBool = true;
            groupEnd = balance;
        } else if (!evaluateComparison(inner, value, isBool, result)) {
            return false;
        }

        if (!isBool) {
            s.replace(open, close - open + 1, value);
            if (value.find_first_of("()") != std::string::npos) {
                const size_t h = std::hash<std::string>{}(s);
                for (size_t e : seen)
                    if (e == h) return false;
                seen.push_back(h);
            }
        } else {
            if (depth == 0) conditionCompared_ = true;
            if (started) {
                if (op == And)
                    truth = truth && result;
                else if (op == Or)
                    truth = truth || result;
            } else {
                truth = result;
                started = true;
                const std::string_view after = std::string_view(s).substr(groupEnd + 1);
                const size_t a = after.find("&&"), o = after.find("||");
                if (a != std::string_view::npos && (o == std::string_view::npos || a < o))
                    op = And;
                else if (o != std::string_view::npos)
                    op = Or;
            }
            s.erase(open, groupEnd - open + 1);
        }
        close = s.find(')');
    }
    return true;
}

bool Interpreter::evaluateComparison(std::string_view inner, std::string& value, bool& isBool,
                                     bool& result) {
    size_t p;
    const int op = findComparisonOperator(inner, p);
    if (op >= 0) {
        std::string l, r;
        if (evaluate(trimView(inner.substr(0, p)), l) &&
            evaluate(trimView(inner.substr(p + 2)), r)) {
            result = compare(op, l, r);
            isBool = true;
            return true;
        }
    }
    isBool = false;
    return evaluate(inner, value);
}

} // namespace nv
