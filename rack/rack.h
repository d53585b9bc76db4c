// The rack subsystem as the engine sees it: the rack window, the access of scripts to its
// controls by name (reading in expressions, setting by assignment, the scope's sample
// protocol) and the rack commands openrack, saverack, capturerack, loadimage,
// ddown_settext, setvisible and the function ddown_gettext.
//
// Threading: user-interface thread only (the interpreter runs there). Error policy: every
// fault becomes the command's or control class's own script error (and log line where it
// has one) and never stops the script; ddown_settext and setvisible catch nothing.
#pragma once

#include <QPoint>
#include <QSize>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "engine/runtime.h"
#include "rack/rackwindow.h"

namespace nv::rack {

class Rack : public InstrumentAccess {
  public:
    // The remembered rack position lives with the settings; the window updates it.
    Rack(int& rememberedX, int& rememberedY);
    ~Rack() override;

    // Plugs the commands, the function and the control access into the engine.
    void install(Runtime& rt);

    RackWindow& window() { return *window_; }
    // Where openrack puts a window of this size while no rack position has been remembered
    // (see baseqt/placement.h); unset: where the window stands.
    std::function<QPoint(QSize)> placeUnremembered;

    // InstrumentAccess
    bool shown() const override;
    bool readControl(Interpreter& ex, std::string_view name, std::string& value) override;
    bool assignControl(Interpreter& ex, std::string_view name, std::string_view valueText) override;
    int bindControl(std::string_view name, bool settable) override;
    void readBound(int handle, std::string& value) override;
    void assignBound(Interpreter& ex, int handle, const std::string& value) override;
    WholeAccess wholeAccess(int handle) override;

    // openrack after the file is read: pictures, sliders, spinner links. False (with the
    // reason) when the pictures the hints name pass the rack's picture budget.
    bool applyHintConventions(bool packageMode, std::string& error);

  private:
    void addScopeSample(Interpreter& ex, Control& c, ScriptAccess& scope, const std::string& value);
    // The run that set a scope sample ends: its handler must no longer reach the run.
    void detachScope();
    void installCommands(Runtime& rt);

    std::unique_ptr<RackWindow> window_;
    int& rememberedX_;
    int& rememberedY_;
    // The scope handler's state (the run and the variable it reads).
    std::shared_ptr<struct ScopeRequestState> scopeState_;
};

} // namespace nv::rack
