// The lights and displays: TVrLed, TVrCheckLed, TVrMatrix, TVrNum and TLcd.
// Declared for the rack, the tests and the gallery (see instruments/controls.h).
//
// Threading: user-interface thread only. Error policy: setters never throw; out-of-range
// values are clamped, unknown identifiers ignored.
#pragma once

#include <QByteArray>
#include <QColor>

#include "instruments/common.h"

namespace nv::rack {

// TVrLed: a round lamp that glows in ColorOn when Active and shows ColorOff when not.
class LedControl : public InstrumentControl {
    Q_OBJECT
    Q_PROPERTY(bool Active READ active WRITE setActive)
    Q_PROPERTY(QColor ColorOn READ colorOn WRITE setColorOn)
    Q_PROPERTY(QColor ColorOff READ colorOff WRITE setColorOff)
  public:
    explicit LedControl(QWidget* parent);
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

  private:
    bool active_ = false;
    QColor on_{60, 255, 60};
    QColor off_{20, 70, 20};
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
    bool checked() const { return checked_; }
    void setChecked(bool v);
    bool scriptFlag() const override { return checked_; }
    void setScriptFlag(bool v) override { setChecked(v); }
    QByteArray caption() const { return caption_; }
    void setCaption(const QByteArray& v);
    QColor colorOn() const { return on_; }
    void setColorOn(const QColor& c);
    QColor colorOff() const { return off_; }
    void setColorOff(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    void toggleByUser();
    bool checked_ = false;
    QByteArray caption_;
    QColor on_{60, 255, 60};
    QColor off_{20, 70, 20};
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
    QByteArray text() const { return text_; }
    void setText(const QByteArray& v);
    std::string scriptText() const override { return text_.toStdString(); }
    void setScriptText(std::string v) override {
        setText(QByteArray(v.data(), static_cast<qsizetype>(v.size())));
    }
    int cells() const { return cells_; }
    void setCells(int v);
    QColor colorOn() const { return on_; }
    void setColorOn(const QColor& c);
    QColor colorOff() const { return off_; }
    void setColorOff(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QByteArray text_;
    int cells_ = 8;
    QColor on_{255, 70, 30};
    QColor off_{50, 14, 8};
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
    int max() const { return max_; }
    void setMax(int v);
    int min() const { return min_; }
    void setMin(int v);
    int value() const { return value_; }
    void setValue(int v);
    int scriptInteger() const override { return value_; }
    void setScriptInteger(int v) override { setValue(v); }
    int digits() const { return digits_; }
    void setDigits(int v);
    bool leadingZero() const { return leadingZero_; }
    void setLeadingZero(bool v);
    QColor colorOn() const { return on_; }
    void setColorOn(const QColor& c);
    QColor colorOff() const { return off_; }
    void setColorOff(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    int max_ = 9999;
    int min_ = 0;
    int value_ = 0;
    int digits_ = 4;
    bool leadingZero_ = false;
    QColor on_{255, 40, 30};
    QColor off_{48, 10, 8};
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
    QByteArray text() const { return text_; }
    void setText(const QByteArray& v);
    int columns() const { return columns_; }
    void setColumns(int v);
    int rows() const { return rows_; }
    void setRows(int v);
    QColor backColor() const { return back_; }
    void setBackColor(const QColor& c);
    QColor colorOn() const { return on_; }
    void setColorOn(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QByteArray text_;
    int columns_ = 16;
    int rows_ = 2;
    QColor back_{150, 196, 70};
    QColor on_{20, 34, 12};
};

} // namespace nv::rack
