// The script editor of the main window: a QScintilla editor that holds the script
// as bytes. A file's bytes go into the editor unchanged and come back out unchanged; the
// encoding only decides how they are drawn (UTF-8 when the bytes are valid UTF-8, Latin-1
// otherwise). It carries the script colouring, the parameter hints shown when "(" follows a
// name, the completion list (Ctrl+Space; it narrows to the names that begin with what is
// typed), web addresses that open on click, the marker of the executing line, the margin
// mark of a line a log message names, find and replace, whether the text changed since it
// was loaded or saved, and the HTML export.
//
// Threading: user-interface thread. Error policy: nothing here fails; opening a web address
// the desktop cannot handle does nothing.
#pragma once

#include "baseqt/displaytext.h"

#include <QStringList>
#include <Qsci/qsciscintilla.h>
#include <functional>
#include <string>
#include <string_view>

namespace nv {

class ScriptLexer;

class ScriptEditor : public QsciScintilla {
    Q_OBJECT
  public:
    explicit ScriptEditor(QWidget* parent = nullptr);

    // Replaces the whole text with these bytes, chooses the encoding they are drawn in and
    // forgets the undo history.
    void setBytes(std::string_view bytes);
    // The whole text as bytes, exactly as held.
    std::string bytes() const;
    TextEncoding encoding() const { return encoding_; }
    // Text typed or pasted in Latin-1 mode that Latin-1 cannot hold switches the editor to
    // UTF-8 (the file is then saved as UTF-8 rather than losing characters).
    bool switchedToUtf8() const { return switchedToUtf8_; }

    // Changed since the text was set or marked saved (typing, pasting, undoing past the save
    // point, or the text moved to UTF-8).
    bool unsaved() const { return isModified() || convertedUnsaved_; }
    void markSaved();

    // Moves the caret to the start of a 0-based line and shows it.
    void goToLine(int line);
    // The margin mark of a line that a log message named: 0-based line, -1 removes it.
    void setErrorLine(int line);
    int errorLine() const { return errorLine_; }

    // Replaces the selection when it is a match of `text`, then finds the next one; true when
    // a replacement was made. replaceAll returns how many were replaced (one undo step).
    bool replaceNext(const QString& text, const QString& with);
    int replaceAll(const QString& text, const QString& with);

    // The executing-line mark: 0-based line, -1 removes it.
    void setExecutingLine(int line);
    int executingLine() const { return executingLine_; }

    // Shows the completion list for the word before the caret: the names that begin with it,
    // sorted; none shown when no name does.
    void showCompletion();
    // The entries of the list shown last (empty when it was closed for want of a match).
    const QStringList& completionShown() const { return completionShown_; }

    // Searches from the caret; wraps at the end. False when the text is nowhere.
    bool find(const QString& text, bool forward);

    // A page that shows the whole text with the editor's colours and styles.
    std::string exportHtml(const QString& title);

    // Opens web addresses; the tests replace it.
    std::function<void(const QUrl&)> openUrl;

    // The hint shown at the moment, or empty.
    QString shownHint() const { return hintActive_ ? hint_ : QString(); }

  signals:
    // The text moved from Latin-1 to UTF-8.
    void encodingChanged();
    // setBytes is about to replace the whole text, and has replaced it (the line marks other
    // parts keep, the breakpoints, go with the old text).
    void aboutToReplaceText();
    void textReplaced();
    // unsaved() changed.
    void unsavedChanged(bool unsaved);

  protected:
    void keyPressEvent(QKeyEvent* e) override;
    // A right click in the margins: their own menu (the breakpoints'), not the edit menu.
    void contextMenuEvent(QContextMenuEvent* e) override;

  private:
    // The text in place, valid until the next change.
    std::string_view view() const;
    void charAdded(int ch);
    void updateHint();
    void urlClicked(int position);
    void fitLineNumbers();

    ScriptLexer* lexer_;
    TextEncoding encoding_ = TextEncoding::Utf8;
    bool switchedToUtf8_ = false;
    int executingLine_ = -1;
    int markerExecuting_ = 0;
    int markerError_ = 1;
    int errorLine_ = -1;
    int numberDigits_ = 0;
    bool convertedUnsaved_ = false;
    QStringList completionShown_;
    bool hintActive_ = false;
    long hintStart_ = 0; // position of the "(" the hint belongs to
    QString hint_;
};

} // namespace nv
