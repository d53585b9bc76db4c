#include "wiring/subsystems.h"

#include "commands/commands.h"
#include "engine/runtime.h"
#include "net/tcpfront.h"
#include "rack/rack.h"
#include "serial/serialports.h"

namespace nv {

Subsystems::Subsystems(Runtime& rt, QWidget* mainWindow)
    : rack(std::make_unique<rack::Rack>(positions.rackX, positions.rackY)),
      files(std::make_unique<FilesAndSystem>(rt, mainWindow)), tcp(std::make_unique<TcpFront>(rt)),
      serial(std::make_unique<serial::SerialPorts>(mainWindow, positions.terminalX,
                                                   positions.terminalY)) {
    serial->install(rt);
    rack->install(rt);
    rack::RackWindow& w = rack->window();
    w.packageMode = [&rt] { return rt.packageMode; };
    // Without a main window (the headless runner) Esc and closing only hide the rack.
    if (mainWindow)
        w.showMain = [mainWindow] {
            mainWindow->show();
            mainWindow->raise();
            mainWindow->activateWindow();
        };
}

Subsystems::~Subsystems() = default;

} // namespace nv
