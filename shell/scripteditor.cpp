#include "shell/scripteditor.h"

#include "base/ascii.h"
#include "shell/scriptlexer.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QPalette>
#include <QToolTip>
#include <QUrl>
#include <algorithm>

namespace nv {

using B = QsciScintillaBase;

namespace {

const QColor kNavy(0, 0, 128);
const QColor kExecuting(255, 236, 160);

std::string htmlEscaped(const QString& s) {
    return s.toHtmlEscaped().toUtf8().toStdString();
}

std::string cssColor(const QColor& c) {
    return c.name().toStdString();
}

} // namespace

ScriptEditor::ScriptEditor(QWidget* parent) : QsciScintilla(parent), lexer_(new ScriptLexer(this)) {
    setObjectName(QStringLiteral("SMemo"));
    setUtf8(true);
    setLexer(lexer_);
    // Scintilla sends style requests to the lexer only when it is asked to.
    SendScintilla(SCI_SETLEXER, 0);

    const QFont font = editorFont();
    setFont(font);
    setMarginsFont(font);
    setMarginType(0, NumberMargin);
    setMarginLineNumbers(0, true);
    setMarginsBackgroundColor(QColor(244, 244, 244));
    setMarginsForegroundColor(QColor(128, 128, 128));
    fitLineNumbers();
    connect(this, &QsciScintilla::linesChanged, this, &ScriptEditor::fitLineNumbers);
    // Margin 1 carries the mark of a line a log message named.
    setMarginType(1, SymbolMargin);
    setMarginWidth(1, 12);
    setMarginMarkerMask(1, 1 << markerError_);
    setMarginMarkerMask(0, 0);

    setTabWidth(4);
    setIndentationsUseTabs(false);
    setAutoIndent(true);
    setIndentationGuides(true);
    setIndentationGuidesForegroundColor(Qt::gray);
    setSelectionForegroundColor(Qt::white);
    setSelectionBackgroundColor(kNavy);
    setCaretLineVisible(true);
    setCaretLineBackgroundColor(QColor(246, 248, 252));
    setBraceMatching(SloppyBraceMatch);
    setWrapMode(WrapNone);
    // The horizontal scroll bar follows the longest line instead of a fixed width.
    SendScintilla(SCI_SETSCROLLWIDTH, 1);
    SendScintilla(SCI_SETSCROLLWIDTHTRACKING, 1);
    setEolMode(EolUnix);
    setFolding(NoFoldStyle);

    markerDefine(Background, markerExecuting_);
    setMarkerBackgroundColor(kExecuting, markerExecuting_);
    markerDefine(RightTriangle, markerError_);
    setMarkerBackgroundColor(QColor(200, 30, 30), markerError_);
    setMarkerForegroundColor(QColor(120, 0, 0), markerError_);

    // Web addresses: blue text, underlined, clickable.
    for (int ind : {ScriptLexer::kUrlIndicator, ScriptLexer::kUrlUnderline}) {
        SendScintilla(SCI_INDICSETSTYLE, ind,
                      ind == ScriptLexer::kUrlIndicator ? INDIC_TEXTFORE : INDIC_PLAIN);
        SendScintilla(SCI_INDICSETFORE, ind, kUrlColor);
        SendScintilla(SCI_INDICSETUNDER, ind, 1);
    }

    // Parameter hints: black text on the tooltip colour, below the line.
    const QPalette tip = QToolTip::palette();
    SendScintilla(SCI_CALLTIPSETBACK, tip.color(QPalette::ToolTipBase));
    SendScintilla(SCI_CALLTIPSETFORE, QColor(Qt::black));
    SendScintilla(SCI_CALLTIPSETFOREHLT, QColor(0, 0, 160));
    SendScintilla(SCI_CALLTIPSETPOSITION, 0);

    auto* complete = new QAction(tr("Complete word"), this);
    complete->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Space));
    complete->setShortcutContext(Qt::WidgetShortcut);
    connect(complete, &QAction::triggered, this, &ScriptEditor::showCompletion);
    addAction(complete);

    connect(this, &QsciScintillaBase::SCN_CHARADDED, this, &ScriptEditor::charAdded);
    connect(this, &QsciScintilla::modificationChanged, this,
            [this](bool) { emit unsavedChanged(unsaved()); });
    connect(this, &QsciScintillaBase::SCN_UPDATEUI, this, [this](int) { updateHint(); });
    connect(this, &QsciScintilla::indicatorReleased, this,
            [this](int line, int index, Qt::KeyboardModifiers) {
                urlClicked(static_cast<int>(positionFromLineIndex(line, index)));
            });

    openUrl = [](const QUrl&) {};
}

void ScriptEditor::setBytes(std::string_view data) {
    emit aboutToReplaceText();
    encoding_ = detectEncoding(data);
    switchedToUtf8_ = false;
    const bool ro = isReadOnly();
    setReadOnly(false);
    setUtf8(encoding_ == TextEncoding::Utf8);
    SendScintilla(SCI_CLEARALL);
    if (!data.empty())
        SendScintilla(SCI_ADDTEXT, static_cast<unsigned long>(data.size()), data.data());
    SendScintilla(SCI_EMPTYUNDOBUFFER);
    SendScintilla(SCI_SETSAVEPOINT);
    SendScintilla(SCI_GOTOPOS, 0);
    setReadOnly(ro);
    executingLine_ = -1;
    errorLine_ = -1;
    markerDeleteAll(markerError_);
    const bool wasUnsaved = convertedUnsaved_;
    convertedUnsaved_ = false;
    emit textReplaced();
    if (wasUnsaved) emit unsavedChanged(unsaved());
}

void ScriptEditor::contextMenuEvent(QContextMenuEvent* e) {
    int margins = 0;
    for (int m = 0; m < 5; ++m)
        margins += marginWidth(m);
    if (e->reason() == QContextMenuEvent::Mouse && e->pos().x() < margins) {
        e->accept();
        return;
    }
    QsciScintilla::contextMenuEvent(e);
}

void ScriptEditor::markSaved() {
    convertedUnsaved_ = false;
    setModified(false);
    emit unsavedChanged(false);
}

void ScriptEditor::fitLineNumbers() {
    // One digit more than the highest line number holds, never fewer than four.
    int digits = 1;
    for (int n = lines(); n >= 10; n /= 10)
        ++digits;
    digits = std::max(digits + 1, 4);
    if (digits == numberDigits_) return;
    numberDigits_ = digits;
    setMarginWidth(0, QString(digits, QLatin1Char('9')));
}

void ScriptEditor::goToLine(int line) {
    line = std::clamp(line, 0, std::max(0, lines() - 1));
    setCursorPosition(line, 0);
    ensureLineVisible(line);
    SendScintilla(SCI_SCROLLCARET);
}

void ScriptEditor::setErrorLine(int line) {
    markerDeleteAll(markerError_);
    errorLine_ = -1;
    if (line < 0 || line >= lines()) return;
    markerAdd(line, markerError_);
    errorLine_ = line;
}

bool ScriptEditor::replaceNext(const QString& text, const QString& with) {
    if (text.isEmpty() || isReadOnly()) return false;
    bool replaced = false;
    if (selectedText().compare(text, Qt::CaseInsensitive) == 0) {
        replaceSelectedText(with);
        replaced = true;
    }
    find(text, true);
    return replaced;
}

int ScriptEditor::replaceAll(const QString& text, const QString& with) {
    if (text.isEmpty() || isReadOnly()) return 0;
    int count = 0;
    beginUndoAction();
    setCursorPosition(0, 0);
    // No wrapping: each match is replaced once, even when the new text holds the old.
    while (findFirst(text, false, false, false, false, true)) {
        replace(with);
        ++count;
    }
    endUndoAction();
    return count;
}

std::string_view ScriptEditor::view() const {
    const long len = SendScintilla(SCI_GETLENGTH);
    const char* p = static_cast<const char*>(SendScintillaPtrResult(SCI_GETCHARACTERPOINTER));
    if (!p || len <= 0) return {};
    return std::string_view(p, static_cast<size_t>(len));
}

std::string ScriptEditor::bytes() const {
    return std::string(view());
}

void ScriptEditor::setExecutingLine(int line) {
    markerDeleteAll(markerExecuting_);
    executingLine_ = -1;
    // The caret line's colour would hide the mark on the caret's line (after a jump to a
    // failed line the caret stands on it): it is off while a line is marked.
    setCaretLineVisible(line < 0);
    if (line < 0 || line >= lines()) return;
    markerAdd(line, markerExecuting_);
    executingLine_ = line;
    ensureLineVisible(line);
}

void ScriptEditor::showCompletion() {
    const long pos = SendScintilla(SCI_GETCURRENTPOS);
    const long start = SendScintilla(SCI_WORDSTARTPOSITION, pos, 1);
    const std::string_view typed =
        view().substr(static_cast<size_t>(start), static_cast<size_t>(pos - start));
    std::vector<std::string> names;
    for (std::string_view w : completionList()) {
        // Scintilla cannot show an empty entry; the table's separators are left out.
        if (w.empty() || !startsWithNoCase(w, typed)) continue;
        if (std::find(names.begin(), names.end(), w) == names.end()) names.emplace_back(w);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return lowerAscii(a) < lowerAscii(b);
    });
    completionShown_.clear();
    if (names.empty()) {
        SendScintilla(SCI_AUTOCCANCEL);
        return;
    }
    std::string list;
    for (const std::string& w : names) {
        if (!list.empty()) list += ' ';
        list += w;
        completionShown_ << QString::fromStdString(w);
    }
    // Custom order: the list stands as sorted here, and Scintilla's own comparison (which
    // may fold case the other way round and put "_" elsewhere) does not reorder it.
    SendScintilla(SCI_AUTOCSETORDER, 2);
    SendScintilla(SCI_AUTOCSETIGNORECASE, 1);
    // Deleting a typed letter widens the list (keyPressEvent) rather than closing it.
    SendScintilla(SCI_AUTOCSETCANCELATSTART, 0);
    SendScintilla(SCI_AUTOCSHOW, static_cast<unsigned long>(pos - start), list.c_str());
}

bool ScriptEditor::find(const QString& text, bool forward) {
    if (text.isEmpty()) return false;
    if (!forward) {
        // Step back over the current match so that "previous" does not find it again.
        int lf, idf, lt, idt;
        getSelection(&lf, &idf, &lt, &idt);
        if (lf >= 0) setCursorPosition(lf, idf);
    }
    return findFirst(text, false, false, false, true, forward);
}

void ScriptEditor::charAdded(int ch) {
    // An open list narrows with every letter typed.
    if (SendScintilla(SCI_AUTOCACTIVE) && (std::isalnum(ch) || ch == '_')) showCompletion();
    if (ch == '(') {
        const long pos = SendScintilla(SCI_GETCURRENTPOS);
        const std::string_view text = view();
        long end = pos - 1; // the "("
        long begin = end;
        while (begin > 0) {
            const unsigned char c =
                static_cast<unsigned char>(text[static_cast<size_t>(begin - 1)]);
            if (!(std::isalnum(c) || c == '_')) break;
            --begin;
        }
        const std::string_view name =
            text.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin));
        const std::string_view hint = hintFor(name);
        if (hint.empty()) return;
        hint_ = QString::fromLatin1(hint.data(), static_cast<qsizetype>(hint.size())).trimmed();
        hintStart_ = end;
        hintActive_ = true;
        const QByteArray tip = hint_.toLatin1();
        SendScintilla(SCI_CALLTIPSHOW, static_cast<unsigned long>(begin), tip.constData());
        updateHint();
    } else if (ch == ')' && hintActive_) {
        hintActive_ = false;
        SendScintilla(SCI_CALLTIPCANCEL);
    }
}

void ScriptEditor::keyPressEvent(QKeyEvent* e) {
    if (encoding_ == TextEncoding::Latin1 && !isReadOnly()) {
        // What the key puts into the text: the typed characters, or the clipboard's.
        const QString typed =
            e->matches(QKeySequence::Paste) ? QGuiApplication::clipboard()->text() : e->text();
        const bool beyondLatin1 =
            std::any_of(typed.begin(), typed.end(), [](QChar c) { return c.unicode() > 0xFF; });
        if (beyondLatin1) {
            // Latin-1 cannot hold the character: carry the whole text over to UTF-8 instead
            // of silently storing "?".
            const std::string old = bytes();
            const long caret = SendScintilla(SCI_GETCURRENTPOS);
            const std::string before =
                encodeText(decodeText(std::string_view(old).substr(0, static_cast<size_t>(caret)),
                                      TextEncoding::Latin1),
                           TextEncoding::Utf8);
            setBytes(encodeText(decodeText(old, TextEncoding::Latin1), TextEncoding::Utf8));
            SendScintilla(SCI_GOTOPOS, static_cast<unsigned long>(before.size()));
            switchedToUtf8_ = true;
            // The file on disk no longer matches the text, whatever the undo history says.
            convertedUnsaved_ = true;
            emit encodingChanged();
            emit unsavedChanged(true);
        }
    }
    const bool listOpen = SendScintilla(SCI_AUTOCACTIVE);
    QsciScintilla::keyPressEvent(e);
    // Deleting a typed letter widens the list again.
    if (listOpen && e->key() == Qt::Key_Backspace && SendScintilla(SCI_AUTOCACTIVE))
        showCompletion();
}

void ScriptEditor::updateHint() {
    if (!hintActive_) return;
    const long pos = SendScintilla(SCI_GETCURRENTPOS);
    const long line = SendScintilla(SCI_LINEFROMPOSITION, pos);
    if (pos <= hintStart_ || line != SendScintilla(SCI_LINEFROMPOSITION, hintStart_) ||
        !SendScintilla(SCI_CALLTIPACTIVE)) {
        hintActive_ = false;
        SendScintilla(SCI_CALLTIPCANCEL);
        return;
    }
    // Mark the parameter the caret is in: count the top-level commas typed so far.
    const std::string_view text = view();
    int param = 0, depth = 0;
    bool quoted = false;
    for (long i = hintStart_ + 1; i < pos && i < static_cast<long>(text.size()); ++i) {
        const char c = text[static_cast<size_t>(i)];
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '(') ++depth;
        if (c == ')') {
            if (depth == 0) {
                hintActive_ = false;
                SendScintilla(SCI_CALLTIPCANCEL);
                return;
            }
            --depth;
        }
        if (c == ',' && depth == 0) ++param;
    }
    const QByteArray tip = hint_.toLatin1();
    int start = tip.indexOf('(') + 1;
    for (int p = 0; p < param && start > 0; ++p) {
        const int comma = tip.indexOf(',', start);
        const int semi = tip.indexOf(';', start);
        int next = comma < 0 ? semi : (semi < 0 ? comma : std::min(comma, semi));
        start = next < 0 ? -1 : next + 1;
    }
    if (start <= 0) {
        SendScintilla(SCI_CALLTIPSETHLT, 0, 0L);
        return;
    }
    int end = start;
    while (end < tip.size() && tip[end] != ',' && tip[end] != ';' && tip[end] != ')')
        ++end;
    SendScintilla(SCI_CALLTIPSETHLT, static_cast<unsigned long>(start), static_cast<long>(end));
}

void ScriptEditor::urlClicked(int position) {
    const int ind = ScriptLexer::kUrlIndicator;
    if (!SendScintilla(SCI_INDICATORVALUEAT, ind, position)) return;
    const long start = SendScintilla(SCI_INDICATORSTART, ind, position);
    const long end = SendScintilla(SCI_INDICATOREND, ind, position);
    const std::string all = bytes();
    if (start < 0 || end <= start || end > static_cast<long>(all.size())) return;
    const QString text = decodeText(
        std::string_view(all).substr(static_cast<size_t>(start), static_cast<size_t>(end - start)),
        encoding_);
    QUrl url = text.startsWith(QLatin1String("www.")) ? QUrl(QStringLiteral("http://") + text)
                                                      : QUrl(text);
    if (url.isValid()) openUrl(url);
}

std::string ScriptEditor::exportHtml(const QString& title) {
    SendScintilla(SCI_COLOURISE, 0, -1L);
    const std::string all = bytes();
    std::string body;
    size_t i = 0;
    while (i < all.size()) {
        const int style =
            static_cast<int>(SendScintilla(SCI_GETSTYLEAT, static_cast<unsigned long>(i)));
        const bool url = SendScintilla(SCI_INDICATORVALUEAT, ScriptLexer::kUrlIndicator,
                                       static_cast<long>(i)) != 0;
        size_t j = i + 1;
        while (j < all.size() &&
               SendScintilla(SCI_GETSTYLEAT, static_cast<unsigned long>(j)) == style &&
               (SendScintilla(SCI_INDICATORVALUEAT, ScriptLexer::kUrlIndicator,
                              static_cast<long>(j)) != 0) == url)
            ++j;
        const QString text = decodeText(std::string_view(all).substr(i, j - i), encoding_);
        const std::string esc = htmlEscaped(text);
        if (url) {
            QString target =
                text.startsWith(QLatin1String("www.")) ? QStringLiteral("http://") + text : text;
            body += "<a href=\"" + htmlEscaped(target) + "\">" + esc + "</a>";
        } else if (style == StyleDefault) {
            body += esc;
        } else {
            body += "<span class=\"s" + std::to_string(style) + "\">" + esc + "</span>";
        }
        i = j;
    }

    const QFont f = editorFont();
    std::string css;
    css += "body { background: #ffffff; margin: 1em; }\n";
    css += "a { color: " + cssColor(kUrlColor) + "; text-decoration: underline; }\n";
    css += "pre { font-family: '" + f.family().toStdString() +
           "', 'Courier New', monospace; "
           "font-size: 13px; color: #000000; background: #ffffff; }\n";
    for (int s = 1; s < StyleCount; ++s) {
        const StyleLook& look = styleLook(s);
        css += ".s" + std::to_string(s) + " { color: " + cssColor(look.color) +
               "; background: #ffffff; font-weight: " + (look.bold ? "bold" : "normal") +
               "; font-style: " + (look.italic ? "italic" : "normal") + "; }\n";
    }
    return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" +
           htmlEscaped(title) + "</title>\n<style>\n" + css + "</style>\n</head>\n<body>\n<pre>" +
           body + "</pre>\n</body>\n</html>\n";
}

} // namespace nv
