// Breakpoints of the script editor: red dots in the editor's mark margin, toggled by a click
// there or by F8 on the caret's line, each optionally with a condition written as after
// `if`; Run to cursor; and what the run asks when it reaches a marked line. The dots are
// editor markers, so they move with the lines when the text is edited. They are kept per
// script file: the window reads them from the settings file and writes them back at close
// (section "breakpoints": the file's path, a key, lists its 1-based lines; "PATH:LINE" holds
// a line's condition).
//
// A condition is refused when it is set if it could not be evaluated as `if (` evaluates it,
// or if it holds a function call: a breakpoint never calls a function, since functions such
// as receive change what the script sees. A condition is evaluated by the interpreter's own
// condition evaluator, and leaves `error` and geterror() as it found them.
//
// Threading: user-interface thread. Error policy: nothing here fails; a refused condition
// comes back as its reason, a condition that cannot be evaluated at a stop is logged.
#pragma once

#include "engine/interpreter.h"

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <vector>

class QPoint;

namespace nv {

class IniFile;
class ScriptEditor;

class Debugger : public QObject {
    Q_OBJECT
  public:
    // The markers of the dots (the editor uses 0 and 1).
    static constexpr int kBreakMarker = 2;
    static constexpr int kConditionMarker = 3;

    explicit Debugger(ScriptEditor* editor, QObject* parent = nullptr);

    // Sets a breakpoint on the 0-based line, or removes the one it has. A blank line never
    // stops a run: the breakpoint goes to the next line that is not blank.
    void toggle(int line);
    bool has(int line) const;
    // The lines that hold a breakpoint, in order.
    std::vector<int> lines() const;
    // Sets the condition of the breakpoint on `line` (one is set there first when there is
    // none); an empty text makes it a plain breakpoint again. Returns why the condition was
    // refused, or an empty text when it was taken.
    QString setCondition(int line, const QString& condition);
    QString condition(int line) const;
    void clear();

    // Why a breakpoint condition cannot be taken; empty when it can.
    static QString refusal(const QString& condition);

    // Run to cursor: the run stops once before this line (moved past blank lines as a
    // breakpoint is); -1: none.
    void setRunTo(int line);
    int runTo() const { return runTo_; }

    // A run starts (`ex` is its interpreter) and ends.
    void attach(Interpreter& ex);
    void detach();

    // The breakpoints of one script file. `file` empty: an untitled script, whose
    // breakpoints are not kept.
    void setFile(const QString& file);
    void read(const IniFile& ini);
    void write(IniFile& ini);

    // Asks for a condition (the context menu's Condition item): the text, or a null text
    // when cancelled. The tests replace it.
    std::function<QString(int line, const QString& current, const QString& refused)> askCondition;
    // Told when a run stops at a breakpoint, with the editor line.
    std::function<void(int line)> stopped;
    // The context menu of the mark margin at a point of the editor.
    void showMenu(int line, const QPoint& globalPos);

  private:
    struct Saved {
        int line;
        QString condition;
    };
    int stoppable(int line) const;
    int handleAt(int line) const;
    void refresh();
    bool hit(int line);
    void stash();
    void restore(const QString& file);
    void removeMarkers();

    ScriptEditor* editor_;
    Interpreter::Breakpoints set_;
    Interpreter* ex_ = nullptr;
    // Marker handle -> condition (empty for a plain breakpoint).
    std::map<int, QString> marks_;
    std::map<QString, std::vector<Saved>> files_;
    QString file_;
    bool replaced_ = false; // the text was replaced since the file was named
    int runTo_ = -1;
    std::vector<int> unevaluated_; // lines whose condition failed this run (logged once)
};

} // namespace nv
