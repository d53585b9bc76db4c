// The meters: TVrMeter, TVrAngularMeter and TVrPowerMeter.
// Declared for the rack, the tests and the gallery (see instruments/controls.h).
//
// Threading: user-interface thread only. Error policy: setters never throw; out-of-range
// values are clamped, unknown identifiers ignored.
#pragma once

#include <QByteArray>
#include <QColor>

#include "instruments/common.h"

namespace nv::rack {

// TVrMeter: a moving-coil panel meter: a light scale face under glass, a needle.
class MeterControl : public RangeControl {
    Q_OBJECT
    Q_PROPERTY(int TickCount READ tickCount WRITE setTickCount)
    Q_PROPERTY(QByteArray Caption READ caption WRITE setCaption)
    Q_PROPERTY(QColor NeedleColor READ needleColor WRITE setNeedleColor)
    Q_PROPERTY(QColor ScaleColor READ scaleColor WRITE setScaleColor)
    Q_PROPERTY(QColor FaceColor READ faceColor WRITE setFaceColor)
  public:
    explicit MeterControl(QWidget* parent);
    int tickCount() const { return tickCount_; }
    void setTickCount(int v);
    QByteArray caption() const { return caption_; }
    void setCaption(const QByteArray& v);
    QColor needleColor() const { return needle_; }
    void setNeedleColor(const QColor& c);
    QColor scaleColor() const { return scale_; }
    void setScaleColor(const QColor& c);
    QColor faceColor() const { return face_; }
    void setFaceColor(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    int tickCount_ = 11;
    QByteArray caption_;
    QColor needle_{200, 30, 30};
    QColor scale_{30, 30, 30};
    QColor face_{238, 232, 212};
};

// TVrAngularMeter: a round gauge with a 270-degree dial, a warning arc and a needle.
class AngularMeterControl : public RealRangeControl {
    Q_OBJECT
    Q_PROPERTY(double Max READ max WRITE setMax)
    Q_PROPERTY(double Min READ min WRITE setMin)
    Q_PROPERTY(double Position READ value WRITE setValue)
    Q_PROPERTY(int TickCount READ tickCount WRITE setTickCount)
    Q_PROPERTY(QByteArray Caption READ caption WRITE setCaption)
    Q_PROPERTY(QColor NeedleColor READ needleColor WRITE setNeedleColor)
    Q_PROPERTY(QColor ScaleColor READ scaleColor WRITE setScaleColor)
    Q_PROPERTY(QColor FaceColor READ faceColor WRITE setFaceColor)
    Q_PROPERTY(QColor WarningColor READ warningColor WRITE setWarningColor)
  public:
    explicit AngularMeterControl(QWidget* parent);
    int tickCount() const { return tickCount_; }
    void setTickCount(int v);
    QByteArray caption() const { return caption_; }
    void setCaption(const QByteArray& v);
    QColor needleColor() const { return needle_; }
    void setNeedleColor(const QColor& c);
    QColor scaleColor() const { return scale_; }
    void setScaleColor(const QColor& c);
    QColor faceColor() const { return face_; }
    void setFaceColor(const QColor& c);
    QColor warningColor() const { return warning_; }
    void setWarningColor(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    int tickCount_ = 11;
    QByteArray caption_;
    QColor needle_{255, 120, 20};
    QColor scale_{220, 220, 220};
    QColor face_{22, 24, 28};
    QColor warning_{220, 40, 40};
};

// TVrPowerMeter: an arc of LED segments, green to amber to red, with the value in figures.
class PowerMeterControl : public RealRangeControl {
    Q_OBJECT
    Q_PROPERTY(double Max READ max WRITE setMax)
    Q_PROPERTY(double Min READ min WRITE setMin)
    Q_PROPERTY(double Value READ value WRITE setValue)
    Q_PROPERTY(int Segments READ segments WRITE setSegments)
    Q_PROPERTY(QColor ColorLow READ colorLow WRITE setColorLow)
    Q_PROPERTY(QColor ColorMid READ colorMid WRITE setColorMid)
    Q_PROPERTY(QColor ColorHigh READ colorHigh WRITE setColorHigh)
  public:
    explicit PowerMeterControl(QWidget* parent);
    int segments() const { return segments_; }
    void setSegments(int v);
    QColor colorLow() const { return low_; }
    void setColorLow(const QColor& c);
    QColor colorMid() const { return mid_; }
    void setColorMid(const QColor& c);
    QColor colorHigh() const { return high_; }
    void setColorHigh(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    int segments_ = 20;
    QColor low_{40, 220, 80};
    QColor mid_{255, 200, 0};
    QColor high_{255, 50, 40};
};

} // namespace nv::rack
