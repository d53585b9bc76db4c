// The checker's findings shown in the script editor: each finding of the script's own lines
// is underlined with a wavy line (the call or the condition it names, else the whole line)
// and its explanation is shown as a tooltip when the mouse rests on the underline. The text
// is checked again a short while after the last edit, never inside a keystroke, so typing
// stays as quick on a long script as on a short one. The margin is left alone: it belongs to
// the line marks.
//
// Threading: user-interface thread (the checker reads the Runtime's tables). Error policy:
// the checker takes any text; nothing here fails.
#pragma once

#include "engine/checker.h"

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

class QTimer;

namespace nv {

class Runtime;
class ScriptEditor;

class Diagnostics : public QObject {
    Q_OBJECT
  public:
    // The indicator that carries the underlines (the colouring uses 8 and 9).
    static constexpr int kIndicator = 10;
    // The pause after the last edit before the text is checked again.
    static constexpr int kDelayMs = 300;

    // `mayCheck`: false while the text must not be checked (a run is under way); the check
    // then waits for the next pause.
    Diagnostics(ScriptEditor* editor, Runtime& rt, std::function<bool()> mayCheck,
                QObject* parent = nullptr);

    // Checks the text now and sets the underlines.
    void recheck();
    // A check is waiting for its pause to end.
    bool pending() const;
    // The findings of the last check, in line order.
    const std::vector<Finding>& findings() const { return findings_; }
    // The explanations of the underlines that cover a position of the text, one per line;
    // empty when none does.
    QString explanationAt(long position) const;

  private:
    struct Mark {
        long start, end;
        QString text;
    };
    void dwellStart(int position, int x, int y);

    ScriptEditor* editor_;
    Runtime& rt_;
    std::function<bool()> mayCheck_;
    QTimer* timer_;
    std::vector<Finding> findings_;
    std::vector<Mark> marks_;
};

// A finding as a line of the log: "LINE: kind: explanation" for the script's own lines,
// "FILE:LINE: kind: explanation" for an included file's.
std::string findingLogLine(const Finding& f);
// The 0-based editor line a log line of the first form names; -1 when it is no such line.
int findingLogLineTarget(const QString& logLine);

} // namespace nv
