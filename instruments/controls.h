// The instrument classes themselves: one QWidget per rack-file class, painted with QPainter in
// a dark instrument style. instruments.h holds the contract they keep and the factory that
// makes them; this header exists so that the rack, the tests and the gallery can reach a
// class's own functions (the scope's data request, the spinner's signals) and so that Qt's
// meta-object compiler sees the properties.
//
// Property names are the rack file's; the declaration order of the Q_PROPERTYs is the order
// in which the rack writes them. Ranges are declared Max before Min before the value, so that
// a file written in that order never has its value clamped by a range that is still the
// default. Setting Min above Max (or Max below Min) drags the other bound along, so the range
// is never empty. Texts are script bytes (QByteArray), shown decoded by baseqt/displaytext.h.
// Identifier properties (Orientation, Direction, BevelStyle) ignore names they do not know.
// Text drawn beside an instrument (captions, tick labels) takes the palette's WindowText
// colour and the widget's font, which the rack sets from the file's Font.* properties.
//
// Threading: user-interface thread only. Error policy: setters never throw; out-of-range
// values are clamped, unknown identifiers ignored.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QString>
#include <QWidget>
#include <deque>
#include <functional>
#include <vector>

#include "instruments/scriptaccess.h"

class QTimer;

namespace nv::rack {

// What every instrument shares: the dark default palette and the typed face scripts reach it
// through. The class's kind and messages are fixed by its constructor (describeForScripts).
class InstrumentControl : public QWidget, public ScriptAccess {
    Q_OBJECT
  public:
    explicit InstrumentControl(QWidget* parent);

    Kind scriptKind() const override { return m_kind; }
    std::string_view readError() const override { return m_readError; }
    std::string_view setError() const override { return m_setError; }

  protected:
    void describeForScripts(Kind kind, std::string_view readError, std::string_view setError);

  private:
    Kind m_kind = Kind::None;
    std::string_view m_readError;
    std::string_view m_setError;
};

// An integer value inside an integer range: Max, Min, Position.
class RangeControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(int Max READ max WRITE setMax)
    Q_PROPERTY(int Min READ min WRITE setMin)
    Q_PROPERTY(int Position READ position WRITE setPosition)
  public:
    explicit RangeControl(QWidget* parent, int max = 100);
    int max() const { return m_max; }
    int min() const { return m_min; }
    int position() const { return m_position; }
    void setMax(int v);
    void setMin(int v);
    void setPosition(int v);

    int scriptInteger() const override { return m_position; }
    void setScriptInteger(int v) override { setPosition(v); }

  protected:
    // The position as a fraction 0..1 of the range.
    double fraction() const;
    // Sets the position as the user's steps do: past the ends of the int range it stops there.
    void setPositionByUser(qint64 v);

  private:
    int m_max;
    int m_min = 0;
    int m_position = 0;
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
    bool vertical() const { return m_vertical; }
    int tickCount() const { return m_tickCount; }
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
    bool m_vertical;
    int m_tickCount = 11;
    bool m_dragging = false;
};

// TVrSlider: a mixing-desk fader: a slot with a ridged cap.
class SliderControl : public LinearControl {
    Q_OBJECT
    Q_PROPERTY(QColor ThumbColor READ thumbColor WRITE setThumbColor)
    Q_PROPERTY(QColor TrackColor READ trackColor WRITE setTrackColor)
    Q_PROPERTY(QColor TickColor READ tickColor WRITE setTickColor)
  public:
    explicit SliderControl(QWidget* parent);
    QColor thumbColor() const { return m_thumb; }
    void setThumbColor(const QColor& c);
    QColor trackColor() const { return m_track; }
    void setTrackColor(const QColor& c);
    QColor tickColor() const { return m_tick; }
    void setTickColor(const QColor& c);

  protected:
    QPointF trackStart() const override;
    QPointF trackEnd() const override;
    void paintEvent(QPaintEvent*) override;

  private:
    QSizeF thumbSize() const;
    QColor m_thumb{200, 200, 205};
    QColor m_track{10, 10, 12};
    QColor m_tick{150, 150, 150};
};

// TVrTrackBar: a groove filled up to the position, a pointer thumb and a tick scale.
class TrackBarControl : public LinearControl {
    Q_OBJECT
    Q_PROPERTY(QColor ThumbColor READ thumbColor WRITE setThumbColor)
    Q_PROPERTY(QColor BarColor READ barColor WRITE setBarColor)
    Q_PROPERTY(QColor TickColor READ tickColor WRITE setTickColor)
  public:
    explicit TrackBarControl(QWidget* parent);
    QColor thumbColor() const { return m_thumb; }
    void setThumbColor(const QColor& c);
    QColor barColor() const { return m_bar; }
    void setBarColor(const QColor& c);
    QColor tickColor() const { return m_tick; }
    void setTickColor(const QColor& c);

  protected:
    QPointF trackStart() const override;
    QPointF trackEnd() const override;
    void paintEvent(QPaintEvent*) override;

  private:
    QColor m_thumb{190, 195, 205};
    QColor m_bar{40, 170, 255};
    QColor m_tick{150, 150, 150};
};

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
    int tickCount() const { return m_tickCount; }
    void setTickCount(int v);
    QByteArray caption() const { return m_caption; }
    void setCaption(const QByteArray& v);
    QColor needleColor() const { return m_needle; }
    void setNeedleColor(const QColor& c);
    QColor scaleColor() const { return m_scale; }
    void setScaleColor(const QColor& c);
    QColor faceColor() const { return m_face; }
    void setFaceColor(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    int m_tickCount = 11;
    QByteArray m_caption;
    QColor m_needle{200, 30, 30};
    QColor m_scale{30, 30, 30};
    QColor m_face{238, 232, 212};
};

// A real value inside a real range, for the gauges whose scripts set reals.
class RealRangeControl : public InstrumentControl {
    Q_OBJECT
  public:
    explicit RealRangeControl(QWidget* parent);
    double max() const { return m_max; }
    double min() const { return m_min; }
    double value() const { return m_value; }
    void setMax(double v);
    void setMin(double v);
    void setValue(double v);

    double scriptReal() const override { return m_value; }
    void setScriptReal(double v) override { setValue(v); }

  protected:
    double fraction() const;

  private:
    double m_max = 100;
    double m_min = 0;
    double m_value = 0;
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
    int tickCount() const { return m_tickCount; }
    void setTickCount(int v);
    QByteArray caption() const { return m_caption; }
    void setCaption(const QByteArray& v);
    QColor needleColor() const { return m_needle; }
    void setNeedleColor(const QColor& c);
    QColor scaleColor() const { return m_scale; }
    void setScaleColor(const QColor& c);
    QColor faceColor() const { return m_face; }
    void setFaceColor(const QColor& c);
    QColor warningColor() const { return m_warning; }
    void setWarningColor(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    int m_tickCount = 11;
    QByteArray m_caption;
    QColor m_needle{255, 120, 20};
    QColor m_scale{220, 220, 220};
    QColor m_face{22, 24, 28};
    QColor m_warning{220, 40, 40};
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
    int segments() const { return m_segments; }
    void setSegments(int v);
    QColor colorLow() const { return m_low; }
    void setColorLow(const QColor& c);
    QColor colorMid() const { return m_mid; }
    void setColorMid(const QColor& c);
    QColor colorHigh() const { return m_high; }
    void setColorHigh(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    int m_segments = 20;
    QColor m_low{40, 220, 80};
    QColor m_mid{255, 200, 0};
    QColor m_high{255, 50, 40};
};

// TVrLed: a round lamp that glows in ColorOn when Active and shows ColorOff when not.
class LedControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(bool Active READ active WRITE setActive)
    Q_PROPERTY(QColor ColorOn READ colorOn WRITE setColorOn)
    Q_PROPERTY(QColor ColorOff READ colorOff WRITE setColorOff)
  public:
    explicit LedControl(QWidget* parent);
    bool active() const { return m_active; }
    void setActive(bool v);
    bool scriptFlag() const override { return m_active; }
    void setScriptFlag(bool v) override { setActive(v); }
    QColor colorOn() const { return m_on; }
    void setColorOn(const QColor& c);
    QColor colorOff() const { return m_off; }
    void setColorOff(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    bool m_active = false;
    QColor m_on{60, 255, 60};
    QColor m_off{20, 70, 20};
};

// TVrCheckLed: a check box whose box is an LED; clicking (or Space) toggles Checked.
class CheckLedControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(bool Checked READ checked WRITE setChecked)
    Q_PROPERTY(QByteArray Caption READ caption WRITE setCaption)
    Q_PROPERTY(QColor ColorOn READ colorOn WRITE setColorOn)
    Q_PROPERTY(QColor ColorOff READ colorOff WRITE setColorOff)
  public:
    explicit CheckLedControl(QWidget* parent);
    bool checked() const { return m_checked; }
    void setChecked(bool v);
    bool scriptFlag() const override { return m_checked; }
    void setScriptFlag(bool v) override { setChecked(v); }
    QByteArray caption() const { return m_caption; }
    void setCaption(const QByteArray& v);
    QColor colorOn() const { return m_on; }
    void setColorOn(const QColor& c);
    QColor colorOff() const { return m_off; }
    void setColorOff(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    void toggleByUser();
    bool m_checked = false;
    QByteArray m_caption;
    QColor m_on{60, 255, 60};
    QColor m_off{20, 70, 20};
};

// TVrMatrix: a dot-matrix display: one 5-by-7 cell per character, Cells characters wide.
class MatrixControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(QByteArray Text READ text WRITE setText)
    Q_PROPERTY(int Cells READ cells WRITE setCells)
    Q_PROPERTY(QColor ColorOn READ colorOn WRITE setColorOn)
    Q_PROPERTY(QColor ColorOff READ colorOff WRITE setColorOff)
  public:
    explicit MatrixControl(QWidget* parent);
    QByteArray text() const { return m_text; }
    void setText(const QByteArray& v);
    std::string scriptText() const override { return m_text.toStdString(); }
    void setScriptText(std::string v) override {
        setText(QByteArray(v.data(), static_cast<qsizetype>(v.size())));
    }
    int cells() const { return m_cells; }
    void setCells(int v);
    QColor colorOn() const { return m_on; }
    void setColorOn(const QColor& c);
    QColor colorOff() const { return m_off; }
    void setColorOff(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QByteArray m_text;
    int m_cells = 8;
    QColor m_on{255, 70, 30};
    QColor m_off{50, 14, 8};
};

// TVrPowerButton: a latching round push button with a power symbol and a lit ring.
class PowerButtonControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(bool Active READ active WRITE setActive)
    Q_PROPERTY(QColor ColorOn READ colorOn WRITE setColorOn)
    Q_PROPERTY(QColor ColorOff READ colorOff WRITE setColorOff)
  public:
    explicit PowerButtonControl(QWidget* parent);
    bool active() const { return m_active; }
    void setActive(bool v);
    bool scriptFlag() const override { return m_active; }
    void setScriptFlag(bool v) override { setActive(v); }
    QColor colorOn() const { return m_on; }
    void setColorOn(const QColor& c);
    QColor colorOff() const { return m_off; }
    void setColorOff(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    bool m_active = false;
    bool m_down = false;
    QColor m_on{40, 200, 255};
    QColor m_off{60, 64, 70};
};

// TVrDB: a momentary push button. Its caption is drawn in ColorEnter while the pointer is
// over it and in ColorLeave while away; while a mouse button is held on it the two are
// swapped and its tool tip (the rack's Hint) is "On", after release "Off". Scripts read the
// pressed state from that hint, so a button never pressed has neither.
class MomentaryButtonControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(QByteArray Caption READ caption WRITE setCaption)
    Q_PROPERTY(QColor ColorEnter READ colorEnter WRITE setColorEnter)
    Q_PROPERTY(QColor ColorLeave READ colorLeave WRITE setColorLeave)
    Q_PROPERTY(QColor FaceColor READ faceColor WRITE setFaceColor)
  public:
    explicit MomentaryButtonControl(QWidget* parent);
    QByteArray caption() const { return m_caption; }
    void setCaption(const QByteArray& v);
    QColor colorEnter() const { return m_enter; }
    void setColorEnter(const QColor& c);
    QColor colorLeave() const { return m_leave; }
    void setColorLeave(const QColor& c);
    QColor faceColor() const { return m_face; }
    void setFaceColor(const QColor& c);
    bool isDown() const { return m_down; }
    // "1" or "0" from the hint, "" while it is neither.
    std::string scriptText() const override;

  protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

  private:
    QByteArray m_caption;
    QColor m_enter{255, 210, 60};
    QColor m_leave{200, 200, 200};
    QColor m_face{58, 62, 70};
    bool m_hover = false;
    bool m_down = false;
};

// TVrSwitch: a rotary selector knob with Positions marks; Offset is the selected mark,
// 0..Positions-1. A click steps it on (wrapping), a right click back; wheel and arrow keys
// step without wrapping.
class SwitchControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(int Positions READ positions WRITE setPositions)
    Q_PROPERTY(int Offset READ offset WRITE setOffset)
    Q_PROPERTY(QColor ColorOn READ colorOn WRITE setColorOn)
    Q_PROPERTY(QColor ColorOff READ colorOff WRITE setColorOff)
    Q_PROPERTY(QColor KnobColor READ knobColor WRITE setKnobColor)
  public:
    explicit SwitchControl(QWidget* parent);
    int positions() const { return m_positions; }
    void setPositions(int v);
    int offset() const { return m_offset; }
    void setOffset(int v);
    int scriptInteger() const override { return m_offset; }
    void setScriptInteger(int v) override { setOffset(v); }
    QColor colorOn() const { return m_on; }
    void setColorOn(const QColor& c);
    QColor colorOff() const { return m_off; }
    void setColorOff(const QColor& c);
    QColor knobColor() const { return m_knob; }
    void setKnobColor(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    void stepByUser(int delta, bool wrap);
    int m_positions = 3;
    int m_offset = 0;
    QColor m_on{255, 170, 0};
    QColor m_off{70, 50, 20};
    QColor m_knob{90, 94, 102};
};

// TVrNum: a seven-segment LED number display. Value is clamped into Min..Max; Digits is the
// least number of digit places shown (more appear when the value needs them).
class NumberControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(int Max READ max WRITE setMax)
    Q_PROPERTY(int Min READ min WRITE setMin)
    Q_PROPERTY(int Value READ value WRITE setValue)
    Q_PROPERTY(int Digits READ digits WRITE setDigits)
    Q_PROPERTY(bool LeadingZero READ leadingZero WRITE setLeadingZero)
    Q_PROPERTY(QColor ColorOn READ colorOn WRITE setColorOn)
    Q_PROPERTY(QColor ColorOff READ colorOff WRITE setColorOff)
  public:
    explicit NumberControl(QWidget* parent);
    int max() const { return m_max; }
    void setMax(int v);
    int min() const { return m_min; }
    void setMin(int v);
    int value() const { return m_value; }
    void setValue(int v);
    int scriptInteger() const override { return m_value; }
    void setScriptInteger(int v) override { setValue(v); }
    int digits() const { return m_digits; }
    void setDigits(int v);
    bool leadingZero() const { return m_leadingZero; }
    void setLeadingZero(bool v);
    QColor colorOn() const { return m_on; }
    void setColorOn(const QColor& c);
    QColor colorOff() const { return m_off; }
    void setColorOff(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    int m_max = 9999;
    int m_min = 0;
    int m_value = 0;
    int m_digits = 4;
    bool m_leadingZero = false;
    QColor m_on{255, 40, 30};
    QColor m_off{48, 10, 8};
};

// TVrSpinner: an up and a down button. It holds no value: the rack links the two signals to
// the TVrNum the spinner's hint names. Up/Down keys click too.
class SpinnerControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(QString Orientation READ orientation WRITE setOrientation)
    Q_PROPERTY(QColor ArrowColor READ arrowColor WRITE setArrowColor)
    Q_PROPERTY(QColor FaceColor READ faceColor WRITE setFaceColor)
  public:
    explicit SpinnerControl(QWidget* parent);
    QString orientation() const;
    void setOrientation(const QString& v);
    QColor arrowColor() const { return m_arrow; }
    void setArrowColor(const QColor& c);
    QColor faceColor() const { return m_face; }
    void setFaceColor(const QColor& c);

  signals:
    void upClicked();
    void downClicked();

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    // The up button's half (the top, or the right when horizontal).
    QRectF upRect() const;
    QRectF downRect() const;
    bool m_vertical = true;
    int m_down = 0; // the half held down: 1 up, -1 down, 0 none
    QColor m_arrow{230, 230, 230};
    QColor m_face{64, 68, 76};
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
    int segments() const { return m_segments; }
    void setSegments(int v);
    QColor colorOn() const { return m_on; }
    void setColorOn(const QColor& c);
    QColor colorOff() const { return m_off; }
    void setColorOff(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    bool m_vertical = false;
    int m_segments = 20;
    QColor m_on{60, 230, 90};
    QColor m_off{18, 48, 24};
};

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
    bool active() const { return m_active; }
    void setActive(bool v);
    int interval() const { return m_interval; }
    void setInterval(int v);
    int channels() const { return m_channels; }
    void setChannels(int v);
    int max() const { return m_max; }
    void setMax(int v);
    int min() const { return m_min; }
    void setMin(int v);
    int step() const { return m_step; }
    void setStep(int v);
    int gridSize() const { return m_grid; }
    void setGridSize(int v);
    QColor gridColor() const { return m_gridColor; }
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

    void setDataRequest(DataRequest request) { m_request = std::move(request); }
    void setSampleRequest(DataRequest request) override { setDataRequest(std::move(request)); }
    void setSampling(bool on) override { setActive(on); }
    bool sampling() const override { return m_active; }
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
    QTimer* m_timer;
    DataRequest m_request;
    std::deque<int> m_samples[kMaxChannels];
    bool m_active = false;
    int m_interval = 100;
    int m_channels = 1;
    int m_max = 100;
    int m_min = 0;
    int m_step = 2;
    int m_grid = 20;
    QColor m_gridColor{0, 90, 40};
    QColor m_colors[kMaxChannels];
};

// TLcd: a character LCD module: dark 5-by-7 characters on a lit green glass, Columns
// characters by Rows lines; a line feed in Text starts the next row.
class LcdControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(QByteArray Text READ text WRITE setText)
    Q_PROPERTY(int Columns READ columns WRITE setColumns)
    Q_PROPERTY(int Rows READ rows WRITE setRows)
    Q_PROPERTY(QColor BackColor READ backColor WRITE setBackColor)
    Q_PROPERTY(QColor ColorOn READ colorOn WRITE setColorOn)
  public:
    explicit LcdControl(QWidget* parent);
    QByteArray text() const { return m_text; }
    void setText(const QByteArray& v);
    int columns() const { return m_columns; }
    void setColumns(int v);
    int rows() const { return m_rows; }
    void setRows(int v);
    QColor backColor() const { return m_back; }
    void setBackColor(const QColor& c);
    QColor colorOn() const { return m_on; }
    void setColorOn(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QByteArray m_text;
    int m_columns = 16;
    int m_rows = 2;
    QColor m_back{150, 196, 70};
    QColor m_on{20, 34, 12};
};

// TVrBorder: a bevelled frame around a group of instruments; its inside stays clear.
class BorderControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(QString BevelStyle READ bevelStyle WRITE setBevelStyle)
    Q_PROPERTY(int BevelWidth READ bevelWidth WRITE setBevelWidth)
    Q_PROPERTY(QColor HighlightColor READ highlightColor WRITE setHighlightColor)
    Q_PROPERTY(QColor ShadowColor READ shadowColor WRITE setShadowColor)
  public:
    explicit BorderControl(QWidget* parent);
    QString bevelStyle() const { return m_raised ? "bvRaised" : "bvLowered"; }
    void setBevelStyle(const QString& v);
    int bevelWidth() const { return m_width; }
    void setBevelWidth(int v);
    QColor highlightColor() const { return m_light; }
    void setHighlightColor(const QColor& c);
    QColor shadowColor() const { return m_shadow; }
    void setShadowColor(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    bool m_raised = false;
    int m_width = 2;
    QColor m_light{120, 124, 132};
    QColor m_shadow{8, 8, 10};
};

// TVrGradient: a panel shaded from StartColor to EndColor, top to bottom or left to right.
class GradientControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(QColor StartColor READ startColor WRITE setStartColor)
    Q_PROPERTY(QColor EndColor READ endColor WRITE setEndColor)
    Q_PROPERTY(QString Direction READ direction WRITE setDirection)
  public:
    explicit GradientControl(QWidget* parent);
    QColor startColor() const { return m_start; }
    void setStartColor(const QColor& c);
    QColor endColor() const { return m_end; }
    void setEndColor(const QColor& c);
    QString direction() const { return m_vertical ? "gdVertical" : "gdHorizontal"; }
    void setDirection(const QString& v);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QColor m_start{48, 56, 72};
    QColor m_end{8, 10, 14};
    bool m_vertical = true;
};

} // namespace nv::rack
