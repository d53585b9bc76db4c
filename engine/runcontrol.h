// The Run, Pause and Stop commands of the main window, without the window: the main window
// and the headless runner both drive runs through this class. It owns the current Interpreter
// while a run exists, validates the blocks, writes the start, pause, resume and finish
// lines, and catches the failure that ends a run.
//
// Threading: user-interface thread. `run` re-enters: while a run exists (the first call is
// still on the stack, inside event processing) a second call resumes or releases a step.
// Error policy: nothing escapes; a fatal failure becomes the " Fatal error: " log line.
#pragma once

#include "engine/lineorigins.h"
#include "engine/runtime.h"

#include <memory>
#include <string>
#include <vector>

namespace nv {

class Interpreter;

enum class RunOutcome {
    Finished, // the run ended normally or by Stop
    Refused,  // block validation failed, nothing ran
    Fatal,    // a failure ended the run
    Resumed,  // a run already existed: it was resumed or stepped
};

class RunControl {
  public:
    explicit RunControl(Runtime& rt);
    ~RunControl();

    // The Run command. Without a run: validates, runs to the end and returns how it ended.
    // With a run (called from inside its event processing): resume or release one step.
    RunOutcome run(const std::vector<std::string>& editorLines);
    void pause();
    void stop();

    // Applied to every run that starts from here on.
    RunOptions options;

    bool running() const { return current_ != nullptr; }
    Interpreter* current() { return current_; }

    // Where a program line of the current run, or else of the last one, came from.
    SourceLine sourceOf(int index) const;
    // The editor line (0-based) where the last run's fatal failure happened; -1 when it
    // did not end by one.
    int fatalEditorLine() const { return fatalEditorLine_; }

  private:
    Runtime& rt_;
    Interpreter* current_ = nullptr;
    LineOrigins lastOrigins_;
    int fatalEditorLine_ = -1;
};

// What block validation found: at most one closer that matches no open block (the check
// stops there), then the innermost block left open, if any.
struct BlockFault {
    int line;         // editor line, from 1: the closer's, or the line that opened the block
    std::string text; // "unexpected next", "unterminated block (for)"
};
std::vector<BlockFault> blockFaults(const std::vector<std::string>& lines);
// The refusal as the log shows it; empty when the blocks are sound.
std::string validateBlocks(const std::vector<std::string>& lines);

} // namespace nv
