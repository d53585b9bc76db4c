// The program with its window. Start-up creates the windows hidden (the main window reads
// the settings file), then either runs the one script file named on the command line, or
// runs a packed script when the program file carries one (package mode), or waits as an
// editor; then the event loop runs until the main window closes.
#include "app/stopsignals.h"
#include "shell/mainform.h"
#include "shell/scripteditor.h"
#include "shell/startup.h"

#include <QApplication>
#include <QMessageBox>
#include <csignal>

int main(int argc, char** argv) {
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
    QString error;
    if (const QString script = nv::scriptArgument(args); !script.isEmpty()) {
        // The script runs before the window is shown, unless it shows the window itself.
        form.runFileAtStart(script);
    } else if (nv::findPackage(QCoreApplication::applicationFilePath(), package, error)) {
        // The packed script runs with the window hidden; the run's end ends the program.
        form.setPackageMode(true);
        form.editor()->setBytes(package.script);
        form.runScript();
        return status(0);
    } else if (!error.isEmpty()) {
        QMessageBox::critical(nullptr, QStringLiteral("Norvane"),
                              QStringLiteral("Error initializing resources. Application will "
                                             "terminate."));
        return 1;
    }
    // A window closed while the start-up script ran leaves nothing to wait for.
    if (form.closed()) return status(0);
    form.show();
    return status(app.exec());
}
