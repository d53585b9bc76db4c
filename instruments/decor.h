// The decorations: TVrBorder and TVrGradient.
// Declared for the rack, the tests and the gallery (see instruments/controls.h).
//
// Threading: user-interface thread only. Error policy: setters never throw; out-of-range
// values are clamped, unknown identifiers ignored.
#pragma once

#include <QColor>
#include <QString>

#include "instruments/common.h"

namespace nv::rack {

// TVrBorder: a bevelled frame around a group of instruments; its inside stays clear.
class BorderControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(QString BevelStyle READ bevelStyle WRITE setBevelStyle)
    Q_PROPERTY(int BevelWidth READ bevelWidth WRITE setBevelWidth)
    Q_PROPERTY(QColor HighlightColor READ highlightColor WRITE setHighlightColor)
    Q_PROPERTY(QColor ShadowColor READ shadowColor WRITE setShadowColor)
  public:
    explicit BorderControl(QWidget* parent);
    QString bevelStyle() const { return raised_ ? "bvRaised" : "bvLowered"; }
    void setBevelStyle(const QString& v);
    int bevelWidth() const { return width_; }
    void setBevelWidth(int v);
    QColor highlightColor() const { return light_; }
    void setHighlightColor(const QColor& c);
    QColor shadowColor() const { return shadow_; }
    void setShadowColor(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    bool raised_ = false;
    int width_ = 2;
    QColor light_{120, 124, 132};
    QColor shadow_{8, 8, 10};
};

// TVrGradient: a panel shaded from StartColor to EndColor, top to bottom or left to right.
class GradientControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(QColor StartColor READ startColor WRITE setStartColor)
    Q_PROPERTY(QColor EndColor READ endColor WRITE setEndColor)
    Q_PROPERTY(QString Direction READ direction WRITE setDirection)
  public:
    explicit GradientControl(QWidget* parent);
    QColor startColor() const { return start_; }
    void setStartColor(const QColor& c);
    QColor endColor() const { return end_; }
    void setEndColor(const QColor& c);
    QString direction() const { return vertical_ ? "gdVertical" : "gdHorizontal"; }
    void setDirection(const QString& v);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QColor start_{48, 56, 72};
    QColor end_{8, 10, 14};
    bool vertical_ = true;
};

} // namespace nv::rack
