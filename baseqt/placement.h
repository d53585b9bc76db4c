// Where the program's own windows go on the screen. Remembered window places live in the
// settings file; a window that has never been shown has no place of its own, which is told by
// kNoPlace rather than by 0,0 (a real place, over the main window's menus). Such a window is
// put beside the main window instead, several of one kind cascaded, and every place is kept
// on the screen that can be seen.
//
// Threading: user-interface thread (it reads the screens). Errors: none; without a screen
// (no display) a place is returned unchanged.
#pragma once

#include <QApplication>
#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

namespace nv {

// A coordinate that was never remembered.
inline constexpr int kNoPlace = INT_MIN;

inline bool remembered(int x, int y) {
    return x != kNoPlace && y != kNoPlace;
}

// The available area (screen without panels) of the screen that holds most of `r`, or of the
// primary screen.
inline QRect availableAreaFor(const QRect& r) {
    QScreen* best = QGuiApplication::primaryScreen();
    long bestArea = -1;
    for (QScreen* s : QGuiApplication::screens()) {
        const QRect common = s->availableGeometry().intersected(r);
        const long area = common.isEmpty() ? 0 : long(common.width()) * common.height();
        if (area > bestArea) best = s, bestArea = area;
    }
    return best ? best->availableGeometry() : QRect();
}

// The top-left corner for a window of `size` (its frame included) next to `main` (the main
// window's frame): on its right when there is room, else on its left, else at the right edge
// of the screen; the n-th of several windows of one kind is moved `cascade` steps down and
// right so that each one's title stays visible.
inline QPoint placeBeside(const QRect& main, QSize size, int cascade = 0) {
    constexpr int kGap = 8, kStep = 28;
    const QRect area = availableAreaFor(main);
    if (area.isEmpty()) return main.topRight() + QPoint(kGap, 0);
    int x = main.right() + 1 + kGap;
    if (x + size.width() > area.right() + 1) {
        x = main.left() - kGap - size.width();
        if (x < area.left()) x = area.right() + 1 - size.width();
    }
    int y = main.top();
    x += cascade * kStep;
    y += cascade * kStep;
    x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - size.width()));
    y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() + 1 - size.height()));
    return {x, y};
}

// Where `window` goes beside `main` among the program's other shown windows. Windows of one
// kind (`cascade`: the terminals) take the first cascade step where no other window already
// stands, so that every title stays in sight. A window of its own kind (watch, rack) looks
// first for a place beside the main window, on its right or left, level with it or below
// another window there, where it covers nothing (its title could otherwise end up under a
// window stacked above it); failing that it cascades too.
inline QPoint placeBesideFree(const QWidget* main, const QWidget* window, bool cascade) {
    constexpr int kGap = 8;
    std::vector<QRect> taken;
    for (const QWidget* w : QApplication::topLevelWidgets())
        if (w != main && w != window && w->isVisible()) taken.push_back(w->frameGeometry());
    const QRect frame = main->frameGeometry();
    const QSize size = window->frameSize();
    if (!cascade) {
        const QRect area = availableAreaFor(frame);
        std::vector<int> ys{frame.top()};
        for (const QRect& t : taken)
            ys.push_back(t.bottom() + 1 + kGap);
        std::sort(ys.begin(), ys.end());
        for (int x : {frame.right() + 1 + kGap, frame.left() - kGap - size.width()})
            for (int y : ys) {
                const QRect r(QPoint(x, y), size);
                if (area.contains(r) &&
                    std::none_of(taken.begin(), taken.end(),
                                 [&](const QRect& t) { return t.intersects(r); }))
                    return r.topLeft();
            }
    }
    QPoint first;
    for (int step = 0; step < 24; ++step) {
        const QPoint p = placeBeside(frame, size, step);
        if (step == 0) first = p;
        const bool free = std::none_of(taken.begin(), taken.end(), [&](const QRect& t) {
            return std::abs(t.x() - p.x()) < 16 && std::abs(t.y() - p.y()) < 16;
        });
        if (free) return p;
    }
    return first;
}

// The frame a window manager puts around `w`: known once the window is framed; before that
// a title bar's height is allowed for.
inline QMargins frameMarginsOf(const QWidget* w) {
    const QRect frame = w->frameGeometry(), inside = w->geometry();
    QMargins m(inside.left() - frame.left(), inside.top() - frame.top(),
               frame.right() - inside.right(), frame.bottom() - inside.bottom());
    if (!w->isVisible() || m.isNull())
        m = QMargins(0, w->style()->pixelMetric(QStyle::PM_TitleBarHeight), 0, 0);
    return m;
}

// The corner for a frame of `frame` size at `at` moved as little as keeps it on the visible
// area of its screen (the left and top edges win on a screen smaller than the frame).
inline QPoint keepOnScreen(QPoint at, QSize frame) {
    const QRect area = availableAreaFor(QRect(at, frame));
    if (area.isEmpty()) return at;
    QRect outer(at, frame);
    if (outer.right() > area.right()) outer.moveRight(area.right());
    if (outer.bottom() > area.bottom()) outer.moveBottom(area.bottom());
    if (outer.left() < area.left()) outer.moveLeft(area.left());
    if (outer.top() < area.top()) outer.moveTop(area.top());
    return outer.topLeft();
}

// A resizable window made no larger than the visible area of its screen (never below its
// minimum size hint while that fits) and moved onto it, frame included, so that its title
// and status bar can be reached.
inline void fitWindowToScreen(QWidget* w) {
    const QMargins margins = frameMarginsOf(w);
    const QSize extra(margins.left() + margins.right(), margins.top() + margins.bottom());
    const QRect area = availableAreaFor(QRect(w->pos(), w->size() + extra));
    if (area.isEmpty()) return;
    const QSize room = area.size() - extra;
    const QSize fitted = w->size().boundedTo(room).expandedTo(w->minimumSizeHint().boundedTo(room));
    if (fitted != w->size()) w->resize(fitted);
    const QPoint at = keepOnScreen(w->pos(), fitted + extra);
    if (at != w->pos()) w->move(at);
}

} // namespace nv
