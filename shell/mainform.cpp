// The main window's frame: what it is made of (editor, log pane, splitter, status bar, the
// other windows and the ways a person is asked something) and how it closes. Its other jobs
// live beside it: menus and actions in mainform_actions.cpp, the engine's host in
// mainform_host.cpp, script files in mainform_files.cpp, help and find in mainform_help.cpp,
// settings in mainform_settings.cpp.
//
// Threading: user-interface thread only. Error policy: construction does not fail; a close
// asks about unsaved changes first (unless the program is being ended from outside) and
// writes the settings, whose failures are ignored as the program has always done.
#include "shell/mainform.h"

#include "baseqt/placement.h"
#include "engine/interpreter.h"
#include "engine/runcontrol.h"
#include "engine/runtime.h"
#include "rack/rack.h"
#include "shell/debugger.h"
#include "shell/icons.h"
#include "shell/keywordhelp.h"
#include "shell/platform.h"
#include "shell/scripteditor.h"
#include "watch/watchwindow.h"
#include "wiring/subsystems.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFontDatabase>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace nv {

MainWindow::MainWindow() : MainWindow(Options{}) {}

MainWindow::MainWindow(const Options& options)
    : programDir_(options.programDir.isEmpty() ? QCoreApplication::applicationDirPath()
                                               : options.programDir),
      platform_(options.platform ? options.platform : &ShellPlatform::system()) {
    setObjectName(QStringLiteral("TMainForm"));
    // The icon is drawn at every size a desktop may ask for and handed to the window system
    // as pixels, work that would hold back the window's first showing: it is given on the
    // first pass of the event loop, right after the window has appeared.
    QTimer::singleShot(0, this, [this] { setWindowIcon(programIcon()); });
    settingsPaths_ = settingsLocation(programDir_, *platform_);

    rt_ = std::make_unique<Runtime>(*this);
    buildCentral();
    buildActions();
    buildBars();

    // The other windows, in their order: the rack window comes with the subsystems, then
    // the watch window; the about box when first asked for (aboutBox).
    subs_ = std::make_unique<Subsystems>(*rt_, this);
    rc_ = std::make_unique<RunControl>(*rt_);
    watch_ = std::make_unique<WatchWindow>(this);
    watch_->positionChanged = [this](QPoint p) {
        subs_->positions.watchX = p.x();
        subs_->positions.watchY = p.y();
    };
    watch_->changeVariable = [this](const std::string& name, const std::string& value) {
        Interpreter* ex = rc_->current();
        if (!ex) return QStringLiteral("No script is running.");
        if (state_ != RunState::Paused && state_ != RunState::WaitingForStep)
            return QStringLiteral("The script is running: variables can be changed while it is "
                                  "paused or stopped before a line.");
        ex->setVariable(name, value);
        watch_->setWatchText(ex->variables().text());
        return QString();
    };
    watch_->setEditable(false, QStringLiteral("No script is running."));
    rt_->onRunStart.push_back([this] {
        if (Interpreter* ex = rc_->current()) debugger_->attach(*ex);
    });
    rt_->onRunEnd.push_back([this] { debugger_->detach(); });
    // A breakpoint shows the variables as a debug step does.
    debugger_->stopped = [this](int) {
        if (!watch_->isVisible()) showWatch();
    };

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
    subs_->rack->window().showAbout = [this] { aboutBox()->exec(); };
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

// Made on first use: nothing of it is seen before.
AboutBox* MainWindow::aboutBox() {
    if (!about_) about_ = std::make_unique<AboutBox>(this);
    return about_.get();
}

void MainWindow::buildCentral() {
    editor_ = new ScriptEditor(this);
    debugger_ = new Debugger(editor_, this);
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

    // The find bar goes under the editor when it is first opened (buildFindBar).
    auto* top = new QWidget(this);
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->setSpacing(0);
    topLayout->addWidget(editor_, 1);
    editorColumn_ = top;

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
