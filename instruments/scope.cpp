// TVrScope: the scrolling multi-channel trace and its own sampling timer.
#include <QLinearGradient>
#include <QPointer>
#include <QTimer>
#include <algorithm>

#include "instruments/controls.h"
#include "instruments/paint.h"

namespace nv::rack {

namespace {
// Samples kept per channel: more than any screen shows at the smallest step.
constexpr size_t kKeep = 4096;
} // namespace

ScopeControl::ScopeControl(QWidget* parent) : InstrumentControl(parent), m_timer(new QTimer(this)) {
    describeForScripts(Kind::Sample, {}, "Scope: error adding value.");
    m_colors[0] = QColor(255, 220, 0);
    m_colors[1] = QColor(0, 220, 255);
    m_colors[2] = QColor(255, 80, 200);
    m_colors[3] = QColor(90, 255, 90);
    m_timer->setInterval(m_interval);
    connect(m_timer, &QTimer::timeout, this, &ScopeControl::requestSamples);
    // Every paint fills the whole face first: the window need not paint beneath it at each
    // sample.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(240, 140);
}

void ScopeControl::setActive(bool v) {
    if (v == m_active) return;
    m_active = v;
    if (v)
        m_timer->start(m_interval);
    else
        m_timer->stop();
}

void ScopeControl::setInterval(int v) {
    v = std::clamp(v, 1, 3600000);
    if (v == m_interval) return;
    m_interval = v;
    m_timer->setInterval(v);
}

void ScopeControl::setChannels(int v) {
    v = std::clamp(v, 1, kMaxChannels);
    if (!paint::assign(m_channels, v)) return;
    for (int c = m_channels; c < kMaxChannels; ++c)
        m_samples[c].clear();
    update();
}

void ScopeControl::setMax(int v) {
    const int min = std::min(m_min, v);
    if (v == m_max && min == m_min) return;
    m_max = v;
    m_min = min;
    update();
}

void ScopeControl::setMin(int v) {
    const int max = std::max(m_max, v);
    if (v == m_min && max == m_max) return;
    m_min = v;
    m_max = max;
    update();
}

void ScopeControl::setStep(int v) {
    if (paint::assign(m_step, std::clamp(v, 1, 100))) update();
}

void ScopeControl::setGridSize(int v) {
    if (paint::assign(m_grid, std::clamp(v, 0, 1000))) update();
}

void ScopeControl::setGridColor(const QColor& c) {
    if (paint::assign(m_gridColor, c)) update();
}

QColor ScopeControl::channelColor(int channel) const {
    return channel >= 0 && channel < kMaxChannels ? m_colors[channel] : QColor();
}

void ScopeControl::setChannelColor(int channel, const QColor& c) {
    if (channel < 0 || channel >= kMaxChannels) return;
    if (paint::assign(m_colors[channel], c) && channel < m_channels) update();
}

const std::deque<int>& ScopeControl::samples(int channel) const {
    static const std::deque<int> none;
    return channel >= 0 && channel < kMaxChannels ? m_samples[channel] : none;
}

void ScopeControl::push(int channel, int value) {
    std::deque<int>& s = m_samples[channel];
    s.push_back(std::clamp(value, m_min, m_max));
    if (s.size() > kKeep) s.pop_front();
}

void ScopeControl::addSample(int channel, int value) {
    if (channel < 0 || channel >= m_channels) return;
    push(channel, value);
    update();
}

void ScopeControl::requestSamples() {
    QPointer<ScopeControl> self(this);
    const int channels = m_channels;
    for (int c = 0; c < channels; ++c) {
        int value = m_min;
        if (m_request) {
            // A copy: the request may replace or clear itself while it runs.
            const DataRequest request = m_request;
            value = request(c, m_min);
            if (!self) return;
        }
        if (c < m_channels) push(c, value);
    }
    update();
}

void ScopeControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint::prepare(p);
    const QRectF all = QRectF(rect());
    p.fillRect(all, QColor(12, 12, 14));
    const double pad = std::clamp(std::min(all.width(), all.height()) * 0.03, 2.0, 6.0);
    const QRectF screen = all.adjusted(pad, pad, -pad, -pad);
    QLinearGradient tube(screen.topLeft(), screen.bottomLeft());
    tube.setColorAt(0, QColor(4, 16, 10));
    tube.setColorAt(0.5, QColor(6, 24, 14));
    tube.setColorAt(1, QColor(4, 16, 10));
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.setBrush(tube);
    p.drawRect(screen);

    // The graticule: grid lines from the centre outwards, the centre lines brighter.
    p.save();
    p.setClipRect(screen);
    if (m_grid > 0) {
        const QPointF c = screen.center();
        p.setPen(QPen(m_gridColor, 1, Qt::DotLine));
        for (double x = c.x() - m_grid; x > screen.left(); x -= m_grid)
            p.drawLine(QPointF(x, screen.top()), QPointF(x, screen.bottom()));
        for (double x = c.x() + m_grid; x < screen.right(); x += m_grid)
            p.drawLine(QPointF(x, screen.top()), QPointF(x, screen.bottom()));
        for (double y = c.y() - m_grid; y > screen.top(); y -= m_grid)
            p.drawLine(QPointF(screen.left(), y), QPointF(screen.right(), y));
        for (double y = c.y() + m_grid; y < screen.bottom(); y += m_grid)
            p.drawLine(QPointF(screen.left(), y), QPointF(screen.right(), y));
        p.setPen(QPen(m_gridColor.lighter(150), 1));
        p.drawLine(QPointF(screen.left(), c.y()), QPointF(screen.right(), c.y()));
        p.drawLine(QPointF(c.x(), screen.top()), QPointF(c.x(), screen.bottom()));
    }

    // The traces: the newest sample at the right edge, older ones Step pixels apart.
    const double span = double(m_max) - double(m_min);
    auto yOf = [&](int v) {
        const double f = span > 0 ? (v - double(m_min)) / span : 0;
        return screen.bottom() - 1 - f * (screen.height() - 2);
    };
    const size_t visible = size_t(screen.width() / m_step) + 2;
    for (int ch = 0; ch < m_channels; ++ch) {
        const std::deque<int>& s = m_samples[ch];
        if (s.empty()) continue;
        const size_t n = std::min(visible, s.size());
        QPolygonF line;
        line.reserve(qsizetype(n));
        for (size_t k = 0; k < n; ++k) {
            const int v = s[s.size() - n + k];
            line << QPointF(screen.right() - double(n - 1 - k) * m_step, yOf(v));
        }
        // One-pixel cosmetic pens only: the raster engine draws them directly, where a wider
        // antialiased trace is stroked into a path and filled, some 20 ms a frame for four
        // busy channels. The glow is the trace again a pixel above and below, unsmoothed.
        QColor halo = m_colors[ch];
        halo.setAlpha(60);
        QPen pen(halo, 1);
        pen.setCosmetic(true);
        p.setPen(pen);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.drawPolyline(line.translated(0, -1));
        p.drawPolyline(line.translated(0, 1));
        p.setRenderHint(QPainter::Antialiasing, true);
        pen.setColor(m_colors[ch]);
        p.setPen(pen);
        p.drawPolyline(line);
    }
    p.restore();
}

} // namespace nv::rack
