// The readable text form of a component stream. Each value is written in its plain form
// (`12`, `1.5`, `'text'`, `clLime`, `[a, b]`) whenever reading that form back gives the
// same type and bytes; otherwise it is written in a tagged form (`i32(12)`, `long('x')`,
// `ext($...)`, ...) that does, so that binary -> text -> binary is exact.
// This file reads it back.
#include "rackfile/componentstream.h"

#include "rackfile/realbits.h"
#include "rackfile/textform.h"

#include "base/ascii.h"
#include "base/limits.h"

#include <charconv>
#include <cstring>
#include <stdexcept>

namespace nv::rack {
namespace {

using namespace textform;

constexpr int kMaxDepth = limits::kComponentDepth;

// ---- reading text ----------------------------------------------------------------------

enum class Tok { End, Ident, Tag, Number, Str, Binary, Punct };

struct Piece {
    bool code = false;
    std::uint32_t number = 0;
    std::string text;
};

struct Token {
    Tok kind = Tok::End;
    int line = 0;
    std::string text;          // Ident/Tag name, Number text, Binary bytes, Punct char
    std::vector<Piece> pieces; // Str
};

struct TextFailure {
    int line;
    std::string what;
};

[[noreturn]] void failAt(int line, std::string what) {
    throw TextFailure{line, std::move(what)};
}

class Lexer {
  public:
    explicit Lexer(std::string_view s) : s_(s) {}

    Token next() {
        skipSpace();
        Token t;
        t.line = line_;
        if (p_ >= s_.size()) return t;
        char c = s_[p_];
        if (identStart(c)) {
            std::size_t b = p_;
            while (p_ < s_.size() && (identChar(s_[p_]) || s_[p_] == '.'))
                ++p_;
            t.text = std::string(s_.substr(b, p_ - b));
            if (!isIdentifier(t.text)) failAt(line_, "malformed name '" + t.text + "'");
            t.kind = Tok::Ident;
            if (p_ < s_.size() && s_[p_] == '(') {
                ++p_;
                t.kind = Tok::Tag;
            }
            return t;
        }
        if (isDigit(c) || c == '$' ||
            ((c == '-' || c == '+') && p_ + 1 < s_.size() &&
             (isDigit(s_[p_ + 1]) || s_[p_ + 1] == '$'))) {
            std::size_t b = p_;
            if (c == '-' || c == '+') ++p_;
            auto digits = [&](bool hex) {
                while (p_ < s_.size() && (hex ? isHex(s_[p_]) : isDigit(s_[p_])))
                    ++p_;
            };
            if (s_[p_] == '$') {
                ++p_;
                digits(true);
            } else {
                digits(false);
                if (p_ < s_.size() && s_[p_] == '.') ++p_, digits(false);
                if (p_ < s_.size() && (s_[p_] == 'e' || s_[p_] == 'E')) {
                    ++p_;
                    if (p_ < s_.size() && (s_[p_] == '-' || s_[p_] == '+')) ++p_;
                    digits(false);
                }
                if (p_ < s_.size() && std::strchr("sScCdD", s_[p_])) ++p_;
            }
            if (p_ < s_.size() && (identChar(s_[p_]) || s_[p_] == '.'))
                failAt(line_,
                       "malformed number starting '" + std::string(s_.substr(b, p_ - b + 1)) + "'");
            t.kind = Tok::Number;
            t.text = std::string(s_.substr(b, p_ - b));
            return t;
        }
        if (c == '\'' || c == '#') {
            t.kind = Tok::Str;
            stringPieces(t.pieces);
            return t;
        }
        if (c == '{') {
            ++p_;
            t.kind = Tok::Binary;
            int pending = -1;
            for (;;) {
                if (p_ >= s_.size()) failAt(t.line, "binary data '{' without a closing '}'");
                char h = s_[p_++];
                if (h == '}') break;
                if (h == '\n') ++line_;
                if (h == ' ' || h == '\t' || h == '\r' || h == '\n') continue;
                if (!isHex(h)) failAt(line_, std::string("unexpected '") + h + "' in binary data");
                if (pending < 0)
                    pending = hexValue(h);
                else
                    t.text += static_cast<char>(pending * 16 + hexValue(h)), pending = -1;
            }
            if (pending >= 0) failAt(line_, "binary data with an odd number of hex digits");
            return t;
        }
        if (std::strchr("=:[](),<>+", c)) {
            ++p_;
            t.kind = Tok::Punct;
            t.text = std::string(1, c);
            return t;
        }
        failAt(line_, describe(c));
    }

  private:
    static std::string describe(char c) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F) return "unexpected byte " + std::to_string(u);
        return std::string("unexpected '") + c + "'";
    }

    void skipSpace() {
        while (p_ < s_.size()) {
            char c = s_[p_];
            if (c == '\n')
                ++line_, ++p_;
            else if (c == ' ' || c == '\t' || c == '\r')
                ++p_;
            else if (c == '/' && p_ + 1 < s_.size() && s_[p_ + 1] == '/')
                while (p_ < s_.size() && s_[p_] != '\n')
                    ++p_;
            else
                break;
        }
    }

    // 'quoted' and #n pieces written next to each other form one text; a '+' between two
    // such texts (even across lines) joins them too.
    void stringPieces(std::vector<Piece>& out) {
        for (;;) {
            while (p_ < s_.size() && (s_[p_] == '\'' || s_[p_] == '#')) {
                Piece piece;
                if (s_[p_] == '#') {
                    ++p_;
                    std::size_t b = p_;
                    while (p_ < s_.size() && isDigit(s_[p_]))
                        ++p_;
                    if (b == p_ || p_ - b > 7) failAt(line_, "expected a character code after '#'");
                    piece.code = true;
                    piece.number =
                        static_cast<std::uint32_t>(std::stoul(std::string(s_.substr(b, p_ - b))));
                } else {
                    ++p_;
                    for (;;) {
                        if (p_ >= s_.size() || s_[p_] == '\n' || s_[p_] == '\r')
                            failAt(line_, "text without a closing quote");
                        if (s_[p_] == '\'') {
                            if (p_ + 1 < s_.size() && s_[p_ + 1] == '\'') {
                                piece.text += '\'';
                                p_ += 2;
                                continue;
                            }
                            ++p_;
                            break;
                        }
                        piece.text += s_[p_++];
                    }
                }
                out.push_back(std::move(piece));
            }
            std::size_t save = p_;
            int saveLine = line_;
            skipSpace();
            if (p_ < s_.size() && s_[p_] == '+') {
                ++p_;
                skipSpace();
                if (p_ < s_.size() && (s_[p_] == '\'' || s_[p_] == '#')) continue;
                failAt(line_, "expected text after '+'");
            }
            p_ = save;
            line_ = saveLine;
            return;
        }
    }

    std::string_view s_;
    std::size_t p_ = 0;
    int line_ = 1;
};

class Parser {
  public:
    explicit Parser(std::string_view text) : lex_(text) { advance(); }

    Document document() {
        Document doc;
        bool explicitHeader = false;
        if (isWord("resource")) {
            explicitHeader = true;
            advance();
            doc.resourceName = nameOf("a resource name");
            if (doc.resourceName.find('\0') != std::string::npos)
                failAt(tok_.line, "resource name contains a zero byte");
            if (!isWord("flags")) fail("expected 'flags' after the resource name");
            advance();
            std::int64_t flags = plainInteger("memory flags");
            if (flags < 0 || flags > 0xFFFF) fail("memory flags out of range 0 to $FFFF");
            doc.memoryFlags = static_cast<std::uint16_t>(flags);
        }
        if (!(tok_.kind == Tok::Ident && isComponentKeyword(tok_.text)))
            fail("expected 'object' to begin the root component");
        doc.root = component(true);
        if (!explicitHeader) doc.resourceName = upperAscii(doc.root.className);
        if (isWord("trailer")) {
            advance();
            if (tok_.kind != Tok::Binary) fail("expected {hex bytes} after 'trailer'");
            doc.trailer = tok_.text;
            advance();
        }
        if (tok_.kind != Tok::End) fail("unexpected " + describe(tok_) + " after the root's 'end'");
        return doc;
    }

  private:
    struct Level {
        Parser& p;
        explicit Level(Parser& pr) : p(pr) {
            if (++p.depth_ > kMaxDepth)
                p.fail("nesting deeper than " + std::to_string(kMaxDepth) + " levels");
        }
        ~Level() { --p.depth_; }
    };

    [[noreturn]] void fail(std::string what) { failAt(tok_.line, std::move(what)); }
    void advance() { tok_ = lex_.next(); }
    bool isWord(std::string_view w) const {
        return tok_.kind == Tok::Ident && equalsNoCase(tok_.text, w);
    }
    bool isPunct(char c) const { return tok_.kind == Tok::Punct && tok_.text[0] == c; }
    void expectPunct(char c, const std::string& context) {
        if (!isPunct(c))
            fail(std::string("expected '") + c + "' " + context + ", found " + describe(tok_));
        advance();
    }

    static std::string describe(const Token& t) {
        switch (t.kind) {
        case Tok::End:
            return "the end of the text";
        case Tok::Ident:
            return "'" + t.text + "'";
        case Tok::Tag:
            return "'" + t.text + "('";
        case Tok::Number:
            return "number " + t.text;
        case Tok::Str:
            return "a quoted text";
        case Tok::Binary:
            return "binary data";
        case Tok::Punct:
            return "'" + t.text + "'";
        }
        return "?";
    }

    // Bytes of a quoted text: literal bytes as they are, #n for n from 0 to 255.
    std::string bytesOf(const Token& t) {
        std::string s;
        for (const Piece& p : t.pieces) {
            if (!p.code)
                s += p.text;
            else if (p.number > 255)
                failAt(t.line, "character code #" + std::to_string(p.number) +
                                   " above 255 where only bytes fit");
            else
                s += static_cast<char>(p.number);
        }
        return s;
    }

    std::string wideOf(const Token& t) {
        std::string s;
        for (const Piece& p : t.pieces) {
            if (p.code) {
                if (p.number > 0xFFFF)
                    failAt(t.line, "code unit #" + std::to_string(p.number) + " above 65535");
                s += packLE(p.number, 2);
                continue;
            }
            for (std::size_t i = 0; i < p.text.size();) {
                auto c = static_cast<std::uint8_t>(p.text[i]);
                std::uint32_t cp = c;
                std::size_t n = 1;
                if (c >= 0x80) {
                    n = utf8Sequence(p.text, i, &cp);
                    if (!n) failAt(t.line, "wide text that is not valid UTF-8");
                }
                if (cp >= 0x10000) {
                    s += packLE(0xD800 + ((cp - 0x10000) >> 10), 2);
                    s += packLE(0xDC00 + ((cp - 0x10000) & 0x3FF), 2);
                } else {
                    s += packLE(cp, 2);
                }
                i += n;
            }
        }
        return s;
    }

    // A name: identifier or quoted text.
    std::string nameOf(const std::string& what) {
        std::string s;
        if (tok_.kind == Tok::Ident)
            s = tok_.text;
        else if (tok_.kind == Tok::Str)
            s = bytesOf(tok_);
        else
            fail("expected " + what + ", found " + describe(tok_));
        if (s.size() > 255) fail(what + " longer than 255 bytes");
        advance();
        return s;
    }

    std::int64_t numberValue(const Token& t) {
        std::string_view s = t.text;
        bool negative = false;
        if (!s.empty() && (s[0] == '-' || s[0] == '+')) negative = s[0] == '-', s.remove_prefix(1);
        std::uint64_t mag = 0;
        std::from_chars_result r{};
        if (!s.empty() && s[0] == '$')
            r = std::from_chars(s.data() + 1, s.data() + s.size(), mag, 16);
        else
            r = std::from_chars(s.data(), s.data() + s.size(), mag, 10);
        if (r.ec == std::errc::result_out_of_range ||
            mag > (negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull))
            failAt(t.line, "number " + t.text + " out of range");
        if (r.ec != std::errc() || r.ptr != s.data() + s.size() || (s[0] == '$' && s.size() == 1))
            failAt(t.line, "malformed integer " + t.text);
        return negative ? static_cast<std::int64_t>(0 - mag) : static_cast<std::int64_t>(mag);
    }

    std::int64_t plainInteger(const std::string& what) {
        if (tok_.kind != Tok::Number) fail("expected " + what + ", found " + describe(tok_));
        std::int64_t v = numberValue(tok_);
        advance();
        return v;
    }

    // An integer in its plain or tagged form; `small` refuses 64-bit ones (indexes and
    // child positions are 8, 16 or 32-bit in the stream).
    Value integerValue(bool small, const std::string& what) {
        Value v;
        if (tok_.kind == Tok::Number) {
            v = numberOrReal();
        } else if (tok_.kind == Tok::Tag && isOneOf(tok_.text, {"i8", "i16", "i32", "i64"})) {
            v = tagged();
        } else {
            fail("expected " + what + ", found " + describe(tok_));
        }
        if (!asInteger(v) || (small && v.type == VType::Int64))
            fail(what + " must be an integer of at most 32 bits");
        return v;
    }

    Value numberOrReal() {
        Token t = tok_;
        advance();
        std::string_view s = t.text;
        bool hex = s.find('$') != std::string_view::npos;
        char last = s.back();
        char suffix = hex ? 0 : static_cast<char>(last | 0x20);
        bool real = !hex && (s.find_first_of(".eE") != std::string_view::npos || suffix == 's' ||
                             suffix == 'c' || suffix == 'd');
        if (!real) return intValue(numberValue(t));
        std::string body(s);
        if (suffix == 's' || suffix == 'c' || suffix == 'd') body.pop_back();
        if (!body.empty() && body[0] == '+') body.erase(0, 1);
        if (suffix == 'c') return currencyValue(currency(body, t));
        Value v;
        std::errc ec;
        if (suffix == 's') {
            float f = 0;
            ec = readReal(body, f);
            v = singleValue(f);
        } else if (suffix == 'd') {
            double d = 0;
            ec = readReal(body, d);
            v = doubleDateValue(d);
        } else {
            long double x = 0;
            ec = readReal(body, x);
            v = extendedValue(x);
        }
        if (ec == std::errc::result_out_of_range)
            failAt(t.line, "number " + t.text + " out of range for its type");
        if (ec != std::errc() || body.find_first_of("0123456789") == std::string::npos)
            failAt(t.line, "malformed number " + t.text);
        return v;
    }

    static std::int64_t currency(const std::string& body, const Token& t) {
        std::string_view s = body;
        bool negative = !s.empty() && s[0] == '-';
        if (negative) s.remove_prefix(1);
        std::size_t dot = s.find('.');
        std::string_view whole = s.substr(0, dot);
        std::string_view frac =
            dot == std::string_view::npos ? std::string_view{} : s.substr(dot + 1);
        auto digits = [](std::string_view d) {
            for (char c : d)
                if (!isDigit(c)) return false;
            return true;
        };
        if (whole.empty() || !digits(whole) || !digits(frac) || frac.size() > 4 ||
            (dot != std::string_view::npos && frac.empty()))
            failAt(t.line,
                   "currency " + t.text + " needs plain decimals, at most 4 after the point");
        unsigned __int128 mag = 0;
        for (char c : whole) {
            mag = mag * 10 + static_cast<unsigned>(c - '0');
            if (mag > (static_cast<unsigned __int128>(1) << 64)) break;
        }
        std::string f(frac);
        f.resize(4, '0');
        mag = mag * 10000 + static_cast<unsigned>(std::stoi(f));
        unsigned __int128 limit = negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull;
        if (mag > limit) failAt(t.line, "currency " + t.text + " out of range");
        auto m = static_cast<std::uint64_t>(mag);
        return negative ? static_cast<std::int64_t>(0 - m) : static_cast<std::int64_t>(m);
    }

    Value tagged() {
        Token t = tok_;
        std::string tag = t.text;
        advance();
        Value v;
        auto rawBytes = [&](std::size_t n, VType type) {
            if (tok_.kind != Tok::Number || tok_.text.size() != 1 + 2 * n || tok_.text[0] != '$')
                fail(tag + "(...) needs $ and " + std::to_string(2 * n) +
                     " hex digits, the stored bytes in file order");
            for (std::size_t i = 0; i < n; ++i) {
                char a = tok_.text[1 + 2 * i], b = tok_.text[2 + 2 * i];
                if (!isHex(a) || !isHex(b)) fail("malformed hex bytes " + tok_.text);
                v.bytes += static_cast<char>(hexValue(a) * 16 + hexValue(b));
            }
            v.type = type;
            advance();
        };
        auto text = [&]() {
            if (tok_.kind != Tok::Str) fail(tag + "(...) needs a quoted text");
            Token s = tok_;
            advance();
            return s;
        };
        if (isOneOf(tag, {"i8", "i16", "i32", "i64"})) {
            static const struct {
                const char* tag;
                VType type;
                std::int64_t lo, hi;
            } widths[] = {
                {"i8", VType::Int8, INT8_MIN, INT8_MAX},
                {"i16", VType::Int16, INT16_MIN, INT16_MAX},
                {"i32", VType::Int32, INT32_MIN, INT32_MAX},
                {"i64", VType::Int64, INT64_MIN, INT64_MAX},
            };
            std::int64_t n = plainInteger("an integer");
            for (const auto& w : widths)
                if (equalsNoCase(tag, w.tag)) {
                    if (n < w.lo || n > w.hi)
                        failAt(t.line, std::to_string(n) + " does not fit " + tag);
                    v.type = w.type;
                    v.integer = n;
                }
        } else if (equalsNoCase(tag, "long")) {
            v.type = VType::LString;
            v.bytes = bytesOf(text());
        } else if (equalsNoCase(tag, "wide")) {
            v.type = VType::WString;
            v.bytes = wideOf(text());
        } else if (equalsNoCase(tag, "ident")) {
            v.type = VType::Ident;
            v.bytes = bytesOf(text());
            if (v.bytes.size() > 255) failAt(t.line, "identifier longer than 255 bytes");
        } else if (equalsNoCase(tag, "ext")) {
            rawBytes(10, VType::Extended);
        } else if (equalsNoCase(tag, "single")) {
            rawBytes(4, VType::Single);
        } else if (equalsNoCase(tag, "date")) {
            rawBytes(8, VType::Date);
        } else {
            failAt(t.line, "unknown form '" + tag + "(...)'");
        }
        expectPunct(')', "to close " + tag + "(...)");
        return v;
    }

    Value value() {
        Level lv(*this);
        Value v;
        switch (tok_.kind) {
        case Tok::Number:
            return numberOrReal();
        case Tok::Tag:
            return tagged();
        case Tok::Str: {
            // A character code above 255 only fits a wide string, as the old form text
            // wrote non-ANSI captions.
            bool wide = false;
            for (const Piece& p : tok_.pieces)
                wide = wide || (p.code && p.number > 255);
            if (wide) {
                v.type = VType::WString;
                v.bytes = wideOf(tok_);
            } else {
                v = stringValue(bytesOf(tok_));
            }
            advance();
            return v;
        }
        case Tok::Binary:
            v = binaryValue(tok_.text);
            advance();
            return v;
        case Tok::Ident:
            if (isWord("True"))
                v = boolValue(true);
            else if (isWord("False"))
                v = boolValue(false);
            else if (isWord("nil"))
                v = nilValue();
            else if (isReservedValueWord(tok_.text))
                fail("expected a value, found " + describe(tok_));
            else
                v = identValue(tok_.text);
            if (v.bytes.size() > 255) fail("identifier longer than 255 bytes");
            advance();
            return v;
        case Tok::Punct:
            if (isPunct('(')) {
                advance();
                v.type = VType::List;
                while (!isPunct(')')) {
                    if (tok_.kind == Tok::End) fail("list '(' without a closing ')'");
                    v.list.push_back(value());
                }
                advance();
                return v;
            }
            if (isPunct('[')) {
                advance();
                v.type = VType::Set;
                while (!isPunct(']')) {
                    if (!v.set.empty()) expectPunct(',', "between set elements");
                    std::string e = nameOf("a set element");
                    if (e.empty()) fail("empty set element");
                    v.set.push_back(std::move(e));
                }
                advance();
                return v;
            }
            if (isPunct('<')) {
                advance();
                v.type = VType::Collection;
                while (!isPunct('>')) {
                    if (!isWord("item"))
                        fail("expected 'item' or '>' in a collection, found " + describe(tok_));
                    advance();
                    Item item;
                    if (isPunct('[')) {
                        advance();
                        item.index = integerValue(true, "a collection item index");
                        expectPunct(']', "after the item index");
                    }
                    properties(item.properties, "item");
                    advance(); // 'end'
                    v.items.push_back(std::move(item));
                }
                advance();
                return v;
            }
            [[fallthrough]];
        default:
            fail("expected a value, found " + describe(tok_));
        }
    }

    // Properties until 'end' (left as the current token) or, for components, a child.
    void properties(std::vector<Property>& out, const char* owner) {
        for (;;) {
            if (isWord("end")) return;
            if (tok_.kind == Tok::Ident && isComponentKeyword(tok_.text)) {
                if (std::strcmp(owner, "item") == 0) fail("a component inside a collection item");
                return;
            }
            if (tok_.kind == Tok::End) fail(std::string("expected 'end' to close the ") + owner);
            Property p;
            p.name = nameOf("a property name");
            if (p.name.empty()) fail("empty property name");
            expectPunct('=', "after the property name '" + p.name + "'");
            p.value = value();
            out.push_back(std::move(p));
        }
    }

    Component component(bool root) {
        Level lv(*this);
        Component c;
        int line = tok_.line;
        std::uint8_t bits = 0;
        if (isWord("inherited"))
            bits = 1;
        else if (isWord("inline"))
            bits = 4;
        advance();
        std::string first = nameOf("a component name or class");
        if (isPunct(':')) {
            advance();
            c.name = first;
            c.className = nameOf("a class name");
        } else {
            c.className = first;
        }
        if (isPunct('[')) {
            advance();
            c.position = integerValue(true, "a child position");
            expectPunct(']', "after the child position");
            bits |= 2;
        }
        if (tok_.kind == Tok::Tag && equalsNoCase(tok_.text, "prefix")) {
            advance();
            std::int64_t b = plainInteger("a prefix byte");
            if (b < 0xF0 || b > 0xFF) fail("prefix byte must be $F0 to $FF");
            expectPunct(')', "to close prefix(...)");
            if (bool(b & 2) != bool(bits & 2))
                failAt(line, "prefix bit 2 and the [position] must come together");
            c.prefix = static_cast<std::uint8_t>(b);
        } else if (bits) {
            c.prefix = static_cast<std::uint8_t>(0xF0 | bits);
        }
        if (!c.prefix && c.className.size() >= 0xF0)
            failAt(line, "a class name of 240 bytes or more needs a prefix(...)");
        if (!c.prefix && c.className.empty() && !root)
            failAt(line, "a child component needs a class name");
        properties(c.properties, "component");
        while (!isWord("end")) {
            if (!(tok_.kind == Tok::Ident && isComponentKeyword(tok_.text)))
                fail("expected 'end' or a child 'object', found " + describe(tok_));
            c.children.push_back(component(false));
        }
        advance();
        return c;
    }

    Lexer lex_;
    Token tok_;
    int depth_ = 0;
};

} // namespace

std::string TextResult::message() const {
    if (ok) return {};
    return "line " + std::to_string(line) + ": " + error;
}

TextResult fromText(std::string_view text) {
    TextResult r;
    try {
        r.doc = Parser(text).document();
        r.ok = true;
    } catch (const TextFailure& f) {
        r.line = f.line;
        r.error = f.what;
    } catch (const std::bad_alloc&) {
        r.error = "out of memory";
    }
    return r;
}

} // namespace nv::rack
