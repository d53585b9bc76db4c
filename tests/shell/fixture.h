// A real main window for each test, with its program folder in a fresh temporary folder and
// every dialog answered by the test, so that nothing blocks.
#pragma once

#include "engine/interpreter.h"
#include "engine/runcontrol.h"
#include "engine/runtime.h"
#include "shell/mainform.h"
#include "shell/platform.h"
#include "shell/scripteditor.h"
#include "wiring/subsystems.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace nvtest {

inline void writeFile(const QString& path, const std::string& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

inline std::string readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll().toStdString();
}

class WindowTest : public ::testing::Test {
  protected:
    QTemporaryDir program; // the program's folder: settings file, help pages
    QTemporaryDir work;    // script files
    QTemporaryDir config;  // the user's configuration folder, where root's settings go

    // A test may point the configuration folder elsewhere after this.
    WindowTest() { qputenv("XDG_CONFIG_HOME", config.path().toUtf8()); }
    std::unique_ptr<nv::MainWindow> form;
    QStringList errors, questions, unsavedQuestions;
    bool answer = true;
    nv::MainWindow::Dialogs::Unsaved unsavedAnswer = nv::MainWindow::Dialogs::Unsaved::Cancel;
    int nextLine = 0;
    QString nextOpen, nextSave, nextHtml, nextLog;
    std::vector<QUrl> opened;

    nv::MainWindow& make(nv::ShellPlatform* platform = nullptr, bool show = true) {
        form.reset();
        nv::MainWindow::Options o;
        o.programDir = program.path();
        o.platform = platform;
        form = std::make_unique<nv::MainWindow>(o);
        auto& d = form->dialogs;
        d.openScript = [this](const QString&) { return nextOpen; };
        d.saveScript = [this](const QString&, const QString&) { return nextSave; };
        d.saveHtml = [this](const QString&) { return nextHtml; };
        d.confirm = [this](const QString& q) {
            questions << q;
            return answer;
        };
        d.askUnsaved = [this](const QString& q) {
            unsavedQuestions << q;
            return unsavedAnswer;
        };
        d.lineNumber = [this](int, int) { return nextLine; };
        d.saveLog = [this](const QString&) { return nextLog; };
        d.error = [this](const QString& m) { errors << m; };
        d.openUrl = [this](const QUrl& u) { opened.push_back(u); };
        if (show) {
            form->show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
            // Shortcuts reach only the active window (under X, without a window manager,
            // nobody else makes it active).
            form->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(form.get(), 2000));
        }
        return *form;
    }

    QString path(const QString& name) const { return work.filePath(name); }
    // Where the window keeps its settings: beside the program, or in the user's configuration
    // folder when the tests run as root (root keeps no settings beside a program).
    QString settingsFile() const {
        return geteuid() == 0 ? config.filePath("norvane/norvane.ini")
                              : program.filePath("norvane.ini");
    }
    // Writes settings where the window reads them at its next start.
    void writeSettingsFile(const std::string& bytes) const {
        QDir().mkpath(QFileInfo(settingsFile()).absolutePath());
        writeFile(settingsFile(), bytes);
    }

    void script(const std::string& bytes) { form->editor()->setBytes(bytes); }

    // Clicks a button of the button bar, or triggers a menu item.
    void click(const char* name) {
        QAction* a = form->item(QString::fromLatin1(name));
        ASSERT_NE(a, nullptr) << name;
        if (QWidget* w = form->buttonBar()->widgetForAction(a))
            QTest::mouseClick(w, Qt::LeftButton);
        else
            a->trigger();
    }

    // Enabled (1) or not (0): Run, Stop, Pause buttons and menu items, Open, File, Help, Build.
    std::string states() const {
        std::string s;
        for (const char* n : {"runButton", "runAction", "stopButton", "stopAction", "pauseButton",
                              "pauseAction", "openButton", "fileMenu", "helpMenu", "buildAction"})
            s += form->item(QString::fromLatin1(n))->isEnabled() ? '1' : '0';
        return s;
    }

    std::string variable(const char* name) {
        nv::Interpreter* ex = form->runControl().current();
        if (!ex) return "<no run>";
        const std::string* v = ex->variables().get(name);
        return v ? *v : "";
    }

    // Presses Run and, while the script runs, performs `steps` one after another, each
    // 30 ms after the previous one. A guard stops the run after 10 s so no test hangs.
    void runWith(std::vector<std::function<void()>> steps) {
        auto next = std::make_shared<std::function<void(size_t)>>();
        *next = [this, steps, next](size_t i) {
            if (i >= steps.size()) return;
            QTimer::singleShot(30, form.get(), [this, steps, next, i] {
                steps[i]();
                (*next)(i + 1);
            });
        };
        (*next)(0);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [this] {
            ADD_FAILURE() << "the run did not end";
            form->stopScript();
        });
        guard.start(10000);
        click("runButton");
        *next = nullptr;
    }

    std::string log() { return form->logText().toStdString(); }
};

} // namespace nvtest
