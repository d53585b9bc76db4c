// Device files: the readable description of a simulated instrument that norvane-sim plays.
// A device either answers text requests, one per line, by rules (`on "*IDN?"`, `on /VOLT
// (.*)/i`, `otherwise`), or is a Modbus RTU slave answering binary frames from a table of
// registers. Both keep variables that rules and timed blocks (`every 500`) change.
//
// Reading a file checks everything that can be checked before the device runs: keywords,
// texts and their escapes, patterns, expressions, the names they use and the groups they take,
// so that a device never fails half-way through an exchange. docs/simulator.md describes the
// format for users.
//
// Threading: plain data, no shared state. Errors: parseDeviceFile() returns false and fills
// `errors` with one line per mistake, "line N: what is wrong"; it never throws.
#pragma once

#include "sim/expression.h"

#include <QRegularExpression>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace nv::sim {

// A text with `{expression}` parts, as in an answer.
struct Template {
    struct Piece {
        std::string literal; // used when `hasExpr` is false
        bool hasExpr = false;
        Expr expr;
        int decimals = -1; // `{expr:N}`
    };
    std::vector<Piece> pieces;
};

struct Action {
    enum class Kind { Reply, Set, Delay };
    Kind kind = Kind::Reply;
    Template text;        // Reply
    std::string variable; // Set
    Expr value;           // Set
    int ms = 0;           // Delay
    int line = 0;
};

struct Rule {
    enum class Match { Exact, Pattern, Otherwise };
    Match match = Match::Exact;
    std::string text;           // Exact
    QRegularExpression pattern; // Pattern, anchored to the whole request
    std::vector<Action> actions;
    int line = 0;
};

struct Timed {
    int ms = 0;
    std::vector<Action> actions;
    int line = 0;
};

struct Register {
    int address = 0;
    std::string variable;
    bool readOnly = false;
    int line = 0;
};

enum class LineEnd { LF, CR, CRLF, Any, None };

struct DeviceFile {
    enum class Protocol { Text, ModbusRtu };
    std::string name;
    Protocol protocol = Protocol::Text;
    LineEnd requestEnd = LineEnd::Any;
    LineEnd replyEnd = LineEnd::CRLF;
    std::optional<uint64_t> seed;
    int replyDelayMs = 0;
    int modbusAddress = 1;
    // Variables in the order of their declaration, with the expression of their start value.
    std::vector<std::pair<std::string, Expr>> variables;
    std::vector<Rule> rules;
    std::vector<Timed> timed;
    std::map<int, Register> registers; // by address
};

bool parseDeviceFile(const std::string& text, DeviceFile& out, std::vector<std::string>& errors);

const char* lineEndBytes(LineEnd e);

} // namespace nv::sim
