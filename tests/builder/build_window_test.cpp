// Script > Build in the window: the log pane's lines, the save dialog's folder, the written
// program, and the files it refuses to write over.
#include "shell/mainform.h"
#include "shell/scripteditor.h"
#include "tests/support/testmain.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

struct BuildWindow : ::testing::Test {
    QTemporaryDir program, work;
    std::unique_ptr<nv::MainWindow> form;
    QStringList errors, dialogDirs;
    QString nextSave;

    void SetUp() override {
        nv::MainWindow::Options o;
        o.programDir = program.path();
        form = std::make_unique<nv::MainWindow>(o);
        form->programFileForBuild = QStringLiteral(NORVANE);
        form->dialogs.error = [this](const QString& m) { errors << m; };
        form->dialogs.saveProgram = [this](const QString& dir) {
            dialogDirs << dir;
            return nextSave;
        };
        form->editor()->setBytes("openrack(\"" EXAMPLE_RACKS "/psu.res\")\nx = 1\n");
    }
};

} // namespace

TEST_F(BuildWindow, BuildsIntoTheChosenFileAndMakesItExecutable) {
    QAction* build = form->item(QStringLiteral("buildAction"));
    ASSERT_NE(build, nullptr);
    EXPECT_EQ(build->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_B));

    nextSave = work.filePath("tool"); // no extension is added
    build->trigger();
    EXPECT_TRUE(errors.isEmpty()) << errors.join("\n").toStdString();
    EXPECT_EQ(dialogDirs, QStringList{program.path()});
    EXPECT_EQ(form->logText().toStdString(),
              "Building\nAdding header\nAdding script\nAdding racks\n"
              "Adding terminal.res (required)\nFound rack " EXAMPLE_RACKS "/psu.res\nDone");
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(nextSave).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(QFileInfo(nextSave).size(), QFileInfo(QStringLiteral(NORVANE)).size());

    // Cancelling the dialog writes nothing; a failed build shows no dialog.
    nextSave.clear();
    build->trigger();
    EXPECT_EQ(dialogDirs.size(), 2);
    form->editor()->setBytes("x = 1\n");
    build->trigger();
    EXPECT_EQ(dialogDirs.size(), 2);
    EXPECT_TRUE(form->logText().endsWith("Error building:\nSorry, no racks found !"));
}

TEST_F(BuildWindow, NeverWritesOverTheProgramItBuildsFrom) {
    nextSave = QStringLiteral(NORVANE);
    const qint64 before = QFileInfo(nextSave).lastModified().toMSecsSinceEpoch();
    form->item(QStringLiteral("buildAction"))->trigger();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("cannot be written over"));
    EXPECT_EQ(QFileInfo(nextSave).lastModified().toMSecsSinceEpoch(), before);
}

// Offscreen even where a display is: the window's dialogs are answered by the test.
[[maybe_unused]] const bool offscreen =
    nvtest::beforeApplication([] { qputenv("QT_QPA_PLATFORM", "offscreen"); });
