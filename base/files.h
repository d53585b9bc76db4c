// Files as the whole program handles them: errno in words, reading a file whole, and the one
// safe save that every file written whole goes through (scripts, the settings file, rack
// files, the converter's output).
//
// The safe save writes a temporary file beside the target and renames it over the target,
// so that a failed write (a full disk, a killed program) leaves the old file as it was. It
// resolves symbolic links first (the link stays a link and its target is updated), keeps the
// target's mode, and writes in place where a rename would do harm or cannot work: a target
// that is not a regular file (a device, a FIFO), a file with several hard links, or a folder
// that cannot be written.
//
// Any thread. Error policy: functions return false and set `error` to a readable reason
// (without the path: callers name the file as fits their message); they never throw.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace nv {

// The system's words for an errno value ("No such file or directory").
std::string errnoText(int err);

struct ReadOptions {
    // Refuse anything but a regular file, without ever blocking on a FIFO or device.
    bool regularOnly = false;
};

// Reads the whole file. A folder is refused. A file larger than memory is refused with
// "larger than the available memory" instead of aborting.
bool readFile(const std::string& path, std::string& bytes, std::string& error,
              ReadOptions options = {});

// Writes `bytes` as the whole content of `path` (see above).
bool safeSave(const std::string& path, std::string_view bytes, std::string& error);

// Writes `bytes` as a new file at `path` (mode from the umask): a temporary file in the same
// folder renamed over the name, so that whatever stood there (a symbolic link someone
// planted in a shared folder, a file with other names) is replaced, never followed or
// written through. For files the program makes afresh, such as a built program's racks.
bool saveNew(const std::string& path, std::string_view bytes, std::string& error);

// The folder part of a path: "." for a bare name, "/" for a name in the root folder.
std::string folderOf(const std::string& path);

// True when the folder exists and this process may create files in it.
bool canWriteFolder(const std::string& folder);

} // namespace nv
