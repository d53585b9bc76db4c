#include "shell/bars.h"

#include <QDataStream>
#include <QIODevice>
#include <algorithm>
#include <map>
#include <set>

namespace nv {

namespace {

// The part of QMainWindow's state before the tool bar section (no dock widgets): version
// marker, version, dock marker, dock count, central size and the four corners.
constexpr int kToolBarSectionAt = 37;
constexpr uchar kToolBarMarker = 0xfc;
constexpr int kTopDock = 2;

// A floating bar's rectangle as the state stores it; bit 0 marks it floating.
void packFloating(const QRect& r, uint& geom0, uint& geom1) {
    geom0 = ((uint(r.width()) & 0xffff) << 16 | (uint(r.x() + 0x7fff) & 0xffff)) << 1 | 1;
    geom1 = (uint(r.height()) & 0xffff) << 16 | (uint(r.y() + 0x7fff) & 0xffff);
}

void dockInOrder(QMainWindow& window, const std::vector<BarPlace>& bars) {
    std::vector<BarPlace> sorted = bars;
    std::stable_sort(sorted.begin(), sorted.end(), [](const BarPlace& a, const BarPlace& b) {
        return std::pair(a.place.row, a.place.pos) < std::pair(b.place.row, b.place.pos);
    });
    for (const BarPlace& b : sorted)
        window.removeToolBar(b.bar);
    for (size_t i = 0; i < sorted.size(); ++i) {
        if (i > 0 && sorted[i].place.row != sorted[i - 1].place.row)
            window.addToolBarBreak(Qt::TopToolBarArea);
        window.addToolBar(Qt::TopToolBarArea, sorted[i].bar);
        sorted[i].bar->show();
    }
}

} // namespace

void applyBarPlaces(QMainWindow& window, const std::vector<BarPlace>& bars) {
    const QByteArray state = window.saveState();
    if (state.size() <= kToolBarSectionAt ||
        static_cast<uchar>(state[kToolBarSectionAt]) != kToolBarMarker) {
        dockInOrder(window, bars);
        return;
    }

    std::map<int, std::vector<const BarPlace*>> rows;
    std::vector<const BarPlace*> floating;
    for (const BarPlace& b : bars) {
        if (b.place.floating)
            floating.push_back(&b);
        else
            rows[b.place.row].push_back(&b);
    }

    QByteArray out = state.left(kToolBarSectionAt);
    QDataStream s(&out, QIODevice::Append);
    s.setVersion(QDataStream::Qt_5_0);
    s << kToolBarMarker << int(rows.size() + floating.size());
    for (auto& [row, items] : rows) {
        std::stable_sort(items.begin(), items.end(), [](const BarPlace* a, const BarPlace* b) {
            return a->place.pos < b->place.pos;
        });
        s << kTopDock << int(items.size());
        for (const BarPlace* b : items)
            s << b->bar->objectName() << uchar(1) << std::max(0, b->place.pos) << int(-1) << uint(0)
              << uint(0);
    }
    // Floating bars come back at their default places, not where they were left.
    int n = 0;
    for (const BarPlace* b : floating) {
        const QSize size = b->bar->sizeHint().expandedTo(QSize(40, 24));
        const QRect r(window.pos() + QPoint(60, 90 + 40 * n++), size);
        uint g0, g1;
        packFloating(r, g0, g1);
        s << kTopDock << int(1) << b->bar->objectName() << uchar(1) << int(0) << int(-1) << g0
          << g1;
    }
    if (!window.restoreState(out)) dockInOrder(window, bars);
}

BarSettings currentBarPlace(const QMainWindow& window, const std::vector<QToolBar*>& all,
                            QToolBar* bar) {
    BarSettings b;
    if (bar->isFloating()) {
        b.floating = true;
        b.x = bar->x();
        b.y = bar->y();
        return b;
    }
    std::set<int> lines;
    for (QToolBar* t : all)
        if (!t->isFloating() && window.toolBarArea(t) == Qt::TopToolBarArea) lines.insert(t->y());
    b.row = static_cast<int>(std::distance(lines.begin(), lines.find(bar->y())));
    b.pos = bar->x();
    return b;
}

} // namespace nv
