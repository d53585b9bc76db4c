#include "shell/scriptlexer.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <Qsci/qsciscintilla.h>
#include <Qsci/qsciscintillabase.h>
#include <algorithm>
#include <unordered_set>

namespace nv {

namespace {

const StyleLook kLooks[StyleCount] = {
    {"Default", QColor(0, 0, 0), false, false},
    {"Comment", QColor(0, 0, 128), false, true},   // navy
    {"Number", QColor(255, 0, 255), true, false},  // fuchsia
    {"Keyword", QColor(0, 128, 0), false, false},  // green
    {"String", QColor(0, 0, 255), false, false},   // blue
    {"Symbol", QColor(0, 128, 128), false, false}, // teal
};

bool isWordStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool isWordChar(unsigned char c) {
    return isWordStart(c) || isDigit(c);
}
bool isHexDigit(unsigned char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isSymbol(unsigned char c) {
    switch (c) {
    case '(':
    case ')':
    case '+':
    case '-':
    case '*':
    case '/':
    case '&':
    case '=':
    case '<':
    case '>':
    case '|':
        return true;
    default:
        return false;
    }
}

} // namespace

const StyleLook& styleLook(int style) {
    return kLooks[style >= 0 && style < StyleCount ? style : StyleDefault];
}

QFont editorFont() {
    // Courier New where installed; otherwise the fonts made to its measure, then any
    // monospace font the system has. 10 points are the 13 pixels of a 96 dpi screen (the
    // editor control takes sizes in points only). The family is asked of the font database:
    // a font matched at 10 points reads back as 9.75 on such a screen, so an exact match
    // never held and every family was passed over for the system's fixed font.
    static const QFont font = [] {
        for (const char* family : kEditorFamilies) {
            if (!QFontDatabase::hasFamily(QString::fromLatin1(family))) continue;
            QFont f(QString::fromLatin1(family));
            f.setPointSize(10);
            return f;
        }
        QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        f.setStyleHint(QFont::TypeWriter);
        f.setPointSize(10);
        return f;
    }();
    return font;
}

void classifyBytes(std::string_view text, bool& inBrace, std::vector<uint8_t>& styles) {
    const size_t n = text.size();
    styles.assign(n, StyleDefault);
    auto at = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    size_t i = 0;
    while (i < n) {
        if (inBrace) {
            const size_t close = text.find('}', i);
            const size_t end = close == std::string_view::npos ? n : close + 1;
            std::fill(styles.begin() + i, styles.begin() + end, StyleComment);
            if (close != std::string_view::npos) inBrace = false;
            i = end;
            continue;
        }
        const unsigned char c = at(i);
        if (c == '{') {
            inBrace = true;
            continue;
        }
        if (c == '#') {
            // To the end of this line; the line break itself stays plain.
            size_t end = i;
            while (end < n && at(end) != '\n' && at(end) != '\r')
                ++end;
            std::fill(styles.begin() + i, styles.begin() + end, StyleComment);
            i = end;
            continue;
        }
        if (c == '"') {
            size_t end = i + 1;
            while (end < n && at(end) != '"' && at(end) != '\n' && at(end) != '\r')
                ++end;
            if (end < n && at(end) == '"') ++end;
            std::fill(styles.begin() + i, styles.begin() + end, StyleString);
            i = end;
            continue;
        }
        if (isWordStart(c)) {
            size_t end = i + 1;
            while (end < n && isWordChar(at(end)))
                ++end;
            if (isKeyword(text.substr(i, end - i)))
                std::fill(styles.begin() + i, styles.begin() + end, StyleKeyword);
            i = end;
            continue;
        }
        if (isDigit(c)) {
            size_t end = i + 1;
            if (c == '0' && end + 1 < n && (at(end) == 'x' || at(end) == 'X') &&
                isHexDigit(at(end + 1))) {
                end += 2;
                while (end < n && isHexDigit(at(end)))
                    ++end;
            } else {
                while (end < n && isDigit(at(end)))
                    ++end;
                if (end + 1 < n && at(end) == '.' && isDigit(at(end + 1))) {
                    end += 2;
                    while (end < n && isDigit(at(end)))
                        ++end;
                }
            }
            // Digits glued to letters ("9600baud") are not a number.
            if (end < n && isWordStart(at(end))) {
                while (end < n && isWordChar(at(end)))
                    ++end;
            } else {
                std::fill(styles.begin() + i, styles.begin() + end, StyleNumber);
            }
            i = end;
            continue;
        }
        if (isSymbol(c)) styles[i] = StyleSymbol;
        ++i;
    }
}

const std::vector<std::string_view>& keywordTable() {
    static const std::vector<std::string_view> table = {
        // statement words
        "for", "next", "if", "else", "elseif", "endif", "while", "wend", "repeat", "until",
        "procedure", "procend", "break", "exit", "",
        // commands
        "closeport", "writelog", "openport", "setrts", "clearrts", "setdtr", "cleardtr", "exec",
        "flush", "fcreate", "fclose", "fseek", "openrack", "send", "saverack", "debugon",
        "debugoff", "showterm", "hideterm", "setport", "capturerack", "tcp_srv_open", "tcp_open",
        "tcp_srv_close", "tcp_close", "tcp_srv_flush", "tcp_flush", "tcp_srv_write", "tcp_write",
        "showmain", "hidemain", "setidle", "loadimage", "ddown_settext", "setvisible", "showline",
        "setexitcode", "sleep", "",
        // functions
        "geterror", "enumports", "receive", "tcp_srv_read", "tcp_read", "tcp_srv_hasclient",
        "tcp_isconnected", "getcts", "getdsr", "getrlsd", "getring", "tohex", "len", "asc", "pos",
        "ucase", "lcase", "mid", "del", "chr", "trim", "random", "pow", "inputbox", "extract",
        "split", "fopen", "fread", "fwrite", "get_bit", "time", "date", "year", "month", "day",
        "getticks", "ddown_gettext", "include", "getarg", "getenv", "waitfor", "band", "bor",
        "bxor", "shl", "shr", "crc16"};
    return table;
}

const std::vector<std::string_view>& completionList() {
    static const std::vector<std::string_view> list = [] {
        std::vector<std::string_view> l = keywordTable();
        l.push_back("");
        return l;
    }();
    return list;
}

bool isKeyword(std::string_view word) {
    // Script keywords are lower case and compared exactly, so the colouring does too.
    static const std::unordered_set<std::string_view> set = [] {
        std::unordered_set<std::string_view> s;
        for (std::string_view w : keywordTable())
            if (!w.empty()) s.insert(w);
        return s;
    }();
    return set.count(word) != 0;
}

const std::vector<std::string_view>& hintDefinitions() {
    static const std::vector<std::string_view> hints = {
        "len(string)",
        "setidle(interval in ms) ",
        "fcreate(file name)",
        "fopen(file name)",
        "fread (characters number)",
        "fseek (offset,origin)",
        "fread(characters number)",
        "fwrite(some data)",
        "exec(filename)",
        "inputbox (caption,message,default answer)",
        "random(number)",
        "writelog(some data)",
        "capturerack(filename,quality) ",
        "ddown_gettext(control name) ",
        "ddown_settext(control name,text) ",
        "loadimage(control name,filename)",
        "openrack(filename)",
        "saverack(filename)",
        "setvisible(control name,state)",
        "cleardtr(serial port)",
        "clearrts(serial port)",
        "closeport(serial port)",
        "flush(serial port,characters number)",
        "getcts(serial port)",
        "getdsr(serial port)",
        "getring(serial port)",
        "getrlsd(serial port)",
        "hideterm(serial port)",
        "openport (serial port,baudrate,databits,parity,stopbits)",
        "receive(serial port)",
        "send(serial port,some data)",
        "setdtr(serial port)",
        "setrts(serial port)",
        "showterm(serial port,width,height,characters number)",
        "asc(character)",
        "chr(number in 0..255)",
        "del(string,start,characters number)",
        "extract(token number)",
        "lcase(string)",
        "mid(string,start,characters number)",
        "pos(substring,string)",
        "split(string,substring)",
        "tohex(string)",
        "trim(string)",
        "ucase(astring)",
        "tcp_flush(characters number)",
        "tcp_open(IP address,port)",
        "tcp_srv_flush(characters number)",
        "tcp_srv_open(port)",
        "tcp_srv_write(some data)",
        "tcp_write(some data)",
        "include(filename,magic)",
        "setexitcode(status 0..125)",
        "sleep(milliseconds)",
        "getarg(argument number)",
        "getenv(variable name)",
        "waitfor(serial port,text,milliseconds)",
        "band(a,b)",
        "bor(a,b)",
        "bxor(a,b)",
        "shl(a,places)",
        "shr(a,places)",
        "crc16(text,kind)",
    };
    return hints;
}

std::string_view hintFor(std::string_view name) {
    std::string_view found;
    for (std::string_view h : hintDefinitions()) {
        const size_t paren = h.find('(');
        std::string_view hname = h.substr(0, paren);
        const bool blank = !hname.empty() && hname.back() == ' ';
        while (!hname.empty() && hname.back() == ' ')
            hname.remove_suffix(1);
        if (hname != name) continue;
        if (!blank) return h;
        if (found.empty()) found = h;
    }
    return found;
}

std::vector<UrlSpan> findUrls(std::string_view text) {
    static constexpr std::string_view kStarts[] = {"http://", "https://", "ftp://",
                                                   "mailto:", "www."};
    std::vector<UrlSpan> out;
    size_t i = 0;
    while (i < text.size()) {
        size_t best = std::string_view::npos;
        for (std::string_view s : kStarts) {
            const size_t p = text.find(s, i);
            if (p < best) best = p;
        }
        if (best == std::string_view::npos) break;
        // Part of a longer word ("xwww.") is no address.
        if (best > 0 && isWordChar(static_cast<unsigned char>(text[best - 1])) &&
            text.substr(best, 4) == "www.") {
            i = best + 4;
            continue;
        }
        size_t end = best;
        while (end < text.size()) {
            const unsigned char c = static_cast<unsigned char>(text[end]);
            if (c <= ' ' || c == '"' || c == '\'' || c == '<' || c == '>' || c == '{' || c == '}')
                break;
            ++end;
        }
        // Closing punctuation belongs to the sentence, not to the address.
        while (end > best &&
               std::string_view(".,;:!?)").find(text[end - 1]) != std::string_view::npos)
            --end;
        size_t prefixLen = 0;
        for (std::string_view s : kStarts)
            if (text.substr(best, s.size()) == s) prefixLen = s.size();
        if (end > best + prefixLen) out.push_back({best, end - best});
        i = std::max(end, best + 1);
    }
    return out;
}

// ---- the lexer ----

ScriptLexer::ScriptLexer(QObject* parent) : QsciLexerCustom(parent) {}

QString ScriptLexer::description(int style) const {
    if (style < 0 || style >= StyleCount) return {};
    return QString::fromLatin1(kLooks[style].name);
}

QColor ScriptLexer::defaultColor(int style) const {
    return styleLook(style).color;
}

QFont ScriptLexer::defaultFont(int style) const {
    QFont f = editorFont();
    f.setBold(styleLook(style).bold);
    f.setItalic(styleLook(style).italic);
    return f;
}

QColor ScriptLexer::defaultPaper(int) const {
    return Qt::white;
}

void ScriptLexer::styleText(int start, int end) {
    QsciScintilla* ed = editor();
    if (!ed || end <= start) return;
    using B = QsciScintillaBase;
    const char* doc =
        static_cast<const char*>(ed->SendScintillaPtrResult(B::SCI_GETCHARACTERPOINTER));
    if (!doc) return;

    int line = static_cast<int>(ed->SendScintilla(B::SCI_LINEFROMPOSITION, start));
    bool inBrace = line > 0 && ed->SendScintilla(B::SCI_GETLINESTATE, line - 1) != 0;

    startStyling(start);
    std::vector<uint8_t> styles;
    int pos = start;
    while (pos < end) {
        int lineEnd = static_cast<int>(ed->SendScintilla(B::SCI_POSITIONFROMLINE, line + 1));
        const bool wholeLine = lineEnd > pos && lineEnd <= end;
        if (!wholeLine) lineEnd = end;
        const std::string_view text(doc + pos, static_cast<size_t>(lineEnd - pos));
        classifyBytes(text, inBrace, styles);
        for (size_t i = 0; i < styles.size();) {
            size_t j = i + 1;
            while (j < styles.size() && styles[j] == styles[i])
                ++j;
            setStyling(static_cast<int>(j - i), styles[i]);
            i = j;
        }
        // Web addresses are indicators on top of the syntax colours.
        const std::vector<UrlSpan> urls = findUrls(text);
        for (int ind : {kUrlIndicator, kUrlUnderline}) {
            ed->SendScintilla(B::SCI_SETINDICATORCURRENT, ind);
            ed->SendScintilla(B::SCI_INDICATORCLEARRANGE, pos, lineEnd - pos);
            for (const UrlSpan& u : urls)
                ed->SendScintilla(B::SCI_INDICATORFILLRANGE, pos + static_cast<long>(u.start),
                                  static_cast<long>(u.length));
        }
        if (wholeLine) ed->SendScintilla(B::SCI_SETLINESTATE, line, inBrace ? 1 : 0);
        pos = lineEnd;
        ++line;
    }
}

} // namespace nv
