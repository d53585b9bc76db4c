// The main window's menus and actions: every menu item, button and key as a named QAction
// (tests and the rack designer reach them by name through item()), the three tool bars,
// which items each run state enables, the recent-files bar and the log pane's menu.
//
// Threading: user-interface thread only. Error policy: nothing here fails; an item is
// only built and connected, what it does is in the other mainform files.
#include "shell/mainform.h"

#include "designer/designerwindow.h"
#include "shell/diagnostics.h"
#include "shell/icons.h"
#include "shell/scripteditor.h"

#include <QAction>
#include <QApplication>
#include <QIconEngine>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStyle>
#include <QToolBar>

namespace nv {

namespace {

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
    {"openButton newButton saveButton saveAsButton fileMenu helpMenu buildAction checkAction", On,
     Off, Keep, Keep},
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

// An icon from the desktop's icon theme, looked up when it is first drawn or asked about.
// The first lookup reads the theme's index (hundreds of folders, then the fallback folders)
// and the style's own icons: work that held back the window's first showing, while the
// buttons and menus need the pixels only when they paint, after the window is on the
// screen. The icon is the one QIcon::fromTheme gives, so what is drawn does not change.
class ThemedLater : public QIconEngine {
  public:
    ThemedLater(QString name, std::function<QIcon()> fallback)
        : name_(std::move(name)), fallback_(std::move(fallback)) {}

    void paint(QPainter* p, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        icon().paint(p, rect, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().actualSize(size, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().pixmap(size, 1.0, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        // `size` is in device pixels already.
        return icon().pixmap(size / scale, scale, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return icon().availableSizes(mode, state);
    }
    QString iconName() override { return icon().name(); }
    // Buttons ask while the window is laid out: with a fallback (the style's icons, a drawn
    // one, none of them null) the icon is never null, and the answer needs no lookup.
    bool isNull() override { return fallback_ ? false : icon().isNull(); }
    QString key() const override { return QStringLiteral("ThemedLater"); }
    QIconEngine* clone() const override { return new ThemedLater(*this); }

  private:
    const QIcon& icon() {
        if (!resolved_) {
            icon_ = fallback_ ? QIcon::fromTheme(name_, fallback_()) : QIcon::fromTheme(name_);
            resolved_ = true;
        }
        return icon_;
    }

    QString name_;
    std::function<QIcon()> fallback_;
    QIcon icon_;
    bool resolved_ = false;
};

QIcon themedLater(const char* name, std::function<QIcon()> fallback = {}) {
    return QIcon(new ThemedLater(QString::fromLatin1(name), std::move(fallback)));
}

QIcon themed(const char* name, QStyle::StandardPixmap fallback) {
    return themedLater(name, [fallback] { return QApplication::style()->standardIcon(fallback); });
}

} // namespace

void MainWindow::buildActions() {
    auto make = [this](const char* name, const QString& text, const QIcon& icon = {}) {
        auto* a = new QAction(icon, text, this);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    const QIcon openIcon = themed("document-open", QStyle::SP_DialogOpenButton);
    const QIcon newIcon = themedLater("document-new", newScriptIcon);
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
    QAction* check = make("checkAction", QStringLiteral("&Check"));
    check->setShortcut(QKeySequence(Qt::Key_F7));
    QAction* breakpoint = make("breakpointAction", QStringLiteral("Toggle &breakpoint"));
    breakpoint->setShortcut(QKeySequence(Qt::Key_F8));
    QAction* runTo = make("runToCursorAction", QStringLiteral("Run to &cursor"));
    runTo->setShortcut(QKeySequence(Qt::Key_F4));
    // Remembered in the settings file; read when a run starts.
    QAction* strict = make("strictAction", QStringLiteral("S&trict"));
    strict->setCheckable(true);
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
        QAction* a = make(name, text, themedLater(icon));
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
    QAction* helpSearch = make("helpSearchAction", QStringLiteral("&Search..."));
    helpSearch->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
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
        {check, "List the lines that will do nothing or not what they look like"},
        {breakpoint, "Stop the run before the caret's line (or no more)"},
        {runTo, "Run until the caret's line is reached"},
        {strict, "Runs end with a fatal error on such a line"},
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
        {helpSearch, "Search every help page"},
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
    connect(check, &QAction::triggered, this, &MainWindow::checkScript);
    connect(breakpoint, &QAction::triggered, this, &MainWindow::toggleBreakpoint);
    connect(runTo, &QAction::triggered, this, &MainWindow::runToCursor);
    diagnostics_ = new Diagnostics(
        editor_, *rt_, [this] { return !running(); }, this);
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
    connect(helpSearch, &QAction::triggered, this, &MainWindow::showHelpSearch);
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
    scriptMenu_->addActions({breakpoint, runTo});
    scriptMenu_->addSeparator();
    scriptMenu_->addAction(build);
    scriptMenu_->addActions({check, strict});

    helpMenu_ = new QMenu(QStringLiteral("&Help"), this);
    helpMenu_->menuAction()->setObjectName(QStringLiteral("helpMenu"));
    helpMenu_->addActions({help, helpSearch, about});
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

// The menu items and buttons a run state enables (kItemStates).
void MainWindow::enableItemsFor(RunState state) {
    for (const ItemStates& row : kItemStates) {
        const Tri t = stateFor(row, state);
        if (t == Keep) continue;
        for (const QString& name : QString::fromLatin1(row.names).split(QLatin1Char(' ')))
            if (QAction* a = item(name)) a->setEnabled(t == On);
    }
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

} // namespace nv
