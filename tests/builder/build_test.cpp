// Built programs end to end: `norvane-run --build` makes a program from a script and real
// racks, and the program runs on the offscreen platform in a folder of its own.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/nonroot.h"

namespace fs = std::filesystem;

namespace {

const std::string kNorvane = NORVANE;
const std::string kRunner = NORVANE_RUN;
const std::string kRacks = EXAMPLE_RACKS;

void put(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

std::string contentOf(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    if (!f) return "<missing>";
    return {std::istreambuf_iterator<char>(f), {}};
}

size_t occurrences(const std::string& hay, const std::string& needle) {
    size_t n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1))
        ++n;
    return n;
}

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs a program with a private home (so that no settings of the user are read or written)
// on the offscreen platform, in `cwd`.
QProcessEnvironment offscreenEnvironment(const fs::path& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", QString::fromStdString(home.string()));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString((home / ".config").string()));
    env.remove("NORVANE_PORTS");
    return env;
}

Result run(const std::string& program, const QStringList& args, const fs::path& cwd,
           const fs::path& home, int timeoutMs = 60000) {
    QProcess p;
    p.setProcessEnvironment(offscreenEnvironment(home));
    p.setWorkingDirectory(QString::fromStdString(cwd.string()));
    p.start(QString::fromStdString(program), args);
    Result r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = "timed out";
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

class BuiltProgram : public ::testing::Test {
  protected:
    QTemporaryDir tmp;
    fs::path root, src, home, runDir;

    void SetUp() override {
        root = tmp.path().toStdString();
        src = root / "src";
        home = root / "home";
        runDir = root / "run";
        for (const auto& d : {src, home, runDir})
            fs::create_directories(d);
        fs::copy_file(kRacks + "/psu.res", src / "psu.res");
        fs::copy_file(kRacks + "/logger.res", src / "logger.res");
    }

    // Builds `script` (written as src/s.nvs) into src/prog.
    Result build(const std::string& script, const std::string& output = "prog") {
        put(src / "s.nvs", script);
        return run(kRunner, {"--build", "s.nvs", QString::fromStdString(output)}, src, home);
    }
};

} // namespace

TEST(PackageSlot, TheStartMarkerOccursOnceInTheProgramAndNeverInTheRunner) {
    std::string program, runner;
    program = contentOf(kNorvane);
    runner = contentOf(kRunner);
    EXPECT_EQ(occurrences(program, "CommThread_init"), 1u);
    EXPECT_EQ(occurrences(runner, "CommThread_init"), 0u);
    const size_t at = program.find("CommThread_init");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(program.substr(at + 15, 262144), std::string(262144, 'V'));
    EXPECT_EQ(program.substr(at + 262159, 15), "CommThread_free");
}

TEST_F(BuiltProgram, RestoresItsRacksRunsHiddenAndEndsWithTheRun) {
    const std::string script = "openrack(\"psu.res\")\n"
                               "openrack(\"logger.res\")\n"
                               "fcreate(\"out.txt\")\n"
                               "h = fopen(\"out.txt\")\n"
                               "n = fwrite(\"ran \" & len(\"abc\"))\n"
                               "fclose()\n"
                               "writelog(\"never shown\")\n";
    const Result b = build(script);
    ASSERT_EQ(b.status, 0) << b.out << b.err;
    EXPECT_EQ(b.out, "Building\nAdding header\nAdding script\nAdding racks\n"
                     "Adding terminal.res (required)\nFound rack psu.res\n"
                     "Found rack logger.res\nDone\n");
    struct stat st {};
    ASSERT_EQ(stat((src / "prog").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);

    const Result r = run((src / "prog").string(), {}, runDir, home);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(contentOf(runDir / "out.txt"), "ran 3");
    EXPECT_EQ(contentOf(runDir / "psu.res"), contentOf(src / "psu.res"));
    EXPECT_EQ(contentOf(runDir / "logger.res"), contentOf(src / "logger.res"));
    EXPECT_EQ(contentOf(runDir / "terminal.res"),
              contentOf(fs::path(kNorvane).parent_path() / "terminal.res"));
    EXPECT_EQ(r.out, "") << "package mode writes no log";
    // Package mode reads the settings but never writes them: not beside the program, not in
    // the home folder.
    EXPECT_FALSE(fs::exists(src / "norvane.ini"));
    EXPECT_TRUE(fs::is_empty(home)) << "something was written under the home folder";

    // Given an existing file on its command line, a built program runs that file as the
    // editor would (and then stays open as the editor), not its package.
    put(runDir / "other.nvs", "fcreate(\"other.txt\")\n");
    QProcess editor;
    editor.setWorkingDirectory(QString::fromStdString(runDir.string()));
    editor.setProcessEnvironment(offscreenEnvironment(home));
    editor.start(QString::fromStdString((src / "prog").string()), {"other.nvs"});
    ASSERT_TRUE(editor.waitForStarted());
    for (int i = 0; i < 600 && !fs::exists(runDir / "other.txt"); ++i)
        usleep(50000);
    EXPECT_TRUE(fs::exists(runDir / "other.txt"));
    editor.terminate();
    EXPECT_TRUE(editor.waitForFinished(30000));
    EXPECT_EQ(contentOf(runDir / "out.txt"), "ran 3") << "the package did not run again";
}

TEST_F(BuiltProgram, ExitStatusTellsHowTheScriptEnded) {
    struct Case {
        const char* body;
        int status;
    };
    const Case cases[] = {
        {"x = 1\n", 0},
        {"if (1 == 1)\n", 1},                  // block validation refuses: the run never starts
        {"for (i, \"abc\", 5, 1)\nnext\n", 2}, // a bound that is no number is fatal
        {"setexitcode(7)\nx = 1\n", 7},        // the script's own verdict
        {"setexitcode(7)\nfor (i, \"abc\", 5, 1)\nnext\n", 2}, // a fatal error wins
    };
    for (const Case& c : cases) {
        const Result b = build(std::string("openrack(\"psu.res\")\n") + c.body);
        ASSERT_EQ(b.status, 0) << b.out;
        const Result r = run((src / "prog").string(), {}, runDir, home);
        EXPECT_EQ(r.status, c.status) << c.body << r.err;
    }
}

// The script of a built program sees the program's name and what follows "--"; what comes
// before "--" is not the script's.
TEST_F(BuiltProgram, ScriptSeesTheArgumentsAfterTheDoubleDash) {
    const Result b = build("openrack(\"psu.res\")\n"
                           "fcreate(\"args.txt\")\n"
                           "h = fopen(\"args.txt\")\n"
                           "n = fwrite(getarg(0) & \"|\" & getarg(1) & \"|\" & getarg(2) & \"|\")\n"
                           "a = getarg(3)\n"
                           "n = fwrite(\"[\" & a & \"]\")\n"
                           "fclose()\n");
    ASSERT_EQ(b.status, 0) << b.out;
    const std::string prog = (src / "prog").string();
    const struct {
        QStringList args;
        std::string written;
    } cases[] = {
        {{"--", "SN-0042", "-v"}, prog + "|SN-0042|-v|[]"},
        {{"ignored", "--", "a b", "--"}, prog + "|a b|--|[]"},
        {{}, prog + "|||[]"},
    };
    for (const auto& c : cases) {
        fs::remove(runDir / "args.txt");
        const Result r = run(prog, c.args, runDir, home);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(contentOf(runDir / "args.txt"), c.written) << c.args.join(' ').toStdString();
    }
}

TEST_F(BuiltProgram, BuildErrorsAndBadCommandLines) {
    put(src / "broken.res", "not a rack");
    struct Case {
        std::string script;
        int status;
        std::string lastLines;
    };
    const Case cases[] = {
        {"x = 1\n", 1, "Error building:\nSorry, no racks found !\n"},
        {"openrack(\"missing.res\")\n", 1, "Error building:\nRack file not found missing.res\n"},
        {"openrack(\"broken.res\")\nopenrack(\"psu.res\")\n", 0,
         "Found rack broken.res\nRack file not valid broken.res\nFound rack psu.res\nDone\n"},
    };
    for (const Case& c : cases) {
        fs::remove(src / "prog");
        const Result b = build(c.script);
        EXPECT_EQ(b.status, c.status) << c.script;
        EXPECT_TRUE(b.out.ends_with(c.lastLines)) << b.out;
        EXPECT_EQ(fs::exists(src / "prog"), c.status == 0);
    }
    // Never over the program it is built from, nor over a folder.
    EXPECT_EQ(build("openrack(\"psu.res\")\n", kNorvane).status, 1);
    EXPECT_EQ(build("openrack(\"psu.res\")\n", root.string()).status, 1);
    // Usage: 64.
    EXPECT_EQ(run(kRunner, {"--build", "s.nvs"}, src, home).status, 64);
    EXPECT_EQ(run(kRunner, {"--build", "nope.nvs", "out"}, src, home).status, 64);
    EXPECT_EQ(run(kRunner, {"--build", "", "out"}, src, home).status, 64);
}

// The output is never one of the files the build read (the script, a rack, terminal.res),
// however it is spelled, nor a device: each is refused with a line and status 1, and the
// file stays as it was.
TEST_F(BuiltProgram, TheOutputIsNeverAnInputNorADevice) {
    const std::string script = "openrack(\"psu.res\")\n";
    fs::create_symlink("psu.res", src / "link-to-rack");
    fs::copy_file(fs::path(kNorvane).parent_path() / "terminal.res", src / "terminal-copy.res");
    const std::string rack = contentOf(src / "psu.res");
    const struct {
        std::string output;
        std::string reason;
    } cases[] = {
        {"s.nvs", "which the program was built from"},
        {"./s.nvs", "which the program was built from"},
        {"psu.res", "which the program was built from"},
        {"link-to-rack", "which the program was built from"},
        {(fs::path(kNorvane).parent_path() / "terminal.res").string(),
         "which the program was built from"},
        {"/dev/null", "not a regular file"},
    };
    for (const auto& c : cases) {
        const Result b = build(script, c.output);
        EXPECT_EQ(b.status, 1) << c.output;
        EXPECT_NE(b.err.find(c.reason), std::string::npos) << c.output << ": " << b.err;
        EXPECT_EQ(contentOf(src / "s.nvs"), script);
        EXPECT_EQ(contentOf(src / "psu.res"), rack);
    }
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(build(script, "fresh").status, 0) << "a new name is written";
}

// A rack holding a text of the package format would be restored cut short at it: the build
// refuses it and names it.
TEST_F(BuiltProgram, ARackHoldingAPackageMarkerIsRefused) {
    std::string bytes = contentOf(src / "logger.res");
    const size_t at = bytes.find("DL-1 Da");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 7, "[racke]");
    put(src / "marked.res", bytes);
    const Result b = build("openrack(\"psu.res\")\nopenrack(\"marked.res\")\n");
    EXPECT_EQ(b.status, 1);
    EXPECT_TRUE(b.out.ends_with("Error building:\nRack file holds a package marker ([racke]) "
                                "marked.res\n"))
        << b.out;
    EXPECT_FALSE(fs::exists(src / "prog"));
}

TEST_F(BuiltProgram, UnwritableRacksEndTheProgramBeforeTheScript) {
    ASSERT_EQ(build("openrack(\"psu.res\")\nfcreate(\"ran.txt\")\nfclose()\n").status, 0);
    fs::permissions(root, fs::perms::all, fs::perm_options::add);
    fs::permissions(src, fs::perms::all, fs::perm_options::add);

    // A read-only current folder: as root the check only holds for a user without rights.
    fs::create_directory(root / "ro");
    fs::permissions(root / "ro", fs::perms(0555));
    if (geteuid() == 0) {
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir((root / "ro").c_str()) != 0 || !nvtest::dropRoot()) _exit(99);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            setenv("HOME", "/nonexistent", 1);
            const std::string prog = (src / "prog").string();
            execl(prog.c_str(), prog.c_str(), nullptr);
            _exit(98);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
    } else {
        const Result r = run((src / "prog").string(), {}, root / "ro", home);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Error initializing resources. Application will terminate."),
                  std::string::npos);
    }
    EXPECT_TRUE(fs::is_empty(root / "ro"));

    // A crafted package whose rack name climbs out of the folder: refused, nothing written
    // outside, the script never runs.
    std::string image = contentOf(src / "prog");
    const std::string field = "psu.res" + std::string(36, ' ');
    const size_t at = image.find("[racks " + field);
    ASSERT_NE(at, std::string::npos);
    const std::string evil = "../escape.res" + std::string(30, ' ');
    image.replace(at + 7, 43, evil);
    put(src / "evil", image);
    fs::permissions(src / "evil", fs::perms(0755));
    const Result r = run((src / "evil").string(), {}, runDir, home);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error initializing resources. Application will terminate."),
              std::string::npos);
    EXPECT_FALSE(fs::exists(root / "escape.res"));
    EXPECT_FALSE(fs::exists(runDir / "ran.txt"));
}

TEST_F(BuiltProgram, TerminationStopsTheRunAndTellsTheSignal) {
    ASSERT_EQ(build("openrack(\"psu.res\")\nfcreate(\"started.txt\")\nfclose()\n"
                    "while (1 == 1)\nwend\n")
                  .status,
              0);
    QProcess p;
    p.setProcessEnvironment(offscreenEnvironment(home));
    p.setWorkingDirectory(QString::fromStdString(runDir.string()));
    p.start(QString::fromStdString((src / "prog").string()), {});
    ASSERT_TRUE(p.waitForStarted());
    for (int i = 0; i < 600 && !fs::exists(runDir / "started.txt"); ++i)
        usleep(50000);
    ASSERT_TRUE(fs::exists(runDir / "started.txt"));
    kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 128 + SIGTERM);
}
