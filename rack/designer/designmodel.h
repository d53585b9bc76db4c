// The rack designer's model: the component tree of the rack being edited (the same tree a
// rack file holds, so that properties this program does not know survive an open and a
// save), and every operation the designer offers on it: add, move and resize, align,
// distribute, same size, rename with checks, reorder, delete, properties, and copy and paste
// through the rack text form. Every change goes through one QUndoStack as a snapshot of the
// tree before and after it, so undo and redo give back exactly the tree that was there.
//
// Controls are addressed by their position among the rack's top-level controls (the rack
// order, which decides which control a name finds first); controls held by another control
// travel with it. Index -1 stands for the rack window itself where properties are concerned.
//
// The model knows no widget: the designer window and its canvas draw it and call it.
//
// Threading: user-interface thread only (QUndoStack). Errors: operations that can be refused
// (open, save, rename, paste) return false with a reason and change nothing; the others
// ignore indices out of range.
#pragma once

#include <QObject>
#include <QUndoStack>
#include <functional>
#include <string>
#include <vector>

#include "rack/componentstream.h"

namespace nv::designer {

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const Rect&) const = default;
};

enum class Align { Left, Right, Top, Bottom, CentreHorizontal, CentreVertical };
enum class SameSize { Width, Height, Both };

class DesignModel : public QObject {
    Q_OBJECT
  public:
    DesignModel();
    ~DesignModel() override;

    // ---- the rack ----
    const rack::Document& document() const { return doc_; }
    const rack::Component& root() const { return doc_.root; }
    int count() const { return static_cast<int>(doc_.root.children.size()); }
    const rack::Component& control(int i) const { return doc_.root.children[size_t(i)]; }
    int indexOf(const std::string& name) const; // top-level control; -1 when none
    Rect rect(int i) const;
    // The rack window's client size as a rack file gives it.
    int clientWidth() const;
    int clientHeight() const;

    QUndoStack& undoStack() { return stack_; }
    bool modified() const { return !stack_.isClean(); }
    const std::string& path() const { return path_; }

    // ---- files ----
    // A new empty rack; the undo history starts again.
    void newRack();
    // A rack file, or its text form when the file does not start as a rack file does.
    bool open(const std::string& path, std::string& error);
    // Writes the rack file (the program's writer and safe save) and marks the state saved.
    bool save(const std::string& path, std::string& error);
    std::string text() const; // the whole rack in the text form

    // ---- controls ----
    // A free name of a class: its name without "T" and "Vr", numbered from 1 (Slider1).
    std::string freeName(const std::string& className) const;
    // A new control with its defaults at `r`, last in the rack order; its index, or -1 for a
    // class that is not registered.
    int add(const std::string& className, Rect r);
    // Moves and resizes several controls in one step ("Move" or "Resize" on the undo stack).
    // Consecutive steps with merge = true on the same controls fold into one undo step.
    void setRects(const std::vector<int>& which, const std::vector<Rect>& rects,
                  const QString& what, bool merge = false);
    void moveBy(const std::vector<int>& which, int dx, int dy, bool merge = false);
    // Relative to the first control of `which` (the one selected first).
    void align(const std::vector<int>& which, Align how);
    void sameSize(const std::vector<int>& which, SameSize how);
    // Equal gaps between the outermost controls, left to right or top to bottom.
    void distribute(const std::vector<int>& which, Qt::Orientation how);
    void remove(std::vector<int> which);
    // Moves the control at `from` to position `to` in the rack order.
    void reorder(int from, int to);

    // A name is refused when it is empty, longer than a rack file holds, or taken by another
    // control of the rack.
    bool rename(int i, const std::string& name, std::string& error);
    // Why a script could not use the name as a control name; empty when it can.
    static std::string nameWarning(const std::string& name);

    // Properties of a control, or of the rack window (i = -1). Setting a property to the
    // value it has changes nothing and leaves no undo step.
    const rack::Property* property(int i, const std::string& name) const;
    void setProperty(int i, const std::string& name, rack::Value v);
    void removeProperty(int i, const std::string& name);

    // ---- clipboard ----
    // The text form of the controls: one object block per control, in rack order.
    std::string copyText(std::vector<int> which) const;
    // Adds the controls of a text in the form copyText makes (a whole rack in the text form
    // gives its controls). Names already taken get a free name of their class. The indices
    // of the new controls go to `added`.
    bool paste(const std::string& text, std::string& error, std::vector<int>* added = nullptr);

    // The tree as it is now, for the undo commands.
    void replaceRoot(const rack::Component& root);

  signals:
    // The tree changed (any operation, undo or redo).
    void changed();

  private:
    void commit(rack::Component after, const QString& what, int mergeId = -1);
    void reshape(const std::vector<int>& sel, const QString& what,
                 const std::function<void(Rect&)>& change, bool merge = false);
    rack::Component* target(rack::Component& root, int i) const;
    bool nameTaken(const rack::Component& root, const std::string& name, int except) const;

    rack::Document doc_;
    QUndoStack stack_;
    std::string path_;
    std::vector<int> mergeKey_; // the controls of a step that may fold into the last
};

// The registered classes everywhere in the tree; false with the first unknown class.
bool classesKnown(const rack::Component& holder, std::string& error);
// The control's name without "T" and "Vr": the stem of its free names.
std::string nameStem(const std::string& className);
// The first free name of the class in the tree: Slider1, Slider2, ...
std::string freeNameIn(const rack::Component& root, const std::string& className);
// A size that shows a new control of the class well.
Rect defaultSize(const std::string& className);

} // namespace nv::designer
