// The buttons and knobs: TVrPowerButton, TVrDB, TVrSwitch and TVrSpinner.
// Declared for the rack, the tests and the gallery (see instruments/controls.h).
//
// Threading: user-interface thread only. Error policy: setters never throw; out-of-range
// values are clamped, unknown identifiers ignored.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QString>

#include "instruments/common.h"

namespace nv::rack {

// TVrPowerButton: a latching round push button with a power symbol and a lit ring.
class PowerButtonControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(bool Active READ active WRITE setActive)
    Q_PROPERTY(QColor ColorOn READ colorOn WRITE setColorOn)
    Q_PROPERTY(QColor ColorOff READ colorOff WRITE setColorOff)
  public:
    explicit PowerButtonControl(QWidget* parent);
    bool active() const { return active_; }
    void setActive(bool v);
    bool scriptFlag() const override { return active_; }
    void setScriptFlag(bool v) override { setActive(v); }
    QColor colorOn() const { return on_; }
    void setColorOn(const QColor& c);
    QColor colorOff() const { return off_; }
    void setColorOff(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    bool active_ = false;
    bool down_ = false;
    QColor on_{40, 200, 255};
    QColor off_{60, 64, 70};
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
    QByteArray caption() const { return caption_; }
    void setCaption(const QByteArray& v);
    QColor colorEnter() const { return enter_; }
    void setColorEnter(const QColor& c);
    QColor colorLeave() const { return leave_; }
    void setColorLeave(const QColor& c);
    QColor faceColor() const { return face_; }
    void setFaceColor(const QColor& c);
    bool isDown() const { return down_; }
    // "1" or "0" from the hint, "" while it is neither.
    std::string scriptText() const override;

  protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

  private:
    QByteArray caption_;
    QColor enter_{255, 210, 60};
    QColor leave_{200, 200, 200};
    QColor face_{58, 62, 70};
    bool hover_ = false;
    bool down_ = false;
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
    int positions() const { return positions_; }
    void setPositions(int v);
    int offset() const { return offset_; }
    void setOffset(int v);
    int scriptInteger() const override { return offset_; }
    void setScriptInteger(int v) override { setOffset(v); }
    QColor colorOn() const { return on_; }
    void setColorOn(const QColor& c);
    QColor colorOff() const { return off_; }
    void setColorOff(const QColor& c);
    QColor knobColor() const { return knob_; }
    void setKnobColor(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    void stepByUser(int delta, bool wrap);
    int positions_ = 3;
    int offset_ = 0;
    QColor on_{255, 170, 0};
    QColor off_{70, 50, 20};
    QColor knob_{90, 94, 102};
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
    QColor arrowColor() const { return arrow_; }
    void setArrowColor(const QColor& c);
    QColor faceColor() const { return face_; }
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
    bool vertical_ = true;
    int down_ = 0; // the half held down: 1 up, -1 down, 0 none
    QColor arrow_{230, 230, 230};
    QColor face_{64, 68, 76};
};

} // namespace nv::rack
