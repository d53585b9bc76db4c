// Wires the subsystems (serial ports, files and system commands, TCP, rack, ...) into the
// engine's tables. Both executables create one Subsystems object after the Runtime and
// keep it for the life of the program; the main window reaches each subsystem's state
// (remembered positions, the connection table, ...) through the members here.
//
// Threading: user-interface thread. Errors: construction does not fail.
#pragma once

#include <memory>

class QWidget;

namespace nv {

class Runtime;
class FilesAndSystem;
class TcpFront;
namespace serial {
class SerialPorts;
}
namespace rack {
class Rack;
}

class Subsystems {
  public:
    // `mainWindow` is the main window, or null in the headless runner.
    Subsystems(Runtime& rt, QWidget* mainWindow);
    ~Subsystems();
    Subsystems(const Subsystems&) = delete;
    Subsystems& operator=(const Subsystems&) = delete;

    // Where the terminal windows, the watch window and the rack window are put when next
    // shown (screen pixels). The main window reads and writes them in the settings file;
    // the subsystems get references to them.
    struct Positions {
        int terminalX = 0, terminalY = 0;
        int watchX = 0, watchY = 0;
        int rackX = 0, rackY = 0;
    } positions;

    // One member per subsystem, added as each subsystem lands. The rack comes first: its
    // window is the second the program makes, after the main window.
    std::unique_ptr<rack::Rack> rack;
    std::unique_ptr<FilesAndSystem> files;
    std::unique_ptr<TcpFront> tcp;
    std::unique_ptr<serial::SerialPorts> serial;
};

} // namespace nv
