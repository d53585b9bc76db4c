// The decorations: TVrBorder and TVrGradient.
#include <QLinearGradient>
#include <algorithm>

#include "rack/instruments/controls.h"
#include "rack/instruments/paint.h"

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
    // Square-edged bevels read crisper without antialiasing at 1:1; the polygons stay exact
    // at any scale.
    const double w = std::min<double>(m_width, std::min(width(), height()) / 2.0);
    const QRectF o = QRectF(rect());
    const QRectF i = o.adjusted(w, w, -w, -w);
    const QColor topLeft = m_raised ? m_light : m_shadow;
    const QColor bottomRight = m_raised ? m_shadow : m_light;
    p.setPen(Qt::NoPen);
    QPolygonF tl, br;
    tl << o.topLeft() << o.topRight() << i.topRight() << i.topLeft() << i.bottomLeft()
       << o.bottomLeft();
    br << o.bottomRight() << o.bottomLeft() << i.bottomLeft() << i.bottomRight() << i.topRight()
       << o.topRight();
    p.setBrush(topLeft);
    p.drawPolygon(tl);
    p.setBrush(bottomRight);
    p.drawPolygon(br);
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
