// Files and system commands. Scripts work on one open file at a time, whose handle `OpenFile`
// holds for the life of the program (a file opened by one run can be used by the next):
// the commands fcreate, fclose, fseek and the functions fopen, fread, fwrite. Besides the
// file, scripts reach outside through exec (start a program or open a document, never
// waiting), setidle (the pause before each line), showmain / hidemain (the main window)
// and inputbox (a modal dialog, or a line of standard input when there is no window).
//
// Threading: user-interface thread only; inputbox blocks the script, as a modal dialog
// does. Error policy: every failure becomes the command's or function's own script error
// (and log line where it has one); nothing stops the script.
#pragma once

#include <functional>
#include <string>

class QWidget;

namespace nv {

class Runtime;
class Interpreter;

// The data module: the one open file's handle. 0: no file open; above 0: the descriptor of
// the open file (never a standard stream); -1: the last fopen failed.
struct OpenFile {
    int handle = 0;
};

class FilesAndSystem {
  public:
    // Reads one answer for inputbox when there is no window; false at end of input.
    using LineReader = std::function<bool(std::string& line)>;

    // `mainWindow` is null in the headless runner; inputbox then reads standard input
    // (or `reader` when one is given).
    FilesAndSystem(Runtime& rt, QWidget* mainWindow, LineReader reader = {});
    ~FilesAndSystem();
    FilesAndSystem(const FilesAndSystem&) = delete;
    FilesAndSystem& operator=(const FilesAndSystem&) = delete;

    const OpenFile& dataModule() const { return dm_; }

  private:
    void installFiles(Runtime& rt);
    void installSystem(Runtime& rt);
    std::string inputBox(const std::string& caption, const std::string& prompt,
                         const std::string& def);

    OpenFile dm_;
    QWidget* mainWindow_;
    LineReader reader_;
};

} // namespace nv
