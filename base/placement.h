// Where the program's own windows go on the screen. Remembered window places live in the
// settings file; a window that has never been shown has no place of its own, which is told by
// kNoPlace rather than by 0,0 (a real place, over the main window's menus). Such a window is
// put beside the main window instead, several of one kind cascaded, and every place is kept
// on the screen that can be seen.
//
// Threading: user-interface thread (it reads the screens). Errors: none; without a screen
// (no display) a place is returned unchanged.
#pragma once

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <algorithm>
#include <climits>

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

} // namespace nv
