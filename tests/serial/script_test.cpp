// Serial scripts through norvane-run against pseudo-terminals. Every scripts/*.nvs runs with
//   com101 -> a pseudo-terminal whose far end echoes every byte back,
//   com102 -> a pseudo-terminal whose far end stays silent,
//   com103 -> a plain file, com104 -> a path that does not exist,
// and its standard output must equal the .out file beside it, time stamps (HH:MM:SS at the
// start of a line) excepted. Each run is limited to 30 s.
// NORVANE_UPDATE_EXPECTED=1 rewrites the .out files from the actual output.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "pty.h"

namespace fs = std::filesystem;

namespace nv::serial::test {
namespace {

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string maskTimes(const std::string& text) {
    static const std::regex stamp("^[0-9]{2}:[0-9]{2}:[0-9]{2}", std::regex::multiline);
    return std::regex_replace(text, stamp, "HH:MM:SS");
}

// Echoes what the program sends until stopped.
class EchoPeer {
  public:
    explicit EchoPeer(Pty& pty)
        : thread_([this, &pty] {
              char buf[4096];
              while (run_) {
                  pollfd p{pty.master(), POLLIN, 0};
                  if (::poll(&p, 1, 20) <= 0) continue;
                  const ssize_t r = ::read(pty.master(), buf, sizeof buf);
                  if (r > 0) pty.write(std::string(buf, static_cast<size_t>(r)), 2000);
              }
          }) {}
    ~EchoPeer() {
        run_ = false;
        thread_.join();
    }

  private:
    std::atomic<bool> run_{true};
    std::thread thread_;
};

class SerialScript : public ::testing::TestWithParam<std::string> {};

TEST_P(SerialScript, LogMatches) {
    const fs::path script = fs::path(SERIAL_SCRIPT_DIR) / (GetParam() + ".nvs");
    Pty echo, silent;
    EchoPeer peer(echo);
    const fs::path plain = fs::temp_directory_path() / "norvane_serial_plain_file";
    std::ofstream(plain) << "not a port";

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("NORVANE_PORTS", QString::fromStdString("com101=" + echo.path() + ";com102=" +
                                                       silent.path() + ";com103=" + plain.string() +
                                                       ";com104=/dev/norvane-no-such-port"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(QString::fromStdString(script.parent_path().string()));
    p.start(NORVANE_RUN, {QString::fromStdString(script.string())});
    ASSERT_TRUE(p.waitForStarted(10000));
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(5000);
        FAIL() << "norvane-run did not finish within 30 s";
    }
    const std::string out = maskTimes(p.readAllStandardOutput().toStdString());
    // NORVANE_UPDATE_EXPECTED=1 writes the output as the new expectation, for review.
    if (qEnvironmentVariableIsSet("NORVANE_UPDATE_EXPECTED"))
        std::ofstream(fs::path(SERIAL_SCRIPT_DIR) / (GetParam() + ".out"), std::ios::binary) << out;
    EXPECT_EQ(out, readAll(fs::path(SERIAL_SCRIPT_DIR) / (GetParam() + ".out")))
        << p.readAllStandardError().toStdString();
    fs::remove(plain);
}

std::vector<std::string> scripts() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(SERIAL_SCRIPT_DIR))
        if (e.path().extension() == ".nvs") names.push_back(e.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Scripts, SerialScript, ::testing::ValuesIn(scripts()),
                         [](const auto& info) { return info.param; });

} // namespace
} // namespace nv::serial::test

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
