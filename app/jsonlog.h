// The runner's JSON log (norvane-run --log-format json): one object a log line, for journald,
// log shippers and CI steps that read lines with jq.
//
//   {"time":"2026-12-11T14:05:09.123+01:00","line":7,"kind":"output","text":"14:05:09, ..."}
//
// `time` is when the line was added (local time, milliseconds, zone); `line` the script line
// it comes from or names, numbered as writelog numbers them (left out when there is none);
// `kind` one of logKindName's names; `text` the line as the log pane shows it.
//
// Pure functions, any thread. Errors: none; every byte string is accepted.
#pragma once

#include <string>
#include <string_view>

#include "engine/host.h"

namespace nv {

// "message", "run", "output", "error", "fatal", "debug".
const char* logKindName(LogKind kind);

// Bytes as a person reads them (UTF-8 when they are, else Latin-1), written as a JSON string
// with its quotes. Control characters become \uXXXX escapes, so nothing is lost.
std::string jsonString(std::string_view bytes);

// The current local time as 2026-12-11T14:05:09.123+01:00.
std::string isoTimeNow();

// One JSON object, without the line break.
std::string jsonLogLine(std::string_view time, std::string_view text, const LogInfo& info);

} // namespace nv
