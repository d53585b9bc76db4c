// Runs a command line through /bin/sh as the tool tests run the programs: its standard output
// collected, its standard error read back from the file the line sends it to, and its exit
// status. Shared by the tests that drive norvane-run and the packaged files as a user would.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace nvtest {

struct ShellResult {
    int status = -1; // the exit status; -1 when the shell did not exit normally
    std::string out, err;
};

inline std::string contentOf(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// `line` must send its standard error to `errFile`.
inline ShellResult runShell(const std::string& line, const std::filesystem::path& errFile) {
    ShellResult r;
    FILE* p = popen(line.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        r.out.append(buf, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = contentOf(errFile);
    return r;
}

} // namespace nvtest
