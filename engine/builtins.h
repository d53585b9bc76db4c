// The engine's own handlers: the built-in functions that need no device (text, numbers,
// split/extract, random, clock, geterror) and the commands that belong to the interpreter
// itself (writelog and the debug commands). Installed by the Runtime's constructor.
//
// Threading: user-interface thread. Errors are reported through the script error protocol.
#pragma once

#include <string>

namespace nv {

class Runtime;
void installBuiltins(Runtime& rt);
// Parameters (getarg, getenv), sleep, and the bit and checksum functions.
void installExtensions(Runtime& rt);

// Local time as HH:MM:SS (the log's time stamps too) and the date as dd-mm-yy.
std::string timeText();
// The same with milliseconds, HH:MM:SS.mmm (log time stamps on request).
std::string timeTextMs();
std::string dateText();

} // namespace nv
