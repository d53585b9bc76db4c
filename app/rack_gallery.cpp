// rack_gallery <folder>: draws every instrument class with sample values to PNG files, each
// at 1:1 (<Class>.png) and at a device pixel ratio of 2 (<Class>@2x.png), and all of them on
// one sheet (gallery.png, gallery@2x.png). With --defaults, every class as the rack makes it
// (own size, no property set). Runs without a display (offscreen platform).
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string_view>

#include "instruments/controls.h"
#include "instruments/instruments.h"

using namespace nv::rack;

namespace {

struct Sample {
    const char* file;      // the picture's name
    const char* className; // the rack-file class
    QSize size;
    std::vector<std::pair<const char*, QVariant>> properties;
};

std::vector<Sample> samples() {
    return {
        {"TVrSlider", "TVrSlider", {48, 170}, {{"Position", 65}}},
        {"TVrTrackBar", "TVrTrackBar", {220, 48}, {{"Position", 40}}},
        {"TVrMeter", "TVrMeter", {200, 130}, {{"Position", 62}, {"Caption", QByteArray("V")}}},
        {"TVrAngularMeter",
         "TVrAngularMeter",
         {160, 160},
         {{"Position", 72.5}, {"Caption", QByteArray("bar")}}},
        {"TVrPowerMeter", "TVrPowerMeter", {190, 115}, {{"Value", 68.0}}},
        {"TVrLed", "TVrLed", {32, 32}, {{"Active", true}}},
        {"TVrLed-off", "TVrLed", {32, 32}, {}},
        {"TVrCheckLed",
         "TVrCheckLed",
         {130, 26},
         {{"Checked", true}, {"Caption", QByteArray("Heater")}}},
        {"TVrMatrix", "TVrMatrix", {230, 44}, {{"Text", QByteArray("NORVANE")}}},
        {"TVrPowerButton", "TVrPowerButton", {60, 60}, {{"Active", true}}},
        {"TVrDB", "TVrDB", {110, 36}, {{"Caption", QByteArray("START")}}},
        {"TVrSwitch", "TVrSwitch", {76, 76}, {{"Positions", 5}, {"Offset", 2}}},
        {"TVrNum", "TVrNum", {150, 60}, {{"Value", 1234}}},
        {"TVrSpinner", "TVrSpinner", {26, 50}, {}},
        {"TVrProgressBar", "TVrProgressBar", {220, 24}, {{"Position", 70}}},
        {"TVrScope", "TVrScope", {280, 160}, {{"Channels", 2}}},
        {"TLcd", "TLcd", {230, 64}, {{"Text", QByteArray("Temp    23.5 C\nSetpoint 25.0 C")}}},
        {"TVrBorder", "TVrBorder", {160, 90}, {}},
        {"TVrGradient", "TVrGradient", {160, 90}, {}},
        {"TVrSlider-horizontal",
         "TVrSlider",
         {170, 44},
         {{"Orientation", "voHorizontal"}, {"Position", 30}}},
        {"TVrTrackBar-vertical",
         "TVrTrackBar",
         {48, 170},
         {{"Orientation", "voVertical"}, {"Position", 75}}},
        {"TVrProgressBar-vertical",
         "TVrProgressBar",
         {24, 150},
         {{"Orientation", "voVertical"}, {"Position", 45}, {"Segments", 0}}},
        {"TVrSpinner-horizontal", "TVrSpinner", {50, 24}, {{"Orientation", "voHorizontal"}}},
    };
}

std::unique_ptr<QWidget> build(const Sample& s) {
    std::unique_ptr<QWidget> w(createInstrument(s.className, nullptr));
    if (!w) return w;
    if (!s.size.isEmpty()) w->resize(s.size);
    for (const auto& [name, value] : s.properties)
        w->setProperty(name, value);
    if (auto* scope = qobject_cast<ScopeControl*>(w.get()); scope && !s.properties.empty()) {
        // A sine and a slower triangle, as a running scope shows them.
        for (int i = 0; i < 200; ++i) {
            scope->addSample(0, int(50 + 35 * std::sin(i * 0.12)));
            scope->addSample(1, int(20 + std::abs((i % 80) - 40)));
        }
    }
    return w;
}

QPixmap picture(QWidget* w, qreal dpr) {
    QPixmap pm(w->size() * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::black);
    w->render(&pm, QPoint(), QRegion(), QWidget::DrawChildren);
    return pm;
}

bool sheet(const std::vector<Sample>& list, qreal dpr, const QString& path) {
    // Rows of pictures with their class names under them, on the rack's black.
    const int columns = 4, gap = 16, label = 18;
    std::vector<std::unique_ptr<QWidget>> widgets;
    std::vector<QRect> places;
    int x = gap, y = gap, rowHeight = 0, width = 0, column = 0;
    for (const Sample& s : list) {
        widgets.push_back(build(s));
        const QSize size = widgets.back()->size().expandedTo(QSize(150, 0));
        if (column == columns) {
            x = gap;
            y += rowHeight + label + gap;
            rowHeight = 0;
            column = 0;
        }
        places.emplace_back(QPoint(x, y), size);
        x += size.width() + gap;
        width = std::max(width, x);
        rowHeight = std::max(rowHeight, size.height());
        ++column;
    }
    const QSize total(width, y + rowHeight + label + gap);
    QPixmap pm(total * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(QColor(0, 0, 0));
    QPainter p(&pm);
    p.setRenderHint(QPainter::TextAntialiasing);
    for (size_t i = 0; i < list.size(); ++i) {
        const QRect place = places[i];
        QWidget* w = widgets[i].get();
        w->render(&p, place.topLeft() + QPoint((place.width() - w->width()) / 2, 0), QRegion(),
                  QWidget::DrawChildren);
        p.setPen(QColor(150, 154, 162));
        p.drawText(QRect(place.left() - gap / 2, place.top() + place.height() + 2,
                         place.width() + gap, label),
                   Qt::AlignCenter, QString::fromLatin1(list[i].file));
    }
    p.end();
    return pm.save(path);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // --defaults: every class as a rack makes it, at its own size with no property set.
    const bool defaults = argc == 3 && std::string_view(argv[1]) == "--defaults";
    if (argc != 2 && !defaults) {
        std::fprintf(stderr, "usage: rack_gallery [--defaults] <folder>\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[argc - 1]));
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "rack_gallery: cannot make %s\n", argv[argc - 1]);
        return 1;
    }
    std::vector<Sample> list;
    if (defaults) {
        for (std::string_view name : instrumentClasses())
            list.push_back({name.data(), name.data(), QSize(), {}});
    } else {
        list = samples();
    }
    int failures = 0;
    for (const Sample& s : list) {
        const std::unique_ptr<QWidget> w = build(s);
        if (!w) {
            std::fprintf(stderr, "rack_gallery: %s is not an instrument class\n", s.className);
            ++failures;
            continue;
        }
        const QString base = dir.filePath(QString::fromLatin1(s.file));
        if (!picture(w.get(), 1).save(base + ".png") || !picture(w.get(), 2).save(base + "@2x.png"))
            ++failures;
    }
    if (!sheet(list, 1, dir.filePath("gallery.png")) ||
        !sheet(list, 2, dir.filePath("gallery@2x.png")))
        ++failures;
    return failures == 0 ? 0 : 1;
}
