// The program with its window. Start-up creates the windows hidden (the main window reads
// the settings file), then either runs the one script file named on the command line, or
// runs a packed script when the program file carries one (package mode), or waits as an
// editor; then the event loop runs until the main window closes.
#include "app/display.h"
#include "app/package_slot.h"
#include "cli/stopsignals.h"
#include "builder/package.h"
#include "cli/commandline.h"
#include "engine/runtime.h"
#include "shell/mainform.h"
#include "shell/scripteditor.h"
#include "shell/startup.h"

#include <QApplication>
#include <QMessageBox>
#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

// A built program ends with 1 when its script never ran (its blocks were refused or its
// racks could not be restored), with 2 when a fatal error ended the run, and otherwise with
// the status its script set (setexitcode), 0 by default.
constexpr int kExitNotStarted = 1, kExitFatal = 2;
// Without a display the program cannot start at all.
constexpr int kExitNoDisplay = 1;

// Where there is no screen (a service, a test) a message box would wait for ever: the
// message goes to standard error always, and into a box only where someone can close it.
void reportRestoreFailure() {
    const QString message = nv::restoreFailedMessage();
    std::fprintf(stderr, "%s\n", qPrintable(message));
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
        QMessageBox::critical(nullptr, QStringLiteral("Norvane"), message);
}

// getarg(0) is the program as started; getarg(1)... the arguments after the first "--".
// Those before it keep the meaning they had (none of their own: the toolkit's options).
std::vector<std::string> packageArguments(int argc, char** argv) {
    std::vector<std::string> out{argc > 0 ? argv[0] : ""};
    int i = 1;
    while (i < argc && std::string_view(argv[i]) != "--")
        ++i;
    for (++i; i < argc; ++i)
        out.emplace_back(argv[i]);
    return out;
}

} // namespace

constexpr const char* kHelp =
    "Usage: norvane [SCRIPT]\n"
    "\n"
    "Opens the Norvane window: the script editor, the log and the Script menu. Given an\n"
    "existing script file, runs it at once (the window shows when the script shows it or\n"
    "when it ends). See also norvane-run, which runs scripts without a window.\n"
    "\n"
    "Options:\n"
    "  -h, --help   this text\n"
    "  --version    the version and the licence\n"
    "\n"
    "Exit status: 0 the window was closed, 1 no display could be reached, 128+N a signal\n"
    "ended the program.\n";

int main(int argc, char** argv) {
    // --help and --version are answered without a display. A built program answers no
    // options of its own: its command line stays the one its script expects.
    if (argc == 2 && !nv::package::present(nv::packageSlot())) {
        const std::string_view arg = argv[1];
        if (arg == "--help" || arg == "-h" || arg == "--version") {
            nv::cli::CommandLine line("norvane", kHelp);
            return line.parse(nv::cli::arguments(argc, argv)).value_or(0);
        }
    }
    // Qt aborts when its platform cannot connect; a window program without a display has
    // nothing to show, so it says why and ends.
    if (const nv::DisplayCheck display = nv::checkDisplay(); display.needed && !display.reachable) {
        std::fprintf(stderr,
                     "norvane: cannot reach the display (%s); norvane-run runs scripts without "
                     "one\n",
                     display.named.c_str());
        return kExitNoDisplay;
    }
    // A built program's script sees the program's name and what follows "--", taken before Qt
    // removes the options it knows (-style, -platform) from the command line.
    const std::vector<std::string> scriptArguments = packageArguments(argc, argv);
    QApplication app(argc, argv);
    // The desktop knows the program as "norvane": window class, XDG folders, desktop entry.
    // No display name: Qt would append it to every window title.
    QApplication::setApplicationName(QStringLiteral("norvane"));
    QApplication::setDesktopFileName(QStringLiteral("norvane"));
    QApplication::setStyle(QStringLiteral("Fusion"));

    nv::MainWindow form;
    QObject::connect(&form, &nv::MainWindow::windowClosed, &app, &QCoreApplication::quit);
    // SIGTERM (a session ending, a service manager) closes the window as the user would,
    // but without asking anything: a running script stops and the settings are written.
    nv::StopSignals terminate({SIGTERM}, [&form] { form.closeWithoutQuestions(); });
    // The status tells that a signal ended the program.
    const auto status = [](int normal) {
        const int sig = nv::StopSignals::received();
        return sig ? 128 + sig : normal;
    };

    const QStringList args = QCoreApplication::arguments().mid(1);
    nv::Package package;
    if (const QString script = nv::scriptArgument(args); !script.isEmpty()) {
        // The script runs before the window is shown, unless it shows the window itself.
        form.runFileAtStart(script);
    } else if (const nv::PackageCheck check =
                   nv::findPackage(nv::packageSlot(), form.runtime().randomState, package);
               check != nv::PackageCheck::None) {
        form.setPackageMode(true);
        if (check == nv::PackageCheck::RestoreFailed) {
            reportRestoreFailure();
            return kExitNotStarted;
        }
        // The packed script runs with the window hidden; the run's end ends the program.
        form.editor()->setBytes(package.script);
        form.runtime().scriptArguments = scriptArguments;
        switch (form.runPackagedScript()) {
        case nv::RunOutcome::Refused:
            return status(kExitNotStarted);
        case nv::RunOutcome::Fatal:
            return status(kExitFatal);
        default:
            // The script's own verdict (setexitcode), 0 unless it gave one.
            return status(form.runtime().exitCode);
        }
    }
    // A window closed while the start-up script ran leaves nothing to wait for.
    if (form.closed()) return status(0);
    form.show();
    return status(app.exec());
}
