#include "app/subsystems.h"

#include "commands/commands.h"
#include "engine/runtime.h"
#include "net/tcp.h"

namespace nv {

Subsystems::Subsystems(Runtime& rt, QWidget* mainWindow)
    : files(std::make_unique<FilesAndSystem>(rt, mainWindow)),
      tcp(std::make_unique<TcpSubsystem>(rt)) {}

Subsystems::~Subsystems() = default;

} // namespace nv
