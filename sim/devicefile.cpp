#include "sim/devicefile.h"

#include <cctype>
#include <cstdlib>
#include <deque>
#include <set>
#include <sstream>

namespace nv::sim {

namespace {

struct LineError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a])))
        ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1])))
        --b;
    return s.substr(a, b - a);
}

bool isName(const std::string& s) {
    if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
    for (char c : s)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    return true;
}

// Reads a quoted text starting at s[i] == '"', with the escapes \r \n \t \0 \\ \" \xHH.
// Returns the bytes; `i` ends after the closing quote.
std::string quoted(const std::string& s, size_t& i) {
    std::string out;
    ++i;
    while (i < s.size() && s[i] != '"') {
        char c = s[i++];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i >= s.size()) break;
        const char e = s[i++];
        switch (e) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '0':
            out += '\0';
            break;
        case '\\':
            out += '\\';
            break;
        case '"':
            out += '"';
            break;
        case 'x': {
            const std::string hex = s.substr(i, 2);
            if (hex.size() != 2 || !std::isxdigit(static_cast<unsigned char>(hex[0])) ||
                !std::isxdigit(static_cast<unsigned char>(hex[1])))
                throw LineError("\\x must be followed by two hexadecimal digits");
            out += static_cast<char>(std::strtol(hex.c_str(), nullptr, 16));
            i += 2;
            break;
        }
        default:
            throw LineError(std::string("unknown escape \\") + e +
                            " (known: \\r \\n \\t \\0 \\\\ \\\" \\xHH)");
        }
    }
    if (i >= s.size()) throw LineError("a text in quotes is not closed");
    ++i;
    return out;
}

// The rest of a line after a quoted text or a pattern may hold only a comment.
void expectEnd(const std::string& s, size_t i) {
    const std::string rest = trim(s.substr(i));
    if (!rest.empty() && rest[0] != '#') throw LineError("unexpected \"" + rest + "\"");
}

int wholeNumber(const std::string& word, const char* what, int lo, int hi) {
    char* end = nullptr;
    const long v = std::strtol(word.c_str(), &end, 0);
    if (word.empty() || *end || v < lo || v > hi)
        throw LineError(std::string(what) + " must be a whole number from " + std::to_string(lo) +
                        " to " + std::to_string(hi) + ", not \"" + word + "\"");
    return static_cast<int>(v);
}

LineEnd lineEnd(const std::string& word, bool forRequests) {
    if (word == "LF") return LineEnd::LF;
    if (word == "CR") return LineEnd::CR;
    if (word == "CRLF") return LineEnd::CRLF;
    if (forRequests && word == "ANY") return LineEnd::Any;
    if (!forRequests && word == "NONE") return LineEnd::None;
    throw LineError("a line end is LF, CR, CRLF or " + std::string(forRequests ? "ANY" : "NONE") +
                    ", not \"" + word + "\"");
}

// A "#" after a blank, outside quotes, starts a comment.
std::string withoutComment(const std::string& line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\')
            ++i;
        else if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == '#' && !quoted &&
                 (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1]))))
            return line.substr(0, i);
    }
    return line;
}

class Reader {
  public:
    explicit Reader(DeviceFile& d) : d_(d) {}

    void line(int number, const std::string& raw) {
        number_ = number;
        const std::string s = trim(withoutComment(raw));
        if (s.empty() || s[0] == '#') return;
        size_t sp = 0;
        while (sp < s.size() && !std::isspace(static_cast<unsigned char>(s[sp])))
            ++sp;
        const std::string word = s.substr(0, sp);
        const std::string rest = trim(s.substr(sp));
        if (word == "name") {
            size_t i = 0;
            if (rest.empty() || rest[0] != '"') throw LineError("name wants a text in quotes");
            d_.name = quoted(rest, i);
            expectEnd(rest, i);
        } else if (word == "protocol") {
            if (!rules_.empty() || !timed_.empty() || !d_.registers.empty())
                throw LineError("protocol must come before the rules and registers");
            if (rest == "text")
                d_.protocol = DeviceFile::Protocol::Text;
            else if (rest == "modbus-rtu")
                d_.protocol = DeviceFile::Protocol::ModbusRtu;
            else
                throw LineError("protocol is text or modbus-rtu, not \"" + rest + "\"");
        } else if (word == "request-end") {
            d_.requestEnd = lineEnd(rest, true);
        } else if (word == "reply-end") {
            d_.replyEnd = lineEnd(rest, false);
        } else if (word == "seed") {
            char* end = nullptr;
            const unsigned long long v = std::strtoull(rest.c_str(), &end, 10);
            if (rest.empty() || *end) throw LineError("seed wants a whole number");
            d_.seed = v;
        } else if (word == "reply-delay") {
            d_.replyDelayMs = wholeNumber(rest, "reply-delay", 0, 60000);
        } else if (word == "address") {
            d_.modbusAddress = wholeNumber(rest, "a Modbus address", 1, 247);
        } else if (word == "var") {
            declare(rest, false, 0);
        } else if (word == "register") {
            if (d_.protocol != DeviceFile::Protocol::ModbusRtu)
                throw LineError("register needs \"protocol modbus-rtu\" first");
            std::istringstream in(rest);
            std::string addr;
            in >> addr;
            const int a = wholeNumber(addr, "a register address", 0, 65535);
            if (d_.registers.count(a))
                throw LineError("register " + addr + " is already declared on line " +
                                std::to_string(d_.registers[a].line));
            std::string tail;
            std::getline(in, tail);
            declare(trim(tail), true, a);
        } else if (word == "on" || word == "otherwise") {
            if (d_.protocol != DeviceFile::Protocol::Text)
                throw LineError("a modbus-rtu device answers from its registers; rules (" + word +
                                ") are for text devices");
            startRule(word, rest);
        } else if (word == "every") {
            Timed t;
            t.ms = wholeNumber(rest, "every", 10, 3600000);
            t.line = number_;
            timed_.push_back(std::move(t));
            current_ = &timed_.back().actions;
            captures_ = -1;
        } else if (word == "reply" || word == "set" || word == "delay") {
            action(word, rest);
        } else {
            throw LineError("unknown keyword \"" + word + "\"");
        }
    }

    // Rules and blocks are collected in deques, where the action list being filled stays in
    // place while more blocks are added.
    void finish() {
        for (auto& r : rules_)
            d_.rules.push_back(std::move(r));
        for (auto& t : timed_)
            d_.timed.push_back(std::move(t));
    }

    bool known(const std::string& name) const { return names_.count(name) > 0; }

  private:
    void declare(const std::string& text, bool isRegister, int address) {
        const size_t eq = text.find('=');
        if (eq == std::string::npos)
            throw LineError(
                std::string(isRegister ? "register ADDRESS NAME [readonly]" : "var NAME") +
                " = VALUE: the \"=\" is missing");
        std::istringstream words(text.substr(0, eq));
        std::string name, flag, extra;
        words >> name >> flag >> extra;
        if (!isName(name))
            throw LineError("\"" + name + "\" is not a name (letters, digits and _)");
        if (!extra.empty() || (!flag.empty() && (!isRegister || flag != "readonly")))
            throw LineError("unexpected \"" + trim(text.substr(0, eq).substr(name.size())) + "\"");
        if (known(name)) throw LineError("\"" + name + "\" is already declared");
        Expr value;
        parse(trim(text.substr(eq + 1)), -1, value);
        names_.insert(name);
        d_.variables.emplace_back(name, std::move(value));
        if (isRegister) {
            Register r;
            r.address = address;
            r.variable = name;
            r.readOnly = flag == "readonly";
            r.line = number_;
            d_.registers[address] = r;
        }
    }

    void startRule(const std::string& word, const std::string& rest) {
        Rule r;
        r.line = number_;
        if (word == "otherwise") {
            if (!rest.empty() && rest[0] != '#')
                throw LineError("otherwise takes nothing after it");
            r.match = Rule::Match::Otherwise;
            captures_ = 0;
        } else if (!rest.empty() && rest[0] == '"') {
            size_t i = 0;
            r.match = Rule::Match::Exact;
            r.text = quoted(rest, i);
            expectEnd(rest, i);
            captures_ = 0;
        } else if (!rest.empty() && rest[0] == '/') {
            std::string pattern;
            size_t i = 1;
            for (; i < rest.size() && rest[i] != '/'; ++i) {
                if (rest[i] == '\\' && i + 1 < rest.size() && rest[i + 1] == '/')
                    ++i;
                else if (rest[i] == '\\' && i + 1 < rest.size())
                    pattern += rest[i++];
                pattern += rest[i];
            }
            if (i >= rest.size()) throw LineError("the pattern has no closing \"/\"");
            ++i;
            auto options = QRegularExpression::NoPatternOption;
            if (i < rest.size() && rest[i] == 'i') {
                options = QRegularExpression::CaseInsensitiveOption;
                ++i;
            }
            expectEnd(rest, i);
            r.match = Rule::Match::Pattern;
            // Requests are bytes: pattern and request are both read as Latin-1, so that
            // every byte stands for itself.
            r.pattern =
                QRegularExpression(QRegularExpression::anchoredPattern(QString::fromLatin1(
                                       pattern.data(), static_cast<qsizetype>(pattern.size()))),
                                   options);
            if (!r.pattern.isValid())
                throw LineError("the pattern is not valid: " +
                                r.pattern.errorString().toStdString() + " at column " +
                                std::to_string(r.pattern.patternErrorOffset() -
                                               static_cast<int>(std::string("\\A(?:").size()) + 1));
            captures_ = r.pattern.captureCount();
        } else {
            throw LineError("on wants a request in quotes (\"*IDN?\") or a pattern (/VOLT (.*)/)");
        }
        rules_.push_back(std::move(r));
        current_ = &rules_.back().actions;
    }

    void action(const std::string& word, const std::string& rest) {
        if (!current_)
            throw LineError(word + " belongs to a rule (on, otherwise) or an every block");
        Action a;
        a.line = number_;
        if (word == "reply") {
            if (d_.protocol != DeviceFile::Protocol::Text)
                throw LineError("a modbus-rtu device answers from its registers; reply is for "
                                "text devices");
            if (rest.empty() || rest[0] != '"') throw LineError("reply wants a text in quotes");
            size_t i = 0;
            a.kind = Action::Kind::Reply;
            a.text = templateOf(rest, i);
            expectEnd(rest, i);
        } else if (word == "set") {
            const size_t eq = rest.find('=');
            if (eq == std::string::npos) throw LineError("set NAME = VALUE: the \"=\" is missing");
            a.kind = Action::Kind::Set;
            a.variable = trim(rest.substr(0, eq));
            if (!known(a.variable))
                throw LineError("unknown variable \"" + a.variable + "\" (declare it with var)");
            parse(trim(rest.substr(eq + 1)), captures_, a.value);
        } else {
            a.kind = Action::Kind::Delay;
            a.ms = wholeNumber(rest, "delay", 0, 60000);
        }
        current_->push_back(std::move(a));
    }

    // A quoted answer with `{expression}` and `{expression:N}` parts; `{{` and `}}` are braces.
    Template templateOf(const std::string& s, size_t& i) {
        // Find the closing quote first, then split the raw text. Escapes hide quotes, and so
        // do braces: `{if(on, "ON", "OFF")}` has texts of its own.
        size_t j = i + 1;
        bool inBraces = false, inText = false;
        for (; j < s.size() && (inBraces || s[j] != '"'); ++j) {
            if (inText) {
                inText = s[j] != '"';
            } else if (inBraces) {
                inText = s[j] == '"';
                inBraces = s[j] != '}';
            } else if (s[j] == '\\') {
                ++j;
            } else if (s[j] == '{') {
                if (j + 1 < s.size() && s[j + 1] == '{')
                    ++j;
                else
                    inBraces = true;
            }
        }
        if (j >= s.size())
            throw LineError(inBraces || inText ? "a \"{\" is not closed (write {{ for a brace)"
                                               : "a text in quotes is not closed");
        const std::string body = s.substr(i + 1, j - i - 1);
        i = j + 1;
        Template t;
        std::string literal;
        auto flush = [&] {
            if (literal.empty()) return;
            std::string q = "\"" + literal + "\"";
            size_t k = 0;
            Template::Piece p;
            p.literal = quoted(q, k);
            t.pieces.push_back(std::move(p));
            literal.clear();
        };
        for (size_t k = 0; k < body.size(); ++k) {
            const char c = body[k];
            if (c == '{' && k + 1 < body.size() && body[k + 1] == '{') {
                literal += '{';
                ++k;
            } else if (c == '}' && k + 1 < body.size() && body[k + 1] == '}') {
                literal += '}';
                ++k;
            } else if (c == '}') {
                throw LineError("a \"}\" without its \"{\" (write }} for a brace)");
            } else if (c == '{') {
                const size_t close = body.find('}', k);
                if (close == std::string::npos)
                    throw LineError("a \"{\" is not closed (write {{ for a brace)");
                flush();
                std::string inner = body.substr(k + 1, close - k - 1);
                Template::Piece p;
                p.hasExpr = true;
                const size_t colon = inner.rfind(':');
                if (colon != std::string::npos) {
                    p.decimals = wholeNumber(trim(inner.substr(colon + 1)),
                                             "the number of decimals after \":\"", 0, 15);
                    inner = inner.substr(0, colon);
                }
                parse(trim(inner), captures_, p.expr);
                t.pieces.push_back(std::move(p));
                k = close;
            } else {
                literal += c;
                if (c == '\\' && k + 1 < body.size()) literal += body[++k];
            }
        }
        flush();
        return t;
    }

    void parse(const std::string& text, int captures, Expr& out) {
        if (text.empty()) throw LineError("a value is missing");
        NameCheck check;
        check.isVariable = [this](const std::string& n) { return known(n); };
        check.captureCount = captures;
        std::string error;
        if (!parseExpression(text, check, out, error)) {
            // A value of thousands of characters is quoted by its start only.
            constexpr size_t shown = 60;
            throw LineError(error + " in \"" +
                            (text.size() > shown ? text.substr(0, shown) + "..." : text) + "\"");
        }
    }

    DeviceFile& d_;
    std::deque<Rule> rules_;
    std::deque<Timed> timed_;
    std::set<std::string> names_;
    std::vector<Action>* current_ = nullptr;
    int captures_ = -1;
    int number_ = 0;
};

} // namespace

const char* lineEndBytes(LineEnd e) {
    switch (e) {
    case LineEnd::LF:
        return "\n";
    case LineEnd::CR:
        return "\r";
    case LineEnd::CRLF:
        return "\r\n";
    default:
        return "";
    }
}

bool parseDeviceFile(const std::string& text, DeviceFile& out, std::vector<std::string>& errors) {
    out = DeviceFile();
    Reader reader(out);
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        try {
            reader.line(number, raw);
        } catch (const LineError& e) {
            errors.push_back("line " + std::to_string(number) + ": " + e.what());
        }
    }
    reader.finish();
    if (errors.empty() && out.protocol == DeviceFile::Protocol::Text && out.rules.empty() &&
        out.timed.empty())
        errors.push_back("line " + std::to_string(number) +
                         ": the device answers nothing (no on, otherwise or every)");
    if (errors.empty() && out.protocol == DeviceFile::Protocol::ModbusRtu && out.registers.empty())
        errors.push_back("line " + std::to_string(number) +
                         ": a modbus-rtu device needs at least one register");
    return errors.empty();
}

} // namespace nv::sim
