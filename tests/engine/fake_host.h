// A host for engine tests: the log is a list of strings, and each pass over the "event
// queue" runs a test-supplied action (pressing Pause, Stop or Run at a chosen moment).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/host.h"
#include "engine/runcontrol.h"
#include "engine/runtime.h"
#include "engine/text.h"

struct FakeHost : nv::ScriptHost {
    std::vector<std::string> log;
    std::vector<nv::RunState> states;
    std::vector<int> highlights;
    std::string watch;
    int events = 0;
    std::function<void(int)> onEvents;
    // Per pass over the "event queue": whether the engine asked to sleep until an event.
    std::vector<bool> waited;

    void processEvents() override { pass(false); }
    void waitForEvents() override { pass(true); }
    // The timed waits asked for (sleep, waitfor), in milliseconds.
    std::vector<int> timed;
    void waitForEventsFor(int ms) override {
        timed.push_back(ms);
        pass(true);
    }
    void pass(bool wait) {
        waited.push_back(wait);
        ++events;
        if (onEvents) onEvents(events);
    }
    int logLineCount() const override { return static_cast<int>(log.size()); }
    void clearLog() override { log.clear(); }
    void appendLog(std::string_view t) override { log.emplace_back(t); }
    void setRunState(nv::RunState s) override { states.push_back(s); }
    void highlightLine(int i) override { highlights.push_back(i); }
    void setWatchText(std::string_view t) override { watch = t; }

    // The log with time stamps cut: "12:00:00: x" -> ": x", "12:00:00, from" -> ", from".
    std::vector<std::string> plain() const {
        std::vector<std::string> out;
        for (const auto& l : log)
            out.push_back(l.size() >= 8 && l[2] == ':' && l[5] == ':' ? l.substr(8) : l);
        return out;
    }
};

struct Engine {
    FakeHost host;
    nv::Runtime rt{host};
    nv::RunControl rc{rt};
    nv::RunOutcome run(const std::string& script) { return rc.run(nv::splitLines(script)); }
};
