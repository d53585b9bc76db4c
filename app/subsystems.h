// Wires the subsystems (serial ports, files and system commands, TCP, rack, ...) into the
// engine's tables. Both executables create one Subsystems object after the Runtime and
// keep it for the life of the program; the main window reaches each subsystem's state
// (remembered positions, the connection table, ...) through the members here.
//
// Threading: user-interface thread. Errors: construction does not fail.
#pragma once

class QWidget;

namespace nv {

class Runtime;

class Subsystems {
public:
    // `mainWindow` is the main window, or null in the headless runner.
    Subsystems(Runtime& rt, QWidget* mainWindow);
    ~Subsystems();
    Subsystems(const Subsystems&) = delete;
    Subsystems& operator=(const Subsystems&) = delete;

    // One member per subsystem, added as each subsystem lands.
};

} // namespace nv
