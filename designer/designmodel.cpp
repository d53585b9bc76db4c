#include "designer/designmodel.h"
#include "rackfile/textlimit.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "base/ascii.h"
#include "base/files.h"
#include "base/limits.h"
#include "engine/value.h"
#include "rack/controls.h"
#include "rack/rackwindow.h"
#include "rackfile/racklimits.h"

namespace nv::designer {

using rack::Component;
using rack::Property;
using rack::Value;

// One undo step: what a change did to the tree. The rack window's own part (its class,
// name and properties) is kept whole when it changed; its controls as splices, each
// replacing a run of top-level controls at a position with another run, applied in order.
// A move or a property keeps the controls it changed, a paste the controls it added, a
// delete the controls it removed: a step costs about what it changes, not the whole rack.
struct Edit {
    struct Splice {
        std::size_t at = 0;
        std::vector<Component> removed, inserted;
    };
    std::optional<Component> rootBefore, rootAfter; // without their controls
    std::vector<Splice> splices;
    std::size_t bytes = 0;
};

namespace {

std::size_t bytesOf(const rack::Value& v);

std::size_t bytesOf(const std::vector<Property>& props) {
    std::size_t n = 0;
    for (const Property& p : props)
        n += sizeof(Property) + p.name.size() + bytesOf(p.value) - sizeof(Value);
    return n;
}

// About what a value costs in memory: its own record and what it holds.
std::size_t bytesOf(const Value& v) {
    std::size_t n = sizeof(Value) + v.bytes.size();
    for (const Value& e : v.list)
        n += bytesOf(e);
    for (const std::string& e : v.set)
        n += sizeof(std::string) + e.size();
    for (const rack::Item& it : v.items)
        n += sizeof(rack::Item) + bytesOf(it.index) - sizeof(Value) + bytesOf(it.properties);
    return n;
}

std::size_t bytesOf(const Component& c) {
    std::size_t n = sizeof(Component) + c.className.size() + c.name.size() + bytesOf(c.position) -
                    sizeof(Value) + bytesOf(c.properties);
    for (const Component& ch : c.children)
        n += bytesOf(ch);
    return n;
}

// The component without its controls.
Component shellOf(const Component& c) {
    Component s;
    s.className = c.className;
    s.name = c.name;
    s.prefix = c.prefix;
    s.position = c.position;
    s.properties = c.properties;
    return s;
}

bool sameShell(const Component& a, const Component& b) {
    return a.className == b.className && a.name == b.name && a.prefix == b.prefix &&
           a.position == b.position && a.properties == b.properties;
}

// What turns `before` into `after`. Equal lengths: each control that differs, in place.
// Shorter or longer: the controls removed or added, when the rest kept its order (a delete,
// a paste); otherwise the run between the common start and end, replaced whole.
Edit diff(const Component& before, const Component& after) {
    Edit e;
    if (!sameShell(before, after)) {
        e.rootBefore = shellOf(before);
        e.rootAfter = shellOf(after);
    }
    const auto& b = before.children;
    const auto& a = after.children;
    std::size_t p = 0;
    while (p < b.size() && p < a.size() && b[p] == a[p])
        ++p;
    std::size_t s = 0;
    while (s < b.size() - p && s < a.size() - p && b[b.size() - 1 - s] == a[a.size() - 1 - s])
        ++s;
    const std::size_t bEnd = b.size() - s, aEnd = a.size() - s;
    auto whole = [&] {
        e.splices.clear();
        e.splices.push_back({p,
                             {b.begin() + long(p), b.begin() + long(bEnd)},
                             {a.begin() + long(p), a.begin() + long(aEnd)}});
    };
    if (bEnd - p == aEnd - p) {
        for (std::size_t i = p; i < bEnd; ++i)
            if (!(b[i] == a[i])) e.splices.push_back({i, {b[i]}, {a[i]}});
    } else if (aEnd - p < bEnd - p) {
        // Removals: `after` is `before` without some controls.
        std::size_t j = p;
        for (std::size_t i = p; i < bEnd; ++i) {
            if (j < aEnd && b[i] == a[j]) {
                ++j;
            } else if (!e.splices.empty() && e.splices.back().at == j) {
                e.splices.back().removed.push_back(b[i]);
            } else {
                e.splices.push_back({j, {b[i]}, {}});
            }
        }
        if (j != aEnd) whole();
    } else {
        // Insertions: `after` is `before` with some controls more.
        std::size_t i = p;
        for (std::size_t j = p; j < aEnd; ++j) {
            if (i < bEnd && b[i] == a[j]) {
                ++i;
            } else if (!e.splices.empty() &&
                       e.splices.back().at + e.splices.back().inserted.size() == j) {
                e.splices.back().inserted.push_back(a[j]);
            } else {
                e.splices.push_back({j, {}, {a[j]}});
            }
        }
        if (i != bEnd) whole();
    }
    e.bytes = sizeof(Edit);
    if (e.rootBefore) e.bytes += bytesOf(*e.rootBefore) + bytesOf(*e.rootAfter);
    for (const Edit::Splice& sp : e.splices) {
        e.bytes += sizeof(Edit::Splice);
        for (const Component& c : sp.removed)
            e.bytes += bytesOf(c);
        for (const Component& c : sp.inserted)
            e.bytes += bytesOf(c);
    }
    return e;
}

// One step on the undo stack. The edit is shared, so that the history can be rebuilt
// without its oldest steps at no cost.
class EditCommand : public QUndoCommand {
  public:
    EditCommand(DesignModel* model, std::shared_ptr<const Edit> edit, const QString& what,
                int mergeId, std::vector<int> key, std::vector<int> selBefore,
                std::vector<int> selAfter, QUndoCommand* parent = nullptr)
        : QUndoCommand(what, parent), model_(model), edit_(std::move(edit)), mergeId_(mergeId),
          key_(std::move(key)), selBefore_(std::move(selBefore)), selAfter_(std::move(selAfter)) {}
    void undo() override { model_->applyEdit(*edit_, false, selBefore_); }
    void redo() override {
        if (applied_) {
            applied_ = false; // a step put back as it was: the tree already has it
            return;
        }
        model_->applyEdit(*edit_, true, selAfter_);
    }
    int id() const override { return mergeId_; }
    // Folds a following step on the same controls that changed each of them in place.
    bool mergeWith(const QUndoCommand* other) override {
        const auto* o = static_cast<const EditCommand*>(other);
        if (o->key_ != key_ || o->text() != text()) return false;
        const Edit& mine = *edit_;
        const Edit& next = *o->edit_;
        if (mine.rootBefore || next.rootBefore || mine.splices.size() != next.splices.size())
            return false;
        auto merged = std::make_shared<Edit>();
        merged->bytes = sizeof(Edit);
        for (std::size_t k = 0; k < mine.splices.size(); ++k) {
            const Edit::Splice& a = mine.splices[k];
            const Edit::Splice& b = next.splices[k];
            if (a.at != b.at || a.removed.size() != 1 || a.inserted.size() != 1 ||
                b.removed.size() != 1 || b.inserted.size() != 1)
                return false;
            merged->splices.push_back({a.at, a.removed, b.inserted});
            merged->bytes +=
                sizeof(Edit::Splice) + bytesOf(a.removed.front()) + bytesOf(b.inserted.front());
        }
        edit_ = std::move(merged);
        selAfter_ = o->selAfter_;
        return true;
    }
    std::size_t bytes() const { return sizeof(*this) + edit_->bytes; }

    // The same step for a rebuilt history; it does not apply itself again when pushed.
    EditCommand* twin(int mergeId, QUndoCommand* parent) const {
        auto* t =
            new EditCommand(model_, edit_, text(), mergeId, key_, selBefore_, selAfter_, parent);
        t->applied_ = true;
        return t;
    }

  private:
    DesignModel* model_;
    std::shared_ptr<const Edit> edit_;
    int mergeId_;
    std::vector<int> key_;
    std::vector<int> selBefore_, selAfter_;
    bool applied_ = false;
};

// Where the selected controls stand once the edit is applied forwards: controls the edit
// removed drop out, those after a removal or an insertion follow their shift.
std::vector<int> followSelection(const Edit& edit, std::vector<int> sel) {
    for (const Edit::Splice& sp : edit.splices) {
        const long at = long(sp.at), removed = long(sp.removed.size()),
                   inserted = long(sp.inserted.size());
        std::vector<int> next;
        for (int i : sel) {
            if (i < at)
                next.push_back(i);
            else if (i < at + removed) {
                if (removed == inserted) next.push_back(i); // replaced in place
            } else
                next.push_back(int(i + inserted - removed));
        }
        sel = std::move(next);
    }
    return sel;
}

std::size_t commandBytes(const QUndoCommand* c) {
    if (const auto* e = dynamic_cast<const EditCommand*>(c)) return e->bytes();
    std::size_t n = sizeof(QUndoCommand);
    for (int i = 0; i < c->childCount(); ++i)
        n += commandBytes(c->child(i));
    return n;
}

// A step (or a group of steps) for a rebuilt history, already applied to the tree.
QUndoCommand* twinOf(const QUndoCommand* c, int mergeId, QUndoCommand* parent) {
    if (const auto* e = dynamic_cast<const EditCommand*>(c)) return e->twin(mergeId, parent);
    auto* group = new QUndoCommand(c->text(), parent);
    for (int i = 0; i < c->childCount(); ++i)
        twinOf(c->child(i), -1, group);
    return group;
}

// The names a tree holds and the next number to try for each class, so that naming
// thousands of pasted controls whose names clash does not walk the whole rack for every
// number of every name.
class FreeNames {
  public:
    explicit FreeNames(const Component& root) { collect(root); }
    bool taken(const std::string& name) const { return names_.count(name) != 0; }
    void take(const std::string& name) { names_.insert(name); }
    // Names are only ever added, so the first free number never lies below the last given.
    std::string next(const std::string& className) {
        const std::string stem = nameStem(className);
        int& n = tried_[stem];
        for (;;) {
            std::string name = stem + std::to_string(++n);
            if (names_.insert(name).second) return name;
        }
    }

  private:
    void collect(const Component& c) {
        for (const Component& ch : c.children) {
            names_.insert(ch.name);
            collect(ch);
        }
    }
    std::unordered_set<std::string> names_;
    std::unordered_map<std::string, int> tried_;
};

// The first caption or text past the one limit on control texts, named with its control.
std::string textTooLongIn(const Component& c) {
    for (const Property& p : c.properties)
        if (std::string why; !rack::checkTextProperty(p, why))
            return c.name + "." + p.name + ": " + why;
    for (const Component& ch : c.children)
        if (std::string why = textTooLongIn(ch); !why.empty()) return why;
    return {};
}

// Why openrack would refuse the rack: the rack window's own loader reads it from a file, as
// a script's openrack does, so that every check the loader makes is made here too.
std::string openrackRefusal(const rack::Document& doc) {
    if (std::string why = textTooLong(doc.root); !why.empty()) return why;
    std::string bytes;
    try {
        bytes = rack::write(doc);
    } catch (const std::exception& e) {
        return e.what();
    }
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/norvane-designer-XXXXXX.res"));
    if (!file.open() || file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()) ||
        !file.flush())
        return "the rack could not be checked: " + file.errorString().toStdString();
    int x = 0, y = 0;
    rack::RackWindow window(x, y);
    window.setAttribute(Qt::WA_DontShowOnScreen);
    std::string error;
    if (!window.load(file.fileName().toStdString(), error))
        return error.empty() ? std::string("refused") : error;
    return {};
}

void setRect(Component& c, const Rect& r);
Rect rectOf(const Component& c);

// The label made as the rack makes it, measured: its size grown, never shrunk, to what its
// text needs (a word-wrapped label only downwards, at its width).
void growToText(Component& c) {
    QWidget holder;
    holder.setAttribute(Qt::WA_DontShowOnScreen);
    std::string error;
    std::unique_ptr<rack::Control> ctl = rack::createControl(c.className, c.name, &holder, error);
    if (!ctl) return;
    for (const Property& p : c.properties) {
        std::string why;
        rack::applyProperty(*ctl, p, why); // the model holds only what openrack takes
    }
    QWidget* w = ctl->widget;
    Rect r = rectOf(c);
    const QSize need = w->sizeHint();
    if (w->hasHeightForWidth()) {
        r.h = std::max(r.h, w->heightForWidth(std::max(1, r.w)));
    } else {
        r.w = std::max(r.w, need.width());
        r.h = std::max(r.h, need.height());
    }
    setRect(c, r);
}

void setRect(Component& c, const Rect& r) {
    const std::pair<const char*, int> fields[] = {
        {"Left", r.x}, {"Top", r.y}, {"Width", r.w}, {"Height", r.h}};
    for (const auto& [name, v] : fields) {
        const Property* p = c.property(name);
        const auto old = p ? rack::asInteger(p->value) : std::nullopt;
        if (!old || *old != v) c.set(name, rack::intValue(v));
    }
}

Rect rectOf(const Component& c) {
    auto get = [&](const char* n) { return int(rack::intProperty(c, n).value_or(0)); };
    return {get("Left"), get("Top"), get("Width"), get("Height")};
}

std::vector<int> valid(std::vector<int> which, int count) {
    std::vector<int> out;
    for (int i : which)
        if (i >= 0 && i < count && std::find(out.begin(), out.end(), i) == out.end())
            out.push_back(i);
    return out;
}

const Component* findAny(const Component& holder, const std::string& name,
                         const Component* except) {
    for (const Component& ch : holder.children) {
        if (&ch != except && ch.name == name) return &ch;
        if (const Component* f = findAny(ch, name, except)) return f;
    }
    return nullptr;
}

} // namespace

std::string freeNameIn(const Component& root, const std::string& className) {
    return FreeNames(root).next(className);
}

std::string textTooLong(const Component& tree) {
    return textTooLongIn(tree);
}

std::string nameStem(const std::string& className) {
    std::string s = className;
    if (!s.empty() && s[0] == 'T') s.erase(0, 1);
    if (s.rfind("Vr", 0) == 0 && s.size() > 2) s.erase(0, 2);
    return s;
}

Rect defaultSize(const std::string& cls) {
    static const std::map<std::string, std::pair<int, int>> sizes = {
        {"TLabel", {80, 16}},          {"TEdit", {120, 24}},        {"TMemo", {184, 88}},
        {"TComboBox", {144, 24}},      {"TImage", {104, 104}},      {"TVrSlider", {40, 152}},
        {"TVrTrackBar", {152, 40}},    {"TVrSwitch", {72, 72}},     {"TVrLed", {24, 24}},
        {"TVrCheckLed", {104, 24}},    {"TVrMatrix", {200, 40}},    {"TVrPowerButton", {56, 56}},
        {"TVrDB", {88, 32}},           {"TVrMeter", {152, 104}},    {"TVrAngularMeter", {152, 152}},
        {"TVrPowerMeter", {176, 120}}, {"TVrNum", {104, 40}},       {"TVrSpinner", {24, 40}},
        {"TVrProgressBar", {152, 24}}, {"TVrScope", {248, 152}},    {"TLcd", {232, 64}},
        {"TVrBorder", {200, 152}},     {"TVrGradient", {200, 152}},
    };
    auto it = sizes.find(cls);
    const auto [w, h] = it == sizes.end() ? std::pair{96, 32} : it->second;
    return {0, 0, w, h};
}

bool classesKnown(const Component& holder, std::string& error) {
    for (const Component& ch : holder.children) {
        if (!rack::findControlClass(ch.className)) {
            error = "class " + ch.className + " not found";
            return false;
        }
        if (!classesKnown(ch, error)) return false;
    }
    return true;
}

DesignModel::DesignModel() {
    stack_.setUndoLimit(1000);
    newRack();
}

// The stack clears itself as it goes and would tell its watchers of the change, while the
// rest of the model is already gone.
DesignModel::~DesignModel() {
    stack_.blockSignals(true);
}

void DesignModel::newRack() {
    Component root;
    root.className = "TFrmRack";
    root.name = "Rack";
    // What the program's own rack window would write for an untouched window, in a size
    // that leaves room to work.
    root.properties = {
        {"Left", rack::intValue(295)},
        {"Top", rack::intValue(162)},
        {"Caption", rack::stringValue("Rack")},
        {"ClientHeight", rack::intValue(320)},
        {"ClientWidth", rack::intValue(480)},
        {"BorderIcons", rack::setValue({"biSystemMenu", "biMinimize"})},
        {"BorderStyle", rack::identValue("bsSingle")},
        {"Color", rack::identValue("clBlack")},
        {"KeyPreview", rack::boolValue(true)},
    };
    doc_ = rack::makeDocument(std::move(root));
    selection_.clear();
    path_.clear();
    origin_.clear();
    stack_.clear();
    stack_.setClean();
    emit changed();
}

bool DesignModel::open(const std::string& path, std::string& error) {
    std::string bytes;
    if (!nv::readFile(path, bytes, error, {.regularOnly = true})) return false;
    if (bytes.size() > size_t(limits::kRackFileBytes)) {
        error = "larger than any rack file";
        return false;
    }
    rack::Document doc;
    const bool binary = !bytes.empty() && static_cast<unsigned char>(bytes[0]) == 0xFF;
    if (binary) {
        rack::ReadResult r = rack::read(bytes);
        if (!r.ok) {
            error = r.message();
            return false;
        }
        doc = std::move(r.doc);
    } else {
        rack::TextResult r = rack::fromText(bytes);
        if (!r.ok) {
            error = r.message();
            return false;
        }
        doc = std::move(r.doc);
    }
    if (!classesKnown(doc.root, error)) return false;
    // A text the loader refuses would also freeze the designer's drawing of it.
    if (error = textTooLong(doc.root); !error.empty()) return false;
    if (!rack::controlCountFits(rack::controlCount(doc.root), error)) return false;
    doc_ = std::move(doc);
    selection_.clear();
    // A text form is saved as a rack file under a name the user gives.
    path_ = binary ? path : std::string();
    origin_ = path;
    stack_.clear();
    stack_.setClean();
    emit changed();
    return true;
}

std::string DesignModel::loaderRefusal() const {
    return openrackRefusal(doc_);
}

bool DesignModel::save(const std::string& path, std::string& error) {
    // A rack file a script cannot open is of no use and would fail only later, in the run.
    if (std::string why = loaderRefusal(); !why.empty()) {
        error = "openrack would refuse the rack: " + why;
        return false;
    }
    std::string bytes;
    try {
        bytes = rack::write(doc_);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    error = rack::saveFile(path, bytes);
    if (!error.empty()) return false;
    path_ = path;
    origin_ = path;
    stack_.setClean();
    return true;
}

std::string DesignModel::writeRecovery(std::string& error) const {
    std::string bytes;
    const char* suffix = ".res";
    try {
        bytes = rack::write(doc_);
    } catch (const std::exception&) {
        // A tree the rack file cannot hold still has its text form.
        try {
            bytes = rack::toText(doc_);
            suffix = ".txt";
        } catch (const std::exception& e) {
            error = e.what();
            return {};
        }
    }
    const QFileInfo from(QString::fromStdString(origin_.empty() ? "untitled" : origin_));
    const std::string stem =
        (from.dir().filePath(from.completeBaseName()) + QStringLiteral(".recovered")).toStdString();
    for (int n = 1; n <= 100; ++n) {
        const std::string name = stem + (n == 1 ? "" : "-" + std::to_string(n)) + suffix;
        // A new file only: O_EXCL neither follows a link nor replaces anything.
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            error = errnoText(errno);
            return {};
        }
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) break;
            done += std::size_t(w);
        }
        const int err = done < bytes.size() ? (errno ? errno : EIO) : 0;
        const int closeErr = ::close(fd) != 0 ? errno : 0;
        if (err || closeErr) {
            error = errnoText(err ? err : closeErr);
            ::unlink(name.c_str()); // a cut-off copy recovers nothing
            return {};
        }
        return name;
    }
    error = "every recovery name beside it is taken";
    return {};
}

std::string DesignModel::text() const {
    return rack::toText(doc_);
}

int DesignModel::indexOf(const std::string& name) const {
    for (int i = 0; i < count(); ++i)
        if (control(i).name == name) return i;
    return -1;
}

Rect DesignModel::rect(int i) const {
    if (i < 0 || i >= count()) return {};
    return rectOf(control(i));
}

int DesignModel::clientWidth() const {
    if (auto v = rack::intProperty(doc_.root, "ClientWidth")) return int(*v);
    return int(rack::intProperty(doc_.root, "Width").value_or(104));
}

int DesignModel::clientHeight() const {
    if (auto v = rack::intProperty(doc_.root, "ClientHeight")) return int(*v);
    return int(rack::intProperty(doc_.root, "Height").value_or(38));
}

void DesignModel::applyEdit(const Edit& edit, bool forward, const std::vector<int>& selection) {
    Component& root = doc_.root;
    auto splice = [&](std::size_t at, std::size_t remove, const std::vector<Component>& insert) {
        auto& kids = root.children;
        const auto from = kids.begin() + long(at);
        kids.erase(from, from + long(remove));
        kids.insert(kids.begin() + long(at), insert.begin(), insert.end());
    };
    if (forward) {
        for (const Edit::Splice& sp : edit.splices)
            splice(sp.at, sp.removed.size(), sp.inserted);
    } else {
        for (auto it = edit.splices.rbegin(); it != edit.splices.rend(); ++it)
            splice(it->at, it->inserted.size(), it->removed);
    }
    if (const auto& shell = forward ? edit.rootAfter : edit.rootBefore) {
        std::vector<Component> kids = std::move(root.children);
        root = *shell;
        root.children = std::move(kids);
    }
    const std::vector<int> restored = selection;
    selection_ = restored;
    emit changed();
    emit selectionRestored(restored);
}

void DesignModel::commit(Component after, const QString& what, int mergeId,
                         std::optional<std::vector<int>> selAfter) {
    if (after == doc_.root) return;
    auto edit = std::make_shared<Edit>(diff(doc_.root, after));
    std::vector<int> before = valid(selection_, count());
    std::vector<int> afterSel = selAfter ? *selAfter : followSelection(*edit, before);
    // The tree becomes `after` through the edit itself, so that what undo gives back is
    // what redo was checked against.
    stack_.push(new EditCommand(this, std::move(edit), what, mergeId, mergeKey_, std::move(before),
                                std::move(afterSel)));
    mergeKey_.clear();
    if (groups_ == 0) boundHistory();
}

void DesignModel::beginGroup(const QString& what) {
    stack_.beginMacro(what);
    ++groups_;
}

void DesignModel::endGroup() {
    if (groups_ == 0) return;
    stack_.endMacro();
    if (--groups_ == 0) boundHistory();
}

// QUndoStack drops its oldest steps by number only; past the byte bound the history is
// rebuilt from the steps kept (sharing their edits, applying nothing again). Down to three
// quarters of the bound, so that this happens once in many steps; the newest step stays
// whatever its size.
void DesignModel::boundHistory() {
    const int count = stack_.count();
    std::vector<std::size_t> sizes(std::size_t(count), 0);
    std::size_t total = 0;
    for (int i = 0; i < count; ++i)
        total += sizes[std::size_t(i)] = commandBytes(stack_.command(i));
    undoBytes_ = total;
    // After a push nothing lies ahead of the current step; anything else is left alone.
    if (total <= limits::kDesignerUndoBytes || stack_.index() != count) return;
    int first = 0;
    while (first < count - 1 && total > limits::kDesignerUndoBytes / 4 * 3)
        total -= sizes[std::size_t(first++)];
    std::vector<QUndoCommand*> kept;
    for (int i = first; i < count; ++i)
        kept.push_back(
            twinOf(stack_.command(i), i == count - 1 ? stack_.command(i)->id() : -1, nullptr));
    const int clean = stack_.cleanIndex();
    // The actions watching the stack see the same state before and after: the same last
    // step, nothing to redo, still modified.
    const bool blocked = stack_.blockSignals(true);
    stack_.clear();
    for (std::size_t k = 0; k < kept.size(); ++k) {
        if (clean - first == int(k)) stack_.setClean();
        stack_.push(kept[k]);
    }
    if (clean == count)
        stack_.setClean();
    else if (clean < first)
        stack_.resetClean(); // the saved state is no longer in the history
    stack_.blockSignals(blocked);
    undoBytes_ = total;
}

Component* DesignModel::target(Component& root, int i) const {
    if (i == -1) return &root;
    if (i < 0 || i >= int(root.children.size())) return nullptr;
    return &root.children[size_t(i)];
}

bool DesignModel::nameTaken(const Component& root, const std::string& name, int except) const {
    const Component* skip = except >= 0 ? &root.children[size_t(except)] : nullptr;
    return findAny(root, name, skip) != nullptr;
}

std::string DesignModel::freeName(const std::string& className) const {
    return freeNameIn(doc_.root, className);
}

int DesignModel::add(const std::string& className, Rect r) {
    if (!rack::findControlClass(className)) return -1;
    if (std::string why; !rack::controlCountFits(rack::controlCount(doc_.root) + 1, why)) return -1;
    Component c;
    c.className = className;
    c.name = freeName(className);
    setRect(c, r);
    // A label without a caption would be invisible on the panel.
    if (className == "TLabel") c.set("Caption", rack::stringValue(c.name));
    Component after = doc_.root;
    after.children.push_back(std::move(c));
    commit(std::move(after), tr("Add %1").arg(QString::fromStdString(className)), -1,
           std::vector<int>{count()});
    return count() - 1;
}

void DesignModel::setRects(const std::vector<int>& which, const std::vector<Rect>& rects,
                           const QString& what, bool merge) {
    Component after = doc_.root;
    for (size_t k = 0; k < which.size() && k < rects.size(); ++k)
        if (Component* c = target(after, which[k]); c && which[k] >= 0) setRect(*c, rects[k]);
    if (merge) mergeKey_ = which;
    commit(std::move(after), what, merge ? 1 : -1);
}

// Each of the controls' places changed the same way, in one step.
void DesignModel::reshape(const std::vector<int>& sel, const QString& what,
                          const std::function<void(Rect&)>& change, bool merge) {
    std::vector<Rect> rects;
    for (int i : sel) {
        Rect r = rect(i);
        change(r);
        rects.push_back(r);
    }
    setRects(sel, rects, what, merge);
}

void DesignModel::moveBy(const std::vector<int>& which, int dx, int dy, bool merge) {
    reshape(
        valid(which, count()), tr("Move"),
        [&](Rect& r) {
            r.x = rack::clampCoordinate(0LL + r.x + dx);
            r.y = rack::clampCoordinate(0LL + r.y + dy);
        },
        merge);
}

void DesignModel::align(const std::vector<int>& which, Align how) {
    const auto sel = valid(which, count());
    if (sel.size() < 2) return;
    const Rect ref = rect(sel[0]);
    reshape(sel, tr("Align"), [&](Rect& r) {
        switch (how) {
        case Align::Left:
            r.x = ref.x;
            break;
        case Align::Right:
            r.x = ref.x + ref.w - r.w;
            break;
        case Align::Top:
            r.y = ref.y;
            break;
        case Align::Bottom:
            r.y = ref.y + ref.h - r.h;
            break;
        case Align::CentreHorizontal:
            r.x = ref.x + (ref.w - r.w) / 2;
            break;
        case Align::CentreVertical:
            r.y = ref.y + (ref.h - r.h) / 2;
            break;
        }
    });
}

void DesignModel::sameSize(const std::vector<int>& which, SameSize how) {
    const auto sel = valid(which, count());
    if (sel.size() < 2) return;
    const Rect ref = rect(sel[0]);
    reshape(sel, tr("Same size"), [&](Rect& r) {
        if (how != SameSize::Height) r.w = ref.w;
        if (how != SameSize::Width) r.h = ref.h;
    });
}

void DesignModel::distribute(const std::vector<int>& which, Qt::Orientation how) {
    auto sel = valid(which, count());
    if (sel.size() < 3) return;
    const bool across = how == Qt::Horizontal;
    auto start = [&](const Rect& r) { return across ? r.x : r.y; };
    auto extent = [&](const Rect& r) { return across ? r.w : r.h; };
    std::stable_sort(sel.begin(), sel.end(),
                     [&](int a, int b) { return start(rect(a)) < start(rect(b)); });
    const Rect first = rect(sel.front()), last = rect(sel.back());
    int sum = 0;
    for (int i : sel)
        sum += extent(rect(i));
    const int span = start(last) + extent(last) - start(first);
    const double gap = double(span - sum) / double(sel.size() - 1);
    std::vector<Rect> rects;
    double pos = start(first);
    for (int i : sel) {
        Rect r = rect(i);
        (across ? r.x : r.y) = int(std::lround(pos));
        pos += extent(r) + gap;
        rects.push_back(r);
    }
    setRects(sel, rects, tr("Distribute"));
}

void DesignModel::remove(std::vector<int> which) {
    which = valid(which, count());
    if (which.empty()) return;
    std::sort(which.rbegin(), which.rend());
    Component after = doc_.root;
    for (int i : which)
        after.children.erase(after.children.begin() + i);
    commit(std::move(after), tr("Delete"));
}

void DesignModel::reorder(int from, int to) {
    if (from < 0 || from >= count() || to < 0 || to >= count() || from == to) return;
    Component after = doc_.root;
    Component moved = std::move(after.children[size_t(from)]);
    after.children.erase(after.children.begin() + from);
    after.children.insert(after.children.begin() + to, std::move(moved));
    // The selected controls keep being selected at their new places.
    std::vector<int> sel;
    for (int i : valid(selection_, count())) {
        if (i == from)
            sel.push_back(to);
        else if (from < to && i > from && i <= to)
            sel.push_back(i - 1);
        else if (to < from && i >= to && i < from)
            sel.push_back(i + 1);
        else
            sel.push_back(i);
    }
    commit(std::move(after), tr("Reorder"), -1, std::move(sel));
}

bool DesignModel::rename(int i, const std::string& name, std::string& error) {
    if (i < 0 || i >= count()) {
        error = "no such control";
        return false;
    }
    if (name.empty()) {
        error = "A control needs a name.";
        return false;
    }
    if (name.size() > 255) {
        error = "A rack file holds names of at most 255 bytes.";
        return false;
    }
    if (name == control(i).name) return true;
    if (nameTaken(doc_.root, name, i)) {
        error = "Another control is already called " + name + ".";
        return false;
    }
    Component after = doc_.root;
    after.children[size_t(i)].name = name;
    commit(std::move(after), tr("Rename"));
    return true;
}

std::string DesignModel::nameWarning(const std::string& name) {
    const std::string why = "A script cannot use this name: ";
    for (char ch : name) {
        if (ch == ' ' || ch == '\t') return why + "it contains a blank.";
        if (std::string_view("%&*+-/\\^").find(ch) != std::string_view::npos)
            return why + "'" + ch + "' is an operator.";
        if (ch == '=' || ch == '<' || ch == '>')
            return why + "'" + ch + "' makes the line a comparison or an assignment.";
        if (ch == '"' || ch == '\'') return why + "it contains a quote.";
        if (ch == '(' || ch == ')' || ch == ',')
            return why + "'" + ch + "' is read as part of a call.";
    }
    if (!name.empty() && name[0] == '#') return why + "a line starting with # is a comment.";
    if (isNumber(name)) return why + "it reads as a number.";
    for (const char* v : {"error", "myport"})
        if (equalsNoCase(name, v)) return why + "it is a predefined variable.";
    for (const char* cmd : {"debugon", "debugoff", "showline", "setport", "showmain", "hidemain"})
        if (name.rfind(cmd, 0) == 0)
            return why + "a line starting with " + cmd + " is taken for that command.";
    return {};
}

const Property* DesignModel::property(int i, const std::string& name) const {
    const Component* c = i == -1 ? &doc_.root : (i >= 0 && i < count() ? &control(i) : nullptr);
    return c ? c->property(name) : nullptr;
}

void DesignModel::setProperty(int i, const std::string& name, Value v) {
    Component after = doc_.root;
    Component* c = target(after, i);
    if (!c) return;
    if (const Property* p = c->property(name); p && p->value == v) return;
    c->set(name, std::move(v));
    // A label given a longer caption or a larger font would cut its text: it grows to show
    // it, in the same step. Only here, where the user edits it: a rack that is opened or run
    // keeps every size its file gives.
    if (i >= 0 && c->className == "TLabel" &&
        (equalsNoCase(name, "Caption") || startsWithNoCase(name, "Font.")))
        growToText(*c);
    commit(std::move(after), tr("Change %1").arg(QString::fromStdString(name)));
}

void DesignModel::removeProperty(int i, const std::string& name) {
    Component after = doc_.root;
    Component* c = target(after, i);
    if (!c) return;
    auto& props = c->properties;
    const auto n = props.size();
    props.erase(std::remove_if(props.begin(), props.end(),
                               [&](const Property& p) { return equalsNoCase(p.name, name); }),
                props.end());
    if (props.size() == n) return;
    commit(std::move(after), tr("Reset %1").arg(QString::fromStdString(name)));
}

std::string DesignModel::copyText(std::vector<int> which) const {
    which = valid(which, count());
    std::sort(which.begin(), which.end());
    std::string out;
    for (int i : which)
        out += rack::toText(rack::makeDocument(control(i)));
    return out;
}

bool DesignModel::paste(const std::string& text, std::string& error, std::vector<int>* added,
                        int gridStep) {
    std::vector<Component> incoming;
    rack::TextResult whole = rack::fromText(text);
    if (whole.ok && whole.doc.trailer.empty() && rack::findControlClass(whole.doc.root.className)) {
        incoming.push_back(std::move(whole.doc.root)); // one control
    } else if (whole.ok && whole.doc.root.children.empty()) {
        error = "class " + whole.doc.root.className + " not found";
        return false;
    } else if (whole.ok && whole.doc.trailer.empty()) {
        incoming = std::move(whole.doc.root.children); // a whole rack: its controls
    } else {
        // Several object blocks: read them as the controls of a rack around them.
        rack::TextResult wrapped =
            rack::fromText("object Clipboard: TFrmRack\n" + text + "\nend\n");
        if (!wrapped.ok) {
            error = whole.message();
            return false;
        }
        if (!wrapped.doc.root.properties.empty()) {
            error = "only object blocks can be pasted";
            return false;
        }
        incoming = std::move(wrapped.doc.root.children);
    }
    Component holder;
    holder.children = incoming;
    if (!classesKnown(holder, error)) return false;
    if (std::string why = textTooLong(holder); !why.empty()) {
        error = why;
        return false;
    }
    if (incoming.empty()) {
        error = "no controls in the text";
        return false;
    }
    if (!rack::controlCountFits(rack::controlCount(doc_.root) + rack::controlCount(holder), error))
        return false;
    // Names stay unique: a copy of a control of this rack gets a free name of its class and
    // lands grid steps away from the original, as few as leave it on no other control's
    // corner, so that it is seen (and a second paste of the same text not stacked on the
    // first).
    FreeNames names(doc_.root);
    std::vector<Component*> copies;
    std::function<void(Component&, bool)> fix = [&](Component& c, bool top) {
        if (c.name.empty() || names.taken(c.name)) {
            c.name = names.next(c.className);
            if (top) copies.push_back(&c);
        } else {
            names.take(c.name);
        }
        for (Component& ch : c.children)
            fix(ch, false);
    };
    for (Component& c : incoming) {
        c.prefix.reset();
        c.position = Value{};
        fix(c, true);
    }
    if (!copies.empty()) {
        std::set<std::pair<int, int>> corners;
        for (const Component& c : doc_.root.children)
            corners.insert({rectOf(c).x, rectOf(c).y});
        const int step = std::max(1, gridStep);
        auto at = [&](const Component& c, int k) {
            const Rect r = rectOf(c);
            return std::pair{int(rack::clampCoordinate(r.x + 1LL * k * step)),
                             int(rack::clampCoordinate(r.y + 1LL * k * step))};
        };
        int k = 1;
        while (k <= int(corners.size()) &&
               std::any_of(copies.begin(), copies.end(),
                           [&](const Component* c) { return corners.count(at(*c, k)) != 0; }))
            ++k;
        for (Component* c : copies) {
            Rect r = rectOf(*c);
            std::tie(r.x, r.y) = at(*c, k);
            setRect(*c, r);
        }
    }
    // The controls as they would be added, through the checks of openrack.
    Component check;
    check.className = "TFrmRack";
    check.name = "Rack";
    check.children = incoming;
    if (std::string why = openrackRefusal(rack::makeDocument(std::move(check))); !why.empty()) {
        error = "openrack would refuse it: " + why;
        return false;
    }
    Component after = doc_.root;
    const int first = int(after.children.size());
    std::vector<int> pasted;
    for (Component& c : incoming) {
        pasted.push_back(int(after.children.size()));
        after.children.push_back(std::move(c));
    }
    commit(std::move(after), tr("Paste"), -1, pasted);
    if (added) {
        added->clear();
        for (int i = first; i < count(); ++i)
            added->push_back(i);
    }
    return true;
}

} // namespace nv::designer
