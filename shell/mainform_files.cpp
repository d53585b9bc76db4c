// The main window's files: the caption with its unsaved mark, the unsaved-changes question,
// Open, New, Save, Save as, the recent list, Export as html, Save log as, the script run at
// start-up and Build's program file.
//
// Threading: user-interface thread only. Error policy: a file that cannot be read or
// written is reported in a message box (through `dialogs`) and nothing else changes: the
// editor keeps its text and its unsaved mark, the caption and the recent list stay.
#include "shell/mainform.h"

#include "builder/buildcommand.h"
#include "engine/runtime.h"
#include "engine/text.h"
#include "shell/debugger.h"
#include "shell/platform.h"
#include "shell/scripteditor.h"
#include "wiring/subsystems.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace nv {

namespace {

const QString kCaptionPrefix = QStringLiteral("Norvane - ");
const QString kUntitled = QStringLiteral("untitled.nvs");

} // namespace

void MainWindow::setCaptionFor(const QString& path) {
    debugger_->setFile(path);
    // "[*]" shows as "*" while the script holds changes not yet saved, as nothing otherwise.
    setWindowTitle(kCaptionPrefix + (path.isEmpty() ? kUntitled : QFileInfo(path).fileName()) +
                   QStringLiteral("[*]"));
    setWindowModified(editor_->unsaved());
}

QString MainWindow::captionName() const {
    return QString(windowTitle()).remove(QLatin1String("[*]")).mid(kCaptionPrefix.size());
}

QString MainWindow::shownTitle() const {
    QString t = windowTitle();
    return t.replace(QLatin1String("[*]"), isWindowModified() ? QStringLiteral("*") : QString());
}

bool MainWindow::settleUnsavedChanges() {
    if (rt_->packageMode || !editor_->unsaved()) return true;
    const QString name = currentFile_.isEmpty() ? kUntitled : QFileInfo(currentFile_).fileName();
    switch (dialogs.askUnsaved(
        QStringLiteral("The script %1 has changes that are not saved.\n\nSave them first?")
            .arg(name))) {
    case Dialogs::Unsaved::Discard:
        return true;
    case Dialogs::Unsaved::Cancel:
        return false;
    case Dialogs::Unsaved::Save:
        break;
    }
    // Saving may itself be cancelled (the Save as dialog) or fail: then nothing is discarded.
    if (currentFile_.isEmpty())
        saveUnderChosenName();
    else
        writeScript(currentFile_);
    return !editor_->unsaved();
}

bool MainWindow::writeScript(const QString& path) {
    QString error;
    if (!writeEditorTo(path, error)) {
        dialogs.error(QStringLiteral("Error saving file\n\n%1").arg(error));
        return false;
    }
    editor_->markSaved();
    return true;
}

bool MainWindow::loadIntoEditor(const QString& path, QString& error) {
    std::string bytes;
    if (!platform_->readFile(path, bytes, error)) return false;
    editor_->setBytes(bytes);
    editor_->markSaved();
    startLine_ = false;
    updateStatus();
    return true;
}

bool MainWindow::writeEditorTo(const QString& path, QString& error) {
    return platform_->writeFile(path, editor_->bytes(), error);
}

bool MainWindow::openFile(const QString& path) {
    if (editor_->unsaved() && !rt_->packageMode) {
        if (!settleUnsavedChanges()) return false;
    } else {
        // Nothing changed: the program's long-standing question, asked whenever the editor
        // holds a line.
        const bool holdsLine = startLine_ || editor_->length() > 0;
        if (holdsLine && !dialogs.confirm(QStringLiteral(
                             "All unsaved changes will be lost. Open another file now ?")))
            return false;
    }
    QString error;
    if (!loadIntoEditor(path, error)) {
        dialogs.error(QStringLiteral("Error loading file %1\n\n%2").arg(path, error));
        return false;
    }
    currentFile_ = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    setCaptionFor(currentFile_);
    recent_.add(currentFile_);
    refreshRecentBar();
    return true;
}

void MainWindow::openScript() {
    if (running()) return;
    const QString path = dialogs.openScript(programDir_);
    if (!path.isEmpty()) openFile(path);
}

void MainWindow::newScript() {
    if (running()) return;
    if (!settleUnsavedChanges()) return;
    editor_->setBytes({});
    editor_->markSaved();
    debugger_->clear();
    startLine_ = false;
    currentFile_.clear();
    setCaptionFor({});
    updateStatus();
}

void MainWindow::saveScript() {
    if (running()) return;
    if (currentFile_.isEmpty()) {
        saveScriptAs();
        return;
    }
    writeScript(currentFile_);
}

void MainWindow::saveScriptAs() {
    if (running()) return;
    saveUnderChosenName();
}

// Also reached from the unsaved-changes question while a script runs (the window closes).
void MainWindow::saveUnderChosenName() {
    const QString proposed = captionName().left(100);
    QString path = dialogs.saveScript(programDir_, proposed);
    if (path.isEmpty()) return;
    // Only the file's own name decides: a dot in a folder name is no extension.
    if (!QFileInfo(path).fileName().contains(QLatin1Char('.'))) path += QStringLiteral(".nvs");
    QString error;
    if (!writeEditorTo(path, error)) {
        dialogs.error(QStringLiteral("The script was not saved.\n\n%1").arg(error));
        return;
    }
    editor_->markSaved();
    currentFile_ = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    setCaptionFor(currentFile_);
    recent_.add(currentFile_);
    refreshRecentBar();
}

void MainWindow::exportHtml() {
    if (running()) return;
    QString path = dialogs.saveHtml(QDir::currentPath());
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".html");
    // This dialog, unlike the others, moves the current folder to where the page goes;
    // scripts that open files by bare names find them there afterwards.
    QDir::setCurrent(QFileInfo(path).absolutePath());
    const QString title = captionName();
    QString error;
    if (!platform_->writeFile(path, editor_->exportHtml(title), error))
        dialogs.error(QStringLiteral("The page was not written.\n\n%1").arg(error));
}

void MainWindow::openRecent(int index) {
    if (running() || index < 0 || index >= static_cast<int>(recent_.paths().size())) return;
    const QString path = recent_.paths()[static_cast<size_t>(index)];
    if (!settleUnsavedChanges()) return;
    QString error;
    if (!loadIntoEditor(path, error)) {
        dialogs.error(QStringLiteral("The script could not be opened.\n\n%1").arg(error));
        return;
    }
    currentFile_ = path;
    setCaptionFor(path);
}

bool MainWindow::runFileAtStart(const QString& path) {
    QString error;
    if (!loadIntoEditor(path, error)) {
        dialogs.error(QStringLiteral("The script could not be run.\n\n%1").arg(error));
        return false;
    }
    startFile_ = path;
    runScript();
    startFile_.clear();
    return true;
}

void MainWindow::saveLogAs() {
    const QString path = dialogs.saveLog(QDir::currentPath());
    if (path.isEmpty()) return;
    // The log is text shown to a person: saved as UTF-8, one line per line.
    std::string bytes = logText().toUtf8().toStdString();
    if (!bytes.empty()) bytes += '\n';
    QString error;
    if (!platform_->writeFile(path, bytes, error))
        dialogs.error(QStringLiteral("The log was not saved.\n\n%1").arg(error));
}

void MainWindow::buildProgram() {
    if (running()) return;
    const std::string source = programFileForBuild.isEmpty()
                                   ? builder::runningProgram()
                                   : QFile::encodeName(programFileForBuild).toStdString();
    const builder::Outcome out =
        builder::build(*rt_, *subs_->rack, source, splitLines(editor_->bytes()));
    flushLog();
    if (!out.failure.empty()) {
        dialogs.error(QString::fromStdString(out.failure));
        return;
    }
    if (!out.built) return;
    const QString path = dialogs.saveProgram(programDir_);
    if (path.isEmpty()) return;
    std::string error;
    std::vector<std::string> inputs = out.inputs;
    if (!currentFile_.isEmpty()) inputs.push_back(QFile::encodeName(currentFile_).toStdString());
    if (!builder::writeProgram(QFile::encodeName(path).toStdString(), out.image, source, inputs,
                               error))
        dialogs.error(QStringLiteral("The program was not written:\n%1\n\n%2")
                          .arg(path, QString::fromStdString(error)));
}

} // namespace nv
