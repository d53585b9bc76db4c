// When the interpreter passes over the event queue. A pass costs about as much as a whole
// script line, so a run passes only when something is waiting for the user-interface thread
// or when a short interval has gone by since the last pass (the window's repaints, timers,
// the Stop and Pause buttons are all served by the interval).
//
// "Something is waiting" is one process-wide flag that any thread sets cheaply: a serial
// receive thread right before it hands an event over, and a watcher thread that polls the
// descriptors registered with watchDescriptor (open TCP connections and the listening
// server) and raises the flag when one of them has data. The interpreter reads the flag on
// every line; after a pass it tells the watcher so, and the watcher looks at its
// descriptors again (a descriptor stays readable until the pass has read it, so the
// watcher does not raise the flag again before that).
//
// Threading: notify() from any thread; watchDescriptor and unwatchDescriptor from the
// user-interface thread (whoever owns the descriptor, which must unwatch it before it
// closes it; a descriptor closed first is dropped once the poll reports it invalid). The
// rest is for the interpreter's thread. Errors: none are reported; when the watcher thread
// cannot be set up, descriptors are simply served by the interval.
#pragma once

#include <atomic>

namespace nv::eventgate {

// The longest time between two passes while a script runs lines.
inline constexpr int kPassIntervalUs = 1000;

namespace detail {
extern std::atomic<bool> waiting;
}

// Any thread: something waits for the user-interface thread.
inline void notify() noexcept {
    detail::waiting.store(true, std::memory_order_release);
}
// Interpreter: whether something is waiting (a relaxed read, for every line).
inline bool waiting() noexcept {
    return detail::waiting.load(std::memory_order_relaxed);
}
// Interpreter, right before a pass: forgets the flag, so that what arrives during the pass
// raises it again.
inline void clear() noexcept {
    detail::waiting.store(false, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_seq_cst);
}
// Interpreter, after a pass.
void passDone() noexcept;

void watchDescriptor(int fd);
void unwatchDescriptor(int fd);

} // namespace nv::eventgate
