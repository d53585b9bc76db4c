// Ending the program by signal the way the Stop command ends a run. The first of the
// watched signals is noted and handed to the main thread through a self-pipe (the handler
// itself only writes one byte, which is async-signal-safe); there `onFirst` runs at the next
// event round, which a running script reaches between two lines. A second signal ends the
// process at once with 128 + its number, for when the orderly end does not come.
//
// The handlers are installed without SA_RESTART: a blocking read (inputbox reading standard
// input) then returns with EINTR instead of holding the run until input arrives.
//
// Threading: create and destroy on the user-interface thread, after the QCoreApplication;
// one instance at a time. The handler may run on any thread. Errors: when the pipe cannot be
// made, the signals keep their default action (the process ends as before).
#pragma once

#include <QObject>
#include <functional>
#include <initializer_list>
#include <vector>

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

    std::function<void()> onFirst_;
    QSocketNotifier* notifier_ = nullptr;
    std::vector<int> signals_;
};

} // namespace nv
