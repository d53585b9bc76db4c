// The rack window: the program's one front panel, "TFrmRack", made hidden at start-up and
// kept for the program's life. load() replaces its controls and its own properties with a
// rack file's; save() writes them back. Controls are kept in file order with an index from
// name to list positions, so that lookups by name keep the first-in-list-order rule without
// walking every control.
//
// Window behaviour: closing (in package mode: stop the script, which ends the program;
// otherwise show the main window) and hiding store the window's place as the remembered
// rack position; a minimise in package mode minimises every window of the program; Esc
// (outside package mode) hides the rack and brings the main window forward, Ctrl+Alt+F10
// (in package mode) shows the about box. save() removes these handlers for the rest of the
// program's run, so that saved files hold no event references. Without a main window (the
// headless runner) Esc and closing only hide the rack.
//
// Repaints: a script may change a control on every line, and the interpreter passes over the
// event queue before each line, so each change would otherwise repaint and flush the whole
// window at once. The window's update requests are held to one per screen refresh; changes
// in between are gathered into the next repaint.
//
// Threading: user-interface thread only. Errors: load() and save() return false with a
// reason and never throw; a failed load may leave the window partly filled.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "rack/controls.h"

namespace nv::rack {

class RackWindow;

// Carries a spinner's clicks to the rack window's number stepping.
class SpinnerLink : public QObject {
    Q_OBJECT
  public:
    SpinnerLink(RackWindow* rack, int spinner, QObject* parent);
  public slots:
    void up();
    void down();

  private:
    RackWindow* rack_;
    int spinner_;
};

class RackWindow : public QWidget {
    Q_OBJECT
  public:
    // The remembered rack position lives with the settings; the window updates it.
    RackWindow(int& rememberedX, int& rememberedY);
    ~RackWindow() override;

    // Set by the wiring; any of them may stay empty.
    std::function<bool()> packageMode;
    std::function<void()> showMain;   // show and raise the main window
    std::function<void()> stopScript; // ask the running script to stop
    std::function<void()> showAbout;  // the about box, modal

    bool load(const std::string& path, std::string& error);
    bool save(const std::string& path, std::string& error);

    int count() const { return static_cast<int>(controls_.size()); }
    Control& control(int i) { return *controls_[static_cast<size_t>(i)]; }
    // List positions of the controls with exactly this name, ascending; null when none.
    const std::vector<int>* positionsOf(std::string_view name) const;

    // Number stepping of a linked spinner: the TVrNum at the spinner's hint index, +1 or -1.
    void step(int spinner, int delta);
    // Connects a spinner's up/down clicks to step().
    void linkSpinner(int spinner);

    bool handlersRemoved() const { return handlersRemoved_; }

    // Changes whenever the window is shown or hidden or its controls are replaced: the
    // things that decide which control a script's name reaches (Rack::bindControl).
    const uint64_t& reachGeneration() const { return reachGeneration_; }

    // Pixels of all the rack's pictures together (limits::kRackPictureBudget bounds them).
    long long picturePixels() const;

    // Object names of the program's own windows, which a loaded rack's root may not take.
    static const std::vector<std::string_view>& programWindowNames();

  protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    void clearControls();
    bool addControls(const Component& holder, QWidget* parentWidget, int parentIndex,
                     std::string& error);
    bool applyRootProperty(const Property& p, std::string& error);
    // The window's client width or height as the file gives it; drawn no larger than
    // limits::kRackDrawnPixels.
    void setStoredSize(bool horizontal, int stored);
    std::string freeName(const std::string& wanted) const;
    void rememberPosition();
    bool inPackage() const { return packageMode && packageMode(); }
    void keyReleased(int key, quint32 keysym, Qt::KeyboardModifiers mods);

    int& rememberedX_;
    int& rememberedY_;
    std::vector<std::unique_ptr<Control>> controls_;
    // Looked up with the name as the script wrote it, without a copy per operand.
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, std::vector<int>, NameHash, std::equal_to<>> index_;
    std::string caption_ = "Rack";
    // The root's name as the file held it: bytes that are not UTF-8 would not survive the
    // object name (and could grow past what a rack file can hold).
    std::string rootName_ = "TFrmRack";
    std::vector<Property> rootKept_;                // the window's own properties kept verbatim
    std::optional<int> storedWidth_, storedHeight_; // the client size as the file gave it
    bool handlersRemoved_ = false;
    uint64_t reachGeneration_ = 1;
    QElapsedTimer sinceRepaint_; // since the last update request let through
    QTimer heldRepaint_;         // asks again for a request held back
};

} // namespace nv::rack
