#include "shell/keywordhelp.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QObject>
#include <QUrl>
#include <Qsci/qsciscintilla.h>
#include <algorithm>

namespace nv {

namespace {

// Words that close or continue a block have no page of their own: they are explained with
// the statement that opens the block.
QString pageWord(const QString& word) {
    static const std::pair<const char*, const char*> kBlockWords[] = {
        {"next", "for"},   {"elseif", "if"},    {"else", "if"},           {"endif", "if"},
        {"wend", "while"}, {"until", "repeat"}, {"procend", "procedure"}, {"myport", "setport"}};
    for (auto [from, to] : kBlockWords)
        if (word == QLatin1String(from)) return QString::fromLatin1(to);
    return word;
}

bool isWordChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

class F1Filter : public QObject {
  public:
    F1Filter(QsciScintilla* editor, std::function<void(const QString&)> onHelp)
        : QObject(editor), editor_(editor), onHelp_(std::move(onHelp)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched != editor_ || !isF1(e)) return false;
        // Claiming the shortcut makes F1 arrive here as a key press rather than trigger
        // the window's Help action, which opens the contents.
        if (e->type() == QEvent::ShortcutOverride) {
            e->accept();
            return true;
        }
        if (e->type() == QEvent::KeyPress) {
            onHelp_(wordAtCaret(editor_));
            return true;
        }
        return false;
    }

  private:
    static bool isF1(QEvent* e) {
        if (e->type() != QEvent::ShortcutOverride && e->type() != QEvent::KeyPress) return false;
        const auto* k = static_cast<QKeyEvent*>(e);
        return k->key() == Qt::Key_F1 && k->modifiers() == Qt::NoModifier;
    }

    QsciScintilla* editor_;
    std::function<void(const QString&)> onHelp_;
};

} // namespace

QString helpPageFor(const QString& helpDir, const QString& word) {
    const QDir dir(helpDir);
    const QString w = pageWord(word);
    if (!w.isEmpty() && std::all_of(w.begin(), w.end(), isWordChar)) {
        const QString page = dir.filePath(QStringLiteral("reference/%1.html").arg(w));
        if (QFileInfo(page).isFile()) return page;
    }
    return dir.filePath(QStringLiteral("index.html"));
}

QUrl helpUrlFor(const QString& helpDir, const QString& word) {
    const QString page = helpPageFor(helpDir, word);
    QUrl url = QUrl::fromLocalFile(page);
    if (word.isEmpty() || !std::all_of(word.begin(), word.end(), isWordChar)) return url;
    QFile f(page);
    // An unreadable page is the help window's to report when it opens it.
    if (f.open(QIODevice::ReadOnly) &&
        f.readAll().contains(QStringLiteral("id=\"%1\"").arg(word).toUtf8()))
        url.setFragment(word);
    return url;
}

QString wordAtCaret(const QsciScintilla* editor) {
    int line = 0, index = 0;
    editor->getCursorPosition(&line, &index);
    const QString text = editor->text(line);
    // `index` counts bytes of the line in QScintilla; scripts' keywords are ASCII, so the
    // word is found on the line's text around the caret's character position.
    int caret = std::min<int>(
        static_cast<int>(editor->SendScintilla(QsciScintilla::SCI_COUNTCHARACTERS,
                                               editor->positionFromLineIndex(line, 0),
                                               editor->positionFromLineIndex(line, index))),
        text.size());
    int start = caret, end = caret;
    while (start > 0 && isWordChar(text[start - 1]))
        --start;
    while (end < text.size() && isWordChar(text[end]))
        ++end;
    return text.mid(start, end - start);
}

void installKeywordHelp(QsciScintilla* editor, std::function<void(const QString&)> onHelp) {
    editor->installEventFilter(new F1Filter(editor, std::move(onHelp)));
}

} // namespace nv
