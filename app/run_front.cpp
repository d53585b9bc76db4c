// norvane-run: a script that needs no subsystem runs here at once, without Qt
// (app/plainrun.h); every other command line goes to the full runner beside this program,
// norvane-run-full (app/norvane_run.cpp), started in this process's place with the same
// arguments, so that its statuses, output and signals are the run's own.
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "app/plainrun.h"
#include "base/files.h"

int main(int argc, char** argv) {
    // The locale from the environment, as Qt's application object in the full runner sets it.
    std::setlocale(LC_ALL, "");
    if (const std::optional<int> status = nv::runPlain(argc, argv)) return *status;
    // This program's own folder, links followed (bin/norvane-run links into the program
    // folder); where /proc is not mounted, the path it was started by.
    char self[PATH_MAX];
    const bool found = ::realpath("/proc/self/exe", self) ||
                       (argc > 0 && std::strchr(argv[0], '/') && ::realpath(argv[0], self));
    const std::string folder = found ? nv::folderOf(self) : ".";
    const std::string full = folder + "/norvane-run-full";
    ::execv(full.c_str(), argv);
    const int err = errno;
    std::fprintf(stderr, "norvane-run: cannot start %s: %s\n", full.c_str(),
                 nv::errnoText(err).c_str());
    return 2;
}
