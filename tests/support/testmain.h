// The one main of the test programs that need a QApplication (library norvane_test_main):
// it keeps settings out of the real user's configuration, picks the offscreen platform when
// there is no display, makes the application and runs the tests. What a program needs beyond
// that it sets up through the hooks below, from a static object in its own file, before main
// runs.
//
// Threading: main thread, before and around the tests. Error policy: no temporary folder for
// the settings ends the program with status 1 and says why; a platform that cannot start
// ends it as QApplication does.
#pragma once

#include <functional>
#include <optional>

class QApplication;

namespace nvtest {

// Runs before the application exists: environment the platform reads.
bool beforeApplication(std::function<void()> hook);
// Runs once the application exists; a status ends the program with it instead of running the
// tests (a child process a test started from its own program).
bool insteadOfTests(std::function<std::optional<int>(QApplication&)> hook);
// Each hook is set at most once per program (a second one is refused: false); the result is
// there to be kept in a static, which sets the hook before main runs.

} // namespace nvtest
