// The small expression language of device files: what stands between the braces of an answer
// (`{vset * out + random(-0.002, 0.002):3}`) and on the right of `set` and `var`.
//
// Values are texts, as in the device's variables; arithmetic reads them as numbers (a text
// that is no number counts as 0). The usual precedence holds (unlike the script language,
// whose users write device files too: a device file reads like the instrument's manual, and
// there `1 + 2 * 3` is 7). A bare variable, capture (`$1`) or quoted text stands for its text
// unchanged, so that an answer can echo what was asked; anything computed is written as a
// number, with a fixed number of decimals when `:N` follows the expression.
//
// Parsing happens when the device file is read, so that every mistake is reported with its
// line before the device starts; evaluation only fails on a division by zero.
//
// Threading: plain values, no shared state; evaluation uses the scope it is given. Errors:
// parse() returns false with a message; evaluate() throws EvalError.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace nv::sim {

struct Expr {
    enum class Kind { Number, Text, Variable, Capture, Negate, Binary, Call };
    Kind kind = Kind::Number;
    double number = 0;
    std::string text; // the literal, the variable's name, the operator or the function's name
    int capture = 0;
    std::vector<Expr> args;
    // Operators from here down to the deepest value, counted while the tree is parsed:
    // evaluating and freeing a tree recurse, so none deeper than kSimExpressionDepth is built.
    int depth = 0;
};

struct EvalError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What an expression can see while it is evaluated.
struct Scope {
    std::function<std::string(const std::string&)> variable;
    const std::vector<std::string>* captures = nullptr;
    std::mt19937_64* random = nullptr;
};

// What the parser checks names against.
struct NameCheck {
    std::function<bool(const std::string&)> isVariable;
    int captureCount = 0; // captures $0..$captureCount are valid; -1: no request at all
};

// Parses `source` whole. On failure `error` says what is wrong, in words for the file's author.
bool parseExpression(const std::string& source, const NameCheck& names, Expr& out,
                     std::string& error);

std::string evaluateText(const Expr& e, const Scope& scope);
double evaluateNumber(const Expr& e, const Scope& scope);

// A number as the device writes it: `decimals` fixed places, or (when negative) a whole
// number without a point and anything else in at most 12 significant digits.
std::string formatNumber(double v, int decimals = -1);

// The text read as a number: the whole (trimmed) text must be one, else `ok` is false and 0.
double toNumber(const std::string& text, bool* ok = nullptr);

} // namespace nv::sim
