// The host of the headless runner: every string the log pane would receive goes to standard
// output as it is added, one output line per line of the string, flushed per line. Debug
// steps are released at once, since nobody is there to press Run.
//
// With the JSON format each log line is one JSON object instead (app/jsonlog.h). For a report,
// the host can also keep the text log and the fatal error's line.
//
// Threading: user-interface thread. Errors: a failed write to standard output is ignored
// (the run goes on, as a window would go on with a hidden log).
#pragma once

#include <cstdio>
#include <string>

#include "engine/host.h"

namespace nv {

class RunControl;

enum class LogFormat { Text, Json };

class RunnerHost : public ScriptHost {
  public:
    explicit RunnerHost(FILE* out = stdout) : out_(out) {}
    void setRunControl(RunControl* rc) { rc_ = rc; }
    void setFormat(LogFormat format) { format_ = format; }
    // Keep the text log (display-decoded, one line a log line) for keptLog().
    void keepLog() { keeping_ = true; }
    // The kept log, the newest limits::kReportLogBytes of it, with a first line telling how
    // much was left out when the run logged more.
    std::string keptLog() const;
    // The last fatal-error line as added (empty when none).
    const std::string& fatalText() const { return fatal_; }

    void processEvents() override;
    void waitForEvents() override;
    void waitForEventsFor(int ms) override;
    bool passesWhenNeeded() const override { return true; }
    int logLineCount() const override { return lines_; }
    void clearLog() override { lines_ = 0; }
    void appendLog(std::string_view text) override { appendLogEntry(text, {}); }
    void appendLogEntry(std::string_view text, const LogInfo& info) override;
    std::string editorText() const override { return editorText_; }
    void setEditorText(std::string text) { editorText_ = std::move(text); }

  private:
    // Releases a waiting debug step; false when none waits.
    bool releaseStep();

    void keep(std::string_view line);

    FILE* out_;
    RunControl* rc_ = nullptr;
    LogFormat format_ = LogFormat::Text;
    bool keeping_ = false;
    std::string kept_;
    size_t dropped_ = 0; // bytes of the kept log left out at its start
    std::string fatal_;
    int lines_ = 0;
    std::string editorText_;
};

} // namespace nv
