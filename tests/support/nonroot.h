// Running a check as a user without root's rights. Root may write a read-only folder and read
// a file nobody may read, so a test of what such a folder or file means to the program would
// pass as root without seeing it (the machine's CI runs as root). As any other user the check
// runs at once; as root it runs in a forked child that first gives up root for "nobody".
// Shared by the tests that work on real permissions.
//
// Threading: from a test's own thread; as root the check runs in a child of one thread, so it
// keeps to plain calls (files, settings paths) and makes no window. Error policy: a failed
// fork, wait or drop of root counts as a failed check.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace nvtest {

// The user and group "nobody" on Debian.
inline constexpr uid_t kNobody = 65534;

// Gives up root for "nobody", its supplementary groups included (root's group could still
// write what "nobody" may not). For a forked child; false when a step failed.
inline bool dropRoot() {
    return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

// True when `check` returned true (and, as root, when giving up root worked). In the child a
// failed EXPECT still prints its message; the check reports it through its result, for
// example `return !::testing::Test::HasFailure();`.
inline bool asNonRoot(const std::function<bool()>& check) {
    if (::geteuid() != 0) return check();
    std::fflush(nullptr); // nothing buffered is written twice
    const pid_t pid = ::fork();
    if (pid == 0) {
        const bool held = dropRoot() && check();
        std::fflush(nullptr); // the child's failure messages
        ::_exit(held ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace nvtest
