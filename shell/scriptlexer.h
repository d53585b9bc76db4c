// The editor's view of the script language: syntax classes (comment, number, keyword,
// string, symbol), the keyword table, the completion list, the 52 parameter hints, web
// addresses in the text, and the QScintilla lexer that colours the editor with them. The
// styling only affects display and the HTML export; the interpreter never sees it.
//
// Classification works on bytes (all syntax characters are ASCII; any other byte is plain
// text), so a script in UTF-8 or Latin-1 colours the same. A "{" comment carries over to the
// following lines until "}": the lexer keeps that as each line's state.
//
// Threading: user-interface thread (the lexer); the free functions are pure. Errors: none.
#pragma once

#include <QColor>
#include <QFont>
#include <Qsci/qscilexercustom.h>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nv {

enum SyntaxStyle : uint8_t {
    StyleDefault = 0,
    StyleComment = 1,
    StyleNumber = 2,
    StyleKeyword = 3,
    StyleString = 4,
    StyleSymbol = 5,
    StyleCount
};

struct StyleLook {
    const char* name;
    QColor color;
    bool bold;
    bool italic;
};
const StyleLook& styleLook(int style);
// Web addresses: drawn blue and underlined.
inline const QColor kUrlColor{0, 0, 255};

// The editor's font: the first of these families the system has, otherwise the system's
// monospace font, 13 pixels high (10 points). Courier New first, then fonts made to its
// measure.
inline constexpr const char* kEditorFamilies[] = {"Courier New", "Liberation Mono",
                                                  "Nimbus Mono PS", "DejaVu Sans Mono"};
QFont editorFont();

// Styles `text` (one byte, one style). `inBraceComment` carries a "{" comment in and out.
void classifyBytes(std::string_view text, bool& inBraceComment, std::vector<uint8_t>& styles);

// The keyword table as stored (three groups, an empty entry between them) and the
// completion list (the same entries and one more empty one).
const std::vector<std::string_view>& keywordTable();
const std::vector<std::string_view>& completionList();
bool isKeyword(std::string_view word);

// The 52 hint definitions, exactly as stored.
const std::vector<std::string_view>& hintDefinitions();
// The hint for a function or command name typed before "(", or empty. Where two definitions
// share a name, the one written without a blank before "(" wins.
std::string_view hintFor(std::string_view name);

// Web addresses (http, https, ftp, mailto, and "www." forms): byte offset and length.
struct UrlSpan {
    size_t start;
    size_t length;
};
std::vector<UrlSpan> findUrls(std::string_view text);

class ScriptLexer : public QsciLexerCustom {
    Q_OBJECT
  public:
    // Indicator numbers the editor draws web addresses with.
    static constexpr int kUrlIndicator = 8;
    static constexpr int kUrlUnderline = 9;

    explicit ScriptLexer(QObject* parent = nullptr);

    const char* language() const override { return "Norvane"; }
    QString description(int style) const override;
    void styleText(int start, int end) override;
    QColor defaultColor(int style) const override;
    QFont defaultFont(int style) const override;
    QColor defaultPaper(int style) const override;
};

} // namespace nv
