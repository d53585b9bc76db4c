// What a running process has used of the processor so far, read from outside it, for the
// races that time a peer program against norvane-run.
//
// Threading: any thread. Errors: a process that is gone or a /proc that cannot be read
// counts as 0 (a race that needs the figure checks its peer is alive).
#pragma once

#include <sys/types.h>

namespace nvbench {

// The CPU time of every thread of `pid`, in seconds: the scheduler's nanosecond count, as
// the tick-based figures of /proc/PID/stat are too coarse for runs of a few milliseconds.
double processCpuSeconds(pid_t pid);

} // namespace nvbench
