// The designer's canvas: the rack being edited drawn with the rack's own control widgets at
// their places on the rack's background, with a snap grid shown as dots, and a transparent
// layer above the controls that takes the mouse and the keys, so that in design mode the
// controls never react themselves. The layer draws the selection with its eight handles,
// the rubber band and the rectangle of a control being placed.
//
// The canvas follows the model: after each change it keeps the widgets of controls whose
// properties only moved (a drag on a large rack costs one move per frame) and makes anew
// those whose other properties changed. While the mouse drags, only the widgets move; the
// model gets one step when the button is released.
//
// Test mode hides the layer: the controls are live (sliders move, buttons press, spinners
// step the number display their hint names). Leaving it draws the model again, so nothing
// the user did to the controls while testing reaches the rack.
//
// Threading: user-interface thread only. Errors: none; operations on indices out of range
// are ignored.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

#include "rack/controls.h"
#include "designer/designmodel.h"

namespace nv::designer {

class CanvasLayer;

class DesignCanvas : public QWidget {
    Q_OBJECT
  public:
    explicit DesignCanvas(DesignModel& model, QWidget* parent = nullptr);
    ~DesignCanvas() override;

    DesignModel& model() { return model_; }

    // The selected controls, the first selected first (the reference for align and size).
    const std::vector<int>& selection() const { return selection_; }
    void setSelection(std::vector<int> s);

    // The next press on the canvas places a control of this class (empty: none).
    void setPlacing(const QString& className);
    QString placing() const { return placing_; }

    int gridSize() const { return grid_; }
    void setGridSize(int px);
    bool gridShown() const { return gridShown_; }
    void setGridShown(bool on);
    bool snapping() const { return snap_; }
    void setSnapping(bool on);
    int snap(int v) const;

    bool testMode() const { return testMode_; }
    void setTestMode(bool on);

    // The widget that shows control i (null when out of range).
    QWidget* widgetOf(int i) const;
    // The layer that takes mouse and keys in design mode.
    QWidget* layer() const;
    // The topmost control at a point of the canvas; -1 when none.
    int controlAt(QPoint p) const;

  signals:
    void selectionChanged();
    // A control was placed by the mouse or dropped from the palette.
    void placed(int index);

  protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

  private:
    friend class CanvasLayer;
    struct Entry {
        rack::Component shown;                           // what the widgets show
        std::vector<std::unique_ptr<rack::Control>> all; // the control and those it holds
        QWidget* widget() const { return all.front()->widget; }
    };
    void sync();
    void rebuild();
    std::unique_ptr<Entry> make(const rack::Component& c);
    void makeInto(Entry& e, const rack::Component& c, QWidget* parent);
    void linkSpinners();
    void applyRoot();

    DesignModel& model_;
    std::vector<std::unique_ptr<Entry>> entries_;
    std::vector<int> selection_;
    CanvasLayer* layer_ = nullptr;
    QString placing_;
    int grid_ = 8;
    bool gridShown_ = true;
    bool snap_ = true;
    bool testMode_ = false;
    QPixmap gridTile_;
};

} // namespace nv::designer
