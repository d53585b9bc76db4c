// Stand-ins for the painted instruments, keeping their contract (Qt properties named as in
// rack files, clamping setters, spinner signals, the scope's data request, the typed script
// access with each class's kind and message), so that the rack can be tested on its own.
#pragma once

#include <QColor>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <string_view>

#include "instruments/scriptaccess.h"

// What a stand-in of a class shows scripts: the kind, the Qt property holding the value and
// the message of a refused setting.
struct StandInFace {
    std::string_view cls;
    nv::rack::ScriptAccess::Kind kind;
    const char* property;
    std::string_view setError;
};

inline StandInFace standInFace(std::string_view cls) {
    using K = nv::rack::ScriptAccess::Kind;
    static const StandInFace faces[] = {
        {"TVrSlider", K::Integer, "Position", "Slider: error changing position."},
        {"TVrTrackBar", K::Integer, "Position", "TrackBar: error changing position."},
        {"TVrMeter", K::Integer, "Position", "AnalogMeter: error changing position."},
        {"TVrProgressBar", K::Integer, "Position", "LevelBar: error changing position."},
        {"TVrSwitch", K::Integer, "Offset", "Switch: error changing position."},
        {"TVrNum", K::Integer, "Value", "NumericLed: error changing value."},
        {"TVrPowerMeter", K::IntegerReal, "Value", "PowerMeter: error changing position."},
        {"TVrAngularMeter", K::Real, "Position", "AngularMeter: error changing position."},
        {"TVrLed", K::Flag, "Active", "Led: error changing state."},
        {"TVrPowerButton", K::Flag, "Active", "PowerButton: error changing state."},
        {"TVrCheckLed", K::Flag, "Checked", "CheckLed: error changing state."},
        {"TVrMatrix", K::Text, "Text", "MatrixLed: error changing text."},
        {"TVrDB", K::Pressed, nullptr, {}},
        {"TVrScope", K::Sample, "Active", "Scope: error adding value."},
    };
    for (const StandInFace& f : faces)
        if (f.cls == cls) return f;
    return {cls, K::None, nullptr, {}};
}

// The typed face over the stand-in's Qt properties.
template <class Base> class FacedStandIn : public Base, public nv::rack::ScriptAccess {
  public:
    FacedStandIn(QWidget* parent, std::string_view cls) : Base(parent), face_(standInFace(cls)) {}
    Kind scriptKind() const override { return face_.kind; }
    std::string_view setError() const override { return face_.setError; }
    int scriptInteger() const override { return get().toInt(); }
    void setScriptInteger(int v) override { put(v); }
    double scriptReal() const override { return get().toDouble(); }
    void setScriptReal(double v) override { put(v); }
    bool scriptFlag() const override { return get().toBool(); }
    void setScriptFlag(bool v) override { put(v); }
    std::string scriptText() const override {
        if (face_.kind == Kind::Pressed) {
            const QString hint = this->toolTip();
            return hint == QLatin1String("On") ? "1" : hint == QLatin1String("Off") ? "0" : "";
        }
        return get().toByteArray().toStdString();
    }
    void setScriptText(std::string v) override { put(QByteArray::fromStdString(v)); }
    void setSampleRequest(DataRequest r) override { Base::setDataRequest(std::move(r)); }
    void setSampling(bool on) override { put(on); }
    bool sampling() const override { return get().toBool(); }

  private:
    QVariant get() const { return this->property(face_.property); }
    void put(const QVariant& v) { this->setProperty(face_.property, v); }
    StandInFace face_;
};

class StandIn : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Min MEMBER min_)
    Q_PROPERTY(int Max MEMBER max_)
    Q_PROPERTY(int Position READ position WRITE setPosition)
    Q_PROPERTY(int Value READ value WRITE setValue)
    Q_PROPERTY(int Offset READ offset WRITE setOffset)
    Q_PROPERTY(bool Active MEMBER active_)
    Q_PROPERTY(bool Checked MEMBER checked_)
    Q_PROPERTY(QByteArray Text MEMBER text_)
    Q_PROPERTY(QColor Color MEMBER color_)
    Q_PROPERTY(QString Orientation MEMBER orientation_)
  public:
    explicit StandIn(QWidget* parent) : QWidget(parent) {}
    int position() const { return position_; }
    void setPosition(int p) { position_ = std::clamp(p, min_, max_); }
    int value() const { return value_; }
    void setValue(int v) { value_ = std::clamp(v, min_, max_); }
    int offset() const { return offset_; }
    void setOffset(int v) { offset_ = std::clamp(v, min_, max_); }
    void setDataRequest(std::function<int(int, int)> request) { request_ = std::move(request); }
    // What the scope does when its timer fires: one request per channel.
    std::vector<int> requestSamples(int channels) {
        std::vector<int> out;
        for (int ch = 0; ch < channels; ++ch)
            out.push_back(std::clamp(request_ ? request_(ch, min_) : min_, min_, max_));
        return out;
    }
    void clickUp() { emit upClicked(); }
    void clickDown() { emit downClicked(); }

  signals:
    void upClicked();
    void downClicked();

  private:
    int min_ = 0, max_ = 100, position_ = 0, value_ = 0, offset_ = 0;
    bool active_ = false, checked_ = false;
    QByteArray text_;
    QColor color_ = Qt::green;
    QString orientation_ = QStringLiteral("voVertical");
    std::function<int(int, int)> request_;
};

// The real-valued meters.
class RealStandIn : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double Position MEMBER position_)
    Q_PROPERTY(double Value MEMBER position_)
  public:
    explicit RealStandIn(QWidget* parent) : QWidget(parent) {}
    void setDataRequest(std::function<int(int, int)>) {}

  private:
    double position_ = 0;
};
