// The decorations: TVrBorder and TVrGradient.
#include <QLinearGradient>
#include <algorithm>

#include "instruments/controls.h"
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
        if (paint::assign(m_raised, v == "bvRaised")) update();
}
void BorderControl::setBevelWidth(int v) {
    if (paint::assign(m_width, std::clamp(v, 1, 40))) update();
}
void BorderControl::setHighlightColor(const QColor& c) {
    if (paint::assign(m_light, c)) update();
}
void BorderControl::setShadowColor(const QColor& c) {
    if (paint::assign(m_shadow, c)) update();
}

void BorderControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // Two bevels, the outer one in the frame's style and the inner one the other way round:
    // an etched groove (lowered) or a raised ridge that reads on a black panel too.
    const double w = std::min<double>(m_width, std::min(width(), height()) / 4.0);
    auto bevel = [&](const QRectF& o, bool raised) {
        const QRectF i = o.adjusted(w, w, -w, -w);
        QPolygonF tl, br;
        tl << o.topLeft() << o.topRight() << i.topRight() << i.topLeft() << i.bottomLeft()
           << o.bottomLeft();
        br << o.bottomRight() << o.bottomLeft() << i.bottomLeft() << i.bottomRight() << i.topRight()
           << o.topRight();
        p.setBrush(raised ? m_light : m_shadow);
        p.drawPolygon(tl);
        p.setBrush(raised ? m_shadow : m_light);
        p.drawPolygon(br);
    };
    p.setPen(Qt::NoPen);
    const QRectF outer = QRectF(rect());
    bevel(outer, m_raised);
    bevel(outer.adjusted(w, w, -w, -w), !m_raised);
}

// --- TVrGradient ---

GradientControl::GradientControl(QWidget* parent) : InstrumentControl(parent) {
    resize(160, 100);
}

void GradientControl::setStartColor(const QColor& c) {
    if (paint::assign(m_start, c)) update();
}
void GradientControl::setEndColor(const QColor& c) {
    if (paint::assign(m_end, c)) update();
}
void GradientControl::setDirection(const QString& v) {
    if (v == "gdVertical" || v == "gdHorizontal")
        if (paint::assign(m_vertical, v == "gdVertical")) update();
}

void GradientControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRectF r = QRectF(rect());
    QLinearGradient g(r.topLeft(), m_vertical ? r.bottomLeft() : r.topRight());
    g.setColorAt(0, m_start);
    g.setColorAt(1, m_end);
    p.fillRect(r, g);
}

} // namespace nv::rack
