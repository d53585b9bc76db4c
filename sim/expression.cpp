#include "sim/expression.h"

#include "base/limits.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace nv::sim {

namespace {

struct Function {
    const char* name;
    int minArgs;
    int maxArgs;
};

const Function functions[] = {
    {"min", 1, 16},  {"max", 1, 16},   {"abs", 1, 1}, {"round", 1, 1},
    {"floor", 1, 1}, {"random", 2, 2}, {"if", 3, 3},
};

const Function* findFunction(const std::string& name) {
    for (const auto& f : functions)
        if (name == f.name) return &f;
    return nullptr;
}

class Parser {
  public:
    Parser(const std::string& s, const NameCheck& names) : s_(s), names_(names) {}

    bool parse(Expr& out, std::string& error) {
        try {
            out = comparison();
            skipBlanks();
            if (i_ < s_.size()) fail("unexpected \"" + s_.substr(i_) + "\"");
            return true;
        } catch (const std::runtime_error& e) {
            error = e.what();
            return false;
        }
    }

  private:
    [[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }
    [[noreturn]] void tooDeep() {
        fail("the value is nested too deeply (more than " +
             std::to_string(nv::limits::kSimExpressionDepth) + " levels)");
    }

    // One level of the parser's own recursion (a parenthesis, a sign, a function's
    // arguments): these nest without adding to the tree, and each costs stack.
    class Deeper {
      public:
        explicit Deeper(Parser& p) : p_(p) {
            if (++p_.nesting_ > nv::limits::kSimExpressionDepth) p_.tooDeep();
        }
        ~Deeper() { --p_.nesting_; }
        Deeper(const Deeper&) = delete;
        Deeper& operator=(const Deeper&) = delete;

      private:
        Parser& p_;
    };

    // A node over `e.args`, one level deeper than the deepest of them.
    Expr& over(Expr& e) {
        int below = 0;
        for (const auto& a : e.args)
            below = std::max(below, a.depth);
        e.depth = below + 1;
        if (e.depth > nv::limits::kSimExpressionDepth) tooDeep();
        return e;
    }

    void skipBlanks() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t'))
            ++i_;
    }
    bool take(const char* token) {
        skipBlanks();
        const std::string t(token);
        if (s_.compare(i_, t.size(), t) != 0) return false;
        i_ += t.size();
        return true;
    }

    Expr binary(std::string op, Expr a, Expr b) {
        Expr e;
        e.kind = Expr::Kind::Binary;
        e.text = std::move(op);
        e.args.push_back(std::move(a));
        e.args.push_back(std::move(b));
        return over(e);
    }

    Expr comparison() {
        Expr left = sum();
        // Two-character operators first, so that "<=" is not read as "<".
        for (const char* op : {"<=", ">=", "==", "!=", "<", ">"}) {
            if (take(op)) return binary(op, std::move(left), sum());
        }
        return left;
    }
    Expr sum() {
        Expr left = product();
        for (;;) {
            if (take("+"))
                left = binary("+", std::move(left), product());
            else if (take("-"))
                left = binary("-", std::move(left), product());
            else
                return left;
        }
    }
    Expr product() {
        Expr left = unary();
        for (;;) {
            if (take("*"))
                left = binary("*", std::move(left), unary());
            else if (take("/"))
                left = binary("/", std::move(left), unary());
            else if (take("%"))
                left = binary("%", std::move(left), unary());
            else
                return left;
        }
    }
    Expr unary() {
        if (take("-")) {
            const Deeper deeper(*this);
            Expr e;
            e.kind = Expr::Kind::Negate;
            e.args.push_back(unary());
            return over(e);
        }
        if (take("+")) {
            const Deeper deeper(*this);
            return unary();
        }
        return primary();
    }
    Expr primary() {
        skipBlanks();
        if (i_ >= s_.size()) fail("an expression ends too early");
        const char c = s_[i_];
        Expr e;
        if (c == '(') {
            const Deeper deeper(*this);
            ++i_;
            e = comparison();
            if (!take(")")) fail("a \")\" is missing");
            return e;
        }
        if (c == '"') {
            const size_t end = s_.find('"', i_ + 1);
            if (end == std::string::npos) fail("a text in quotes is not closed");
            e.kind = Expr::Kind::Text;
            e.text = s_.substr(i_ + 1, end - i_ - 1);
            i_ = end + 1;
            return e;
        }
        if (c == '$') {
            size_t j = i_ + 1;
            while (j < s_.size() && std::isdigit(static_cast<unsigned char>(s_[j])))
                ++j;
            if (j == i_ + 1) fail("\"$\" must be followed by the number of a group, as in $1");
            e.kind = Expr::Kind::Capture;
            e.capture = std::atoi(s_.substr(i_ + 1, j - i_ - 1).c_str());
            if (names_.captureCount < 0)
                fail("$" + std::to_string(e.capture) + " has no request to take it from here");
            if (e.capture > names_.captureCount)
                fail("$" + std::to_string(e.capture) + " but the pattern has " +
                     std::to_string(names_.captureCount) + " group(s)");
            i_ = j;
            return e;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
            const char* start = s_.c_str() + i_;
            char* end = nullptr;
            e.number = (c == '0' && i_ + 1 < s_.size() && (s_[i_ + 1] == 'x' || s_[i_ + 1] == 'X'))
                           ? static_cast<double>(std::strtoll(start, &end, 16))
                           : std::strtod(start, &end);
            if (end == start) fail("\"" + s_.substr(i_) + "\" is not a number");
            e.kind = Expr::Kind::Number;
            i_ += static_cast<size_t>(end - start);
            return e;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t j = i_;
            while (j < s_.size() &&
                   (std::isalnum(static_cast<unsigned char>(s_[j])) || s_[j] == '_'))
                ++j;
            const std::string name = s_.substr(i_, j - i_);
            i_ = j;
            if (take("(")) {
                const Function* f = findFunction(name);
                if (!f) fail("unknown function \"" + name + "\"");
                const Deeper deeper(*this);
                e.kind = Expr::Kind::Call;
                e.text = name;
                if (!take(")")) {
                    do
                        e.args.push_back(comparison());
                    while (take(","));
                    if (!take(")")) fail("a \")\" is missing after the arguments of " + name);
                }
                const int n = static_cast<int>(e.args.size());
                if (n < f->minArgs || n > f->maxArgs)
                    fail(name + " takes " +
                         (f->minArgs == f->maxArgs ? std::to_string(f->minArgs)
                                                   : "at least " + std::to_string(f->minArgs)) +
                         " argument(s), not " + std::to_string(n));
                return over(e);
            }
            if (!names_.isVariable || !names_.isVariable(name))
                fail("unknown variable \"" + name + "\" (declare it with var)");
            e.kind = Expr::Kind::Variable;
            e.text = name;
            return e;
        }
        fail("unexpected \"" + s_.substr(i_) + "\"");
    }

    const std::string& s_;
    const NameCheck& names_;
    size_t i_ = 0;
    int nesting_ = 0;
};

std::string plainText(const Expr& e, const Scope& scope) {
    switch (e.kind) {
    case Expr::Kind::Text:
        return e.text;
    case Expr::Kind::Variable:
        return scope.variable(e.text);
    case Expr::Kind::Capture:
        return scope.captures && e.capture < static_cast<int>(scope.captures->size())
                   ? (*scope.captures)[static_cast<size_t>(e.capture)]
                   : std::string();
    default:
        return {};
    }
}

bool isPlain(const Expr& e) {
    return e.kind == Expr::Kind::Text || e.kind == Expr::Kind::Variable ||
           e.kind == Expr::Kind::Capture;
}

double randomBetween(double lo, double hi, std::mt19937_64* rng) {
    if (hi < lo) std::swap(lo, hi);
    const uint64_t r = rng ? (*rng)() : 0;
    // Whole bounds give whole numbers: `random(1, 6)` is a die.
    if (lo == std::floor(lo) && hi == std::floor(hi) && hi - lo < 9e15) {
        const auto span = static_cast<uint64_t>(hi - lo) + 1;
        return lo + static_cast<double>(r % span);
    }
    return lo + (hi - lo) * (static_cast<double>(r >> 11) * 0x1.0p-53);
}

} // namespace

bool parseExpression(const std::string& source, const NameCheck& names, Expr& out,
                     std::string& error) {
    return Parser(source, names).parse(out, error);
}

double toNumber(const std::string& text, bool* ok) {
    size_t a = 0, b = text.size();
    while (a < b && std::isspace(static_cast<unsigned char>(text[a])))
        ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(text[b - 1])))
        --b;
    const std::string t = text.substr(a, b - a);
    char* end = nullptr;
    const double v = t.empty() ? 0 : std::strtod(t.c_str(), &end);
    const bool good = !t.empty() && end == t.c_str() + t.size() && std::isfinite(v);
    if (ok) *ok = good;
    return good ? v : 0;
}

std::string formatNumber(double v, int decimals) {
    char buf[64];
    if (decimals >= 0) {
        std::snprintf(buf, sizeof buf, "%.*f", std::min(decimals, 15), v);
        // "-0.000" reads badly on an instrument's display.
        std::string s = buf;
        if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
        return s;
    }
    if (v == std::floor(v) && std::fabs(v) < 1e15) {
        std::snprintf(buf, sizeof buf, "%.0f", v == 0 ? 0.0 : v);
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%.12g", v);
    return buf;
}

double evaluateNumber(const Expr& e, const Scope& scope) {
    switch (e.kind) {
    case Expr::Kind::Number:
        return e.number;
    case Expr::Kind::Text:
    case Expr::Kind::Variable:
    case Expr::Kind::Capture:
        return toNumber(plainText(e, scope));
    case Expr::Kind::Negate:
        return -evaluateNumber(e.args[0], scope);
    case Expr::Kind::Binary: {
        const std::string& op = e.text;
        if (op == "==" || op == "!=") {
            const std::string a = evaluateText(e.args[0], scope);
            const std::string b = evaluateText(e.args[1], scope);
            bool na = false, nb = false;
            const double x = toNumber(a, &na), y = toNumber(b, &nb);
            const bool same = (na && nb) ? x == y : a == b;
            return (op == "==") == same ? 1 : 0;
        }
        const double x = evaluateNumber(e.args[0], scope);
        const double y = evaluateNumber(e.args[1], scope);
        if (op == "+") return x + y;
        if (op == "-") return x - y;
        if (op == "*") return x * y;
        if (op == "/" || op == "%") {
            if (y == 0) throw EvalError("division by zero");
            return op == "/" ? x / y : std::fmod(x, y);
        }
        if (op == "<") return x < y;
        if (op == ">") return x > y;
        if (op == "<=") return x <= y;
        return x >= y;
    }
    case Expr::Kind::Call: {
        const std::string& f = e.text;
        if (f == "if")
            return evaluateNumber(e.args[evaluateNumber(e.args[0], scope) != 0 ? 1 : 2], scope);
        std::vector<double> a;
        for (const auto& arg : e.args)
            a.push_back(evaluateNumber(arg, scope));
        if (f == "min" || f == "max") {
            double r = a[0];
            for (double x : a)
                r = f == "min" ? std::min(r, x) : std::max(r, x);
            return r;
        }
        if (f == "abs") return std::fabs(a[0]);
        if (f == "round") return std::round(a[0]);
        if (f == "floor") return std::floor(a[0]);
        return randomBetween(a[0], a[1], scope.random);
    }
    }
    return 0;
}

std::string evaluateText(const Expr& e, const Scope& scope) {
    if (isPlain(e)) return plainText(e, scope);
    if (e.kind == Expr::Kind::Call && e.text == "if")
        return evaluateText(e.args[evaluateNumber(e.args[0], scope) != 0 ? 1 : 2], scope);
    return formatNumber(evaluateNumber(e, scope));
}

} // namespace nv::sim
