#include "designer/designcanvas.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <map>

#include "base/ascii.h"
#include "instruments/controls.h"

namespace nv::designer {

using rack::Component;

namespace {

constexpr int kHandle = 6;    // side of a resize handle
constexpr int kDragStart = 3; // pixels the mouse moves before a press becomes a drag
const char* const kClassMime = "application/x-norvane-rack-class";

bool isGeometry(const rack::Property& p) {
    return equalsNoCase(p.name, "Left") || equalsNoCase(p.name, "Top") ||
           equalsNoCase(p.name, "Width") || equalsNoCase(p.name, "Height");
}

// Equal but for where the control stands and how large it is.
bool sameButPlace(const Component& a, const Component& b) {
    if (a.className != b.className || a.name != b.name || a.children != b.children) return false;
    std::vector<const rack::Property*> pa, pb;
    for (const auto& p : a.properties)
        if (!isGeometry(p)) pa.push_back(&p);
    for (const auto& p : b.properties)
        if (!isGeometry(p)) pb.push_back(&p);
    if (pa.size() != pb.size()) return false;
    for (size_t i = 0; i < pa.size(); ++i)
        if (!(*pa[i] == *pb[i])) return false;
    return true;
}

QRect toQ(const Rect& r) {
    return {r.x, r.y, r.w, r.h};
}

// The eight handles around a rectangle: corners and edge middles, clockwise from top left.
std::array<QRect, 8> handlesOf(const QRect& r) {
    const int l = r.left(), t = r.top(), rr = r.left() + r.width(), b = r.top() + r.height();
    const int cx = l + r.width() / 2, cy = t + r.height() / 2;
    const QPoint at[8] = {{l, t}, {cx, t}, {rr, t}, {rr, cy}, {rr, b}, {cx, b}, {l, b}, {l, cy}};
    std::array<QRect, 8> out;
    for (int i = 0; i < 8; ++i)
        out[size_t(i)] = QRect(at[i].x() - kHandle / 2, at[i].y() - kHandle / 2, kHandle, kHandle);
    return out;
}

Qt::CursorShape handleCursor(int h) {
    switch (h) {
    case 0:
    case 4:
        return Qt::SizeFDiagCursor;
    case 2:
    case 6:
        return Qt::SizeBDiagCursor;
    case 1:
    case 5:
        return Qt::SizeVerCursor;
    default:
        return Qt::SizeHorCursor;
    }
}

} // namespace

// The transparent layer over the controls: mouse, keys, drops and the selection's drawing.
class CanvasLayer : public QWidget {
  public:
    explicit CanvasLayer(DesignCanvas* canvas) : QWidget(canvas), c_(canvas) {
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::StrongFocus);
        setMouseTracking(true);
        setAcceptDrops(true);
    }

    // The region the selection's drawing covers, for a repaint of just that.
    QRect selectionArea(const std::vector<QRect>& rects) const {
        QRect u;
        for (const QRect& r : rects)
            u |= r.adjusted(-kHandle, -kHandle, kHandle + 1, kHandle + 1);
        return u;
    }
    std::vector<QRect> selectedRects() const {
        std::vector<QRect> out;
        for (int i : c_->selection_)
            if (QWidget* w = c_->widgetOf(i)) out.push_back(w->geometry());
        return out;
    }
    void refreshSelection(const std::vector<QRect>& before) {
        update(selectionArea(before) | selectionArea(selectedRects()));
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        // An image control without a picture draws nothing at all: a dashed outline shows
        // where it is while designing (the running rack shows it as it is, empty).
        for (const auto& e : c_->entries_) {
            const rack::Control& ctl = *e->all.front();
            if (ctl.className != "TImage" || !ctl.picture.empty()) continue;
            const QRect r = e->widget()->geometry().adjusted(0, 0, -1, -1);
            const QColor bg = c_->palette().color(QPalette::Window);
            p.setPen(QPen(bg.lightness() > 128 ? QColor(0, 0, 0, 150) : QColor(255, 255, 255, 150),
                          1, Qt::DashLine));
            p.setBrush(Qt::NoBrush);
            p.drawRect(r);
            p.drawLine(r.topLeft(), r.bottomRight());
            p.drawLine(r.bottomLeft(), r.topRight());
        }
        const QColor mark(40, 140, 255);
        for (const QRect& r : selectedRects()) {
            p.setPen(QPen(mark, 1, Qt::DashLine));
            p.setBrush(Qt::NoBrush);
            p.drawRect(r.adjusted(0, 0, -1, -1));
            p.setPen(QPen(Qt::white, 1));
            p.setBrush(mark);
            for (const QRect& h : handlesOf(r))
                p.drawRect(h.adjusted(0, 0, -1, -1));
        }
        if (mode_ == Mode::Rubber || mode_ == Mode::Placing) {
            const QRect band = QRect(pressAt_, current_).normalized();
            p.setPen(QPen(mark, 1, mode_ == Mode::Rubber ? Qt::DotLine : Qt::SolidLine));
            p.setBrush(QColor(40, 140, 255, 40));
            p.drawRect(band);
        }
    }

    void mousePressEvent(QMouseEvent* e) override {
        setFocus();
        if (e->button() != Qt::LeftButton) return;
        pressAt_ = current_ = e->position().toPoint();
        before_ = selectedRects();
        moved_ = false;
        if (!c_->placing_.isEmpty()) {
            mode_ = Mode::Placing;
            pressAt_ = current_ = QPoint(c_->snap(pressAt_.x()), c_->snap(pressAt_.y()));
            return;
        }
        // A handle of a selected control resizes it.
        for (int i : c_->selection_)
            if (QWidget* w = c_->widgetOf(i)) {
                const auto hs = handlesOf(w->geometry());
                for (int h = 0; h < 8; ++h)
                    if (hs[size_t(h)].adjusted(-1, -1, 1, 1).contains(pressAt_)) {
                        mode_ = Mode::Resizing;
                        handle_ = h;
                        resized_ = i;
                        start_ = {w->geometry()};
                        return;
                    }
            }
        const int hit = c_->controlAt(pressAt_);
        const bool toggle = e->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier);
        if (hit < 0) {
            if (!toggle) c_->setSelection({});
            mode_ = Mode::Rubber;
            rubberBase_ = toggle ? c_->selection_ : std::vector<int>{};
            return;
        }
        auto& sel = c_->selection_;
        const auto found = std::find(sel.begin(), sel.end(), hit);
        if (toggle) {
            std::vector<int> s = sel;
            if (found != sel.end())
                s.erase(s.begin() + (found - sel.begin()));
            else
                s.push_back(hit);
            c_->setSelection(s);
            mode_ = Mode::None;
            return;
        }
        if (found == sel.end()) c_->setSelection({hit});
        anchor_ = hit;
        mode_ = Mode::Moving;
        start_.clear();
        for (int i : c_->selection_)
            start_.push_back(c_->widgetOf(i)->geometry());
    }

    void mouseMoveEvent(QMouseEvent* e) override {
        const QPoint pos = e->position().toPoint();
        if (mode_ == Mode::None) {
            updateCursor(pos);
            return;
        }
        if (!moved_ && (pos - pressAt_).manhattanLength() < kDragStart) return;
        // The rack changed under the mouse (an undo by key during the drag): the drag ends.
        if ((mode_ == Mode::Moving && start_.size() != c_->selection_.size()) ||
            (mode_ == Mode::Resizing && !c_->widgetOf(resized_))) {
            mode_ = Mode::None;
            return;
        }
        moved_ = true;
        const std::vector<QRect> before = selectedRects();
        current_ = pos;
        switch (mode_) {
        case Mode::Moving: {
            const auto& sel = c_->selection_;
            size_t a = size_t(std::find(sel.begin(), sel.end(), anchor_) - sel.begin());
            if (a >= start_.size()) a = 0;
            const QPoint from = start_[a].topLeft();
            const QPoint want = from + (pos - pressAt_);
            const QPoint d = QPoint(c_->snap(want.x()), c_->snap(want.y())) - from;
            for (size_t k = 0; k < sel.size(); ++k)
                c_->widgetOf(sel[k])->move(start_[k].topLeft() + d);
            refreshSelection(before);
            break;
        }
        case Mode::Resizing: {
            QRect r = start_.front();
            const int x = c_->snap(pos.x()), y = c_->snap(pos.y());
            int l = r.left(), t = r.top(), rr = r.left() + r.width(), b = r.top() + r.height();
            if (handle_ == 0 || handle_ == 6 || handle_ == 7) l = std::min(x, rr - 1);
            if (handle_ == 2 || handle_ == 3 || handle_ == 4) rr = std::max(x, l + 1);
            if (handle_ == 0 || handle_ == 1 || handle_ == 2) t = std::min(y, b - 1);
            if (handle_ == 4 || handle_ == 5 || handle_ == 6) b = std::max(y, t + 1);
            c_->widgetOf(resized_)->setGeometry(l, t, rr - l, b - t);
            refreshSelection(before);
            break;
        }
        case Mode::Rubber:
        case Mode::Placing: {
            if (mode_ == Mode::Placing) current_ = QPoint(c_->snap(pos.x()), c_->snap(pos.y()));
            const QRect band = QRect(pressAt_, current_).normalized().adjusted(-2, -2, 2, 2);
            update(lastBand_ | band);
            lastBand_ = band;
            break;
        }
        case Mode::None:
            break;
        }
    }

    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton) return;
        const Mode mode = std::exchange(mode_, Mode::None);
        DesignModel& m = c_->model_;
        if (mode == Mode::Moving && moved_) {
            std::vector<Rect> rects;
            if (start_.size() != c_->selection_.size()) return;
            for (int i : c_->selection_) {
                const QRect g = c_->widgetOf(i)->geometry();
                rects.push_back({g.x(), g.y(), g.width(), g.height()});
            }
            m.setRects(c_->selection_, rects, DesignModel::tr("Move"));
        } else if (mode == Mode::Resizing && moved_ && c_->widgetOf(resized_)) {
            const QRect g = c_->widgetOf(resized_)->geometry();
            m.setRects({resized_}, {{g.x(), g.y(), g.width(), g.height()}},
                       DesignModel::tr("Resize"));
        } else if (mode == Mode::Rubber) {
            const QRect band = QRect(pressAt_, current_).normalized();
            std::vector<int> s = rubberBase_;
            if (moved_)
                for (int i = 0; i < m.count(); ++i)
                    if (c_->widgetOf(i)->geometry().intersects(band) &&
                        std::find(s.begin(), s.end(), i) == s.end())
                        s.push_back(i);
            c_->setSelection(s);
            update();
        } else if (mode == Mode::Placing) {
            const QString cls = c_->placing_;
            c_->setPlacing({});
            QRect r(std::min(pressAt_.x(), current_.x()), std::min(pressAt_.y(), current_.y()),
                    std::abs(current_.x() - pressAt_.x()), std::abs(current_.y() - pressAt_.y()));
            const Rect d = defaultSize(cls.toStdString());
            if (!moved_ || r.width() < kHandle || r.height() < kHandle)
                r = QRect(pressAt_, QSize(d.w, d.h));
            const int i = m.add(cls.toStdString(), {r.x(), r.y(), r.width(), r.height()});
            update();
            if (i >= 0) {
                c_->setSelection({i});
                emit c_->placed(i);
            }
        }
    }

    void keyPressEvent(QKeyEvent* e) override {
        const int step = e->modifiers() & Qt::ShiftModifier ? 8 : 1;
        int dx = 0, dy = 0;
        switch (e->key()) {
        case Qt::Key_Left:
            dx = -step;
            break;
        case Qt::Key_Right:
            dx = step;
            break;
        case Qt::Key_Up:
            dy = -step;
            break;
        case Qt::Key_Down:
            dy = step;
            break;
        case Qt::Key_Escape:
            c_->setPlacing({});
            c_->setSelection({});
            return;
        default:
            QWidget::keyPressEvent(e);
            return;
        }
        if (!c_->selection_.empty()) c_->model_.moveBy(c_->selection_, dx, dy, true);
    }

    void dragEnterEvent(QDragEnterEvent* e) override {
        if (e->mimeData()->hasFormat(kClassMime)) e->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* e) override {
        if (e->mimeData()->hasFormat(kClassMime)) e->acceptProposedAction();
    }
    void dropEvent(QDropEvent* e) override {
        const std::string cls = e->mimeData()->data(kClassMime).toStdString();
        const QPoint at = e->position().toPoint();
        Rect r = defaultSize(cls);
        r.x = c_->snap(at.x());
        r.y = c_->snap(at.y());
        const int i = c_->model_.add(cls, r);
        if (i >= 0) {
            e->acceptProposedAction();
            c_->setSelection({i});
            // The drag started in the palette, which kept the focus: the arrow keys are to
            // move the new control at once.
            setFocus(Qt::OtherFocusReason);
            emit c_->placed(i);
        }
    }

  private:
    void updateCursor(QPoint pos) {
        if (!c_->placing_.isEmpty()) {
            setCursor(Qt::CrossCursor);
            return;
        }
        for (int i : c_->selection_)
            if (QWidget* w = c_->widgetOf(i)) {
                const auto hs = handlesOf(w->geometry());
                for (int h = 0; h < 8; ++h)
                    if (hs[size_t(h)].adjusted(-1, -1, 1, 1).contains(pos)) {
                        setCursor(handleCursor(h));
                        return;
                    }
            }
        setCursor(c_->controlAt(pos) >= 0 ? Qt::SizeAllCursor : Qt::ArrowCursor);
    }

    enum class Mode { None, Moving, Resizing, Rubber, Placing };
    DesignCanvas* c_;
    Mode mode_ = Mode::None;
    QPoint pressAt_, current_;
    QRect lastBand_;
    bool moved_ = false;
    int anchor_ = -1, handle_ = -1, resized_ = -1;
    std::vector<QRect> start_, before_;
    std::vector<int> rubberBase_;
};

DesignCanvas::DesignCanvas(DesignModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setAutoFillBackground(false);
    layer_ = new CanvasLayer(this);
    connect(&model_, &DesignModel::changed, this, &DesignCanvas::sync);
    connect(&model_, &DesignModel::selectionRestored, this,
            [this](const std::vector<int>& s) { setSelection(s); });
    setGridSize(8);
    sync();
}

DesignCanvas::~DesignCanvas() = default;

QWidget* DesignCanvas::layer() const {
    return layer_;
}

QWidget* DesignCanvas::widgetOf(int i) const {
    if (i < 0 || i >= int(entries_.size())) return nullptr;
    return entries_[size_t(i)]->widget();
}

int DesignCanvas::controlAt(QPoint p) const {
    for (int i = int(entries_.size()) - 1; i >= 0; --i) {
        const QWidget* w = entries_[size_t(i)]->widget();
        if (!w->isHidden() && w->geometry().contains(p)) return i;
    }
    // Hidden controls are still found, so that they can be chosen and shown again.
    for (int i = int(entries_.size()) - 1; i >= 0; --i)
        if (entries_[size_t(i)]->widget()->geometry().contains(p)) return i;
    return -1;
}

void DesignCanvas::setSelection(std::vector<int> s) {
    std::vector<int> clean;
    for (int i : s)
        if (i >= 0 && i < int(entries_.size()) &&
            std::find(clean.begin(), clean.end(), i) == clean.end())
            clean.push_back(i);
    model_.setSelection(clean);
    if (clean == selection_) return;
    const auto before = layer_->selectedRects();
    selection_ = std::move(clean);
    layer_->refreshSelection(before);
    emit selectionChanged();
}

void DesignCanvas::setPlacing(const QString& className) {
    placing_ = className;
    layer_->setCursor(className.isEmpty() ? Qt::ArrowCursor : Qt::CrossCursor);
}

void DesignCanvas::setGridSize(int px) {
    grid_ = std::clamp(px, 2, 64);
    // One tile with one dot, repeated by the brush: the grid costs one fill per repaint.
    gridTile_ = QPixmap(grid_, grid_);
    gridTile_.fill(Qt::transparent);
    update();
}

void DesignCanvas::setGridShown(bool on) {
    gridShown_ = on;
    update();
}

void DesignCanvas::setSnapping(bool on) {
    snap_ = on;
}

int DesignCanvas::snap(int v) const {
    if (!snap_ || grid_ < 2) return v;
    const int down = v >= 0 ? v / grid_ * grid_ : -((-v + grid_ - 1) / grid_ * grid_);
    return v - down >= grid_ / 2 + grid_ % 2 ? down + grid_ : down;
}

void DesignCanvas::setTestMode(bool on) {
    if (on == testMode_) return;
    testMode_ = on;
    if (on) {
        layer_->hide();
        linkSpinners();
    } else {
        rebuild(); // what the user did to the live controls goes
        layer_->show();
        layer_->raise();
        layer_->setFocus();
    }
}

void DesignCanvas::linkSpinners() {
    for (auto& e : entries_) {
        auto* spin = qobject_cast<rack::SpinnerControl*>(e->widget());
        if (!spin || spin->property("nvLinked").toBool()) continue;
        spin->setProperty("nvLinked", true);
        const QString target = spin->toolTip();
        auto step = [this, target](int delta) {
            for (auto& n : entries_)
                if (n->shown.className == "TVrNum" &&
                    QString::fromStdString(n->shown.name) == target) {
                    QWidget* w = n->widget();
                    w->setProperty("Value", w->property("Value").toInt() + delta);
                    return;
                }
        };
        connect(spin, &rack::SpinnerControl::upClicked, this, [step] { step(1); });
        connect(spin, &rack::SpinnerControl::downClicked, this, [step] { step(-1); });
    }
}

void DesignCanvas::makeInto(Entry& e, const Component& c, QWidget* parent) {
    std::string error;
    std::unique_ptr<rack::Control> ctl = rack::createControl(c.className, c.name, parent, error);
    if (!ctl) return; // the model holds registered classes only
    for (const rack::Property& p : c.properties) {
        std::string why;
        rack::applyProperty(*ctl, p, why); // a refused value leaves the default shown
    }
    QWidget* w = ctl->widget;
    // Controls hidden in the rack are shown all the same, so that they can be found and
    // changed; their Visible property goes to the file unchanged.
    if (w->isHidden() && parent == this) w->show();
    w->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    e.all.push_back(std::move(ctl));
    for (const Component& ch : c.children)
        makeInto(e, ch, w);
}

std::unique_ptr<DesignCanvas::Entry> DesignCanvas::make(const Component& c) {
    auto e = std::make_unique<Entry>();
    e->shown = c;
    makeInto(*e, c, this);
    if (e->all.empty()) return nullptr;
    return e;
}

void DesignCanvas::applyRoot() {
    const int w = std::max(1, model_.clientWidth()), h = std::max(1, model_.clientHeight());
    if (size() != QSize(w, h)) setFixedSize(w, h);
    QColor bg = Qt::black;
    if (const rack::Property* p = model_.root().property("Color"))
        rack::colorFromValue(p->value, bg);
    if (palette().color(QPalette::Window) != bg || backgroundRole() != QPalette::Window) {
        rack::setRackGround(this, bg);
        update();
    }
    // Dots that show on the background whatever its colour.
    gridTile_.fill(Qt::transparent);
    QPainter p(&gridTile_);
    p.setPen(bg.lightness() > 128 ? QColor(0, 0, 0, 110) : QColor(255, 255, 255, 90));
    p.drawPoint(0, 0);
}

void DesignCanvas::sync() {
    applyRoot();
    const auto& kids = model_.root().children;
    // Reuse the widgets of controls that are still there under the same name.
    std::multimap<std::string, size_t> old;
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i]) old.emplace(entries_[i]->shown.name, i);
    std::vector<std::unique_ptr<Entry>> next;
    bool reordered = false;
    for (size_t i = 0; i < kids.size(); ++i) {
        const Component& c = kids[i];
        std::unique_ptr<Entry> e;
        auto range = old.equal_range(c.name);
        for (auto it = range.first; it != range.second; ++it) {
            auto& cand = entries_[it->second];
            if (cand && sameButPlace(cand->shown, c)) {
                if (it->second != i) reordered = true;
                e = std::move(cand);
                old.erase(it);
                break;
            }
        }
        if (e) {
            const Rect r{int(rack::intProperty(c, "Left").value_or(0)),
                         int(rack::intProperty(c, "Top").value_or(0)),
                         int(rack::intProperty(c, "Width").value_or(e->widget()->width())),
                         int(rack::intProperty(c, "Height").value_or(e->widget()->height()))};
            if (e->widget()->geometry() != toQ(r)) e->widget()->setGeometry(toQ(r));
            e->shown = c;
        } else {
            e = make(c);
            reordered = true;
        }
        next.push_back(std::move(e));
    }
    for (auto& e : entries_)
        if (e) delete e->widget();
    entries_ = std::move(next);
    if (reordered)
        for (auto& e : entries_)
            e->widget()->raise();
    layer_->raise();
    std::vector<int> sel;
    for (int i : selection_)
        if (i < int(entries_.size())) sel.push_back(i);
    const bool selChanged = sel != selection_;
    selection_ = sel;
    model_.setSelection(selection_);
    layer_->update();
    if (testMode_) linkSpinners();
    if (selChanged) emit selectionChanged();
}

void DesignCanvas::rebuild() {
    for (auto& e : entries_)
        delete e->widget();
    entries_.clear();
    sync();
}

void DesignCanvas::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    layer_->setGeometry(rect());
}

void DesignCanvas::paintEvent(QPaintEvent* e) {
    QPainter p(this);
    p.fillRect(e->rect(), palette().color(QPalette::Window));
    if (gridShown_ && !testMode_) p.fillRect(e->rect(), QBrush(gridTile_));
}

} // namespace nv::designer
