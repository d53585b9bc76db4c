// The checker: each program line read as the dispatcher, the evaluator and the condition
// rules will read it, and every trap on it reported with what the run will then do.
#include "engine/checker.h"

#include <algorithm>
#include <cctype>
#include <unordered_set>

#include "engine/interpreter.h"
#include "engine/lineinfo.h"
#include "engine/runcontrol.h"
#include "engine/runtime.h"
#include "engine/text.h"
#include "engine/value.h"

namespace nv {

namespace {

// Block keywords the dispatcher passes through as lines without effect.
constexpr std::string_view kPassWords[] = {"else",    "endif", "next", "wend",
                                           "procend", "end",   "begin"};
// Statements whose keyword is followed by one blank and the parenthesis.
constexpr std::string_view kHeaders[] = {"for", "if", "while", "elseif", "until"};

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// A piece of script text short enough to quote in one line.
std::string excerpt(std::string_view s) {
    constexpr size_t kMax = 40;
    if (s.size() <= kMax) return std::string(s);
    return std::string(s.substr(0, kMax - 3)) + "...";
}

std::string countsText(const std::vector<int>& counts) {
    std::string s;
    for (size_t i = 0; i < counts.size(); ++i) {
        if (i) s += i + 1 == counts.size() ? " or " : ", ";
        s += std::to_string(counts[i]);
    }
    s += counts.size() == 1 && counts[0] == 1 ? " argument" : " arguments";
    return s;
}

bool isKeywordWord(std::string_view lower) {
    for (auto w : kPassWords)
        if (lower == w) return true;
    return lower == "repeat" || lower == "break" || lower == "exit";
}

// The depth-0 facts of a group's inner text: its operators outside quotes and whether a
// nested group stands in it.
struct TopLevel {
    bool arithmetic = false, concat = false, nested = false;
    std::string_view text;
};
TopLevel topLevel(std::string_view inner) {
    TopLevel t;
    t.text = inner;
    int depth = 0;
    bool quoted = false;
    for (char c : inner) {
        if (c == '(') {
            ++depth;
            t.nested = true;
        } else if (c == ')') {
            --depth;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && depth == 0) {
            if (c == '&')
                t.concat = true;
            else if (isOperator(c))
                t.arithmetic = true;
        }
    }
    return t;
}

// The inner text with its nested groups taken out, as the condition rules see it once the
// inner groups are reduced.
std::string withoutGroups(std::string_view inner) {
    std::string out;
    int depth = 0;
    for (char c : inner) {
        if (c == '(')
            ++depth;
        else if (c == ')')
            --depth;
        else if (depth == 0)
            out += c;
    }
    return out;
}

// The lower-cased name a line defines as a procedure, however it is indented or spaced;
// empty when it defines none.
std::string procedureName(std::string_view line) {
    const std::string_view d = trimView(line);
    if (d.size() <= 10 || !equalsNoCase(d.substr(0, 10), "procedure ")) return {};
    return lowerAscii(trimView(d.substr(10)));
}

} // namespace

bool headerWithoutBlank(std::string_view trimmed) {
    for (auto h : kHeaders) {
        if (!startsWith(trimmed, h)) continue;
        const std::string_view rest = trimmed.substr(h.size());
        const size_t paren = rest.find_first_not_of(" \t");
        if (paren != std::string_view::npos && rest[paren] == '(' && !startsWith(rest, " ("))
            return true;
    }
    return false;
}

bool passesThrough(std::string_view trimmed, std::string_view raw) {
    for (auto w : kPassWords)
        if (trimmed == w) return true;
    return startsWith(trimmed, "elseif (") || startsWith(trimmed, "until (") ||
           startsWith(raw, "include(");
}

std::string noFormTrap(const Runtime& rt, const std::vector<std::string>& program, int index,
                       const std::unordered_set<std::string>* procedures) {
    const std::string t = trim(program[static_cast<size_t>(index)]);
    const std::string c = compact(t);
    const std::string lower = lowerAscii(t);
    if (headerWithoutBlank(t)) {
        const std::string h = t.substr(0, t.find_first_of(" \t("));
        return h + " needs exactly one blank before its parenthesis, " + h +
               " (...): as written the line is no statement (with an = in it, an assignment "
               "to a variable named by the text before the =) and does nothing";
    }
    if (startsWith(c, "include("))
        return "an include( line is expanded only when it starts at the line's first "
               "character, written include( without a blank: this one does nothing";
    if (lower != t) {
        bool keyword = isKeywordWord(lower);
        for (auto h : kHeaders)
            keyword |= startsWith(lower, std::string(h) + " (");
        for (const auto& row : rt.commands())
            keyword |= startsWith(row.onCompact ? compact(lower) : lower, row.keyword);
        if (keyword)
            return "keywords are lower case: " + excerpt(t) +
                   " is no statement or command and does nothing";
    }
    bool defined = false;
    if (!t.empty() && std::all_of(t.begin(), t.end(), isNameChar)) {
        if (procedures) {
            defined = procedures->count(lower) > 0;
        } else {
            for (const std::string& p : program)
                defined |= procedureName(p) == lower;
        }
    }
    if (defined)
        return "the procedure " + excerpt(t) +
               " is defined on an indented line or with extra blanks, where no call finds it: "
               "this line does nothing";
    std::string name;
    std::vector<std::string> args;
    if (splitCall(c, name, args) && !name.empty()) {
        for (const auto& f : rt.functions())
            if (f.name == name)
                return name +
                       "( is a function, and a line of its own is no statement: its "
                       "value is not used (write: variable = " +
                       name + "(...))";
        return name + "( is no command, statement, procedure call or assignment: the line "
                      "does nothing";
    }
    return excerpt(t) +
           " is no statement, block keyword, command, procedure call or assignment: the line "
           "does nothing";
}

std::string commandFormTrap(std::string_view keyword, const std::vector<int>& counts,
                            std::string_view line) {
    std::string name(keyword);
    if (!name.empty() && name.back() == '(') name.pop_back();
    std::string written;
    std::vector<std::string> args;
    if (!splitCall(line, written, args))
        return name + " is written with its parentheses, " + name +
               "(): without them the line does nothing";
    if (written != name)
        return "the line begins with " + std::string(keyword) + " but calls " + excerpt(written) +
               ": it does nothing";
    return name + "( takes " + countsText(counts) + ", not " + std::to_string(args.size()) +
           ": the line does nothing";
}

std::string conditionTrap(std::string_view condition, bool evaluated) {
    return "the condition " + excerpt(trimView(condition)) +
           (evaluated ? " compares nothing" : " cannot be evaluated");
}

// Reads one prepared program. A friend of the interpreter: it uses the same line facts a run
// computes.
class Checker {
  public:
    Checker(Runtime& rt, const CheckOptions& options) : rt_(rt), options_(options), ex_(rt) {
        ex_.textsOnly_ = true;
    }

    std::vector<Finding> run(const std::vector<std::string>& editorLines);

  private:
    void add(int index, std::string_view kind, std::string text);
    void addEditor(int editorLine, std::string_view kind, std::string text);
    void checkLine(int index);
    void checkCommand(int index, const Interpreter::LineInfo& li);
    void checkExpression(int index, std::string_view compacted);
    enum class Stmt { If, Elseif, While, Until };
    void checkCondition(int index, std::string_view text, Stmt stmt);
    // False when the quotes do not pair up, which upsets everything else on the line.
    bool checkBalance(int index, std::string_view t);
    void checkBreaks();

    Runtime& rt_;
    const CheckOptions& options_;
    Interpreter ex_;
    std::vector<Finding> findings_;
    // Names of every procedure definition line, indented or not (read once, when needed).
    std::unordered_set<std::string> procedures_;
    bool proceduresRead_ = false;
};

void Checker::add(int index, std::string_view kind, std::string text) {
    const SourceLine at = ex_.origins().at(index);
    findings_.push_back({at.file, at.line + 1, kind, std::move(text)});
}

void Checker::addEditor(int editorLine, std::string_view kind, std::string text) {
    findings_.push_back({{}, editorLine + 1, kind, std::move(text)});
}

std::vector<Finding> Checker::run(const std::vector<std::string>& editorLines) {
    const std::string refused = validateBlocks(editorLines);
    if (!refused.empty()) {
        for (const std::string& part : splitLines(refused)) {
            std::string_view p = trimView(part);
            if (p.empty()) continue;
            if (startsWith(p, "Error: ")) p.remove_prefix(7);
            int line = static_cast<int>(editorLines.size());
            if (const size_t on = p.find(" on line "); on != std::string_view::npos)
                line = std::atoi(std::string(p.substr(on + 9)).c_str());
            findings_.push_back({{},
                                 std::max(line, 1),
                                 "block",
                                 std::string(p) + ": the run is refused and nothing runs"});
        }
    }

    // Includes: read only with their own password, and never by evaluating a call.
    struct Asked {
        int line;
        std::string file;
    };
    std::vector<Asked> read;
    ex_.includeGate = [&](int line, const std::string& file, const std::string& password) {
        if (options_.havePassword && password == options_.password) {
            read.push_back({line, file});
            return true;
        }
        addEditor(line, "include",
                  "\"" + excerpt(file) + "\" is not checked: " +
                      (options_.havePassword ? "the password given is not its password"
                                             : "its password was not given"));
        return false;
    };
    // Deciphering advances the program's one random generator state; a check leaves it as
    // it found it.
    const uint32_t randomState = rt_.randomState;
    ex_.variables().set("error", "0");
    ex_.prepare(editorLines);
    rt_.randomState = randomState;
    ex_.includeGate = nullptr;
    for (const Asked& a : read) {
        bool brought = false;
        for (int k = 0; k < static_cast<int>(ex_.program().size()) && !brought; ++k) {
            const SourceLine at = ex_.origins().at(k);
            brought = !at.file.empty() && at.editorLine == a.line;
        }
        if (!brought)
            addEditor(a.line, "include",
                      "\"" + excerpt(a.file) +
                          "\" cannot be read (or is empty): the run goes on without it");
    }

    const int last = static_cast<int>(ex_.program().size()) - 1;
    for (int k = 1; k < last; ++k)
        checkLine(k);
    checkBreaks();
    std::stable_sort(findings_.begin(), findings_.end(), [](const Finding& a, const Finding& b) {
        if (a.file.empty() != b.file.empty()) return a.file.empty();
        if (a.file != b.file) return a.file < b.file;
        return a.line < b.line;
    });
    return std::move(findings_);
}

void Checker::checkLine(int index) {
    const Interpreter::LineInfo& li = ex_.line(index);
    const std::string& t = li.trimmed;
    if (t.empty() || li.kind == LineKind::Comment) return;
    if (!checkBalance(index, t)) return;
    switch (li.kind) {
    case LineKind::For:
        if (!li.forValid) {
            add(index, "line",
                "a for ( line is for (name, start, end, step): this one is no statement, so its "
                "body runs once as plain lines");
            return;
        }
        for (const CachedExpr& e : li.forArgs)
            checkExpression(index, e.text);
        return;
    case LineKind::If:
        checkCondition(index, li.cond.text, Stmt::If);
        return;
    case LineKind::While:
        checkCondition(index, li.cond.text, Stmt::While);
        return;
    case LineKind::Other:
        break;
    default:
        return;
    }
    if (startsWith(t, "elseif (")) {
        checkCondition(index, li.cond.text, Stmt::Elseif);
        return;
    }
    if (startsWith(t, "until (")) {
        checkCondition(index, li.cond.text, Stmt::Until);
        return;
    }
    if (li.noForm) {
        if (!proceduresRead_) {
            for (const std::string& p : ex_.program())
                if (std::string name = procedureName(p); !name.empty())
                    procedures_.insert(std::move(name));
            proceduresRead_ = true;
        }
        add(index, "line", noFormTrap(rt_, ex_.program(), index, &procedures_));
        return;
    }
    if (!li.commandRows.empty()) {
        checkCommand(index, li);
        return;
    }
    if (!li.assignName.empty()) checkExpression(index, li.value.text);
}

void Checker::checkCommand(int index, const Interpreter::LineInfo& li) {
    const std::string& t = li.trimmed;
    const Runtime::CommandRow& row = rt_.commands()[static_cast<size_t>(li.commandRows.front())];
    if (!row.onCompact) {
        const std::string_view rest = trimView(std::string_view(t).substr(row.keyword.size()));
        if (!rest.empty() && rest.front() != '(') {
            size_t n = 0;
            while (n < t.size() && isNameChar(t[n]))
                ++n;
            add(index, "prefix",
                "the line begins with the command word " + std::string(row.keyword) +
                    ", so it is that command and no assignment to " + excerpt(t.substr(0, n)) +
                    " happens");
            return;
        }
    }
    if (row.argCounts.empty()) return;
    std::string name;
    std::vector<std::string> args;
    std::string keyword(row.keyword);
    if (!keyword.empty() && keyword.back() == '(') keyword.pop_back();
    bool fits = splitCall(t, name, args) && name == keyword;
    if (fits)
        fits = std::find(row.argCounts.begin(), row.argCounts.end(),
                         static_cast<int>(args.size())) != row.argCounts.end();
    if (!fits) {
        add(index, "args", commandFormTrap(row.keyword, row.argCounts, t));
        return;
    }
    for (const std::string& a : args)
        checkExpression(index, compact(a));
}

// Pairs of parentheses as the evaluator meets them (innermost first, quotes not considered),
// each taken for a group or a call by the character before it.
void Checker::checkExpression(int index, std::string_view s) {
    std::vector<bool> quoted(s.size());
    bool q = false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '"') q = !q;
        quoted[i] = q && s[i] != '"';
    }
    std::vector<size_t> opens;
    bool quotedReported = false;
    for (size_t close = 0; close < s.size(); ++close) {
        if (s[close] == '(') opens.push_back(close);
        if (s[close] != ')' || opens.empty()) continue;
        const size_t open = opens.back();
        opens.pop_back();
        const std::string_view inner = s.substr(open + 1, close - open - 1);
        const bool group = open == 0 || isGrouping(s[open - 1]);
        size_t from = open;
        if (!group) {
            from = open - 1;
            while (from > 0 && !isNameStopper(s[from - 1]))
                --from;
        }
        const std::string_view name = s.substr(from, open - from);
        if (quoted[open]) {
            if (!quotedReported)
                add(index, "quoted",
                    group ? "(" + excerpt(inner) +
                                ") inside a quoted text is still evaluated as a group: it "
                                "becomes the value of what it holds, and when that is empty "
                                "nothing after it in the expression is evaluated"
                          : excerpt(name) + "(" + excerpt(inner) +
                                ") inside a quoted text is still read as a call (of " +
                                excerpt(name) +
                                "), which fails the expression when no such "
                                "function exists");
            quotedReported = true;
            continue;
        }
        if (group) {
            const TopLevel top = topLevel(inner);
            const bool plainOperand =
                !top.arithmetic && !top.concat && !top.nested && !inner.empty() && !isNumber(inner);
            if (!top.arithmetic && (top.concat || plainOperand))
                add(index, "indirect",
                    "(" + excerpt(inner) +
                        ") is a group: its value is put back without quotes and read again, as "
                        "the name of a variable unless it is a number; without the "
                        "parentheses it is the plain value");
            continue;
        }
        std::string callName;
        std::vector<std::string> args;
        splitCall(s.substr(from, close - from + 1), callName, args);
        if (functionRow(rt_, name, args.size()) >= 0) continue;
        std::vector<int> counts;
        for (const auto& f : rt_.functions())
            if (f.name == name) counts.push_back(f.argc);
        std::string why;
        if (!counts.empty())
            why = std::string(name) + " takes " + countsText(counts) + ", not " +
                  std::to_string(args.size());
        else if (name.find(',') != std::string_view::npos)
            why = "a parenthesis right after a comma opens no group: it is read as a call of " +
                  excerpt(name);
        else if (functionRow(rt_, lowerAscii(name), args.size()) >= 0)
            why = "function names are lower case: " + excerpt(name) + " is no function";
        else
            why = "there is no function " + excerpt(name);
        add(index, "function",
            why + ": the call fails, and the expression with it (its value is empty)");
    }
}

void Checker::checkCondition(int index, std::string_view text, Stmt stmt) {
    const std::string s = compact(text);
    const char* unevaluable = "";
    const char* neverTrue = "";
    switch (stmt) {
    case Stmt::If:
        unevaluable = "the if does nothing, and its lines, its else lines and endif all run as "
                      "plain lines";
        neverTrue = "the if never takes its first branch";
        break;
    case Stmt::Elseif:
        unevaluable = "when it is reached, the elseif and every line after it up to endif run "
                      "as plain lines";
        neverTrue = "its branch never runs";
        break;
    case Stmt::While:
        unevaluable = "the while does nothing, and its body runs once as plain lines";
        neverTrue = "the body never runs";
        break;
    case Stmt::Until:
        unevaluable = "the condition never ends the repeat (only break or exit do)";
        neverTrue = unevaluable;
        break;
    }
    auto report = [&](const std::string& why, bool evaluable) {
        add(index, "condition", why + ": " + (evaluable ? neverTrue : unevaluable));
    };

    std::vector<size_t> opens;
    bool compared = false;
    for (size_t close = 0; close < s.size(); ++close) {
        if (s[close] == '(') opens.push_back(close);
        if (s[close] != ')') continue;
        if (opens.empty()) {
            report("a ) stands without its (, so the condition cannot be evaluated", false);
            return;
        }
        const size_t open = opens.back();
        opens.pop_back();
        const std::string_view inner = std::string_view(s).substr(open + 1, close - open - 1);
        const char before = open > 0 ? s[open - 1] : '(';
        if (before != '(' && !isGrouping(before) &&
            std::string_view("=<>|!,\"").find(before) == std::string_view::npos) {
            size_t from = open - 1;
            while (from > 0 && !isNameStopper(s[from - 1]) && s[from - 1] != '=' &&
                   s[from - 1] != '<' && s[from - 1] != '>')
                --from;
            report("a function call (" + excerpt(s.substr(from, open - from)) +
                       "() is not called inside a condition: the value of its argument is put "
                       "after the name, so the condition cannot be evaluated",
                   false);
            return;
        }
        const std::string top = withoutGroups(inner);
        size_t p;
        const int op = findComparisonOperator(top, p);
        if (op < 0) {
            const TopLevel t = topLevel(inner);
            if (!opens.empty() && !t.arithmetic && !t.nested && !inner.empty() && !isNumber(inner))
                add(index, "indirect",
                    "(" + excerpt(inner) +
                        ") is a group: its value is put back without quotes and read again, as "
                        "the name of a variable unless it is a number; without the "
                        "parentheses it is the plain value");
            continue;
        }
        compared = true;
        if (top.find("&&") != std::string::npos || top.find("||") != std::string::npos) {
            report("&& and || join comparisons only between their own parentheses, as in (a "
                   "== 1) && (b == 2): here the comparison takes the rest as one side",
                   true);
            return;
        }
        const std::string_view left = trimView(std::string_view(top).substr(0, p));
        const std::string_view right = trimView(std::string_view(top).substr(p + 2));
        if (left == "\"\"" || right == "\"\"") {
            report("a comparison with the empty text \"\" cannot be made (a side whose value is "
                   "empty fails), so the condition cannot be evaluated; compare len(...) "
                   "instead",
                   false);
            return;
        }
    }
    if (compared) return;
    // Without a comparison the text is one expression; a single =, > or < (or !) in it makes
    // an operand that names nothing, and the condition cannot be evaluated.
    bool stray = false, q = false;
    for (char c : s) {
        if (c == '"')
            q = !q;
        else if (!q && std::string_view("=<>!").find(c) != std::string_view::npos)
            stray = true;
    }
    if (stray)
        report("the condition holds no comparison (they are ==, <>, >>, <<, >=, <=; a single "
               "=, > or < is none), so it cannot be evaluated",
               false);
    else
        report("the condition compares nothing (the comparisons are ==, <>, >>, <<, >=, <=), "
               "so it is never true",
               true);
}

bool Checker::checkBalance(int index, std::string_view t) {
    size_t quotes = 0;
    for (char c : t)
        quotes += c == '"';
    if (quotes % 2) {
        add(index, "unbalanced",
            "an odd number of double quotes (a quoted text cannot hold a quote): the text "
            "after the last one is read as quoted");
        return false;
    }
    int depth = 0, lowest = 0;
    bool q = false;
    for (char c : t) {
        if (c == '"')
            q = !q;
        else if (!q && c == '(')
            ++depth;
        else if (!q && c == ')')
            lowest = std::min(lowest, --depth);
    }
    if (depth != 0 || lowest < 0)
        add(index, "unbalanced",
            lowest < 0 ? "a ) closes no ( (outside quotes)"
                       : "a ( is never closed (outside quotes)");
    return true;
}

// `break` against the block structure: a loop with a pending break looks for the first line
// that ends its kind of loop, nested or not, since the lines in between are not run.
void Checker::checkBreaks() {
    struct Open {
        LineKind kind;
        int line;
        int close = -1;
    };
    std::vector<Open> blocks;
    std::vector<size_t> stack;
    struct Break {
        int line;
        int loop; // index into blocks, -1: none
        bool inProcedure;
    };
    std::vector<Break> breaks;
    const int last = static_cast<int>(ex_.program().size()) - 1;
    auto closes = [](LineKind kind, const std::string& t) {
        switch (kind) {
        case LineKind::For:
            return t == "next";
        case LineKind::If:
            return t == "endif";
        case LineKind::While:
            return t == "wend";
        case LineKind::Repeat:
            return startsWith(t, "until (");
        case LineKind::ProcDef:
            return t == "procend";
        default:
            return false;
        }
    };
    for (int k = 1; k < last; ++k) {
        const Interpreter::LineInfo& li = ex_.line(k);
        switch (li.kind) {
        case LineKind::For:
        case LineKind::If:
        case LineKind::While:
        case LineKind::Repeat:
        case LineKind::ProcDef:
            blocks.push_back({li.kind, k});
            stack.push_back(blocks.size() - 1);
            continue;
        case LineKind::Break: {
            Break b{k, -1, false};
            for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
                const LineKind kind = blocks[*it].kind;
                if (kind == LineKind::ProcDef) {
                    b.inProcedure = true;
                    break;
                }
                if (kind != LineKind::If && b.loop < 0) b.loop = static_cast<int>(*it);
            }
            breaks.push_back(b);
            continue;
        }
        default:
            break;
        }
        if (!stack.empty() && closes(blocks[stack.back()].kind, li.trimmed)) {
            blocks[stack.back()].close = k;
            stack.pop_back();
        }
    }
    for (const Break& b : breaks) {
        if (b.loop < 0) {
            if (!b.inProcedure)
                add(b.line, "break",
                    "break outside any loop: every line after it is passed over and the run "
                    "ends");
            continue;
        }
        const Open& loop = blocks[static_cast<size_t>(b.loop)];
        if (loop.close < 0) continue;
        for (int j = b.line + 1; j < loop.close; ++j) {
            if (ex_.line(j).kind != loop.kind) continue;
            const char* word = loop.kind == LineKind::For     ? "for ("
                               : loop.kind == LineKind::While ? "while ("
                                                              : "repeat";
            const char* end = loop.kind == LineKind::For     ? "next"
                              : loop.kind == LineKind::While ? "wend"
                                                             : "until (";
            add(b.line, "break",
                std::string("when this break runs, its ") + word + " loop looks for its " + end +
                    " and stops at the first one, that of the nested " + word + " on line " +
                    std::to_string(ex_.origins().at(j).line + 1) +
                    ": the lines after it run once more as plain lines");
            break;
        }
    }
}

std::vector<Finding> checkScript(Runtime& rt, const std::vector<std::string>& editorLines,
                                 const CheckOptions& options) {
    return Checker(rt, options).run(editorLines);
}

std::string formatFinding(const Finding& f, std::string_view scriptName) {
    std::string s = f.file.empty() ? std::string(scriptName) : f.file;
    s += ':';
    s += std::to_string(f.line);
    s += ": ";
    s += f.kind;
    s += ": ";
    s += f.text;
    return s;
}

} // namespace nv
