// The linear instruments: TVrSlider, TVrTrackBar and TVrProgressBar.
// Declared for the rack, the tests and the gallery (see instruments/controls.h).
//
// Threading: user-interface thread only. Error policy: setters never throw; out-of-range
// values are clamped, unknown identifiers ignored.
#pragma once

#include <QColor>
#include <QString>

#include "instruments/common.h"

namespace nv::rack {

// TVrSlider: a mixing-desk fader: a slot with a ridged cap.
class SliderControl : public LinearControl {
    Q_OBJECT
    Q_PROPERTY(QColor ThumbColor READ thumbColor WRITE setThumbColor)
    Q_PROPERTY(QColor TrackColor READ trackColor WRITE setTrackColor)
    Q_PROPERTY(QColor TickColor READ tickColor WRITE setTickColor)
  public:
    explicit SliderControl(QWidget* parent);
    QColor thumbColor() const { return thumb_; }
    void setThumbColor(const QColor& c);
    QColor trackColor() const { return track_; }
    void setTrackColor(const QColor& c);
    QColor tickColor() const { return tick_; }
    void setTickColor(const QColor& c);

  protected:
    QPointF trackStart() const override;
    QPointF trackEnd() const override;
    void paintEvent(QPaintEvent*) override;

  private:
    QSizeF thumbSize() const;
    QColor thumb_{200, 200, 205};
    QColor track_{10, 10, 12};
    QColor tick_{150, 150, 150};
};

// TVrTrackBar: a groove filled up to the position, a pointer thumb and a tick scale.
class TrackBarControl : public LinearControl {
    Q_OBJECT
    Q_PROPERTY(QColor ThumbColor READ thumbColor WRITE setThumbColor)
    Q_PROPERTY(QColor BarColor READ barColor WRITE setBarColor)
    Q_PROPERTY(QColor TickColor READ tickColor WRITE setTickColor)
  public:
    explicit TrackBarControl(QWidget* parent);
    QColor thumbColor() const { return thumb_; }
    void setThumbColor(const QColor& c);
    QColor barColor() const { return bar_; }
    void setBarColor(const QColor& c);
    QColor tickColor() const { return tick_; }
    void setTickColor(const QColor& c);

  protected:
    QPointF trackStart() const override;
    QPointF trackEnd() const override;
    void paintEvent(QPaintEvent*) override;

  private:
    QColor thumb_{190, 195, 205};
    QColor bar_{40, 170, 255};
    QColor tick_{150, 150, 150};
};

// TVrProgressBar: a level bar of lit and dark segments (Segments 0: one smooth bar).
class LevelBarControl : public RangeControl {
    Q_OBJECT
    Q_PROPERTY(QString Orientation READ orientation WRITE setOrientation)
    Q_PROPERTY(int Segments READ segments WRITE setSegments)
    Q_PROPERTY(QColor ColorOn READ colorOn WRITE setColorOn)
    Q_PROPERTY(QColor ColorOff READ colorOff WRITE setColorOff)
  public:
    explicit LevelBarControl(QWidget* parent);
    QString orientation() const;
    void setOrientation(const QString& v);
    int segments() const { return segments_; }
    void setSegments(int v);
    QColor colorOn() const { return on_; }
    void setColorOn(const QColor& c);
    QColor colorOff() const { return off_; }
    void setColorOff(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    bool vertical_ = false;
    int segments_ = 20;
    QColor on_{60, 230, 90};
    QColor off_{18, 48, 24};
};

} // namespace nv::rack
