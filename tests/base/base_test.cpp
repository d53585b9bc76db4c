#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "base/ascii.h"
#include "base/files.h"
#include "base/ini.h"
#include "tests/support/nonroot.h"
#include "tests/support/tempdir.h"

namespace fs = std::filesystem;
using namespace nv;

namespace {

using nvtest::put;
using nvtest::TempDir;

std::string contentOf(const std::string& path) {
    std::string bytes, why;
    EXPECT_TRUE(readFile(path, bytes, why)) << path << ": " << why;
    return bytes;
}

} // namespace

TEST(SafeSave, ReplacesARegularFileKeepingItsMode) {
    TempDir d;
    put(d / "a.nvs", "old");
    ASSERT_EQ(chmod((d / "a.nvs").c_str(), 0640), 0);
    std::string why;
    ASSERT_TRUE(safeSave(d / "a.nvs", std::string("new\0x", 5), why)) << why;
    EXPECT_EQ(contentOf(d / "a.nvs"), std::string("new\0x", 5));
    struct stat st {};
    ASSERT_EQ(stat((d / "a.nvs").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(d.path), fs::directory_iterator{}), 1);
}

TEST(SafeSave, WritesThroughLinksAndKeepsThemLinks) {
    TempDir d;
    fs::create_directory(d / "real");
    put(d / "real/target.ini", "old");
    fs::create_symlink("real/target.ini", d / "relative-link");
    fs::create_symlink(d / "relative-link", d / "link-to-link");
    fs::create_symlink(d / "real/new.ini", d / "dangling");
    std::string why;
    ASSERT_TRUE(safeSave(d / "link-to-link", "through two links", why)) << why;
    EXPECT_TRUE(fs::is_symlink(d / "link-to-link"));
    EXPECT_TRUE(fs::is_symlink(d / "relative-link"));
    EXPECT_EQ(contentOf(d / "real/target.ini"), "through two links");

    ASSERT_TRUE(safeSave(d / "dangling", "created", why)) << why;
    EXPECT_TRUE(fs::is_symlink(d / "dangling"));
    EXPECT_EQ(contentOf(d / "real/new.ini"), "created");

    fs::create_symlink("loop-b", d / "loop-a");
    fs::create_symlink("loop-a", d / "loop-b");
    EXPECT_FALSE(safeSave(d / "loop-a", "x", why));
}

TEST(SafeSave, WritesInPlaceWhereARenameWouldDoHarm) {
    TempDir d;
    // Hard links: every name sees the new content.
    put(d / "one", "old");
    fs::create_hard_link(d / "one", d / "two");
    std::string why;
    ASSERT_TRUE(safeSave(d / "two", "shared", why)) << why;
    EXPECT_EQ(contentOf(d / "one"), "shared");
    EXPECT_EQ(fs::hard_link_count(d / "one"), 2u);

    // A device stays the device.
    ASSERT_TRUE(safeSave("/dev/null", "gone", why)) << why;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    // A FIFO stays a FIFO and its reader gets the bytes.
    ASSERT_EQ(mkfifo((d / "fifo").c_str(), 0600), 0);
    std::string got;
    std::thread reader([&] {
        const int fd = open((d / "fifo").c_str(), O_RDONLY);
        char buf[64];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0)
            got.append(buf, static_cast<size_t>(n));
        close(fd);
    });
    bool saved = false;
    for (int i = 0; i < 500 && !saved; ++i) { // until the reader has opened its end
        saved = safeSave(d / "fifo", "to the reader", why);
        if (!saved) usleep(10000);
    }
    reader.join();
    EXPECT_TRUE(saved) << why;
    EXPECT_EQ(got, "to the reader");
    EXPECT_TRUE(fs::is_fifo(d / "fifo"));
    // Nobody reading: refused at once instead of hanging.
    EXPECT_FALSE(safeSave(d / "fifo", "nobody", why));
}

// A user who may write the file but not its folder (as root, "nobody").
TEST(SafeSave, ReadOnlyFolderIsWrittenInPlace) {
    TempDir d;
    put(d / "settings.ini", "old");
    ASSERT_EQ(chmod((d / "settings.ini").c_str(), 0666), 0);
    ASSERT_EQ(chmod(d.path.c_str(), 0555), 0);
    EXPECT_TRUE(nvtest::asNonRoot([&] {
        std::string why;
        return safeSave(d / "settings.ini", "new", why) && !safeSave(d / "absent.ini", "x", why);
    }));
    EXPECT_EQ(contentOf(d / "settings.ini"), "new");
}

// A save that cannot be completed leaves every byte of the old file, on the path that
// writes in place (a file with two names, as a hard-linked rack or settings file): a file
// size limit makes the disk "full" at 4 KiB, in a child so that the limit stays there. The
// editor, norvane.ini, racks and the converter all save through here.
TEST(SafeSave, ARefusedSaveKeepsEveryOldByte) {
    TempDir d;
    const std::string old(1847, 'o');
    put(d / "a.ini", old);
    ASSERT_EQ(link((d / "a.ini").c_str(), (d / "b.ini").c_str()), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        std::string why;
        _exit(setrlimit(RLIMIT_FSIZE, &limit) == 0 &&
                      !safeSave(d / "a.ini", std::string(10000, 'n'), why)
                  ? 0
                  : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(contentOf(d / "b.ini"), old);
}

TEST(SafeSave, RefusesFoldersAndNamesWithAZeroByte) {
    TempDir d;
    std::string why;
    EXPECT_FALSE(safeSave(d.path.string(), "x", why));
    put(d / "data.txt", "keep");
    EXPECT_FALSE(safeSave(d / "data.txt" + std::string(1, '\0') + ".new", "x", why));
    EXPECT_EQ(contentOf(d / "data.txt"), "keep");
}

TEST(ReadFile, RefusesFoldersAndWithRegularOnlyNeverBlocksOnAFifo) {
    TempDir d;
    std::string bytes, why;
    EXPECT_FALSE(readFile(d.path.string(), bytes, why));
    ASSERT_EQ(mkfifo((d / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(readFile(d / "fifo", bytes, why, ReadOptions{.regularOnly = true}));
    EXPECT_EQ(why, "not a regular file");
    EXPECT_FALSE(readFile(d / "missing", bytes, why));
    EXPECT_EQ(why, "No such file or directory");
}

TEST(SettingsPaths, OneRuleForEveryReader) {
    TempDir d;
    const std::string programDir = d / "program";
    fs::create_directory(programDir);
    setenv("XDG_CONFIG_HOME", (d / "config").c_str(), 1);
    // A writable program folder holds the file.
    SettingsPaths p = settingsPaths(programDir, true);
    EXPECT_EQ(p.readPath, programDir + "/norvane.ini");
    EXPECT_EQ(p.writePath, programDir + "/norvane.ini");
    // A read-only one still gives the settings (the [ports] map too) until the user's own
    // file exists; writing always goes to the user's file.
    p = settingsPaths(programDir, false);
    EXPECT_EQ(p.readPath, programDir + "/norvane.ini");
    EXPECT_EQ(p.writePath, d / "config/norvane/norvane.ini");
    fs::create_directories(d / "config/norvane");
    put(d / "config/norvane/norvane.ini", "[ports]\n");
    EXPECT_EQ(settingsPaths(programDir, false).readPath, d / "config/norvane/norvane.ini");
    // A relative XDG_CONFIG_HOME is ignored, as the XDG rules say.
    setenv("XDG_CONFIG_HOME", "relative", 1);
    setenv("HOME", (d / "home").c_str(), 1);
    EXPECT_EQ(settingsPaths(programDir, false).writePath, d / "home/.config/norvane/norvane.ini");
}

// The program folder keeps the settings only when it is the user's own: owned, not root's
// process, not an installed copy. Checked as the user the test runs as, and as "nobody" in a
// child when that is root, so that both sides of the root rule are seen.
TEST(SettingsPaths, ProgramFolderIsOwnOnlyForItsOwnerAndNeverWhenInstalledOrRoot) {
    TempDir d;
    ASSERT_EQ(chmod(d.path.c_str(), 0777), 0);
    const std::string own = d / "own";
    auto check = [&] {
        fs::create_directory(own);
        const bool before = programFolderIsOwn(own);
        put(fs::path(own) / kInstalledMarker, "installed\n");
        return before && !programFolderIsOwn(own) && !programFolderIsOwn("/");
    };
    if (geteuid() == 0) {
        fs::create_directory(d / "root");
        EXPECT_FALSE(programFolderIsOwn(d / "root")) << "root keeps no settings beside a program";
    }
    EXPECT_TRUE(nvtest::asNonRoot(check));
}

TEST(SettingsPaths, TheUsersFileIsReadOverTheLabDefaults) {
    TempDir d;
    put(d / "system.ini", "[ports]\ncom1=/dev/ttyUSB7\ncom2=/dev/ttyUSB8\n[main]\nx=5\n");
    put(d / "user.ini", "[Ports]\nCOM2=/dev/pts/3\n");
    const IniFile ini = loadSettings({d / "user.ini", d / "user.ini", d / "system.ini"});
    EXPECT_EQ(ini.value("ports", "com1"), "/dev/ttyUSB7");
    EXPECT_EQ(ini.value("ports", "com2"), "/dev/pts/3");
    EXPECT_EQ(ini.value("main", "x"), "5");
    // No lab file: the user's alone.
    EXPECT_EQ(loadSettings({d / "user.ini", d / "user.ini", d / "none.ini"}).value("ports", "com1"),
              std::nullopt);
}

TEST(IniFile, KeepsWhatItDoesNotTouchAndComparesNamesWithoutCase) {
    IniFile ini;
    const std::string text = "; comment\n[Ports]\nCOM1 = /dev/ttyUSB0\n\n[main]\nx=1\n";
    ini.parse(text);
    EXPECT_EQ(ini.value("ports", "com1"), "/dev/ttyUSB0");
    EXPECT_EQ(ini.serialize(), "; comment\n[Ports]\nCOM1=/dev/ttyUSB0\n\n[main]\nx=1\n");
    ini.setValue("PORTS", "com2", "/dev/pts/3");
    const auto e = ini.entries("ports");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[1].first, "com2");
    ini.remove("ports", "Com1");
    EXPECT_FALSE(ini.value("ports", "com1"));
}

TEST(Ascii, FoldsOnlyAsciiLetters) {
    EXPECT_TRUE(equalsNoCase("Error", "eRROR"));
    EXPECT_FALSE(equalsNoCase("\xC4", "\xE4")); // Latin-1 letters stay distinct
    EXPECT_FALSE(equalsNoCase("ab", "abc"));
    EXPECT_TRUE(startsWithNoCase("COM12", "com"));
    EXPECT_EQ(lowerAscii("AbC\xC4"), "abc\xC4");
    EXPECT_EQ(upperAscii("abc["), "ABC[");
}
