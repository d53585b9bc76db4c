// The rack designer's window and the Rack menu that the main window shows. The window holds
// the canvas of the rack being edited in the middle, the palette of the 23 control classes
// (each shown by an icon the class draws of itself; click one and then the canvas, or drag
// it onto the canvas), the object list in rack order (drag to reorder) and the property
// panel. Its menus and tool bar open, save and export racks, undo and redo, copy, cut and
// paste (the clipboard holds the rack text form of the selection), align, size, distribute,
// set the grid, and switch Test mode.
//
// The designer edits its own copy of a rack: the program's rack window (the one scripts
// fill) is never touched, so a running script is never disturbed, and the designer's window
// has no object name, so that a rack's root name never counts it among the program's
// windows. Everything but Test mode works while a script runs.
//
// Threading: user-interface thread only. Errors: failures to open or save are told in a
// message box and change nothing.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>

#include "designer/designmodel.h"

class QListWidget;
class QMenu;
class QSpinBox;

namespace nv::designer {

class DesignCanvas;
class PropertyPanel;
class Palette;

class DesignerWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit DesignerWindow(QWidget* parent = nullptr);
    ~DesignerWindow() override;

    // Asked before Test mode is switched on, and every little while: true while a script runs.
    std::function<bool()> scriptRunning;

    DesignModel& model() { return model_; }
    DesignCanvas& canvas() { return *canvas_; }
    QListWidget& objectList() { return *objects_; }
    PropertyPanel& properties() { return *props_; }
    QListWidget& palette();

    // The commands of the Rack menu. They ask before discarding unsaved changes, and every
    // question and file dialog is window-modal without a loop of its own, so that a script
    // running on this thread runs on while the user answers.
    void newRack();
    void openRack(const QString& path); // empty: ask for a file
    // `then` after a successful save, `otherwise` when the user cancels the file dialog.
    void saveRack(std::function<void()> then, std::function<void()> otherwise = {});
    void saveRackAs(std::function<void()> then, std::function<void()> otherwise = {});
    void exportText();
    // The same at once, without questions; false (and a message) on failure.
    bool load(const QString& path);
    bool saveTo(const QString& path);
    bool exportTo(const QString& path);

    void copy();
    void cut();
    void paste();
    void setTestMode(bool on);

  signals:
    // The window closed (after any question about unsaved changes), or the user kept it.
    void closed();
    void closeCancelled();

  protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    // The window never opens larger than the screen or past its edges.
    void showEvent(QShowEvent* e) override;

  private:
    // Runs `then` once the rack may be replaced: at once when nothing is unsaved, else after
    // the user saved or discarded the changes; never when the user cancels.
    void whenMaySwitch(std::function<void()> then, std::function<void()> otherwise = {});
    void tell(const QString& text); // a message that does not wait
    bool programEnding() const;
    // Writes the unsaved rack to a recovery file and names it on standard error.
    void keepUnsaved();
    void buildActions();
    void refreshObjects();
    void selectionToList();
    void updateTitle();
    std::vector<int> selected() const;

    DesignModel model_;
    DesignCanvas* canvas_ = nullptr;
    QListWidget* objects_ = nullptr;
    PropertyPanel* props_ = nullptr;
    Palette* palette_ = nullptr;
    QAction* testAction_ = nullptr;
    QAction* undo_ = nullptr;
    QAction* redo_ = nullptr;
    QMenu* editMenu_ = nullptr;
    QMenu* arrangeMenu_ = nullptr;
    QSpinBox* gridSpin_ = nullptr;
    QWidget* around_ = nullptr; // the area around the rack
    bool shownOnce_ = false;
    bool syncingList_ = false;
    QString source_;       // the file name the rack came from
    bool closing_ = false; // the user agreed to close
};

// The Rack menu of the main window: New rack, Open rack for editing..., Save rack, Save rack
// as..., Export as text... It makes one designer window when first needed. `scriptRunning`
// tells whether a script runs (Test mode waits until it ends). Closing the main window by its
// frame closes the designer first, so that unsaved changes are asked about.
QMenu* createRackMenu(QWidget* mainWindow, std::function<bool()> scriptRunning);

} // namespace nv::designer
