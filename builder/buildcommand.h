// The Build command as both executables run it: reads a program file that carries a package
// slot, packs the editor's script, "terminal.res" and the racks the script opens, proving
// each rack by loading it into the rack window, and writes the built program.
//
// The window builds from its own file (/proc/self/exe); `norvane-run --build` builds from the
// `norvane` beside it, since the runner carries no slot. Progress goes to the log as plain
// lines, as the log pane shows them.
//
// Threading: user-interface thread (the rack window, the log and the cipher's generator).
// Errors: a failed build has logged "Error building:" and its reason; failures around the
// build (a program file that cannot be read, an output that cannot be written) come back as
// a readable text for the caller to show.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nv {

class Runtime;
namespace rack {
class Rack;
}

namespace builder {

struct Outcome {
    bool built = false;
    std::string image;               // the built program, when built
    std::string failure;             // set when the program file could not be read
    std::vector<std::string> inputs; // terminal.res and the racks packed
};

// The running program's own file, links resolved.
std::string runningProgram();

// The program file that the runner builds from: `norvane` beside the runner's own file.
std::string programBesideRunner();

// Runs the build steps over `lines` with `programFile` as the program image; "terminal.res"
// is read from the program file's folder.
Outcome build(Runtime& rt, rack::Rack& rack, const std::string& programFile,
              const std::vector<std::string>& lines);

// Writes a built program to `path` through the safe save and makes it executable (0755).
// Refuses, with the reason: a path that is neither a regular file nor a name to create (a
// device, a FIFO, a folder), and one that is (by device and inode, through any link or
// spelling) the running program, `sourceProgram`, or one of `inputs` (the script, the racks
// and terminal.res the build read), which the program would otherwise replace.
bool writeProgram(const std::string& path, std::string_view image, const std::string& sourceProgram,
                  const std::vector<std::string>& inputs, std::string& error);

} // namespace builder
} // namespace nv
