// exec, setidle, showmain, hidemain and inputbox.
#include <QByteArrayView>
#include <QInputDialog>
#include <QWidget>
#include <exception>
#include <iostream>
#include <unistd.h>

#include "commands/commands.h"
#include "commands/posix.h"
#include "engine/host.h"
#include "engine/interpreter.h"
#include "engine/runtime.h"
#include "engine/text.h"
#include "engine/value.h"

namespace nv {
namespace {

// Script bytes shown to a person: UTF-8 where the whole text is valid, Latin-1 otherwise.
// The check looks at the whole text at once: a decoder fed piece by piece would hold back a
// final byte that merely starts a UTF-8 sequence and drop it.
QString shown(const std::string& bytes) {
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return view.isValidUtf8() ? QString::fromUtf8(view) : QString::fromLatin1(view);
}

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
    dialog.setWindowTitle(shown(caption));
    dialog.setLabelText(shown(prompt));
    const QString shownDefault = shown(def);
    dialog.setTextValue(shownDefault);
    if (dialog.exec() != QDialog::Accepted) return def;
    const QString answer = dialog.textValue();
    // An answer left as it was keeps the default's own bytes, whatever their encoding.
    if (answer == shownDefault) return def;
    return answer.toUtf8().toStdString();
}

void FilesAndSystem::installSystem(Runtime& rt) {
    rt.setCommand("exec(", [](Interpreter& ex, const std::string& line, int) {
        std::vector<std::string> texts;
        if (!matchCall(line, "exec", 1, texts)) return true;
        std::string target;
        ex.evaluate(texts[0], target);
        ex.clearScriptError();
        bool started = false;
        try {
            started = sys::startDetached(sys::planLaunch(target));
        } catch (const std::exception&) {
        }
        if (started) {
            ex.logMessage("External application was stared: " + target);
        } else {
            ex.logMessage("External application was not started: " + target);
            ex.raiseScriptError("exec: error starting external application..");
        }
        return true;
    });

    rt.setCommand("setidle(", [](Interpreter& ex, const std::string& line, int) {
        std::vector<std::string> texts;
        if (!matchCall(line, "setidle", 1, texts)) return true;
        std::string value;
        ex.evaluate(texts[0], value);
        ex.clearScriptError();
        int32_t ms = 0;
        if (!parseInteger(value, ms)) {
            ex.logMessage("Cannot set idle time");
            ex.raiseScriptError("setidle: unexpected argument");
        } else if (ms < 0) {
            ex.logMessage("Idle time not set, must be a positive integer value");
            ex.raiseScriptError("setidle: idle time must be positive");
        } else {
            ex.setIdleMs(ms);
        }
        return true;
    });

    // showmain: not a command in package mode, where the window stays hidden.
    rt.setCommand("showmain", [this](Interpreter& ex, const std::string&, int) {
        if (ex.runtime().packageMode) return false;
        if (mainWindow_) {
            if (mainWindow_->isMinimized())
                mainWindow_->showNormal();
            else
                mainWindow_->show();
            mainWindow_->raise();
            mainWindow_->activateWindow();
        }
        return true;
    });

    // hidemain: a command only when the script mentions openrack, so that a rack window
    // remains through which the user can bring the main window back.
    rt.setCommand("hidemain", [this](Interpreter& ex, const std::string&, int) {
        if (ex.runtime().host().editorText().find("openrack") == std::string::npos) return false;
        if (!ex.runtime().packageMode && mainWindow_) mainWindow_->hide();
        return true;
    });

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
