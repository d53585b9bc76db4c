// The needle and segment gauges: TVrMeter, TVrAngularMeter, TVrPowerMeter.
#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>

#include "instruments/meters.h"
#include "instruments/paint.h"

namespace nv::rack {

namespace {

constexpr double kPi = 3.14159265358979323846;

double rad(double deg) {
    return deg * kPi / 180.0;
}

// A tick label: whole numbers bare, others with as few decimals as tell them apart.
QString tickLabel(double v, double span) {
    if (std::abs(v - std::round(v)) < 1e-9 * std::max(1.0, std::abs(v)))
        return QString::number(qint64(std::llround(v)));
    const int decimals = span >= 10 ? 1 : span >= 1 ? 2 : 3;
    return QString::number(v, 'f', decimals);
}

QFont sizedFont(const QWidget* w, qreal pixels, bool bold = false) {
    QFont f = w->font();
    f.setPixelSize(std::max(6, int(std::lround(pixels))));
    if (bold) f.setBold(true);
    return f;
}

} // namespace

// --- TVrMeter ---

MeterControl::MeterControl(QWidget* parent) : RangeControl(parent) {
    describeForScripts(Kind::Integer, "AnalogMeter: error reading postion.",
                       "AnalogMeter: error changing position.");
    resize(160, 110);
}

void MeterControl::setTickCount(int v) {
    if (paint::assign(tickCount_, std::clamp(v, 2, 101))) update();
}
void MeterControl::setCaption(const QByteArray& v) {
    if (paint::assign(caption_, v)) update();
}
void MeterControl::setNeedleColor(const QColor& c) {
    if (paint::assign(needle_, c)) update();
}
void MeterControl::setScaleColor(const QColor& c) {
    if (paint::assign(scale_, c)) update();
}
void MeterControl::setFaceColor(const QColor& c) {
    if (paint::assign(face_, c)) update();
}

void MeterControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint::prepare(p);
    const QRectF all = QRectF(rect());
    paint::housing(p, all, 5);
    const qreal inset = std::clamp(std::min(all.width(), all.height()) * 0.07, 3.0, 10.0);
    const QRectF face = all.adjusted(inset, inset, -inset, -inset);
    if (face.width() < 8 || face.height() < 8) return;

    // The cream scale plate.
    QLinearGradient plate(face.topLeft(), face.bottomLeft());
    plate.setColorAt(0, face_.lighter(106));
    plate.setColorAt(1, face_.darker(112));
    p.setPen(QPen(QColor(0, 0, 0, 160), 1));
    p.setBrush(plate);
    p.drawRoundedRect(face, 2, 2);

    // The pivot sits low in the plate; the scale is a 100-degree arc about it.
    const double half = 50.0;
    const QPointF pivot(face.center().x(), face.bottom() - face.height() * 0.12);
    const double labelRoom = std::clamp(face.height() * 0.13, 7.0, 40.0);
    const double rByWidth = (face.width() / 2 - labelRoom * 1.3) / std::sin(rad(half));
    const double rByHeight = pivot.y() - face.top() - labelRoom * 1.7;
    const double r = std::max(4.0, std::min(rByWidth, rByHeight));
    const QFont labelFont = sizedFont(this, std::clamp(r * 0.12, 7.0, 40.0));
    auto at = [&](double f, double radius) {
        const double a = rad(-half + 2 * half * f);
        return pivot + QPointF(radius * std::sin(a), -radius * std::cos(a));
    };

    // The red zone over the last sixth, then the arc.
    QPainterPath zone;
    const QRectF outer(pivot.x() - r, pivot.y() - r, 2 * r, 2 * r);
    const double arcStart = 90 - (-half + 2 * half * (5.0 / 6.0)), arcEnd = 90 - half;
    const double zoneWidth = std::max(2.0, r * 0.05);
    p.setPen(QPen(QColor(200, 40, 30), zoneWidth, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    const QRectF zoneRect =
        outer.adjusted(zoneWidth / 2, zoneWidth / 2, -zoneWidth / 2, -zoneWidth / 2);
    p.drawArc(zoneRect, int(arcEnd * 16), int((arcStart - arcEnd) * 16));
    const qreal lineWidth = std::max(1.0, r * 0.012);
    p.setPen(QPen(scale_, lineWidth));
    p.drawArc(outer, int((90 - half) * 16), int(2 * half * 16));

    // Major ticks with their figures and four minor ticks between them.
    const int majors = tickCount_;
    const int minors = 5;
    const double span = double(max()) - double(min());
    p.setFont(labelFont);
    for (int i = 0; i <= (majors - 1) * minors; ++i) {
        const double f = double(i) / ((majors - 1) * minors);
        const bool major = i % minors == 0;
        const double len = major ? r * 0.12 : r * 0.06;
        p.setPen(QPen(scale_, major ? lineWidth * 1.6 : lineWidth, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(at(f, r), at(f, r - len));
        if (major) {
            const QString text = tickLabel(min() + span * f, span);
            const QPointF c = at(f, r + labelRoom * 0.75);
            QRectF box(0, 0, labelRoom * 5, labelRoom * 1.4);
            box.moveCenter(c);
            p.setPen(scale_);
            p.drawText(box, Qt::AlignCenter, text);
        }
    }

    // The unit caption in the middle of the plate.
    if (!caption_.isEmpty()) {
        p.setFont(sizedFont(this, std::clamp(r * 0.2, 8.0, 60.0), true));
        p.setPen(scale_);
        QRectF box(face.left(), pivot.y() - r * 0.55, face.width(), r * 0.3);
        p.drawText(box, Qt::AlignCenter, paint::shown(caption_));
    }

    // The needle with its shadow, then the pivot's cover.
    const QPointF tip = at(fraction(), r * 1.02);
    p.setPen(QPen(QColor(0, 0, 0, 35), std::max(1.2, r * 0.02), Qt::SolidLine, Qt::RoundCap));
    p.drawLine(pivot + QPointF(1, 1.5), tip + QPointF(1, 1.5));
    p.setPen(QPen(needle_, std::max(1.2, r * 0.018), Qt::SolidLine, Qt::RoundCap));
    p.drawLine(pivot, tip);
    const double cover = std::max(4.0, r * 0.16);
    QRadialGradient hub(pivot - QPointF(cover * 0.3, cover * 0.3), cover * 1.2);
    hub.setColorAt(0, QColor(90, 92, 100));
    hub.setColorAt(1, QColor(14, 14, 16));
    p.setPen(Qt::NoPen);
    p.setBrush(hub);
    p.save();
    p.setClipRect(face);
    p.drawEllipse(pivot, cover, cover);
    p.restore();

    // Glass: a soft reflection across the upper plate.
    QLinearGradient glass(face.topLeft(), QPointF(face.left(), face.top() + face.height() * 0.6));
    glass.setColorAt(0, QColor(255, 255, 255, 70));
    glass.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(glass);
    p.drawRoundedRect(face.adjusted(1, 1, -1, -face.height() * 0.4), 2, 2);
}

// --- TVrAngularMeter ---

AngularMeterControl::AngularMeterControl(QWidget* parent) : RealRangeControl(parent) {
    describeForScripts(Kind::Real, "AngularMeter: error reading postion.",
                       "AngularMeter: error changing position.");
    resize(140, 140);
}

void AngularMeterControl::setTickCount(int v) {
    if (paint::assign(tickCount_, std::clamp(v, 2, 101))) update();
}
void AngularMeterControl::setCaption(const QByteArray& v) {
    if (paint::assign(caption_, v)) update();
}
void AngularMeterControl::setNeedleColor(const QColor& c) {
    if (paint::assign(needle_, c)) update();
}
void AngularMeterControl::setScaleColor(const QColor& c) {
    if (paint::assign(scale_, c)) update();
}
void AngularMeterControl::setFaceColor(const QColor& c) {
    if (paint::assign(face_, c)) update();
}
void AngularMeterControl::setWarningColor(const QColor& c) {
    if (paint::assign(warning_, c)) update();
}

void AngularMeterControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint::prepare(p);
    const double side = std::min(width(), height());
    if (side < 10) return;
    const QPointF c = QRectF(rect()).center();
    const double outerR = side / 2 - 0.5;

    // Chrome bezel, then the dark dial.
    QLinearGradient bezel(c - QPointF(0, outerR), c + QPointF(0, outerR));
    bezel.setColorAt(0, QColor(170, 174, 182));
    bezel.setColorAt(0.5, QColor(60, 62, 68));
    bezel.setColorAt(1, QColor(130, 134, 142));
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.setBrush(bezel);
    p.drawEllipse(c, outerR, outerR);
    const double faceR = outerR * 0.9;
    QRadialGradient dial(c - QPointF(0, faceR * 0.3), faceR * 1.3);
    dial.setColorAt(0, face_.lighter(160));
    dial.setColorAt(1, face_);
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.setBrush(dial);
    p.drawEllipse(c, faceR, faceR);

    // 270 degrees, from lower left clockwise to lower right.
    const double start = 225, sweep = 270;
    auto at = [&](double f, double radius) {
        const double a = rad(start - sweep * f);
        return c + QPointF(radius * std::cos(a), -radius * std::sin(a));
    };
    const double r = faceR * 0.86;
    const double bandW = std::max(2.0, faceR * 0.06);
    const QRectF band(c.x() - r + bandW / 2, c.y() - r + bandW / 2, 2 * r - bandW, 2 * r - bandW);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(warning_, bandW, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(band, int((start - sweep) * 16), int(sweep * 0.2 * 16));

    const int majors = tickCount_, minors = 5;
    const double span = max() - min();
    const qreal lw = std::max(1.0, faceR * 0.014);
    p.setFont(sizedFont(this, std::clamp(faceR * 0.13, 7.0, 48.0)));
    for (int i = 0; i <= (majors - 1) * minors; ++i) {
        const double f = double(i) / ((majors - 1) * minors);
        const bool major = i % minors == 0;
        p.setPen(QPen(scale_, major ? lw * 2 : lw, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(at(f, r), at(f, r - (major ? faceR * 0.13 : faceR * 0.07)));
        if (major) {
            QRectF box(0, 0, faceR * 0.6, faceR * 0.2);
            box.moveCenter(at(f, r - faceR * 0.27));
            p.drawText(box, Qt::AlignCenter, tickLabel(min() + span * f, span));
        }
    }

    // Caption above the hub, the value in figures below it.
    p.setPen(scale_);
    if (!caption_.isEmpty()) {
        p.setFont(sizedFont(this, std::clamp(faceR * 0.14, 7.0, 48.0)));
        QRectF box(c.x() - faceR * 0.6, c.y() - faceR * 0.42, faceR * 1.2, faceR * 0.2);
        p.drawText(box, Qt::AlignCenter, paint::shown(caption_));
    }
    {
        p.setFont(sizedFont(this, std::clamp(faceR * 0.17, 7.0, 56.0), true));
        QRectF box(c.x() - faceR * 0.6, c.y() + faceR * 0.38, faceR * 1.2, faceR * 0.26);
        // Whole values bare; fractions with the decimals the range's size warrants.
        const bool whole = value() == std::round(value());
        const int decimals = whole ? 0 : span > 1000 ? 0 : span >= 10 ? 1 : 2;
        p.setPen(needle_);
        p.drawText(box, Qt::AlignCenter, QString::number(value(), 'f', decimals));
    }

    // The needle: a tapered blade with a short tail, and a domed hub.
    const double a = rad(start - sweep * fraction());
    const QPointF dir(std::cos(a), -std::sin(a));
    const QPointF normal(-dir.y(), dir.x());
    const double bladeW = std::max(1.5, faceR * 0.035);
    QPolygonF blade;
    blade << c + dir * (r * 0.98) << c + normal * bladeW - dir * (faceR * 0.15)
          << c - normal * bladeW - dir * (faceR * 0.15);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 90));
    p.drawPolygon(blade.translated(1.5, 2));
    p.setBrush(needle_);
    p.drawPolygon(blade);
    const double hubR = std::max(3.0, faceR * 0.09);
    QRadialGradient hub(c - QPointF(hubR * 0.3, hubR * 0.3), hubR * 1.3);
    hub.setColorAt(0, QColor(200, 204, 210));
    hub.setColorAt(1, QColor(40, 42, 46));
    p.setBrush(hub);
    p.drawEllipse(c, hubR, hubR);

    // Glass reflection over the top half.
    QLinearGradient glass(c - QPointF(0, faceR), c);
    glass.setColorAt(0, QColor(255, 255, 255, 40));
    glass.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(glass);
    p.drawEllipse(QPointF(c.x(), c.y() - faceR * 0.35), faceR * 0.8, faceR * 0.6);
}

// --- TVrPowerMeter ---

PowerMeterControl::PowerMeterControl(QWidget* parent) : RealRangeControl(parent) {
    describeForScripts(Kind::IntegerReal, "PowerMeter: error reading value.",
                       "PowerMeter: error changing position.");
    resize(160, 100);
}

void PowerMeterControl::setSegments(int v) {
    if (paint::assign(segments_, std::clamp(v, 2, 100))) update();
}
void PowerMeterControl::setColorLow(const QColor& c) {
    if (paint::assign(low_, c)) update();
}
void PowerMeterControl::setColorMid(const QColor& c) {
    if (paint::assign(mid_, c)) update();
}
void PowerMeterControl::setColorHigh(const QColor& c) {
    if (paint::assign(high_, c)) update();
}

void PowerMeterControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint::prepare(p);
    const QRectF all = QRectF(rect());
    paint::housing(p, all, 6);
    const double pad = std::clamp(std::min(all.width(), all.height()) * 0.08, 3.0, 14.0);
    const QRectF face = all.adjusted(pad, pad, -pad, -pad);
    if (face.width() < 10 || face.height() < 10) return;

    // A half ring of segments over the figures.
    const double labelH = std::clamp(face.height() * 0.14, 7.0, 40.0);
    const QPointF c(face.center().x(), face.bottom() - labelH * 0.6);
    const double r = std::max(4.0, std::min(face.width() / 2, c.y() - face.top()));
    const double ring = r * 0.3;
    const double gap = 1.6; // degrees between segments
    const int n = segments_;
    const int lit = int(std::lround(fraction() * n));
    const double each = 180.0 / n;
    for (int i = 0; i < n; ++i) {
        const double pos = (i + 0.5) / n;
        const QColor base = pos < 0.6 ? low_ : pos < 0.85 ? mid_ : high_;
        const bool on = i < lit;
        const double a0 = 180 - i * each - gap / 2, a1 = 180 - (i + 1) * each + gap / 2;
        QPainterPath seg;
        const QRectF outer(c.x() - r, c.y() - r, 2 * r, 2 * r);
        const QRectF inner = outer.adjusted(ring, ring, -ring, -ring);
        seg.arcMoveTo(outer, a0);
        seg.arcTo(outer, a0, a1 - a0);
        seg.arcTo(inner, a1, a0 - a1);
        seg.closeSubpath();
        if (on) {
            QRadialGradient g(c, r);
            g.setColorAt(1 - 0.3, base.lighter(140));
            g.setColorAt(1, base);
            p.setPen(Qt::NoPen);
            p.setBrush(g);
        } else {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(base.red() / 6, base.green() / 6, base.blue() / 6));
        }
        p.drawPath(seg);
    }
    if (lit > 0) {
        // The lit arc lights the panel a little.
        const double pos = double(lit) / n;
        paint::glow(p, c, r * 1.1, pos < 0.6 ? low_ : pos < 0.85 ? mid_ : high_, 40);
    }

    // The value in figures under the ring's middle, the range at its ends.
    const double span = max() - min();
    const int decimals = span >= 100 ? 0 : span >= 10 ? 1 : 2;
    p.setPen(paint::textColour(this));
    p.setFont(sizedFont(this, std::clamp(r * 0.34, 8.0, 72.0), true));
    QRectF big(c.x() - r, c.y() - r * 0.55, 2 * r, r * 0.55);
    p.drawText(big, Qt::AlignHCenter | Qt::AlignBottom, QString::number(value(), 'f', decimals));
    p.setFont(sizedFont(this, labelH * 0.8));
    p.setPen(QColor(150, 154, 162));
    QRectF left(c.x() - r, c.y(), ring, labelH);
    QRectF right(c.x() + r - ring, c.y(), ring, labelH);
    p.drawText(left.adjusted(-labelH, 0, labelH, 0), Qt::AlignCenter, tickLabel(min(), span));
    p.drawText(right.adjusted(-labelH, 0, labelH, 0), Qt::AlignCenter, tickLabel(max(), span));
}

} // namespace nv::rack
