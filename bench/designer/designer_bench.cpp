// The rack designer's drag: a control dragged across a rack of 200 controls, one mouse move
// per frame, each frame measured from the mouse event until the window system has the new
// picture (the repaint, the flush and a round trip to the X server). Reports the median, the
// 95th percentile and the worst frame; the goal is 16 ms for the median and the 95th
// percentile in a Release build under Xvfb.
//
// Usage: bench_designer [frames]   (under xvfb-run, or any X display)
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "rack/controls.h"
#include "designer/designcanvas.h"
#include "designer/designerwindow.h"

using namespace nv::designer;

namespace {

void send(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    const QPointF local(at);
    QMouseEvent e(type, local, w->mapToGlobal(local), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(10, atoi(argv[1])) : 600;

    DesignerWindow w;
    DesignModel& m = w.model();
    m.setProperty(-1, "ClientWidth", nv::rack::intValue(760));
    m.setProperty(-1, "ClientHeight", nv::rack::intValue(600));
    // 200 controls of every class, 20 by 10, as a crowded front panel.
    const auto& classes = nv::rack::controlClasses();
    for (int i = 0; i < 200; ++i) {
        const std::string cls(classes[size_t(i) % classes.size()].name);
        m.add(cls, {8 + (i % 20) * 37, 8 + (i / 20) * 59, 34, 56});
    }
    // One control of its own to drag, on top of the others.
    const int dragged = m.add("TVrAngularMeter", {40, 40, 96, 96});
    w.resize(1270, 770);
    w.show();
    if (!QTest::qWaitForWindowExposed(&w)) return 1;
    QTest::qWait(300);

    QWidget* layer = w.canvas().layer();
    const QPoint grab(88, 88);
    send(layer, QEvent::MouseButtonPress, grab, Qt::LeftButton);
    std::vector<double> ms;
    ms.reserve(size_t(frames));
    QElapsedTimer t;
    for (int f = 0; f < frames; ++f) {
        // Back and forth across the crowded rack, diagonally.
        const int phase = f % 200, k = phase < 100 ? phase : 200 - phase;
        const QPoint at = grab + QPoint(k * 5, k * 4);
        t.start();
        send(layer, QEvent::MouseMove, at, Qt::LeftButton);
        QApplication::processEvents();
        QGuiApplication::sync();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    send(layer, QEvent::MouseButtonRelease, grab + QPoint(40, 32), Qt::NoButton);
    const auto r = m.rect(dragged);
    std::printf("designer drag, %d controls, %d frames (platform %s): median %.2f ms, "
                "p95 %.2f ms, worst %.2f ms; control ends at %d,%d\n",
                m.count(), frames, qPrintable(QGuiApplication::platformName()), percentile(ms, 0.5),
                percentile(ms, 0.95), *std::max_element(ms.begin(), ms.end()), r.x, r.y);
    return 0;
}
