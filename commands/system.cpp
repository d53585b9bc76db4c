// exec, setidle, showmain, hidemain and inputbox.
#include <QByteArrayView>
#include <QInputDialog>
#include <QWidget>
#include <exception>
#include <iostream>
#include <unistd.h>

#include "baseqt/displaytext.h"
#include "commands/commands.h"
#include "commands/posix.h"
#include "engine/host.h"
#include "engine/interpreter.h"
#include "engine/runtime.h"
#include "engine/text.h"
#include "engine/value.h"

namespace nv {
namespace {

bool readStdinLine(std::string& line) {
    if (!std::getline(std::cin, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

} // namespace

FilesAndSystem::FilesAndSystem(Runtime& rt, QWidget* mainWindow, LineReader reader)
    : mainWindow_(mainWindow), reader_(reader ? std::move(reader) : readStdinLine) {
    installFiles(rt);
    installSystem(rt);
}

FilesAndSystem::~FilesAndSystem() {
    if (dm_.handle > 0) sys::closeFd(dm_.handle);
}

std::string FilesAndSystem::inputBox(const std::string& caption, const std::string& prompt,
                                     const std::string& def) {
    if (!mainWindow_) {
        if (::isatty(0))
            std::cerr << caption << ": " << prompt << " [" << def << "] " << std::flush;
        std::string line;
        return reader_(line) ? line : def;
    }
    QInputDialog dialog(mainWindow_);
    dialog.setWindowTitle(displayText(caption));
    dialog.setLabelText(displayText(prompt));
    const QString shownDefault = displayText(def);
    dialog.setTextValue(shownDefault);
    if (dialog.exec() != QDialog::Accepted) return def;
    const QString answer = dialog.textValue();
    // An answer left as it was keeps the default's own bytes, whatever their encoding.
    if (answer == shownDefault) return def;
    return answer.toUtf8().toStdString();
}

void FilesAndSystem::installSystem(Runtime& rt) {
    rt.addCommand({.keyword = "exec(", .argCounts = {1}, .handler = [](CommandCall& c) {
                       const std::string& target = c.args[0];
                       bool started = false;
                       try {
                           started = sys::startDetached(sys::planLaunch(target));
                       } catch (const std::exception&) {
                       }
                       if (started) {
                           c.ex.logMessage("External application was stared: " + target);
                       } else {
                           c.ex.logMessage("External application was not started: " + target,
                                           {LogKind::Error});
                           c.ex.raiseScriptError("exec: error starting external application..");
                       }
                       return true;
                   }});

    rt.addCommand({.keyword = "setidle(", .argCounts = {1}, .handler = [](CommandCall& c) {
                       int32_t ms = 0;
                       if (!parseInteger(c.args[0], ms)) {
                           c.ex.logMessage("Cannot set idle time", {LogKind::Error});
                           c.ex.raiseScriptError("setidle: unexpected argument");
                       } else if (ms < 0) {
                           c.ex.logMessage("Idle time not set, must be a positive integer value",
                                           {LogKind::Error});
                           c.ex.raiseScriptError("setidle: idle time must be positive");
                       } else {
                           c.ex.setIdleMs(ms);
                       }
                       return true;
                   }});

    // showmain: not a command in package mode, where the window stays hidden.
    rt.addCommand({.keyword = "showmain", .handler = [this](CommandCall& c) {
                       if (c.ex.runtime().packageMode) return false;
                       if (mainWindow_) {
                           if (mainWindow_->isMinimized())
                               mainWindow_->showNormal();
                           else
                               mainWindow_->show();
                           mainWindow_->raise();
                           mainWindow_->activateWindow();
                       }
                       return true;
                   }});

    // hidemain: a command only when the script mentions openrack, so that a rack window
    // remains through which the user can bring the main window back.
    rt.addCommand({.keyword = "hidemain", .handler = [this](CommandCall& c) {
                       Runtime& rt = c.ex.runtime();
                       if (rt.host().editorText().find("openrack") == std::string::npos)
                           return false;
                       if (!rt.packageMode && mainWindow_) mainWindow_->hide();
                       return true;
                   }});

    rt.setFunction("inputbox", 3, [this](FnCall& c) -> FnResult {
        try {
            const std::string answer = inputBox(c.args[0], c.args[1], c.args[2]);
            // An answer the user typed counts even when the default was empty: discarding
            // it would lose what was entered.
            return textResult(c.argsOk || !answer.empty(), answer);
        } catch (const std::exception&) {
            c.ex.raiseScriptError("inputbox: unexpected argument.");
            return textResult(false, "");
        }
    });
}

} // namespace nv
