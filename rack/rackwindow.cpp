#include "rack/rackwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QScreen>
#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>

#include "base/ascii.h"
#include "base/limits.h"
#include "baseqt/displaytext.h"
#include "engine/value.h"
#include "rackfile/racklimits.h"
#include "rackfile/textlimit.h"

namespace nv::rack {
namespace {

constexpr int kDefaultLeft = 295, kDefaultTop = 162;
constexpr int kDefaultClientWidth = 104, kDefaultClientHeight = 38;

// The handlers a rack file's event properties may name.
const std::vector<std::string_view> kHandlers = {"FormClose", "FormHide", "FormKeyUp"};

bool isEvent(const Property& p) {
    return p.name.size() > 2 && p.name[0] == 'O' && p.name[1] == 'n' &&
           p.value.type == VType::Ident;
}

bool knownHandler(const std::string& name) {
    for (auto h : kHandlers)
        if (h == name) return true;
    return false;
}

// What the pictures' headers announce, before any is decoded: a file holding one picture
// past the limit, or pictures past the budget together, is refused at once.
bool announcedPicturesFit(const Component& c, long long& total, std::string& error) {
    for (const Component& ch : c.children) {
        if (ch.className == "TImage")
            if (const Property* p = ch.property("Picture.Data");
                p && p->value.type == VType::Binary) {
                const long long pixels = announcedPicturePixels(p->value.bytes);
                total += pixels;
                if (pixels > limits::kRackPicturePixels) {
                    error = ch.name + ".Picture.Data: " + std::string(kPictureTooLarge);
                    return false;
                }
                if (total > limits::kRackPictureBudget) {
                    error = ch.name + ".Picture.Data: " + std::string(kPictureBudgetSpent);
                    return false;
                }
            }
        if (!announcedPicturesFit(ch, total, error)) return false;
    }
    return true;
}

} // namespace

SpinnerLink::SpinnerLink(RackWindow* rack, int spinner, QObject* parent)
    : QObject(parent), rack_(rack), spinner_(spinner) {}

void SpinnerLink::up() {
    rack_->step(spinner_, 1);
}

void SpinnerLink::down() {
    rack_->step(spinner_, -1);
}

RackWindow::RackWindow(int& rememberedX, int& rememberedY)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      rememberedX_(rememberedX), rememberedY_(rememberedY) {
    setObjectName(QStringLiteral("TFrmRack"));
    heldRepaint_.setSingleShot(true);
    connect(&heldRepaint_, &QTimer::timeout, this, [this] {
        QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
    });
    setWindowTitle(QStringLiteral("Rack"));
    setFixedSize(kDefaultClientWidth, kDefaultClientHeight);
    setRackGround(this, Qt::black);
    setAutoFillBackground(true);
    move(kDefaultLeft, kDefaultTop);
    // What a saved rack holds for the window's own look until a rack file says otherwise.
    rootKept_ = {
        {"BorderIcons", setValue({"biSystemMenu", "biMinimize"})},
        {"BorderStyle", identValue("bsSingle")},
        {"Color", identValue("clBlack")},
        {"KeyPreview", boolValue(true)},
    };
    // Key preview: the window sees key releases of all its controls.
    qApp->installEventFilter(this);
}

RackWindow::~RackWindow() {
    qApp->removeEventFilter(this);
}

const std::vector<std::string_view>& RackWindow::programWindowNames() {
    static const std::vector<std::string_view> names = {"TMainForm", "TFrmRack", "TFrmWatch",
                                                        "TFrmAbout", "TFrmSet"};
    return names;
}

const std::vector<int>* RackWindow::positionsOf(std::string_view name) const {
    auto it = index_.find(name);
    return it == index_.end() ? nullptr : &it->second;
}

void RackWindow::clearControls() {
    ++reachGeneration_;
    // From the back: a control that holds others goes after them.
    while (!controls_.empty()) {
        delete controls_.back()->widget;
        controls_.pop_back();
    }
    index_.clear();
}

std::string RackWindow::freeName(const std::string& wanted) const {
    const QWidgetList windows = QApplication::topLevelWidgets();
    auto taken = [&](const std::string& n) {
        const QString q = QString::fromStdString(n);
        for (const QWidget* w : windows)
            if (w->objectName() == q) return true;
        return false;
    };
    if (wanted.empty() || !taken(wanted)) return wanted;
    for (int i = 1;; ++i) {
        // Cut to make room for the number: a rack file holds names of up to 255 bytes (one
        // length byte).
        const std::string number = std::to_string(i);
        std::string n = wanted.substr(0, 254 - number.size());
        n += '_';
        n += number;
        if (!taken(n)) return n;
    }
}

bool RackWindow::applyRootProperty(const Property& p, std::string& error) {
    const std::string& n = p.name;
    if (!checkTextProperty(p, error)) {
        error = n + ": " + error;
        return false;
    }
    if (isEvent(p)) {
        const std::string h = *asIdent(p.value);
        if (!knownHandler(h)) {
            error = "no event handler named " + h;
            return false;
        }
        return true; // the window's handlers are its own; they are never written back
    }
    auto coordinate = [&](int& out) {
        if (std::string why; !coordinateOf(p.value, out, why)) {
            error = n + ": coordinate out of range";
            return false;
        }
        return true;
    };
    int v = 0;
    if (equalsNoCase(n, "Left") || equalsNoCase(n, "Top")) {
        if (!coordinate(v)) return false;
        move(equalsNoCase(n, "Left") ? v : x(), equalsNoCase(n, "Top") ? v : y());
        return true;
    }
    if (equalsNoCase(n, "ClientWidth") || equalsNoCase(n, "ClientHeight")) {
        if (!coordinate(v)) return false;
        setStoredSize(equalsNoCase(n, "ClientWidth"), v);
        return true;
    }
    if (equalsNoCase(n, "Caption")) {
        if (const auto t = asText(p.value)) {
            caption_ = *t;
            setWindowTitle(displayText(*t));
            return true;
        }
    }
    if (equalsNoCase(n, "Width") || equalsNoCase(n, "Height")) {
        // Outer size from other tools: taken as the panel's size, kept for the file.
        if (!coordinate(v)) return false;
        setStoredSize(equalsNoCase(n, "Width"), std::max(0, v));
    } else if (equalsNoCase(n, "Color")) {
        QColor col;
        if (colorFromValue(p.value, col)) setRackGround(this, col);
    }
    for (Property& k : rootKept_)
        if (equalsNoCase(k.name, n)) {
            k.value = p.value;
            return true;
        }
    rootKept_.push_back(p);
    return true;
}

void RackWindow::setStoredSize(bool horizontal, int stored) {
    (horizontal ? storedWidth_ : storedHeight_) = stored;
    const int drawn = drawnSize(stored);
    setFixedSize(horizontal ? drawn : width(), horizontal ? height() : drawn);
}

long long RackWindow::picturePixels() const {
    long long total = 0;
    for (const auto& c : controls_)
        total += c->picturePixels;
    return total;
}

bool RackWindow::load(const std::string& path, std::string& error) {
    clearControls();
    storedWidth_.reset();
    storedHeight_.reset();
    if (QFileInfo(QString::fromStdString(path)).size() > limits::kRackFileBytes) {
        error = "larger than any rack file";
        return false;
    }
    ReadResult r = nv::rack::readFile(path);
    if (!r.ok) {
        error = r.message();
        return false;
    }
    const Component& root = r.doc.root;
    if (!controlCountFits(controlCount(root), error)) return false;
    long long announced = 0;
    if (!announcedPicturesFit(root, announced, error)) return false;
    rootName_ = freeName(root.name);
    setObjectName(QString::fromStdString(rootName_));
    for (const Property& p : root.properties)
        if (!applyRootProperty(p, error)) return false;
    return addControls(root, this, -1, error);
}

// Controls held by another control (on a panel) follow it in the list and are children of
// its widget; the reader has already bounded the nesting depth.
bool RackWindow::addControls(const Component& holder, QWidget* parentWidget, int parentIndex,
                             std::string& error) {
    long long picturesSoFar = picturePixels();
    for (const Component& child : holder.children) {
        std::unique_ptr<Control> c =
            createControl(child.className, child.name, parentWidget, error);
        if (!c) return false;
        Control& ref = *c;
        ref.parent = parentIndex;
        const int at = static_cast<int>(controls_.size());
        index_[child.name].push_back(at);
        ++reachGeneration_;
        controls_.push_back(std::move(c));
        for (const Property& p : child.properties) {
            if (isEvent(p) && !knownHandler(*asIdent(p.value))) {
                error = child.name + ": no event handler named " + *asIdent(p.value);
                return false;
            }
            const long long before = ref.picturePixels;
            if (!applyProperty(ref, p, error,
                               limits::kRackPictureBudget - (picturesSoFar - before))) {
                error = child.name + "." + p.name + ": " + error;
                return false;
            }
            picturesSoFar += ref.picturePixels - before;
        }
        if (!addControls(child, ref.widget, at, error)) return false;
        picturesSoFar = picturePixels();
    }
    return true;
}

bool RackWindow::save(const std::string& path, std::string& error) {
    // A saved rack holds no event references: the window's own handlers go for good.
    handlersRemoved_ = true;
    Component root;
    root.className = "TFrmRack";
    root.name = rootName_;
    root.properties = {
        {"Left", intValue(x())},
        {"Top", intValue(y())},
        {"Caption", stringValue(caption_)},
        {"ClientHeight", intValue(storedSize(storedHeight_, height()))},
        {"ClientWidth", intValue(storedSize(storedWidth_, width()))},
    };
    for (const Property& p : rootKept_) {
        // The client size given as an outer size is written as the client size above.
        if (equalsNoCase(p.name, "Width") || equalsNoCase(p.name, "Height")) continue;
        root.properties.push_back(p);
    }
    // Built from the back, so that each control's own controls are complete when it is
    // placed into its holder.
    std::vector<Component> made(controls_.size());
    for (size_t i = controls_.size(); i-- > 0;) {
        const Control& c = *controls_[i];
        made[i].className = c.className;
        made[i].name = c.name;
        made[i].properties = collectProperties(c);
        std::reverse(made[i].children.begin(), made[i].children.end());
        std::vector<Component>& into =
            c.parent < 0 ? root.children : made[static_cast<size_t>(c.parent)].children;
        into.push_back(std::move(made[i]));
    }
    std::reverse(root.children.begin(), root.children.end());
    std::string bytes;
    try {
        bytes = write(makeDocument(std::move(root)));
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    error = saveFile(path, bytes);
    return error.empty();
}

void RackWindow::step(int spinner, int delta) {
    if (spinner < 0 || spinner >= count()) return;
    int32_t target = 0;
    if (!parseInteger(control(spinner).widget->toolTip().toStdString(), target)) return;
    if (target < 0 || target >= count()) return;
    // Linked only to a numeric display (a whole number), whose setter clamps the step.
    ScriptAccess* num = control(target).access;
    if (!num || num->scriptKind() != ScriptAccess::Kind::Integer) return;
    num->setScriptInteger(static_cast<int>(
        std::clamp<long long>(0LL + num->scriptInteger() + delta, INT_MIN, INT_MAX)));
}

void RackWindow::linkSpinner(int spinner) {
    QWidget* w = control(spinner).widget;
    auto* link = new SpinnerLink(this, spinner, w);
    connect(w, SIGNAL(upClicked()), link, SLOT(up()));
    connect(w, SIGNAL(downClicked()), link, SLOT(down()));
}

void RackWindow::rememberPosition() {
    // A window never shown has no place of its own to remember.
    if (!testAttribute(Qt::WA_WState_Created)) return;
    rememberedX_ = x();
    rememberedY_ = y();
}

void RackWindow::closeEvent(QCloseEvent* e) {
    e->accept();
    if (handlersRemoved_) {
        // A built program's main window stays hidden: were closing its rack to do nothing
        // after saverack, the program would go on with no window at all. So there closing
        // still stops the script, and the program ends with it.
        if (inPackage() && stopScript) stopScript();
        return;
    }
    rememberPosition();
    if (inPackage()) {
        if (stopScript) stopScript();
    } else if (showMain) {
        showMain();
    }
}

void RackWindow::hideEvent(QHideEvent* e) {
    QWidget::hideEvent(e);
    // A minimised window is not hidden in the rack's sense.
    if (!handlersRemoved_ && !e->spontaneous()) rememberPosition();
}

void RackWindow::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange && isMinimized() && inPackage()) {
        // A built program is one application to its user: minimising the panel minimises it.
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != this && w->isVisible() && !w->isMinimized()) w->showMinimized();
    }
}

// A held update request leaves Qt's repaint bookkeeping waiting for it, so further changes
// only add to the dirty region until the timer hands the request in again.
bool RackWindow::event(QEvent* e) {
    // Sent as the visibility changes, before any script line can run again.
    if (e->type() == QEvent::Show || e->type() == QEvent::Hide) ++reachGeneration_;
    if (e->type() == QEvent::UpdateRequest) {
        const QScreen* s = screen();
        const double hz = s && s->refreshRate() >= 1 ? s->refreshRate() : 60.0;
        const qint64 frameMs = std::clamp<qint64>(qint64(std::ceil(1000.0 / hz)), 1, 100);
        if (sinceRepaint_.isValid() && sinceRepaint_.elapsed() < frameMs) {
            if (!heldRepaint_.isActive())
                heldRepaint_.start(int(frameMs - sinceRepaint_.elapsed()));
            return true;
        }
        sinceRepaint_.start();
    }
    return QWidget::event(e);
}

bool RackWindow::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyRelease && !handlersRemoved_) {
        // The event travels up from the focus widget; act on its first delivery only.
        QWidget* first = QApplication::focusWidget();
        if (!first || first->window() != this) first = this;
        if (watched == first && (first == this || first->window() == this)) {
            auto* k = static_cast<QKeyEvent*>(e);
            keyReleased(k->key(), k->nativeVirtualKey(), k->modifiers());
        }
    }
    return QWidget::eventFilter(watched, e);
}

void RackWindow::keyReleased(int key, quint32 keysym, Qt::KeyboardModifiers mods) {
    if (inPackage()) {
        // On a default X keymap F10 with Ctrl+Alt is the console switch XF86Switch_VT_10,
        // which Qt hands over with no key of its own (key 0) and that keysym.
        constexpr quint32 kSwitchToConsole10 = 0x1008FE0A;
        const bool f10 = key == Qt::Key_F10 || (key == 0 && keysym == kSwitchToConsole10);
        if (f10 && mods == (Qt::ControlModifier | Qt::AltModifier) && showAbout) showAbout();
        return;
    }
    if (key == Qt::Key_Escape) {
        hide();
        if (showMain) showMain();
    }
}

} // namespace nv::rack
