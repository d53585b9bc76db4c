// Draws the main window with a script in it into a PNG so that a person can look at it.
// Usage: shell_screenshot OUT.png [WIDTH [error]]  (under Xvfb, or QT_QPA_PLATFORM=offscreen)
// "error": a run that ends in a fatal error, its line marked and the log line followed.
#include "shell/mainform.h"
#include "shell/scripteditor.h"

#include <QApplication>
#include <QFile>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    // A folder of its own, so that the settings the window writes at quit go nowhere else.
    QTemporaryDir program;
    qputenv("XDG_CONFIG_HOME", program.path().toUtf8()); // where root's settings go
    {
        QFile ini(program.filePath(QStringLiteral("norvane.ini")));
        ini.open(QIODevice::WriteOnly);
        ini.write("[recent]\nMRU1=/home/lab/meter.nvs\nMRU2=/home/lab/psu-ramp.nvs\n"
                  "MRU3=/home/lab/burn-in.nvs\n");
    }
    nv::MainWindow::Options options;
    options.programDir = program.path();
    nv::MainWindow form(options);
    form.editor()->setBytes(
        "# Ask the meter for a reading every second  {see https://norvane.test/meter}\n"
        "openport(\"com1\", 9600, 8, \"n\", \"1\")\n"
        "for (i, 1, 10, 1)\n"
        "    send(\"com1\", \"READ?\" & chr(13))\n"
        "    x = receive(\"com1\")\n"
        "    n = len(x)\n"
        "    if (n >> 10)\n"
        "        writelog(\"reading \" & i & \": \" & x)\n"
        "    endif\n"
        "    flush(\"com1\")\n"
        "next\n"
        "closeport(\"com1\")\n");
    form.move(40, 40);
    form.resize(argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 820, 560);
    form.show();
    form.appendLog("12:00:01: Script started");
    form.appendLog("12:00:01: Port opened: com1");
    form.appendLog("12:00:02, from line 8: reading 1: +1.0234E+00");
    // A change not yet saved: the title shows the mark.
    form.editor()->setCursorPosition(11, 0);
    form.editor()->insert(QStringLiteral("# done\n"));
    form.jumpToLogLine(2);
    if (argc > 3 && QByteArray(argv[3]) == "error") {
        form.editor()->setBytes("writelog(\"start\")\nstep = 0\nfor (i, 1, 10, step)\n"
                                "    writelog(i)\nnext\n");
        QTimer::singleShot(200, [&] {
            form.runScript();
            form.jumpToLogLine(1);
            form.jumpToLogLine(2);
        });
    }
    QTimer::singleShot(600, [&] {
        QPixmap shot;
        if (QGuiApplication::platformName() == QLatin1String("xcb"))
            shot = form.screen()->grabWindow(0, form.frameGeometry().x(), form.frameGeometry().y(),
                                             form.frameGeometry().width(),
                                             form.frameGeometry().height());
        if (shot.isNull()) shot = form.grab();
        shot.save(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("norvane.png"));
        app.quit();
    });
    return app.exec();
}
