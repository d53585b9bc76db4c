// Start-up races of norvane-run and the window program against python3 and wish, each side
// a separate process (bench/shell/startup_race.cpp).
#pragma once

#include <string>

// `which`: "startup", "map", or empty for both; `pairs` interleaved pairs. `argv0` finds the
// programs beside this one. Returns the exit status for main.
int startupRace(const char* argv0, const std::string& which, int pairs);
