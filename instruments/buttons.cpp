// The things a hand works: TVrPowerButton, TVrDB, TVrSwitch, TVrSpinner.
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainterPath>
#include <QRadialGradient>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "instruments/buttons.h"
#include "instruments/paint.h"

namespace nv::rack {

namespace {

constexpr double kPi = 3.14159265358979323846;

// A round metal cap; pressed caps are lit from below, as if sunk.
void cap(QPainter& p, QPointF c, double r, const QColor& base, bool pressed) {
    QLinearGradient g(c - QPointF(0, r), c + QPointF(0, r));
    g.setColorAt(0, pressed ? base.darker(150) : base.lighter(160));
    g.setColorAt(1, pressed ? base.lighter(120) : base.darker(170));
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.setBrush(g);
    p.drawEllipse(c, r, r);
    QRadialGradient top(c - QPointF(0, r * 0.1), r * 0.85);
    top.setColorAt(0, pressed ? base.darker(130) : base.lighter(115));
    top.setColorAt(1, pressed ? base.darker(110) : base);
    p.setPen(Qt::NoPen);
    p.setBrush(top);
    p.drawEllipse(c, r * 0.84, r * 0.84);
}

} // namespace

// --- TVrPowerButton ---

PowerButtonControl::PowerButtonControl(QWidget* parent) : InstrumentControl(parent) {
    describeForScripts(Kind::Flag, "PowerButton: error reading state.",
                       "PowerButton: error changing state.");
    setFocusPolicy(Qt::StrongFocus);
    resize(48, 48);
}

void PowerButtonControl::setActive(bool v) {
    if (paint::assign(active_, v)) update();
}
void PowerButtonControl::setColorOn(const QColor& c) {
    if (paint::assign(on_, c)) update();
}
void PowerButtonControl::setColorOff(const QColor& c) {
    if (paint::assign(off_, c)) update();
}

void PowerButtonControl::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    down_ = true;
    update();
}

void PowerButtonControl::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !down_) return;
    down_ = false;
    update();
    if (rect().contains(e->position().toPoint())) setActive(!active_);
}

void PowerButtonControl::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Space) {
        setActive(!active_);
    } else {
        QWidget::keyPressEvent(e);
    }
}

void PowerButtonControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint::prepare(p);
    const double side = std::min(width(), height());
    if (side < 6) return;
    const QPointF c = QRectF(rect()).center();
    const double outer = side / 2 - 1;
    const QColor ring = active_ ? on_ : off_;
    if (active_) paint::glow(p, c, outer * 1.05, on_, 90);
    // The housing ring, the lit light guide, then the cap.
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.setBrush(QColor(24, 25, 28));
    p.drawEllipse(c, outer * 0.92, outer * 0.92);
    const double guideW = std::max(1.5, outer * 0.09);
    p.setPen(QPen(ring, guideW));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, outer * 0.8, outer * 0.8);
    const double capR = outer * 0.68;
    cap(p, c + QPointF(0, down_ ? 1 : 0), capR, QColor(70, 74, 82), down_);

    // The power symbol: a broken circle and a bar through its gap.
    const QPointF sc = c + QPointF(0, down_ ? 1 : 0);
    const double sr = capR * 0.42;
    const QColor symbol = active_ ? on_.lighter(120) : QColor(150, 154, 162);
    if (active_) paint::glow(p, sc, sr * 1.6, on_, 70);
    p.setPen(QPen(symbol, std::max(1.5, capR * 0.12), Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(sc.x() - sr, sc.y() - sr, 2 * sr, 2 * sr), 120 * 16, -300 * 16);
    p.drawLine(sc - QPointF(0, sr * 1.25), sc - QPointF(0, sr * 0.1));
}

// --- TVrDB ---

MomentaryButtonControl::MomentaryButtonControl(QWidget* parent) : InstrumentControl(parent) {
    describeForScripts(Kind::Pressed, "Button: error reading state.", {});
    resize(90, 32);
}

void MomentaryButtonControl::setCaption(const QByteArray& v) {
    if (paint::assign(caption_, v)) update();
}
void MomentaryButtonControl::setColorEnter(const QColor& c) {
    if (paint::assign(enter_, c)) update();
}
void MomentaryButtonControl::setColorLeave(const QColor& c) {
    if (paint::assign(leave_, c)) update();
}
void MomentaryButtonControl::setFaceColor(const QColor& c) {
    if (paint::assign(face_, c)) update();
}

void MomentaryButtonControl::enterEvent(QEnterEvent*) {
    if (paint::assign(hover_, true)) update();
}

void MomentaryButtonControl::leaveEvent(QEvent*) {
    if (paint::assign(hover_, false)) update();
}

void MomentaryButtonControl::mousePressEvent(QMouseEvent* e) {
    // Any mouse button holds it; only the first of several counts.
    if (down_) return;
    (void)e;
    down_ = true;
    setToolTip("On");
    update();
}

void MomentaryButtonControl::mouseReleaseEvent(QMouseEvent* e) {
    // Released when the last held button comes up.
    if (!down_ || e->buttons() != Qt::NoButton) return;
    down_ = false;
    setToolTip("Off");
    update();
}

std::string MomentaryButtonControl::scriptText() const {
    const QString hint = toolTip();
    return hint == QLatin1String("On") ? "1" : hint == QLatin1String("Off") ? "0" : "";
}

void MomentaryButtonControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint::prepare(p);
    const QRectF all = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = std::min(all.height() * 0.25, 8.0);
    // A dark surround, then a raised face that sinks while held.
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.setBrush(QColor(16, 16, 18));
    p.drawRoundedRect(all, radius, radius);
    const double inset = std::clamp(all.height() * 0.08, 1.5, 4.0);
    QRectF face = all.adjusted(inset, inset, -inset, -inset);
    if (down_) face.translate(0, 1);
    QLinearGradient g(face.topLeft(), face.bottomLeft());
    g.setColorAt(0, down_ ? face_.darker(130) : face_.lighter(150));
    g.setColorAt(0.5, down_ ? face_.darker(115) : face_);
    g.setColorAt(1, down_ ? face_ : face_.darker(140));
    p.setPen(QPen(down_ ? QColor(0, 0, 0) : face_.lighter(170), 0.8));
    p.setBrush(g);
    p.drawRoundedRect(face, radius * 0.8, radius * 0.8);
    // While held the two font colours trade places.
    const QColor text = (hover_ != down_) ? enter_ : leave_;
    p.setPen(text);
    p.setFont(font());
    p.drawText(face, Qt::AlignCenter, paint::shown(caption_));
}

// --- TVrSwitch ---

SwitchControl::SwitchControl(QWidget* parent) : InstrumentControl(parent) {
    describeForScripts(Kind::Integer, "Switch: error reading position.",
                       "Switch: error changing position.");
    setFocusPolicy(Qt::StrongFocus);
    resize(64, 64);
}

void SwitchControl::setPositions(int v) {
    const int positions = std::clamp(v, 1, 32);
    const int offset = std::min(offset_, positions - 1);
    if (positions == positions_ && offset == offset_) return;
    positions_ = positions;
    offset_ = offset;
    update();
}
void SwitchControl::setOffset(int v) {
    if (paint::assign(offset_, std::clamp(v, 0, positions_ - 1))) update();
}
void SwitchControl::setColorOn(const QColor& c) {
    if (paint::assign(on_, c)) update();
}
void SwitchControl::setColorOff(const QColor& c) {
    if (paint::assign(off_, c)) update();
}
void SwitchControl::setKnobColor(const QColor& c) {
    if (paint::assign(knob_, c)) update();
}

void SwitchControl::stepByUser(int delta, bool wrap) {
    int next = offset_ + delta;
    if (wrap) next = ((next % positions_) + positions_) % positions_;
    setOffset(next);
}

void SwitchControl::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton)
        stepByUser(1, true);
    else if (e->button() == Qt::RightButton)
        stepByUser(-1, true);
}

void SwitchControl::wheelEvent(QWheelEvent* e) {
    const int steps = e->angleDelta().y() / 120;
    if (steps != 0) stepByUser(steps, false);
    e->accept();
}

void SwitchControl::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Up:
    case Qt::Key_Right:
        stepByUser(1, false);
        break;
    case Qt::Key_Down:
    case Qt::Key_Left:
        stepByUser(-1, false);
        break;
    case Qt::Key_Space:
        stepByUser(1, true);
        break;
    default:
        QWidget::keyPressEvent(e);
    }
}

void SwitchControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint::prepare(p);
    const double side = std::min(width(), height());
    if (side < 10) return;
    const QPointF c = QRectF(rect()).center();
    const double r = side / 2;
    // The marks lie on an arc centred on the top, 60 degrees apart up to 270 degrees.
    const int n = positions_;
    const double span = n > 1 ? std::min(270.0, (n - 1) * 60.0) : 0;
    auto angle = [&](int i) {
        const double deg = 90 + span / 2 - (n > 1 ? span * i / (n - 1) : 0);
        return deg * kPi / 180;
    };
    const double ledR = std::max(1.5, r * 0.09);
    for (int i = 0; i < n; ++i) {
        const double a = angle(i);
        const QPointF at = c + QPointF(std::cos(a), -std::sin(a)) * (r - ledR * 1.6);
        paint::lamp(p, at, ledR, i == offset_ ? on_ : off_, i == offset_);
    }

    // The knurled knob with its pointer.
    const double kr = r * 0.62;
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.setBrush(QColor(10, 10, 12));
    p.drawEllipse(c + QPointF(0, kr * 0.06), kr * 1.04, kr * 1.04);
    const int ridges = 24;
    QPainterPath knurl;
    for (int i = 0; i < ridges * 2; ++i) {
        const double a = 2 * kPi * i / (ridges * 2);
        const double rr = (i % 2) ? kr : kr * 0.95;
        const QPointF pt = c + QPointF(std::cos(a), std::sin(a)) * rr;
        if (i == 0)
            knurl.moveTo(pt);
        else
            knurl.lineTo(pt);
    }
    knurl.closeSubpath();
    QLinearGradient body(c - QPointF(0, kr), c + QPointF(0, kr));
    body.setColorAt(0, knob_.lighter(150));
    body.setColorAt(1, knob_.darker(200));
    p.setBrush(body);
    p.drawPath(knurl);
    QRadialGradient top(c - QPointF(kr * 0.25, kr * 0.3), kr);
    top.setColorAt(0, knob_.lighter(140));
    top.setColorAt(1, knob_.darker(150));
    p.setPen(QPen(QColor(0, 0, 0, 120), 0.8));
    p.setBrush(top);
    p.drawEllipse(c, kr * 0.78, kr * 0.78);
    const double a = angle(offset_);
    const QPointF dir(std::cos(a), -std::sin(a));
    p.setPen(QPen(QColor(240, 240, 240), std::max(1.5, kr * 0.12), Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + dir * (kr * 0.25), c + dir * (kr * 0.86));
    if (hasFocus()) {
        p.setPen(QPen(QColor(255, 255, 255, 60), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(c, kr * 1.1, kr * 1.1);
    }
}

// --- TVrSpinner ---

SpinnerControl::SpinnerControl(QWidget* parent) : InstrumentControl(parent) {
    setFocusPolicy(Qt::StrongFocus);
    resize(24, 44);
}

QString SpinnerControl::orientation() const {
    return vertical_ ? "voVertical" : "voHorizontal";
}
void SpinnerControl::setOrientation(const QString& v) {
    if (v == "voVertical" || v == "voHorizontal")
        if (paint::assign(vertical_, v == "voVertical")) update();
}
void SpinnerControl::setArrowColor(const QColor& c) {
    if (paint::assign(arrow_, c)) update();
}
void SpinnerControl::setFaceColor(const QColor& c) {
    if (paint::assign(face_, c)) update();
}

QRectF SpinnerControl::upRect() const {
    const QRectF all = QRectF(rect());
    return vertical_ ? QRectF(all.left(), all.top(), all.width(), all.height() / 2)
                     : QRectF(all.center().x(), all.top(), all.width() / 2, all.height());
}

QRectF SpinnerControl::downRect() const {
    const QRectF all = QRectF(rect());
    return vertical_ ? QRectF(all.left(), all.center().y(), all.width(), all.height() / 2)
                     : QRectF(all.left(), all.top(), all.width() / 2, all.height());
}

void SpinnerControl::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    down_ = upRect().contains(e->position()) ? 1 : downRect().contains(e->position()) ? -1 : 0;
    update();
}

void SpinnerControl::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    const int was = down_;
    down_ = 0;
    update();
    // A click counts where it was pressed and released on the same half.
    if (was == 1 && upRect().contains(e->position())) emit upClicked();
    if (was == -1 && downRect().contains(e->position())) emit downClicked();
}

void SpinnerControl::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Up:
    case Qt::Key_Right:
        emit upClicked();
        break;
    case Qt::Key_Down:
    case Qt::Key_Left:
        emit downClicked();
        break;
    default:
        QWidget::keyPressEvent(e);
    }
}

void SpinnerControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint::prepare(p);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(12, 12, 14));
    p.drawRoundedRect(QRectF(rect()), 3, 3);
    for (int half : {1, -1}) {
        const QRectF area = (half == 1 ? upRect() : downRect()).adjusted(1.5, 1.5, -1.5, -1.5);
        const bool down = down_ == half;
        QLinearGradient g(area.topLeft(), area.bottomLeft());
        g.setColorAt(0, down ? face_.darker(140) : face_.lighter(150));
        g.setColorAt(1, down ? face_ : face_.darker(140));
        p.setPen(QPen(QColor(0, 0, 0), 0.8));
        p.setBrush(g);
        p.drawRoundedRect(area, 2.5, 2.5);
        // The arrow: a triangle pointing up/down (right/left when horizontal).
        const double s = std::min(area.width(), area.height()) * 0.28;
        const QPointF c = area.center() + QPointF(0, down ? 1 : 0);
        QPolygonF tri;
        if (vertical_)
            tri << c + QPointF(0, -half * s) << c + QPointF(-s * 1.1, half * s * 0.7)
                << c + QPointF(s * 1.1, half * s * 0.7);
        else
            tri << c + QPointF(half * s, 0) << c + QPointF(-half * s * 0.7, -s * 1.1)
                << c + QPointF(-half * s * 0.7, s * 1.1);
        p.setPen(Qt::NoPen);
        p.setBrush(arrow_);
        p.drawPolygon(tri);
    }
}

} // namespace nv::rack
