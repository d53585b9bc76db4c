// The instruments' shared bases: InstrumentControl (the dark palette and the typed face
// scripts reach every instrument through), the integer range of the sliders, meters and level
// bars, the track the sliders share, and the real range of the gauges.
// Declared for the rack, the tests and the gallery (see instruments/controls.h).
//
// Threading: user-interface thread only. Error policy: setters never throw; out-of-range
// values are clamped, unknown identifiers ignored.
#pragma once

#include <QPointF>
#include <QString>
#include <QWidget>

#include "instruments/scriptaccess.h"

namespace nv::rack {

// What every instrument shares: the dark default palette and the typed face scripts reach it
// through. The class's kind and messages are fixed by its constructor (describeForScripts).
class InstrumentControl : public QWidget, public ScriptAccess {
    Q_OBJECT
  public:
    explicit InstrumentControl(QWidget* parent);

    Kind scriptKind() const override { return kind_; }
    std::string_view readError() const override { return readError_; }
    std::string_view setError() const override { return setError_; }

  protected:
    // The messages are kept as views: string literals only.
    void describeForScripts(Kind kind, std::string_view readError, std::string_view setError);

  private:
    Kind kind_ = Kind::None;
    std::string_view readError_;
    std::string_view setError_;
};

// An integer value inside an integer range: Max, Min, Position.
class RangeControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(int Max READ max WRITE setMax)
    Q_PROPERTY(int Min READ min WRITE setMin)
    Q_PROPERTY(int Position READ position WRITE setPosition)
  public:
    explicit RangeControl(QWidget* parent, int max = 100);
    int max() const { return max_; }
    int min() const { return min_; }
    int position() const { return position_; }
    void setMax(int v);
    void setMin(int v);
    void setPosition(int v);

    int scriptInteger() const override { return position_; }
    void setScriptInteger(int v) override { setPosition(v); }
    // position() and setPosition themselves, as the two above reach them.
    Whole whole() const override;

  protected:
    // The position as a fraction 0..1 of the range.
    double fraction() const;
    // Sets the position as the user's steps do: past the ends of the int range it stops there.
    void setPositionByUser(qint64 v);
    bool event(QEvent* e) override;

  private:
    int max_;
    int min_ = 0;
    int position_ = 0;
    // A script may set the position on every line: once a repaint is on its way, further
    // positions join it instead of asking again (QWidget::update costs more than the line).
    bool repaintAsked_ = false;
};

// A slider or track bar: a range the user drags, wheels and keys along a track.
class LinearControl : public RangeControl {
    Q_OBJECT
    Q_PROPERTY(QString Orientation READ orientation WRITE setOrientation)
    Q_PROPERTY(int TickCount READ tickCount WRITE setTickCount)
  public:
    LinearControl(QWidget* parent, bool vertical);
    QString orientation() const;
    void setOrientation(const QString& v);
    bool vertical() const { return vertical_; }
    int tickCount() const { return tickCount_; }
    void setTickCount(int v);

  protected:
    // The track's two ends in widget coordinates: the minimum's end and the maximum's end.
    virtual QPointF trackStart() const = 0;
    virtual QPointF trackEnd() const = 0;
    QPointF thumbCentre() const;

    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    void moveTo(QPointF p);
    bool vertical_;
    int tickCount_ = 11;
    bool dragging_ = false;
};

// A real value inside a real range, for the gauges whose scripts set reals.
class RealRangeControl : public InstrumentControl {
    Q_OBJECT
  public:
    explicit RealRangeControl(QWidget* parent);
    double max() const { return max_; }
    double min() const { return min_; }
    double value() const { return value_; }
    void setMax(double v);
    void setMin(double v);
    void setValue(double v);

    double scriptReal() const override { return value_; }
    void setScriptReal(double v) override { setValue(v); }

  protected:
    double fraction() const;

  private:
    double max_ = 100;
    double min_ = 0;
    double value_ = 0;
};

} // namespace nv::rack
