// Stand-ins for the painted instruments, keeping their contract (Qt properties named as in
// rack files, clamping setters, spinner signals, the scope's data request), so that the rack
// can be tested on its own.
#pragma once

#include <QColor>
#include <QWidget>
#include <algorithm>
#include <functional>

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
    Q_INVOKABLE void setDataRequest(std::function<int(int, int)> request) {
        request_ = std::move(request);
    }
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

  private:
    double position_ = 0;
};
