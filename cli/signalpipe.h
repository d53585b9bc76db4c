// The stop signals without an event loop: the first of the watched signals is noted and one
// byte is written to a pipe whose read end a waiting program polls (the handler only writes
// that byte, which is async-signal-safe); a second signal ends the process at once with
// 128 + its number, for when the orderly end does not come. StopSignals hands the pipe to
// Qt's event loop; the runner's plain run (app/plainrun.h) polls it itself.
//
// The handlers are installed without SA_RESTART: a blocking read (inputbox reading standard
// input) then returns with EINTR instead of holding the run until input arrives.
//
// Threading: create and destroy on the main thread; one instance at a time. The handler may
// run on any thread. Errors: when the pipe cannot be made, the signals keep their default
// action (the process ends as before) and readFd() is -1.
#pragma once

#include <initializer_list>
#include <vector>

namespace nv {

class SignalPipe {
  public:
    explicit SignalPipe(std::initializer_list<int> watched);
    ~SignalPipe();
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    // Readable once a watched signal came; -1 when the pipe could not be made.
    int readFd() const;
    // Empties the pipe; true when it held anything.
    bool drain();
    // The first watched signal received so far, 0 when none came.
    static int received();

  private:
    std::vector<int> signals_;
};

} // namespace nv
