// The straight instruments: TVrSlider, TVrTrackBar, TVrProgressBar.
#include <QLinearGradient>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "instruments/linear.h"
#include "instruments/paint.h"

namespace nv::rack {

namespace {

// Tick marks across a track, `count` of them from a to b, offset sideways by `off` with the
// given length (both along the normal of the track).
void ticks(QPainter& p, QPointF a, QPointF b, int count, double off, double len, bool vertical,
           const QColor& colour, qreal width) {
    if (count < 2) return;
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::FlatCap));
    const QPointF n = vertical ? QPointF(1, 0) : QPointF(0, 1);
    for (int i = 0; i < count; ++i) {
        const QPointF at = a + (b - a) * (double(i) / (count - 1));
        const double l =
            (i == 0 || i == count - 1 || (i == (count - 1) / 2 && count % 2)) ? len : len * 0.65;
        p.drawLine(at + n * off, at + n * (off + (off < 0 ? -l : l)));
    }
}

} // namespace

// --- TVrSlider ---

SliderControl::SliderControl(QWidget* parent) : LinearControl(parent, true) {
    describeForScripts(Kind::Integer, "Slider: error reading postion.",
                       "Slider: error changing position.");
    resize(44, 150);
}

void SliderControl::setThumbColor(const QColor& c) {
    if (paint::assign(thumb_, c)) update();
}
void SliderControl::setTrackColor(const QColor& c) {
    if (paint::assign(track_, c)) update();
}
void SliderControl::setTickColor(const QColor& c) {
    if (paint::assign(tick_, c)) update();
}

QSizeF SliderControl::thumbSize() const {
    // Across the track the cap takes most of the width; along it about half that.
    const double across = vertical() ? width() : height();
    const double along = vertical() ? height() : width();
    const double a = std::max(6.0, across * 0.78);
    const double l = std::clamp(across * 0.42, 6.0, std::max(6.0, along * 0.3));
    return vertical() ? QSizeF(a, l) : QSizeF(l, a);
}

QPointF SliderControl::trackStart() const {
    const QSizeF t = thumbSize();
    return vertical() ? QPointF(width() / 2.0, height() - t.height() / 2 - 1)
                      : QPointF(t.width() / 2 + 1, height() / 2.0);
}

QPointF SliderControl::trackEnd() const {
    const QSizeF t = thumbSize();
    return vertical() ? QPointF(width() / 2.0, t.height() / 2 + 1)
                      : QPointF(width() - t.width() / 2 - 1, height() / 2.0);
}

void SliderControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint::prepare(p);
    const QPointF a = trackStart(), b = trackEnd();
    const double across = vertical() ? width() : height();
    const double slotW = std::clamp(across * 0.1, 3.0, 10.0);
    // The slot.
    QRectF slot = vertical()
                      ? QRectF(a.x() - slotW / 2, b.y() - slotW / 2, slotW, a.y() - b.y() + slotW)
                      : QRectF(a.x() - slotW / 2, a.y() - slotW / 2, b.x() - a.x() + slotW, slotW);
    paint::well(p, slot, slotW / 2, track_);
    // Scale marks on both sides of the slot.
    ticks(p, a, b, tickCount(), slotW * 1.2, across * 0.16, vertical(), tick_,
          std::max(1.0, across * 0.02));
    ticks(p, a, b, tickCount(), -slotW * 1.2, across * 0.16, vertical(), tick_,
          std::max(1.0, across * 0.02));

    // The fader cap: a shadow, a ridged body and the white index line.
    const QSizeF ts = thumbSize();
    QRectF cap(QPointF(0, 0), ts);
    cap.moveCenter(thumbCentre());
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 110));
    p.drawRoundedRect(cap.translated(1.5, 2.5), 2, 2);
    QLinearGradient body(vertical() ? cap.topLeft() : cap.topLeft(),
                         vertical() ? cap.bottomLeft() : cap.topRight());
    body.setColorAt(0, thumb_.lighter(115));
    body.setColorAt(0.45, thumb_.darker(135));
    body.setColorAt(0.55, thumb_.darker(160));
    body.setColorAt(1, thumb_.darker(120));
    p.setPen(QPen(QColor(0, 0, 0), 0.8));
    p.setBrush(body);
    p.drawRoundedRect(cap, 2, 2);
    // Grip ridges either side of the index line.
    const double along = vertical() ? cap.height() : cap.width();
    p.setPen(QPen(QColor(0, 0, 0, 70), std::max(0.8, along * 0.04)));
    for (double f : {0.2, 0.32, 0.68, 0.8}) {
        if (vertical())
            p.drawLine(QPointF(cap.left() + 2, cap.top() + cap.height() * f),
                       QPointF(cap.right() - 2, cap.top() + cap.height() * f));
        else
            p.drawLine(QPointF(cap.left() + cap.width() * f, cap.top() + 2),
                       QPointF(cap.left() + cap.width() * f, cap.bottom() - 2));
    }
    p.setPen(QPen(QColor(250, 250, 250), std::max(1.0, along * 0.1), Qt::SolidLine, Qt::FlatCap));
    if (vertical())
        p.drawLine(QPointF(cap.left() + 1.5, cap.center().y()),
                   QPointF(cap.right() - 1.5, cap.center().y()));
    else
        p.drawLine(QPointF(cap.center().x(), cap.top() + 1.5),
                   QPointF(cap.center().x(), cap.bottom() - 1.5));
    if (hasFocus()) {
        p.setPen(QPen(QColor(255, 255, 255, 60), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
}

// --- TVrTrackBar ---

TrackBarControl::TrackBarControl(QWidget* parent) : LinearControl(parent, false) {
    describeForScripts(Kind::Integer, "TrackBar: error reading postion.",
                       "TrackBar: error changing position.");
    resize(180, 44);
}

void TrackBarControl::setThumbColor(const QColor& c) {
    if (paint::assign(thumb_, c)) update();
}
void TrackBarControl::setBarColor(const QColor& c) {
    if (paint::assign(bar_, c)) update();
}
void TrackBarControl::setTickColor(const QColor& c) {
    if (paint::assign(tick_, c)) update();
}

// The groove runs a third of the way across; ticks below (or right of) it.
QPointF TrackBarControl::trackStart() const {
    const double across = vertical() ? width() : height();
    const double half = std::max(4.0, across * 0.22);
    return vertical() ? QPointF(across * 0.35, height() - half - 1)
                      : QPointF(half + 1, across * 0.35);
}

QPointF TrackBarControl::trackEnd() const {
    const double across = vertical() ? width() : height();
    const double half = std::max(4.0, across * 0.22);
    return vertical() ? QPointF(across * 0.35, half + 1)
                      : QPointF(width() - half - 1, across * 0.35);
}

void TrackBarControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint::prepare(p);
    const QPointF a = trackStart(), b = trackEnd();
    const double across = vertical() ? width() : height();
    const double grooveW = std::clamp(across * 0.12, 3.0, 10.0);
    auto bar = [&](QPointF from, QPointF to) {
        return vertical() ? QRectF(from.x() - grooveW / 2, to.y() - grooveW / 2, grooveW,
                                   from.y() - to.y() + grooveW)
                          : QRectF(from.x() - grooveW / 2, from.y() - grooveW / 2,
                                   to.x() - from.x() + grooveW, grooveW);
    };
    paint::well(p, bar(a, b), grooveW / 2, QColor(12, 12, 14));
    const QPointF t = thumbCentre();
    // The filled part, up to the thumb.
    p.setPen(Qt::NoPen);
    p.setBrush(bar_);
    p.drawRoundedRect(bar(a, t).adjusted(1, 1, -1, -1), grooveW / 2 - 1, grooveW / 2 - 1);
    paint::glow(p, t, grooveW * 2.2, bar_, 60);

    ticks(p, a, b, tickCount(), across * 0.3, across * 0.2, vertical(), tick_,
          std::max(1.0, across * 0.025));

    // A pointer thumb aimed at the scale.
    const double hw = std::max(4.0, across * 0.2), hl = std::max(6.0, across * 0.28);
    QPolygonF ptr;
    if (vertical())
        ptr << t + QPointF(-hl, -hw) << t + QPointF(hl * 0.6, -hw) << t + QPointF(hl * 1.1, 0)
            << t + QPointF(hl * 0.6, hw) << t + QPointF(-hl, hw);
    else
        ptr << t + QPointF(-hw, -hl) << t + QPointF(hw, -hl) << t + QPointF(hw, hl * 0.6)
            << t + QPointF(0, hl * 1.1) << t + QPointF(-hw, hl * 0.6);
    p.setBrush(QColor(0, 0, 0, 100));
    p.drawPolygon(ptr.translated(1.5, 2));
    QLinearGradient body(ptr.boundingRect().topLeft(), vertical() ? ptr.boundingRect().bottomLeft()
                                                                  : ptr.boundingRect().topRight());
    body.setColorAt(0, thumb_.lighter(120));
    body.setColorAt(1, thumb_.darker(170));
    p.setPen(QPen(QColor(0, 0, 0), 0.8));
    p.setBrush(body);
    p.drawPolygon(ptr);
    p.setPen(QPen(bar_.lighter(130), std::max(1.0, across * 0.03)));
    if (vertical())
        p.drawLine(t + QPointF(-hl * 0.6, 0), t + QPointF(hl * 0.5, 0));
    else
        p.drawLine(t + QPointF(0, -hl * 0.6), t + QPointF(0, hl * 0.5));
    if (hasFocus()) {
        p.setPen(QPen(QColor(255, 255, 255, 60), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
}

// --- TVrProgressBar ---

LevelBarControl::LevelBarControl(QWidget* parent) : RangeControl(parent) {
    describeForScripts(Kind::Integer, "LevelBar: error reading postion.",
                       "LevelBar: error changing position.");
    resize(180, 22);
}

QString LevelBarControl::orientation() const {
    return vertical_ ? "voVertical" : "voHorizontal";
}
void LevelBarControl::setOrientation(const QString& v) {
    if (v == "voVertical" || v == "voHorizontal")
        if (paint::assign(vertical_, v == "voVertical")) update();
}
void LevelBarControl::setSegments(int v) {
    if (paint::assign(segments_, std::clamp(v, 0, 200))) update();
}
void LevelBarControl::setColorOn(const QColor& c) {
    if (paint::assign(on_, c)) update();
}
void LevelBarControl::setColorOff(const QColor& c) {
    if (paint::assign(off_, c)) update();
}

void LevelBarControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint::prepare(p);
    const QRectF all = QRectF(rect());
    paint::well(p, all, 2.5, QColor(8, 8, 9));
    const double pad = std::clamp(std::min(all.width(), all.height()) * 0.14, 2.0, 5.0);
    const QRectF area = all.adjusted(pad, pad, -pad, -pad);
    if (area.width() <= 0 || area.height() <= 0) return;
    const double length = vertical_ ? area.height() : area.width();
    // A span of the bar, from fraction f0 to f1 of its length, as a rectangle.
    auto span = [&](double f0, double f1) {
        return vertical_ ? QRectF(area.left(), area.bottom() - length * f1, area.width(),
                                  length * (f1 - f0))
                         : QRectF(area.left() + length * f0, area.top(), length * (f1 - f0),
                                  area.height());
    };
    p.setPen(Qt::NoPen);
    auto lit = [&](const QRectF& r) {
        QLinearGradient g = vertical_ ? QLinearGradient(r.topLeft(), r.topRight())
                                      : QLinearGradient(r.topLeft(), r.bottomLeft());
        g.setColorAt(0, on_.lighter(150));
        g.setColorAt(0.4, on_);
        g.setColorAt(1, on_.darker(130));
        p.setBrush(g);
        p.drawRect(r);
    };
    if (segments_ == 0) {
        p.setBrush(off_);
        p.drawRect(area);
        if (fraction() > 0) lit(span(0, fraction()));
        return;
    }
    const int n = segments_;
    const int on = int(std::lround(fraction() * n));
    const double each = 1.0 / n;
    const double gap = std::min(each * 0.25, 2.0 / length);
    for (int i = 0; i < n; ++i) {
        const QRectF seg = span(i * each + gap / 2, (i + 1) * each - gap / 2);
        if (i < on)
            lit(seg);
        else {
            p.setBrush(off_);
            p.drawRect(seg);
        }
    }
}

} // namespace nv::rack
