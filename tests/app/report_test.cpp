// What norvane-run tells the world around a run: its status (the script's verdict and the
// runner's own), the JUnit report, the JSON log, millisecond time stamps, and the refused
// blocks on standard error. Real runs of the real runner in a scratch folder; the report and
// the JSON lines are read back with Qt's own XML and JSON readers, as a CI reporter would.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "tests/support/shell.h"

namespace fs = std::filesystem;

namespace {

using Result = nvtest::ShellResult;
using nvtest::contentOf;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

class Report : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("norvane-report-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
    }

    // Runs a shell command line in the scratch folder with the runner as $R, no display.
    Result shell(const std::string& command) {
        const std::string line = "cd '" + dir.string() +
                                 "' && env -u DISPLAY -u WAYLAND_DISPLAY R='" NORVANE_RUN
                                 "' sh -c '" +
                                 command + "' 2>err.txt </dev/null";
        return nvtest::runShell(line, dir / "err.txt");
    }

    fs::path dir;
};

// The report as a reporter sees it: every element's attributes by element name (the last
// one of a name wins), and the text of failure and system-out.
struct Junit {
    bool wellFormed = false;
    std::vector<std::string> path; // element names in document order
    std::map<std::string, std::map<std::string, std::string>> attrs;
    std::map<std::string, std::string> text;
};

Junit readJunit(const fs::path& file) {
    Junit j;
    QFile f(QString::fromStdString(file.string()));
    if (!f.open(QIODevice::ReadOnly)) return j;
    QXmlStreamReader xml(&f);
    std::string current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            current = xml.name().toString().toStdString();
            j.path.push_back(current);
            for (const QXmlStreamAttribute& a : xml.attributes())
                j.attrs[current][a.name().toString().toStdString()] =
                    a.value().toString().toStdString();
        } else if (xml.isCharacters() && !xml.isWhitespace()) {
            j.text[current] += xml.text().toString().toStdString();
        }
    }
    j.wellFormed = !xml.hasError();
    return j;
}

TEST_F(Report, AFailingBenchGivesItsStatusAJunitReportAndJsonLines) {
    // A received byte of every awkward sort reaches the log: a control byte, markup, a byte
    // that is no UTF-8 (the whole line then reads as Latin-1).
    write("psu check.nvs", "writelog(\"raw\" & chr(1) & \"<&>\" & chr(34) & chr(255))\n"
                           "openport(\"com200\", 9600, 8, \"n\", \"1\")\n"
                           "setexitcode(5)\n"
                           "writelog(\"FAIL\")\n");
    const Result r = shell("$R --junit r.xml --log-format json \"psu check.nvs\"");
    EXPECT_EQ(r.status, 5) << r.err;

    const Junit j = readJunit(dir / "r.xml");
    ASSERT_TRUE(j.wellFormed) << contentOf(dir / "r.xml");
    EXPECT_EQ(j.path, (std::vector<std::string>{"testsuites", "testsuite", "testcase", "failure",
                                                "system-out"}));
    auto suite = j.attrs.at("testsuite");
    EXPECT_EQ(suite["name"], "psu check");
    EXPECT_EQ(suite["tests"], "1");
    EXPECT_EQ(suite["failures"], "1");
    EXPECT_EQ(suite["errors"], "0");
    EXPECT_TRUE(std::regex_match(suite["time"], std::regex("[0-9]+\\.[0-9]{3}")));
    EXPECT_TRUE(std::regex_match(suite["timestamp"],
                                 std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d")));
    auto testcase = j.attrs.at("testcase");
    EXPECT_EQ(testcase["classname"], "psu check");
    EXPECT_EQ(testcase["name"], "psu check.nvs");
    EXPECT_EQ(j.attrs.at("failure").at("type"), "status");
    EXPECT_EQ(j.attrs.at("failure").at("message"), "exit status 5");
    const std::string log = j.text.at("system-out");
    EXPECT_NE(log.find(": Script started\n"), std::string::npos) << log;
    EXPECT_NE(log.find(", from line 1: raw\u2401<&>\"\u00ff\n"), std::string::npos) << log;
    EXPECT_NE(log.find(", from line 4: FAIL\n"), std::string::npos) << log;

    // Every line of standard output is one JSON object.
    std::vector<std::string> kinds;
    for (const std::string& line : linesOf(r.out)) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
        const QJsonObject o = doc.object();
        EXPECT_TRUE(std::regex_match(
            o["time"].toString().toStdString(),
            std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d")))
            << line;
        const std::string kind = o["kind"].toString().toStdString();
        kinds.push_back(kind + (o.contains("line") ? ":" + std::to_string(o["line"].toInt()) : ""));
        if (kind == "output" && o["line"].toInt() == 1) {
            EXPECT_TRUE(std::regex_match(o["text"].toString().toStdString(),
                                         std::regex("\\d\\d:\\d\\d:\\d\\d, from line 1: "
                                                    "raw\x01<&>\"\u00ff")))
                << line;
        }
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"run", "output:1", "error:2", "output:4", "run"}));
}

TEST_F(Report, TheRunnersOwnStatusesWinAndTheReportSaysWhy) {
    struct Case {
        const char* name;
        const char* script;
        int status;
        const char* type; // "" for a passing run: no failure element
        const char* message;
    } cases[] = {
        {"pass", "setexitcode(4)\nsetexitcode(0)\n", 0, "", ""},
        {"fatal", "setexitcode(9)\nfor (i, 1, 5, 0)\nnext\n", 2, "fatal",
         "Fatal error: Division by zero"},
        {"refused", "for (i, 1, 2, 1)\nsetexitcode(9)\nwend\n", 1, "refused",
         "unexpected wend on line 3; unterminated block (for) on line 1"},
        // The script starts a file as its sign of life, then runs until the signal.
        {"signal", "fcreate(\"alive\")\nfclose()\nsetexitcode(9)\nwhile (1 == 1)\nwend\n", 143,
         "signal", "stopped by signal 15 (Terminated)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write(std::string(c.name) + ".nvs", c.script);
        const std::string report = std::string(c.name) + ".xml";
        const std::string command = "$R --junit " + report + " " + c.name + ".nvs";
        const Result r =
            std::string(c.name) == "signal"
                ? shell(command + " & pid=$!; while [ ! -e alive ]; do sleep 0.05; done; "
                                  "kill -TERM $pid; wait $pid")
                : shell(command);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        const Junit j = readJunit(dir / report);
        ASSERT_TRUE(j.wellFormed);
        EXPECT_EQ(j.attrs.at("testsuite").at("failures"), *c.type ? "1" : "0");
        if (!*c.type) {
            EXPECT_EQ(j.attrs.count("failure"), 0u);
            continue;
        }
        EXPECT_EQ(j.attrs.at("failure").at("type"), c.type);
        EXPECT_EQ(j.attrs.at("failure").at("message"), c.message);
        EXPECT_NE(j.text.at("failure").find("exit status " + std::to_string(c.status)),
                  std::string::npos);
    }
}

TEST_F(Report, RefusedBlocksAreNamedOnStandardErrorAtTheirLines) {
    struct Case {
        const char* script;
        const char* err;
        const char* log; // standard output, unchanged by the new lines
    } cases[] = {
        {"x = 1\nendif\n", "b.nvs:2: error: unexpected endif\n",
         "Error: unexpected endif on line 2\n"},
        // An unterminated block is pointed at where it opened, the innermost one.
        {"while (1 == 1)\n  x = 1\n  if (x == 1)\n", "b.nvs:3: error: unterminated block (if)\n",
         "\nError: unterminated block (if)\n"},
        {"for (i, 1, 2, 1)\n\nwend\n",
         "b.nvs:3: error: unexpected wend\nb.nvs:1: error: unterminated block (for)\n",
         "Error: unexpected wend on line 3\nError: unterminated block (for)\n"},
    };
    for (const Case& c : cases) {
        write("b.nvs", c.script);
        const Result r = shell("$R b.nvs");
        EXPECT_EQ(r.status, 1) << c.script;
        EXPECT_EQ(r.err, c.err) << c.script;
        EXPECT_EQ(r.out, c.log) << c.script;
    }
}

TEST_F(Report, TimestampsInMillisecondsAndCommandLineFaults) {
    write("t.nvs", "writelog(\"x\")\n");
    const Result r = shell("$R --timestamps ms t.nvs");
    EXPECT_EQ(r.status, 0);
    const std::vector<std::string> lines = linesOf(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_TRUE(
        std::regex_match(lines[1], std::regex("\\d\\d:\\d\\d:\\d\\d\\.\\d{3}, from line 1: x")))
        << lines[1];

    // A run that would pass but has no report to show for it does not pass.
    EXPECT_EQ(shell("$R --junit no/such/folder/r.xml t.nvs").status, 74);
    EXPECT_NE(shell("$R --junit no/such/folder/r.xml t.nvs").err.find("cannot write the report"),
              std::string::npos);
    for (const char* bad : {"--log-format xml t.nvs", "--timestamps us t.nvs", "--junit \"\" t.nvs",
                            "--junit r.xml --build t.nvs out", "--log-format json --ports",
                            "--serial-log \"\" t.nvs", "--serial-log s.log --build t.nvs out",
                            "--serial-log no/such/folder/s.log t.nvs"})
        EXPECT_EQ(shell(std::string("$R ") + bad).status, 64) << bad;
}

// --serial-log: every chunk each way, as it happens, with its time, port, direction, hex and
// text; the port is a pseudo-terminal whose far end (socat and cat) echoes what it gets.
TEST_F(Report, TheSerialLogKeepsEveryChunkWithItsTime) {
    write("t.nvs", "openport(\"com5\", 9600, 8, \"n\", \"1\")\n"
                   "send(\"com5\", \"hi\")\n"
                   "n = 0\n"
                   "while (n << 2)\n"
                   "r = receive(\"com5\")\n"
                   "n = len(r)\n"
                   "wend\n"
                   "closeport(\"com5\")\n");
    const Result r = shell("socat PTY,link=tty,rawer EXEC:cat >/dev/null 2>&1 & peer=$!; "
                           "i=0; while [ ! -e tty ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i+1)); done; "
                           "NORVANE_PORTS=\"com5=$PWD/tty\" $R --serial-log s.log t.nvs; s=$?; "
                           "kill $peer; exit $s");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::vector<std::string> lines = linesOf(contentOf(dir / "s.log"));
    ASSERT_GE(lines.size(), 2u) << contentOf(dir / "s.log");
    const std::string stamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d )";
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(stamp + R"(COM5 \(S\) 68 69 : hi)")))
        << lines[0];
    // The echo may come back in one piece or two.
    std::string back;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, std::regex(stamp + R"(COM5 \(R\) .* : (.*))")))
            << lines[i];
        back += m[1];
    }
    EXPECT_EQ(back, "hi");
}

} // namespace
