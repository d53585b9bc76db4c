// The oscilloscope: TVrScope.
// Declared for the rack, the tests and the gallery (see instruments/controls.h).
//
// Threading: user-interface thread only. Error policy: setters never throw; out-of-range
// values are clamped, unknown identifiers ignored.
#pragma once

#include <QColor>
#include <deque>
#include <functional>

#include "instruments/common.h"

class QTimer;

namespace nv::rack {

// TVrScope: a multi-channel scrolling oscilloscope trace on a grid.
//
// While Active its own timer fires every Interval milliseconds; at each tick it asks for one
// sample per channel, in channel order, through the data request (proposing Min for each),
// clamps every answer into Min..Max, scrolls the traces one Step left and repaints. Without a
// data request a channel gets Min. The request may switch Active off, replace or clear the
// data request (even itself) while it runs: the tick finishes its channels, and channels
// after a cleared request get Min. It must not destroy the scope.
class ScopeControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(bool Active READ active WRITE setActive)
    Q_PROPERTY(int Interval READ interval WRITE setInterval)
    Q_PROPERTY(int Channels READ channels WRITE setChannels)
    Q_PROPERTY(int Max READ max WRITE setMax)
    Q_PROPERTY(int Min READ min WRITE setMin)
    Q_PROPERTY(int Step READ step WRITE setStep)
    Q_PROPERTY(int GridSize READ gridSize WRITE setGridSize)
    Q_PROPERTY(QColor GridColor READ gridColor WRITE setGridColor)
    Q_PROPERTY(QColor Channel1Color READ channel1Color WRITE setChannel1Color)
    Q_PROPERTY(QColor Channel2Color READ channel2Color WRITE setChannel2Color)
    Q_PROPERTY(QColor Channel3Color READ channel3Color WRITE setChannel3Color)
    Q_PROPERTY(QColor Channel4Color READ channel4Color WRITE setChannel4Color)
  public:
    static constexpr int kMaxChannels = 4;

    explicit ScopeControl(QWidget* parent);
    bool active() const { return active_; }
    void setActive(bool v);
    int interval() const { return interval_; }
    void setInterval(int v);
    int channels() const { return channels_; }
    void setChannels(int v);
    int max() const { return max_; }
    void setMax(int v);
    int min() const { return min_; }
    void setMin(int v);
    int step() const { return step_; }
    void setStep(int v);
    int gridSize() const { return grid_; }
    void setGridSize(int v);
    QColor gridColor() const { return gridColor_; }
    void setGridColor(const QColor& c);
    QColor channelColor(int channel) const;
    void setChannelColor(int channel, const QColor& c);
    QColor channel1Color() const { return channelColor(0); }
    void setChannel1Color(const QColor& c) { setChannelColor(0, c); }
    QColor channel2Color() const { return channelColor(1); }
    void setChannel2Color(const QColor& c) { setChannelColor(1, c); }
    QColor channel3Color() const { return channelColor(2); }
    void setChannel3Color(const QColor& c) { setChannelColor(2, c); }
    QColor channel4Color() const { return channelColor(3); }
    void setChannel4Color(const QColor& c) { setChannelColor(3, c); }

    void setDataRequest(DataRequest request) { request_ = std::move(request); }
    void setSampleRequest(DataRequest request) override { setDataRequest(std::move(request)); }
    void setSampling(bool on) override { setActive(on); }
    bool sampling() const override { return active_; }
    // One tick's work, as the timer does it.
    void requestSamples();
    // The samples of a channel kept for drawing, oldest first.
    const std::deque<int>& samples(int channel) const;
    // Appends one sample to a channel without asking (clamped), for pictures and tests.
    void addSample(int channel, int value);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    void push(int channel, int value);
    QTimer* timer_;
    DataRequest request_;
    std::deque<int> samples_[kMaxChannels];
    bool active_ = false;
    int interval_ = 100;
    int channels_ = 1;
    int max_ = 100;
    int min_ = 0;
    int step_ = 2;
    int grid_ = 20;
    QColor gridColor_{0, 90, 40};
    QColor colors_[kMaxChannels];
};

} // namespace nv::rack
