// The shared main of the window tests. The environment is set before QApplication reads it:
//   - XDG_CONFIG_HOME points into a folder of this run's own, removed at the end, so that the
//     settings a window writes (as root, always into the configuration folder) reach neither
//     the real user's files nor another test program running at the same time;
//   - without a display (CI, and the test listing CTest makes at build time) the platform is
//     the offscreen one; a set QT_QPA_PLATFORM, or a display (tests/x11.sh gives one), wins.
#include "tests/support/testmain.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>

namespace nvtest {

namespace {
std::function<void()>& before() {
    static std::function<void()> hook;
    return hook;
}
std::function<std::optional<int>(QApplication&)>& instead() {
    static std::function<std::optional<int>(QApplication&)> hook;
    return hook;
}
} // namespace

bool beforeApplication(std::function<void()> hook) {
    if (before()) return false;
    before() = std::move(hook);
    return true;
}

bool insteadOfTests(std::function<std::optional<int>(QApplication&)> hook) {
    if (instead()) return false;
    instead() = std::move(hook);
    return true;
}

} // namespace nvtest

int main(int argc, char** argv) {
    QTemporaryDir config;
    if (!config.isValid()) {
        std::fprintf(stderr, "no temporary folder for the settings: %s\n",
                     qPrintable(config.errorString()));
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (const auto& hook = nvtest::before()) hook();
    QApplication app(argc, argv);
    if (const auto& hook = nvtest::instead())
        if (const std::optional<int> status = hook(app)) return *status;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
