// The painted instruments: the factory, the clamping and repaint rules every class keeps,
// what mouse and keys do, and the scope's data request. Runs on the offscreen platform.
#include <QApplication>
#include <QMetaProperty>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <climits>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "instruments/controls.h"
#include "instruments/instruments.h"
#include "tests/support/testmain.h"

using namespace nv::rack;

namespace {

const std::vector<std::string> kClasses = {
    "TVrSlider",   "TVrTrackBar", "TVrPowerMeter",  "TVrSwitch", "TVrLed",
    "TVrCheckLed", "TVrMatrix",   "TVrPowerButton", "TVrDB",     "TVrMeter",
    "TVrNum",      "TVrSpinner",  "TVrProgressBar", "TVrScope",  "TLcd",
    "TVrBorder",   "TVrGradient", "TVrAngularMeter"};

std::unique_ptr<QWidget> make(const std::string& cls) {
    return std::unique_ptr<QWidget>(createInstrument(cls, nullptr));
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

} // namespace

TEST(Instruments, FactoryMakesEveryListedClassAndNothingElse) {
    const auto& listed = instrumentClasses();
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()),
              std::set<std::string>(kClasses.begin(), kClasses.end()));
    for (const std::string& cls : kClasses) {
        const auto w = make(cls);
        ASSERT_NE(w, nullptr) << cls;
        EXPECT_GT(w->width(), 0) << cls;
        EXPECT_TRUE(qobject_cast<InstrumentControl*>(w.get())) << cls;
    }
    for (const char* other : {"TLabel", "TEdit", "TImage", "tvrslider", "TVrSlider ", ""})
        EXPECT_EQ(createInstrument(other, nullptr), nullptr) << other;
    // Every class paints at any size, down to nothing, and at a device pixel ratio of 2.
    for (const std::string& cls : kClasses) {
        const auto w = make(cls);
        for (const QSize size : {QSize(0, 0), QSize(1, 1), QSize(3, 200), QSize(300, 4)}) {
            w->resize(size);
            QPixmap pm(std::max(1, size.width() * 2), std::max(1, size.height() * 2));
            pm.setDevicePixelRatio(2);
            w->render(&pm);
        }
    }
    QWidget parent;
    QWidget* child = createInstrument("TVrLed", &parent);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->parentWidget(), &parent);
}

TEST(Instruments, EveryPropertyReadsBackWhatWasWrittenAndScriptValuesExist) {
    // The rack saves what it reads and loads by writing: a property must take its own value.
    for (const std::string& cls : kClasses) {
        const auto w = make(cls);
        const QMetaObject* meta = w->metaObject();
        for (int i = QWidget::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i) {
            const QMetaProperty prop = meta->property(i);
            EXPECT_TRUE(prop.isWritable()) << cls << "." << prop.name();
            const QVariant value = prop.read(w.get());
            const auto fresh = make(cls);
            EXPECT_TRUE(prop.write(fresh.get(), value)) << cls << "." << prop.name();
            EXPECT_EQ(prop.read(fresh.get()), value) << cls << "." << prop.name();
        }
    }
    const std::vector<std::pair<const char*, const char*>> scriptValues = {
        {"TVrSlider", "Position"},
        {"TVrTrackBar", "Position"},
        {"TVrPowerMeter", "Value"},
        {"TVrSwitch", "Offset"},
        {"TVrLed", "Active"},
        {"TVrCheckLed", "Checked"},
        {"TVrMatrix", "Text"},
        {"TVrPowerButton", "Active"},
        {"TVrMeter", "Position"},
        {"TVrNum", "Value"},
        {"TVrProgressBar", "Position"},
        {"TVrScope", "Active"},
        {"TVrAngularMeter", "Position"},
    };
    for (const auto& [cls, name] : scriptValues) {
        const auto w = make(cls);
        EXPECT_GE(w->metaObject()->indexOfProperty(name), 0) << cls << "." << name;
    }
    EXPECT_EQ(make("TVrAngularMeter")->property("Position").typeId(), QMetaType::Double);
    EXPECT_EQ(make("TVrPowerMeter")->property("Value").typeId(), QMetaType::Double);
    EXPECT_EQ(make("TVrMatrix")->property("Text").typeId(), QMetaType::QByteArray);
}

TEST(Instruments, ValuesScriptsReachAreClampedIntoTheirRange) {
    struct Case {
        const char* cls;
        std::vector<std::pair<const char*, QVariant>> setup; // set in this order first
        const char* property;
        QVariant value;
        QVariant expected;
    };
    const std::vector<Case> cases = {
        {"TVrSlider", {}, "Position", 150, 100},
        {"TVrSlider", {}, "Position", -5, 0},
        {"TVrSlider", {{"Max", 50}, {"Min", 10}}, "Position", 3, 10},
        {"TVrTrackBar", {}, "Position", 101, 100},
        {"TVrMeter", {{"Max", 10}}, "Position", 11, 10},
        {"TVrProgressBar", {{"Min", -20}}, "Position", -30, -20},
        {"TVrNum", {}, "Value", 10000, 9999},
        {"TVrNum", {{"Max", 20}, {"Min", 10}}, "Value", 5, 10},
        {"TVrNum", {{"Max", 20}, {"Min", 10}}, "Value", 25, 20},
        {"TVrSwitch", {}, "Offset", 7, 2},
        {"TVrSwitch", {}, "Offset", -1, 0},
        {"TVrSwitch", {{"Positions", 6}}, "Offset", 5, 5},
        {"TVrSwitch", {{"Offset", 2}}, "Positions", 2, 2},
        {"TVrAngularMeter", {}, "Position", 150.5, 100.0},
        {"TVrAngularMeter", {{"Max", 1.0}}, "Position", 0.25, 0.25},
        {"TVrPowerMeter", {}, "Value", -3.0, 0.0},
        {"TVrPowerMeter", {}, "Value", std::numeric_limits<double>::infinity(), 100.0},
        {"TVrPowerMeter", {{"Value", 5.0}}, "Value", std::nan(""), 5.0},
        {"TVrAngularMeter", {}, "Max", std::numeric_limits<double>::infinity(), 100.0},
        {"TVrScope", {}, "Channels", 9, ScopeControl::kMaxChannels},
    };
    for (const Case& c : cases) {
        const auto w = make(c.cls);
        for (const auto& [name, value] : c.setup)
            ASSERT_TRUE(w->setProperty(name, value)) << c.cls << " " << name;
        ASSERT_TRUE(w->setProperty(c.property, c.value)) << c.cls << " " << c.property;
        EXPECT_EQ(w->property(c.property), c.expected)
            << c.cls << "." << c.property << " = " << c.value.toString().toStdString();
    }
    // Shrinking the switch pulls its offset in.
    const auto sw = make("TVrSwitch");
    sw->setProperty("Offset", 2);
    sw->setProperty("Positions", 2);
    EXPECT_EQ(sw->property("Offset").toInt(), 1);
    // A bound set past the other drags it along; the value follows.
    const auto slider = make("TVrSlider");
    slider->setProperty("Position", 40);
    slider->setProperty("Min", 200);
    EXPECT_EQ(slider->property("Max").toInt(), 200);
    EXPECT_EQ(slider->property("Position").toInt(), 200);
    slider->setProperty("Max", -10);
    EXPECT_EQ(slider->property("Min").toInt(), -10);
    EXPECT_EQ(slider->property("Position").toInt(), -10);
    // Identifiers the class does not know leave it as it was.
    slider->setProperty("Orientation", "voHorizontal");
    slider->setProperty("Orientation", "voDiagonal");
    EXPECT_EQ(slider->property("Orientation").toString(), "voHorizontal");
}

TEST(Instruments, SettingTheShownValueAgainDoesNotRepaint) {
    struct Case {
        const char* cls;
        const char* property;
        QVariant value;
    };
    const std::vector<Case> cases = {
        {"TVrSlider", "Position", 30},      {"TVrTrackBar", "Position", 30},
        {"TVrMeter", "Position", 30},       {"TVrAngularMeter", "Position", 30.5},
        {"TVrPowerMeter", "Value", 30.5},   {"TVrLed", "Active", true},
        {"TVrCheckLed", "Checked", true},   {"TVrMatrix", "Text", QByteArray("AB")},
        {"TVrPowerButton", "Active", true}, {"TVrNum", "Value", 42},
        {"TVrProgressBar", "Position", 30}, {"TVrSwitch", "Offset", 1},
        {"TLcd", "Text", QByteArray("AB")}, {"TVrSlider", "Max", 30},
    };
    for (const Case& c : cases) {
        const auto w = make(c.cls);
        PaintCounter counter;
        w->installEventFilter(&counter);
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get())) << c.cls;
        ASSERT_TRUE(w->setProperty(c.property, c.value));
        QTRY_VERIFY_WITH_TIMEOUT(counter.paints > 0, 5000);
        ASSERT_GT(counter.paints, 0) << c.cls << " repaints on a change";
        QApplication::processEvents();
        counter.paints = 0;
        ASSERT_TRUE(w->setProperty(c.property, c.value));
        QApplication::processEvents();
        QApplication::processEvents();
        EXPECT_EQ(counter.paints, 0) << c.cls << "." << c.property << " set to the same value";
        // A value the clamp turns into the shown one is no change either.
        if (std::string(c.property) == "Position" && std::string(c.cls) == "TVrSlider") {
            w->setProperty("Position", 100);
            QApplication::processEvents();
            counter.paints = 0;
            w->setProperty("Position", 500);
            QApplication::processEvents();
            EXPECT_EQ(counter.paints, 0) << "a clamped value equal to the shown one";
        }
    }
}

// Positions set while a repaint is on its way join it rather than ask again: whatever the
// number of settings in between, a paint follows the last, in every later round too.
TEST(Instruments, PositionsSetBeforeTheRepaintArePaintedAtTheLast) {
    // The position each paint event finds.
    struct PaintedAt : QObject {
        std::vector<int> positions;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (e->type() == QEvent::Paint) positions.push_back(o->property("Position").toInt());
            return false;
        }
    };
    for (const char* cls : {"TVrSlider", "TVrMeter", "TVrProgressBar"}) {
        const auto w = make(cls);
        PaintedAt painted;
        w->installEventFilter(&painted);
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get())) << cls;
        for (int last : {70, 20, 45}) {
            painted.positions.clear();
            for (int p = last % 10; p <= last; p += 5)
                ASSERT_TRUE(w->setProperty("Position", p));
            QTRY_VERIFY_WITH_TIMEOUT(!painted.positions.empty() && painted.positions.back() == last,
                                     5000);
            EXPECT_EQ(painted.positions.back(), last) << cls;
        }
        // Hidden, then shown again: painted at the position set meanwhile.
        w->hide();
        w->setProperty("Position", 5);
        painted.positions.clear();
        w->show();
        QTRY_VERIFY_WITH_TIMEOUT(!painted.positions.empty(), 5000);
        EXPECT_EQ(painted.positions.back(), 5) << cls;
        w->setProperty("Position", 60);
        QTRY_VERIFY_WITH_TIMEOUT(painted.positions.back() == 60, 5000);
        EXPECT_EQ(painted.positions.back(), 60) << cls;
    }
}

TEST(Instruments, DraggingWheelingAndKeysMoveSlidersAsScriptsReadThem) {
    SliderControl slider(nullptr); // vertical: the maximum at the top
    slider.resize(40, 200);
    slider.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&slider));
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(20, 195));
    EXPECT_EQ(slider.position(), 0);
    QTest::mouseMove(&slider, QPoint(20, 100));
    const int middle = slider.position();
    EXPECT_GT(middle, 35);
    EXPECT_LT(middle, 65);
    QTest::mouseMove(&slider, QPoint(20, 2));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(20, 2));
    EXPECT_EQ(slider.position(), 100);
    EXPECT_EQ(slider.scriptInteger(), 100); // what a script reads next
    // After release, moving the pointer moves nothing.
    QTest::mouseMove(&slider, QPoint(20, 150));
    EXPECT_EQ(slider.position(), 100);

    QTest::keyClick(&slider, Qt::Key_Down);
    EXPECT_EQ(slider.position(), 99);
    QTest::keyClick(&slider, Qt::Key_Home);
    EXPECT_EQ(slider.position(), 0);
    QTest::keyClick(&slider, Qt::Key_Down); // already at the minimum: stays there
    EXPECT_EQ(slider.position(), 0);

    // At the ends of the int range a step stops there instead of wrapping round.
    SliderControl wide(nullptr);
    wide.setMax(INT_MAX);
    wide.setMin(INT_MIN);
    wide.setPosition(INT_MAX);
    QTest::keyClick(&wide, Qt::Key_Up);
    QTest::keyClick(&wide, Qt::Key_PageUp);
    EXPECT_EQ(wide.position(), INT_MAX);
    wide.setPosition(INT_MIN);
    QTest::keyClick(&wide, Qt::Key_PageDown);
    EXPECT_EQ(wide.position(), INT_MIN);
    QTest::keyClick(&wide, Qt::Key_End);
    EXPECT_EQ(wide.position(), INT_MAX);

    TrackBarControl bar(nullptr); // horizontal: the maximum at the right
    bar.resize(200, 40);
    QTest::keyClick(&bar, Qt::Key_Right);
    EXPECT_EQ(bar.position(), 1);
    QWheelEvent wheel(QPointF(100, 20), QPointF(100, 20), QPoint(), QPoint(0, 240), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&bar, &wheel);
    EXPECT_EQ(bar.position(), 3);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(199, 20));
    EXPECT_EQ(bar.position(), 100);
}

TEST(Instruments, ClicksToggleAndStep) {
    PowerButtonControl power(nullptr);
    QTest::mouseClick(&power, Qt::LeftButton, {}, power.rect().center());
    EXPECT_TRUE(power.active());
    QTest::mouseClick(&power, Qt::LeftButton, {}, power.rect().center());
    EXPECT_FALSE(power.active());

    CheckLedControl check(nullptr);
    QTest::mouseClick(&check, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(check.checked());
    QTest::keyClick(&check, Qt::Key_Space);
    EXPECT_FALSE(check.checked());

    SwitchControl sw(nullptr); // three positions
    sw.setOffset(2);
    QTest::mouseClick(&sw, Qt::LeftButton, {}, sw.rect().center());
    EXPECT_EQ(sw.offset(), 0); // a click wraps round
    QTest::mouseClick(&sw, Qt::RightButton, {}, sw.rect().center());
    EXPECT_EQ(sw.offset(), 2);
    QTest::keyClick(&sw, Qt::Key_Up); // keys stop at the ends
    EXPECT_EQ(sw.offset(), 2);

    SpinnerControl spinner(nullptr);
    spinner.resize(20, 40);
    QSignalSpy up(&spinner, &SpinnerControl::upClicked);
    QSignalSpy down(&spinner, &SpinnerControl::downClicked);
    QTest::mouseClick(&spinner, Qt::LeftButton, {}, QPoint(10, 5));
    QTest::mouseClick(&spinner, Qt::LeftButton, {}, QPoint(10, 35));
    QTest::mouseClick(&spinner, Qt::LeftButton, {}, QPoint(10, 35));
    EXPECT_EQ(up.count(), 1);
    EXPECT_EQ(down.count(), 2);
    // Pressed on one half and released on the other is no click.
    QTest::mousePress(&spinner, Qt::LeftButton, {}, QPoint(10, 5));
    QTest::mouseRelease(&spinner, Qt::LeftButton, {}, QPoint(10, 35));
    EXPECT_EQ(up.count() + down.count(), 3);
}

TEST(Instruments, MomentaryButtonShowsItsStateInItsHint) {
    MomentaryButtonControl button(nullptr);
    EXPECT_EQ(button.toolTip(), ""); // never pressed: neither "On" nor "Off"
    QTest::mousePress(&button, Qt::LeftButton, {}, button.rect().center());
    EXPECT_EQ(button.toolTip(), "On");
    EXPECT_TRUE(button.isDown());
    QTest::mouseRelease(&button, Qt::LeftButton, {}, button.rect().center());
    EXPECT_EQ(button.toolTip(), "Off");
    EXPECT_FALSE(button.isDown());
    // Released away from the button still releases it.
    QTest::mousePress(&button, Qt::RightButton, {}, button.rect().center());
    EXPECT_EQ(button.toolTip(), "On");
    QTest::mouseRelease(&button, Qt::RightButton, {}, QPoint(-50, -50));
    EXPECT_EQ(button.toolTip(), "Off");
}

TEST(Instruments, ScopeAsksOncePerChannelInOrderAndClamps) {
    ScopeControl scope(nullptr);
    scope.setChannels(3);
    scope.setMin(-10);
    scope.setMax(100);
    std::vector<std::pair<int, int>> asked;
    const int answers[3] = {1000, -50, 42};
    scope.setDataRequest([&](int channel, int proposed) {
        asked.emplace_back(channel, proposed);
        return answers[channel];
    });
    scope.requestSamples();
    scope.requestSamples();
    const std::vector<std::pair<int, int>> once = {{0, -10}, {1, -10}, {2, -10}};
    std::vector<std::pair<int, int>> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(asked, twice);
    EXPECT_EQ(scope.samples(0), std::deque<int>({100, 100}));
    EXPECT_EQ(scope.samples(1), std::deque<int>({-10, -10}));
    EXPECT_EQ(scope.samples(2), std::deque<int>({42, 42}));

    // Without a request every channel gets Min.
    scope.setDataRequest({});
    scope.requestSamples();
    EXPECT_EQ(scope.samples(0).back(), -10);
}

TEST(Instruments, ScopeTimerRunsOnlyWhileActiveAndTheRequestMayStopIt) {
    ScopeControl scope(nullptr);
    scope.setChannels(2);
    scope.setInterval(5);
    int calls = 0;
    scope.setDataRequest([&](int, int) { return ++calls; });
    QTest::qWait(30);
    EXPECT_EQ(calls, 0); // not active yet
    scope.setActive(true);
    QTRY_VERIFY_WITH_TIMEOUT(calls >= 4, 5000);
    scope.setActive(false);
    const int stopped = calls;
    QTest::qWait(40);
    EXPECT_EQ(calls, stopped);

    // The way a script adds one sample: the request detaches itself and switches the scope
    // off on its first call; the second channel of that tick gets Min, and no tick follows.
    std::vector<int> channels;
    scope.setDataRequest([&](int channel, int) {
        channels.push_back(channel);
        scope.setDataRequest({});
        scope.setActive(false);
        return 77;
    });
    const size_t before = scope.samples(1).size();
    scope.setActive(true);
    QTRY_VERIFY_WITH_TIMEOUT(!channels.empty(), 5000);
    QTest::qWait(40);
    EXPECT_EQ(channels, std::vector<int>({0}));
    EXPECT_FALSE(scope.active());
    EXPECT_EQ(scope.samples(0).back(), 77);
    EXPECT_EQ(scope.samples(1).size(), before + 1);
    EXPECT_EQ(scope.samples(1).back(), 0);
}

// The painted instruments are checked pixel by pixel: offscreen even where a display is.
[[maybe_unused]] const bool offscreen =
    nvtest::beforeApplication([] { qputenv("QT_QPA_PLATFORM", "offscreen"); });
