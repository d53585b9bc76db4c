// The rack designer: its model's operations without a window, the window driven with the
// mouse and keys through Qt Test, and a rack made in the designer used by a script.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <malloc.h>

#include "cli/stopsignals.h"
#include "base/files.h"
#include "base/limits.h"
#include "designer/designcanvas.h"
#include "designer/designerwindow.h"
#include "designer/designmodel.h"
#include "designer/propertypanel.h"
#include "rack/rackwindow.h"
#include "shell/mainform.h"
#include "tests/support/testmain.h"

using namespace nv;
using namespace nv::designer;

namespace {

const char* const kSignalChild = "NORVANE_TEST_SIGNAL_CHILD";

// The child of SigtermEndsTheProgramWhileTheDesignerAsks: the main window wired to SIGTERM
// as the program wires it, a designer with an unsaved rack (the one the variable names)
// and its question open.
int signalChild(QApplication& app) {
    nv::MainWindow::Options options;
    options.programDir = QFileInfo(qEnvironmentVariable(kSignalChild)).path();
    nv::MainWindow form(options);
    QObject::connect(&form, &nv::MainWindow::windowClosed, &app, &QCoreApplication::quit);
    nv::StopSignals terminate({SIGTERM}, [&form] { form.closeWithoutQuestions(); });
    form.show();
    form.findChild<QAction*>(QStringLiteral("rackMenu"))
        ->menu()
        ->findChild<QAction*>(QStringLiteral("newRackAction"))
        ->trigger();
    DesignerWindow* designer = form.findChildren<DesignerWindow*>().value(0);
    if (!designer || !designer->load(qEnvironmentVariable(kSignalChild))) return 2;
    designer->model().add("TVrLed", {8, 8, 24, 24});
    designer->close();
    if (!designer->findChild<QMessageBox*>(QStringLiteral("unsavedQuestion"))) return 3;
    std::printf("asking\n");
    std::fflush(stdout);
    const int status = app.exec();
    const int sig = nv::StopSignals::received();
    return sig ? 128 + sig : status;
}

// The program started as that child runs it in place of the tests.
[[maybe_unused]] const bool child =
    nvtest::insteadOfTests([](QApplication& app) -> std::optional<int> {
        if (!qEnvironmentVariableIsSet(kSignalChild)) return std::nullopt;
        return signalChild(app);
    });

std::string slurp(const QString& path) {
    std::string bytes, error;
    nv::readFile(path.toStdString(), bytes, error);
    return bytes;
}

// A rack from another tool: a root class of its own, properties this program does not know,
// an event, a collection and nested controls.
const char* const kForeignRack = R"(object Form1: TForm1
  Left = 10
  Top = 20
  Caption = 'Other tool'
  ClientHeight = 200
  ClientWidth = 300
  PixelsPerInch = 96
  OnClose = FormClose
  object Gauge: TVrMeter
    Left = 8
    Top = 8
    Width = 120
    Height = 80
    Tag = 7
    Scale.Ticks = <
      item
        Value = 1
      end>
    Position = 40
  end
  object Frame: TVrBorder
    Left = 140
    Top = 8
    Width = 100
    Height = 100
    object Inner: TVrLed
      Left = 10
      Top = 10
      Width = 20
      Height = 20
      DesignOnly = True
    end
  end
end
)";

class DesignerTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    // Writes a rack file from its text form.
    QString rackFile(const char* name, const char* text) const {
        auto r = rack::fromText(text);
        EXPECT_TRUE(r.ok) << r.message();
        const QString p = path(name);
        EXPECT_EQ(rack::saveFile(p.toStdString(), rack::write(r.doc)), "");
        return p;
    }
};

// ---- the model ----

TEST_F(DesignerTest, ModelAddsControlsWithFreeNamesOfTheirClass) {
    DesignModel m;
    EXPECT_EQ(m.add("TVrSlider", {8, 8, 40, 150}), 0);
    EXPECT_EQ(m.add("TVrSlider", {56, 8, 40, 150}), 1);
    EXPECT_EQ(m.add("TLabel", {0, 0, 80, 16}), 2);
    EXPECT_EQ(m.add("TVrDB", {0, 0, 80, 30}), 3);
    EXPECT_EQ(m.add("TNoSuchClass", {}), -1);
    EXPECT_EQ(m.control(0).name, "Slider1");
    EXPECT_EQ(m.control(1).name, "Slider2");
    EXPECT_EQ(m.control(2).name, "Label1");
    EXPECT_EQ(m.control(3).name, "DB1");
    EXPECT_EQ(m.rect(1), (Rect{56, 8, 40, 150}));
    // A freed name is taken again first.
    m.remove({0});
    EXPECT_EQ(m.freeName("TVrSlider"), "Slider1");
    EXPECT_TRUE(m.modified());
}

TEST_F(DesignerTest, ModelMovesResizesAlignsSizesAndDistributes) {
    DesignModel m;
    m.add("TVrLed", {10, 10, 20, 20});
    m.add("TVrLed", {50, 35, 30, 40});
    m.add("TVrLed", {200, 60, 10, 10});
    const struct {
        Align how;
        Rect second;
    } aligns[] = {
        {Align::Left, {10, 35, 30, 40}},
        {Align::Right, {0, 35, 30, 40}},
        {Align::Top, {50, 10, 30, 40}},
        {Align::Bottom, {50, -10, 30, 40}},
        {Align::CentreHorizontal, {5, 35, 30, 40}},
        {Align::CentreVertical, {50, 0, 30, 40}},
    };
    for (const auto& a : aligns) {
        m.align({0, 1}, a.how);
        EXPECT_EQ(m.rect(1), a.second) << int(a.how);
        EXPECT_EQ(m.rect(0), (Rect{10, 10, 20, 20})); // the reference stays
        m.undoStack().undo();
    }
    m.sameSize({1, 0, 2}, SameSize::Both);
    EXPECT_EQ(m.rect(0), (Rect{10, 10, 30, 40}));
    EXPECT_EQ(m.rect(2), (Rect{200, 60, 30, 40}));
    m.undoStack().undo();
    // Equal gaps between the outermost: 10..30, 50..80, 200..210 -> gap (200-60)/2 = 70.
    m.distribute({2, 0, 1}, Qt::Horizontal);
    EXPECT_EQ(m.rect(0).x, 10);
    EXPECT_EQ(m.rect(1).x, 100);
    EXPECT_EQ(m.rect(2).x, 200);
    m.moveBy({0, 2}, 3, -4);
    EXPECT_EQ(m.rect(0), (Rect{13, 6, 20, 20}));
    EXPECT_EQ(m.rect(2), (Rect{203, 56, 10, 10}));
    // Nudges with the keys fold into one undo step.
    const int steps = m.undoStack().count();
    m.moveBy({1}, 1, 0, true);
    m.moveBy({1}, 1, 0, true);
    m.moveBy({1}, 0, 8, true);
    EXPECT_EQ(m.undoStack().count(), steps + 1);
    EXPECT_EQ(m.rect(1), (Rect{102, 43, 30, 40}));
}

TEST_F(DesignerTest, ModelRenameRefusesTakenAndEmptyNamesAndWarnsOfUnusableOnes) {
    DesignModel m;
    m.add("TVrLed", {});
    m.add("TVrLed", {});
    std::string error;
    EXPECT_FALSE(m.rename(1, "Led1", error));
    EXPECT_NE(error.find("already"), std::string::npos);
    EXPECT_FALSE(m.rename(1, "", error));
    EXPECT_FALSE(m.rename(1, std::string(256, 'x'), error));
    EXPECT_TRUE(m.rename(1, "Power", error));
    EXPECT_EQ(m.control(1).name, "Power");
    EXPECT_EQ(m.indexOf("Power"), 1);
    // A name a script cannot use is allowed (other tools' racks have them) but warned of.
    EXPECT_TRUE(m.rename(0, "two words", error));
    const struct {
        const char* name;
        bool usable;
    } names[] = {
        {"Level", true},       {"Level_2", true},    {"Volt.Set", true},  {"two words", false},
        {"a+b", false},        {"a-b", false},       {"a/b", false},      {"a&b", false},
        {"a=b", false},        {"a<b", false},       {"a>b", false},      {"say\"x", false},
        {"f(x)", false},       {"#led", false},      {"12", false},       {"1.5", false},
        {"error", false},      {"ERROR", false},     {"myport", false},   {"errors", true},
        {"debugonLed", false}, {"showline2", false}, {"setportX", false}, {"hidemainLamp", false},
        {"showmain", false},   {"Showmain", true},   {"debugoff", false}, {"a^2", false},
    };
    for (const auto& n : names)
        EXPECT_EQ(DesignModel::nameWarning(n.name).empty(), n.usable) << n.name;
}

TEST_F(DesignerTest, ModelReordersAndDeletes) {
    DesignModel m;
    for (int i = 0; i < 4; ++i)
        m.add("TVrLed", {});
    m.reorder(3, 0);
    m.reorder(1, 2);
    std::vector<std::string> names;
    for (int i = 0; i < m.count(); ++i)
        names.push_back(m.control(i).name);
    EXPECT_EQ(names, (std::vector<std::string>{"Led4", "Led2", "Led1", "Led3"}));
    m.remove({0, 2});
    ASSERT_EQ(m.count(), 2);
    EXPECT_EQ(m.control(0).name, "Led2");
    EXPECT_EQ(m.control(1).name, "Led3");
}

TEST_F(DesignerTest, ClipboardTextIsObjectBlocksInRackOrderAndPastesBack) {
    DesignModel a;
    a.add("TVrSlider", {8, 8, 40, 150});
    a.add("TVrLed", {64, 8, 24, 24});
    a.setProperty(0, "Max", rack::intValue(500));
    const std::string text = a.copyText({1, 0});
    EXPECT_EQ(text.rfind("object Slider1: TVrSlider\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nobject Led1: TVrLed\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("TFrmRack"), std::string::npos);

    // Into another rack: names and places kept.
    DesignModel b;
    std::vector<int> added;
    std::string error;
    ASSERT_TRUE(b.paste(text, error, &added)) << error;
    EXPECT_EQ(added, (std::vector<int>{0, 1}));
    EXPECT_EQ(b.control(0), a.control(0));
    EXPECT_EQ(b.control(1), a.control(1));
    // Into the same rack: free names, one grid step away.
    ASSERT_TRUE(a.paste(text, error, &added)) << error;
    EXPECT_EQ(a.control(2).name, "Slider2");
    EXPECT_EQ(a.rect(2), (Rect{16, 16, 40, 150}));
    EXPECT_EQ(rack::intProperty(a.control(2), "Max"), 500);

    // Typed by hand, with a comment; a whole rack gives its controls.
    DesignModel c;
    ASSERT_TRUE(c.paste("// two lamps\nobject Red: TVrLed\n Left = 1\nend\n"
                        "object Green: TVrLed\n ColorOn = clLime\nend\n",
                        error, &added))
        << error;
    EXPECT_EQ(c.count(), 2);
    EXPECT_EQ(c.control(1).name, "Green");
    ASSERT_TRUE(c.paste(kForeignRack, error, &added)) << error;
    EXPECT_EQ(c.count(), 4);
    EXPECT_EQ(c.control(3).children.size(), 1u);
    // Refused: classes outside the registry, properties outside a block, no text form.
    const int steps = c.undoStack().count();
    EXPECT_FALSE(c.paste("object X: TButton\nend\n", error));
    EXPECT_NE(error.find("TButton"), std::string::npos);
    EXPECT_FALSE(c.paste("Left = 3\nobject Y: TVrLed\nend\n", error));
    EXPECT_FALSE(c.paste("hello", error));
    EXPECT_FALSE(c.paste("", error));
    EXPECT_EQ(c.undoStack().count(), steps);
    EXPECT_EQ(c.count(), 4);
}

TEST_F(DesignerTest, UndoAndRedoGiveBackTheIdenticalTree) {
    DesignModel m;
    std::string error;
    ASSERT_TRUE(m.open(rackFile("foreign.res", kForeignRack).toStdString(), error)) << error;
    std::vector<rack::Component> states{m.root()};
    auto step = [&](auto&& f) {
        f();
        states.push_back(m.root());
    };
    step([&] { m.add("TVrSlider", {8, 100, 40, 90}); });
    step([&] { m.moveBy({0, 2}, 8, 16); });
    step([&] { m.setRects({1}, {{1, 2, 3, 4}}, "Resize"); });
    step([&] { m.align({2, 0}, Align::Bottom); });
    step([&] { m.rename(0, "Meter", error); });
    step([&] { m.reorder(2, 0); });
    step([&] { m.setProperty(1, "Position", rack::intValue(70)); });
    step([&] { m.setProperty(-1, "Caption", rack::stringValue("Renamed")); });
    step([&] { m.paste(m.copyText({0, 1}), error); });
    step([&] { m.remove({1, 3}); });
    step([&] { m.removeProperty(2, "Tag"); });
    ASSERT_EQ(m.undoStack().count(), int(states.size()) - 1);
    for (size_t i = states.size() - 1; i-- > 0;) {
        m.undoStack().undo();
        EXPECT_EQ(m.root(), states[i]) << "undo to state " << i;
    }
    EXPECT_FALSE(m.modified());
    for (size_t i = 1; i < states.size(); ++i) {
        m.undoStack().redo();
        EXPECT_EQ(m.root(), states[i]) << "redo to state " << i;
    }
}

// Each step gives back the selection it was made with on undo and the one it left on redo,
// whatever the user clicked in between; the canvas's old indices would otherwise point at
// whichever control now stands there.
TEST_F(DesignerTest, UndoAndRedoRestoreTheSelectionOfTheStep) {
    DesignModel m;
    std::string error;
    m.add("TVrMeter", {0, 0, 150, 100});        // Meter1
    m.add("TVrPowerMeter", {0, 110, 170, 120}); // PowerMeter1
    m.add("TVrNum", {200, 0, 100, 40});         // Num1
    std::vector<int> told;
    QObject::connect(&m, &DesignModel::selectionRestored,
                     [&](const std::vector<int>& s) { told = s; });
    auto names = [&](const std::vector<int>& sel) {
        std::vector<std::string> out;
        for (int i : sel)
            out.push_back(i >= 0 && i < m.count() ? m.control(i).name : "?");
        return out;
    };
    using Names = std::vector<std::string>;
    const struct {
        const char* step;
        Names selectedBefore, selectedAfter;
        std::function<void()> act;
    } steps[] = {
        {"delete", {"Meter1"}, {}, [&] { m.remove(m.selection()); }},
        {"move",
         {"Num1", "PowerMeter1"},
         {"Num1", "PowerMeter1"},
         [&] { m.moveBy(m.selection(), 8, 0); }},
        {"paste",
         {"PowerMeter1"},
         {"PowerMeter2"},
         [&] { ASSERT_TRUE(m.paste(m.copyText(m.selection()), error)) << error; }},
        {"reorder", {"Num1", "Meter1"}, {"Num1", "Meter1"}, [&] { m.reorder(0, 2); }},
        {"add",
         {"Meter1"},
         {"Led1"},
         [&] {
             m.add("TVrLed", {0, 0, 24, 24});
         }},
    };
    for (const auto& st : steps) {
        SCOPED_TRACE(st.step);
        m.undoStack().clear();
        std::vector<int> sel;
        for (const std::string& n : st.selectedBefore)
            sel.push_back(m.indexOf(n));
        m.setSelection(sel);
        st.act();
        const Names after = names(m.selection());
        EXPECT_EQ(after, st.selectedAfter);
        // The user picks something else, then undoes.
        m.setSelection({m.indexOf("Num1")});
        m.undoStack().undo();
        EXPECT_EQ(names(m.selection()), st.selectedBefore);
        EXPECT_EQ(names(told), st.selectedBefore);
        m.setSelection({});
        m.undoStack().redo();
        EXPECT_EQ(names(told), st.selectedAfter);
        m.undoStack().undo();
    }
}

// A label whose caption or font the user changes grows to show its text, in the same undo
// step; it never shrinks, and opening a rack keeps every size its file gives.
TEST_F(DesignerTest, ALabelEditedInTheDesignerGrowsToItsText) {
    const struct {
        const char* what;
        const char* property;
        rack::Value value;
        bool wider, taller;
    } cases[] = {
        {"long caption", "Caption", rack::stringValue("A caption far longer than the label"), true,
         false},
        {"large font", "Font.Height", rack::intValue(-40), true, true},
        {"bold", "Font.Style", rack::setValue({"fsBold"}), false, false},
        {"colour", "Font.Color", rack::identValue("clRed"), false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DesignModel m;
        m.add("TLabel", {8, 8, 80, 16}); // caption "Label1" fits
        const Rect before = m.rect(0);
        const int steps = m.undoStack().count();
        m.setProperty(0, c.property, c.value);
        const Rect after = m.rect(0);
        EXPECT_EQ(m.undoStack().count(), steps + 1);
        EXPECT_EQ(after.w > before.w, c.wider) << after.w;
        EXPECT_EQ(after.h > before.h, c.taller) << after.h;
        EXPECT_GE(after.w, before.w);
        EXPECT_GE(after.h, before.h);
        m.undoStack().undo();
        EXPECT_EQ(m.rect(0), before);
    }
    // Opened as the file has it: a cut text stays cut.
    DesignModel m;
    std::string error;
    ASSERT_TRUE(m.open(rackFile("small.res", "object Rack: TFrmRack\n"
                                             "  object Tiny: TLabel\n"
                                             "    Left = 0\n    Top = 0\n"
                                             "    Width = 10\n    Height = 5\n"
                                             "    Caption = 'Much longer than ten pixels'\n"
                                             "  end\nend\n")
                           .toStdString(),
                       error))
        << error;
    EXPECT_EQ(m.rect(0), (Rect{0, 0, 10, 5}));
    // A move or a hint is no reason to grow.
    m.moveBy({0}, 1, 1);
    m.setProperty(0, "Hint", rack::stringValue("h"));
    EXPECT_EQ(m.rect(0), (Rect{1, 1, 10, 5}));
}

TEST_F(DesignerTest, RacksOfOtherToolsKeepWhatThisProgramDoesNotKnow) {
    const QString in = rackFile("foreign.res", kForeignRack);
    DesignModel m;
    std::string error;
    ASSERT_TRUE(m.open(in.toStdString(), error)) << error;
    ASSERT_TRUE(m.save(path("same.res").toStdString(), error)) << error;
    EXPECT_EQ(slurp(path("same.res")), slurp(in)); // byte for byte
    EXPECT_FALSE(m.modified());

    m.moveBy({0}, 8, 8);
    ASSERT_TRUE(m.save(path("moved.res").toStdString(), error)) << error;
    auto r = rack::readFile(path("moved.res").toStdString());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.doc.root.className, "TForm1");
    EXPECT_EQ(rack::intProperty(r.doc.root, "PixelsPerInch"), 96);
    EXPECT_EQ(rack::identProperty(r.doc.root, "OnClose"), "FormClose");
    const rack::Component* g = r.doc.root.find("Gauge");
    EXPECT_EQ(rack::intProperty(*g, "Tag"), 7);
    EXPECT_EQ(g->property("Scale.Ticks")->value.type, rack::VType::Collection);
    EXPECT_EQ(rack::intProperty(*g, "Left"), 16);
    EXPECT_EQ(rack::boolProperty(*r.doc.root.find("Inner"), "DesignOnly"), true);

    // The text form opens too; a file with a class outside the registry does not.
    ASSERT_EQ(rack::saveFile(path("rack.txt").toStdString(), kForeignRack), "");
    ASSERT_TRUE(m.open(path("rack.txt").toStdString(), error)) << error;
    EXPECT_EQ(m.path(), ""); // saved as a rack file under a name the user gives
    ASSERT_EQ(rack::saveFile(path("bad.txt").toStdString(),
                             "object F: TForm1\nobject B: TButton\nend\nend\n"),
              "");
    EXPECT_FALSE(m.open(path("bad.txt").toStdString(), error));
    EXPECT_NE(error.find("TButton"), std::string::npos);
    EXPECT_EQ(m.count(), 2); // unchanged
}

// Thousands of pasted controls whose names are all taken each get the next free name of
// their class. (Finding each by trying Label1, Label2 ... through the whole rack took hours
// here, and about 80 s for 2000.)
TEST_F(DesignerTest, PastingThousandsOfClashingNamesGivesEachTheNextFreeName) {
    std::string text;
    for (int i = 1; i <= 5000; ++i)
        text += "object Label" + std::to_string(i) + ": TLabel\nend\n";
    DesignModel m;
    std::string error;
    ASSERT_TRUE(m.paste(text, error)) << error;
    ASSERT_TRUE(m.paste(text, error)) << error;
    ASSERT_EQ(m.count(), 10000);
    EXPECT_EQ(m.control(4999).name, "Label5000");
    EXPECT_EQ(m.control(5000).name, "Label5001");
    EXPECT_EQ(m.control(9999).name, "Label10000");
    EXPECT_EQ(m.rect(5000), (Rect{8, 8, 0, 0}));
}

// What the designer takes in or writes passes openrack's own checks: a value the loader
// refuses is not pasted and a rack it refuses is not saved, each with a reason.
TEST_F(DesignerTest, ValuesOpenrackRefusesAreNeitherPastedNorSaved) {
    const std::string big(limits::kRackText + 1, 'x');
    const struct {
        std::string block;
        const char* why; // empty: pasted
    } cases[] = {
        {" Left = 40000\n", "Left: coordinate out of range"},
        {" Top = -50000\n", "Top: coordinate out of range"},
        {" Width = 100000\n", "Width: coordinate out of range"},
        {" Left = -32767\n Width = 32767\n", ""},
        {" Caption = '" + big + "'\n", "Lamp.Caption: text longer than 1048576 bytes"},
        {" Caption = '" + big.substr(1) + "'\n", ""},
        {" Text = '" + big + "'\n", "Lamp.Text: text longer than 1048576 bytes"},
        {" OnClick = Button1Click\n", "no event handler named Button1Click"},
    };
    for (const auto& c : cases) {
        DesignModel m;
        std::string error;
        const bool pasted = m.paste("object Lamp: TLabel\n" + c.block + "end\n", error);
        const std::string what = c.block.substr(0, 40);
        if (!*c.why) {
            EXPECT_TRUE(pasted) << what << error;
            continue;
        }
        EXPECT_FALSE(pasted) << what;
        EXPECT_NE(error.find(c.why), std::string::npos) << what << " -> " << error;
        EXPECT_EQ(m.count(), 0) << what;
        EXPECT_EQ(m.undoStack().count(), 0) << what;
    }

    // A text form (opened without the loader's checks) with a value out of range is not
    // saved until the value is mended; what is saved then opens in the rack window.
    ASSERT_EQ(rack::saveFile(path("far.txt").toStdString(),
                             "object R: TFrmRack\nobject Lamp: TVrLed\n Left = 40000\nend\nend\n"),
              "");
    DesignModel m;
    std::string error;
    ASSERT_TRUE(m.open(path("far.txt").toStdString(), error)) << error;
    EXPECT_FALSE(m.save(path("far.res").toStdString(), error));
    EXPECT_NE(error.find("Lamp.Left: coordinate out of range"), std::string::npos) << error;
    EXPECT_FALSE(QFileInfo::exists(path("far.res")));
    m.setProperty(0, "Left", rack::intValue(400));
    ASSERT_TRUE(m.save(path("far.res").toStdString(), error)) << error;
    int x = 0, y = 0;
    rack::RackWindow window(x, y);
    EXPECT_TRUE(window.load(path("far.res").toStdString(), error)) << error;

    // The rack window's own events too: openrack knows three handlers.
    m.setProperty(-1, "OnCreate", rack::identValue("FormCreate"));
    EXPECT_FALSE(m.save(path("far.res").toStdString(), error));
    EXPECT_NE(error.find("no event handler named FormCreate"), std::string::npos) << error;
}

// The heap in use, where the allocator tells it (not under the sanitizers).
std::size_t heapInUse() {
    return mallinfo2().uordblks;
}

// What the heap grew by since `before` (nothing when it shrank).
std::size_t heapGrowth(std::size_t before) {
    return std::max(heapInUse(), before) - before;
}

// An undo step keeps what it changed, not the whole rack twice: a hundred pastes of one
// lamp on a rack of 1000 controls cost about a hundred lamps (they cost 2 x 100 racks).
TEST_F(DesignerTest, UndoStepsCostWhatTheyChange) {
    std::string text;
    for (int i = 1; i <= 1000; ++i)
        text += "object Led" + std::to_string(i) +
                ": TVrLed\n Left = 8\n Top = 8\n"
                "Width = 24\n Height = 24\n ColorOn = clLime\nend\n";
    DesignModel m;
    std::string error;
    ASSERT_TRUE(m.paste(text, error)) << error;
    const std::size_t rackBytes = m.undoBytes();
    const std::size_t heapBefore = heapInUse();
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(m.paste("object Lamp: TVrLed\n Left = 8\nend\n", error)) << error;
    const std::size_t grown = heapGrowth(heapBefore);
    if (heapBefore == 0) GTEST_SKIP() << "the allocator does not tell its heap";
    EXPECT_LT(grown, 4u << 20) << "a rack is about " << rackBytes << " bytes";
    EXPECT_LT(m.undoBytes() - rackBytes, 1u << 20);
    // The steps still undo and redo exactly.
    const rack::Component last = m.root();
    for (int i = 0; i < 50; ++i)
        m.undoStack().undo();
    EXPECT_EQ(m.count(), 1050);
    EXPECT_EQ(m.control(1000).name, "Lamp");
    EXPECT_EQ(m.control(1049).name, "Led1049");
    for (int i = 0; i < 50; ++i)
        m.undoStack().redo();
    EXPECT_EQ(m.root(), last);
}

// The history is held to its bound: past it the oldest steps go, the newest stay and undo
// exactly, and a saved state that went with them is no longer taken for unmodified.
TEST_F(DesignerTest, TheUndoHistoryDropsItsOldestStepsPastItsBound) {
    DesignModel m;
    m.add("TVrLed", {});
    std::string error;
    ASSERT_TRUE(m.save(path("big.res").toStdString(), error)) << error;
    const std::size_t heapBefore = heapInUse();
    // Each step replaces a caption of 1 MiB with another: 2 MiB a step, 200 MiB in all.
    auto caption = [](int i) {
        std::string c(limits::kRackText, 'a' + char(i % 26));
        c.replace(0, 4, std::to_string(1000 + i));
        return c;
    };
    for (int i = 0; i < 100; ++i)
        m.setProperty(-1, "Caption", rack::stringValue(caption(i)));
    EXPECT_LE(m.undoBytes(), limits::kDesignerUndoBytes);
    const int kept = m.undoStack().count();
    EXPECT_GT(kept, 10);
    EXPECT_LT(kept, 40);
    if (heapBefore != 0) {
        EXPECT_LT(heapGrowth(heapBefore), limits::kDesignerUndoBytes + (16u << 20));
    }
    EXPECT_TRUE(m.undoStack().canUndo());
    EXPECT_FALSE(m.undoStack().canRedo());
    EXPECT_EQ(m.undoStack().undoText(), QStringLiteral("Change Caption"));
    for (int i = 0; i < kept; ++i)
        m.undoStack().undo();
    EXPECT_FALSE(m.undoStack().canUndo());
    EXPECT_EQ(rack::textProperty(m.root(), "Caption"), caption(99 - kept));
    EXPECT_TRUE(m.modified()); // the saved state is gone with the oldest steps
    for (int i = 0; i < kept; ++i)
        m.undoStack().redo();
    EXPECT_EQ(rack::textProperty(m.root(), "Caption"), caption(99));
    // Steps go on, and fold as before.
    const int steps = m.undoStack().count();
    m.moveBy({0}, 1, 0, true);
    m.moveBy({0}, 1, 0, true);
    EXPECT_EQ(m.undoStack().count(), steps + 1);
}

// ---- the window, driven like a user ----

class DesignerWindowTest : public DesignerTest {
  protected:
    DesignerWindow w;
    void SetUp() override {
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        // Shortcuts go to the active window; a window manager activates it a little later.
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    }
    QWidget* layer() { return w.canvas().layer(); }
    void choose(const char* cls) {
        QListWidget& p = w.palette();
        const auto items = p.findItems(QString::fromLatin1(cls), Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1);
        p.scrollToItem(items.front());
        QTest::mouseClick(p.viewport(), Qt::LeftButton, {},
                          p.visualItemRect(items.front()).center());
    }
    void drag(QPoint from, QPoint to, Qt::KeyboardModifiers mods = {}) {
        QTest::mousePress(layer(), Qt::LeftButton, mods, from);
        const QPoint mid = (from + to) / 2;
        QTest::mouseMove(layer(), mid);
        QTest::mouseMove(layer(), to);
        QTest::mouseRelease(layer(), Qt::LeftButton, mods, to);
    }
};

TEST_F(DesignerWindowTest, MousePlacesASliderByDragResizesItByAHandleAndUndoes) {
    choose("TVrSlider");
    EXPECT_EQ(w.canvas().placing(), "TVrSlider");
    drag({17, 15}, {57, 175}); // snapped to the 8-pixel grid
    DesignModel& m = w.model();
    ASSERT_EQ(m.count(), 1);
    EXPECT_EQ(m.control(0).className, "TVrSlider");
    EXPECT_EQ(m.control(0).name, "Slider1");
    EXPECT_EQ(m.rect(0), (Rect{16, 16, 40, 160}));
    EXPECT_EQ(w.canvas().selection(), std::vector<int>{0});
    EXPECT_EQ(w.canvas().widgetOf(0)->geometry(), QRect(16, 16, 40, 160));
    EXPECT_EQ(w.objectList().count(), 1);
    EXPECT_TRUE(w.isWindowModified());

    // The bottom-right handle.
    drag({56, 176}, {81, 199});
    EXPECT_EQ(m.rect(0), (Rect{16, 16, 64, 184}));
    EXPECT_EQ(w.canvas().widgetOf(0)->geometry(), QRect(16, 16, 64, 184));
    // The left-middle handle.
    drag({16, 108}, {33, 108});
    EXPECT_EQ(m.rect(0), (Rect{32, 16, 48, 184}));

    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(m.rect(0), (Rect{16, 16, 64, 184}));
    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(m.rect(0), (Rect{16, 16, 40, 160}));
    EXPECT_EQ(w.canvas().widgetOf(0)->geometry(), QRect(16, 16, 40, 160));
    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(m.count(), 0);
    EXPECT_FALSE(w.isWindowModified());
    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(m.count(), 1);
}

TEST_F(DesignerWindowTest, ADropFromThePalettePlacesTheClassAtTheSnappedPoint) {
    QListWidget& p = w.palette();
    const auto items = p.findItems(QStringLiteral("TVrMeter"), Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1);
    std::unique_ptr<QMimeData> data(p.model()->mimeData({p.indexFromItem(items.front())}));
    ASSERT_TRUE(data);
    QDragEnterEvent enter({50, 60}, Qt::CopyAction, data.get(), Qt::LeftButton, {});
    QApplication::sendEvent(layer(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 60), Qt::CopyAction, data.get(), Qt::LeftButton, {});
    QApplication::sendEvent(layer(), &drop);
    ASSERT_EQ(w.model().count(), 1);
    EXPECT_EQ(w.model().control(0).className, "TVrMeter");
    EXPECT_EQ(w.model().rect(0).x, 48);
    EXPECT_EQ(w.model().rect(0).y, 64);
    EXPECT_EQ(w.canvas().selection(), std::vector<int>{0});
}

// The palette had the focus while the drag went on: after the drop the arrows move the new
// control at once.
TEST_F(DesignerWindowTest, ADroppedControlIsSelectedAndTheArrowsMoveIt) {
    QListWidget& p = w.palette();
    p.setFocus();
    const auto items = p.findItems(QStringLiteral("TVrLed"), Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1);
    std::unique_ptr<QMimeData> data(p.model()->mimeData({p.indexFromItem(items.front())}));
    QDragEnterEvent enter({40, 40}, Qt::CopyAction, data.get(), Qt::LeftButton, {});
    QApplication::sendEvent(layer(), &enter);
    QDropEvent drop(QPointF(40, 40), Qt::CopyAction, data.get(), Qt::LeftButton, {});
    QApplication::sendEvent(layer(), &drop);
    ASSERT_EQ(w.model().count(), 1);
    EXPECT_EQ(w.canvas().selection(), std::vector<int>{0});
    ASSERT_EQ(QApplication::focusWidget(), layer());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(w.model().rect(0).x, 41);
    EXPECT_EQ(w.model().rect(0).y, 41);
}

// Each paste of the same copy lands one grid step further, never on an earlier copy.
TEST_F(DesignerWindowTest, RepeatedPastesStepAwayByTheGrid) {
    DesignModel& m = w.model();
    m.add("TVrLed", {16, 16, 24, 24});
    m.add("TVrLed", {64, 16, 24, 24});
    w.findChild<QSpinBox*>(QStringLiteral("gridSize"))->setValue(12);
    w.canvas().setSelection({0, 1});
    w.copy();
    for (int i = 1; i <= 3; ++i) {
        w.paste();
        ASSERT_EQ(m.count(), 2 + 2 * i);
        EXPECT_EQ(m.rect(2 * i), (Rect{16 + 12 * i, 16 + 12 * i, 24, 24})) << "paste " << i;
        EXPECT_EQ(m.rect(2 * i + 1), (Rect{64 + 12 * i, 16 + 12 * i, 24, 24})) << "paste " << i;
    }
}

// A click on the grey around the rack chooses nothing, like one on the rack's empty space.
TEST_F(DesignerWindowTest, AClickAroundTheRackClearsTheSelection) {
    DesignModel& m = w.model();
    m.setProperty(-1, "ClientWidth", rack::intValue(120));
    m.setProperty(-1, "ClientHeight", rack::intValue(80));
    m.add("TVrLed", {16, 16, 24, 24});
    w.canvas().setSelection({0});
    QWidget* around = w.findChild<QWidget*>(QStringLiteral("aroundRack"));
    ASSERT_TRUE(around);
    QTest::qWait(20); // the scroll area centres the smaller rack
    const QRect rackThere(w.canvas().mapTo(around, QPoint(0, 0)), w.canvas().size());
    ASSERT_GT(rackThere.left(), 4) << "the rack fills the area: no room around it";
    QTest::mouseClick(around, Qt::LeftButton, {}, rackThere.topLeft() - QPoint(3, 3));
    EXPECT_TRUE(w.canvas().selection().empty());
}

// The window opens within the screen, its status bar in sight, however large it was made.
TEST_F(DesignerWindowTest, TheWindowFitsTheScreen) {
    const QRect area = w.screen()->availableGeometry();
    w.hide();
    w.resize(area.width() + 300, area.height() + 200);
    w.move(area.right() - 50, area.top() + 295);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_TRUE(area.contains(w.frameGeometry()))
        << "frame " << w.frameGeometry().x() << "," << w.frameGeometry().y() << " "
        << w.frameGeometry().width() << "x" << w.frameGeometry().height();
    QStatusBar* bar = w.statusBar();
    const QRect barOnScreen(bar->mapToGlobal(QPoint(0, 0)), bar->size());
    EXPECT_TRUE(area.contains(barOnScreen));
}

// An image control without a picture is drawn by nothing: the designer outlines it, Test
// mode and the running rack show it as it is.
TEST_F(DesignerWindowTest, AnEmptyImageIsOutlinedWhileDesigning) {
    DesignModel& m = w.model();
    m.add("TImage", {16, 16, 64, 48});
    w.canvas().setGridShown(false);
    w.canvas().setSelection({});
    const QRect r(16, 16, 64, 48);
    auto differing = [&] {
        const QImage shot = w.canvas().grab(r).toImage();
        const QRgb bg = shot.pixel(shot.width() / 2 + 7, 2); // on no line of the outline
        int n = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                n += shot.pixel(x, y) != bg;
        return n;
    };
    EXPECT_GT(differing(), 2 * (64 + 48) / 2) << "no outline while designing";
    w.setTestMode(true);
    EXPECT_EQ(differing(), 0) << "an outline in Test mode";
    w.setTestMode(false);
}

TEST_F(DesignerWindowTest, MouseMovesSelectsWithRubberBandAndKeysNudge) {
    DesignModel& m = w.model();
    m.add("TVrLed", {16, 16, 24, 24});
    m.add("TVrLed", {64, 16, 24, 24});
    m.add("TVrLed", {200, 200, 24, 24});
    // Click selects, drag moves by whole grid steps.
    drag({20, 20}, {31, 37});
    EXPECT_EQ(w.canvas().selection(), std::vector<int>{0});
    EXPECT_EQ(m.rect(0), (Rect{24, 32, 24, 24}));
    // Ctrl+click adds; dragging moves both.
    QTest::mouseClick(layer(), Qt::LeftButton, Qt::ControlModifier, {70, 20});
    EXPECT_EQ(w.canvas().selection(), (std::vector<int>{0, 1}));
    drag({70, 20}, {78, 20});
    EXPECT_EQ(m.rect(0).x, 32);
    EXPECT_EQ(m.rect(1).x, 72);
    // The rubber band from empty space.
    drag({150, 150}, {260, 260});
    EXPECT_EQ(w.canvas().selection(), std::vector<int>{2});
    drag({5, 5}, {120, 70});
    EXPECT_EQ(w.canvas().selection(), (std::vector<int>{0, 1}));
    // Arrows: one pixel, with Shift eight.
    layer()->setFocus();
    QTest::keyClick(layer(), Qt::Key_Right);
    QTest::keyClick(layer(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(m.rect(0), (Rect{33, 40, 24, 24}));
    EXPECT_EQ(m.rect(1), (Rect{73, 24, 24, 24}));
    QTest::keyClick(&w, Qt::Key_Delete);
    EXPECT_EQ(m.count(), 1);
}

TEST_F(DesignerWindowTest, PropertiesRenameAndTestModeSteppingANumber) {
    DesignModel& m = w.model();
    m.add("TVrNum", {16, 16, 104, 40});
    m.add("TVrSpinner", {128, 16, 24, 40});
    w.canvas().setSelection({1});
    auto* hint = w.properties().findChild<QLineEdit*>(QStringLiteral("prop_Hint"));
    ASSERT_TRUE(hint);
    hint->setText(QStringLiteral("Num1"));
    emit hint->editingFinished();
    QTest::qWait(20);
    EXPECT_EQ(rack::textProperty(m.control(1), "Hint"), "Num1");

    // Renaming: a taken name is refused; a name a script cannot use shows a warning.
    w.canvas().setSelection({0});
    auto* name = w.properties().findChild<QLineEdit*>(QStringLiteral("prop_Name"));
    ASSERT_TRUE(name);
    QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(name, QStringLiteral("set value"));
    auto* warn = w.properties().findChild<QLabel*>(QStringLiteral("nameWarning"));
    ASSERT_TRUE(warn);
    EXPECT_TRUE(warn->text().contains(QStringLiteral("blank"))) << warn->text().toStdString();

    auto* max = w.properties().findChild<QSpinBox*>(QStringLiteral("prop_Max"));
    ASSERT_TRUE(max);
    max->setValue(5);
    QTest::qWait(20);
    EXPECT_EQ(rack::intProperty(m.control(0), "Max"), 5);

    w.setTestMode(true);
    EXPECT_TRUE(w.canvas().testMode());
    EXPECT_FALSE(w.canvas().layer()->isVisible());
    QWidget* num = w.canvas().widgetOf(0);
    for (int i = 0; i < 7; ++i)
        QMetaObject::invokeMethod(w.canvas().widgetOf(1), "upClicked");
    EXPECT_EQ(num->property("Value").toInt(), 5); // clamped to the Max set above
    w.setTestMode(false);
    EXPECT_EQ(w.canvas().widgetOf(0)->property("Value").toInt(), 0); // the rack is untouched
    EXPECT_EQ(m.control(0).property("Value"), nullptr);

    // While a script runs, Test mode waits; the rest works.
    w.scriptRunning = [] { return true; };
    w.setTestMode(true);
    EXPECT_FALSE(w.canvas().testMode());
    m.add("TVrLed", {});
    EXPECT_EQ(m.count(), 3);
}

TEST_F(DesignerWindowTest, ClipboardCarriesTheTextFormBetweenRacks) {
    w.model().add("TVrMeter", {8, 8, 150, 100});
    w.canvas().setSelection({0});
    w.copy();
    const QString text = QApplication::clipboard()->text();
    EXPECT_TRUE(text.startsWith(QStringLiteral("object Meter1: TVrMeter"))) << text.toStdString();
    DesignerWindow other;
    other.paste();
    ASSERT_EQ(other.model().count(), 1);
    EXPECT_EQ(other.canvas().selection(), std::vector<int>{0});
    w.cut();
    EXPECT_EQ(w.model().count(), 0);
    QApplication::clipboard()->setText(QStringLiteral("object Typed: TVrLed\nend\n"));
    w.paste();
    EXPECT_EQ(w.model().control(0).name, "Typed");
}

TEST_F(DesignerWindowTest, TheDesignerIsNotAProgramWindowForTheRootNameRule) {
    std::string error;
    const char* rackText = "object Form1: TForm1\nobject Lamp: TVrLed\nend\nend\n";
    ASSERT_TRUE(w.model().open(rackFile("r.res", rackText).toStdString(), error));
    EXPECT_TRUE(w.objectName().isEmpty());
    int x = 0, y = 0;
    rack::RackWindow rackWindow(x, y);
    ASSERT_TRUE(rackWindow.load(path("r.res").toStdString(), error)) << error;
    EXPECT_EQ(rackWindow.objectName(), QStringLiteral("Form1"));
}

TEST_F(DesignerWindowTest, ObjectListFollowsTheRackOrderAndReordersIt) {
    DesignModel& m = w.model();
    for (int i = 0; i < 3; ++i)
        m.add("TVrLed", {i * 32, 0, 24, 24});
    QListWidget& list = w.objectList();
    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(list.item(2)->text(), QStringLiteral("Led3: TVrLed"));
    // What a drag in the list does: the row moves, the rack order follows.
    ASSERT_TRUE(list.model()->moveRow(QModelIndex(), 2, QModelIndex(), 0));
    QTest::qWait(20);
    EXPECT_EQ(m.control(0).name, "Led3");
    EXPECT_EQ(m.control(1).name, "Led1");
    EXPECT_EQ(list.item(0)->text(), QStringLiteral("Led3: TVrLed"));
    EXPECT_EQ(w.canvas().selection(), std::vector<int>{0});
    // Selecting in the list selects on the rack.
    list.clearSelection();
    list.item(2)->setSelected(true);
    EXPECT_EQ(w.canvas().selection(), std::vector<int>{2});
    m.undoStack().undo();
    EXPECT_EQ(m.control(0).name, "Led1");
    EXPECT_EQ(list.item(0)->text(), QStringLiteral("Led1: TVrLed"));
}

// The user's story: Meter1 deleted, Num1 clicked, Ctrl+Z brings Meter1 back selected, so
// that the next Delete takes Meter1 again and never the control now at Num1's old place.
TEST_F(DesignerWindowTest, UndoingADeleteSelectsTheControlItBringsBack) {
    DesignModel& m = w.model();
    m.add("TVrMeter", {16, 16, 152, 104});
    m.add("TVrPowerMeter", {16, 136, 176, 120});
    m.add("TVrNum", {200, 16, 104, 40});
    QTest::mouseClick(layer(), Qt::LeftButton, {}, {60, 60}); // Meter1
    ASSERT_EQ(w.canvas().selection(), std::vector<int>{0});
    QTest::keyClick(&w, Qt::Key_Delete);
    ASSERT_EQ(m.indexOf("Meter1"), -1);
    QTest::mouseClick(layer(), Qt::LeftButton, {}, {250, 30}); // Num1
    ASSERT_EQ(w.canvas().selection(), std::vector<int>{m.indexOf("Num1")});
    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(w.canvas().selection(), std::vector<int>{m.indexOf("Meter1")});
    ASSERT_EQ(w.objectList().selectedItems().size(), 1);
    EXPECT_EQ(w.objectList().selectedItems().front()->text().toStdString(), "Meter1: TVrMeter");
    // Redo: what the delete left, nothing selected.
    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(w.canvas().selection().empty());
    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(&w, Qt::Key_Delete);
    EXPECT_EQ(m.indexOf("Meter1"), -1);
    EXPECT_NE(m.indexOf("PowerMeter1"), -1);
    EXPECT_NE(m.indexOf("Num1"), -1);
}

// The designer draws every control as the running rack draws it: each of the classes with
// a colour, a font colour, a font name, a height and a style of its own, drawn once on the
// designer's canvas and once in the rack window a script opens, pixel for pixel the same.
TEST_F(DesignerWindowTest, EveryClassLooksInTheDesignerAsInTheRunningRack) {
    int compared = 0;
    for (const rack::ControlClass& cls : rack::controlClasses()) {
        const std::string name(cls.name);
        SCOPED_TRACE(name);
        const Rect size = defaultSize(name);
        std::string body = "object Look: TFrmRack\n  ClientWidth = 300\n  ClientHeight = 200\n"
                           "  Color = clTeal\n  object Shown: " +
                           name +
                           "\n    Left = 8\n    Top = 8\n    Width = " + std::to_string(size.w) +
                           "\n    Height = " + std::to_string(size.h) +
                           "\n    Color = clNavy\n    Font.Color = clYellow\n"
                           "    Font.Name = 'DejaVu Serif'\n    Font.Height = -15\n"
                           "    Font.Style = [fsBold, fsItalic]\n";
        if (name == "TLabel") body += "    Caption = 'Volts 12'\n";
        if (name == "TEdit" || name == "TComboBox") body += "    Text = 'Volts 12'\n";
        if (name == "TMemo") body += "    Lines.Strings = (\n      'Volts'\n      '12')\n";
        body += "  end\nend\n";
        const QString file = rackFile((name + ".res").c_str(), body.c_str());

        ASSERT_TRUE(w.load(file));
        w.canvas().setGridShown(false);
        const QRect r(8, 8, size.w, size.h);
        auto designed = [&] {
            QApplication::processEvents();
            if (QWidget* f = w.canvas().focusWidget()) f->clearFocus();
            return w.canvas().grab(r).toImage().convertToFormat(QImage::Format_RGB32);
        };
        // While designing (an empty image has its outline then, on purpose) and in Test mode.
        const QImage designing = designed();
        w.setTestMode(true);
        const QImage testing = designed();
        w.setTestMode(false);

        int x = 0, y = 0;
        rack::RackWindow running(x, y);
        std::string error;
        ASSERT_TRUE(running.load(file.toStdString(), error)) << error;
        running.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&running));
        // The window gives its first control the focus; the designer's controls have none.
        // A caret or a focus frame is no difference in how a control looks.
        if (QWidget* f = running.focusWidget()) f->clearFocus();
        const QImage ran = running.grab(r).toImage().convertToFormat(QImage::Format_RGB32);
        running.hide();

        const std::pair<const char*, const QImage*> views[] = {{"designing", &designing},
                                                               {"testing", &testing}};
        for (const auto& [view, shot] : views) {
            if (name == "TImage" && shot == &designing) continue;
            ASSERT_EQ(shot->size(), ran.size());
            int differing = 0;
            for (int yy = 0; yy < ran.height(); ++yy)
                for (int xx = 0; xx < ran.width(); ++xx)
                    differing += shot->pixel(xx, yy) != ran.pixel(xx, yy);
            if (differing) {
                shot->save(dir.filePath(QString::fromStdString(name + "." + view + ".png")));
                ran.save(dir.filePath(QString::fromStdString(name + ".rack.png")));
                dir.setAutoRemove(false);
            }
            EXPECT_EQ(differing, 0) << view << ": pictures in " << dir.path().toStdString();
        }
        ++compared;
    }
    EXPECT_EQ(compared, 23);
}

TEST_F(DesignerTest, RackMenuOpensOneDesignerWindow) {
    QWidget main;
    bool running = false;
    QMenu* menu = createRackMenu(&main, [&] { return running; });
    QStringList items;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) items << a->text();
    EXPECT_EQ(items, (QStringList{"New rack", "Open rack for editing...", "Save rack",
                                  "Save rack as...", "Export as text..."}));
    menu->findChild<QAction*>(QStringLiteral("newRackAction"))->trigger();
    auto windows = main.findChildren<DesignerWindow*>();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_TRUE(windows.front()->isVisible());
    EXPECT_TRUE(windows.front()->isWindow());
    running = true;
    windows.front()->setTestMode(true);
    EXPECT_FALSE(windows.front()->canvas().testMode());
    menu->findChild<QAction*>(QStringLiteral("newRackAction"))->trigger();
    EXPECT_EQ(main.findChildren<DesignerWindow*>().size(), 1);
}

TEST_F(DesignerTest, TheMainWindowShowsTheRackMenu) {
    nv::MainWindow::Options options;
    options.programDir = dir.path();
    nv::MainWindow form(options);
    QMenuBar* bar = form.menuBarDock()->findChild<QMenuBar*>();
    ASSERT_TRUE(bar);
    QStringList menus;
    for (QAction* a : bar->actions())
        menus << a->text();
    EXPECT_TRUE(menus.contains(QStringLiteral("&Rack"))) << menus.join(',').toStdString();
    QAction* rackMenu = form.findChild<QAction*>(QStringLiteral("rackMenu"));
    ASSERT_TRUE(rackMenu);
    rackMenu->menu()->findChild<QAction*>(QStringLiteral("newRackAction"))->trigger();
    auto windows = form.findChildren<DesignerWindow*>();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_TRUE(windows.front()->isVisible());
    windows.front()->close();
}

// Rack > New in the main window; the one designer window it opens, or null.
DesignerWindow* newRackFrom(nv::MainWindow& form) {
    QAction* rackMenu = form.findChild<QAction*>(QStringLiteral("rackMenu"));
    if (!rackMenu) return nullptr;
    rackMenu->menu()->findChild<QAction*>(QStringLiteral("newRackAction"))->trigger();
    const auto windows = form.findChildren<DesignerWindow*>();
    return windows.size() == 1 ? windows.front() : nullptr;
}

// File > Quit, like the frame, first asks about the designer's unsaved changes; a close the
// program makes itself (a signal) is never held.
TEST_F(DesignerTest, QuitAsksAboutUnsavedDesignerChangesFirst) {
    nv::MainWindow::Options options;
    options.programDir = dir.path();
    nv::MainWindow form(options);
    form.dialogs.confirm = [](const QString&) { return true; };
    form.show();
    DesignerWindow* opened = newRackFrom(form);
    ASSERT_TRUE(opened);
    DesignerWindow& designer = *opened;
    designer.model().add("TVrLed", {});

    form.item(QStringLiteral("quitAction"))->trigger();
    auto* box = designer.findChild<QMessageBox*>(QStringLiteral("unsavedQuestion"));
    ASSERT_TRUE(box);
    EXPECT_TRUE(form.isVisible()) << "the main window waits for the answer";
    box->button(QMessageBox::Cancel)->click();
    QTest::qWait(20);
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(designer.isVisible());

    form.closeWithoutQuestions();
    EXPECT_FALSE(form.isVisible());
}

// The program ending on a signal (SIGTERM) closes the main window without questions, and the
// application then closes every window: the designer is not held by its question either.
// Its unsaved rack goes to a new file beside the rack, named on standard error; a name that
// is taken, or a link planted there, is passed over.
TEST_F(DesignerTest, ASignalClosesTheDesignerWithoutQuestionsAndKeepsItsRack) {
    nv::MainWindow::Options options;
    options.programDir = dir.path();
    nv::MainWindow form(options);
    form.show();
    DesignerWindow* opened = newRackFrom(form);
    ASSERT_TRUE(opened);
    DesignerWindow& designer = *opened;
    ASSERT_TRUE(designer.load(rackFile("bench.res", "object R: TFrmRack\nend\n")));
    const std::string original = slurp(path("bench.res"));
    designer.model().add("TVrLed", {8, 8, 24, 24});
    ASSERT_EQ(rack::saveFile(path("victim.txt").toStdString(), "keep"), "");
    ASSERT_TRUE(QFile::link(path("victim.txt"), path("bench.recovered.res")));

    form.closeWithoutQuestions();
    EXPECT_FALSE(form.isVisible());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(designer.close()); // what the application's quit does to each window
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(designer.isVisible());
    EXPECT_FALSE(designer.findChild<QMessageBox*>(QStringLiteral("unsavedQuestion")));
    const QString kept = path("bench.recovered-2.res");
    EXPECT_NE(said.find(kept.toStdString()), std::string::npos) << said;
    EXPECT_EQ(slurp(path("victim.txt")), "keep");
    auto r = rack::readFile(kept.toStdString());
    ASSERT_TRUE(r.ok) << r.message();
    ASSERT_EQ(r.doc.root.children.size(), 1u);
    EXPECT_EQ(r.doc.root.children[0].name, "Led1");
    EXPECT_EQ(slurp(path("bench.res")), original); // the rack itself is left as saved
}

// The same in a process of its own, the program's way: SIGTERM arrives while the designer
// asks about its unsaved changes, and the process ends all the same.
TEST_F(DesignerTest, SigtermEndsTheProgramWhileTheDesignerAsks) {
    const QString rackPath = rackFile("bench.res", "object R: TFrmRack\nend\n");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kSignalChild), rackPath);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    ASSERT_TRUE(child.waitForStarted());
    QByteArray out;
    while (!out.contains("asking") && child.waitForReadyRead(60000))
        out += child.readAllStandardOutput();
    ASSERT_TRUE(out.contains("asking")) << out.toStdString();
    ::kill(pid_t(child.processId()), SIGTERM);
    const bool ended = child.waitForFinished(60000);
    if (!ended) {
        child.kill();
        child.waitForFinished();
    }
    ASSERT_TRUE(ended) << "still running behind the question";
    EXPECT_EQ(child.exitCode(), 128 + SIGTERM);
    const std::string said = child.readAllStandardError().toStdString();
    const QString kept = path("bench.recovered.res");
    EXPECT_NE(said.find(kept.toStdString()), std::string::npos) << said;
    auto r = rack::readFile(kept.toStdString());
    ASSERT_TRUE(r.ok) << r.message();
    EXPECT_EQ(r.doc.root.children.size(), 1u);
}

// A script runs on this thread: questions are asked without a loop of their own, so the call
// returns at once and the answer arrives later.
TEST_F(DesignerWindowTest, UnsavedChangesAreAskedAboutWithoutWaiting) {
    DesignModel& m = w.model();
    m.add("TVrLed", {});
    auto question = [&] { return w.findChild<QMessageBox*>(QStringLiteral("unsavedQuestion")); };
    w.newRack(); // returns with the question open
    QMessageBox* box = question();
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(m.count(), 1);
    box->button(QMessageBox::Discard)->click();
    QTest::qWait(20);
    EXPECT_EQ(m.count(), 0);
    EXPECT_FALSE(w.isWindowModified());

    m.add("TVrLed", {});
    EXPECT_FALSE(w.close()); // held while the question is open
    ASSERT_TRUE(question());
    question()->button(QMessageBox::Cancel)->click();
    QTest::qWait(20);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(m.count(), 1);

    // Save with a known file name saves, then goes on.
    ASSERT_TRUE(w.saveTo(path("kept.res")));
    m.add("TVrLed", {});
    w.openRack(rackFile("other.res", "object R: TFrmRack\nobject Only: TVrLed\nend\nend\n"));
    question()->button(QMessageBox::Save)->click();
    QTest::qWait(20);
    EXPECT_EQ(m.count(), 1);
    EXPECT_EQ(m.control(0).name, "Only");
    auto saved = rack::readFile(path("kept.res").toStdString());
    ASSERT_TRUE(saved.ok);
    EXPECT_EQ(saved.doc.root.children.size(), 2u);
}

TEST_F(DesignerWindowTest, PaletteShowsEveryClassWithItsOwnIcon) {
    QListWidget& p = w.palette();
    ASSERT_EQ(p.count(), 23);
    for (int i = 0; i < p.count(); ++i)
        EXPECT_FALSE(p.item(i)->icon().isNull()) << p.item(i)->text().toStdString();
}

// ---- end to end: a rack made in the designer, used by a script ----

TEST_F(DesignerWindowTest, ARackMadeInTheDesignerOpensInAScriptThatReadsAndSetsItsControls) {
    choose("TVrSlider");
    drag({16, 16}, {56, 176});
    choose("TVrLed");
    QTest::mouseClick(layer(), Qt::LeftButton, {}, {80, 16});
    choose("TEdit");
    QTest::mouseClick(layer(), Qt::LeftButton, {}, {80, 64});
    DesignModel& m = w.model();
    ASSERT_EQ(m.count(), 3);

    // Properties through the panel: the slider's name and range.
    w.canvas().setSelection({0});
    auto* name = w.properties().findChild<QLineEdit*>(QStringLiteral("prop_Name"));
    name->setText(QStringLiteral("Level"));
    emit name->editingFinished();
    QTest::qWait(20);
    auto* max = w.properties().findChild<QSpinBox*>(QStringLiteral("prop_Max"));
    ASSERT_TRUE(max);
    max->setValue(500);
    QTest::qWait(20);
    w.canvas().setSelection({2});
    auto* text = w.properties().findChild<QLineEdit*>(QStringLiteral("prop_Text"));
    ASSERT_TRUE(text);
    text->setText(QStringLiteral("ready"));
    emit text->editingFinished();
    QTest::qWait(20);
    const QString res = path("made.res");
    ASSERT_TRUE(w.saveTo(res));
    EXPECT_FALSE(w.isWindowModified());

    const QString script = path("use.nvs");
    const std::string body = "openrack(\"" + res.toStdString() +
                             "\")\n"
                             "writelog(Level & \" \" & Led1 & \" \" & Edit1)\n"
                             "Level = 320\n"
                             "Led1 = 1\n"
                             "Edit1 = \"set\"\n"
                             "writelog(Level & \" \" & Led1 & \" \" & Edit1)\n"
                             "Level = 9000\n"
                             "writelog(Level)\n"
                             "saverack(\"" +
                             path("after.res").toStdString() + "\")\n";
    ASSERT_EQ(rack::saveFile(script.toStdString(), body), "");
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    run.setProcessEnvironment(env);
    run.start(QStringLiteral(NORVANE_RUN), {script});
    ASSERT_TRUE(run.waitForFinished(60000));
    const QString out = QString::fromUtf8(run.readAllStandardOutput());
    EXPECT_EQ(run.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("Rack is open"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral(": 0 0 ready\n"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral(": 320 1 set\n"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral(": 500\n"))) << out.toStdString();
    auto r = rack::readFile(path("after.res").toStdString());
    ASSERT_TRUE(r.ok) << r.message();
    EXPECT_EQ(rack::intProperty(*r.doc.root.find("Level"), "Position"), 500);
}

} // namespace
