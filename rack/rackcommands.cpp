// The rack commands and ddown_gettext, and the subsystem's wiring into the engine.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QWindow>
#include <stdexcept>
#include <sys/stat.h>

#include "base/limits.h"
#include "baseqt/placement.h"
#include "engine/interpreter.h"
#include "engine/runtime.h"
#include "engine/value.h"
#include "rack/capture.h"
#include "rack/rack.h"
#include "rackfile/textlimit.h"

namespace nv::rack {
namespace {

// In a built program pictures come from the program's own folder, whatever folder the
// rack named when it was built.
std::string packagedPath(const std::string& path) {
    const QString name = QFileInfo(QString::fromStdString(path)).fileName();
    return (QCoreApplication::applicationDirPath() + QLatin1Char('/') + name).toStdString();
}

// Lets the window system catch up with a window just shown or raised, so that the screen
// holds it before it is read.
void settle(QWidget* w) {
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    } while (w->windowHandle() && !w->windowHandle()->isExposed() && t.elapsed() < 1000);
    // Changing the stay-on-top flag maps the window anew: the window manager frames it and
    // the window paints itself only after it is exposed, so give both a moment (bounded)
    // and wait until the window server has done everything asked of it.
    const qint64 until = t.elapsed() + 150;
    while (t.elapsed() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    w->repaint();
    QGuiApplication::sync();
}

} // namespace

Rack::Rack(int& rememberedX, int& rememberedY)
    : window_(std::make_unique<RackWindow>(rememberedX, rememberedY)), rememberedX_(rememberedX),
      rememberedY_(rememberedY) {
    generation_ = &window_->reachGeneration();
}

Rack::~Rack() = default;

namespace {

// What is left of the rack's picture budget for a new picture of `c` (which replaces its own).
long long pictureAllowance(const RackWindow& w, const Control& c) {
    return limits::kRackPictureBudget - (w.picturePixels() - c.picturePixels);
}

// The pixels a picture file announces in its header (0 when it is not a regular file or
// tells no size), read without decoding and without ever opening a FIFO or device.
long long announcedFilePixels(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    const QSize size = QImageReader(QString::fromStdString(path)).size();
    return size.isValid() ? static_cast<long long>(size.width()) * size.height() : 0;
}

std::string picturePath(const std::string& hint, bool packageMode) {
    return packageMode ? packagedPath(hint) : hint;
}

} // namespace

bool Rack::applyHintConventions(bool packageMode, std::string& error) {
    RackWindow& w = *window_;
    // The pictures the hints name, as their headers announce them, replace those the file
    // holds: past the budget the rack fails at once, before any of them is decoded.
    long long announced = 0;
    for (int i = 0; i < w.count(); ++i) {
        const Control& c = w.control(i);
        const std::string hint = c.widget->toolTip().toStdString();
        const long long file = c.className == "TImage" && !hint.empty()
                                   ? announcedFilePixels(picturePath(hint, packageMode))
                                   : 0;
        announced += file ? file : c.picturePixels;
    }
    if (announced > limits::kRackPictureBudget) {
        error = std::string(kPictureBudgetSpent);
        return false;
    }
    for (int i = 0; i < w.count(); ++i) {
        Control& c = w.control(i);
        const std::string hint = c.widget->toolTip().toStdString();
        if (c.className == "TImage") {
            // A picture that cannot be loaded leaves the one the file holds, silently; but
            // pictures past the rack's budget make the rack fail to open.
            std::string why;
            if (!hint.empty() &&
                !loadPictureFile(c, picturePath(hint, packageMode), packageMode,
                                 pictureAllowance(w, c), &why) &&
                why == kPictureBudgetSpent) {
                error = c.name + ": " + why;
                return false;
            }
        } else if (c.className == "TVrSlider") {
            c.widget->update();
        } else if (c.className == "TVrSpinner") {
            const std::vector<int>* at = w.positionsOf(hint);
            if (!at) continue;
            bool linked = false;
            for (int j : *at) {
                if (w.control(j).className != "TVrNum") continue;
                c.widget->setToolTip(QString::number(j));
                linked = true;
            }
            if (linked) w.linkSpinner(i);
        }
    }
    return true;
}

void Rack::install(Runtime& rt) {
    rt.instruments = this;
    rt.onRunEnd.push_back([this] { detachScope(); });
    installCommands(rt);
}

void Rack::installCommands(Runtime& rt) {
    rt.addCommand({.keyword = "openrack(",
                   .argCounts = {1},
                   .failure = "openrack: cannot open rack.",
                   .failureLog = "Cannot open rack",
                   .handler = [this](CommandCall& c) {
                       Runtime& rt = c.ex.runtime();
                       RackWindow& w = *window_;
                       w.hide(); // kept hidden while it is filled
                       std::string error;
                       if (!w.load(c.args[0], error)) {
                           c.ex.logMessage("Cannot open rack");
                           c.ex.raiseScriptError("openrack: cannot open rack.");
                           return true;
                       }
                       if (!rt.packageMode) {
                           if (remembered(rememberedX_, rememberedY_)) {
                               // A place remembered on a larger screen, or another screen
                               // arrangement, is brought back into sight, frame and all.
                               const QMargins m = frameMarginsOf(&w);
                               w.move(keepOnScreen(QPoint(rememberedX_, rememberedY_),
                                                   w.size().grownBy(m)));
                           } else if (placeUnremembered)
                               w.move(placeUnremembered(w.frameSize()));
                       }
                       if (!applyHintConventions(rt.packageMode, error)) {
                           c.ex.logMessage("Cannot open rack");
                           c.ex.raiseScriptError("openrack: cannot open rack.");
                           return true;
                       }
                       w.show();
                       rt.rackOpened = true;
                       c.ex.logMessage("Rack is open");
                       return true;
                   }});

    rt.addCommand({.keyword = "saverack(",
                   .argCounts = {1},
                   .failure = "saverack: error saving rack",
                   .handler = [this](CommandCall& c) {
                       std::string error;
                       if (!window_->save(c.args[0], error))
                           c.ex.raiseScriptError("saverack: error saving rack");
                       return true;
                   }});

    rt.addCommand(
        {.keyword = "capturerack(",
         .argCounts = {2},
         .failure = "capturerack: error saving rack image.",
         .failureLog = "Rack image was not saved. Maybe quality parameter is not good.",
         .handler = [this](CommandCall& c) {
             RackWindow& w = *window_;
             int32_t quality = 0;
             std::string error;
             if (!parseInteger(c.args[1], quality)) {
                 c.ex.logMessage("Rack image was not saved. Maybe quality parameter is not good.");
                 c.ex.raiseScriptError("capturerack: error saving rack image.");
                 return true;
             }
             if (!w.isVisible() || quality < 1 || quality > 100) {
                 c.ex.logMessage(
                     "Rack image was not saved. Not visible or quality parameter not good.",
                     {LogKind::Error});
                 c.ex.raiseScriptError("capturerack: error saving rack image.");
                 return true;
             }
             // The screen is read: the window must be restored, on top and painted.
             if (w.isMinimized()) w.showNormal();
             w.setWindowFlag(Qt::WindowStaysOnTopHint, true);
             w.show();
             // The offscreen platform has no stacking order to change.
             if (QGuiApplication::platformName() != QLatin1String("offscreen")) w.raise();
             w.repaint();
             settle(&w);
             const bool ok = captureWindow(&w, c.args[0], quality, error);
             w.setWindowFlag(Qt::WindowStaysOnTopHint, false);
             w.show();
             if (!ok) {
                 c.ex.logMessage("Rack image was not saved. Maybe quality parameter is not good.");
                 c.ex.raiseScriptError("capturerack: error saving rack image.");
             }
             return true;
         }});

    rt.addCommand({.keyword = "loadimage(",
                   .argCounts = {2},
                   .failure = "loadimage: cannot find image file.",
                   .handler = [this](CommandCall& c) {
                       const std::string path =
                           c.ex.runtime().packageMode ? packagedPath(c.args[1]) : c.args[1];
                       if (!QFileInfo::exists(QString::fromStdString(path))) {
                           c.ex.raiseScriptError("loadimage: cannot find image file.");
                           return true;
                       }
                       const std::vector<int>* at = window_->positionsOf(c.args[0]);
                       if (!at) return true;
                       for (int i : *at) {
                           Control& ctl = window_->control(i);
                           if (ctl.className == "TImage" &&
                               !loadPictureFile(ctl, path, true, pictureAllowance(*window_, ctl)))
                               c.ex.raiseScriptError("loadimage: cannot find image file.");
                       }
                       return true;
                   }});

    rt.addCommand({.keyword = "ddown_settext(",
                   .argCounts = {2},
                   .clearsError = false,
                   .handler = [this](CommandCall& c) {
                       const std::vector<int>* at = window_->positionsOf(c.args[0]);
                       if (!at) return true;
                       // A list past the text limit is refused whole, never cut.
                       std::string why;
                       if (!checkControlText(c.args[1], why)) {
                           for (int i : *at)
                               if (window_->control(i).className == "TComboBox") {
                                   c.ex.raiseScriptError("ddown_settext: " + why + ".");
                                   break;
                               }
                           return true;
                       }
                       for (int i : *at) {
                           Control& ctl = window_->control(i);
                           if (ctl.className == "TComboBox") setComboLines(ctl, c.args[1]);
                       }
                       return true;
                   }});

    rt.addCommand({.keyword = "setvisible(",
                   .argCounts = {2},
                   .clearsError = false,
                   .handler = [this](CommandCall& c) {
                       const std::vector<int>* at = window_->positionsOf(c.args[0]);
                       if (!at) return true;
                       // The state is read as a number only where a control will take it;
                       // a state that is none fails the line.
                       int32_t state = 0;
                       if (!parseInteger(c.args[1], state))
                           throw std::invalid_argument("'" + c.args[1] +
                                                       "' is not a valid integer value");
                       for (int i : *at) {
                           QWidget* ctl = window_->control(i).widget;
                           if (state == 1)
                               ctl->show();
                           else if (state == 0)
                               ctl->hide();
                       }
                       return true;
                   }});

    // Reads drop-down lists whether the rack is shown or not.
    rt.setFunction("ddown_gettext", 1, [this](FnCall& c) -> FnResult {
        std::string text;
        if (const std::vector<int>* at = window_->positionsOf(c.args[0])) {
            for (int i : *at) {
                const Control& ctl = window_->control(i);
                if (ctl.className == "TComboBox") {
                    text = comboText(ctl);
                    break;
                }
            }
        }
        return textResult(true, text);
    });
}

} // namespace nv::rack
