// The decorations: TVrBorder and TVrGradient.
#include <QLinearGradient>
#include <algorithm>

#include "instruments/decor.h"
#include "instruments/paint.h"

namespace nv::rack {

// --- TVrBorder ---

BorderControl::BorderControl(QWidget* parent) : InstrumentControl(parent) {
    // Only the frame is drawn; what lies behind shows through the middle.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    resize(160, 100);
}

void BorderControl::setBevelStyle(const QString& v) {
    if (v == "bvRaised" || v == "bvLowered")
        if (paint::assign(raised_, v == "bvRaised")) update();
}
void BorderControl::setBevelWidth(int v) {
    if (paint::assign(width_, std::clamp(v, 1, 40))) update();
}
void BorderControl::setHighlightColor(const QColor& c) {
    if (paint::assign(light_, c)) update();
}
void BorderControl::setShadowColor(const QColor& c) {
    if (paint::assign(shadow_, c)) update();
}

void BorderControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // Two bevels, the outer one in the frame's style and the inner one the other way round:
    // an etched groove (lowered) or a raised ridge that reads on a black panel too.
    const double w = std::min<double>(width_, std::min(width(), height()) / 4.0);
    auto bevel = [&](const QRectF& o, bool raised) {
        const QRectF i = o.adjusted(w, w, -w, -w);
        QPolygonF tl, br;
        tl << o.topLeft() << o.topRight() << i.topRight() << i.topLeft() << i.bottomLeft()
           << o.bottomLeft();
        br << o.bottomRight() << o.bottomLeft() << i.bottomLeft() << i.bottomRight() << i.topRight()
           << o.topRight();
        p.setBrush(raised ? light_ : shadow_);
        p.drawPolygon(tl);
        p.setBrush(raised ? shadow_ : light_);
        p.drawPolygon(br);
    };
    p.setPen(Qt::NoPen);
    const QRectF outer = QRectF(rect());
    bevel(outer, raised_);
    bevel(outer.adjusted(w, w, -w, -w), !raised_);
}

// --- TVrGradient ---

GradientControl::GradientControl(QWidget* parent) : InstrumentControl(parent) {
    resize(160, 100);
}

void GradientControl::setStartColor(const QColor& c) {
    if (paint::assign(start_, c)) update();
}
void GradientControl::setEndColor(const QColor& c) {
    if (paint::assign(end_, c)) update();
}
void GradientControl::setDirection(const QString& v) {
    if (v == "gdVertical" || v == "gdHorizontal")
        if (paint::assign(vertical_, v == "gdVertical")) update();
}

void GradientControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRectF r = QRectF(rect());
    QLinearGradient g(r.topLeft(), vertical_ ? r.bottomLeft() : r.topRight());
    g.setColorAt(0, start_);
    g.setColorAt(1, end_);
    p.fillRect(r, g);
}

} // namespace nv::rack
