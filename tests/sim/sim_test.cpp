// The device simulator: device files and their mistakes, the expressions of answers, text
// and Modbus RTU devices fed bytes directly, and the norvane-sim program itself on a real
// pseudo-terminal and on TCP loopback, with the example scripts run through norvane-run
// against it.
#include "base/limits.h"
#include "sim/device.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

extern char** environ;

using namespace nv::sim;
namespace fs = std::filesystem;

namespace {

DeviceFile parsed(const std::string& text) {
    DeviceFile f;
    std::vector<std::string> errors;
    EXPECT_TRUE(parseDeviceFile(text, f, errors)) << (errors.empty() ? "" : errors[0]);
    return f;
}

std::string frame(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes)
        s += static_cast<char>(b);
    const uint16_t crc = crc16Modbus(s);
    s += static_cast<char>(crc & 0xFF);
    s += static_cast<char>(crc >> 8);
    return s;
}

std::string joined(const std::vector<Output>& out) {
    std::string s;
    for (const auto& o : out)
        s += o.bytes;
    return s;
}

// ---------------------------------------------------------------------------------------
// Device files

TEST(DeviceFile, MistakesNameTheirLine) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"on \"*IDN?\"\n  rply \"x\"\n", "line 2: unknown keyword \"rply\""},
        {"reply \"x\"\n", "line 1: reply belongs to a rule"},
        {"on /VOLT (\\d+/\n", "line 1: the pattern is not valid"},
        {"on /VOLT\n", "line 1: the pattern has no closing \"/\""},
        {"on /A (.)/\n reply \"{$2}\"\n", "line 2: $2 but the pattern has 1 group(s)"},
        {"on \"A\"\n reply \"{$1}\"\n", "line 2: $1 but the pattern has 0 group(s)"},
        {"every 100\n  set x = $1\nvar x = 0\n", "line 2: unknown variable \"x\""},
        {"var x = 1\nevery 100\n  set x = $1\n", "line 3: $1 has no request"},
        {"on \"A\"\n reply \"{volts}\"\n", "line 2: unknown variable \"volts\""},
        {"var x = 1\non \"A\"\n reply \"{x + }\"\n", "line 3: an expression ends too early"},
        {"on \"A\"\n reply \"{foo(1)}\"\n", "line 2: unknown function \"foo\""},
        {"on \"A\"\n reply \"{random(1)}\"\n", "line 2: random takes 2 argument(s), not 1"},
        {"on \"A\"\n reply \"{1:x}\"\n", "line 2: the number of decimals"},
        {"on \"A\"\n reply \"a {b\"\n", "line 2: a \"{\" is not closed"},
        {"on \"A\"\n reply \"abc\n", "line 2: a text in quotes is not closed"},
        {"on \"A\"\n reply \"\\q\"\n", "line 2: unknown escape \\q"},
        {"on \"A\" junk\n", "line 1: unexpected \"junk\""},
        {"every 5\n", "line 1: every must be a whole number from 10"},
        {"request-end XY\non \"A\"\n", "line 1: a line end is LF, CR, CRLF or ANY"},
        {"reply-end ANY\non \"A\"\n", "line 1: a line end is LF, CR, CRLF or NONE"},
        {"var 1x = 2\non \"A\"\n", "line 1: \"1x\" is not a name"},
        {"var x = 1\nvar x = 2\non \"A\"\n", "line 2: \"x\" is already declared"},
        {"var x 1\non \"A\"\n", "line 1: var NAME = VALUE: the \"=\" is missing"},
        {"register 1 x = 1\n", "line 1: register needs \"protocol modbus-rtu\" first"},
        {"protocol modbus-rtu\non \"A\"\n", "line 2: a modbus-rtu device answers from its"},
        {"protocol modbus-rtu\nregister 1 x = 1\nregister 1 y = 2\n",
         "line 3: register 1 is already declared on line 2"},
        {"protocol modbus-rtu\nregister 70000 x = 1\n", "line 2: a register address must be"},
        {"protocol modbus-rtu\naddress 0\nregister 1 x = 1\n", "line 2: a Modbus address must"},
        {"protocol modbus-rtu\nregister 1 x writable = 1\n", "line 2: unexpected \"writable\""},
        {"protocol modbus-rtu\n", "line 1: a modbus-rtu device needs at least one register"},
        {"# nothing\n\n", "line 2: the device answers nothing"},
    };
    for (const auto& c : cases) {
        DeviceFile f;
        std::vector<std::string> errors;
        EXPECT_FALSE(parseDeviceFile(c.text, f, errors)) << c.text;
        ASSERT_FALSE(errors.empty()) << c.text;
        EXPECT_EQ(errors[0].rfind(c.error, 0), 0u) << c.text << "\n  got: " << errors[0];
    }
}

TEST(DeviceFile, EveryMistakeIsReportedNotJustTheFirst) {
    DeviceFile f;
    std::vector<std::string> errors;
    EXPECT_FALSE(parseDeviceFile("on \"A\"\n rply\n reply \"{nope}\"\nbogus\n", f, errors));
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0].substr(0, 7), "line 2:");
    EXPECT_EQ(errors[1].substr(0, 7), "line 3:");
    EXPECT_EQ(errors[2].substr(0, 7), "line 4:");
}

// The parser and the evaluator recurse, so nesting is a mistake past its limit instead of
// exhausting the stack, whichever way it is nested.
TEST(DeviceFile, NestingPastItsLimitIsAMistakeOnItsLine) {
    const int limit = nv::limits::kSimExpressionDepth;
    auto repeat = [](const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += s;
        return out;
    };
    auto parens = [&](int n) { return repeat("(", n) + "1" + repeat(")", n); };
    auto sum = [&](int terms) { return "1" + repeat(" + 1", terms - 1); };
    const struct {
        std::string value;
        bool valid;
    } cases[] = {
        {parens(limit), true},
        {parens(limit + 1), false},
        {parens(5000), false},
        {repeat("-", limit) + "1", true},
        {repeat("-", 200000) + "1", false},
        {repeat("+", 200000) + "1", false},
        {repeat("abs(", 5000) + "1" + repeat(")", 5000), false},
        {sum(limit + 1), true},
        {sum(limit + 2), false},
        {sum(100000), false},
        {"-(" + sum(limit) + ")", true},
        {"-(" + sum(limit + 1) + ")", false},
    };
    for (const auto& c : cases) {
        for (const std::string& text : {"var x = 0\non \"A\"\n  set x = " + c.value + "\n",
                                        "var x = 0\non \"A\"\n  reply \"{" + c.value + "}\"\n"}) {
            DeviceFile f;
            std::vector<std::string> errors;
            const std::string what = text.substr(0, 60) + "... of " + std::to_string(text.size());
            EXPECT_EQ(parseDeviceFile(text, f, errors), c.valid) << what;
            if (c.valid) {
                Device d(std::move(f), std::nullopt);
                Device::Session s;
                d.receive(s, "A\n");
                continue;
            }
            ASSERT_EQ(errors.size(), 1u) << what;
            EXPECT_EQ(errors[0].rfind("line 3: the value is nested too deeply (more than 200 "
                                      "levels) in \"",
                                      0),
                      0u)
                << errors[0];
            EXPECT_LT(errors[0].size(), 200u) << "the value is quoted by its start only";
        }
    }
}

TEST(DeviceFile, ShippedDevicesAreValid) {
    for (const char* name : {"multimeter", "power-supply", "temperature-controller"}) {
        std::ifstream in(std::string(EXAMPLES_DIR) + "/devices/" + name + ".dev");
        std::stringstream ss;
        ss << in.rdbuf();
        DeviceFile f;
        std::vector<std::string> errors;
        EXPECT_TRUE(parseDeviceFile(ss.str(), f, errors))
            << name << ": " << (errors.empty() ? "empty file" : errors[0]);
    }
}

// ---------------------------------------------------------------------------------------
// Expressions

TEST(Expression, ValuesAndPrecedence) {
    std::map<std::string, std::string> vars{{"x", "05.10"}, {"name", "VOLT"}, {"zero", "0"}};
    std::mt19937_64 rng(1);
    const std::vector<std::string> captures{"SET 12", "12"};
    Scope scope;
    scope.variable = [&](const std::string& n) { return vars[n]; };
    scope.captures = &captures;
    scope.random = &rng;
    NameCheck names;
    names.isVariable = [&](const std::string& n) { return vars.count(n) > 0; };
    names.captureCount = 1;
    const struct {
        const char* source;
        const char* value;
    } cases[] = {
        {"1 + 2 * 3", "7"},
        {"(1 + 2) * 3", "9"},
        {"10 / 4", "2.5"},
        {"10 - 2 - 3", "5"},
        {"7 % 3", "1"},
        {"-x", "-5.1"},
        {"x", "05.10"}, // a bare variable is its text, as stored
        {"x + 0", "5.1"},
        {"$1", "12"},
        {"$0", "SET 12"},
        {"$1 * 2", "24"},
        {"\"a b\"", "a b"},
        {"name + 1", "1"}, // a text that is no number counts as 0
        {"0x10 + 1", "17"},
        {"1e3", "1000"},
        {"2 == 2.0", "1"},
        {"name == \"VOLT\"", "1"},
        {"name != \"VOLT\"", "0"},
        {"3 >= 4", "0"},
        {"if(zero, \"on\", \"off\")", "off"},
        {"if(x > 5, x * 2, 0)", "10.2"},
        {"min(3, 1, 2)", "1"},
        {"max(3, 1, 2)", "3"},
        {"abs(-2)", "2"},
        {"round(2.5)", "3"},
        {"floor(-0.5)", "-1"},
        {"0.1 + 0.2", "0.3"},
    };
    for (const auto& c : cases) {
        Expr e;
        std::string error;
        ASSERT_TRUE(parseExpression(c.source, names, e, error)) << c.source << ": " << error;
        EXPECT_EQ(evaluateText(e, scope), c.value) << c.source;
    }
    Expr e;
    std::string error;
    ASSERT_TRUE(parseExpression("1 / zero", names, e, error));
    EXPECT_THROW(evaluateText(e, scope), EvalError);
    EXPECT_EQ(formatNumber(-0.0001, 3), "0.000");
    EXPECT_EQ(formatNumber(2.5, 3), "2.500");
}

TEST(Expression, RandomStaysInItsRangeAndFollowsTheSeed) {
    const std::string file = "seed 7\nvar n = 0\non \"D\"\n reply \"{random(1, 6)}\"\n"
                             "on \"R\"\n reply \"{random(0.5, 0.6):6}\"\n";
    Device a(parsed(file), std::nullopt), b(parsed(file), std::nullopt), c(parsed(file), 8);
    Device::Session sa, sb, sc;
    std::set<std::string> faces;
    std::string all, other;
    for (int i = 0; i < 300; ++i) {
        const std::string die = joined(a.receive(sa, "D\n"));
        faces.insert(die);
        all += die;
        EXPECT_EQ(joined(b.receive(sb, "D\n")), die);
        other += joined(c.receive(sc, "D\n"));
        const double r = std::stod(joined(a.receive(sa, "R\n")));
        EXPECT_GE(r, 0.5);
        EXPECT_LE(r, 0.6);
        b.receive(sb, "R\n");
        c.receive(sc, "R\n");
    }
    EXPECT_EQ(faces, (std::set<std::string>{"1\r\n", "2\r\n", "3\r\n", "4\r\n", "5\r\n", "6\r\n"}));
    EXPECT_NE(all, other) << "another seed, other values";
}

// ---------------------------------------------------------------------------------------
// Text devices

TEST(TextDevice, RulesCapturesCountersDelaysAndLineEnds) {
    Device d(parsed("request-end CRLF\nreply-end LF\nreply-delay 5\nvar n = 0  # requests\n"
                    "on \"PING\"\n  set n = n + 1\n  reply \"PONG {n}\"\n"
                    "on /SET (\\w+) (.*)/i\n  delay 50\n  reply \"{$1}={$2}\"\n  reply \"done\"\n"
                    "on \"QUIET\"\n  set n = 0\n"
                    "otherwise # any other\n  reply \"? {$0} #\"\n"),
             std::nullopt);
    Device::Session s;
    EXPECT_TRUE(d.receive(s, "PI").empty()) << "half a request waits for its end";
    auto out = d.receive(s, "NG\r\n");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes, "PONG 1\n");
    EXPECT_EQ(out[0].delayMs, 5);
    out = d.receive(s, "set volt 1.5 V\r\nPING\r\nQUIET\r\nWHAT\r\n");
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].bytes, "volt=1.5 V\n");
    EXPECT_EQ(out[0].delayMs, 55);
    EXPECT_EQ(out[1].bytes, "done\n");
    EXPECT_EQ(out[1].delayMs, 0);
    EXPECT_EQ(out[2].bytes, "PONG 2\n");
    EXPECT_EQ(out[3].bytes, "? WHAT #\n");
    EXPECT_EQ(d.variable("n"), "0");
    // Only CR LF ends a request here: a lone LF is part of it.
    EXPECT_EQ(joined(d.receive(s, "PING\nPING\r\n")), "? PING\nPING #\n");
}

TEST(TextDevice, EitherLineEndEndsARequestByDefault) {
    Device d(parsed("reply-end NONE\nvar n = 0\non \"A\"\n set n = n + 1\n reply \"<{n}>\"\n"),
             std::nullopt);
    Device::Session s;
    EXPECT_EQ(joined(d.receive(s, "A\rA\nA\r\n\r\nA")), "<1><2><3>");
    EXPECT_EQ(joined(d.receive(s, "\n")), "<4>");
}

TEST(TextDevice, EveryBlockChangesVariablesAndMaySpeakUnasked) {
    Device d(parsed("var t = 0\nevery 100\n set t = t + 1\n reply \"T{t}\"\non \"T?\"\n"
                    " reply \"{t}\"\n"),
             std::nullopt);
    Device::Session s;
    EXPECT_EQ(joined(d.tick(0)), "T1\r\n");
    d.tick(0);
    EXPECT_EQ(joined(d.receive(s, "T?\n")), "2\r\n");
}

TEST(TextDevice, ADivisionByZeroAbandonsTheRuleWithAWarning) {
    Device d(parsed("var z = 0\non \"A\"\n reply \"one\"\n reply \"{1 / z}\"\n reply \"three\"\n"),
             std::nullopt);
    std::string warning;
    d.onWarning([&](const std::string& w) { warning = w; });
    Device::Session s;
    EXPECT_EQ(joined(d.receive(s, "A\n")), "one\r\n");
    EXPECT_EQ(warning, "line 4: division by zero");
}

// ---------------------------------------------------------------------------------------
// Modbus RTU

const char* const slave = "protocol modbus-rtu\naddress 7\nregister 0 temp readonly = -5\n"
                          "register 1 sp = 300\nregister 2 mode = 1\n";

TEST(Modbus, CrcIsTheModbusOne) {
    EXPECT_EQ(crc16Modbus("123456789"), 0x4B37); // the catalogue's check value
    EXPECT_EQ(frame({1, 3, 0, 0, 0, 4}).substr(6), "\x44\x09");
}

TEST(Modbus, ReadsWritesAndExceptions) {
    Device d(parsed(slave), std::nullopt);
    Device::Session s;
    // Register 0 holds -5: two's complement on the wire.
    EXPECT_EQ(joined(d.receive(s, frame({7, 3, 0, 0, 0, 3}))),
              frame({7, 3, 6, 0xFF, 0xFB, 0x01, 0x2C, 0x00, 0x01}));
    EXPECT_EQ(joined(d.receive(s, frame({7, 4, 0, 1, 0, 1}))), frame({7, 4, 2, 0x01, 0x2C}));
    EXPECT_EQ(joined(d.receive(s, frame({7, 6, 0, 1, 0x01, 0x90}))),
              frame({7, 6, 0, 1, 0x01, 0x90}));
    EXPECT_EQ(d.variable("sp"), "400");
    EXPECT_EQ(joined(d.receive(s, frame({7, 16, 0, 1, 0, 2, 4, 0, 10, 0, 0}))),
              frame({7, 16, 0, 1, 0, 2}));
    EXPECT_EQ(d.variable("sp"), "10");
    EXPECT_EQ(d.variable("mode"), "0");
    const struct {
        std::string request;
        int code;
    } exceptions[] = {
        {frame({7, 6, 0, 0, 0, 1}), 2},                 // read-only
        {frame({7, 3, 0, 2, 0, 2}), 2},                 // register 3 does not exist
        {frame({7, 3, 0, 0, 0, 0}), 3},                 // no registers
        {frame({7, 16, 0, 0, 0, 2, 4, 0, 1, 0, 1}), 2}, // one of them read-only
        {frame({7, 0x2B, 0x0E, 1, 0}), 1},              // a function it does not know
    };
    for (const auto& e : exceptions) {
        const int fn = static_cast<unsigned char>(e.request[1]);
        EXPECT_EQ(joined(d.receive(s, e.request)), frame({7, fn | 0x80, e.code})) << fn;
    }
    EXPECT_TRUE(s.pending.empty());
}

TEST(Modbus, FramesAreFoundByLengthAndCrc) {
    Device d(parsed(slave), std::nullopt);
    Device::Session s;
    const std::string read = frame({7, 3, 0, 1, 0, 1});
    const std::string answer = frame({7, 3, 2, 0x01, 0x2C});
    std::string bad = read;
    bad[7] = static_cast<char>(bad[7] ^ 1);
    EXPECT_TRUE(d.receive(s, bad).empty()) << "a bad CRC gets no answer";
    EXPECT_EQ(joined(d.receive(s, read)), answer) << "the good frame after it does";
    EXPECT_TRUE(s.pending.empty());
    // Two frames in one write, and one cut in two.
    EXPECT_EQ(joined(d.receive(s, read + read.substr(0, 3))), answer);
    EXPECT_EQ(joined(d.receive(s, read.substr(3))), answer);
    // A frame for another slave, and a broadcast write: no answers, the write is done.
    EXPECT_TRUE(d.receive(s, frame({8, 3, 0, 1, 0, 1})).empty());
    EXPECT_TRUE(d.receive(s, frame({0, 6, 0, 1, 0, 99})).empty());
    EXPECT_EQ(d.variable("sp"), "99");
    // Bytes that start no frame wait for more, and go after a quiet spell.
    EXPECT_TRUE(d.receive(s, read.substr(0, 5)).empty());
    d.idle(s);
    EXPECT_EQ(joined(d.receive(s, read)), frame({7, 3, 2, 0, 99}));
}

// Noise before a frame, arriving a byte at a time as on a slow line, is looked at once per
// byte: the search once started over at each byte, and this much noise kept it busy for hours.
TEST(Modbus, LongNoiseBeforeAFrameIsSearchedOnce) {
    Device d(parsed(slave), std::nullopt);
    Device::Session s;
    std::mt19937 random(17);
    for (int i = 0; i < 1000000; ++i) {
        d.receive(s, std::string(1, static_cast<char>(random())));
        ASSERT_LE(s.pending.size(), 1024u) << "noise is not kept without bound";
    }
    EXPECT_EQ(joined(d.receive(s, frame({7, 3, 0, 1, 0, 1}))), frame({7, 3, 2, 0x01, 0x2C}));
    EXPECT_TRUE(s.pending.empty());
}

// ---------------------------------------------------------------------------------------
// The program

struct Ended {
    int status = -1;
    std::string out, err;
};

// Starts a program with its output on pipes; `wait` collects it.
class Child {
  public:
    Child(std::vector<std::string> args, const std::vector<std::string>& extraEnv = {},
          const std::string& cwd = {}) {
        int o[2], e[2];
        if (pipe2(o, O_CLOEXEC) != 0 || pipe2(e, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&fa, o[1], 1);
        posix_spawn_file_actions_adddup2(&fa, e[1], 2);
        if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
        std::vector<std::string> env;
        for (char** p = environ; *p; ++p)
            env.emplace_back(*p);
        env.emplace_back("QT_QPA_PLATFORM=offscreen");
        for (const auto& x : extraEnv)
            env.push_back(x);
        std::vector<char*> argv, envp;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& x : env)
            envp.push_back(x.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, args[0].c_str(), &fa, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(o[1]);
        close(e[1]);
        out_ = o[0];
        err_ = e[0];
        fcntl(out_, F_SETFL, O_NONBLOCK);
        fcntl(err_, F_SETFL, O_NONBLOCK);
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
    }
    // Reads standard output until it holds `lines` lines (at most `ms`).
    std::string readLines(int lines, int ms = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::count(run_.out.begin(), run_.out.end(), '\n') < lines &&
               std::chrono::steady_clock::now() < end) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 20) > 0 && !drain(out_, run_.out)) break;
        }
        return run_.out;
    }
    // Reads standard error until `done` holds for what came so far (at most `ms`).
    bool waitErr(const std::function<bool(const std::string&)>& done, int ms = 30000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done(run_.err)) {
            if (std::chrono::steady_clock::now() >= end) return false;
            pollfd p{err_, POLLIN, 0};
            if (poll(&p, 1, 20) > 0 && !drain(err_, run_.err)) return done(run_.err);
        }
        return true;
    }
    const std::string& err() {
        drain(err_, run_.err);
        return run_.err;
    }
    pid_t pid() const { return pid_; }
    void signal(int sig) { kill(pid_, sig); }
    Ended wait(int ms = 120000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        bool outOpen = true, errOpen = true;
        while ((outOpen || errOpen) && std::chrono::steady_clock::now() < end) {
            pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
            poll(p, 2, 20);
            if (outOpen) outOpen = drain(out_, run_.out);
            if (errOpen) errOpen = drain(err_, run_.err);
        }
        if (outOpen || errOpen) kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        run_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return run_;
    }

  private:
    static bool drain(int fd, std::string& into) {
        char buf[4096];
        for (;;) {
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) {
                into.append(buf, static_cast<size_t>(n));
                continue;
            }
            return n < 0 && errno == EAGAIN;
        }
    }
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    Ended run_;
};

std::string device(const char* name) {
    return std::string(EXAMPLES_DIR) + "/devices/" + name + ".dev";
}

fs::path tempFile(const std::string& name, const std::string& content) {
    const fs::path p =
        fs::temp_directory_path() / ("norvane-sim-test-" + std::to_string(getpid()) + "-" + name);
    std::ofstream(p, std::ios::binary) << content;
    return p;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

int connectTo(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
}

// Starts the simulator on TCP and returns the port it serves.
uint16_t tcpPortOf(Child& sim) {
    const std::string out = sim.readLines(1);
    std::smatch m;
    EXPECT_TRUE(std::regex_match(out, m, std::regex("127\\.0\\.0\\.1:([0-9]+)\n"))) << out;
    return m.empty() ? 0 : static_cast<uint16_t>(std::stoi(m[1].str()));
}

// Sends `request` over `fd` and reads until `n` bytes came (at most 5 s).
std::string exchange(int fd, const std::string& request, size_t n) {
    if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
        return {};
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    char buf[256];
    while (got.size() < n && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        const ssize_t r = read(fd, buf, sizeof buf);
        if (r > 0) got.append(buf, static_cast<size_t>(r));
    }
    return got;
}

TEST(Program, CommandLineAndDeviceFileErrors) {
    const fs::path bad = tempFile("bad.dev", "var x = 1\non \"A\"\n  reply \"{y}\"\n");
    const fs::path deep = tempFile("deep.dev", "on \"A\"\n  reply \"{" + std::string(5000, '(') +
                                                   "1" + std::string(5000, ')') + "}\"\n");
    const struct {
        std::vector<std::string> args;
        int status;
        const char* text; // in standard output or error
    } cases[] = {
        {{"--help"}, 0, "Usage: norvane-sim"},
        {{}, 64, "give exactly one device file"},
        {{"--bogus", device("multimeter")}, 64, "Unknown option"},
        {{"--port", "com0", device("multimeter")}, 64, "--port wants com1 to com256"},
        {{"--tcp", "70000", device("multimeter")}, 64, "--tcp wants a port"},
        {{"--seed", "x", device("multimeter")}, 64, "--seed wants a whole number"},
        {{"/nonexistent/device.dev"}, 64, "/nonexistent/device.dev: No such file or directory"},
        {{bad.string()}, 1, "bad.dev: line 3: unknown variable \"y\""},
        {{"--check", device("power-supply")}, 0, "no mistakes found"},
        {{"--check", deep.string()}, 1, "deep.dev: line 2: the value is nested too deeply"},
        {{deep.string()}, 1, "deep.dev: line 2: the value is nested too deeply"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{NORVANE_SIM};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Ended r = Child(args).wait();
        EXPECT_EQ(r.status, c.status) << (c.args.empty() ? "" : c.args[0]) << "\n" << r.err;
        EXPECT_NE((r.out + r.err).find(c.text), std::string::npos)
            << "want: " << c.text << "\ngot: " << r.out << r.err;
    }
    fs::remove(bad);
    fs::remove(deep);
}

TEST(Program, PlaysOnAPseudoTerminalBehindALinkUntilSigterm) {
    const fs::path link =
        fs::temp_directory_path() / ("norvane-sim-test-link-" + std::to_string(getpid()));
    Child sim({NORVANE_SIM, "--port", "com42", "--link", link.string(), device("multimeter")});
    const std::string out = sim.readLines(2);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(out, m, std::regex("(/dev/pts/[0-9]+)\ncom42=(.*)\n"))) << out;
    EXPECT_EQ(m[2].str(), link.string());
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link).string(), m[1].str());

    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    EXPECT_EQ(exchange(fd, "*IDN?\r\n", 30), "NORVANE,DM-3058,SIM0042,1.2.0\n");
    close(fd);
    // A second program after the first closed the port finds the device as it was.
    const int again = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(again, 0);
    tcgetattr(again, &t);
    cfmakeraw(&t);
    tcsetattr(again, TCSANOW, &t);
    EXPECT_EQ(exchange(again, "CONF:RES\nCONF?\n", 4), "RES\n");
    close(again);

    sim.signal(SIGTERM);
    const Ended r = sim.wait();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "the link is removed at the end";
}

TEST(Program, ReplacesAStaleLinkButNeverAFile) {
    const fs::path link =
        fs::temp_directory_path() / ("norvane-sim-test-stale-" + std::to_string(getpid()));
    fs::remove(link);
    fs::create_symlink("/dev/pts/nonexistent", link);
    {
        Child sim({NORVANE_SIM, "--link", link.string(), device("multimeter")});
        EXPECT_NE(sim.readLines(2).find("com1=" + link.string()), std::string::npos);
        sim.signal(SIGINT);
        EXPECT_EQ(sim.wait().status, 0);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    std::ofstream(link) << "somebody's file";
    const Ended r = Child({NORVANE_SIM, "--link", link.string(), device("multimeter")}).wait();
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("exists and is not a symbolic link"), std::string::npos) << r.err;
    fs::remove(link);
}

TEST(Program, ServesTcpClientsOnLoopback) {
    Child sim({NORVANE_SIM, "--tcp", "0", "--seed", "3", device("power-supply")});
    const uint16_t port = tcpPortOf(sim);
    ASSERT_NE(port, 0);
    const int one = connectTo(port), two = connectTo(port);
    EXPECT_EQ(exchange(one, "VOLT 12.5\r\nVOLT?\r\n", 7), "12.50\r\n");
    // Clients share the device: the second sees what the first set.
    EXPECT_EQ(exchange(two, "VOLT?\n", 7), "12.50\r\n");
    // One leaving, even with an answer still on its way, leaves the other served.
    EXPECT_EQ(write(one, "MEAS:VOLT?\n", 11), 11);
    close(one);
    EXPECT_EQ(exchange(two, "VOLT 3\nVOLT?\n", 6), "3.00\r\n");
    // Ctrl+C with a client still connected and asking ends the simulator cleanly (under the
    // sanitizers a client that outlived the simulator's list of clients showed here).
    EXPECT_EQ(write(two, "VOLT?\n", 6), 6);
    sim.signal(SIGINT);
    const Ended r = sim.wait();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
    close(two);
}

// A client that sends without reading its answers is held back: its requests wait in the
// system's buffers (its own sends block) instead of its answers in the simulator's memory,
// others are served meanwhile, and once it reads, every request is answered.
TEST(Program, AClientThatDoesNotReadIsHeldBack) {
    const std::string request = std::string(63, 'Q') + "\n";
    const std::string answer = std::string(62, 'a') + "\r\n";
    const fs::path dev = tempFile("echo.dev", "on \"" + request.substr(0, 63) + "\"\n  reply \"" +
                                                  answer.substr(0, 62) + "\"\n");
    Child sim({NORVANE_SIM, "--tcp", "0", dev.string()});
    const uint16_t port = tcpPortOf(sim);
    ASSERT_NE(port, 0);
    const int greedy = connectTo(port), other = connectTo(port);
    fcntl(greedy, F_SETFL, O_NONBLOCK);
    std::string requests;
    for (int i = 0; i < 1024; ++i)
        requests += request;
    const std::string held = "does not read its answers";
    // Far more than the simulator keeps for a client and the system's buffers hold together.
    const size_t enough = size_t(64) << 20;
    size_t sent = 0;
    while (sim.err().find(held) == std::string::npos && sent < enough) {
        const ssize_t w = write(greedy, requests.data() + sent % requests.size(),
                                requests.size() - sent % requests.size());
        if (w > 0) {
            sent += static_cast<size_t>(w);
        } else {
            pollfd p{greedy, POLLOUT, 0};
            poll(&p, 1, 20);
        }
    }
    ASSERT_NE(sim.err().find(held), std::string::npos)
        << sent << " bytes of requests went in without the client being held back\n"
        << sim.err();
    EXPECT_EQ(exchange(other, request, answer.size()), answer);
    // Told once a spell: the system's buffers for the connection may still grow while the
    // client is held (the kernel tunes them), which lets the queue drain and a new spell
    // begin, so a few lines are sound; a line per request or per read is not.
    EXPECT_GE(count(sim.err(), held), 1u);
    EXPECT_LE(count(sim.err(), held), 4u) << "told once for each spell\n" << sim.err();

    std::string got;
    const size_t want = sent / request.size() * answer.size();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::vector<char> buf(1 << 16);
    while (got.size() < want && std::chrono::steady_clock::now() < end) {
        pollfd p{greedy, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        const ssize_t r = read(greedy, buf.data(), buf.size());
        if (r > 0) got.append(buf.data(), static_cast<size_t>(r));
    }
    ASSERT_EQ(got.size(), want) << "every whole request is answered once the client reads";
    for (size_t at = 0; at < got.size(); at += answer.size())
        if (got.compare(at, answer.size(), answer) != 0) FAIL() << "answer at byte " << at;
    close(greedy);
    close(other);
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait().status, 0);
    fs::remove(dev);
}

// A pseudo-terminal nobody reads keeps the newest answers and drops the oldest, telling so
// once for each spell.
TEST(Program, APseudoTerminalNobodyReadsDropsItsOldestAnswersAndSaysSo) {
    std::string text = "every 10\n";
    for (int i = 0; i < 8; ++i)
        text += "  reply \"" + std::string(1000, 'x') + "\"\n";
    const fs::path dev = tempFile("chatty.dev", text);
    Child sim({NORVANE_SIM, dev.string()});
    const std::string out = sim.readLines(2);
    const std::string path = out.substr(0, out.find('\n'));
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << out;
    const std::string dropped = ": nobody reads the answers; the oldest unsent are dropped";
    auto dropSpells = [&](size_t n) {
        return [&dropped, n](const std::string& err) { return count(err, dropped) >= n; };
    };
    ASSERT_TRUE(sim.waitErr(dropSpells(1))) << sim.err();
    EXPECT_NE(sim.err().find(path + dropped), std::string::npos) << sim.err();

    // A reader catches up: the spell ends without another word.
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    size_t read = 0;
    char buf[4096];
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (read < (size_t(3) << 20) && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        const ssize_t r = ::read(fd, buf, sizeof buf);
        if (r > 0) read += static_cast<size_t>(r);
    }
    EXPECT_EQ(count(sim.err(), dropped), 1u) << sim.err();
    close(fd);
    // Nobody reads again: a new spell, told again.
    EXPECT_TRUE(sim.waitErr(dropSpells(2))) << sim.err();
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait().status, 0);
    fs::remove(dev);
}

// At the limit of open files the simulator stops taking clients until one leaves, instead of
// trying again and again; the clients it has are served, and the one waiting is taken then.
TEST(Program, AtTheLimitOfOpenFilesNewClientsWaitForOneToLeave) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer holds descriptors of its own, so the limit is not the test's";
#endif
    Child sim({"/bin/sh", "-c", "ulimit -n 32 && exec \"$0\" \"$@\"", NORVANE_SIM, "--tcp", "0",
               device("multimeter")});
    const uint16_t port = tcpPortOf(sim);
    ASSERT_NE(port, 0);
    const std::string full = "cannot take a new client";
    std::vector<int> clients;
    while (clients.size() < 64 && sim.err().find(full) == std::string::npos) {
        clients.push_back(connectTo(port));
        const size_t n = clients.size();
        if (!sim.waitErr([&](const std::string& err) {
                return count(err, " connected\n") == n || err.find(full) != std::string::npos;
            }))
            break;
    }
    ASSERT_NE(sim.err().find(full), std::string::npos) << clients.size() << "\n" << sim.err();
    // A client more waits, not taken (the limit may have been told before the last one came).
    const int waiting = connectTo(port);
    EXPECT_EQ(write(waiting, "*IDN?\n", 6), 6);
    const std::string idn = "NORVANE,DM-3058,SIM0042,1.2.0\n";
    EXPECT_EQ(exchange(clients.front(), "*IDN?\n", idn.size()), idn);
    const size_t taken = count(sim.err(), " connected\n");
    ASSERT_LT(taken, clients.size() + 1);
    ASSERT_GT(taken, clients.size() - taken + 1);
    // As many leave as wait: then the last one is taken too.
    const size_t leaving = clients.size() + 1 - taken;
    for (size_t i = 1; i <= leaving; ++i)
        close(clients[i]);
    EXPECT_EQ(exchange(waiting, "", idn.size()), idn);
    EXPECT_EQ(count(sim.err(), " connected\n"), clients.size() + 1);
    EXPECT_EQ(count(sim.err(), full), 1u) << sim.err();
    close(waiting);
    for (size_t i = leaving + 1; i < clients.size(); ++i)
        close(clients[i]);
    close(clients.front());
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait().status, 0);
}

// ---------------------------------------------------------------------------------------
// The examples, each against its simulated instrument, as the one-command launcher runs them.

struct Example {
    const char* script;
    const char* device;
    const char* port;
    std::vector<const char*> expected; // regular expressions that must match a log line
};

Ended runExample(const Example& e) {
    const fs::path link = fs::temp_directory_path() / ("norvane-sim-test-" + std::string(e.port) +
                                                       "-" + std::to_string(getpid()));
    Child sim({NORVANE_SIM, "--port", e.port, "--link", link.string(), device(e.device)});
    const std::string out = sim.readLines(2);
    EXPECT_NE(out.find(std::string(e.port) + "="), std::string::npos) << out;
    Child run({NORVANE_RUN, std::string(EXAMPLES_DIR) + "/" + e.script + ".nvs"},
              {"NORVANE_PORTS=" + std::string(e.port) + "=" + link.string()}, EXAMPLES_BUILD_DIR);
    const Ended r = run.wait();
    sim.signal(SIGTERM);
    sim.wait();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(": Script finished"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("No answer"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Cannot open"), std::string::npos) << r.out;
    for (const char* pattern : e.expected) {
        const std::regex re(pattern);
        bool found = false;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);)
            found = found || std::regex_search(line, re);
        EXPECT_TRUE(found) << "no log line matches " << pattern << "\n" << r.out;
    }
    return r;
}

TEST(Examples, MultimeterReadingsLoggedToCsv) {
    const fs::path csv = fs::path(EXAMPLES_BUILD_DIR) / "dmm-readings.csv";
    fs::remove(csv);
    runExample({"dmm-csv",
                "multimeter",
                "com11",
                {"Meter: NORVANE,DM-3058", "Sample 10: 5\\.00[0-9]+ V  0\\.123[0-9]+ A",
                 "Meter errors: 0,\"No error\"", "10 samples written to dmm-readings.csv"}});
    std::ifstream in(csv);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "sample,time,volts,amps,watts");
    int rows = 0;
    while (std::getline(in, line)) {
        ++rows;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(
            line, m,
            std::regex("([0-9]+),[0-9]{2}:[0-9]{2}:[0-9]{2},([0-9.]+),([0-9.]+),([0-9.]+)")))
            << line;
        EXPECT_EQ(std::stoi(m[1]), rows);
        EXPECT_NEAR(std::stod(m[2]), 5.0012, 0.0005);
        EXPECT_NEAR(std::stod(m[3]), 0.1234, 0.0001);
        EXPECT_NEAR(std::stod(m[4]), std::stod(m[2]) * std::stod(m[3]), 1e-6);
    }
    EXPECT_EQ(rows, 10);
}

TEST(Examples, PowerSupplyRampWithItsRack) {
    runExample({"psu-ramp",
                "power-supply",
                "com12",
                {"Supply: NORVANE,PS-3005", "Rack is open", "Set 1 V: (0\\.99[0-9]|1\\.00[0-9]) V",
                 "Set 12 V: (11\\.99[0-9]|12\\.00[0-9]) V  1\\.[12][0-9]+ A",
                 "Load 5 ohm: CC mode, 7\\.[45][0-9]+ V  1\\.[45][0-9]+ A", "Output off: 0\\.0"}});
}

TEST(Examples, ModbusPollWithTheCrcCheckedInTheScript) {
    runExample(
        {"modbus-poll",
         "temperature-controller",
         "com13",
         {"CRC by hand 44 09, by the crc16 function 44 09",
          "Temperature [0-9.]+ C, setpoint 25 C, heater [0-9]+ %, run 1",
          "Setpoint 40\\.0 C written", "Poll 10: [0-9.]+ C, heater [0-9]+ %",
          "Bytes answered to a frame with a wrong CRC: 0", "Reading register 9: exception 2"}});
}

// The one command a user runs: the simulator and the example start together.
TEST(Examples, LauncherStartsAndEndsTheSimulator) {
    const std::string launcher = std::string(EXAMPLES_DIR) + "/../scripts/run-example.sh";
    const std::vector<std::string> env{"NORVANE_BUILD=" +
                                       fs::path(NORVANE_RUN).parent_path().string()};
    const Ended r = Child({"/bin/bash", launcher, "dmm-csv", "--headless"}, env).wait();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("10 samples written to dmm-readings.csv"), std::string::npos) << r.out;
    // Again at once: nothing of the first run stands in the way.
    const Ended again = Child({"/bin/bash", launcher, "dmm-csv", "--headless"}, env).wait();
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_EQ(Child({"/bin/bash", launcher, "no-such-example"}, env).wait().status, 64);
}

} // namespace
