// Draws the rack designer with a rack open into a PNG, for a person to look at.
// Usage: designer_screenshot RACK OUT.png [NAME...]  (the named controls are selected)
// Under Xvfb with a window manager the picture has the window's frame.
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include "designer/designcanvas.h"
#include "designer/designerwindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    if (argc < 3) return 2;
    nv::designer::DesignerWindow w;
    if (!w.load(QString::fromLocal8Bit(argv[1]))) return 1;
    std::vector<int> sel;
    for (int i = 3; i < argc; ++i)
        sel.push_back(w.model().indexOf(argv[i]));
    w.move(0, 0);
    w.resize(1270, 770);
    w.show();
    w.canvas().setSelection(sel);
    const QString out = QString::fromLocal8Bit(argv[2]);
    QTimer::singleShot(1200, [&] {
        QPixmap shot;
        const QRect f = w.frameGeometry();
        if (QGuiApplication::platformName() == QLatin1String("xcb"))
            shot = w.screen()->grabWindow(0, f.x(), f.y(), f.width(), f.height());
        else
            shot = w.grab();
        app.exit(shot.save(out) ? 0 : 1);
    });
    return app.exec();
}
