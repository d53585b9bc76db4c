// The shared drawing style, the base classes and the factory of the instrument classes.
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainterPath>
#include <QRadialGradient>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "baseqt/displaytext.h"
#include "instruments/controls.h"
#include "instruments/instruments.h"
#include "instruments/paint.h"

namespace nv::rack {

namespace paint {

QString shown(const QByteArray& bytes) {
    return nv::displayText(std::string_view(bytes.constData(), size_t(bytes.size())));
}

void prepare(QPainter& p) {
    p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                     QPainter::SmoothPixmapTransform);
}

void housing(QPainter& p, const QRectF& r, qreal radius) {
    p.save();
    QLinearGradient rim(r.topLeft(), r.bottomLeft());
    rim.setColorAt(0, QColor(96, 100, 108));
    rim.setColorAt(0.5, QColor(44, 46, 52));
    rim.setColorAt(1, QColor(20, 20, 24));
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.setBrush(rim);
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    const qreal inset = std::clamp(std::min(r.width(), r.height()) * 0.04, 1.5, 4.0);
    QRectF inner = r.adjusted(inset, inset, -inset, -inset);
    QLinearGradient face(inner.topLeft(), inner.bottomLeft());
    face.setColorAt(0, QColor(40, 42, 48));
    face.setColorAt(1, QColor(26, 27, 31));
    p.setPen(Qt::NoPen);
    p.setBrush(face);
    p.drawRoundedRect(inner, std::max(0.0, radius - inset), std::max(0.0, radius - inset));
    p.restore();
}

void well(QPainter& p, const QRectF& r, qreal radius, const QColor& fill) {
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(120, 124, 132, 110)); // the lit lower lip
    p.drawRoundedRect(r.translated(0, 1), radius, radius);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, fill.darker(170));
    g.setColorAt(0.25, fill);
    g.setColorAt(1, fill);
    p.setBrush(g);
    p.setPen(QPen(QColor(0, 0, 0, 200), 1));
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    p.restore();
}

void glow(QPainter& p, QPointF centre, qreal radius, const QColor& colour, int alpha) {
    if (radius <= 0) return;
    p.save();
    QRadialGradient g(centre, radius);
    QColor c = colour;
    c.setAlpha(alpha);
    g.setColorAt(0, c);
    c.setAlpha(alpha / 3);
    g.setColorAt(0.55, c);
    c.setAlpha(0);
    g.setColorAt(1, c);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(centre, radius, radius);
    p.restore();
}

void lamp(QPainter& p, QPointF centre, qreal radius, const QColor& colour, bool lit) {
    if (radius <= 0) return;
    p.save();
    if (lit) glow(p, centre, radius * 1.9, colour, 120);
    // The bezel ring.
    QLinearGradient ring(centre - QPointF(0, radius * 1.15), centre + QPointF(0, radius * 1.15));
    ring.setColorAt(0, QColor(20, 20, 22));
    ring.setColorAt(1, QColor(110, 114, 122));
    p.setPen(Qt::NoPen);
    p.setBrush(ring);
    p.drawEllipse(centre, radius * 1.15, radius * 1.15);
    // The dome.
    QRadialGradient dome(centre + QPointF(-radius * 0.25, -radius * 0.3), radius * 1.3);
    if (lit) {
        dome.setColorAt(0, colour.lighter(170));
        dome.setColorAt(0.45, colour);
        dome.setColorAt(1, colour.darker(180));
    } else {
        dome.setColorAt(0, colour.lighter(130));
        dome.setColorAt(0.6, colour);
        dome.setColorAt(1, colour.darker(220));
    }
    p.setBrush(dome);
    p.drawEllipse(centre, radius, radius);
    // The reflection.
    QRadialGradient hi(centre + QPointF(-radius * 0.3, -radius * 0.42), radius * 0.55);
    hi.setColorAt(0, QColor(255, 255, 255, lit ? 200 : 90));
    hi.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(hi);
    p.drawEllipse(centre + QPointF(-radius * 0.3, -radius * 0.42), radius * 0.55, radius * 0.4);
    p.restore();
}

namespace {

// Printable ASCII 32..126, five columns each, bit 0 the top row.
constexpr uint8_t kFont[95][5] = {
    {0x00, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x5F, 0x00, 0x00}, {0x00, 0x07, 0x00, 0x07, 0x00},
    {0x14, 0x7F, 0x14, 0x7F, 0x14}, {0x24, 0x2A, 0x7F, 0x2A, 0x12}, {0x23, 0x13, 0x08, 0x64, 0x62},
    {0x36, 0x49, 0x55, 0x22, 0x50}, {0x00, 0x05, 0x03, 0x00, 0x00}, {0x00, 0x1C, 0x22, 0x41, 0x00},
    {0x00, 0x41, 0x22, 0x1C, 0x00}, {0x14, 0x08, 0x3E, 0x08, 0x14}, {0x08, 0x08, 0x3E, 0x08, 0x08},
    {0x00, 0x50, 0x30, 0x00, 0x00}, {0x08, 0x08, 0x08, 0x08, 0x08}, {0x00, 0x60, 0x60, 0x00, 0x00},
    {0x20, 0x10, 0x08, 0x04, 0x02}, {0x3E, 0x51, 0x49, 0x45, 0x3E}, {0x00, 0x42, 0x7F, 0x40, 0x00},
    {0x42, 0x61, 0x51, 0x49, 0x46}, {0x21, 0x41, 0x45, 0x4B, 0x31}, {0x18, 0x14, 0x12, 0x7F, 0x10},
    {0x27, 0x45, 0x45, 0x45, 0x39}, {0x3C, 0x4A, 0x49, 0x49, 0x30}, {0x01, 0x71, 0x09, 0x05, 0x03},
    {0x36, 0x49, 0x49, 0x49, 0x36}, {0x06, 0x49, 0x49, 0x29, 0x1E}, {0x00, 0x36, 0x36, 0x00, 0x00},
    {0x00, 0x56, 0x36, 0x00, 0x00}, {0x08, 0x14, 0x22, 0x41, 0x00}, {0x14, 0x14, 0x14, 0x14, 0x14},
    {0x00, 0x41, 0x22, 0x14, 0x08}, {0x02, 0x01, 0x51, 0x09, 0x06}, {0x32, 0x49, 0x79, 0x41, 0x3E},
    {0x7E, 0x11, 0x11, 0x11, 0x7E}, {0x7F, 0x49, 0x49, 0x49, 0x36}, {0x3E, 0x41, 0x41, 0x41, 0x22},
    {0x7F, 0x41, 0x41, 0x22, 0x1C}, {0x7F, 0x49, 0x49, 0x49, 0x41}, {0x7F, 0x09, 0x09, 0x09, 0x01},
    {0x3E, 0x41, 0x49, 0x49, 0x7A}, {0x7F, 0x08, 0x08, 0x08, 0x7F}, {0x00, 0x41, 0x7F, 0x41, 0x00},
    {0x20, 0x40, 0x41, 0x3F, 0x01}, {0x7F, 0x08, 0x14, 0x22, 0x41}, {0x7F, 0x40, 0x40, 0x40, 0x40},
    {0x7F, 0x02, 0x0C, 0x02, 0x7F}, {0x7F, 0x04, 0x08, 0x10, 0x7F}, {0x3E, 0x41, 0x41, 0x41, 0x3E},
    {0x7F, 0x09, 0x09, 0x09, 0x06}, {0x3E, 0x41, 0x51, 0x21, 0x5E}, {0x7F, 0x09, 0x19, 0x29, 0x46},
    {0x46, 0x49, 0x49, 0x49, 0x31}, {0x01, 0x01, 0x7F, 0x01, 0x01}, {0x3F, 0x40, 0x40, 0x40, 0x3F},
    {0x1F, 0x20, 0x40, 0x20, 0x1F}, {0x3F, 0x40, 0x38, 0x40, 0x3F}, {0x63, 0x14, 0x08, 0x14, 0x63},
    {0x07, 0x08, 0x70, 0x08, 0x07}, {0x61, 0x51, 0x49, 0x45, 0x43}, {0x00, 0x7F, 0x41, 0x41, 0x00},
    {0x02, 0x04, 0x08, 0x10, 0x20}, {0x00, 0x41, 0x41, 0x7F, 0x00}, {0x04, 0x02, 0x01, 0x02, 0x04},
    {0x40, 0x40, 0x40, 0x40, 0x40}, {0x00, 0x01, 0x02, 0x04, 0x00}, {0x20, 0x54, 0x54, 0x54, 0x78},
    {0x7F, 0x48, 0x44, 0x44, 0x38}, {0x38, 0x44, 0x44, 0x44, 0x20}, {0x38, 0x44, 0x44, 0x48, 0x7F},
    {0x38, 0x54, 0x54, 0x54, 0x18}, {0x08, 0x7E, 0x09, 0x01, 0x02}, {0x0C, 0x52, 0x52, 0x52, 0x3E},
    {0x7F, 0x08, 0x04, 0x04, 0x78}, {0x00, 0x44, 0x7D, 0x40, 0x00}, {0x20, 0x40, 0x44, 0x3D, 0x00},
    {0x7F, 0x10, 0x28, 0x44, 0x00}, {0x00, 0x41, 0x7F, 0x40, 0x00}, {0x7C, 0x04, 0x18, 0x04, 0x78},
    {0x7C, 0x08, 0x04, 0x04, 0x78}, {0x38, 0x44, 0x44, 0x44, 0x38}, {0x7C, 0x14, 0x14, 0x14, 0x08},
    {0x08, 0x14, 0x14, 0x18, 0x7C}, {0x7C, 0x08, 0x04, 0x04, 0x08}, {0x48, 0x54, 0x54, 0x54, 0x20},
    {0x04, 0x3F, 0x44, 0x40, 0x20}, {0x3C, 0x40, 0x40, 0x20, 0x7C}, {0x1C, 0x20, 0x40, 0x20, 0x1C},
    {0x3C, 0x40, 0x30, 0x40, 0x3C}, {0x44, 0x28, 0x10, 0x28, 0x44}, {0x0C, 0x50, 0x50, 0x50, 0x3C},
    {0x44, 0x64, 0x54, 0x4C, 0x44}, {0x00, 0x08, 0x36, 0x41, 0x00}, {0x00, 0x00, 0x7F, 0x00, 0x00},
    {0x00, 0x41, 0x36, 0x08, 0x00}, {0x08, 0x04, 0x08, 0x10, 0x08},
};

} // namespace

std::array<uint8_t, 5> glyph(char32_t c) {
    if (c >= 0xC0 && c <= 0xFF) {
        // Accented Latin-1 letters show as their base letter rather than as nothing.
        QString base = QString(QChar(char16_t(c))).normalized(QString::NormalizationForm_D);
        if (!base.isEmpty() && base[0].unicode() < 128) c = base[0].unicode();
    }
    if (c < 32 || c > 126) c = '?';
    const uint8_t* g = kFont[c - 32];
    return {g[0], g[1], g[2], g[3], g[4]};
}

void dotGlyph(QPainter& p, QPointF origin, qreal pitch, qreal dotRadius, char32_t c,
              const QColor& on, const QColor& off, bool roundDots) {
    const auto g = glyph(c);
    for (int col = 0; col < 5; ++col) {
        for (int row = 0; row < 7; ++row) {
            const bool lit = (g[col] >> row) & 1;
            const QColor& colour = lit ? on : off;
            if (!colour.isValid() || colour.alpha() == 0) continue;
            p.setBrush(colour);
            const QPointF centre = origin + QPointF(col * pitch, row * pitch);
            if (roundDots)
                p.drawEllipse(centre, dotRadius, dotRadius);
            else
                p.drawRect(QRectF(centre - QPointF(dotRadius, dotRadius),
                                  QSizeF(2 * dotRadius, 2 * dotRadius)));
        }
    }
}

QColor textColour(const QWidget* w) {
    return w->palette().color(QPalette::WindowText);
}

} // namespace paint

// --- base classes ---

namespace {
bool inInt32(int64_t n) {
    return n >= INT32_MIN && n <= INT32_MAX;
}
} // namespace

ScriptAccess::Whole ScriptAccess::whole() const {
    Whole w;
    if (scriptKind() == Kind::Integer) {
        w.get = [](const void* self, int64_t& n) {
            n = static_cast<const ScriptAccess*>(self)->scriptInteger();
            return true;
        };
        w.set = [](void* self, int64_t n) {
            if (!inInt32(n)) return false;
            static_cast<ScriptAccess*>(self)->setScriptInteger(static_cast<int>(n));
            return true;
        };
    } else if (scriptKind() == Kind::IntegerReal) {
        w.set = [](void* self, int64_t n) {
            if (!inInt32(n)) return false;
            static_cast<ScriptAccess*>(self)->setScriptReal(static_cast<double>(n));
            return true;
        };
    }
    return w;
}

InstrumentControl::InstrumentControl(QWidget* parent) : QWidget(parent) {
    // Text beside the instruments reads light on the rack's dark panel unless the rack file
    // gives a font colour.
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, QColor(215, 218, 224));
    pal.setColor(QPalette::Window, QColor(0, 0, 0));
    setPalette(pal);
    resize(100, 60);
}

void InstrumentControl::describeForScripts(Kind kind, std::string_view readError,
                                           std::string_view setError) {
    kind_ = kind;
    readError_ = readError;
    setError_ = setError;
}

RangeControl::RangeControl(QWidget* parent, int max) : InstrumentControl(parent), max_(max) {}

ScriptAccess::Whole RangeControl::whole() const {
    // A subclass that holds anything but a whole number keeps the general way.
    if (scriptKind() != Kind::Integer) return ScriptAccess::whole();
    Whole w;
    w.get = [](const void* self, int64_t& n) {
        n = static_cast<const RangeControl*>(static_cast<const ScriptAccess*>(self))->position();
        return true;
    };
    w.set = [](void* self, int64_t n) {
        if (!inInt32(n)) return false;
        static_cast<RangeControl*>(static_cast<ScriptAccess*>(self))->setPosition(int(n));
        return true;
    };
    return w;
}

void RangeControl::setMax(int v) {
    const int min = std::min(min_, v), position = std::clamp(position_, min, v);
    if (v == max_ && min == min_ && position == position_) return;
    max_ = v;
    min_ = min;
    position_ = position;
    update();
}

void RangeControl::setMin(int v) {
    const int max = std::max(max_, v), position = std::clamp(position_, v, max);
    if (v == min_ && max == max_ && position == position_) return;
    min_ = v;
    max_ = max;
    position_ = position;
    update();
}

void RangeControl::setPosition(int v) {
    if (!paint::assign(position_, std::clamp(v, min_, max_)) || repaintAsked_) return;
    // Only a widget that is visible gets the paint event that ends the wait; a hidden one is
    // painted whole when it is shown.
    repaintAsked_ = isVisible();
    update();
}

bool RangeControl::event(QEvent* e) {
    if (e->type() == QEvent::Paint) repaintAsked_ = false;
    return InstrumentControl::event(e);
}

double RangeControl::fraction() const {
    if (max_ == min_) return 0;
    return (double(position_) - double(min_)) / (double(max_) - double(min_));
}

void RangeControl::setPositionByUser(qint64 v) {
    // Steps past the ends of the int range stop there rather than wrap round.
    setPosition(int(std::clamp<qint64>(v, min_, max_)));
}

LinearControl::LinearControl(QWidget* parent, bool vertical)
    : RangeControl(parent), vertical_(vertical) {
    setFocusPolicy(Qt::StrongFocus);
}

QString LinearControl::orientation() const {
    return vertical_ ? "voVertical" : "voHorizontal";
}

void LinearControl::setOrientation(const QString& v) {
    if (v == "voVertical" || v == "voHorizontal")
        if (paint::assign(vertical_, v == "voVertical")) update();
}

void LinearControl::setTickCount(int v) {
    if (paint::assign(tickCount_, std::clamp(v, 0, 1000))) update();
}

QPointF LinearControl::thumbCentre() const {
    const QPointF a = trackStart(), b = trackEnd();
    return a + (b - a) * fraction();
}

void LinearControl::moveTo(QPointF p) {
    const QPointF a = trackStart(), b = trackEnd();
    const QPointF d = b - a;
    const double len2 = d.x() * d.x() + d.y() * d.y();
    if (len2 <= 0) return;
    const double t = std::clamp(QPointF::dotProduct(p - a, d) / len2, 0.0, 1.0);
    setPositionByUser(std::llround(min() + t * (double(max()) - double(min()))));
}

void LinearControl::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    dragging_ = true;
    moveTo(e->position());
}

void LinearControl::mouseMoveEvent(QMouseEvent* e) {
    if (dragging_) moveTo(e->position());
}

void LinearControl::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) dragging_ = false;
}

void LinearControl::wheelEvent(QWheelEvent* e) {
    const int steps = e->angleDelta().y() / 120;
    if (steps != 0) setPositionByUser(qint64(position()) + steps);
    e->accept();
}

void LinearControl::keyPressEvent(QKeyEvent* e) {
    // Up and Right raise the value whichever way the track lies (the maximum of a vertical
    // track is at its top).
    const qint64 page = std::max<qint64>(1, (qint64(max()) - min()) / 10);
    switch (e->key()) {
    case Qt::Key_Up:
    case Qt::Key_Right:
        setPositionByUser(qint64(position()) + 1);
        break;
    case Qt::Key_Down:
    case Qt::Key_Left:
        setPositionByUser(qint64(position()) - 1);
        break;
    case Qt::Key_PageUp:
        setPositionByUser(position() + page);
        break;
    case Qt::Key_PageDown:
        setPositionByUser(position() - page);
        break;
    case Qt::Key_Home:
        setPositionByUser(min());
        break;
    case Qt::Key_End:
        setPositionByUser(max());
        break;
    default:
        QWidget::keyPressEvent(e);
    }
}

RealRangeControl::RealRangeControl(QWidget* parent) : InstrumentControl(parent) {}

void RealRangeControl::setMax(double v) {
    if (!std::isfinite(v)) return; // an endless range has no scale to draw
    const double min = std::min(min_, v), value = std::clamp(value_, min, v);
    if (v == max_ && min == min_ && value == value_) return;
    max_ = v;
    min_ = min;
    value_ = value;
    update();
}

void RealRangeControl::setMin(double v) {
    if (!std::isfinite(v)) return; // an endless range has no scale to draw
    const double max = std::max(max_, v), value = std::clamp(value_, v, max);
    if (v == min_ && max == max_ && value == value_) return;
    min_ = v;
    max_ = max;
    value_ = value;
    update();
}

void RealRangeControl::setValue(double v) {
    if (std::isnan(v)) return;
    if (paint::assign(value_, std::clamp(v, min_, max_))) update();
}

double RealRangeControl::fraction() const {
    if (!(max_ > min_)) return 0;
    return (value_ - min_) / (max_ - min_);
}

// --- the factory ---

namespace {

struct Entry {
    std::string_view name;
    QWidget* (*make)(QWidget*);
};

template <class T> QWidget* make(QWidget* parent) {
    return new T(parent);
}

const Entry kRegistry[] = {
    {"TVrSlider", make<SliderControl>},
    {"TVrTrackBar", make<TrackBarControl>},
    {"TVrPowerMeter", make<PowerMeterControl>},
    {"TVrSwitch", make<SwitchControl>},
    {"TVrLed", make<LedControl>},
    {"TVrCheckLed", make<CheckLedControl>},
    {"TVrMatrix", make<MatrixControl>},
    {"TVrPowerButton", make<PowerButtonControl>},
    {"TVrDB", make<MomentaryButtonControl>},
    {"TVrMeter", make<MeterControl>},
    {"TVrNum", make<NumberControl>},
    {"TVrSpinner", make<SpinnerControl>},
    {"TVrProgressBar", make<LevelBarControl>},
    {"TVrScope", make<ScopeControl>},
    {"TLcd", make<LcdControl>},
    {"TVrBorder", make<BorderControl>},
    {"TVrGradient", make<GradientControl>},
    {"TVrAngularMeter", make<AngularMeterControl>},
};

} // namespace

QWidget* createInstrument(std::string_view className, QWidget* parent) {
    for (const Entry& e : kRegistry)
        if (e.name == className) return e.make(parent);
    return nullptr;
}

const std::vector<std::string_view>& instrumentClasses() {
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> v;
        for (const Entry& e : kRegistry)
            v.push_back(e.name);
        return v;
    }();
    return names;
}

} // namespace nv::rack
