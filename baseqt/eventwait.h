// Sleeping in the Qt event loop until something happens, for the hosts a script runs in (the
// main window and norvane-run): one copy of the wait, since its subtle part is easy to lose.
//
// A blocking pass (QEventLoop::WaitForMoreEvents) ends as soon as something wakes it, but a
// posted event that woke it (the bytes a serial receive thread hands over, a queued call)
// is delivered only by the next pass. A caller that then looked, found nothing new and
// waited again would sleep to its deadline with the answer already queued; so each wait
// here ends with one more pass that does not block.
//
// Threading: the user-interface thread only. Errors: none.
#pragma once

namespace nv {

// Until an event has been handled.
void waitForQtEvents();
// The same, or until `ms` milliseconds have passed.
void waitForQtEventsFor(int ms);

} // namespace nv
