// Runs scripts in-process through the real engine and the real Run command, with a host
// that records the log and dispatches Qt events between lines. Every run is bounded: past
// its time limit the host gives the Stop command, so a test that waits for something that
// never comes fails instead of hanging.
#pragma once

#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/host.h"
#include "engine/interpreter.h"
#include "engine/runcontrol.h"
#include "engine/runtime.h"
#include "engine/text.h"

namespace nvtest {

class TestHost : public nv::ScriptHost {
  public:
    void processEvents() override {
        QCoreApplication::processEvents();
        if (onEvents) onEvents();
        if (!rc || !rc->running()) return;
        if (std::chrono::steady_clock::now() > deadline) {
            timedOut = true;
            rc->stop();
        }
        if (rc->current() && rc->current()->stepWaiting()) rc->current()->releaseStep();
    }
    int logLineCount() const override { return static_cast<int>(log.size()); }
    void clearLog() override { log.clear(); }
    void appendLog(std::string_view text) override { log.emplace_back(text); }
    std::string editorText() const override { return editor; }

    nv::RunControl* rc = nullptr;
    std::function<void()> onEvents; // runs between script lines
    std::chrono::steady_clock::time_point deadline;
    bool timedOut = false;
    std::vector<std::string> log;
    std::string editor;
};

// A log line without its time stamp: "Socket server stoped" for a logMessage line, the
// value alone for a writelog line, "Script started" for the engine's own lines.
inline std::string withoutTime(const std::string& line) {
    if (line.size() < 8) return line;
    std::string rest = line.substr(8);
    if (rest.rfind(": ", 0) == 0) return rest.substr(2);
    if (rest.rfind(", from line ", 0) == 0) {
        const size_t colon = rest.find(": ");
        return colon == std::string::npos ? rest : rest.substr(colon + 2);
    }
    return line;
}

struct ScriptRig {
    TestHost host;
    nv::Runtime rt{host};
    nv::RunControl rc{rt};

    ScriptRig() { host.rc = &rc; }

    // Runs a script and returns its log lines without time stamps, start and finish lines
    // left out.
    std::vector<std::string> run(const std::string& script,
                                 std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        host.editor = script;
        host.timedOut = false;
        host.deadline = std::chrono::steady_clock::now() + limit;
        rc.run(nv::splitLines(script));
        std::vector<std::string> out;
        for (const std::string& l : host.log) {
            std::string s = withoutTime(l);
            if (s != "Script started" && s != "Script finished") out.push_back(s);
        }
        return out;
    }
};

} // namespace nvtest
