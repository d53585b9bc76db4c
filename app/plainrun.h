// The runner's plain run: a script that names nothing of the subsystems (serial ports, TCP,
// files and system commands, the rack) runs in a process that never loads Qt. Loading Qt's
// widget and GUI libraries with the fifty-odd libraries behind them costs a short run more
// than everything else together, and only a window (a rack, a terminal) needs them; a script
// cannot open one without naming it. Everything else goes to the full runner beside this
// program, which is started in this process's place with the same arguments.
//
// The plain run is taken only for `norvane-run SCRIPT [ARGUMENT]...` with no option (every
// option, and a command line it cannot read, is the full runner's), when the arguments are
// valid UTF-8 (the full runner reads them through Qt, which would replace bad bytes) and the
// script is a regular file that can be read (a pipe could not be read again). A script goes to the
// full runner when its text holds, in any case and anywhere (a comment, a string, part of a longer
// name), the name of a command or function that a subsystem plugs in, or `include` (the included
// text is not looked at here) or `getenv` (the full runner prepares the environment for Qt, and a
// script would see it). What the script sees is then the same in both: the engine's tables, the log
// on standard output flushed per line, the exit statuses, Stop on SIGTERM, SIGINT and SIGHUP.
//
// Threading: main thread, before anything else. Errors: whatever the plain run cannot settle
// goes to the full runner; a full runner that cannot be started is reported and ends with 2.
#pragma once

#include <optional>
#include <string_view>

namespace nv {

class Runtime;

// Whether the script `text` needs the full runner, judged against the tables of `rt`, a
// runtime no subsystem is plugged into.
bool needsFullRunner(const Runtime& rt, std::string_view text);

// Runs the script of a plain command line when it needs no subsystem and returns the exit
// status; std::nullopt when the full runner must take the command line.
std::optional<int> runPlain(int argc, char** argv);

} // namespace nv
