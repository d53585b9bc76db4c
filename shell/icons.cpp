#include "shell/icons.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>

namespace nv {

namespace {

QPixmap drawn(int size, void (*paint)(QPainter&)) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    paint(p);
    return pm;
}

void paintProgram(QPainter& p) {
    QLinearGradient face(0, 4, 0, 60);
    face.setColorAt(0, QColor(0x2e, 0xa0, 0x43));
    face.setColorAt(1, QColor(0x10, 0x5c, 0x26));
    p.setPen(QPen(QColor(0x0a, 0x3c, 0x18), 2));
    p.setBrush(face);
    p.drawRoundedRect(QRectF(4, 4, 56, 56), 10, 10);
    p.setPen(QPen(QColor(0x9b, 0xe6, 0xa8), 1.5));
    p.setBrush(QColor(0x0b, 0x1f, 0x10));
    p.drawRoundedRect(QRectF(11, 12, 42, 26), 3, 3);
    const QPointF trace[] = {{14, 30}, {20, 30}, {23, 18}, {28, 34}, {32, 22},
                             {36, 30}, {41, 16}, {44, 30}, {50, 30}};
    p.setPen(QPen(QColor(0x7d, 0xff, 0x95), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(trace, 9);
    p.setPen(QPen(QColor(0x0a, 0x3c, 0x18), 1.5));
    p.setBrush(QColor(0xea, 0xff, 0xea));
    p.drawEllipse(QPointF(19, 48), 5, 5);
    p.setBrush(QColor(0xff, 0xd8, 0x4a));
    p.drawRoundedRect(QRectF(30, 44, 8, 8), 1.5, 1.5);
    p.setBrush(QColor(0xff, 0x6b, 0x57));
    p.drawRoundedRect(QRectF(42, 44, 8, 8), 1.5, 1.5);
}

void paintNewScript(QPainter& p) {
    // The page, its corner folded.
    QPainterPath page;
    page.moveTo(12, 4);
    page.lineTo(40, 4);
    page.lineTo(54, 18);
    page.lineTo(54, 60);
    page.lineTo(12, 60);
    page.closeSubpath();
    p.setPen(QPen(QColor(0x3c, 0x4a, 0x5a), 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::white);
    p.drawPath(page);
    QPainterPath fold;
    fold.moveTo(40, 4);
    fold.lineTo(40, 18);
    fold.lineTo(54, 18);
    p.setBrush(QColor(0xdd, 0xe6, 0xf0));
    p.drawPath(fold);
    // Lines of text.
    p.setPen(QPen(QColor(0x7a, 0x9c, 0xc6), 3));
    for (int y : {30, 38, 46})
        p.drawLine(20, y, 46, y);
    // The star that says "new".
    QPainterPath star;
    for (int i = 0; i < 10; ++i) {
        const double r = i % 2 ? 7.0 : 16.0;
        const double a = -M_PI / 2 + i * M_PI / 5;
        const QPointF pt(18 + r * std::cos(a), 18 + r * std::sin(a));
        i ? star.lineTo(pt) : star.moveTo(pt);
    }
    star.closeSubpath();
    p.setPen(QPen(QColor(0xb0, 0x7a, 0x00), 2));
    p.setBrush(QColor(0xff, 0xc8, 0x1e));
    p.drawPath(star);
}

} // namespace

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(drawn(size, paintProgram));
    return icon;
}

QIcon newScriptIcon() {
    QIcon icon;
    for (int size : {16, 18, 24, 32, 48})
        icon.addPixmap(drawn(size, paintNewScript));
    return icon;
}

} // namespace nv
