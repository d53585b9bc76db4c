// The operating-system calls behind the file and system commands: the one open file's
// descriptor operations, and starting another program without waiting for it. Paths and
// arguments are byte strings handed to the kernel unchanged, so any file name a script can
// spell is reachable.
//
// Threading: any thread; the commands call them from the user-interface thread. Error
// policy: nothing throws; each call returns whether it worked (and -1 / false on failure),
// retrying on EINTR. The commands turn a failure into their own script message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nv::sys {

// False when the name holds a zero byte, where the kernel would cut it.
bool usablePath(const std::string& path);

// Opens an existing file for reading and writing. The descriptor is close-on-exec,
// non-blocking (a FIFO or device gives what it holds and never waits) and never 0, 1 or 2
// (a script's file must not become a standard stream). -1 on failure.
int openExisting(const std::string& path);
// Creates the file empty, or truncates an existing one, and closes it again.
bool createEmpty(const std::string& path);
bool closeFd(int fd);
// whence: 0 from the beginning, 1 from the current position, 2 from the end. Returns the
// new position or -1.
int64_t seekFd(int fd, int64_t offset, int whence);
// Reads up to `count` bytes, fewer at the end of the file or when a FIFO or device has no
// more at the moment. Storage grows with what is
// actually read, so a huge count on a small file costs nothing.
bool readFd(int fd, uint64_t count, std::string& out);
// Writes all of `data` unless a fault stops it; `written` counts what went out.
bool writeFd(int fd, std::string_view data, uint64_t& written);

// What `exec` does with a target.
struct LaunchPlan {
    std::string program;           // path given to execv, or empty when nothing can start
    std::vector<std::string> args; // argv[1..]
};
// An executable file runs itself; an existing document or folder, or an address
// (scheme://..., mailto:, www.), goes to `opener` (xdg-open) when that is installed;
// anything else is split as a command line (blanks separate words, double quotes group)
// and runs when its program is found (in PATH unless it holds a '/').
LaunchPlan planLaunch(const std::string& target, const std::string& opener = "xdg-open");
// Starts the program detached (own session, standard streams on /dev/null, no zombie) and
// returns whether the exec itself succeeded. Never waits for the program.
bool startDetached(const LaunchPlan& plan);
// The full path of an executable found in PATH, or empty.
std::string findInPath(const std::string& name);

} // namespace nv::sys
