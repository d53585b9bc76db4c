// The files that run benches under systemd, CI and Kubernetes, checked as far as this
// machine can: the units pass systemd-analyze verify, the manifests are YAML of the right
// shape, the container recipe's RUN lines are sound shell, and a bench run exactly as the
// unit's ExecStart runs it gives its status, JSON log and report.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "tests/support/shell.h"

namespace fs = std::filesystem;

namespace {

const fs::path kPackage = fs::path(SOURCE_DIR) / "app" / "package";

using Result = nvtest::ShellResult;
using nvtest::contentOf;

class Fleet : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("norvane-fleet-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs `command` with /bin/sh in `cwd` (the scratch folder by default).
    Result shell(const std::string& command, const fs::path& cwd = {}) {
        std::ofstream(dir / "cmd.sh") << command << "\n";
        const std::string line = "cd '" + (cwd.empty() ? dir : cwd).string() +
                                 "' && env -u DISPLAY -u WAYLAND_DISPLAY sh '" +
                                 (dir / "cmd.sh").string() + "' 2>'" + (dir / "err.txt").string() +
                                 "' </dev/null";
        return nvtest::runShell(line, dir / "err.txt");
    }

    fs::path dir;
};

// The values of `key=` in a unit file, in order.
std::vector<std::string> unitValues(const std::string& unit, const std::string& key) {
    std::vector<std::string> out;
    std::istringstream in(unit);
    for (std::string l; std::getline(in, l);)
        if (l.rfind(key + "=", 0) == 0) out.push_back(l.substr(key.size() + 1));
    return out;
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
        s.replace(at, from.size(), to);
    return s;
}

TEST_F(Fleet, TheUnitsVerify) {
    if (shell("command -v systemd-analyze").status != 0)
        GTEST_SKIP() << "systemd-analyze is not installed: the units cannot be verified here";
    // verify wants the program of ExecStart and the manual page of Documentation= to exist:
    // the built ones stand in for the installed ones.
    const std::string service = replaceAll(contentOf(kPackage / "norvane-bench@.service"),
                                           "/usr/bin/norvane-run", NORVANE_RUN);
    std::ofstream(dir / "norvane-bench@.service") << service;
    fs::copy_file(kPackage / "norvane-bench@.timer", dir / "norvane-bench@.timer");
    fs::create_directories(dir / "man" / "man1");
    fs::create_symlink(NORVANE_RUN_MANPAGE, dir / "man" / "man1" / "norvane-run.1.gz");
    const Result r = shell("MANPATH='" + (dir / "man").string() +
                           "' systemd-analyze verify ./norvane-bench@ci.service "
                           "./norvane-bench@ci.timer");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "") << "verify found something to say";

    // And the verifier does catch a fault here.
    std::ofstream(dir / "norvane-bench@.service")
        << replaceAll(service, "Type=exec", "Type=sometimes");
    EXPECT_NE(shell("MANPATH='" + (dir / "man").string() +
                    "' systemd-analyze verify ./norvane-bench@ci.service")
                  .err,
              "");
}

TEST_F(Fleet, TheManifestsAreYamlOfTheRightShape) {
    if (shell("python3 -c 'import yaml'").status != 0)
        GTEST_SKIP() << "python3 with yaml is not installed: the manifests cannot be read here";
    std::ofstream(dir / "check.py") << R"py(
import sys, yaml
job, = yaml.safe_load_all(open(sys.argv[1]))
assert job["kind"] == "Job" and job["apiVersion"] == "batch/v1", job["kind"]
assert job["spec"]["backoffLimit"] == 0
pod = job["spec"]["template"]["spec"]
assert pod["restartPolicy"] == "Never"
assert pod["nodeSelector"], "not pinned to a node"
args = pod["containers"][0]["args"]
assert "--junit" in args, args
ci = yaml.safe_load(open(sys.argv[2]))
jobs = [j for n, j in ci.items() if not n.startswith(".")]
assert jobs and all(j.get("tags") for j in jobs), "a bench job without its runner's tag"
base = ci[".norvane-bench"]
assert base["artifacts"]["when"] == "always"
assert base["artifacts"]["reports"]["junit"].startswith("report-")
assert any("--junit" in line for line in base["script"])
)py";
    const Result r = shell("python3 check.py '" + (kPackage / "fleet" / "bench-job.yaml").string() +
                           "' '" + (kPackage / "fleet" / "gitlab-ci.yml").string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(Fleet, TheContainerRecipesRunLinesAreSoundShell) {
    // Each RUN instruction with its continuation lines joined, as the builder hands it to sh.
    const auto runLines = [](const std::string& recipe) {
        std::vector<std::string> runs;
        std::istringstream in(recipe);
        std::string joined;
        for (std::string l; std::getline(in, l);) {
            if (!joined.empty() || l.rfind("RUN ", 0) == 0) {
                const bool more = !l.empty() && l.back() == '\\';
                std::string piece = joined.empty() ? l.substr(4) : l;
                if (more) piece.pop_back();
                joined += piece;
                if (more) continue;
                runs.push_back(joined);
                joined.clear();
            }
        }
        return runs;
    };
    const auto check = [&](const std::string& run) {
        std::ofstream(dir / "run.sh") << run << "\n";
        return shell("sh -n run.sh").status;
    };
    const std::vector<std::string> runs = runLines(contentOf(kPackage / "fleet" / "Containerfile"));
    ASSERT_GE(runs.size(), 2u);
    for (const std::string& run : runs)
        EXPECT_EQ(check(run), 0) << run;
    EXPECT_NE(check(runLines("RUN apt-get update \\\n    && if true; then echo\n")[0]), 0)
        << "the check finds nothing wrong with a broken line";
}

TEST_F(Fleet, ABenchRunAsTheUnitRunsItGivesItsVerdictLogAndReport) {
    const std::string unit = contentOf(kPackage / "norvane-bench@.service");
    const auto resolve = [&](std::string s) {
        s = replaceAll(s, "%i", "ci");
        s = replaceAll(s, "/usr/bin/norvane-run", NORVANE_RUN);
        s = replaceAll(s, "/etc/norvane/benches", (dir / "etc").string());
        return replaceAll(s, "/var/lib/norvane", (dir / "var").string());
    };
    const std::vector<std::string> exec = unitValues(unit, "ExecStart");
    const std::vector<std::string> cwd = unitValues(unit, "WorkingDirectory");
    ASSERT_EQ(exec.size(), 1u);
    ASSERT_EQ(cwd.size(), 1u);
    // systemd makes the state folder (StateDirectory=) before the run.
    EXPECT_EQ(unitValues(unit, "StateDirectory"), std::vector<std::string>{"norvane/%i"});
    fs::create_directories(resolve(cwd[0]));
    fs::create_directories(dir / "etc");
    std::ofstream(dir / "etc" / "ci.nvs") << "fcreate(\"reading.csv\")\nfclose()\n"
                                             "writelog(\"FAIL: 13 V\")\nsetexitcode(3)\n";
    std::string env;
    for (const std::string& e : unitValues(unit, "Environment"))
        env += resolve(e) + " ";
    const Result r = shell("env " + env + resolve(exec[0]), resolve(cwd[0]));

    EXPECT_EQ(r.status, 3) << r.err;
    // A verdict is never counted as a stop.
    EXPECT_EQ(unitValues(unit, "SuccessExitStatus"), std::vector<std::string>{"129 130 143"});
    EXPECT_EQ(unitValues(unit, "Restart"), std::vector<std::string>{"no"});
    std::vector<std::string> kinds;
    std::istringstream lines(r.out);
    for (std::string l; std::getline(lines, l);) {
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(l)).object();
        kinds.push_back(o["kind"].toString().toStdString());
        if (kinds.back() == "output") {
            EXPECT_EQ(o["line"].toInt(), 3) << l;
        }
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"run", "output", "run"})) << r.out;
    const std::string report = contentOf(dir / "var" / "ci" / "report.xml");
    EXPECT_NE(report.find("<testcase classname=\"ci\" name=\"ci.nvs\""), std::string::npos)
        << report;
    EXPECT_NE(report.find("<failure type=\"status\" message=\"exit status 3\">"),
              std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "var" / "ci" / "reading.csv")) << "the script's files";
}

} // namespace
