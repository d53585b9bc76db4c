#include "rack/designer/designmodel.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <stdexcept>

#include "base/ascii.h"
#include "base/files.h"
#include "base/limits.h"
#include "engine/value.h"
#include "rack/controls.h"

namespace nv::designer {

using rack::Component;
using rack::Property;
using rack::Value;

namespace {

// One change: the tree before and after it. Snapshots keep undo exact whatever the change
// touched (unknown properties, nested controls, the order).
class Snapshot : public QUndoCommand {
  public:
    Snapshot(DesignModel* model, Component before, Component after, const QString& what,
             int mergeId, std::vector<int> key)
        : QUndoCommand(what), model_(model), before_(std::move(before)), after_(std::move(after)),
          mergeId_(mergeId), key_(std::move(key)) {}
    void undo() override { model_->replaceRoot(before_); }
    void redo() override { model_->replaceRoot(after_); }
    int id() const override { return mergeId_; }
    bool mergeWith(const QUndoCommand* other) override {
        const auto* o = static_cast<const Snapshot*>(other);
        if (o->key_ != key_ || o->text() != text()) return false;
        after_ = o->after_;
        return true;
    }

  private:
    DesignModel* model_;
    Component before_, after_;
    int mergeId_;
    std::vector<int> key_;
};

int countAll(const Component& c) {
    int n = 0;
    for (const Component& ch : c.children)
        n += 1 + countAll(ch);
    return n;
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
    const std::string stem = nameStem(className);
    for (int n = 1;; ++n) {
        std::string name = stem + std::to_string(n);
        if (!findAny(root, name, nullptr)) return name;
    }
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
    path_.clear();
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
    if (countAll(doc.root) > limits::kRackControls) {
        error = "more than " + std::to_string(limits::kRackControls) + " controls";
        return false;
    }
    doc_ = std::move(doc);
    // A text form is saved as a rack file under a name the user gives.
    path_ = binary ? path : std::string();
    stack_.clear();
    stack_.setClean();
    emit changed();
    return true;
}

bool DesignModel::save(const std::string& path, std::string& error) {
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
    stack_.setClean();
    return true;
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

void DesignModel::replaceRoot(const Component& root) {
    doc_.root = root;
    emit changed();
}

void DesignModel::commit(Component after, const QString& what, int mergeId) {
    if (after == doc_.root) return;
    stack_.push(new Snapshot(this, doc_.root, std::move(after), what, mergeId, mergeKey_));
    mergeKey_.clear();
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
    if (countAll(doc_.root) >= limits::kRackControls) return -1;
    Component c;
    c.className = className;
    c.name = freeName(className);
    setRect(c, r);
    // A label without a caption would be invisible on the panel.
    if (className == "TLabel") c.set("Caption", rack::stringValue(c.name));
    Component after = doc_.root;
    after.children.push_back(std::move(c));
    commit(std::move(after), tr("Add %1").arg(QString::fromStdString(className)));
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
            r.x = std::clamp(r.x + dx, -limits::kRackCoordinate, limits::kRackCoordinate);
            r.y = std::clamp(r.y + dy, -limits::kRackCoordinate, limits::kRackCoordinate);
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
    commit(std::move(after), tr("Reorder"));
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

bool DesignModel::paste(const std::string& text, std::string& error, std::vector<int>* added) {
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
    if (incoming.empty()) {
        error = "no controls in the text";
        return false;
    }
    if (countAll(doc_.root) + countAll(holder) > limits::kRackControls) {
        error = "more than " + std::to_string(limits::kRackControls) + " controls";
        return false;
    }
    Component after = doc_.root;
    const int first = int(after.children.size());
    // Names stay unique: a copy of a control of this rack gets a free name of its class and
    // lands one grid step away from the original, so that it is seen.
    std::function<void(Component&, bool)> fix = [&](Component& c, bool top) {
        if (c.name.empty() || findAny(after, c.name, nullptr)) {
            c.name = freeNameIn(after, c.className);
            if (top) {
                Rect r = rectOf(c);
                r.x += 8;
                r.y += 8;
                setRect(c, r);
            }
        }
        for (Component& ch : c.children)
            fix(ch, false);
    };
    for (Component& c : incoming) {
        c.prefix.reset();
        c.position = Value{};
        fix(c, true);
        after.children.push_back(std::move(c));
    }
    commit(std::move(after), tr("Paste"));
    if (added) {
        added->clear();
        for (int i = first; i < count(); ++i)
            added->push_back(i);
    }
    return true;
}

} // namespace nv::designer
