#include "wiring/subsystems.h"

#include "commands/commands.h"
#include "engine/runtime.h"
#include "net/tcp.h"
#include "serial/serialports.h"

namespace nv {

Subsystems::Subsystems(Runtime& rt, QWidget* mainWindow)
    : files(std::make_unique<FilesAndSystem>(rt, mainWindow)),
      tcp(std::make_unique<TcpSubsystem>(rt)),
      serial(std::make_unique<serial::SerialPorts>(mainWindow, positions.terminalX,
                                                   positions.terminalY)) {
    serial->install(rt);
}

Subsystems::~Subsystems() = default;

} // namespace nv
