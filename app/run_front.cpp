// norvane-run: a script that needs no subsystem runs here at once, without Qt
// (app/plainrun.h); every other command line goes to the full runner beside this program,
// norvane-run-full (app/norvane_run.cpp), started in this process's place with the same
// arguments, so that its statuses, output and signals are the run's own.
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "app/plainrun.h"
#include "base/files.h"

int main(int argc, char** argv) {
    // The locale from the environment, as Qt's application object in the full runner sets it.
    std::setlocale(LC_ALL, "");
    if (const std::optional<int> status = nv::runPlain(argc, argv)) return *status;
    char self[PATH_MAX];
    const std::string folder = ::realpath("/proc/self/exe", self) ? nv::folderOf(self) : ".";
    const std::string full = folder + "/norvane-run-full";
    ::execv(full.c_str(), argv);
    const int err = errno;
    std::fprintf(stderr, "norvane-run: cannot start %s: %s\n", full.c_str(),
                 nv::errnoText(err).c_str());
    return 2;
}
