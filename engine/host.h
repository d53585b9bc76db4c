// What the script engine needs from the program around it. The main window implements it
// with real widgets, the headless runner with standard output; tests with a plain fake.
// The engine itself never touches a widget.
//
// Threading: every call is made on the user-interface thread, from inside a run or from
// the Run, Pause and Stop commands. Error policy: these calls do not fail; a host that
// cannot show something (a runner without a window) simply does nothing.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <thread>

namespace nv {

// One log string as the lines the pane shows: CR LF, LF and CR each end a line, and what
// follows the last break is a line too (an empty string is one empty line). `each` gets every
// line; the count is returned. Every host counts its pane by this rule, so that the 500-line
// rule clears the window's log and norvane-run's count at the same line.
template <class Each> int forEachLogLine(std::string_view text, Each&& each) {
    int lines = 0;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '\n' && text[i] != '\r') continue;
        each(text.substr(start, i - start));
        ++lines;
        if (i < text.size() && text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    return lines;
}

inline int logLinesIn(std::string_view text) {
    return forEachLogLine(text, [](std::string_view) {});
}

// The states of the window items while a run exists or not.
enum class RunState { Idle, Running, Paused, WaitingForStep };

// What a log line is, for hosts that report more than its text (the runner's JSON log).
// The text is the same whatever the kind.
enum class LogKind {
    Message, // the program's own messages: what commands and subsystems report
    Run,     // the run's own lines: started, paused, resumed, finished
    Output,  // a writelog line
    Error,   // a failure a command reported in the log, or the refused blocks
    Fatal,   // the failure that ended the run
    Debug,   // "Next line to execute: " in debug mode
};
struct LogInfo {
    LogKind kind = LogKind::Message;
    int line = 0; // the script line the log line is about (as writelog counts), 0 for none
};

class ScriptHost {
  public:
    virtual ~ScriptHost() = default;

    // Dispatch every pending event once, then return. Pause, Stop, a second Run, serial
    // and socket events all run from here, between two script lines.
    virtual void processEvents() = 0;
    // The same, but when nothing is pending, sleep until an event arrives. The pause and step
    // waits use it, so that a run that waits for the user costs no processor time; whatever
    // ends the wait (Stop, a second Run, a signal seen through a socket notifier) is itself
    // an event and wakes it. A host without an event loop need not wait.
    virtual void waitForEvents() { processEvents(); }
    // The same wait, ended by the host's own timer once `ms` milliseconds have passed with
    // nothing else arriving (sleep and waitfor: a timed wait must end on time even when no
    // event comes). A host without an event loop sleeps a short slice instead, so that the
    // caller still sees Stop soon.
    virtual void waitForEventsFor(int ms) {
        processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(ms < 10 ? ms : 10));
    }
    // Whether a run may leave out the pass on a line when nothing is waiting and the pass
    // interval has not gone by (engine/eventgate.h): what a host with a real event loop
    // wants, since a pass costs as much as a line. A host that acts on every pass (a test
    // pressing Pause at the third line) keeps one pass per line.
    virtual bool passesWhenNeeded() const { return false; }

    // The log pane: a list of strings. `appendLog` adds one string, which may hold line
    // breaks (the validation message does). The 500-line rule is the engine's business.
    virtual int logLineCount() const = 0;
    virtual void clearLog() = 0;
    virtual void appendLog(std::string_view text) = 0;
    // The same, told what the line is. Hosts that show only the text need not override it.
    virtual void appendLogEntry(std::string_view text, const LogInfo&) { appendLog(text); }

    virtual void setRunState(RunState) {}
    virtual void setEditorReadOnly(bool) {}
    // Mark one editor line (0-based) as executing; -1 removes the mark.
    virtual void highlightLine(int) {}

    // The watch window of debug mode.
    virtual void setWatchText(std::string_view) {}
    virtual void showWatch() {}
    virtual void hideWatch() {}

    // The editor's whole text (`hidemain` looks for "openrack" in it).
    virtual std::string editorText() const { return {}; }

    // A run in package mode ends the application when it returns.
    virtual void quitApplication() {}
};

} // namespace nv
