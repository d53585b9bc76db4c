// The open file, exec, setidle, showmain/hidemain and inputbox, driven by scripts through
// the real engine. Files live in a fresh temporary folder per test.
#include <QApplication>
#include <QInputDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "commands/commands.h"
#include "commands/posix.h"
#include "tests/commands/harness.h"

using Lines = std::vector<std::string>;

namespace {

// `error` first: geterror() inside the same expression would clear it.
const std::string kReport = "e = error\nwritelog(e & \" \" & geterror())\n";

std::string replace(std::string s, const std::string& what, const std::string& with) {
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size()))
        s.replace(at, what.size(), with);
    return s;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

struct Rig : nvtest::ScriptRig {
    nv::FilesAndSystem fs;
    explicit Rig(QWidget* window = nullptr, nv::FilesAndSystem::LineReader reader = {})
        : fs(rt, window, std::move(reader)) {}
};

class Files : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    std::string path(const std::string& name) { return dir.path().toStdString() + "/" + name; }
};

std::string hundredDigits() {
    std::string s;
    for (int i = 0; i < 10; ++i)
        s += "0123456789";
    return s;
}

} // namespace

TEST_F(Files, ReadWriteAndSeekOnTheOpenFile) {
    struct Case {
        std::string script;
        Lines expected;
    };
    const Case cases[] = {
        {"fseek(0, 2)\nx = fread(5)\nwritelog(len(x))", {"0"}},
        {"fseek(-10, 2)\nwritelog(fread(100))", {"0123456789"}},
        {"fseek(5, 0)\nfseek(2, 1)\nwritelog(fread(3))", {"789"}},
        {"fseek(5, 0)\nfseek(5, 3)\n" + std::string(kReport) + "writelog(fread(2))",
         {"1 fseek: invalid seeking mode", "56"}},
        {"fseek(\"a\", 0)\n" + std::string(kReport), {"1 fseek: error seeking in file"}},
        {"fseek(0, \"x\")\n" + std::string(kReport), {"1 fseek: error seeking in file"}},
        {"fseek(-200, 0)\n" + std::string(kReport), {"1 fseek: error seeking in file"}},
        {"fseek(1, 2, 3)\nfseek(1)\n" + std::string(kReport), {"0 "}},
        {"x = fread(\"abc\")\n" + std::string(kReport), {"1 fread: error reading from file"}},
        {"x = fread(99999999999)\n" + std::string(kReport), {"1 fread: error reading from file"}},
        // A huge count reads what there is, without reserving the count.
        {"x = fread(2147483647)\n" + std::string(kReport) + "writelog(len(x))", {"0 ", "100"}},
        {"n = fwrite(\"\")\n" + std::string(kReport) + "writelog(n)",
         {"1 fwrite: error writing to file", "0"}},
        {"fseek(0, 2)\nn = fwrite(\"AB\")\nfseek(-3, 2)\nwritelog(n & fread(5))", {"29AB"}},
        {"h2 = fopen(\"FILE\")\n" + std::string(kReport) + "writelog(fread(2))",
         {"1 fopen: another file is open:HANDLE", "01"}},
    };
    for (const Case& c : cases) {
        const std::string file = path("data.txt");
        writeFile(file, hundredDigits());
        Rig rig;
        const std::string script = "h = fopen(\"FILE\")\nwritelog(h)\n" + c.script + "\nfclose()\n";
        const Lines log = rig.run(replace(script, "FILE", file));
        ASSERT_FALSE(log.empty()) << c.script;
        const std::string handle = log[0];
        EXPECT_GE(std::stoi(handle), 3) << "a script's file never takes a standard stream";
        Lines expected{handle};
        for (const std::string& l : c.expected)
            expected.push_back(replace(l, "HANDLE", handle));
        EXPECT_EQ(log, expected) << c.script;
        EXPECT_EQ(rig.fs.dataModule().handle, 0) << c.script;
    }
}

TEST_F(Files, EveryByteSurvivesAReadAndAWrite) {
    const std::string file = path("bytes.bin");
    writeFile(file, std::string("\x00\x0a\xff\x80", 4));
    Rig rig;
    const Lines log = rig.run(replace(R"(h = fopen("FILE")
writelog(tohex(fread(4)))
n = fwrite(chr(0) & chr(200) & "z")
fclose()
)",
                                      "FILE", file));
    EXPECT_EQ(log, (Lines{"00 0a ff 80"}));
    EXPECT_EQ(readFile(file), std::string("\x00\x0a\xff\x80\x00\xc8z", 7));
}

TEST_F(Files, TheOpenFileOutlivesTheRun) {
    const std::string file = path("kept.txt");
    writeFile(file, "abcdef");
    Rig rig;
    const Lines first =
        rig.run(replace("h = fopen(\"FILE\")\nwritelog(h)\nx = fread(2)\n", "FILE", file));
    ASSERT_EQ(first.size(), 1u);
    const Lines second = rig.run(replace("h = fopen(\"FILE\")\n" + kReport +
                                             "writelog(fread(2))\nfclose()\nh = fopen(\"FILE\")\n" +
                                             kReport + "fclose()\n",
                                         "FILE", file));
    EXPECT_EQ(second, (Lines{"1 fopen: another file is open:" + first[0], "cd",
                             "0 fopen: another file is open:" + first[0]}));
}

TEST_F(Files, FailuresReportTheirMessagesAndTheScriptGoesOn) {
    const std::string existing = path("existing.txt");
    const std::string open = path("open.txt");
    struct Case {
        std::string script;
        Lines expected;
    };
    const Case cases[] = {
        {"fcreate(\"" + dir.path().toStdString() + "\")\n" + kReport,
         {"1 fcreate: error creating file"}},
        {"fcreate(\"" + path("no/such/dir/f.txt") + "\")\n" + kReport,
         {"1 fcreate: error creating file"}},
        // A file that cannot be opened is -1 without a message; the next fopen may try
        // again, and fseek still sees no open file.
        {"h = fopen(\"" + dir.path().toStdString() + "\")\n" + kReport +
             "writelog(h)\nfseek(0, 0)\n" + kReport + "h = fopen(\"" + existing + "\")\n" +
             kReport + "fclose()",
         {"0 ", "-1", "1 fseek: file not open", "0 fseek: file not open"}},
        {"fclose()\n" + kReport, {"0 "}},
        {"fseek(0, 0)\n" + kReport + "x = fread(1)\n" + kReport + "x = fwrite(\"a\")\n" + kReport,
         {"1 fseek: file not open", "1 fread: file not open", "1 fwrite: file not open"}},
        {"h = fopen(\"/dev/full\")\nn = fwrite(\"abc\")\n" + kReport + "writelog(n)\nfclose()",
         {"1 fwrite: error writing to file", "0"}},
        // fcreate empties a file and leaves the open one alone.
        {"h = fopen(\"" + open + "\")\nfcreate(\"" + existing + "\")\n" + kReport +
             "writelog(fread(3))\nfclose()",
         {"0 ", "xyz"}},
    };
    for (const Case& c : cases) {
        writeFile(existing, "old content");
        writeFile(open, "xyz");
        Rig rig;
        EXPECT_EQ(rig.run(c.script + "\nwritelog(\"went on\")\n"), [&] {
            Lines l = c.expected;
            l.push_back("went on");
            return l;
        }()) << c.script;
    }
    EXPECT_EQ(readFile(existing), "");
}

// The kernel cuts a path at its first zero byte; such a name must not reach the file named
// by its first part.
TEST_F(Files, NamesWithAZeroByteAreRefused) {
    const std::string file = path("data.txt");
    struct Case {
        std::string script;
        Lines expected;
    };
    const Case cases[] = {
        {"fcreate(\"FILE\" & chr(0) & \".new\")\n" + kReport, {"1 fcreate: error creating file"}},
        {"h = fopen(\"FILE\" & chr(0) & \".new\")\n" + kReport + "writelog(h)\nfclose()",
         {"0 ", "-1"}},
        {"exec(\"/bin/true\" & chr(0) & \" x\")\n" + kReport,
         {"External application was not started: /bin/true" + std::string(1, '\0') + " x",
          "1 exec: error starting external application.."}},
    };
    for (const Case& c : cases) {
        writeFile(file, "kept");
        Rig rig;
        EXPECT_EQ(rig.run(replace(c.script, "FILE", file)), c.expected) << c.script;
        EXPECT_EQ(readFile(file), "kept") << c.script;
    }
}

// The open file never takes descriptor 0, 1 or 2, even when one of them is free: a script
// writing its file must not write into a standard stream, nor a child inherit it as one.
TEST_F(Files, TheOpenFileNeverTakesAStandardStream) {
    const std::string file = path("data.txt");
    writeFile(file, "x");
    const int savedIn = ::dup(0);
    ASSERT_GE(savedIn, 0);
    ::close(0); // the lowest free descriptor is now 0
    const int h = nv::sys::openExisting(file);
    ::dup2(savedIn, 0);
    ::close(savedIn);
    EXPECT_GE(h, 3);
    if (h >= 0) nv::sys::closeFd(h);
}

TEST(Exec, PlansFollowTheKindOfTarget) {
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    const std::string tool = d + "/tool.sh", doc = d + "/notes.txt", opener = d + "/opener";
    writeFile(tool, "#!/bin/sh\n");
    writeFile(opener, "#!/bin/sh\n");
    writeFile(doc, "text");
    ::chmod(tool.c_str(), 0755);
    ::chmod(opener.c_str(), 0755);
    const std::string sh = nv::sys::findInPath("sh");
    ASSERT_FALSE(sh.empty());
    struct Case {
        std::string target, opener;
        std::string program;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {tool, opener, tool, {}},
        {doc, opener, opener, {doc}},
        {d, opener, opener, {d}},
        {"https://example.invalid/x?y=1", opener, opener, {"https://example.invalid/x?y=1"}},
        {"mailto:someone", opener, opener, {"mailto:someone"}},
        {"sh -c \"exit 0\"", opener, sh, {"-c", "exit 0"}},
        {doc, d + "/no-opener", "", {}},
        {"no-such-program-here --flag", opener, "", {}},
        {d + "/missing.bin", opener, "", {}},
        {"", opener, "", {}},
    };
    for (const Case& c : cases) {
        const nv::sys::LaunchPlan plan = nv::sys::planLaunch(c.target, c.opener);
        EXPECT_EQ(plan.program, c.program) << c.target;
        EXPECT_EQ(plan.args, c.args) << c.target;
    }
}

TEST(Exec, StartsWithoutWaitingAndReportsWhatCannotStart) {
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    const std::string tool = d + "/late.sh", mark = d + "/mark", touched = d + "/touched";
    writeFile(tool, "#!/bin/sh\nsleep 1\ntouch \"" + mark + "\"\n");
    ::chmod(tool.c_str(), 0755);
    Rig rig;
    const Lines log = rig.run(replace(replace(R"(exec("TOOL")
exec("touch TOUCHED")
exec("/no/such/program")
)" + kReport,
                                              "TOOL", tool),
                                      "TOUCHED", touched));
    EXPECT_EQ(log, (Lines{"External application was stared: " + tool,
                          "External application was stared: touch " + touched,
                          "External application was not started: /no/such/program",
                          "1 exec: error starting external application.."}));
    EXPECT_FALSE(exists(mark)) << "exec must not wait for the program";
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(exists(mark) && exists(touched)) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(exists(mark));
    EXPECT_TRUE(exists(touched));
}

TEST(SetIdle, AcceptsZeroAndPositiveRefusesTheRestKeepingTheOldValue) {
    Rig rig;
    std::vector<int> idle;
    rig.host.onEvents = [&] {
        if (rig.rc.current()) idle.push_back(rig.rc.current()->idleMs());
    };
    const Lines log = rig.run("setidle(3)\nsetidle(-5)\n" + kReport + "setidle(\"fast\")\n" +
                              kReport + "setidle(2.5)\nsetidle(0)\n" + kReport);
    EXPECT_EQ(log, (Lines{"Idle time not set, must be a positive integer value",
                          "1 setidle: idle time must be positive", "Cannot set idle time",
                          "1 setidle: unexpected argument", "Cannot set idle time",
                          "0 setidle: unexpected argument"}));
    // The idle time seen before each line: 3 from the second line on, kept through the
    // refusals, 0 after setidle(0).
    ASSERT_GE(idle.size(), 9u);
    EXPECT_EQ(idle[1], 3);
    EXPECT_EQ(idle[idle.size() - 3], 3);
    EXPECT_EQ(idle.back(), 0);
}

TEST(MainWindow, HidemainNeedsARackInTheScriptShowmainBringsItBack) {
    QWidget window;
    window.show();
    Rig rig(&window);
    rig.run("hidemain\n");
    EXPECT_TRUE(window.isVisible()) << "without openrack in the script hidemain is no command";
    rig.run("# openrack(\"panel.rack\") comes later\nhidemain\n");
    EXPECT_FALSE(window.isVisible());
    rig.run("showmain\n");
    EXPECT_TRUE(window.isVisible());

    // Package mode: the window stays as it is; showmain is then not a command at all.
    rig.rt.packageMode = true;
    window.hide();
    rig.run("showmain\n");
    EXPECT_FALSE(window.isVisible());
    window.show();
    rig.run("# openrack\nhidemain\n");
    EXPECT_TRUE(window.isVisible());
}

TEST(InputBox, ReadsAnswersFromInputAndTakesTheDefaultAtItsEnd) {
    std::deque<std::string> answers{"first", "typed"};
    Rig rig(nullptr, [&](std::string& line) {
        if (answers.empty()) return false;
        line = answers.front();
        answers.pop_front();
        return true;
    });
    const Lines log = rig.run(R"(a = inputbox("Title", "Prompt", "def")
writelog(a)
b = inputbox("Title", "Prompt", "")
writelog(b)
c = inputbox("Title", "Prompt", "fallback")
writelog(c)
)");
    // An answer typed over an empty default is kept, not discarded with the default.
    EXPECT_EQ(log, (Lines{"first", "typed", "fallback"}));
}

TEST(InputBox, ShowsAModalDialogOverTheWindow) {
    QWidget window;
    Rig rig(&window);
    std::vector<std::string> seen;
    int answered = 0;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* dlg = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (!dlg) return;
        seen.push_back(
            (dlg->windowTitle() + "|" + dlg->labelText() + "|" + dlg->textValue()).toStdString());
        if (answered++ == 0) {
            dlg->setTextValue(QString::fromUtf8("r\xc3\xa9ponse"));
            dlg->accept();
        } else {
            dlg->reject();
        }
    });
    driver.start(10);
    const Lines log = rig.run(R"(a = inputbox("Caption", "Prompt", "def")
writelog(a)
b = inputbox("Second", "Again", "kept")
writelog(b)
)");
    EXPECT_EQ(seen, (std::vector<std::string>{"Caption|Prompt|def", "Second|Again|kept"}));
    EXPECT_EQ(log, (Lines{"r\xc3\xa9ponse", "kept"}));
}

// Bytes that are not UTF-8 show as Latin-1, down to a final byte that would begin a UTF-8
// sequence; left unchanged, the default comes back as its own bytes.
TEST(InputBox, ShowsAFinalLatin1ByteAndGivesItBack) {
    QWidget window;
    Rig rig(&window);
    std::string seen;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* dlg = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (!dlg) return;
        seen = (dlg->labelText() + "|" + dlg->textValue()).toStdString();
        dlg->accept();
    });
    driver.start(10);
    const Lines log = rig.run("a = inputbox(\"T\", \"caf\" & chr(195), \"na\" & chr(195))\n"
                              "writelog(tohex(a))\n");
    EXPECT_EQ(seen, "caf\xc3\x83|na\xc3\x83"); // U+00C3 in UTF-8
    EXPECT_EQ(log, (Lines{"6e 61 c3"}));
}

#ifdef NORVANE_RUN
// The headless runner wires this subsystem in and answers inputbox from standard input.
TEST(Runner, InputboxReadsStandardInput) {
    QTemporaryDir dir;
    const std::string script = dir.path().toStdString() + "/ask.nvs";
    writeFile(script, "a = inputbox(\"T\", \"P\", \"d1\")\nwritelog(a)\nb = inputbox(\"T\", "
                      "\"P\", \"d2\")\nwritelog(b)\n");
    const std::string cmd =
        "printf 'from stdin\\n' | timeout 20 " NORVANE_RUN " '" + script + "' 2>/dev/null";
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    while (size_t n = std::fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    EXPECT_EQ(::pclose(p), 0);
    Lines lines;
    for (const std::string& l : nv::splitLines(out))
        lines.push_back(nvtest::withoutTime(l));
    EXPECT_EQ(lines, (Lines{"Script started", "from stdin", "d2", "Script finished"}));
}
#endif
