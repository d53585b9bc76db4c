// Ending the program by signal the way the Stop command ends a run: the signal pipe
// (cli/signalpipe.h) seen through the event loop, where `onFirst` runs at the next event
// round, which a running script reaches between two lines. A second signal ends the process
// at once with 128 + its number.
//
// Threading: create and destroy on the user-interface thread, after the QCoreApplication;
// one instance at a time. Errors: when the pipe cannot be made, the signals keep their
// default action (the process ends as before).
#pragma once

#include <QObject>
#include <functional>
#include <initializer_list>
#include <vector>

#include "cli/signalpipe.h"

class QSocketNotifier;

namespace nv {

class StopSignals : public QObject {
  public:
    StopSignals(std::initializer_list<int> watched, std::function<void()> onFirst);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The first watched signal received so far, 0 when none came.
    static int received();

  private:
    void drain();

    SignalPipe pipe_;
    std::function<void()> onFirst_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace nv
