#include "builder/buildcommand.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>

#include "base/files.h"
#include "builder/package.h"
#include "engine/runtime.h"
#include "rack/rack.h"

namespace nv::builder {

namespace {

std::string resolved(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : path;
}

// Same file as far as the system can tell (device and inode), following links.
bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

} // namespace

std::string runningProgram() {
    return resolved("/proc/self/exe");
}

std::string programBesideRunner() {
    return folderOf(runningProgram()) + "/norvane";
}

Outcome build(Runtime& rt, rack::Rack& rack, const std::string& programFile,
              const std::vector<std::string>& lines) {
    Outcome out;
    package::BuildInput in;
    std::string why;
    if (!readFile(programFile, in.programImage, why, {.regularOnly = true})) {
        out.failure = "Cannot read the program file " + programFile + ": " + why;
        return out;
    }
    in.lines = lines;
    in.terminalResPath = folderOf(resolved(programFile)) + "/terminal.res";
    in.log = [&rt](const std::string& line) { rt.appendLog(line); };
    in.rackIsValid = [&rack](const std::string& path) {
        std::string error;
        const bool ok = rack.window().load(path, error);
        rack.window().hide();
        return ok;
    };
    package::BuildResult r = package::build(std::move(in), rt.randomState);
    out.built = r.ok;
    out.image = std::move(r.image);
    out.inputs = std::move(r.inputs);
    return out;
}

bool writeProgram(const std::string& path, std::string_view image, const std::string& sourceProgram,
                  const std::vector<std::string>& inputs, std::string& error) {
    if (sameFile(path, runningProgram()) || sameFile(path, sourceProgram)) {
        error = "A program cannot be written over the program it is built from.";
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = "It is not a regular file; a program is written only as a file.";
        return false;
    }
    for (const std::string& input : inputs)
        if (sameFile(path, input)) {
            error = "It is " + input + ", which the program was built from.";
            return false;
        }
    if (!safeSave(path, image, error)) return false;
    if (::chmod(path.c_str(), 0755) != 0) {
        error = errnoText(errno);
        return false;
    }
    return true;
}

} // namespace nv::builder
