// The rack designer's model: the component tree of the rack being edited (the same tree a
// rack file holds, so that properties this program does not know survive an open and a
// save), and every operation the designer offers on it: add, move and resize, align,
// distribute, same size, rename with checks, reorder, delete, properties, and copy and paste
// through the rack text form. Every change goes through one QUndoStack as what it changed
// (the rack window's own properties, the top-level controls replaced, added or removed),
// so undo and redo give back exactly the tree that was there while a step costs about what
// it changes, not the whole rack. The history is held to limits::kDesignerUndoBytes: past
// it the oldest steps go first.
//
// What the designer takes in from outside (pasted text) and what it writes as a rack file
// passes the checks openrack makes: the designer never makes a rack a script cannot open.
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
#include <optional>
#include <string>
#include <vector>

#include "rackfile/componentstream.h"

namespace nv::designer {

struct Edit; // one undo step's change, see designmodel.cpp

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
    // A rack that openrack would refuse is not written: the error says why.
    bool save(const std::string& path, std::string& error);
    // Why openrack would refuse the rack as it is now; empty when it opens.
    std::string loaderRefusal() const;
    std::string text() const; // the whole rack in the text form
    // Writes the rack as it is now to a new file beside the file it came from (the current
    // folder for a new rack), never over an existing file or through a link: "panel.res"
    // gives "panel.recovered.res", or "panel.recovered-2.res" when that is taken. For the
    // end of the program on a signal, when nobody can be asked. The name written, or empty
    // (and a reason) on failure.
    std::string writeRecovery(std::string& error) const;

    // ---- controls ----
    // A free name of a class: its name without "T" and "Vr", numbered from 1 (Slider1).
    std::string freeName(const std::string& className) const;
    // A new control with its defaults at `r`, last in the rack order; its index, or -1 for a
    // class that is not registered or a rack that already holds limits::kRackControls.
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
    // gives its controls). Names already taken get a free name of their class. Controls
    // openrack would refuse (a value out of range, a text past limits::kRackText) are not
    // pasted: the error names the value. The indices of the new controls go to `added`.
    // Copies of controls of this rack move `gridStep` pixels right and down per step, as many
    // steps as put them on no corner of a control already there.
    bool paste(const std::string& text, std::string& error, std::vector<int>* added = nullptr,
               int gridStep = 8);

    // One undo step for several changes (the font's three properties).
    void beginGroup(const QString& what);
    void endGroup();
    // The bytes the undo history holds (an estimate of the parts of racks it keeps).
    std::size_t undoBytes() const { return undoBytes_; }

    // The selection as the designer shows it (indices of top-level controls). Each step
    // keeps the selection it was made with and the one it left, so that undo and redo put
    // back what the user had chosen: an undone delete selects the controls it brings back,
    // never whatever control has come to stand at their old positions.
    const std::vector<int>& selection() const { return selection_; }
    void setSelection(std::vector<int> s) { selection_ = std::move(s); }

    // A step applied forwards (redo) or backwards (undo), for the undo commands, with the
    // selection that goes with the tree it gives.
    void applyEdit(const Edit& edit, bool forward, const std::vector<int>& selection);

  signals:
    // The tree changed (any operation, undo or redo).
    void changed();
    // An undo or redo gave back a step's selection (after changed()).
    void selectionRestored(const std::vector<int>& selection);

  private:
    // `selAfter`: the selection the step leaves; by default the current one, following the
    // controls it keeps to their new positions.
    void commit(rack::Component after, const QString& what, int mergeId = -1,
                std::optional<std::vector<int>> selAfter = std::nullopt);
    void reshape(const std::vector<int>& sel, const QString& what,
                 const std::function<void(Rect&)>& change, bool merge = false);
    rack::Component* target(rack::Component& root, int i) const;
    bool nameTaken(const rack::Component& root, const std::string& name, int except) const;
    // Drops the oldest steps once the history holds more than its bound.
    void boundHistory();

    rack::Document doc_;
    QUndoStack stack_;
    std::string path_;
    std::string origin_;        // the file opened or saved last, rack file or text form
    std::vector<int> mergeKey_; // the controls of a step that may fold into the last
    int groups_ = 0;            // open groups (macros) on the stack
    std::size_t undoBytes_ = 0;
    std::vector<int> selection_;
};

// Why a tree holds a text openrack refuses: the first caption or text anywhere in it longer
// than limits::kRackText, as "Name.Caption: ...". Empty when there is none.
std::string textTooLong(const rack::Component& tree);

// The registered classes everywhere in the tree; false with the first unknown class.
bool classesKnown(const rack::Component& holder, std::string& error);
// The control's name without "T" and "Vr": the stem of its free names.
std::string nameStem(const std::string& className);
// The first free name of the class in the tree: Slider1, Slider2, ...
std::string freeNameIn(const rack::Component& root, const std::string& className);
// A size that shows a new control of the class well.
Rect defaultSize(const std::string& className);

} // namespace nv::designer
