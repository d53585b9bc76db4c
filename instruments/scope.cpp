// TVrScope: the scrolling multi-channel trace and its own sampling timer.
#include <QLinearGradient>
#include <QPointer>
#include <QTimer>
#include <algorithm>

#include "instruments/paint.h"
#include "instruments/scope.h"

namespace nv::rack {

namespace {
// Samples kept per channel: more than any screen shows at the smallest step.
constexpr size_t kKeep = 4096;
} // namespace

ScopeControl::ScopeControl(QWidget* parent) : InstrumentControl(parent), timer_(new QTimer(this)) {
    describeForScripts(Kind::Sample, {}, "Scope: error adding value.");
    colors_[0] = QColor(255, 220, 0);
    colors_[1] = QColor(0, 220, 255);
    colors_[2] = QColor(255, 80, 200);
    colors_[3] = QColor(90, 255, 90);
    timer_->setInterval(interval_);
    connect(timer_, &QTimer::timeout, this, &ScopeControl::requestSamples);
    // Every paint fills the whole face first: the window need not paint beneath it at each
    // sample.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(240, 140);
}

void ScopeControl::setActive(bool v) {
    if (v == active_) return;
    active_ = v;
    if (v)
        timer_->start(interval_);
    else
        timer_->stop();
}

void ScopeControl::setInterval(int v) {
    v = std::clamp(v, 1, 3600000);
    if (v == interval_) return;
    interval_ = v;
    timer_->setInterval(v);
}

void ScopeControl::setChannels(int v) {
    v = std::clamp(v, 1, kMaxChannels);
    if (!paint::assign(channels_, v)) return;
    for (int c = channels_; c < kMaxChannels; ++c)
        samples_[c].clear();
    update();
}

void ScopeControl::setMax(int v) {
    const int min = std::min(min_, v);
    if (v == max_ && min == min_) return;
    max_ = v;
    min_ = min;
    update();
}

void ScopeControl::setMin(int v) {
    const int max = std::max(max_, v);
    if (v == min_ && max == max_) return;
    min_ = v;
    max_ = max;
    update();
}

void ScopeControl::setStep(int v) {
    if (paint::assign(step_, std::clamp(v, 1, 100))) update();
}

void ScopeControl::setGridSize(int v) {
    if (paint::assign(grid_, std::clamp(v, 0, 1000))) update();
}

void ScopeControl::setGridColor(const QColor& c) {
    if (paint::assign(gridColor_, c)) update();
}

QColor ScopeControl::channelColor(int channel) const {
    return channel >= 0 && channel < kMaxChannels ? colors_[channel] : QColor();
}

void ScopeControl::setChannelColor(int channel, const QColor& c) {
    if (channel < 0 || channel >= kMaxChannels) return;
    if (paint::assign(colors_[channel], c) && channel < channels_) update();
}

const std::deque<int>& ScopeControl::samples(int channel) const {
    static const std::deque<int> none;
    return channel >= 0 && channel < kMaxChannels ? samples_[channel] : none;
}

void ScopeControl::push(int channel, int value) {
    std::deque<int>& s = samples_[channel];
    s.push_back(std::clamp(value, min_, max_));
    if (s.size() > kKeep) s.pop_front();
}

void ScopeControl::addSample(int channel, int value) {
    if (channel < 0 || channel >= channels_) return;
    push(channel, value);
    update();
}

void ScopeControl::requestSamples() {
    QPointer<ScopeControl> self(this);
    const int channels = channels_;
    for (int c = 0; c < channels; ++c) {
        int value = min_;
        if (request_) {
            // A copy: the request may replace or clear itself while it runs.
            const DataRequest request = request_;
            value = request(c, min_);
            if (!self) return;
        }
        if (c < channels_) push(c, value);
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
    if (grid_ > 0) {
        const QPointF c = screen.center();
        p.setPen(QPen(gridColor_, 1, Qt::DotLine));
        for (double x = c.x() - grid_; x > screen.left(); x -= grid_)
            p.drawLine(QPointF(x, screen.top()), QPointF(x, screen.bottom()));
        for (double x = c.x() + grid_; x < screen.right(); x += grid_)
            p.drawLine(QPointF(x, screen.top()), QPointF(x, screen.bottom()));
        for (double y = c.y() - grid_; y > screen.top(); y -= grid_)
            p.drawLine(QPointF(screen.left(), y), QPointF(screen.right(), y));
        for (double y = c.y() + grid_; y < screen.bottom(); y += grid_)
            p.drawLine(QPointF(screen.left(), y), QPointF(screen.right(), y));
        p.setPen(QPen(gridColor_.lighter(150), 1));
        p.drawLine(QPointF(screen.left(), c.y()), QPointF(screen.right(), c.y()));
        p.drawLine(QPointF(c.x(), screen.top()), QPointF(c.x(), screen.bottom()));
    }

    // The traces: the newest sample at the right edge, older ones Step pixels apart.
    const double span = double(max_) - double(min_);
    auto yOf = [&](int v) {
        const double f = span > 0 ? (v - double(min_)) / span : 0;
        return screen.bottom() - 1 - f * (screen.height() - 2);
    };
    const size_t visible = size_t(screen.width() / step_) + 2;
    for (int ch = 0; ch < channels_; ++ch) {
        const std::deque<int>& s = samples_[ch];
        if (s.empty()) continue;
        const size_t n = std::min(visible, s.size());
        QPolygonF line;
        line.reserve(qsizetype(n));
        for (size_t k = 0; k < n; ++k) {
            const int v = s[s.size() - n + k];
            line << QPointF(screen.right() - double(n - 1 - k) * step_, yOf(v));
        }
        // One-pixel cosmetic pens only: the raster engine draws them directly, where a wider
        // antialiased trace is stroked into a path and filled, some 20 ms a frame for four
        // busy channels. The glow is the trace again a pixel above and below, unsmoothed.
        QColor halo = colors_[ch];
        halo.setAlpha(60);
        QPen pen(halo, 1);
        pen.setCosmetic(true);
        p.setPen(pen);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.drawPolyline(line.translated(0, -1));
        p.drawPolyline(line.translated(0, 1));
        p.setRenderHint(QPainter::Antialiasing, true);
        pen.setColor(colors_[ch]);
        p.setPen(pen);
        p.drawPolyline(line);
    }
    p.restore();
}

} // namespace nv::rack
