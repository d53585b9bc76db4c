// Script-level behaviour: every `*.nvs` under this folder runs through norvane-run, and its
// standard output must equal the `.out` file beside it.
//
// The `.out` file:
//   - time stamps at the start of a line are written `HH:MM:SS` (any time matches);
//   - a line that starts with `~ ` is an ECMAScript regular expression for the whole line;
//   - leading directive lines, each starting with `#! `:
//       `#! exit N`           the expected exit status (default 0);
//       `#! env NAME=VALUE`   an environment variable for the run;
//       `#! args A B ...`     arguments after the script name (split at blanks);
//       `#! options ARG...`   runner options put before the script's name (`--check`,
//                             `--strict`), split at blanks;
//       `#! serial`           serial peers for the run, mapped through NORVANE_PORTS:
//                             com101 a pseudo-terminal whose far end echoes every byte,
//                             com102 a pseudo-terminal whose far end stays silent,
//                             com103 a plain file, com104 a path that does not exist;
//       `#! sim FILE comN [OPTIONS]`  norvane-sim playing the device file FILE (relative to
//                             the script's folder) as port comN, with the simulator's
//                             OPTIONS (`--seed 1`); several may be given.
// A `.in` file beside the script is fed to its standard input (else input is empty).
// Scripts run with their own folder as the current directory, so includes and files they
// write are found relative to it; each run has a 60 s limit.
// NORVANE_UPDATE_EXPECTED=1 rewrites each `.out` from the actual output (directives kept),
// for review with git diff.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "app/plainrun.h"
#include "engine/host.h"
#include "engine/runtime.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (c == '\n') {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

std::string maskTime(const std::string& line) {
    static const std::regex stamp("^[0-9]{2}:[0-9]{2}:[0-9]{2}");
    return std::regex_replace(line, stamp, "HH:MM:SS", std::regex_constants::format_first_only);
}

struct Result {
    int status = -1;
    std::string out;
};

Result runRunner(std::string exe, const std::vector<std::string>& args, const fs::path& cwd,
                 const std::string& input, const std::vector<std::string>& extraEnv) {
    int outPipe[2], inPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(inPipe, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, inPipe[0], 0);
    posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
    posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    env.emplace_back("QT_QPA_PLATFORM=offscreen");
    for (const auto& e : extraEnv)
        env.push_back(e);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore = args;
    std::vector<char*> argv{exe.data()};
    for (auto& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    const int rc = posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    close(outPipe[1]);
    close(inPipe[0]);
    if (rc != 0) return {};
    std::thread feeder([fd = inPipe[1], input] {
        size_t off = 0;
        while (off < input.size()) {
            const ssize_t n = write(fd, input.data() + off, input.size() - off);
            if (n <= 0) break;
            off += static_cast<size_t>(n);
        }
        close(fd);
    });
    Result r;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
    char buf[65536];
    for (;;) {
        const ssize_t n = read(outPipe[0], buf, sizeof buf);
        if (n > 0) {
            r.out.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n == 0) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            r.out += "\n<killed after 60 s>\n";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    close(outPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    feeder.join();
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

// A pseudo-terminal whose far end either echoes every byte back or stays silent, until the
// test ends. The program opens the slave's path as its port.
class PtyPeer {
  public:
    explicit PtyPeer(bool echo) {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) return;
        path_ = name;
        close(slave);
        if (echo) thread_ = std::thread([this] { echoLoop(); });
    }
    ~PtyPeer() {
        run_ = false;
        if (thread_.joinable()) thread_.join();
        if (master_ >= 0) close(master_);
    }
    const std::string& path() const { return path_; }

  private:
    void echoLoop() {
        char buf[4096];
        while (run_) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            const ssize_t n = read(master_, buf, sizeof buf);
            for (ssize_t off = 0; n > 0 && off < n && run_;) {
                const ssize_t w = write(master_, buf + off, static_cast<size_t>(n - off));
                if (w > 0)
                    off += w;
                else
                    poll(nullptr, 0, 5);
            }
        }
    }
    int master_ = -1;
    std::string path_;
    std::atomic<bool> run_{true};
    std::thread thread_;
};

// norvane-sim playing a device file behind a symbolic link, until the test ends.
class SimPeer {
  public:
    SimPeer(const fs::path& device, const std::string& port, std::vector<std::string> options) {
        static int serial = 0;
        link_ = fs::temp_directory_path() /
                ("norvane-sim-" + std::to_string(getpid()) + "-" + std::to_string(++serial));
        std::vector<std::string> args{NORVANE_SIM, "--port", port, "--link", link_.string()};
        for (auto& o : options)
            args.push_back(std::move(o));
        args.push_back(device.string());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, NORVANE_SIM, &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        // The link appears once the device is ready; a bad device file ends it instead.
        for (int i = 0; i < 500 && pid_ > 0 && !fs::is_symlink(link_); ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (fs::is_symlink(link_)) entry_ = port + "=" + link_.string();
    }
    ~SimPeer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    // The NORVANE_PORTS entry, empty when the simulator did not start.
    const std::string& entry() const { return entry_; }

  private:
    pid_t pid_ = -1;
    fs::path link_;
    std::string entry_;
};

class ScriptTest : public testing::Test {
  public:
    explicit ScriptTest(fs::path script) : script_(std::move(script)) {}
    void TestBody() override {
        fs::path expectedPath = script_;
        expectedPath.replace_extension(".out");
        ASSERT_TRUE(fs::exists(expectedPath)) << "missing " << expectedPath;
        std::vector<std::string> expected = lines(readFile(expectedPath));
        int status = 0;
        std::vector<std::string> env, directives, ports, options, args;
        std::unique_ptr<PtyPeer> echo, silent;
        std::vector<std::unique_ptr<SimPeer>> sims;
        const fs::path plain = fs::temp_directory_path() / "norvane-script-plain-file";
        while (!expected.empty() && expected.front().rfind("#! ", 0) == 0) {
            directives.push_back(expected.front());
            std::istringstream d(expected.front().substr(3));
            std::string word, rest;
            d >> word;
            std::getline(d >> std::ws, rest);
            if (word == "exit")
                status = std::stoi(rest);
            else if (word == "env")
                env.push_back(rest);
            else if (word == "args") {
                std::istringstream words(rest);
                for (std::string a; words >> a;)
                    args.push_back(a);
            } else if (word == "options") {
                std::istringstream words(rest);
                for (std::string o; words >> o;)
                    options.push_back(o);
            } else if (word == "serial") {
                echo = std::make_unique<PtyPeer>(true);
                silent = std::make_unique<PtyPeer>(false);
                std::ofstream(plain) << "not a port";
                ports.push_back("com101=" + echo->path() + ";com102=" + silent->path() +
                                ";com103=" + plain.string() + ";com104=/dev/norvane-no-such-port");
            } else if (word == "sim") {
                std::istringstream words(rest);
                std::string file, port, option;
                words >> file >> port;
                std::vector<std::string> options;
                while (words >> option)
                    options.push_back(option);
                sims.push_back(
                    std::make_unique<SimPeer>(script_.parent_path() / file, port, options));
                if (sims.back()->entry().empty())
                    ADD_FAILURE() << "norvane-sim did not start: " << expected.front();
                else
                    ports.push_back(sims.back()->entry());
            } else
                ADD_FAILURE() << "unknown directive " << expected.front();
            expected.erase(expected.begin());
        }
        if (!ports.empty()) {
            std::string joined;
            for (const auto& p : ports)
                joined += (joined.empty() ? "" : ";") + p;
            env.push_back("NORVANE_PORTS=" + joined);
        }
        fs::path inPath = script_;
        inPath.replace_extension(".in");
        // A script that norvane-run runs itself without Qt must log the same through the full
        // runner, which has it whenever a line of it is run beside a port, socket or rack.
        std::vector<std::string> runners{NORVANE_RUN};
        struct NoHost : nv::ScriptHost {
            void processEvents() override {}
            int logLineCount() const override { return 0; }
            void clearLog() override {}
            void appendLog(std::string_view) override {}
        } noHost;
        if (options.empty() && !nv::needsFullRunner(nv::Runtime(noHost), readFile(script_)))
            runners.push_back(NORVANE_RUN_FULL);
        options.push_back(script_.filename().string());
        options.insert(options.end(), args.begin(), args.end());
        for (const std::string& runner : runners)
            check(runner,
                  runRunner(runner, options, script_.parent_path(),
                            fs::exists(inPath) ? readFile(inPath) : "", env),
                  status, expected, directives, expectedPath);
    }

  private:
    void check(const std::string& runner, const Result& r, int status,
               const std::vector<std::string>& expected, const std::vector<std::string>& directives,
               const fs::path& expectedPath) {
        const std::vector<std::string> actual = lines(r.out);
        if (std::getenv("NORVANE_UPDATE_EXPECTED") && runner == NORVANE_RUN) {
            std::ofstream update(expectedPath, std::ios::binary);
            for (const auto& d : directives)
                update << d << '\n';
            for (const auto& a : actual)
                update << maskTime(a) << '\n';
        }
        EXPECT_EQ(r.status, status) << runner << "\n" << r.out;
        std::string diff;
        const size_t n = std::max(actual.size(), expected.size());
        for (size_t i = 0; i < n; ++i) {
            const std::string a = i < actual.size() ? maskTime(actual[i]) : "<missing>";
            const std::string e = i < expected.size() ? expected[i] : "<none>";
            const bool match =
                e.rfind("~ ", 0) == 0 ? std::regex_match(a, std::regex(e.substr(2))) : a == e;
            if (!match)
                diff +=
                    "line " + std::to_string(i + 1) + ":\n  got:  " + a + "\n  want: " + e + "\n";
        }
        EXPECT_TRUE(diff.empty()) << script_ << " through " << runner << "\n" << diff;
    }

    fs::path script_;
};

} // namespace

// The command line itself: help, usage errors and files that cannot be run.
TEST(Runner, CommandLine) {
    const fs::path tmp = fs::temp_directory_path();
    const struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"--help"}, 0},
        {{}, 64},
        {{"a.nvs", "b.nvs"}, 64},
        {{""}, 64},
        {{"/nonexistent/script.nvs"}, 64},
        {{tmp.string()}, 64}, // a folder
        {{"/dev/null"}, 0},   // an empty script
        // Arguments after the script are the script's.
        {{"/dev/null", "SN-1", "--", "-v"}, 0},
        {{"--version"}, 0},
        {{"--nonsense", "/dev/null"}, 64},
        {{"--port", "bogus", "/dev/null"}, 64},
        {{"--port", "com3=/dev/pts/77", "/dev/null"}, 0},
        {{"--ports", "/dev/null"}, 64},
        {{"--check", "/dev/null"}, 0},
        {{"--check"}, 64},
        {{"--check", "--build", "/dev/null", "/tmp/x"}, 64},
        {{"--password", "pw", "/dev/null"}, 64},
        {{"--strict", "--check", "/dev/null"}, 64},
        {{"--strict", "/dev/null"}, 0},
    };
    for (const auto& c : cases) {
        const Result r = runRunner(NORVANE_RUN, c.args, tmp, "", {});
        EXPECT_EQ(r.status, c.status) << (c.args.empty() ? "(none)" : c.args[0]) << "\n" << r.out;
    }
    EXPECT_NE(runRunner(NORVANE_RUN, {"--help"}, tmp, "", {}).out.find("Exit status:"),
              std::string::npos);
    EXPECT_NE(runRunner(NORVANE_RUN, {"--version"}, tmp, "", {}).out.find("GPL-3.0-or-later"),
              std::string::npos);
    // The effective map names where each entry came from; --port beats NORVANE_PORTS.
    const std::string ports = runRunner(NORVANE_RUN, {"--port", "com3=/dev/pts/77", "--ports"}, tmp,
                                        "", {"NORVANE_PORTS=com3=/dev/env3;com4=/dev/env4"})
                                  .out;
    EXPECT_NE(ports.find("com3=/dev/pts/77 (--port)\n"), std::string::npos) << ports;
    EXPECT_NE(ports.find("com4=/dev/env4 (NORVANE_PORTS)\n"), std::string::npos) << ports;
    EXPECT_NE(ports.find("com1=/dev/ttyS0 (default)\n"), std::string::npos) << ports;
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::vector<fs::path> scripts;
    for (const auto& e : fs::recursive_directory_iterator(SCRIPT_DIR))
        if (e.path().extension() == ".nvs") scripts.push_back(e.path());
    std::sort(scripts.begin(), scripts.end());
    std::vector<std::string> registered{"Runner.CommandLine"};
    for (const auto& s : scripts) {
        const std::string suite = fs::relative(s.parent_path(), SCRIPT_DIR).string();
        // CTest selects each script by a gtest filter, where '-' would start the negative
        // patterns: such names are registered with '_' instead.
        std::string name = s.stem().string();
        std::replace(name.begin(), name.end(), '-', '_');
        registered.push_back((suite == "." ? "scripts" : suite) + "." + name);
        testing::RegisterTest(suite == "." ? "scripts" : suite.c_str(), name.c_str(), nullptr,
                              nullptr, __FILE__, __LINE__,
                              [s]() -> testing::Test* { return new ScriptTest(s); });
    }
    // CTest names one test by its exact filter: a filter that names nothing is a script
    // that vanished or a name that no longer matches, never a pass.
    const std::string filter = testing::GTEST_FLAG(filter);
    if (filter.find_first_of("*?:-") == std::string::npos &&
        std::find(registered.begin(), registered.end(), filter) == registered.end()) {
        std::fprintf(stderr, "no script test named %s\n", filter.c_str());
        return 1;
    }
    return RUN_ALL_TESTS();
}
