// The rack window with stand-in instruments: file round trip, control access from scripts
// (conversions, clamping, messages, first match, the scope protocol, spinner links) and the
// JPEG capture decoded back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

#include "../engine/fake_host.h"
#include "base/files.h"
#include "base/limits.h"
#include "engine/interpreter.h"
#include "instruments/instruments.h"
#include "rack/capture.h"
#include "rack/rack.h"
#include "standin.h"

extern "C" {
#include <jpeglib.h>
}

using namespace nv;
using Lines = std::vector<std::string>;

namespace {

QWidget* makeStandIn(std::string_view cls, QWidget* parent) {
    if (cls == "TVrAngularMeter" || cls == "TVrPowerMeter")
        return new FacedStandIn<RealStandIn>(parent, cls);
    return new FacedStandIn<StandIn>(parent, cls);
}

struct RackFixture : ::testing::Test {
    QTemporaryDir dir;
    Engine e;
    int rackX = 10, rackY = 20;
    rack::Rack r{rackX, rackY};

    RackFixture() {
        rack::setInstrumentFactory(makeStandIn);
        r.install(e.rt);
    }
    std::string path(const std::string& name) {
        return dir.filePath(QString::fromStdString(name)).toStdString();
    }
    // Writes a rack given in the text form as a rack file; returns its path.
    std::string rackFile(const std::string& name, const std::string& text) {
        const rack::TextResult t = rack::fromText(text);
        EXPECT_TRUE(t.ok) << t.message();
        const std::string p = path(name);
        std::ofstream(p, std::ios::binary) << rack::write(t.doc);
        return p;
    }
    // The run's log lines between "Script started" and "Script finished", without the
    // ", from line N: " prefix.
    Lines run(const std::string& script) {
        e.host.log.clear();
        e.run(script);
        Lines out;
        for (const std::string& l : e.host.plain()) {
            const auto at = l.find(": ");
            if (l.rfind(", from line", 0) == 0 && at != std::string::npos)
                out.push_back(l.substr(at + 2));
        }
        return out;
    }
    StandIn* standIn(const std::string& name) {
        return r.window().findChild<StandIn*>(QString::fromStdString(name));
    }
};

const char* kPanel = R"(object Panel: TFrmRack
  object Slider1: TVrSlider
    Left = 1
  end
  object Led1: TVrLed
    Left = 1
  end
  object Angle: TVrAngularMeter
    Left = 1
  end
  object Power: TVrPowerMeter
    Left = 1
  end
  object Button1: TVrDB
    Left = 1
  end
  object Scope1: TVrScope
    Left = 1
    Min = 5
  end
  object Num1: TVrNum
    Left = 1
    Max = 3
  end
  object Spin1: TVrSpinner
    Hint = 'Num1'
  end
  object Spin2: TVrSpinner
    Hint = 'Slider1'
  end
  object Matrix1: TVrMatrix
    Left = 1
  end
  object Twice: TVrDB
  end
  object Twice: TVrSwitch
    Max = 3
  end
  object Twice: TVrLed
  end
end
)";

} // namespace

TEST_F(RackFixture, ValuesConvertClampAndReportAsScriptsExpect) {
    const std::string p = rackFile("panel.res", kPanel);
    const Lines got = run("openrack(\"" + p + "\")\n" + R"(
Slider1 = 150
writelog(Slider1)
Slider1 = 33.3
e = error
writelog(geterror() & " " & e & " " & Slider1)
Slider1 = "$10"
writelog(Slider1)
slider1 = 5
writelog(Slider1 & " " & slider1)
Led1 = 1
writelog(Led1)
Led1 = "on"
writelog(Led1 & " " & error)
Led1 = 0
Led1 = 1.0
writelog(Led1)
Led1 = "01"
writelog(Led1)
Angle = 12.25
writelog(Angle)
Angle = "x"
writelog(geterror() & " " & Angle)
Power = 7
writelog(Power)
Power = 7.5
writelog(geterror())
writelog("[" & Button1 & "]")
Button1 = 1
writelog(Button1)
Matrix1 = "HELLO" & 1
writelog(Matrix1)
Twice = 9
writelog(Twice)
)");
    EXPECT_EQ(got, (Lines{"100", "Slider: error changing position. 1 100", "16", "16 5", "1", "1 0",
                          "1", "1", "12.25", "AngularMeter: error changing position. 12.25", "7",
                          "PowerMeter: error changing position.", "[]", "", "HELLO1", ""}));
    // The switch took the value (the button before it is not settable), clamped to 3;
    // reading finds the button first, whose hint is neither On nor Off.
    EXPECT_EQ(r.window().control(11).className, "TVrSwitch");
    EXPECT_EQ(r.window().control(11).widget->property("Offset").toInt(), 3);
    EXPECT_FALSE(r.window().control(12).widget->property("Active").toBool());
}

TEST_F(RackFixture, NamesReachControlsOnlyWhileTheRackIsShown) {
    const std::string p = rackFile("panel.res", kPanel);
    const Lines got = run("Slider1 = 5\nwritelog(Slider1)\nopenrack(\"" + p +
                          "\")\nwritelog(Slider1)\nSlider1 = 7");
    EXPECT_EQ(got, (Lines{"5", "0"}));
    r.window().hide();
    EXPECT_EQ(run("Slider1 = 9\nwritelog(Slider1)"), (Lines{"9"}));
    EXPECT_EQ(standIn("Slider1")->position(), 7);
}

// A loop's lines are bound to the controls they name once; hiding the rack, showing it again
// or opening another between two passes must change what the same lines reach.
TEST_F(RackFixture, BoundLinesFollowTheRackShownOrHiddenMidLoop) {
    const std::string p = rackFile("panel.res", kPanel);
    const std::string other = rackFile("other.res", "object Other: TFrmRack\n"
                                                    "  object Led1: TVrLed\n    Left = 1\n"
                                                    "  end\nend\n");
    // Before the line with i = 3 the rack is hidden, before i = 5 shown again, before i = 7
    // the other rack (no Slider1, a Led1) replaces it.
    std::string last;
    e.host.onEvents = [&](int) {
        Interpreter* ex = e.rc.current();
        const std::string* i = ex ? ex->variables().get("i") : nullptr;
        if (!i || *i == last) return;
        last = *i;
        if (*i == "3") r.window().hide();
        if (*i == "5") r.window().show();
    };
    const Lines got = run("openrack(\"" + p + "\")\n" + R"(Slider1 = 2
for (i, 1, 8, 1)
if (i == 7)
openrack(")" + other + R"(")
endif
x = Slider1 + Led1
Slider1 = i * 10
Led1 = 1
if (Slider1 == i * 10)
writelog(i & " " & x & " set")
else
writelog(i & " " & x & " " & Slider1)
endif
next
)");
    // Shown: the slider's position plus the led's state; hidden: the variables, which hold
    // what the hidden passes assigned (20 stays in the slider meanwhile); with the other
    // rack: the variable Slider1 (40 from pass 4) plus its own led, off at first.
    EXPECT_EQ(got, (Lines{"1 2 set", "2 11 set", "3 0 set", "4 31 set", "5 21 set", "6 51 set",
                          "7 40 set", "8 71 set"}));
    EXPECT_EQ(standIn("Slider1"), nullptr);
}

TEST_F(RackFixture, PushButtonStateIsItsHint) {
    const std::string p = rackFile("panel.res", kPanel);
    run("openrack(\"" + p + "\")");
    standIn("Button1")->setToolTip("On");
    EXPECT_EQ(run("writelog(Button1)"), (Lines{"1"}));
    standIn("Button1")->setToolTip("Off");
    EXPECT_EQ(run("writelog(Button1)"), (Lines{"0"}));
}

TEST_F(RackFixture, ScopeTakesOneSampleFromItsVariable) {
    const std::string p = rackFile("panel.res", kPanel);
    const Lines got = run("openrack(\"" + p + "\")\nScope1 = 30\nScope1 = 40\nwritelog(Scope1)");
    EXPECT_EQ(got, (Lines{"40"}));
    StandIn* scope = standIn("Scope1");
    ASSERT_TRUE(scope);
    // The run has ended: the scope is off and the handler no longer reaches the run.
    EXPECT_FALSE(scope->property("Active").toBool());
    EXPECT_EQ(scope->requestSamples(1), (std::vector<int>{5}));
    // Within a run: the first channel takes the value, the others the minimum; once.
    std::vector<int> during;
    e.host.onEvents = [&](int) {
        if (scope && during.empty() && scope->property("Active").toBool())
            during = scope->requestSamples(2);
    };
    run("Scope1 = 40\nx = 1");
    EXPECT_EQ(during, (std::vector<int>{40, 5}));
    EXPECT_FALSE(scope->property("Active").toBool());
    EXPECT_EQ(scope->requestSamples(1), (std::vector<int>{5}));
    during.clear();
    run("Scope1 = \"abc\"\nx = 1");
    EXPECT_EQ(during, (std::vector<int>{5, 5}));
}

TEST_F(RackFixture, SpinnersStepTheirNumberByIndex) {
    const std::string p = rackFile("panel.res", kPanel);
    run("openrack(\"" + p + "\")");
    StandIn* spin = standIn("Spin1");
    EXPECT_EQ(spin->toolTip(), QStringLiteral("6"));
    EXPECT_EQ(standIn("Spin2")->toolTip(), QStringLiteral("Slider1")); // not a TVrNum
    for (int i = 0; i < 5; ++i)
        spin->clickUp();
    EXPECT_EQ(standIn("Num1")->value(), 3);
    spin->clickDown();
    EXPECT_EQ(standIn("Num1")->value(), 2);
    // Saved, the hint holds the index; opened again, the spinner is not linked.
    const std::string saved = path("saved.res");
    run("saverack(\"" + saved + "\")\nopenrack(\"" + saved + "\")");
    EXPECT_EQ(standIn("Spin1")->toolTip(), QStringLiteral("6"));
    standIn("Spin1")->clickUp();
    EXPECT_EQ(standIn("Num1")->value(), 2);
}

TEST_F(RackFixture, CanonicalTextSurvivesLoadAndSave) {
    // The order SaveRack writes: the window's own properties, then per control its bounds,
    // text, own properties in declaration order, hint, visibility, lists and picture, then
    // what the file held that the rack does not know, in file order.
    const std::string text = R"(object Panel: TFrmRack
  Left = 120
  Top = 80
  Caption = 'Bench 3'
  ClientHeight = 240
  ClientWidth = 320
  BorderIcons = [biSystemMenu, biMinimize]
  BorderStyle = bsSingle
  Color = clNavy
  KeyPreview = True
  PixelsPerInch = 96
  object Label1: TLabel
    Left = 8
    Top = 8
    Width = 60
    Height = 13
    Caption = 'Volts'
    Hint = 'the supply'
    Visible = False
    Font.Color = clLime
    Font.Height = -11
    Font.Name = 'MS Sans Serif'
    Font.Style = [fsBold]
    Transparent = True
  end
  object Memo1: TMemo
    Left = 8
    Top = 30
    Width = 100
    Height = 50
    Lines.Strings = (
      'one'
      'two')
    ScrollBars = ssVertical
  end
  object Combo1: TComboBox
    Left = 8
    Top = 90
    Width = 100
    Height = 21
    Text = 'red'
    Items.Strings = (
      'red'
      'green')
  end
  object Slider1: TVrSlider
    Left = 120
    Top = 8
    Width = 30
    Height = 150
    Max = 80
    Position = 40
    Color = clLime
    Orientation = voHorizontal
    Bevel.InnerWidth = 2
  end
  object Panel1: TVrGradient
    Left = 200
    Top = 100
    Width = 100
    Height = 100
    object Inner: TLabel
      Left = 4
      Top = 4
      Width = 20
      Height = 13
      Caption = 'in'
    end
  end
  object Last: TLabel
    Left = 1
    Top = 2
    Width = 3
    Height = 4
  end
end
)";
    const std::string in = rackFile("canonical.res", text);
    std::string error;
    ASSERT_TRUE(r.window().load(in, error)) << error;
    const std::string out = path("out.res");
    ASSERT_TRUE(r.window().save(out, error)) << error;
    const rack::ReadResult back = rack::readFile(out);
    ASSERT_TRUE(back.ok) << back.message();
    EXPECT_EQ(rack::toText(back.doc), text);
    EXPECT_EQ(back.doc.resourceName, "TFRMRACK");
}

TEST_F(RackFixture, HostileFilesAreRefused) {
    struct Case {
        const char* text;
        const char* why;
    } cases[] = {
        {"object P: TFrmRack\n object A: TGauge\n end\nend\n", "class TGauge not found"},
        {"object P: TFrmRack\n object A: TLabel\n Left = 40000\n end\nend\n", "out of range"},
        {"object P: TFrmRack\n ClientWidth = -40000\nend\n", "out of range"},
        {"object P: TFrmRack\n OnClose = Wipe\nend\n", "no event handler named Wipe"},
        {"object P: TFrmRack\n object A: TLabel\n OnClick = Wipe\n end\nend\n",
         "no event handler named Wipe"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(r.window().load(rackFile("h.res", c.text), error)) << c.text;
        EXPECT_NE(error.find(c.why), std::string::npos) << error;
    }
    // Too many controls: refused before any is made.
    std::string many = "object P: TFrmRack\n";
    for (int i = 0; i <= limits::kRackControls; ++i)
        many += " object L: TLabel\n end\n";
    many += "end\n";
    std::string error;
    EXPECT_FALSE(r.window().load(rackFile("many.res", many), error));
    EXPECT_EQ(r.window().count(), 0);
    // A picture whose header announces 100000 x 100000 pixels.
    const std::string png("\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52"
                          "\x00\x01\x86\xa0\x00\x01\x86\xa0\x08\x02\x00\x00\x00\x27\x30\x9c"
                          "\x9f\x00\x00\x00\x0c\x49\x44\x41\x54\x78\x9c\x63\x60\xa0\x0c\x00"
                          "\x00\x00\x40\x00\x01\xb7\x34\x7c\xef\x00\x00\x00\x00\x49\x45\x4e"
                          "\x44\xae\x42\x60\x82",
                          69);
    rack::Component root, image;
    root.className = "TFrmRack";
    root.name = "P";
    image.className = "TImage";
    image.name = "I";
    image.properties.push_back(
        {"Picture.Data", rack::binaryValue(std::string("\x09TPngImage", 10) + png)});
    root.children.push_back(image);
    const std::string p = path("big.res");
    std::ofstream(p, std::ios::binary) << rack::write(rack::makeDocument(root));
    EXPECT_FALSE(r.window().load(p, error));
    EXPECT_NE(error.find("larger than the limit"), std::string::npos) << error;
}

TEST_F(RackFixture, RootNameTakenByAProgramWindowGetsANumber) {
    const std::string p =
        rackFile("named.res", "object TFrmRack: TOtherRoot\n Caption = 'x'\nend\n");
    std::string error;
    ASSERT_TRUE(r.window().load(p, error)) << error;
    EXPECT_EQ(r.window().objectName(), QStringLiteral("TFrmRack_1"));
    ASSERT_TRUE(r.window().load(p, error)) << error;
    EXPECT_EQ(r.window().objectName(), QStringLiteral("TFrmRack"));
    ASSERT_TRUE(r.window().load(p, error)) << error;
    EXPECT_EQ(r.window().objectName(), QStringLiteral("TFrmRack_1"));
    EXPECT_EQ(r.window().windowTitle(), QStringLiteral("x"));
}

TEST_F(RackFixture, WindowDefaultsAndRememberedPosition) {
    rack::RackWindow& w = r.window();
    EXPECT_EQ(w.objectName(), QStringLiteral("TFrmRack"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Rack"));
    EXPECT_EQ(w.size(), QSize(104, 38));
    EXPECT_EQ(w.pos(), QPoint(295, 162));
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(w.isVisible());
    bool mainShown = false;
    w.showMain = [&] { mainShown = true; };
    w.show();
    w.move(40, 60);
    w.close();
    EXPECT_TRUE(mainShown);
    EXPECT_EQ(QPoint(rackX, rackY), QPoint(40, 60));
    // After a save, closing neither shows the main window nor stores the place.
    std::string error;
    ASSERT_TRUE(w.save(path("s.res"), error)) << error;
    mainShown = false;
    w.show();
    w.move(70, 80);
    w.close();
    EXPECT_FALSE(mainShown);
    EXPECT_EQ(QPoint(rackX, rackY), QPoint(40, 60));
}

// A remembered place is where the rack opens, brought back into sight when the screen is
// smaller than the one it was remembered on.
TEST_F(RackFixture, ARememberedPlaceIsKeptOnTheScreen) {
    const std::string p = rackFile("place.res", "object Panel: TFrmRack\n  ClientWidth = 200\n"
                                                "  ClientHeight = 100\nend\n");
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const struct {
        QPoint remembered, expected;
    } cases[] = {
        {{area.left() + 40, area.top() + 60}, {area.left() + 40, area.top() + 60}},
        {{area.right() - 20, area.top() + 60}, {area.right() + 1 - 200, area.top() + 60}},
    };
    for (const auto& c : cases) {
        rackX = c.remembered.x();
        rackY = c.remembered.y();
        run("openrack(\"" + p + "\")");
        rack::RackWindow& w = r.window();
        EXPECT_EQ(w.pos().x(), c.expected.x()) << "remembered at " << rackX;
        EXPECT_EQ(w.pos().y(), c.expected.y());
        w.hide();
    }
}

TEST_F(RackFixture, KeysAndCloseFollowPackageMode) {
    rack::RackWindow& w = r.window();
    int mainShown = 0, about = 0, stops = 0;
    bool package = false;
    w.packageMode = [&] { return package; };
    w.showMain = [&] { ++mainShown; };
    w.showAbout = [&] { ++about; };
    w.stopScript = [&] { ++stops; };
    auto release = [&](int key, Qt::KeyboardModifiers mods) {
        QKeyEvent ev(QEvent::KeyRelease, key, mods);
        QApplication::sendEvent(&w, &ev);
    };
    const auto ctrlAlt = Qt::ControlModifier | Qt::AltModifier;
    w.show();
    release(Qt::Key_F10, ctrlAlt);
    EXPECT_EQ(about, 0) << "the about box only in package mode";
    release(Qt::Key_Escape, Qt::NoModifier);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(mainShown, 1);

    package = true;
    w.show();
    release(Qt::Key_Escape, Qt::NoModifier);
    EXPECT_TRUE(w.isVisible());
    release(Qt::Key_F10, ctrlAlt | Qt::ShiftModifier);
    EXPECT_EQ(about, 0);
    release(Qt::Key_F10, ctrlAlt);
    EXPECT_EQ(about, 1);
    // On a default X keymap Ctrl+Alt+F10 is the keysym XF86Switch_VT_10, which Qt delivers
    // (seen under Xvfb with xdotool) as key 0 with that keysym and scan code 76.
    auto releaseSwitchKey = [&](Qt::KeyboardModifiers mods) {
        QKeyEvent ev(QEvent::KeyRelease, 0, mods, 76, 0x1008FE0A, 0);
        QApplication::sendEvent(&w, &ev);
    };
    releaseSwitchKey(ctrlAlt);
    EXPECT_EQ(about, 2);
    releaseSwitchKey(ctrlAlt | Qt::ShiftModifier);
    EXPECT_EQ(about, 2);
    w.close();
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(mainShown, 1);

    // saverack removes the window's handlers (Esc, the remembered place), but a built
    // program's rack is its only window: closing it still stops the script, which ends the
    // program; outside package mode it stays removed.
    std::string error;
    ASSERT_TRUE(w.save(path("saved.res"), error)) << error;
    ASSERT_TRUE(w.handlersRemoved());
    w.show();
    release(Qt::Key_Escape, Qt::NoModifier);
    EXPECT_TRUE(w.isVisible());
    w.close();
    EXPECT_EQ(stops, 2);
    package = false;
    w.show();
    w.close();
    EXPECT_EQ(stops, 2);
    EXPECT_EQ(mainShown, 1);
}

TEST_F(RackFixture, PicturesComeFromHintsAndLoadimage) {
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(QString::fromStdString(path("p.png"))));
    ASSERT_TRUE(image.save(QString::fromStdString(path("p.bmp"))));
    const std::string p =
        rackFile("pics.res", "object P: TFrmRack\n object Pic: TImage\n Hint = '" + path("p.png") +
                                 "'\n end\n object Gone: TImage\n Hint = "
                                 "'nothing.png'\n end\nend\n");
    const Lines got = run("openrack(\"" + p + "\")\nwritelog(error)\nloadimage(\"Pic\", \"" +
                          path("p.png") + "\")\nwritelog(error)\nloadimage(\"Pic\", \"" +
                          path("p.bmp") + "\")\nwritelog(error)\nloadimage(\"None\", \"" +
                          path("p.png") + "\")\nwritelog(error)");
    EXPECT_EQ(got, (Lines{"0", "1", "0", "0"}));
    EXPECT_EQ(r.window().control(0).picture.substr(0, 8), std::string("\x07TBitmap", 8));
    EXPECT_TRUE(r.window().control(1).picture.empty());
    const auto* label = qobject_cast<QLabel*>(r.window().control(0).widget);
    EXPECT_EQ(label->pixmap().size(), QSize(4, 3));
}

TEST_F(RackFixture, CaptureWritesTheShownWindowAsJpeg) {
    const std::string p =
        rackFile("c.res", "object P: TFrmRack\n ClientWidth = 120\n ClientHeight = 50\n "
                          "Color = clRed\n object L: TLabel\n end\nend\n");
    const std::string jpg = path("c.jpg");
    EXPECT_EQ(run("capturerack(\"" + jpg + "\", 50)\nopenrack(\"" + p + "\")\ncapturerack(\"" +
                  jpg + "\", 50)\nwritelog(error)"),
              (Lines{"0"}));
    std::string bytes, error;
    ASSERT_TRUE(nv::readFile(jpg, bytes, error)) << error;
    QImage back;
    ASSERT_TRUE(back.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                                  static_cast<int>(bytes.size()), "JPEG"));
    // Offscreen the window draws itself: the client area, without a frame. On a screen the
    // picture is the whole frame.
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        EXPECT_EQ(back.size(), QSize(120, 50));
    else
        EXPECT_EQ(back.size(), r.window().frameGeometry().size());
    // What the window shows, not a screen it has not been painted on yet: near the bottom
    // right corner of the client area (clear of frame and label) the rack is red.
    const QColor corner = back.pixelColor(back.width() - 10, back.height() - 10);
    EXPECT_GT(corner.red(), 200) << corner.name().toStdString();
    EXPECT_LT(corner.green(), 60) << corner.name().toStdString();
    EXPECT_FALSE(r.window().windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST_F(RackFixture, DamagedFilesNeverCrashTheLoader) {
    // Every truncation and three changes of every byte of a real rack: each load either
    // succeeds or reports, and the window stays usable.
    const std::string good = rackFile("good.res", kPanel);
    std::string bytes, error;
    ASSERT_TRUE(nv::readFile(good, bytes, error));
    const std::string p = path("damaged.res");
    auto attempt = [&](const std::string& b) {
        std::ofstream(p, std::ios::binary | std::ios::trunc) << b;
        error.clear();
        if (!r.window().load(p, error)) {
            EXPECT_FALSE(error.empty());
        }
        EXPECT_LE(r.window().count(), limits::kRackControls);
    };
    for (size_t n = 0; n < bytes.size(); ++n)
        attempt(bytes.substr(0, n));
    for (size_t i = 0; i < bytes.size(); ++i)
        for (int v : {0x00, 0xFF, (static_cast<unsigned char>(bytes[i]) + 1) & 0xFF}) {
            std::string b = bytes;
            b[i] = static_cast<char>(v);
            attempt(b);
        }
    ASSERT_TRUE(r.window().load(good, error)) << error;
    EXPECT_EQ(r.window().count(), 13);
}

TEST_F(RackFixture, MemoKeepsItsNewestBytesWholeCharacters) {
    const std::string p = rackFile("m.res", "object P: TFrmRack\n object M: TMemo\n end\nend\n");
    std::string error;
    ASSERT_TRUE(r.window().load(p, error)) << error;
    rack::Control& memo = r.window().control(0);
    std::string text = "a";
    for (int i = 0; i < 40000; ++i)
        text += "\xC3\xA9"; // é
    text += "b";            // the 65000th byte from the end is the second byte of an é
    rack::setControlText(memo, text);
    EXPECT_EQ(rack::controlText(memo).size(), 64999u) << "not inside a character";
    const std::string latin(70000, '\xE9');
    rack::setControlText(memo, latin);
    EXPECT_EQ(rack::controlText(memo), latin.substr(5000));
}

TEST_F(RackFixture, DropDownListsAreReadWhileTheRackIsHidden) {
    const std::string p = rackFile("d.res", "object P: TFrmRack\n object C: TLabel\n Caption = "
                                            "'label'\n end\n object C: TComboBox\n Items.Strings "
                                            "= ('one' 'two')\n Text = 'two'\n end\nend\n");
    std::string error;
    ASSERT_TRUE(r.window().load(p, error)) << error;
    ASSERT_FALSE(r.window().isVisible());
    EXPECT_EQ(run("writelog(ddown_gettext(\"C\"))\nddown_settext(\"C\", \"x\" & chr(10) & "
                  "\"y\")\nwritelog(ddown_gettext(\"C\") & error)\nwritelog(C)"),
              (Lines{"two", "x0", ""}));
}

// A PNG whose header announces width x height pixels, with proper checksums but a few
// bytes of picture data: cheap to make, refused or kept undecoded by the rack.
std::string pngAnnouncing(uint32_t width, uint32_t height) {
    auto be32 = [](uint32_t v) {
        std::string b;
        for (int i = 3; i >= 0; --i)
            b += static_cast<char>((v >> (8 * i)) & 0xFF);
        return b;
    };
    auto chunk = [&](const std::string& typeAndData) {
        uint32_t crc = 0xFFFFFFFFu;
        for (unsigned char ch : typeAndData) {
            crc ^= ch;
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        return be32(static_cast<uint32_t>(typeAndData.size() - 4)) + typeAndData + be32(~crc);
    };
    return std::string("\x89PNG\r\n\x1a\n", 8) +
           chunk("IHDR" + be32(width) + be32(height) + std::string("\x08\x02\0\0\0", 5)) +
           chunk(std::string("IDAT\x78\x9c\x63\x60\xa0\x0c\x00\x00\x00\x40\x00\x01", 16)) +
           chunk("IEND");
}

TEST_F(RackFixture, OnlyRegularFilesAreOpenedAsRacks) {
    const std::string fifo = path("fifo.res");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A FIFO no one writes to, a device without end, a folder: each refused at once as a
    // missing file is.
    for (const std::string& p : {fifo, std::string("/dev/zero"), path(""), path("missing.res")}) {
        EXPECT_EQ(run("openrack(\"" + p + "\")\nwritelog(error)\nwritelog(geterror())"),
                  (Lines{"1", "openrack: cannot open rack."}))
            << p;
        EXPECT_EQ(e.host.plain()[1], ": Cannot open rack") << p;
    }
}

TEST_F(RackFixture, SizesAreDrawnBoundedAndSavedAsRead) {
    const std::string text = "object P: TFrmRack\n"
                             "  ClientHeight = 32767\n"
                             "  ClientWidth = 9000\n"
                             "  object M: TVrMeter\n"
                             "    Left = 32767\n"
                             "    Top = 1\n"
                             "    Width = 32767\n"
                             "    Height = 8192\n"
                             "  end\n"
                             "  object L: TLabel\n"
                             "    Width = 20000\n"
                             "    Height = -5\n"
                             "  end\n"
                             "end\n";
    std::string error;
    ASSERT_TRUE(r.window().load(rackFile("big.res", text), error)) << error;
    const int most = limits::kRackDrawnPixels;
    EXPECT_EQ(r.window().size(), QSize(most, most));
    EXPECT_EQ(r.window().control(0).widget->geometry(), QRect(32767, 1, most, most));
    EXPECT_EQ(r.window().control(1).widget->size(), QSize(most, 0));
    const std::string out = path("out.res");
    ASSERT_TRUE(r.window().save(out, error)) << error;
    const rack::ReadResult back = rack::readFile(out);
    ASSERT_TRUE(back.ok) << back.message();
    const rack::Component& root = back.doc.root;
    EXPECT_EQ(rack::intProperty(root, "ClientHeight"), 32767);
    EXPECT_EQ(rack::intProperty(root, "ClientWidth"), 9000);
    EXPECT_EQ(rack::intProperty(*root.find("M"), "Width"), 32767);
    EXPECT_EQ(rack::intProperty(*root.find("M"), "Height"), 8192);
    EXPECT_EQ(rack::intProperty(*root.find("L"), "Width"), 20000);
    EXPECT_EQ(rack::intProperty(*root.find("L"), "Height"), -5);
    // A size changed after loading is written as it now is.
    r.window().control(1).widget->resize(30, 40);
    ASSERT_TRUE(r.window().save(out, error)) << error;
    const rack::ReadResult again = rack::readFile(out);
    ASSERT_TRUE(again.ok) << again.message();
    EXPECT_EQ(rack::intProperty(*again.doc.root.find("L"), "Width"), 30);
}

TEST_F(RackFixture, PicturesOfOneRackShareABudget) {
    // 5600 x 5600 is 31.36 Mpx: four fit the 128 Mpx budget, five do not.
    const std::string png = pngAnnouncing(5600, 5600);
    auto rackOf = [&](int embedded, int hinted) {
        rack::Component root;
        root.className = "TFrmRack";
        root.name = "P";
        for (int i = 0; i < embedded + hinted; ++i) {
            rack::Component image;
            image.className = "TImage";
            image.name = "I" + std::to_string(i);
            if (i < embedded)
                image.properties.push_back(
                    {"Picture.Data", rack::binaryValue(std::string("\x09TPngImage", 10) + png)});
            else
                image.properties.push_back({"Hint", rack::stringValue(path("big.png"))});
            root.children.push_back(image);
        }
        const std::string p = path("pictures.res");
        std::ofstream(p, std::ios::binary | std::ios::trunc)
            << rack::write(rack::makeDocument(root));
        return p;
    };
    std::ofstream(path("big.png"), std::ios::binary) << png;
    struct Case {
        int embedded, hinted;
        const char* status;
    } cases[] = {{4, 0, "0"}, {5, 0, "1"}, {40, 0, "1"}, {0, 4, "0"}, {3, 2, "1"}, {0, 5, "1"}};
    for (const Case& c : cases) {
        EXPECT_EQ(run("openrack(\"" + rackOf(c.embedded, c.hinted) + "\")\nwritelog(error)"),
                  (Lines{c.status}))
            << c.embedded << " in the file, " << c.hinted << " from files";
    }
    std::string error;
    EXPECT_FALSE(r.window().load(rackOf(5, 0), error));
    EXPECT_NE(error.find("budget"), std::string::npos) << error;
}

// What a script sets in a text control, or a rack file holds there, is read back byte for
// byte, also after saverack and openrack; past the text limit a set is refused whole.
TEST_F(RackFixture, TextsKeepTheirBytes) {
    std::string bytes = "a";
    for (int b = 1; b < 256; ++b)
        // Quotes and parentheses inside a quoted text are language traps, line breaks end
        // the line.
        if (!std::strchr("\"()\r\n", b)) bytes += static_cast<char>(b);
    bytes += "z";
    const std::string latin = "25\xB0"
                              "C";
    const std::string saved = path("saved.res");
    struct Case {
        const char* cls;
        const char* property;
        std::string set; // the script line that sets the control to the text in v
        std::string get; // the expression that reads it
    } cases[] = {
        {"TEdit", "Text", "X = v", "X"},
        {"TLabel", "Caption", "X = v", "X"},
        {"TComboBox", "Text", "ddown_settext(\"X\", v)", "ddown_gettext(\"X\")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cls);
        rack::Component root, control;
        root.className = "TFrmRack";
        root.name = "P";
        control.className = c.cls;
        control.name = "X";
        control.properties.push_back({c.property, rack::stringValue(latin)});
        root.children.push_back(control);
        const std::string loaded = path("loaded.res");
        std::ofstream(loaded, std::ios::binary | std::ios::trunc)
            << rack::write(rack::makeDocument(root));
        const std::string open = "openrack(\"" + loaded + "\")\n";
        // Loaded from a file, and through saverack and openrack again.
        EXPECT_EQ(run(open + "writelog(" + c.get + ")\nsaverack(\"" + saved + "\")\nopenrack(\"" +
                      saved + "\")\nwritelog(" + c.get + ")"),
                  (Lines{latin, latin}));
        // Set by a script: every byte, 40000 characters (past a line edit's own 32767).
        EXPECT_EQ(run(open + "v = \"" + bytes + "\"\n" + c.set + "\nwritelog(" + c.get +
                      ")\nsaverack(\"" + saved + "\")\nopenrack(\"" + saved + "\")\nwritelog(" +
                      c.get + ")\nv = \"" + std::string(40000, '\xE9') + "\"\n" + c.set +
                      "\nwritelog(len(" + c.get + ") & \" \" & error)"),
                  (Lines{bytes, bytes, "40000 0"}));
        // At the limit taken, one byte past it refused with the text left as it was.
        const std::string refusal = c.cls == std::string("TEdit") ? "Edit: error changing text."
                                    : c.cls == std::string("TLabel")
                                        ? "Label: error changing text."
                                        : "ddown_settext: text longer than " +
                                              std::to_string(limits::kRackText) + " bytes.";
        const std::string limit = std::to_string(limits::kRackText);
        EXPECT_EQ(
            run(open + "v = \"0123456789abcdef\"\nfor (i, 1, 16, 1)\nv = v & v\nnext\n" + c.set +
                "\nst = error\nwritelog(len(" + c.get + ") & \" \" & st)\nv = v & \"x\"\n" + c.set +
                "\nst = error\nwritelog(geterror())\nwritelog(len(" + c.get + ") & \" \" & st)"),
            (Lines{limit + " 0", refusal, limit + " 1"}));
        // A file whose text is past the limit is not a valid rack.
        root.children[0].properties[0].value =
            rack::stringValue(std::string(limits::kRackText + 1, 'x'));
        std::ofstream(loaded, std::ios::binary | std::ios::trunc)
            << rack::write(rack::makeDocument(root));
        EXPECT_EQ(run(open + "writelog(error)"), (Lines{"1"}));
    }
    // The memo keeps its own rule: the newest 65000 characters of any length.
    const std::string p = rackFile("m.res", "object P: TFrmRack\n object M: TMemo\n end\nend\n");
    EXPECT_EQ(run("openrack(\"" + p +
                  "\")\nv = \"0123456789abcdef\"\nfor (i, 1, 17, 1)\nv = v & v\n"
                  "next\nM = v\nwritelog(len(M) & \" \" & error)"),
              (Lines{"65000 0"}));
}

// Every class a rack file may name, with the real instruments: what a script's setting of
// the control's name becomes when read back, and the message of a setting refused. Classes
// scripts do not reach leave the name to a plain variable.
TEST_F(RackFixture, EveryClassReachesScriptsThroughItsTypedAccess) {
    rack::setInstrumentFactory(
        [](std::string_view cls, QWidget* parent) { return rack::createInstrument(cls, parent); });
    struct Row {
        const char* cls;
        const char* set;     // a script expression
        const char* read;    // read back after that setting
        const char* refused; // an expression the control refuses; null: none
        const char* message; // the error it raises
    };
    const Row rows[] = {
        {"TLabel", "\"ab\"", "ab", nullptr, nullptr},
        {"TEdit", "\"ab\"", "ab", nullptr, nullptr},
        {"TMemo", "\"ab\"", "ab", nullptr, nullptr},
        {"TComboBox", "5", "5", nullptr, nullptr},
        {"TImage", "5", "5", nullptr, nullptr},
        {"TVrSlider", "150", "100", "2.5", "Slider: error changing position."},
        {"TVrTrackBar", "-5", "0", "\"x\"", "TrackBar: error changing position."},
        {"TVrSwitch", "9", "2", "\"x\"", "Switch: error changing position."},
        {"TVrLed", "1", "1", nullptr, nullptr},
        {"TVrCheckLed", "1", "1", nullptr, nullptr},
        {"TVrMatrix", "\"HI\" & 2", "HI2", nullptr, nullptr},
        {"TVrPowerButton", "1", "1", nullptr, nullptr},
        {"TVrDB", "1", "", nullptr, nullptr},
        {"TVrMeter", "150", "100", "\"x\"", "AnalogMeter: error changing position."},
        {"TVrAngularMeter", "12.25", "12.25", "\"x\"", "AngularMeter: error changing position."},
        {"TVrPowerMeter", "7", "7", "7.5", "PowerMeter: error changing position."},
        {"TVrNum", "12345", "9999", "\"x\"", "NumericLed: error changing value."},
        {"TVrSpinner", "5", "5", nullptr, nullptr},
        {"TVrProgressBar", "150", "100", "\"x\"", "LevelBar: error changing position."},
        {"TVrScope", "40", "40", nullptr, nullptr},
        {"TLcd", "5", "5", nullptr, nullptr},
        {"TVrBorder", "5", "5", nullptr, nullptr},
        {"TVrGradient", "5", "5", nullptr, nullptr},
    };
    ASSERT_EQ(std::size(rows), rack::controlClasses().size());
    std::string text = "object Panel: TFrmRack\n";
    std::string script;
    Lines want;
    for (const Row& row : rows) {
        const std::string name = std::string("C") + row.cls;
        text += "  object " + name + ": " + row.cls + "\n  end\n";
        script += name + " = " + row.set + "\nwritelog(" + name + ")\n";
        want.push_back(row.read);
        if (row.refused) {
            script += name + " = " + row.refused + "\nwritelog(geterror())\n";
            want.push_back(row.message);
        }
    }
    text += "end\n";
    const std::string p = rackFile("every.res", text);
    const Lines got = run("openrack(\"" + p + "\")\n" + script);
    rack::setInstrumentFactory(makeStandIn);
    EXPECT_EQ(got, want);
}

TEST(Capture, JpegDecodesToThePicture) {
    QImage image(64, 32, QImage::Format_RGB32);
    image.fill(QColor(200, 30, 40));
    std::string jpeg, error;
    ASSERT_TRUE(rack::encodeJpeg(image, 90, jpeg, error)) << error;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size());
    ASSERT_EQ(jpeg_read_header(&cinfo, TRUE), JPEG_HEADER_OK);
    EXPECT_FALSE(cinfo.progressive_mode);
    jpeg_start_decompress(&cinfo);
    EXPECT_EQ(cinfo.output_width, 64u);
    EXPECT_EQ(cinfo.output_height, 32u);
    EXPECT_EQ(cinfo.output_components, 3);
    std::vector<unsigned char> row(64 * 3);
    unsigned char* rp = row.data();
    while (cinfo.output_scanline < cinfo.output_height)
        jpeg_read_scanlines(&cinfo, &rp, 1);
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    EXPECT_NEAR(row[30 * 3], 200, 8);
    EXPECT_NEAR(row[30 * 3 + 1], 30, 8);
    EXPECT_NEAR(row[30 * 3 + 2], 40, 8);
    EXPECT_FALSE(rack::encodeJpeg(QImage(), 90, jpeg, error));
}
