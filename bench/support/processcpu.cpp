#include "bench/support/processcpu.h"

#include <dirent.h>
#include <fstream>
#include <string>

namespace nvbench {

double processCpuSeconds(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream in(dir + "/" + e->d_name + "/schedstat");
            unsigned long long ns = 0;
            if (in >> ns) total += double(ns) / 1e9;
        }
        ::closedir(d);
    }
    return total;
}

} // namespace nvbench
