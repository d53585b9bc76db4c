// The designer's property panel: the properties of the selected control, or of the rack
// window when nothing is selected, each with an editor of its kind: whole numbers with their
// ranges, real numbers, switches, colours (a palette of the named colours and the colour
// dialog), fonts, enumerations, sets, texts, lines (memo lines, drop-down items), the picture
// of an image and the hint. Every edit is one undo step of the model, shown on the canvas at
// once. Names are checked as they are entered: a name another control has is refused, a name
// a script could not use is accepted with a warning beside it.
//
// Dialogs and menus never run an event loop of their own: a script running on this thread
// goes on while the user chooses a colour or a file.
//
// Threading: user-interface thread only. Errors: refused names and unreadable pictures are
// told in a message box that does not wait; nothing changes then.
#pragma once

#include <QScrollArea>
#include <functional>
#include <string>

#include "rackfile/componentstream.h"

class QFormLayout;
class QLabel;
class QMenu;
class QToolButton;

namespace nv::designer {

class DesignModel;
class DesignCanvas;

class PropertyPanel : public QScrollArea {
    Q_OBJECT
  public:
    PropertyPanel(DesignModel& model, DesignCanvas& canvas, QWidget* parent = nullptr);

    // Shows the properties of control i, of the rack (-1), or a note for several (-2).
    void showFor(int index);
    int shownIndex() const { return index_; }
    // Fills the editors again from the model (after any change).
    void refresh();

  private:
    void addRow(const QString& label, QWidget* editor, const QString& tip = {});
    void addInt(const std::string& name, int value, int min, int max);
    void addReal(const std::string& name, double value);
    void addBool(const std::string& name, bool value);
    void addColor(const std::string& name, const rack::Value* value, QColor shown);
    void addText(const std::string& name, const std::string& value, const QString& tip = {});
    void addLines(const std::string& name, const std::vector<std::string>& lines);
    void addEnum(const std::string& name, const QString& value, const QStringList& choices);
    void addSet(const std::string& name, const std::vector<std::string>& value,
                const QStringList& choices);
    void addFont();
    void addPicture();
    void addName();
    void set(const std::string& name, rack::Value v);
    void tell(const QString& text);
    void popUp(QToolButton* button, QMenu* menu);

    DesignModel& model_;
    DesignCanvas& canvas_;
    int index_ = -1;
    QWidget* body_ = nullptr;
    QFormLayout* form_ = nullptr;
};

} // namespace nv::designer
