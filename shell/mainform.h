// The main window (`MainWindow`): the script editor, the log pane, the menu bar, button bar
// and recent-files bar as movable tool bars, the Run, Pause and Stop commands, the script
// files with their recent list and HTML export, Help and About, and the settings file. A
// script changed since it was loaded or saved is marked in the title and is never discarded
// without the Save / Discard / Cancel question (outside package mode); a log line that names
// a line takes the editor there on a click. It is the engine's host: the interpreter runs
// inside the Run command and calls back here for every event round, log line, item state and
// watch text. Its jobs are in files of their own: mainform.cpp (frame and close), and
// mainform_actions, _host, _files, _help (help and find) and _settings.
//
// Threading: user-interface thread only; a run re-enters this window through
// processEvents (Pause, Stop and a second Run are handled between two script lines).
//
// Error policy: file failures are shown in message boxes (through `dialogs`, so that tests
// can answer them) and the program goes on; settings that cannot be read give the defaults,
// settings that cannot be written are ignored, as the program has always done.
#pragma once

#include "engine/host.h"
#include "engine/runcontrol.h"
#include "shell/recentlist.h"
#include "shell/settings.h"

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QTimer;
class QToolBar;

namespace nv {

class Debugger;
class Diagnostics;
class Runtime;
class RunControl;
class ScriptEditor;
class ShellPlatform;
class Subsystems;
class AboutBox;
class WatchWindow;

class MainWindow : public QMainWindow, public ScriptHost {
    Q_OBJECT
  public:
    struct Options {
        QString programDir;                // empty: the folder of the program file
        ShellPlatform* platform = nullptr; // null: the real system
    };
    MainWindow();
    explicit MainWindow(const Options& options);
    ~MainWindow() override;

    // The ways a person is asked something. Tests replace them so that nothing blocks.
    struct Dialogs {
        std::function<QString(const QString& dir)> openScript;
        std::function<QString(const QString& dir, const QString& proposed)> saveScript;
        std::function<QString(const QString& dir)> saveHtml;
        std::function<QString(const QString& dir)> saveProgram;
        std::function<bool(const QString& question)> confirm;
        // The script changed since it was loaded or saved: save it first, discard the
        // changes, or cancel what was about to discard them.
        enum class Unsaved { Save, Discard, Cancel };
        std::function<Unsaved(const QString& question)> askUnsaved;
        // Go to line: the 1-based line chosen, 0 when cancelled.
        std::function<int(int current, int last)> lineNumber;
        std::function<QString(const QString& dir)> saveLog;
        std::function<void(const QString& message)> error;
        std::function<void(const QUrl& url)> openUrl;
    } dialogs;

    // The rack window, for Esc. By default the top-level window named "TFrmRack".
    std::function<QWidget*()> rackWindow;

    // ---- ScriptHost ----
    void processEvents() override;
    void waitForEvents() override;
    void waitForEventsFor(int ms) override;
    bool passesWhenNeeded() const override { return true; }
    int logLineCount() const override { return logLines_; }
    void clearLog() override;
    void appendLog(std::string_view text) override;
    void setRunState(RunState state) override;
    void setEditorReadOnly(bool readOnly) override;
    void highlightLine(int line) override;
    void setWatchText(std::string_view text) override;
    void showWatch() override;
    void hideWatch() override;
    std::string editorText() const override;
    void quitApplication() override;

    // ---- commands ----
    void runScript();
    void pauseScript();
    void stopScript();
    void openScript();
    void newScript();
    void saveScript();
    void saveScriptAs();
    void exportHtml();
    void openRecent(int index);
    void showHelp();
    // The help page of a keyword (F1 in the editor), or the contents for an empty word.
    void showHelpPage(const QString& word);
    // Help > Search: the help window with its search box focused.
    void showHelpSearch();
    void showAbout();
    void showFind();
    void showReplace();
    void goToLine();
    void saveLogAs();
    // F8: a breakpoint on the caret's line, or none any more.
    void toggleBreakpoint();
    // Runs (or lets the waiting run go on) until the caret's line is reached, once.
    void runToCursor();

    // The unsaved-changes question before something discards the editor text: true when the
    // text may go (nothing changed, saved now, discarded, or package mode); false to cancel.
    bool settleUnsavedChanges();
    // A click on a log line: when it names a line ("on line N" of block validation, "from
    // line N" of writelog, counted in the prepared program, a fatal error, or "N: kind: ..."
    // of Script > Check), the editor goes to that line and marks it. False when the line names
    // none.
    bool jumpToLogLine(int logLine);
    // The caption as the desktop shows it ("[*]" replaced by "*" or by nothing).
    QString shownTitle() const;
    // Keeps the whole window (its frame included) inside the available screen area.
    void fitToScreen();

    // Start-up with one command-line argument: the file is loaded (caption and current
    // file unchanged) and run at once. False when the file could not be read.
    bool runFileAtStart(const QString& path);
    // Package mode: settings are not written and the run ends the program.
    void setPackageMode(bool on);
    // Package mode's run of the script in the editor, with the window hidden.
    RunOutcome runPackagedScript();
    // Script > Build: packs the script and its racks into a copy of the program file.
    void buildProgram();
    // Script > Check: the checker's findings in the log, one line each, or one line saying
    // there are none.
    void checkScript();
    // The program file Build copies: the running program's own file unless set.
    QString programFileForBuild;

    // ---- state ----
    RunState runState() const { return state_; }
    bool running() const;
    const QString& currentFile() const { return currentFile_; }
    const RecentList& recent() const { return recent_; }
    QString logText();
    ScriptEditor* editor() const { return editor_; }
    Diagnostics* diagnostics() const { return diagnostics_; }
    Debugger* debugger() const { return debugger_; }
    QPlainTextEdit* logPane() const { return log_; }
    WatchWindow* watchWindow() const { return watch_.get(); }
    AboutBox* aboutBox();
    Runtime& runtime() { return *rt_; }
    RunControl& runControl() { return *rc_; }
    Subsystems& subsystems() { return *subs_; }
    const SettingsLocation& settingsPaths() const { return settingsPaths_; }
    QToolBar* menuBarDock() const { return menuBar_; }
    QToolBar* buttonBar() const { return buttonBar_; }
    QToolBar* recentBar() const { return recentBar_; }
    // Every menu item and button by its name (runButton, runAction, fileMenu, buildAction, ...).
    QAction* item(const QString& name) const;
    bool closed() const { return closed_; }
    // Closes the window at once without asking anything (a script with unsaved changes
    // included; open dialogs are cancelled): the program is being ended from outside, by
    // SIGTERM. Settings are written as on any close.
    void closeWithoutQuestions();

    // Reads the settings file now (done once at creation).
    void readSettings();
    // Writes the settings file now (done at close, never in package mode).
    void writeSettings();

  signals:
    void windowClosed();

  protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    void buildActions();
    void buildBars();
    void buildCentral();
    void buildFindBar();
    void enableItemsFor(RunState state);
    void refreshRecentBar();
    void setCaptionFor(const QString& path);
    bool loadIntoEditor(const QString& path, QString& error);
    bool writeEditorTo(const QString& path, QString& error);
    bool openFile(const QString& path);
    bool handleEscape();
    void flushLog();
    int logPaneHeight() const;
    void applyBars(const WindowSettings& s);
    void collectBars(WindowSettings& s) const;
    void updateStatus();
    void updateCursorLabel();
    void buildLogMenu();
    bool writeScript(const QString& path);
    void saveUnderChosenName();
    // The caption without its prefix and modified mark: the script's file name.
    QString captionName() const;

    QString programDir_;
    ShellPlatform* platform_;
    SettingsLocation settingsPaths_;

    std::unique_ptr<Runtime> rt_;
    std::unique_ptr<Subsystems> subs_;
    std::unique_ptr<RunControl> rc_;
    std::unique_ptr<WatchWindow> watch_;
    std::unique_ptr<AboutBox> about_;

    ScriptEditor* editor_ = nullptr;
    Diagnostics* diagnostics_ = nullptr; // the editor's underlines
    Debugger* debugger_ = nullptr;       // breakpoints and Run to cursor
    QPlainTextEdit* log_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QWidget* editorColumn_ = nullptr; // the editor, and the find bar once it was opened
    QWidget* findBar_ = nullptr;      // made when first opened
    QLineEdit* findEdit_ = nullptr;
    QWidget* replaceRow_ = nullptr;
    QLineEdit* replaceEdit_ = nullptr;
    QToolBar* menuBar_ = nullptr;
    QToolBar* buttonBar_ = nullptr;
    QToolBar* recentBar_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* scriptMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QLabel* stateLabel_ = nullptr;
    QLabel* encodingLabel_ = nullptr;
    QLabel* cursorLabel_ = nullptr;
    QTimer* logFlush_ = nullptr;

    RunState state_ = RunState::Idle;
    QString currentFile_;
    QString startFile_; // the script named on the command line, while its run at start lasts
    RecentList recent_;
    // Right after start the editor holds one empty line (Open asks); after New it holds none.
    bool startLine_ = true;
    bool closed_ = false;
    bool askOnClose_ = true; // off while closeWithoutQuestions closes
    bool shownOnce_ = false;
    int logHeight_ = 160;

    // The log pane: lines not yet drawn are collected and drawn in one go a few times a
    // second, so that a script logging every line is not slowed down by the drawing.
    QStringList pendingLog_;
    int logLines_ = 0;
};

} // namespace nv
