// The runner's JUnit XML report (norvane-run --junit FILE), in the form CI test reporters
// (GitLab, Jenkins, GitHub actions) read: one suite with one test case for the run.
//
//   <testsuites name="norvane-run" tests="1" failures="1" errors="0" time="1.250">
//     <testsuite name="bench" tests="1" failures="1" errors="0" skipped="0" time="1.250"
//                timestamp="2026-12-11T14:05:09" hostname="lab-3">
//       <testcase classname="bench" name="bench.nvs" time="1.250">
//         <failure type="status" message="exit status 5">...</failure>
//         <system-out>the log, one line a log line</system-out>
//
// A run whose status is not 0 is a failure; `type` says why: "status" (the script's own
// verdict, setexitcode), "fatal", "refused" (its blocks) or "signal". The timestamp is the
// start in local time without a zone, as the common JUnit schema wants it.
//
// Pure functions but for writeJunitReport, which saves through safeSave. Errors: reported
// by writeJunitReport's result.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace nv {

struct JunitRun {
    std::string script;    // the script's file name as given
    std::time_t start = 0; // when the run started
    double seconds = 0;    // how long it took
    int status = 0;        // the status the runner ends with
    std::string failure;   // why, when status is not 0: "exit status 5", the fatal error, ...
    std::string type;      // "status", "fatal", "refused" or "signal"
    std::string log;       // the log as UTF-8 text, one line a log line
    std::string hostname;
};

// Text for XML character data and attribute values: markup characters escaped; characters
// XML 1.0 cannot hold (most C0 controls, U+FFFE, U+FFFF) shown as their control pictures
// (U+2400 + code) or U+FFFD, so that a stray received byte keeps the report readable and
// still tells what was there. `text` must be UTF-8.
std::string xmlText(std::string_view text);

std::string junitXml(const JunitRun& run);

// Saves the report at `path`; false with `error` set when it cannot be written.
bool writeJunitReport(const std::string& path, const JunitRun& run, std::string& error);

} // namespace nv
