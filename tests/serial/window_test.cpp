// The terminal window as "terminal.res" lays it out, and the port settings dialog driven the
// way a user does it, with `setport` and `openport(myport, ...)` run by the engine. With
// NORVANE_SCREENSHOT_DIR set, pictures of both windows are written there (run under Xvfb with
// a window manager to see the frames).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeView>

#include "engine/host.h"
#include "engine/interpreter.h"
#include "engine/runcontrol.h"
#include "engine/runtime.h"
#include "engine/text.h"
#include "fake_serial.h"
#include "pty.h"
#include "serial/serialports.h"

namespace nv::serial::test {
namespace {

struct QtHost : ScriptHost {
    std::vector<std::string> log;
    void processEvents() override { QCoreApplication::processEvents(); }
    int logLineCount() const override { return static_cast<int>(log.size()); }
    void clearLog() override { log.clear(); }
    void appendLog(std::string_view t) override {
        log.emplace_back(t.size() > 8 && t[2] == ':' ? t.substr(8) : t); // time cut off
    }
};

void screenshot(QWidget* w, const char* name) {
    const QByteArray dir = qgetenv("NORVANE_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    pumpUntil([] { return false; }, 400); // let the window manager map and frame it
    QPixmap pic =
        w->screen()
            ? w->screen()->grabWindow(0, w->frameGeometry().x(), w->frameGeometry().y(),
                                      w->frameGeometry().width(), w->frameGeometry().height())
            : w->grab();
    if (pic.isNull() || QGuiApplication::platformName() == "offscreen") pic = w->grab();
    pic.save(QString::fromUtf8(dir) + "/" + name + ".png");
}

struct Windows : ::testing::Test {
    FakePlatform* fake = new FakePlatform;
    QWidget mainWindow;
    int x = 0, y = 0;
    QtHost host;
    Runtime rt{host};
    RunControl rc{rt};
    std::unique_ptr<SerialPorts> ports;
    void SetUp() override {
        const PortMap map = fakeComOneAndThree(*fake);
        mainWindow.setGeometry(100, 100, 600, 400);
        ports = std::make_unique<SerialPorts>(
            &mainWindow, x, y,
            SerialPorts::Options{std::unique_ptr<SerialPlatform>(fake), map, ""});
        ports->install(rt);
    }
    // Runs `action` on the dialog once it is up (bounded), from inside its modal loop.
    void whenDialogShows(std::function<void(PortDialog&)> action) {
        auto* timer = new QTimer(&mainWindow);
        auto tries = std::make_shared<int>(0);
        QObject::connect(timer, &QTimer::timeout, [this, timer, tries, action] {
            PortDialog* d = ports->dialog();
            if (d->isVisible()) {
                timer->stop();
                action(*d);
            } else if (++*tries > 500) {
                timer->stop();
            }
        });
        timer->start(10);
    }
};

TEST_F(Windows, TerminalWindowFollowsItsLayoutFile) {
    TerminalLayout layout;
    std::string error;
    ASSERT_TRUE(loadTerminalLayout(
        QCoreApplication::applicationDirPath().toStdString() + "/terminal.res", layout, error))
        << error;
    EXPECT_EQ(layout.clientWidth, 246);
    EXPECT_EQ(layout.clientHeight, 124);
    EXPECT_FALSE(layout.sizeable);
    EXPECT_EQ(layout.memoColor, 0x000000u);
    EXPECT_EQ(layout.memoFontColor, 0x00FF00u);
    EXPECT_TRUE(layout.verticalScrollBar);

    TerminalWindow* t = ports->openPort("com1", "9600", "8", "n", "1");
    ASSERT_TRUE(t && t->isOpen());
    EXPECT_EQ(t->size(), QSize(246, 124));
    EXPECT_EQ(t->minimumSize(), t->maximumSize()) << "single border: not resizable";
    EXPECT_TRUE(t->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(t->memo->palette().color(QPalette::Base), QColor(Qt::black));
    EXPECT_EQ(t->memo->palette().color(QPalette::Text), QColor(0, 255, 0));
    EXPECT_EQ(t->memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_TRUE(t->memo->isReadOnly());
    EXPECT_EQ(t->memo->font().family(), "Terminal");
    // Placed at the main window's right edge, 20 pixels below its top.
    EXPECT_EQ(t->pos(), QPoint(mainWindow.frameGeometry().right() + 1 - 246, 120));

    // showterm makes it resizable, places it at the remembered position, sets the trace width.
    x = 40;
    y = 60;
    rc.run(splitLines("showterm(\"com1\", 400, 200, 16)"));
    EXPECT_TRUE(t->isVisible());
    EXPECT_NE(t->minimumSize(), t->maximumSize());
    EXPECT_EQ(t->size(), QSize(400, 200));
    EXPECT_EQ(t->bytesPerLine, 16);
    t->send(std::string("Norvane \x01\x02\x7f\xff OK\r\n", 16));
    screenshot(t, "terminal");

    // A second showterm on a visible window changes nothing.
    rc.run(splitLines("showterm(\"com1\", 300, 100, 4)"));
    EXPECT_EQ(t->size(), QSize(400, 200));
    EXPECT_EQ(t->bytesPerLine, 16);

    // Closing by the frame hides it, remembers where it was, and keeps the port open.
    t->move(70, 80);
    t->close();
    EXPECT_FALSE(t->isVisible());
    EXPECT_TRUE(t->isOpen());
    EXPECT_EQ(QPoint(x, y), t->pos());
}

TEST_F(Windows, DialogChoicesOpenThePortTheUserPicked) {
    std::vector<std::string> listed;
    whenDialogShows([&](PortDialog& d) {
        for (int i = 0; i < d.portBox->count(); ++i)
            listed.push_back(d.portBox->itemText(i).toStdString());
        EXPECT_EQ(d.portBox->currentText(), "com1");
        EXPECT_EQ(d.baudBox->currentText(), "9600");
        EXPECT_EQ(d.windowTitle(), "Port settings");
        // Every caption is whole: the check box's text is wider than the dialog's first size.
        EXPECT_GE(d.reconnectBox->width(), d.reconnectBox->sizeHint().width());
        EXPECT_TRUE(d.rect().contains(d.reconnectBox->geometry().translated(
            d.reconnectBox->parentWidget()->mapTo(&d, QPoint(0, 0)))));
        d.portBox->setCurrentIndex(1);
        d.baudBox->setEditText("19200");
        d.dataBitsBox->setCurrentText("7");
        d.parityBox->setCurrentText("even");
        d.stopBitsBox->setCurrentText("2");
        screenshot(&d, "portdialog");
        if (!qEnvironmentVariableIsEmpty("NORVANE_SCREENSHOT_DIR")) {
            d.portBox->showPopup(); // the list with each port's device path
            screenshot(d.portBox->view()->window(), "portlist");
            d.portBox->hidePopup();
        }
        d.okButton->click();
    });
    rc.run(splitLines("setport\nopenport(myport, 9600, 8, \"n\", \"1\")\nwritelog(myport)"));
    EXPECT_EQ(listed, (std::vector<std::string>{"com1", "com3"}));
    EXPECT_EQ(fake->line("/dev/fake3")->settings, (LineSettings{19200, 7, ParityEven, StopTwo}));
    EXPECT_EQ(host.log, (std::vector<std::string>{": Script started", ": Port opened: com3",
                                                  ", from line 3: com3", ": Script finished"}));
    EXPECT_TRUE(ports->pending.port.empty());
}

TEST_F(Windows, DialogClosedByItsFrameStoresNothing) {
    whenDialogShows([](PortDialog& d) {
        d.baudBox->setEditText("300");
        d.close();
    });
    rc.run(splitLines("myport = \"kept\"\nsetport\nwritelog(myport)"));
    EXPECT_EQ(host.log[1], ", from line 3: kept");
    EXPECT_TRUE(ports->pending.baud.empty());
}

TEST_F(Windows, DialogWithNoFreePortLeavesMyportEmpty) {
    fake->line("/dev/fake1")->held = true;
    fake->line("/dev/fake3")->held = true;
    whenDialogShows([](PortDialog& d) {
        EXPECT_EQ(d.portBox->currentText(), "");
        d.okButton->click();
    });
    rc.run(splitLines("setport\nwritelog(\"[\" & myport & \"]\")\n"
                      "openport(myport, 9600, 8, \"n\", \"1\")\nwritelog(geterror())"));
    EXPECT_EQ(
        host.log,
        (std::vector<std::string>{
            ": Script started", ", from line 2: []", ": Port already open or not available: ",
            ", from line 4: openport: port already open or not available.", ": Script finished"}));
}

} // namespace
} // namespace nv::serial::test
