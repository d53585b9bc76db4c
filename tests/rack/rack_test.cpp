// The rack window with stand-in instruments: file round trip, control access from scripts
// (conversions, clamping, messages, first match, the scope protocol, spinner links) and the
// JPEG capture decoded back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>

#include "../engine/fake_host.h"
#include "base/files.h"
#include "base/limits.h"
#include "engine/interpreter.h"
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
    if (cls == "TVrAngularMeter" || cls == "TVrPowerMeter") return new RealStandIn(parent);
    return new StandIn(parent);
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
    w.close();
    EXPECT_EQ(stops, 1);
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

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
