// The lamps and displays: TVrLed, TVrCheckLed, TVrMatrix, TVrNum, TLcd.
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "instruments/lights.h"
#include "instruments/paint.h"

namespace nv::rack {

// --- TVrLed ---

LedControl::LedControl(QWidget* parent) : InstrumentControl(parent) {
    describeForScripts(Kind::Flag, "Led: error reading state.", "Led: error changing state.");
    resize(24, 24);
}

void LedControl::setActive(bool v) {
    if (paint::assign(active_, v)) update();
}
void LedControl::setColorOn(const QColor& c) {
    if (paint::assign(on_, c) && active_) update();
}
void LedControl::setColorOff(const QColor& c) {
    if (paint::assign(off_, c) && !active_) update();
}

void LedControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint::prepare(p);
    const double side = std::min(width(), height());
    paint::lamp(p, QRectF(rect()).center(), side / 2 * 0.62, active_ ? on_ : off_, active_);
}

// --- TVrCheckLed ---

CheckLedControl::CheckLedControl(QWidget* parent) : InstrumentControl(parent) {
    describeForScripts(Kind::Flag, "CheckLed: error reading state.",
                       "CheckLed: error changing state.");
    setFocusPolicy(Qt::StrongFocus);
    resize(110, 22);
}

void CheckLedControl::setChecked(bool v) {
    if (paint::assign(checked_, v)) update();
}
void CheckLedControl::setCaption(const QByteArray& v) {
    if (paint::assign(caption_, v)) update();
}
void CheckLedControl::setColorOn(const QColor& c) {
    if (paint::assign(on_, c) && checked_) update();
}
void CheckLedControl::setColorOff(const QColor& c) {
    if (paint::assign(off_, c) && !checked_) update();
}

void CheckLedControl::toggleByUser() {
    setChecked(!checked_);
}

void CheckLedControl::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) toggleByUser();
}

void CheckLedControl::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Space)
        toggleByUser();
    else
        QWidget::keyPressEvent(e);
}

void CheckLedControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint::prepare(p);
    const double box = std::min<double>(height(), 40) * 0.8;
    const QRectF well(2, (height() - box) / 2, box, box);
    paint::well(p, well, box * 0.18, QColor(14, 14, 16));
    const QRectF lens = well.adjusted(box * 0.2, box * 0.2, -box * 0.2, -box * 0.2);
    const QColor colour = checked_ ? on_ : off_;
    if (checked_) paint::glow(p, lens.center(), box * 0.75, colour, 110);
    QLinearGradient g(lens.topLeft(), lens.bottomLeft());
    g.setColorAt(0, checked_ ? colour.lighter(160) : colour.lighter(120));
    g.setColorAt(1, checked_ ? colour : colour.darker(160));
    p.setPen(QPen(QColor(0, 0, 0, 160), 0.8));
    p.setBrush(g);
    p.drawRoundedRect(lens, box * 0.08, box * 0.08);
    if (!caption_.isEmpty()) {
        p.setPen(paint::textColour(this));
        p.setFont(font());
        const QRectF text(well.right() + box * 0.4, 0, width() - well.right() - box * 0.4,
                          height());
        p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, paint::shown(caption_));
    }
    if (hasFocus()) {
        p.setPen(QPen(QColor(255, 255, 255, 70), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
}

// --- TVrMatrix ---

MatrixControl::MatrixControl(QWidget* parent) : InstrumentControl(parent) {
    describeForScripts(Kind::Text, "MatrixLed: error reading text.",
                       "MatrixLed: error changing text.");
    resize(200, 40);
}

void MatrixControl::setText(const QByteArray& v) {
    if (paint::assign(text_, v)) update();
}
void MatrixControl::setCells(int v) {
    if (paint::assign(cells_, std::clamp(v, 1, 256))) update();
}
void MatrixControl::setColorOn(const QColor& c) {
    if (paint::assign(on_, c)) update();
}
void MatrixControl::setColorOff(const QColor& c) {
    if (paint::assign(off_, c)) update();
}

void MatrixControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint::prepare(p);
    const QRectF all = QRectF(rect());
    paint::well(p, all, 3, QColor(6, 6, 7));
    // Each cell is five dot columns and a gap column; the display keeps a dot's margin.
    const double cols = cells_ * 6 + 1, rows = 9;
    const double pitch = std::min(all.width() / cols, all.height() / rows);
    if (pitch <= 0.5) return;
    const double dot = pitch * 0.4;
    const QPointF origin(all.center().x() - (cols - 2) * pitch / 2,
                         all.center().y() - 6 * pitch / 2);
    const std::u32string text = paint::shown(text_).toStdU32String();
    p.setPen(Qt::NoPen);
    for (int i = 0; i < cells_; ++i) {
        const char32_t c = size_t(i) < text.size() ? text[size_t(i)] : U' ';
        paint::dotGlyph(p, origin + QPointF(i * 6 * pitch, 0), pitch, dot, c, on_, off_, true);
    }
    // A faint halo over the lit dots makes them read as light rather than paint.
    QColor halo = on_;
    halo.setAlpha(50);
    for (int i = 0; i < cells_; ++i) {
        const char32_t c = size_t(i) < text.size() ? text[size_t(i)] : U' ';
        paint::dotGlyph(p, origin + QPointF(i * 6 * pitch, 0), pitch, dot * 1.45, c, halo, QColor(),
                        true);
    }
}

// --- TVrNum ---

namespace {

// Segments a (top), b, c (right, top to bottom), d (bottom), e, f (left, bottom to top), g.
constexpr uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
constexpr uint8_t kMinus = 0x40;

QPolygonF segmentShape(QPointF a, QPointF b, double t) {
    // A hexagon from a to b, t thick, pointed at both ends.
    const QPointF d = b - a;
    const double len = std::hypot(d.x(), d.y());
    const QPointF u = d / len, n(-u.y(), u.x());
    const double h = t / 2;
    QPolygonF poly;
    poly << a << a + u * h + n * h << b - u * h + n * h << b << b - u * h - n * h
         << a + u * h - n * h;
    return poly;
}

void drawDigit(QPainter& p, const QRectF& box, uint8_t bits, const QColor& on, const QColor& off) {
    const double t = box.width() * 0.2;
    const double g = t * 0.18; // the gap between two segments
    const double l = box.left() + t / 2, r = box.right() - t / 2;
    const double top = box.top() + t / 2, bottom = box.bottom() - t / 2;
    const double mid = (top + bottom) / 2;
    const QPolygonF seg[7] = {
        segmentShape({l + g, top}, {r - g, top}, t),
        segmentShape({r, top + g}, {r, mid - g}, t),
        segmentShape({r, mid + g}, {r, bottom - g}, t),
        segmentShape({l + g, bottom}, {r - g, bottom}, t),
        segmentShape({l, mid + g}, {l, bottom - g}, t),
        segmentShape({l, top + g}, {l, mid - g}, t),
        segmentShape({l + g, mid}, {r - g, mid}, t),
    };
    for (int i = 0; i < 7; ++i) {
        const bool lit = (bits >> i) & 1;
        p.setBrush(lit ? on : off);
        p.drawPolygon(seg[i]);
    }
}

} // namespace

NumberControl::NumberControl(QWidget* parent) : InstrumentControl(parent) {
    describeForScripts(Kind::Integer, "NumericLed: error reading value.",
                       "NumericLed: error changing value.");
    resize(120, 48);
}

void NumberControl::setMax(int v) {
    const int min = std::min(min_, v), value = std::clamp(value_, min, v);
    if (v == max_ && min == min_ && value == value_) return;
    max_ = v;
    min_ = min;
    value_ = value;
    update();
}
void NumberControl::setMin(int v) {
    const int max = std::max(max_, v), value = std::clamp(value_, v, max);
    if (v == min_ && max == max_ && value == value_) return;
    min_ = v;
    max_ = max;
    value_ = value;
    update();
}
void NumberControl::setValue(int v) {
    if (paint::assign(value_, std::clamp(v, min_, max_))) update();
}
void NumberControl::setDigits(int v) {
    if (paint::assign(digits_, std::clamp(v, 1, 12))) update();
}
void NumberControl::setLeadingZero(bool v) {
    if (paint::assign(leadingZero_, v)) update();
}
void NumberControl::setColorOn(const QColor& c) {
    if (paint::assign(on_, c)) update();
}
void NumberControl::setColorOff(const QColor& c) {
    if (paint::assign(off_, c)) update();
}

void NumberControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint::prepare(p);
    const QRectF all = QRectF(rect());
    paint::well(p, all, 3, QColor(8, 6, 6));

    // The places: the figures right-aligned, a minus sign before them.
    const qint64 v = value_;
    const QString figures = QString::number(v < 0 ? -v : v);
    const int needed = int(figures.size()) + (v < 0 ? 1 : 0);
    const int places = std::max(digits_, needed);
    std::vector<uint8_t> shown(size_t(places), 0);
    for (int i = 0; i < int(figures.size()); ++i)
        shown[size_t(places - figures.size() + i)] = kSegments[figures[i].digitValue()];
    int first = places - int(figures.size());
    if (leadingZero_)
        for (int i = (v < 0 ? 1 : 0); i < first; ++i)
            shown[size_t(i)] = kSegments[0];
    if (v < 0) shown[size_t(leadingZero_ ? 0 : first - 1)] = kMinus;

    const double pad = std::clamp(all.height() * 0.14, 2.0, 12.0);
    const QRectF area = all.adjusted(pad, pad, -pad, -pad);
    // A digit is about half as wide as tall, with a fifth of its width between places.
    const double h = std::min(area.height(), area.width() / (places * 0.72));
    if (h < 4) return; // too small for a segment to show
    const double w = h * 0.55, step = h * 0.72;
    const double x0 = area.right() - places * step + (step - w);
    const double y0 = area.center().y() - h / 2;
    p.setPen(Qt::NoPen);
    // The classic forward lean of LED digits.
    p.save();
    p.translate(0, area.center().y());
    p.shear(-0.08, 0);
    p.translate(0, -area.center().y());
    for (int i = 0; i < places; ++i)
        drawDigit(p, QRectF(x0 + i * step, y0, w, h), shown[size_t(i)], on_, off_);
    p.restore();
}

// --- TLcd ---

LcdControl::LcdControl(QWidget* parent) : InstrumentControl(parent) {
    resize(200, 56);
}

void LcdControl::setText(const QByteArray& v) {
    if (paint::assign(text_, v)) update();
}
void LcdControl::setColumns(int v) {
    if (paint::assign(columns_, std::clamp(v, 1, 80))) update();
}
void LcdControl::setRows(int v) {
    if (paint::assign(rows_, std::clamp(v, 1, 8))) update();
}
void LcdControl::setBackColor(const QColor& c) {
    if (paint::assign(back_, c)) update();
}
void LcdControl::setColorOn(const QColor& c) {
    if (paint::assign(on_, c)) update();
}

void LcdControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint::prepare(p);
    const QRectF all = QRectF(rect());
    // The module's black frame around the lit glass.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(16, 16, 18));
    p.drawRoundedRect(all, 4, 4);
    const double frame = std::clamp(std::min(all.width(), all.height()) * 0.08, 2.0, 10.0);
    const QRectF glass = all.adjusted(frame, frame, -frame, -frame);
    QLinearGradient back(glass.topLeft(), glass.bottomLeft());
    back.setColorAt(0, back_.lighter(112));
    back.setColorAt(1, back_.darker(108));
    p.setBrush(back);
    p.drawRect(glass);

    // Characters are 5 dots plus a gap wide, 8 rows plus a gap tall.
    const double cols = columns_ * 6 + 1, rows = rows_ * 9 + 1;
    const double pitch = std::min(glass.width() / cols, glass.height() / rows);
    if (pitch > 0.5) {
        const QPointF origin(glass.center().x() - (cols - 2) * pitch / 2 + 0,
                             glass.center().y() - (rows - 2) * pitch / 2 + pitch * 0.5);
        const double dot = pitch * 0.44;
        QColor off = back_.darker(107);
        // Lines end with a line feed, or with a carriage return and a line feed.
        const QStringList lines = paint::shown(text_).remove('\r').split('\n');
        for (int row = 0; row < rows_; ++row) {
            const std::u32string line =
                row < lines.size() ? lines[row].toStdU32String() : std::u32string();
            for (int col = 0; col < columns_; ++col) {
                const char32_t c = size_t(col) < line.size() ? line[size_t(col)] : U' ';
                paint::dotGlyph(p, origin + QPointF(col * 6 * pitch, row * 9 * pitch), pitch, dot,
                                c, on_, off, false);
            }
        }
    }
    // The glass's sheen.
    QLinearGradient sheen(glass.topLeft(), glass.bottomLeft());
    sheen.setColorAt(0, QColor(255, 255, 255, 45));
    sheen.setColorAt(0.5, QColor(255, 255, 255, 0));
    p.setBrush(sheen);
    p.drawRect(glass);
}

} // namespace nv::rack
