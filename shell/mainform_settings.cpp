// The main window's settings: its place, size, log height, tool bars, recent files and the
// other windows' places, read at creation and written at close; and keeping the window on a
// screen (a place remembered on a monitor since unplugged, a size larger than the screen).
//
// Threading: user-interface thread only. Error policy: settings that cannot be read give
// the defaults, settings that cannot be written are ignored, as the program has always done;
// keys other parts of the program keep in the file are carried over.
#include "shell/mainform.h"

#include "baseqt/placement.h"
#include "shell/bars.h"
#include "shell/debugger.h"
#include "shell/platform.h"
#include "watch/watchwindow.h"
#include "wiring/subsystems.h"

#include <QAction>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLayout>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QToolBar>

namespace nv {

void MainWindow::readSettings() {
    const IniFile ini = loadSettings(settingsPaths_, *platform_);
    WindowSettings s;
    readWindowSettings(ini, s);
    move(s.x, s.y);
    resize(s.width, s.height);
    // A place remembered on a screen that is gone (a monitor unplugged) would leave the
    // window where nobody can reach it.
    const QRect wanted(QPoint(s.x, s.y), size());
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (!screens.isEmpty() && std::none_of(screens.begin(), screens.end(), [&](QScreen* sc) {
            return sc->availableGeometry().intersects(
                wanted.adjusted(0, 0, 0, -wanted.height() + 20));
        }))
        move(screens.front()->availableGeometry().topLeft());
    // A size larger than the screen (or saved at another scale factor) would put the log
    // and the status bar out of sight.
    fitToScreen();
    logHeight_ = s.logHeight;
    // A window the file holds no place for has none: it goes beside this window when first
    // shown, and the file gets no made-up place for it.
    auto place = [&ini](const char* section, int x, int y, int& outX, int& outY) {
        const bool known = ini.value(section, "x") && ini.value(section, "y");
        outX = known ? x : kNoPlace;
        outY = known ? y : kNoPlace;
    };
    Subsystems::Positions& p = subs_->positions;
    place("debug", s.watchX, s.watchY, p.watchX, p.watchY);
    place("rack", s.rackX, s.rackY, p.rackX, p.rackY);
    place("terminal", s.terminalX, s.terminalY, p.terminalX, p.terminalY);
    recent_.assign(s.recent);
    refreshRecentBar();
    applyBars(s);
    item(QStringLiteral("strictAction"))->setChecked(ini.value("script", "strict") == "1");
    debugger_->read(ini);
}

void MainWindow::writeSettings() {
    const QString& target = settingsPaths_.writePath;
    // Keys other parts of the program keep in the file (the port table) are carried over.
    IniFile ini = loadIni(QFileInfo::exists(target) ? target : settingsPaths_.readPath, *platform_);
    WindowSettings s;
    s.recent = recent_.paths();
    collectBars(s);
    s.x = pos().x();
    s.y = pos().y();
    s.width = width();
    s.height = height();
    s.logHeight = logPaneHeight();
    const Subsystems::Positions& p = subs_->positions;
    // A watch window that was never shown has no place of its own: keep the remembered one.
    const QPoint watchPos = watch_->isVisible() ? watch_->pos() : QPoint(p.watchX, p.watchY);
    s.watchX = watchPos.x();
    s.watchY = watchPos.y();
    s.terminalX = p.terminalX;
    s.terminalY = p.terminalY;
    // The rack window notes its place when it is hidden; a rack still open is asked directly.
    QWidget* rack = rackWindow ? rackWindow() : nullptr;
    const QPoint rackPos = rack && rack->isVisible() ? rack->pos() : QPoint(p.rackX, p.rackY);
    s.rackX = rackPos.x();
    s.rackY = rackPos.y();
    writeWindowSettings(ini, s);
    // Written only when on, so that a file never switched on stays as it was.
    if (item(QStringLiteral("strictAction"))->isChecked())
        ini.setValue("script", "strict", "1");
    else
        ini.remove("script", "strict");
    debugger_->write(ini);
    QString error;
    saveIni(ini, target, *platform_, error); // a settings file that cannot be written is ignored
}

void MainWindow::applyBars(const WindowSettings& s) {
    applyBarPlaces(*this,
                   {{menuBar_, s.menuBar}, {buttonBar_, s.toolBar}, {recentBar_, s.recentBar}});
}

void MainWindow::collectBars(WindowSettings& s) const {
    const std::vector<QToolBar*> all{menuBar_, buttonBar_, recentBar_};
    s.menuBar = currentBarPlace(*this, all, menuBar_);
    s.toolBar = currentBarPlace(*this, all, buttonBar_);
    s.recentBar = currentBarPlace(*this, all, recentBar_);
}

int MainWindow::logPaneHeight() const {
    return shownOnce_ ? log_->height() : logHeight_;
}

void MainWindow::fitToScreen() {
    // The frame is known only once the window manager has framed the window; before that a
    // title bar's height is allowed for.
    // pos() is the frame's corner; geometry() the inside.
    const QRect frame = frameGeometry(), inside = geometry();
    QMargins margins(inside.left() - frame.left(), inside.top() - frame.top(),
                     frame.right() - inside.right(), frame.bottom() - inside.bottom());
    if (!isVisible() || margins.isNull())
        margins = QMargins(0, style()->pixelMetric(QStyle::PM_TitleBarHeight), 0, 0);
    const QSize extra(margins.left() + margins.right(), margins.top() + margins.bottom());
    const QRect area = availableAreaFor(QRect(pos(), size() + extra));
    if (area.isEmpty()) return;
    const QSize room = area.size() - extra;
    const QSize fitted = size().boundedTo(room).expandedTo(minimumSizeHint().boundedTo(room));
    if (fitted != size()) resize(fitted);
    QRect outer(pos(), fitted + extra);
    QPoint shift;
    if (outer.right() > area.right()) shift.rx() = area.right() - outer.right();
    if (outer.bottom() > area.bottom()) shift.ry() = area.bottom() - outer.bottom();
    outer.translate(shift);
    if (outer.left() < area.left()) shift.rx() += area.left() - outer.left();
    if (outer.top() < area.top()) shift.ry() += area.top() - outer.top();
    if (!shift.isNull()) move(pos() + shift);
}

void MainWindow::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (shownOnce_) return;
    shownOnce_ = true;
    // Once framed, the real frame is known: fit again with it (a loaded desktop may frame
    // the window late, hence a second look).
    for (int ms : {300, 1200})
        QTimer::singleShot(ms, this, [this] {
            if (isVisible() && !isMaximized() && !isFullScreen()) fitToScreen();
        });
    if (QLayout* l = layout()) l->activate();
    const int total = splitter_->height() - splitter_->handleWidth();
    const int logH = std::clamp(logHeight_, 20, std::max(20, total - 40));
    splitter_->setSizes({total - logH, logH});
}

} // namespace nv
