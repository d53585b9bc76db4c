#include "baseqt/eventwait.h"

#include <QCoreApplication>
#include <QTimer>

namespace nv {

void waitForQtEvents() {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
}

// The timer does nothing when it fires: its event alone ends the wait.
void waitForQtEventsFor(int ms) {
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(ms);
    waitForQtEvents();
}

} // namespace nv
