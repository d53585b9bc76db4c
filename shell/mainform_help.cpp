// The main window's help and find: Help and About, F1's keyword page in the help window,
// Help > Search, the find and replace
// bar, Go to line and the cursor's place in the status bar, the click on a log line that
// takes the editor to the line it names, and Esc (the rack window while a script runs, or
// the find bar).
//
// Threading: user-interface thread only. Error policy: help pages that are not installed
// are reported in the help window, which names the folder it looked in; a log line that names no
// line, or a line past the end, leaves the editor where it is.
#include "shell/mainform.h"

#include "baseqt/placement.h"
#include "engine/runcontrol.h"
#include "engine/runtime.h"
#include "shell/diagnostics.h"
#include "shell/helpwindow.h"
#include "shell/keywordhelp.h"
#include "shell/scripteditor.h"
#include "watch/watchwindow.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTextBlock>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace nv {

// The find bar under the editor, with its replace row (hidden until Find and Replace). It is
// made when first opened: its widgets, and the clear button's icon looked up in the icon theme,
// would otherwise be paid for before the window can first show.
void MainWindow::buildFindBar() {
    findBar_ = new QWidget(this);
    findBar_->setObjectName(QStringLiteral("FindBar"));
    auto* findRows = new QVBoxLayout(findBar_);
    findRows->setContentsMargins(6, 3, 6, 3);
    findRows->setSpacing(3);
    auto* findRow = new QHBoxLayout;
    findRows->addLayout(findRow);
    findEdit_ = new QLineEdit(findBar_);
    findEdit_->setObjectName(QStringLiteral("FindEdit"));
    findEdit_->setPlaceholderText(QStringLiteral("Find in script"));
    findEdit_->setClearButtonEnabled(true);
    auto* prev = new QToolButton(findBar_);
    prev->setArrowType(Qt::UpArrow);
    prev->setToolTip(QStringLiteral("Find previous (Shift+Enter)"));
    auto* next = new QToolButton(findBar_);
    next->setArrowType(Qt::DownArrow);
    next->setToolTip(QStringLiteral("Find next (Enter)"));
    auto* closeFind = new QToolButton(findBar_);
    closeFind->setText(QStringLiteral("✕"));
    closeFind->setToolTip(QStringLiteral("Close (Esc)"));
    // Replace: a second row of the same bar, shown by Replace (Ctrl+H).
    replaceRow_ = new QWidget(findBar_);
    auto* replaceRow = new QHBoxLayout(replaceRow_);
    replaceRow->setContentsMargins(0, 0, 0, 0);
    replaceEdit_ = new QLineEdit(replaceRow_);
    replaceEdit_->setObjectName(QStringLiteral("ReplaceEdit"));
    replaceEdit_->setPlaceholderText(QStringLiteral("Replace with"));
    auto* replaceOne = new QToolButton(replaceRow_);
    replaceOne->setObjectName(QStringLiteral("ReplaceButton"));
    replaceOne->setText(QStringLiteral("Replace"));
    replaceOne->setToolTip(QStringLiteral("Replace this match and find the next (Enter)"));
    auto* replaceEvery = new QToolButton(replaceRow_);
    replaceEvery->setObjectName(QStringLiteral("ReplaceAllButton"));
    replaceEvery->setText(QStringLiteral("Replace all"));
    auto* replaceLabel = new QLabel(QStringLiteral("Replace:"), replaceRow_);
    auto* findLabel = new QLabel(QStringLiteral("Find:"), findBar_);
    // The two edits line up.
    replaceLabel->setMinimumWidth(replaceLabel->sizeHint().width());
    findLabel->setMinimumWidth(replaceLabel->sizeHint().width());
    findRow->addWidget(findLabel);
    findRow->addWidget(findEdit_, 1);
    findRow->addWidget(prev);
    findRow->addWidget(next);
    findRow->addWidget(closeFind);
    replaceRow->addWidget(replaceLabel);
    replaceRow->addWidget(replaceEdit_, 1);
    replaceRow->addWidget(replaceOne);
    replaceRow->addWidget(replaceEvery);
    findRows->addWidget(replaceRow_);
    replaceRow_->hide();
    auto replaceStep = [this] { editor_->replaceNext(findEdit_->text(), replaceEdit_->text()); };
    connect(replaceOne, &QToolButton::clicked, this, replaceStep);
    connect(replaceEdit_, &QLineEdit::returnPressed, this, replaceStep);
    connect(replaceEvery, &QToolButton::clicked, this, [this] {
        const int n = editor_->replaceAll(findEdit_->text(), replaceEdit_->text());
        statusBar()->showMessage(QStringLiteral("%1 replaced").arg(n), 4000);
    });
    findBar_->hide();
    editorColumn_->layout()->addWidget(findBar_);
    auto findStep = [this](bool forward) {
        const bool found = editor_->find(findEdit_->text(), forward);
        findEdit_->setStyleSheet(found || findEdit_->text().isEmpty()
                                     ? QString()
                                     : QStringLiteral("QLineEdit { background: #ffe0e0; }"));
    };
    connect(findEdit_, &QLineEdit::returnPressed, this,
            [findStep] { findStep(!(QApplication::keyboardModifiers() & Qt::ShiftModifier)); });
    connect(next, &QToolButton::clicked, this, [findStep] { findStep(true); });
    connect(prev, &QToolButton::clicked, this, [findStep] { findStep(false); });
    connect(closeFind, &QToolButton::clicked, this, [this] {
        findBar_->hide();
        editor_->setFocus();
    });
}

void MainWindow::showFind() {
    if (!findBar_) buildFindBar();
    replaceRow_->hide();
    findBar_->show();
    // A selection on one line is what the user wants to find.
    const QString picked = editor_->selectedText();
    if (!picked.isEmpty() && !picked.contains(QLatin1Char('\n'))) findEdit_->setText(picked);
    findEdit_->setFocus();
    findEdit_->selectAll();
}

void MainWindow::showReplace() {
    showFind();
    replaceRow_->show();
}

void MainWindow::goToLine() {
    int line = 0, index = 0;
    editor_->getCursorPosition(&line, &index);
    const int chosen = dialogs.lineNumber(line + 1, std::max(1, editor_->lines()));
    if (chosen <= 0) return;
    editor_->goToLine(chosen - 1);
    editor_->setFocus();
}

void MainWindow::updateCursorLabel() {
    int line = 0, index = 0;
    editor_->getCursorPosition(&line, &index);
    // The column counts characters as shown, a tab as the columns it takes.
    const long pos = editor_->SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS);
    const long column = editor_->SendScintilla(QsciScintillaBase::SCI_GETCOLUMN, pos);
    cursorLabel_->setText(QStringLiteral("%1:%2").arg(line + 1).arg(column + 1));
}

namespace {

// The one help window of a main window, made when first asked for and kept (with its
// history) while the main window lives.
HelpWindow* helpWindowOf(QWidget* main, const QString& helpDir,
                         const std::function<void(const QUrl&)>& openUrl) {
    if (auto* w = main->findChild<HelpWindow*>(QString(), Qt::FindDirectChildrenOnly)) return w;
    auto* w = new HelpWindow(helpDir, main);
    // Links that leave the help go to the desktop, which says when nothing can open them.
    w->openExternal = openUrl;
    const QRect area = availableAreaFor(main->frameGeometry());
    w->resize(area.isEmpty() ? QSize(900, 700)
                             : QSize(std::min(900, area.width() * 9 / 10),
                                     std::min(700, area.height() * 9 / 10)));
    w->move(placeBeside(main->frameGeometry(), w->frameSize()));
    return w;
}

} // namespace

void MainWindow::showHelp() {
    showHelpPage(QString());
}

void MainWindow::showHelpPage(const QString& word) {
    if (running()) return;
    const QString dir = QDir(programDir_).filePath(QStringLiteral("Help/html"));
    HelpWindow* help = helpWindowOf(this, dir, [this](const QUrl& u) { dialogs.openUrl(u); });
    help->showPage(helpUrlFor(dir, word));
    help->show();
    help->raise();
    help->activateWindow();
}

void MainWindow::showHelpSearch() {
    if (running()) return;
    const QString dir = QDir(programDir_).filePath(QStringLiteral("Help/html"));
    helpWindowOf(this, dir, [this](const QUrl& u) { dialogs.openUrl(u); })->showSearch();
}

void MainWindow::showAbout() {
    if (running()) return;
    aboutBox()->move(pos() + QPoint(125, 125));
    aboutBox()->exec();
}

bool MainWindow::jumpToLogLine(int logLine) {
    flushLog();
    const QTextBlock block = log_->document()->findBlockByNumber(logLine);
    if (!block.isValid()) return false;
    const QString text = block.text();
    // "Error: unexpected next on line 6" (block validation): a line of the editor, from 1.
    static const QRegularExpression onLine(
        QStringLiteral("^Error: unexpected \\S+ on line (\\d+)"));
    // "12:00:01, from line 7: ..." (writelog): an index into the prepared program, where
    // `begin` is 0 and included files stand in front of the editor's lines.
    static const QRegularExpression fromLine(
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d, from line (\\d+):"));
    static const QRegularExpression fatal(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d Fatal error: "));
    int target = -1;
    QString where;
    if (const auto m = onLine.match(text); m.hasMatch()) {
        target = m.captured(1).toInt() - 1;
    } else if (const auto m2 = fromLine.match(text); m2.hasMatch()) {
        const SourceLine src = rc_->sourceOf(m2.captured(1).toInt());
        target = src.editorLine;
        if (!src.file.empty())
            where = QStringLiteral("Line %1 of %2, included here")
                        .arg(src.line + 1)
                        .arg(QString::fromLocal8Bit(src.file.data(),
                                                    static_cast<qsizetype>(src.file.size())));
    } else if (fatal.match(text).hasMatch()) {
        target = rc_->fatalEditorLine();
    } else {
        target = findingLogLineTarget(text); // Script > Check
    }
    if (target < 0 || target >= editor_->lines()) return false;
    editor_->goToLine(target);
    editor_->setErrorLine(target);
    editor_->setFocus();
    if (!where.isEmpty()) statusBar()->showMessage(where, 8000);
    return true;
}

bool MainWindow::handleEscape() {
    if (!rt_->rackOpened || !running()) return false;
    QWidget* rack = rackWindow ? rackWindow() : nullptr;
    if (!rack) return false;
    if (rack->isVisible())
        hide();
    else
        rack->show();
    return true;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
    if (watched == log_->viewport()) {
        const bool release = e->type() == QEvent::MouseButtonRelease;
        const bool move = e->type() == QEvent::MouseMove;
        auto* me = release || move ? static_cast<QMouseEvent*>(e) : nullptr;
        if (release && me->button() == Qt::LeftButton && !log_->textCursor().hasSelection()) {
            jumpToLogLine(log_->cursorForPosition(me->position().toPoint()).blockNumber());
        } else if (move && me->buttons() == Qt::NoButton) {
            // The pointer tells which lines lead somewhere.
            const QString line = log_->cursorForPosition(me->position().toPoint()).block().text();
            const bool leads = line.contains(QLatin1String(" on line ")) ||
                               line.contains(QLatin1String(", from line ")) ||
                               line.contains(QLatin1String(" Fatal error: ")) ||
                               findingLogLineTarget(line) >= 0;
            log_->viewport()->setCursor(leads ? Qt::PointingHandCursor : Qt::IBeamCursor);
        }
        return QMainWindow::eventFilter(watched, e);
    }
    if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->window() == this) {
            if (handleEscape()) return true;
            if (findBar_ && findBar_->isVisible() && findBar_->isAncestorOf(w)) {
                findBar_->hide();
                editor_->setFocus();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

} // namespace nv
