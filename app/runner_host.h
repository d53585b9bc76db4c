// The host of the headless runner: every string the log pane would receive goes to standard
// output as it is added, one output line per line of the string, flushed per line. Debug
// steps are released at once, since nobody is there to press Run.
//
// Threading: user-interface thread. Errors: a failed write to standard output is ignored
// (the run goes on, as a window would go on with a hidden log).
#pragma once

#include <cstdio>

#include "engine/host.h"

namespace nv {

class RunControl;

class RunnerHost : public ScriptHost {
  public:
    explicit RunnerHost(FILE* out = stdout) : out_(out) {}
    void setRunControl(RunControl* rc) { rc_ = rc; }

    void processEvents() override;
    void waitForEvents() override;
    void waitForEventsFor(int ms) override;
    bool passesWhenNeeded() const override { return true; }
    int logLineCount() const override { return lines_; }
    void clearLog() override { lines_ = 0; }
    void appendLog(std::string_view text) override;
    std::string editorText() const override { return editorText_; }
    void setEditorText(std::string text) { editorText_ = std::move(text); }

  private:
    // Releases a waiting debug step; false when none waits.
    bool releaseStep();

    FILE* out_;
    RunControl* rc_ = nullptr;
    int lines_ = 0;
    std::string editorText_;
};

} // namespace nv
