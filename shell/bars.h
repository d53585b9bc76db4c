// The dock places of the main window's three bars (menu bar, button bar, recent-files bar):
// dock row and position when docked, or floating. Qt has no call that sets a bar's row or
// makes it float, but its saved window state holds exactly those facts, so the places are
// applied by composing that state and read back from the bars' geometry.
//
// Threading: user-interface thread. Errors: when the toolkit's state format is not the one
// expected, the bars are docked in their order instead (nothing fails).
#pragma once

#include "shell/settings.h"

#include <QMainWindow>
#include <QToolBar>
#include <vector>

namespace nv {

struct BarPlace {
    QToolBar* bar;
    BarSettings place;
};

// Docks the bars at their rows and positions, or floats them at their default floating
// places. Qt packs the bars of a row from the left, so a row's number only orders the rows
// and a position only orders the bars within a row; the exact pixel is not kept.
void applyBarPlaces(QMainWindow& window, const std::vector<BarPlace>& bars);

// Where each bar is now: row = the rank of its line among the docked bars' lines.
BarSettings currentBarPlace(const QMainWindow& window, const std::vector<QToolBar*>& all,
                            QToolBar* bar);

} // namespace nv
