#include "app/plainrun.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <new>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "base/ascii.h"
#include "base/files.h"
#include "base/utf8.h"
#include "cli/signalpipe.h"
#include "engine/interpreter.h"
#include "engine/runcontrol.h"
#include "engine/runtime.h"
#include "engine/text.h"

namespace nv {
namespace {

constexpr int kExitRefused = 1, kExitFatal = 2;

// What the full runner's host does without its event loop: the log on standard output, one
// output line per log line, flushed per line; debug steps released at once; the only event
// a plain run can get is a stop signal, seen through the signal pipe.
class PlainHost : public ScriptHost {
  public:
    explicit PlainHost(SignalPipe& signals) : signals_(signals) {}
    void setRunControl(RunControl* rc) { rc_ = rc; }
    void setEditorText(std::string text) { editorText_ = std::move(text); }

    void processEvents() override {
        if (SignalPipe::received() && signals_.drain() && rc_) rc_->stop();
        releaseStep();
    }
    void waitForEvents() override { waitFor(-1); }
    void waitForEventsFor(int ms) override { waitFor(ms); }
    bool passesWhenNeeded() const override { return true; }
    int logLineCount() const override { return lines_; }
    void clearLog() override { lines_ = 0; }
    void appendLog(std::string_view text) override { appendLogEntry(text, {}); }
    void appendLogEntry(std::string_view text, const LogInfo&) override {
        lines_ += forEachLogLine(text, [](std::string_view line) {
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        });
    }
    std::string editorText() const override { return editorText_; }

  private:
    bool releaseStep() {
        if (!rc_ || !rc_->current() || !rc_->current()->stepWaiting()) return false;
        rc_->current()->releaseStep();
        return true;
    }
    // Sleeps until a stop signal or `ms` milliseconds (-1: no limit), then passes once.
    void waitFor(int ms) {
        if (releaseStep()) return;
        pollfd p{signals_.readFd(), POLLIN, 0};
        ::poll(&p, 1, ms); // a signal ends it early, with EINTR or with its byte in the pipe
        processEvents();
    }

    SignalPipe& signals_;
    RunControl* rc_ = nullptr;
    int lines_ = 0;
    std::string editorText_;
};

} // namespace

bool needsFullRunner(const Runtime& rt, std::string_view text) {
    // Lines are matched in their compact form (blanks and tabs outside quotes removed), so
    // `send ("com1", x)` and `tcp_ open(...)` reach their rows: the names are looked for in
    // the text without any blank or tab, and without their parenthesis.
    std::string folded;
    folded.reserve(text.size());
    for (const char c : text)
        if (c != ' ' && c != '\t') folded += lowerAsciiChar(c);
    const auto names = [&](std::string_view name) {
        if (name.ends_with('(')) name.remove_suffix(1);
        return folded.find(lowerAscii(name)) != std::string::npos;
    };
    for (const std::string_view word : {"include", "getenv"})
        if (names(word)) return true;
    for (const Runtime::CommandRow& row : rt.commands())
        if (!row.take && names(row.keyword)) return true;
    for (const Runtime::FunctionRow& row : rt.functions())
        if (!row.handler && names(row.name)) return true;
    return false;
}

std::optional<int> runPlain(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '\0') return std::nullopt;
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] == '-' || !isValidUtf8(argv[i])) return std::nullopt;
    // Only a regular file can be read twice: a pipe or FIFO given as the script (a shell's
    // process substitution) is left untouched for the full runner, which may need to read it.
    struct stat st {};
    std::string text, why;
    if (::stat(argv[1], &st) != 0 || !S_ISREG(st.st_mode) ||
        !readFile(argv[1], text, why, {.regularOnly = true}))
        return std::nullopt;
    try {
        SignalPipe signals({SIGTERM, SIGINT, SIGHUP});
        PlainHost host(signals);
        Runtime rt(host);
        if (needsFullRunner(rt, text)) return std::nullopt;
        rt.scriptArguments.assign(argv + 1, argv + argc);
        RunControl rc(rt);
        host.setRunControl(&rc);
        host.setEditorText(text);
        const std::vector<std::string> lines = splitLines(text);
        const RunOutcome outcome = rc.run(lines);
        int status = rt.exitCode;
        if (outcome == RunOutcome::Refused) {
            for (const BlockFault& f : blockFaults(lines))
                std::fprintf(stderr, "%s:%d: error: %s\n", argv[1], f.line, f.text.c_str());
            status = kExitRefused;
        } else if (outcome == RunOutcome::Fatal) {
            status = kExitFatal;
        }
        if (const int sig = SignalPipe::received()) status = 128 + sig;
        return status;
    } catch (const std::bad_alloc&) {
        std::fputs("norvane-run: not enough memory\n", stderr);
        return kExitFatal;
    }
}

} // namespace nv
