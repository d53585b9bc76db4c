// F1 in the script editor: the help page of the keyword under the caret.
//
// Every command, function and statement has a page of its own under Help/html/reference/
// (one page each rather than an anchor in a long page, so that the page itself stays the
// answer wherever it is opened). helpPageFor() maps a word to that page, or to the contents page
// when the word has none; installKeywordHelp() makes F1 in the editor report the word under the
// caret (the closing words of blocks lead to the statement that opens them).
//
// Threading: user-interface thread. Error policy: nothing fails; a word without a page
// falls back to the contents, and a missing help folder is the caller's to report.
#pragma once

#include <QString>
#include <functional>

class QsciScintilla;
class QUrl;

namespace nv {

// The page for `word` under the help folder (the one holding index.html): the word's own
// reference page when it exists, else index.html. Letter case counts, as in scripts.
QString helpPageFor(const QString& helpDir, const QString& word);

// helpPageFor() as a link for the help window: when the page has a heading or element whose
// id is the word itself ("next" on the page of for), the link points at it.
QUrl helpUrlFor(const QString& helpDir, const QString& word);

// The word under (or just before) the caret; empty when the caret is on none.
QString wordAtCaret(const QsciScintilla* editor);

// F1 pressed while the editor has the focus calls `onHelp` with the word at the caret (or
// an empty word), instead of the window's own F1.
void installKeywordHelp(QsciScintilla* editor, std::function<void(const QString& word)> onHelp);

} // namespace nv
