#include "shell/mainform.h"

#include "baseqt/displaytext.h"
#include "baseqt/placement.h"
#include "builder/buildcommand.h"
#include "engine/runcontrol.h"
#include "engine/runtime.h"
#include "engine/text.h"
#include "designer/designerwindow.h"
#include "rack/rack.h"
#include "shell/bars.h"
#include "shell/icons.h"
#include "shell/keywordhelp.h"
#include "shell/platform.h"
#include "shell/scripteditor.h"
#include "watch/watchwindow.h"
#include "wiring/subsystems.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTextBlock>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace nv {

namespace {

const QString kCaptionPrefix = QStringLiteral("Norvane - ");
const QString kUntitled = QStringLiteral("untitled.nvs");

// The enabled state of the window items in each run state.
enum Tri : char { Off, On, Keep };
struct ItemStates {
    const char* names;
    Tri idle, running, paused, waitingForStep;
};
const ItemStates kItemStates[] = {
    {"runButton runAction", On, Off, On, On},
    {"stopButton", Off, On, On, On},
    {"stopAction", Off, On, Off, On},
    {"pauseButton pauseAction", Off, On, Off, Off},
    {"openButton newButton saveButton saveAsButton fileMenu helpMenu buildAction", On, Off, Keep,
     Keep},
};

Tri stateFor(const ItemStates& row, RunState s) {
    switch (s) {
    case RunState::Idle:
        return row.idle;
    case RunState::Running:
        return row.running;
    case RunState::Paused:
        return row.paused;
    case RunState::WaitingForStep:
        return row.waitingForStep;
    }
    return Keep;
}

QString stateName(RunState s) {
    switch (s) {
    case RunState::Idle:
        return QStringLiteral("Ready");
    case RunState::Running:
        return QStringLiteral("Running");
    case RunState::Paused:
        return QStringLiteral("Paused");
    case RunState::WaitingForStep:
        return QStringLiteral("Waiting for step");
    }
    return {};
}

QIcon themed(const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(QString::fromLatin1(name),
                            QApplication::style()->standardIcon(fallback));
}

} // namespace

MainWindow::MainWindow() : MainWindow(Options{}) {}

MainWindow::MainWindow(const Options& options)
    : programDir_(options.programDir.isEmpty() ? QCoreApplication::applicationDirPath()
                                               : options.programDir),
      platform_(options.platform ? options.platform : &ShellPlatform::system()) {
    setObjectName(QStringLiteral("TMainForm"));
    setWindowIcon(programIcon());
    settingsPaths_ = settingsLocation(programDir_, *platform_);

    rt_ = std::make_unique<Runtime>(*this);
    buildCentral();
    buildActions();
    buildBars();

    // The other windows, in their order: the rack window comes with the subsystems, then
    // the watch window and the about box.
    subs_ = std::make_unique<Subsystems>(*rt_, this);
    rc_ = std::make_unique<RunControl>(*rt_);
    watch_ = std::make_unique<WatchWindow>(this);
    watch_->positionChanged = [this](QPoint p) {
        subs_->positions.watchX = p.x();
        subs_->positions.watchY = p.y();
    };
    about_ = std::make_unique<AboutBox>(this);

    dialogs.openScript = [this](const QString& dir) {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Open script"), dir,
                                            QStringLiteral("Norvane script (*.nvs)"));
    };
    dialogs.saveScript = [this](const QString& dir, const QString& proposed) {
        QFileDialog dlg(this, QStringLiteral("Save script as"), dir,
                        QStringLiteral("Norvane script (*.nvs)"));
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setDefaultSuffix(QStringLiteral("nvs"));
        dlg.selectFile(proposed);
        return dlg.exec() == QDialog::Accepted ? dlg.selectedFiles().value(0) : QString();
    };
    dialogs.saveHtml = [this](const QString& dir) {
        QFileDialog dlg(this, QStringLiteral("Export as html"), dir,
                        QStringLiteral("HTML files (*.html)"));
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setDefaultSuffix(QStringLiteral("html"));
        return dlg.exec() == QDialog::Accepted ? dlg.selectedFiles().value(0) : QString();
    };
    dialogs.saveProgram = [this](const QString& dir) {
        // A program on Linux has no extension: nothing is appended to the chosen name.
        QFileDialog dlg(this, QStringLiteral("Save program as"), dir,
                        QStringLiteral("Programs (*)"));
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        return dlg.exec() == QDialog::Accepted ? dlg.selectedFiles().value(0) : QString();
    };
    dialogs.confirm = [this](const QString& q) {
        return QMessageBox::question(this, QStringLiteral("Confirm"), q,
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    dialogs.askUnsaved = [this](const QString& q) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Norvane"), q,
                        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
        box.setDefaultButton(QMessageBox::Save);
        switch (box.exec()) {
        case QMessageBox::Save:
            return Dialogs::Unsaved::Save;
        case QMessageBox::Discard:
            return Dialogs::Unsaved::Discard;
        default:
            return Dialogs::Unsaved::Cancel;
        }
    };
    dialogs.lineNumber = [this](int current, int last) {
        bool ok = false;
        const int n = QInputDialog::getInt(this, QStringLiteral("Go to line"),
                                           QStringLiteral("Line (1 - %1):").arg(last), current, 1,
                                           last, 1, &ok);
        return ok ? n : 0;
    };
    dialogs.saveLog = [this](const QString& dir) {
        QFileDialog dlg(this, QStringLiteral("Save log as"), dir,
                        QStringLiteral("Text files (*.txt *.log);;All files (*)"));
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setDefaultSuffix(QStringLiteral("txt"));
        return dlg.exec() == QDialog::Accepted ? dlg.selectedFiles().value(0) : QString();
    };
    dialogs.error = [this](const QString& m) {
        QMessageBox::critical(this, QStringLiteral("Norvane"), m);
    };
    dialogs.openUrl = [this](const QUrl& url) {
        if (!platform_->openWithSystem(url))
            dialogs.error(QStringLiteral("No program could open %1").arg(url.toDisplayString()));
    };
    editor_->openUrl = [this](const QUrl& url) { dialogs.openUrl(url); };
    installKeywordHelp(editor_, [this](const QString& word) { showHelpPage(word); });
    connect(editor_, &ScriptEditor::encodingChanged, this, &MainWindow::updateStatus);
    connect(editor_, &ScriptEditor::unsavedChanged, this, &QWidget::setWindowModified);
    connect(editor_, &QsciScintilla::cursorPositionChanged, this, &MainWindow::updateCursorLabel);
    // A loaded rack renames the window after its root, so it is reached directly.
    rackWindow = [this] { return static_cast<QWidget*>(&subs_->rack->window()); };
    subs_->rack->window().stopScript = [this] { stopScript(); };
    subs_->rack->window().showAbout = [this] { about_->exec(); };
    subs_->rack->placeUnremembered = [this](QSize) {
        return placeBesideFree(this, &subs_->rack->window(), false);
    };

    resize(544, 374);
    readSettings();
    setRunState(RunState::Idle);
    setCaptionFor({});
    updateCursorLabel();
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    rc_.reset();
    subs_.reset();
}

// ---- building ----

void MainWindow::buildCentral() {
    editor_ = new ScriptEditor(this);
    log_ = new QPlainTextEdit(this);
    log_->setObjectName(QStringLiteral("LMemo"));
    log_->setReadOnly(true);
    log_->setUndoRedoEnabled(false);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log_->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont logFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    logFont.setPixelSize(12);
    log_->setFont(logFont);
    log_->setStyleSheet(QStringLiteral("QPlainTextEdit { background: #fbfbfb; }"));

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

    auto* top = new QWidget(this);
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->setSpacing(0);
    topLayout->addWidget(editor_, 1);
    topLayout->addWidget(findBar_);

    splitter_ = new QSplitter(Qt::Vertical, this);
    splitter_->setObjectName(QStringLiteral("Splitter1"));
    splitter_->setHandleWidth(3);
    splitter_->setChildrenCollapsible(false);
    splitter_->addWidget(top);
    splitter_->addWidget(log_);
    splitter_->setStretchFactor(0, 1);
    splitter_->setStretchFactor(1, 0);
    setCentralWidget(splitter_);

    stateLabel_ = new QLabel(this);
    encodingLabel_ = new QLabel(this);
    cursorLabel_ = new QLabel(this);
    cursorLabel_->setObjectName(QStringLiteral("CursorLabel"));
    cursorLabel_->setToolTip(QStringLiteral("Line:column of the cursor (Ctrl+G: go to line)"));
    statusBar()->addWidget(stateLabel_, 1);
    statusBar()->addPermanentWidget(cursorLabel_);
    statusBar()->addPermanentWidget(encodingLabel_);
    statusBar()->setSizeGripEnabled(true);

    logFlush_ = new QTimer(this);
    logFlush_->setSingleShot(true);
    logFlush_->setInterval(40);
    connect(logFlush_, &QTimer::timeout, this, &MainWindow::flushLog);

    buildLogMenu();
    // A click on a log line that names a line takes the editor there (the window's
    // application-wide event filter sees the clicks).
    log_->viewport()->setMouseTracking(true);
}

void MainWindow::buildLogMenu() {
    log_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(log_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        flushLog();
        std::unique_ptr<QMenu> menu(log_->createStandardContextMenu(at));
        menu->addSeparator();
        QAction* clear = menu->addAction(QStringLiteral("Clear"), this, [this] {
            // A running script goes on counting its lines from an empty pane.
            clearLog();
        });
        clear->setObjectName(QStringLiteral("clearLogAction"));
        clear->setEnabled(!log_->document()->isEmpty());
        QAction* save =
            menu->addAction(QStringLiteral("Save log as..."), this, &MainWindow::saveLogAs);
        save->setObjectName(QStringLiteral("saveLogAction"));
        menu->exec(log_->viewport()->mapToGlobal(at));
    });
}

void MainWindow::saveLogAs() {
    const QString path = dialogs.saveLog(QDir::currentPath());
    if (path.isEmpty()) return;
    // The log is text shown to a person: saved as UTF-8, one line per line.
    std::string bytes = logText().toUtf8().toStdString();
    if (!bytes.empty()) bytes += '\n';
    QString error;
    if (!platform_->writeFile(path, bytes, error))
        dialogs.error(QStringLiteral("The log was not saved.\n\n%1").arg(error));
}

void MainWindow::buildActions() {
    auto make = [this](const char* name, const QString& text, const QIcon& icon = {}) {
        auto* a = new QAction(icon, text, this);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    const QIcon openIcon = themed("document-open", QStyle::SP_DialogOpenButton);
    const QIcon newIcon = QIcon::fromTheme(QStringLiteral("document-new"), newScriptIcon());
    const QIcon saveIcon = themed("document-save", QStyle::SP_DialogSaveButton);
    const QIcon saveAsIcon = themed("document-save-as", QStyle::SP_DriveFDIcon);
    const QIcon runIcon = themed("media-playback-start", QStyle::SP_MediaPlay);
    const QIcon stopIcon = themed("media-playback-stop", QStyle::SP_MediaStop);
    const QIcon pauseIcon = themed("media-playback-pause", QStyle::SP_MediaPause);

    // Menu items.
    QAction* open = make("openAction", QStringLiteral("&Open..."), openIcon);
    open->setShortcut(QKeySequence::Open);
    QAction* neu = make("newAction", QStringLiteral("&New"), newIcon);
    neu->setShortcut(QKeySequence::New);
    QAction* save = make("saveAction", QStringLiteral("&Save"), saveIcon);
    save->setShortcut(QKeySequence::Save);
    QAction* saveAs = make("saveAsAction", QStringLiteral("Save &as..."), saveAsIcon);
    saveAs->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    QAction* html = make("exportHtmlAction", QStringLiteral("&Export as html..."));
    QAction* quit = make("quitAction", QStringLiteral("&Quit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QAction* run = make("runAction", QStringLiteral("&Run"), runIcon);
    run->setShortcut(QKeySequence(Qt::Key_F9));
    // Stop and Pause keys live on actions of their own (below): the menu items and buttons
    // are enabled in different run states, and a key must work in all of them.
    QAction* stop = make("stopAction", QStringLiteral("&Stop\tShift+F9"), stopIcon);
    QAction* pause = make("pauseAction", QStringLiteral("&Pause\tCtrl+F9"), pauseIcon);
    QAction* build = make("buildAction", QStringLiteral("&Build..."));
    build->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    QAction* find = make("findAction", QStringLiteral("&Find..."));
    find->setShortcut(QKeySequence::Find);
    QAction* replace = make("replaceAction", QStringLiteral("&Replace..."));
    replace->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    QAction* gotoLine = make("goToLineAction", QStringLiteral("&Go to line..."));
    gotoLine->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    // The edit items act on the editor, or on the log pane while it has the focus (copy and
    // select all there; the log cannot be changed, so the others do nothing).
    auto editItem = [&](const char* name, const QString& text, QKeySequence::StandardKey key,
                        const char* icon, std::function<void()> onEditor,
                        std::function<void()> onLog) {
        QAction* a = make(name, text, QIcon::fromTheme(QString::fromLatin1(icon)));
        a->setShortcut(key);
        connect(a, &QAction::triggered, this, [this, onEditor, onLog] {
            if (!log_->hasFocus())
                onEditor();
            else if (onLog)
                onLog();
        });
        return a;
    };
    QAction* undo = editItem("undoAction", QStringLiteral("&Undo"), QKeySequence::Undo, "edit-undo",
                             [this] { editor_->undo(); }, {});
    QAction* redo = editItem("redoAction", QStringLiteral("&Redo"), QKeySequence::Redo, "edit-redo",
                             [this] { editor_->redo(); }, {});
    QAction* cut = editItem("cutAction", QStringLiteral("Cu&t"), QKeySequence::Cut, "edit-cut",
                            [this] { editor_->cut(); }, {});
    QAction* copy = editItem(
        "copyAction", QStringLiteral("&Copy"), QKeySequence::Copy, "edit-copy",
        [this] { editor_->copy(); }, [this] { log_->copy(); });
    QAction* paste = editItem("pasteAction", QStringLiteral("&Paste"), QKeySequence::Paste,
                              "edit-paste", [this] { editor_->paste(); }, {});
    QAction* selectAll = editItem(
        "selectAllAction", QStringLiteral("Select &all"), QKeySequence::SelectAll,
        "edit-select-all", [this] { editor_->selectAll(); }, [this] { log_->selectAll(); });
    QAction* help = make("helpAction", QStringLiteral("&Help"));
    help->setShortcut(QKeySequence::HelpContents);
    QAction* about = make("aboutAction", QStringLiteral("&About"));

    // The status bar shows each item's hint while the pointer is on it.
    const std::pair<QAction*, const char*> hints[] = {
        {open, "Open script"},
        {neu, "New script"},
        {save, "Save script"},
        {saveAs, "Save script as"},
        {html, "Write the script as a coloured web page"},
        {quit, "Close Norvane"},
        {run, "Run script"},
        {stop, "Stop script"},
        {pause, "Pause script"},
        {build, "Build a standalone program from the script"},
        {find, "Find text in the script"},
        {replace, "Replace text in the script"},
        {gotoLine, "Go to a line of the script"},
        {undo, "Undo the last change"},
        {redo, "Redo what was undone"},
        {cut, "Cut the selection"},
        {copy, "Copy the selection"},
        {paste, "Paste"},
        {selectAll, "Select the whole text"},
        {help, "Open the help pages"},
        {about, "About Norvane"},
    };
    for (const auto& [a, hint] : hints)
        a->setStatusTip(QString::fromLatin1(hint));

    connect(open, &QAction::triggered, this, &MainWindow::openScript);
    connect(neu, &QAction::triggered, this, &MainWindow::newScript);
    connect(save, &QAction::triggered, this, &MainWindow::saveScript);
    connect(saveAs, &QAction::triggered, this, &MainWindow::saveScriptAs);
    connect(html, &QAction::triggered, this, &MainWindow::exportHtml);
    connect(quit, &QAction::triggered, this, &QWidget::close);
    connect(run, &QAction::triggered, this, &MainWindow::runScript);
    connect(stop, &QAction::triggered, this, &MainWindow::stopScript);
    connect(pause, &QAction::triggered, this, &MainWindow::pauseScript);
    connect(build, &QAction::triggered, this, &MainWindow::buildProgram);
    connect(find, &QAction::triggered, this, &MainWindow::showFind);
    connect(replace, &QAction::triggered, this, &MainWindow::showReplace);
    connect(gotoLine, &QAction::triggered, this, &MainWindow::goToLine);
    const std::pair<const char*, QKeySequence> runKeys[] = {
        {"stopKey", QKeySequence(Qt::SHIFT | Qt::Key_F9)},
        {"pauseKey", QKeySequence(Qt::CTRL | Qt::Key_F9)},
    };
    for (const auto& [name, key] : runKeys) {
        QAction* a = make(name, QString());
        a->setShortcut(key);
        addAction(a);
    }
    connect(item(QStringLiteral("stopKey")), &QAction::triggered, this, [this] {
        if (running()) stopScript();
    });
    connect(item(QStringLiteral("pauseKey")), &QAction::triggered, this, [this] {
        if (state_ == RunState::Running) pauseScript();
    });
    connect(help, &QAction::triggered, this, &MainWindow::showHelp);
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);

    // Buttons: their own items, since their enabled states differ from the menu's.
    // The tooltip names the key that does the same.
    struct Button {
        const char* name;
        QString text, hint;
        QIcon icon;
        void (MainWindow::*slot)();
        QKeySequence key;
    };
    const Button buttons[] = {
        {"openButton", QStringLiteral("Open"), QStringLiteral("Open script"), openIcon,
         &MainWindow::openScript, open->shortcut()},
        {"newButton", QStringLiteral("New"), QStringLiteral("New script"), newIcon,
         &MainWindow::newScript, neu->shortcut()},
        {"saveButton", QStringLiteral("Save"), QStringLiteral("Save script"), saveIcon,
         &MainWindow::saveScript, save->shortcut()},
        {"saveAsButton", QStringLiteral("Save as"), QStringLiteral("Save script as"), saveAsIcon,
         &MainWindow::saveScriptAs, saveAs->shortcut()},
        {"runButton", QStringLiteral("Run"), QStringLiteral("Run script"), runIcon,
         &MainWindow::runScript, run->shortcut()},
        {"stopButton", QStringLiteral("Stop"), QStringLiteral("Stop script"), stopIcon,
         &MainWindow::stopScript, runKeys[0].second},
        {"pauseButton", QStringLiteral("Pause"), QStringLiteral("Pause script"), pauseIcon,
         &MainWindow::pauseScript, runKeys[1].second},
    };
    for (const Button& b : buttons) {
        QAction* a = make(b.name, b.text, b.icon);
        a->setToolTip(
            QStringLiteral("%1 (%2)").arg(b.hint, b.key.toString(QKeySequence::NativeText)));
        a->setStatusTip(b.hint);
        connect(a, &QAction::triggered, this, b.slot);
    }

    fileMenu_ = new QMenu(QStringLiteral("&File"), this);
    fileMenu_->menuAction()->setObjectName(QStringLiteral("fileMenu"));
    fileMenu_->addActions({open, neu, save, saveAs});
    fileMenu_->addSeparator();
    fileMenu_->addAction(html);
    fileMenu_->addSeparator();
    fileMenu_->addAction(quit);

    auto* editMenu = new QMenu(QStringLiteral("&Edit"), this);
    editMenu->menuAction()->setObjectName(QStringLiteral("editMenu"));
    editMenu->addActions({undo, redo});
    editMenu->addSeparator();
    editMenu->addActions({cut, copy, paste, selectAll});
    editMenu->addSeparator();
    editMenu->addActions({find, replace, gotoLine});

    scriptMenu_ = new QMenu(QStringLiteral("&Script"), this);
    scriptMenu_->menuAction()->setObjectName(QStringLiteral("scriptMenu"));
    scriptMenu_->addActions({run, stop, pause});
    scriptMenu_->addSeparator();
    scriptMenu_->addAction(build);

    helpMenu_ = new QMenu(QStringLiteral("&Help"), this);
    helpMenu_->menuAction()->setObjectName(QStringLiteral("helpMenu"));
    helpMenu_->addActions({help, about});
}

void MainWindow::buildBars() {
    setDockOptions(QMainWindow::AnimatedDocks);
    auto makeBar = [this](const char* name, const QString& title) {
        auto* bar = new QToolBar(title, this);
        bar->setObjectName(QString::fromLatin1(name));
        bar->setAllowedAreas(Qt::TopToolBarArea);
        bar->setMovable(true);
        bar->setFloatable(true);
        bar->setIconSize(QSize(18, 18));
        return bar;
    };
    menuBar_ = makeBar("TBT1", QStringLiteral("Norvane"));
    auto* menus = new QMenuBar(menuBar_);
    menus->setNativeMenuBar(false);
    menus->addMenu(fileMenu_);
    menus->addMenu(findChild<QAction*>(QStringLiteral("editMenu"))->menu());
    menus->addMenu(scriptMenu_);
    menus->addMenu(designer::createRackMenu(this, [this] { return running(); }));
    menus->addMenu(helpMenu_);
    menuBar_->addWidget(menus);
    // The menus stay reachable: the menu bar cannot be hidden from its context menu.
    menuBar_->toggleViewAction()->setEnabled(false);

    buttonBar_ = makeBar("TBT2", QStringLiteral("Norvane"));
    // Icons only: the bar leaves room on its row for the recent-files bar.
    buttonBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (const char* n : {"openButton", "newButton", "saveButton", "saveAsButton", "", "runButton",
                          "stopButton", "pauseButton"}) {
        if (!*n)
            buttonBar_->addSeparator();
        else
            buttonBar_->addAction(item(QString::fromLatin1(n)));
    }

    recentBar_ = makeBar("TBT3", QStringLiteral("Recent files"));
    recentBar_->setToolButtonStyle(Qt::ToolButtonTextOnly);

    addToolBar(Qt::TopToolBarArea, menuBar_);
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, buttonBar_);
    addToolBar(Qt::TopToolBarArea, recentBar_);
}

QAction* MainWindow::item(const QString& name) const {
    for (QMenu* m : {fileMenu_, scriptMenu_, helpMenu_})
        if (m && m->menuAction()->objectName() == name) return m->menuAction();
    return findChild<QAction*>(name, Qt::FindDirectChildrenOnly);
}

void MainWindow::refreshRecentBar() {
    for (QAction* a : recentBar_->actions()) {
        recentBar_->removeAction(a);
        a->deleteLater();
    }
    const auto& paths = recent_.paths();
    for (size_t i = 0; i < paths.size(); ++i) {
        QString label = RecentList::label(i, paths[i]);
        // A "&" in a file name is shown, not taken as an accelerator.
        label = label.left(2) + label.mid(2).replace(QLatin1Char('&'), QLatin1String("&&"));
        auto* a = new QAction(label, recentBar_);
        a->setObjectName(QStringLiteral("recent%1").arg(i + 1));
        // The accelerator works even when the entry is folded into the bar's overflow menu.
        a->setShortcut(
            QKeySequence(Qt::ALT | static_cast<Qt::Key>(Qt::Key_1 + static_cast<int>(i))));
        a->setToolTip(QStringLiteral("%1 (%2)").arg(
            paths[i], a->shortcut().toString(QKeySequence::NativeText)));
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, [this, i] { openRecent(static_cast<int>(i)); });
        recentBar_->addAction(a);
    }
}

// ---- the engine's host ----

void MainWindow::processEvents() {
    QCoreApplication::processEvents();
}

void MainWindow::waitForEvents() {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void MainWindow::clearLog() {
    pendingLog_.clear();
    log_->clear();
    logLines_ = 0;
}

void MainWindow::appendLog(std::string_view text) {
    QString t = displayText(text);
    const int lines = logLinesIn(text);
    if (lines > 1) {
        t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    }
    pendingLog_.append(t);
    logLines_ += lines;
    if (!logFlush_->isActive()) logFlush_->start();
}

void MainWindow::flushLog() {
    if (pendingLog_.isEmpty()) return;
    log_->appendPlainText(pendingLog_.join(QLatin1Char('\n')));
    pendingLog_.clear();
}

QString MainWindow::logText() {
    flushLog();
    return log_->toPlainText();
}

void MainWindow::setRunState(RunState state) {
    state_ = state;
    for (const ItemStates& row : kItemStates) {
        const Tri t = stateFor(row, state);
        if (t == Keep) continue;
        for (const QString& name : QString::fromLatin1(row.names).split(QLatin1Char(' ')))
            if (QAction* a = item(name)) a->setEnabled(t == On);
    }
    // Choosing a recent file replaces the editor text: not while that text is running.
    recentBar_->setEnabled(item(QStringLiteral("fileMenu"))->isEnabled());
    updateStatus();
}

void MainWindow::setEditorReadOnly(bool readOnly) {
    editor_->setReadOnly(readOnly);
}

void MainWindow::highlightLine(int line) {
    editor_->setExecutingLine(line);
}

void MainWindow::setWatchText(std::string_view text) {
    watch_->setWatchText(text);
}

void MainWindow::showWatch() {
    if (rt_->packageMode) return;
    const auto& p = subs_->positions;
    watch_->showAt(remembered(p.watchX, p.watchY) ? QPoint(p.watchX, p.watchY)
                                                  : placeBesideFree(this, watch_.get(), false));
}

void MainWindow::hideWatch() {
    if (rt_->packageMode) return;
    watch_->hide();
}

std::string MainWindow::editorText() const {
    return editor_->bytes();
}

void MainWindow::quitApplication() {
    closed_ = true;
    QCoreApplication::quit();
}

void MainWindow::updateStatus() {
    stateLabel_->setText(stateName(state_));
    encodingLabel_->setText(editor_->encoding() == TextEncoding::Utf8 ? QStringLiteral("UTF-8")
                                                                      : QStringLiteral("Latin-1"));
}

bool MainWindow::running() const {
    return rc_ && rc_->running();
}

// ---- Run, Pause, Stop ----

void MainWindow::runScript() {
    if (running()) {
        rc_->run({});
        return;
    }
    if (closed_) return;
    // The marks a failed run left behind go when the next one starts.
    editor_->setErrorLine(-1);
    editor_->setExecutingLine(-1);
    rc_->run(splitLines(editor_->bytes()));
    flushLog();
    // The line that failed keeps the executing-line mark and gets the margin mark.
    if (!closed_) editor_->setErrorLine(rc_->fatalEditorLine());
}

void MainWindow::pauseScript() {
    rc_->pause();
}

void MainWindow::stopScript() {
    rc_->stop();
}

// ---- files ----

void MainWindow::setCaptionFor(const QString& path) {
    // "[*]" shows as "*" while the script holds changes not yet saved, as nothing otherwise.
    setWindowTitle(kCaptionPrefix + (path.isEmpty() ? kUntitled : QFileInfo(path).fileName()) +
                   QStringLiteral("[*]"));
    setWindowModified(editor_->unsaved());
}

QString MainWindow::captionName() const {
    return QString(windowTitle()).remove(QLatin1String("[*]")).mid(kCaptionPrefix.size());
}

QString MainWindow::shownTitle() const {
    QString t = windowTitle();
    return t.replace(QLatin1String("[*]"), isWindowModified() ? QStringLiteral("*") : QString());
}

bool MainWindow::settleUnsavedChanges() {
    if (rt_->packageMode || !editor_->unsaved()) return true;
    const QString name = currentFile_.isEmpty() ? kUntitled : QFileInfo(currentFile_).fileName();
    switch (dialogs.askUnsaved(
        QStringLiteral("The script %1 has changes that are not saved.\n\nSave them first?")
            .arg(name))) {
    case Dialogs::Unsaved::Discard:
        return true;
    case Dialogs::Unsaved::Cancel:
        return false;
    case Dialogs::Unsaved::Save:
        break;
    }
    // Saving may itself be cancelled (the Save as dialog) or fail: then nothing is discarded.
    if (currentFile_.isEmpty())
        saveUnderChosenName();
    else
        writeScript(currentFile_);
    return !editor_->unsaved();
}

bool MainWindow::writeScript(const QString& path) {
    QString error;
    if (!writeEditorTo(path, error)) {
        dialogs.error(QStringLiteral("Error saving file\n\n%1").arg(error));
        return false;
    }
    editor_->markSaved();
    return true;
}

bool MainWindow::loadIntoEditor(const QString& path, QString& error) {
    std::string bytes;
    if (!platform_->readFile(path, bytes, error)) return false;
    editor_->setBytes(bytes);
    editor_->markSaved();
    startLine_ = false;
    updateStatus();
    return true;
}

bool MainWindow::writeEditorTo(const QString& path, QString& error) {
    return platform_->writeFile(path, editor_->bytes(), error);
}

bool MainWindow::openFile(const QString& path) {
    if (editor_->unsaved() && !rt_->packageMode) {
        if (!settleUnsavedChanges()) return false;
    } else {
        // Nothing changed: the program's long-standing question, asked whenever the editor
        // holds a line.
        const bool holdsLine = startLine_ || editor_->length() > 0;
        if (holdsLine && !dialogs.confirm(QStringLiteral(
                             "All unsaved changes will be lost. Open another file now ?")))
            return false;
    }
    QString error;
    if (!loadIntoEditor(path, error)) {
        dialogs.error(QStringLiteral("Error loading file %1\n\n%2").arg(path, error));
        return false;
    }
    currentFile_ = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    setCaptionFor(currentFile_);
    recent_.add(currentFile_);
    refreshRecentBar();
    return true;
}

void MainWindow::openScript() {
    if (running()) return;
    const QString path = dialogs.openScript(programDir_);
    if (!path.isEmpty()) openFile(path);
}

void MainWindow::newScript() {
    if (running()) return;
    if (!settleUnsavedChanges()) return;
    editor_->setBytes({});
    editor_->markSaved();
    startLine_ = false;
    currentFile_.clear();
    setCaptionFor({});
    updateStatus();
}

void MainWindow::saveScript() {
    if (running()) return;
    if (currentFile_.isEmpty()) {
        saveScriptAs();
        return;
    }
    writeScript(currentFile_);
}

void MainWindow::saveScriptAs() {
    if (running()) return;
    saveUnderChosenName();
}

// Also reached from the unsaved-changes question while a script runs (the window closes).
void MainWindow::saveUnderChosenName() {
    const QString proposed = captionName().left(100);
    QString path = dialogs.saveScript(programDir_, proposed);
    if (path.isEmpty()) return;
    // Only the file's own name decides: a dot in a folder name is no extension.
    if (!QFileInfo(path).fileName().contains(QLatin1Char('.'))) path += QStringLiteral(".nvs");
    QString error;
    if (!writeEditorTo(path, error)) {
        dialogs.error(QStringLiteral("The script was not saved.\n\n%1").arg(error));
        return;
    }
    editor_->markSaved();
    currentFile_ = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    setCaptionFor(currentFile_);
    recent_.add(currentFile_);
    refreshRecentBar();
}

void MainWindow::exportHtml() {
    if (running()) return;
    QString path = dialogs.saveHtml(QDir::currentPath());
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".html");
    // This dialog, unlike the others, moves the current folder to where the page goes;
    // scripts that open files by bare names find them there afterwards.
    QDir::setCurrent(QFileInfo(path).absolutePath());
    const QString title = captionName();
    QString error;
    if (!platform_->writeFile(path, editor_->exportHtml(title), error))
        dialogs.error(QStringLiteral("The page was not written.\n\n%1").arg(error));
}

void MainWindow::openRecent(int index) {
    if (running() || index < 0 || index >= static_cast<int>(recent_.paths().size())) return;
    const QString path = recent_.paths()[static_cast<size_t>(index)];
    if (!settleUnsavedChanges()) return;
    QString error;
    if (!loadIntoEditor(path, error)) {
        dialogs.error(QStringLiteral("The script could not be opened.\n\n%1").arg(error));
        return;
    }
    currentFile_ = path;
    setCaptionFor(path);
}

bool MainWindow::runFileAtStart(const QString& path) {
    QString error;
    if (!loadIntoEditor(path, error)) {
        dialogs.error(QStringLiteral("The script could not be run.\n\n%1").arg(error));
        return false;
    }
    runScript();
    return true;
}

RunOutcome MainWindow::runPackagedScript() {
    const RunOutcome outcome = rc_->run(splitLines(editor_->bytes()));
    flushLog();
    return outcome;
}

// ---- Build ----

void MainWindow::buildProgram() {
    if (running()) return;
    const std::string source = programFileForBuild.isEmpty()
                                   ? builder::runningProgram()
                                   : QFile::encodeName(programFileForBuild).toStdString();
    const builder::Outcome out =
        builder::build(*rt_, *subs_->rack, source, splitLines(editor_->bytes()));
    flushLog();
    if (!out.failure.empty()) {
        dialogs.error(QString::fromStdString(out.failure));
        return;
    }
    if (!out.built) return;
    const QString path = dialogs.saveProgram(programDir_);
    if (path.isEmpty()) return;
    std::string error;
    std::vector<std::string> inputs = out.inputs;
    if (!currentFile_.isEmpty()) inputs.push_back(QFile::encodeName(currentFile_).toStdString());
    if (!builder::writeProgram(QFile::encodeName(path).toStdString(), out.image, source, inputs,
                               error))
        dialogs.error(QStringLiteral("The program was not written:\n%1\n\n%2")
                          .arg(path, QString::fromStdString(error)));
}

void MainWindow::setPackageMode(bool on) {
    rt_->packageMode = on;
}

// ---- Help, About, Find, Esc ----

void MainWindow::showHelp() {
    showHelpPage(QString());
}

void MainWindow::showHelpPage(const QString& word) {
    if (running()) return;
    const QString page = helpPageFor(QDir(programDir_).filePath(QStringLiteral("Help/html")), word);
    if (!QFileInfo(page).isFile()) {
        dialogs.error(QStringLiteral("The help pages are not installed:\n%1").arg(page));
        return;
    }
    dialogs.openUrl(QUrl::fromLocalFile(page));
}

void MainWindow::showAbout() {
    if (running()) return;
    about_->move(pos() + QPoint(125, 125));
    about_->exec();
}

void MainWindow::showFind() {
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
                               line.contains(QLatin1String(" Fatal error: "));
            log_->viewport()->setCursor(leads ? Qt::PointingHandCursor : Qt::IBeamCursor);
        }
        return QMainWindow::eventFilter(watched, e);
    }
    if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->window() == this) {
            if (handleEscape()) return true;
            if (findBar_->isVisible() && findBar_->isAncestorOf(w)) {
                findBar_->hide();
                editor_->setFocus();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

// ---- settings ----

int MainWindow::logPaneHeight() const {
    return shownOnce_ ? log_->height() : logHeight_;
}

void MainWindow::fitToScreen() {
    // The frame is known only once the window manager has framed the window; before that a
    // title bar's height is allowed for.
    // pos() is the frame's corner; geometry() the inside.
    const QRect frame = frameGeometry(), inside = geometry();
    QMargins margins(inside.left() - frame.left(), inside.top() - frame.top(),
                     frame.right() - inside.right(), frame.bottom() - inside.bottom());
    if (!isVisible() || margins.isNull())
        margins = QMargins(0, style()->pixelMetric(QStyle::PM_TitleBarHeight), 0, 0);
    const QSize extra(margins.left() + margins.right(), margins.top() + margins.bottom());
    const QRect area = availableAreaFor(QRect(pos(), size() + extra));
    if (area.isEmpty()) return;
    const QSize room = area.size() - extra;
    const QSize fitted = size().boundedTo(room).expandedTo(minimumSizeHint().boundedTo(room));
    if (fitted != size()) resize(fitted);
    QRect outer(pos(), fitted + extra);
    QPoint shift;
    if (outer.right() > area.right()) shift.rx() = area.right() - outer.right();
    if (outer.bottom() > area.bottom()) shift.ry() = area.bottom() - outer.bottom();
    outer.translate(shift);
    if (outer.left() < area.left()) shift.rx() += area.left() - outer.left();
    if (outer.top() < area.top()) shift.ry() += area.top() - outer.top();
    if (!shift.isNull()) move(pos() + shift);
}

void MainWindow::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (shownOnce_) return;
    shownOnce_ = true;
    // Once framed, the real frame is known: fit again with it (a loaded desktop may frame
    // the window late, hence a second look).
    for (int ms : {300, 1200})
        QTimer::singleShot(ms, this, [this] {
            if (isVisible() && !isMaximized() && !isFullScreen()) fitToScreen();
        });
    if (QLayout* l = layout()) l->activate();
    const int total = splitter_->height() - splitter_->handleWidth();
    const int logH = std::clamp(logHeight_, 20, std::max(20, total - 40));
    splitter_->setSizes({total - logH, logH});
}

void MainWindow::readSettings() {
    const IniFile ini = loadSettings(settingsPaths_, *platform_);
    WindowSettings s;
    readWindowSettings(ini, s);
    move(s.x, s.y);
    resize(s.width, s.height);
    // A place remembered on a screen that is gone (a monitor unplugged) would leave the
    // window where nobody can reach it.
    const QRect wanted(QPoint(s.x, s.y), size());
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (!screens.isEmpty() && std::none_of(screens.begin(), screens.end(), [&](QScreen* sc) {
            return sc->availableGeometry().intersects(
                wanted.adjusted(0, 0, 0, -wanted.height() + 20));
        }))
        move(screens.front()->availableGeometry().topLeft());
    // A size larger than the screen (or saved at another scale factor) would put the log
    // and the status bar out of sight.
    fitToScreen();
    logHeight_ = s.logHeight;
    // A window the file holds no place for has none: it goes beside this window when first
    // shown, and the file gets no made-up place for it.
    auto place = [&ini](const char* section, int x, int y, int& outX, int& outY) {
        const bool known = ini.value(section, "x") && ini.value(section, "y");
        outX = known ? x : kNoPlace;
        outY = known ? y : kNoPlace;
    };
    Subsystems::Positions& p = subs_->positions;
    place("debug", s.watchX, s.watchY, p.watchX, p.watchY);
    place("rack", s.rackX, s.rackY, p.rackX, p.rackY);
    place("terminal", s.terminalX, s.terminalY, p.terminalX, p.terminalY);
    recent_.assign(s.recent);
    refreshRecentBar();
    applyBars(s);
}

void MainWindow::writeSettings() {
    const QString& target = settingsPaths_.writePath;
    // Keys other parts of the program keep in the file (the port table) are carried over.
    IniFile ini = loadIni(QFileInfo::exists(target) ? target : settingsPaths_.readPath, *platform_);
    WindowSettings s;
    s.recent = recent_.paths();
    collectBars(s);
    s.x = pos().x();
    s.y = pos().y();
    s.width = width();
    s.height = height();
    s.logHeight = logPaneHeight();
    const Subsystems::Positions& p = subs_->positions;
    // A watch window that was never shown has no place of its own: keep the remembered one.
    const QPoint watchPos = watch_->isVisible() ? watch_->pos() : QPoint(p.watchX, p.watchY);
    s.watchX = watchPos.x();
    s.watchY = watchPos.y();
    s.terminalX = p.terminalX;
    s.terminalY = p.terminalY;
    // The rack window notes its place when it is hidden; a rack still open is asked directly.
    QWidget* rack = rackWindow ? rackWindow() : nullptr;
    const QPoint rackPos = rack && rack->isVisible() ? rack->pos() : QPoint(p.rackX, p.rackY);
    s.rackX = rackPos.x();
    s.rackY = rackPos.y();
    writeWindowSettings(ini, s);
    QString error;
    saveIni(ini, target, *platform_, error); // a settings file that cannot be written is ignored
}

void MainWindow::applyBars(const WindowSettings& s) {
    applyBarPlaces(*this,
                   {{menuBar_, s.menuBar}, {buttonBar_, s.toolBar}, {recentBar_, s.recentBar}});
}

void MainWindow::collectBars(WindowSettings& s) const {
    const std::vector<QToolBar*> all{menuBar_, buttonBar_, recentBar_};
    s.menuBar = currentBarPlace(*this, all, menuBar_);
    s.toolBar = currentBarPlace(*this, all, buttonBar_);
    s.recentBar = currentBarPlace(*this, all, recentBar_);
}

void MainWindow::closeWithoutQuestions() {
    askOnClose_ = false;
    // The rack designer's close guard reads this: a close the program makes is never held.
    setProperty("closeWithoutQuestions", true);
    // A dialog that is open (an inputbox, a message box) is answered with Cancel, so that the
    // run waiting on it can unwind.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) d->reject();
    close();
}

// Any question asked on close must be skipped while askOnClose_ is off.
void MainWindow::closeEvent(QCloseEvent* e) {
    // Asked before anything stops: Cancel leaves the window, and a running script, as they
    // were.
    if (askOnClose_ && !closed_ && !settleUnsavedChanges()) {
        e->ignore();
        return;
    }
    if (running()) rc_->stop();
    if (!rt_->packageMode) writeSettings();
    closed_ = true;
    watch_->hide();
    e->accept();
    emit windowClosed();
}

} // namespace nv
