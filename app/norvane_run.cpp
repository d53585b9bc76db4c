// norvane-run-full: runs one script file exactly as the Run command would, with no window, and
// writes every log line to standard output as it is added. norvane-run hands it every command
// line that it does not run itself without Qt (app/plainrun.h); users name norvane-run.
#include <QApplication>
#include <QFile>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/display.h"
#include "app/junitreport.h"
#include "app/runner_host.h"
#include "cli/stopsignals.h"
#include "base/files.h"
#include "builder/buildcommand.h"
#include "cli/commandline.h"
#include "engine/checker.h"
#include "engine/runcontrol.h"
#include "engine/runtime.h"
#include "engine/text.h"
#include "serial/portmap.h"
#include "serial/serialports.h"
#include "serial/trafficlog.h"
#include "wiring/subsystems.h"

namespace {

constexpr int kExitFinished = 0, kExitRefused = 1, kExitFatal = 2, kExitUsage = 64,
              kExitReportFailed = 74;

// How a run reports itself: --junit, --log-format, --timestamps.
struct Reporting {
    std::string junit;
    nv::LogFormat format = nv::LogFormat::Text;
    bool milliseconds = false;
    std::string serialLog; // every port's traffic, as it happens
};

const char* kHelp =
    "Usage: norvane-run [--port comN=PATH]... [--strict] [REPORT OPTIONS] SCRIPT [ARGUMENT]...\n"
    "       norvane-run --check [--password P] SCRIPT\n"
    "       norvane-run --build SCRIPT OUTPUT\n"
    "       norvane-run [--port comN=PATH]... --ports\n"
    "\n"
    "Runs one Norvane script without a window, exactly as the Run command of the editor\n"
    "would: the blocks are validated, the start line is logged, the script runs, and the\n"
    "finish line is logged. Every line that the log pane would receive is written to\n"
    "standard output as it is added.\n"
    "\n"
    "  - In debug mode (debugon) each \"Next line to execute: \" line is written and the\n"
    "    line is released at once.\n"
    "  - inputbox reads its answer as one line from standard input; at the end of input\n"
    "    it takes the default.\n"
    "  - setport shows no dialog: it stores nothing, as if the dialog were closed.\n"
    "  - The ARGUMENTs after the script reach it through getarg(1), getarg(2), ...;\n"
    "    getarg(0) is SCRIPT as given. Put \"--\" before arguments that begin with \"-\".\n"
    "  - Serial ports are mapped to devices by, from the strongest: --port options,\n"
    "    NORVANE_PORTS (for example NORVANE_PORTS='com1=/dev/ttyUSB0;com2=/dev/pts/5'),\n"
    "    the [ports] section of the user's norvane.ini, that of /etc/norvane/norvane.ini,\n"
    "    then the default map.\n"
    "\n"
    "Options:\n"
    "  --port comN=PATH  map port comN to PATH for this run (repeatable)\n"
    "  --ports           print the effective port map, each entry with where it came\n"
    "                    from, and end\n"
    "  --build           build SCRIPT into the program OUTPUT instead of running it\n"
    "  --junit FILE      write a JUnit XML report of the run to FILE when it ends\n"
    "  --log-format F    text (the default) or json: one JSON object a log line, with\n"
    "                    time, line, kind and text\n"
    "  --timestamps ms   time stamps in the log with milliseconds (default: seconds)\n"
    "  --serial-log FILE write every serial port's traffic to FILE as it happens: ISO\n"
    "                    time with milliseconds, port, (S) or (R), hex and text\n"
    "  --check           check SCRIPT without running it: print FILE:LINE: kind:\n"
    "                    explanation for each line that will do nothing or not what it\n"
    "                    looks like (see docs/norvane-run.md for the kinds)\n"
    "  --password P      with --check: also check the included files whose password is P\n"
    "                    (the others are listed as not checked)\n"
    "  --strict          a line that is no statement, command, procedure call or\n"
    "                    assignment, a command line that fits none of its forms, or a\n"
    "                    condition that cannot be evaluated or compares nothing ends the\n"
    "                    run as a fatal error naming the line (status 2)\n"
    "  -h, --help        this text\n"
    "  --version         the version and the licence\n"
    "\n"
    "With --build, the script is not run: it is built into a standalone program OUTPUT\n"
    "exactly as Script > Build in the window does, from the norvane program beside this\n"
    "one, with the same progress lines on standard output. OUTPUT is made executable.\n"
    "A built program is a copy of norvane and needs the same libraries where it runs.\n"
    "\n"
    "Exit status:\n"
    "     0  the run finished (also after a script error, which never ends a run)\n"
    "   N>0  the run finished after setexitcode(N) (scripts use 3 to 63 for verdicts)\n"
    "     1  block validation refused the script; nothing ran\n"
    "     2  a fatal error ended the run (also when memory ran out)\n"
    "    64  bad command line, or the script file cannot be read (also when it is\n"
    "        larger than the memory the program may use)\n"
    "    74  the run finished with 0 but the --junit report could not be written\n"
    " 128+N  signal N ended the run (SIGTERM 143, SIGINT 130, SIGHUP 129): the run\n"
    "        stopped as by the Stop command and finished; a second signal ends at once\n"
    "The statuses 1, 2 and 128+N win over the script's own. When the blocks are\n"
    "refused, each fault is also written to standard error as FILE:LINE: message.\n"
    "With --build: 0 built, 1 error building or OUTPUT cannot be written, 64 bad\n"
    "command line or unreadable script.\n"
    "With --check: 0 nothing found, 1 findings printed, 64 bad command line or\n"
    "unreadable script.\n";

// What both modes need before the application object exists.
void prepareEnvironment() {
    // No display: the windows that subsystems create (terminal windows, the rack) live on
    // the offscreen platform. A display that is named but does not answer (a dead ssh
    // forward, a cron job or CI runner that inherited DISPLAY) would make Qt abort: the run
    // goes on offscreen and says so.
    const nv::DisplayCheck display = nv::checkDisplay();
    if (display.needed && !display.reachable) {
        if (display.asked)
            std::fprintf(stderr,
                         "norvane-run: cannot reach the display (%s); running on the offscreen "
                         "platform\n",
                         display.named.c_str());
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    // Qt wants a private runtime folder and complains on standard error without one; a cron
    // job or CI step usually has none.
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        const std::string dir = "/tmp/norvane-runtime-" + std::to_string(getuid());
        mkdir(dir.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    }
    // The script passes over the event queue once per line; Qt's own event dispatcher does
    // that in about half the time of the GLib one, and the runner needs nothing from GLib.
    setenv("QT_NO_GLIB", "1", 0);
}

// Qt's own teardown at exit (the application object, which loads the font configuration
// again only to drop it) costs a short run more than the run itself, and nothing a script
// leaves behind depends on it: the subsystems are torn down first (ports drained and
// closed, sockets and files closed), and finish() flushes standard output and error before
// the program leaves without it. The sanitizer builds keep the full teardown, so that their
// leak checks still see every object freed.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kQtTeardown = true;
#else
constexpr bool kQtTeardown = false;
#endif

struct ApplicationTeardown {
    void operator()(QApplication* app) const {
        if (kQtTeardown) delete app;
    }
};

// The status the program ends with, after everything it wrote is flushed.
int finish(int status) {
    if (kQtTeardown) return status;
    std::fflush(nullptr);
    _exit(status);
}

// The application with the engine and every subsystem, as the window would have them, but
// no window shown. The environment is prepared before the application object exists; the
// members after it are destroyed before it, as the program's teardown wants.
struct Headless {
    struct Environment {
        Environment() { prepareEnvironment(); }
    } environment;
    std::unique_ptr<QApplication, ApplicationTeardown> app;
    nv::RunnerHost host;
    nv::Runtime rt{host};
    nv::Subsystems subsystems{rt, nullptr};

    Headless(int& argc, char** argv, const std::string& text) : app(new QApplication(argc, argv)) {
        QApplication::setApplicationName("norvane");
        host.setEditorText(text);
    }
};

// The refused blocks, compiler style, for editors and CI logs that jump to FILE:LINE.
void printBlockFaults(const std::string& script, const std::vector<std::string>& lines) {
    for (const nv::BlockFault& f : nv::blockFaults(lines))
        std::fprintf(stderr, "%s:%d: error: %s\n", script.c_str(), f.line, f.text.c_str());
}

// Writes the --junit report; the status to end with (kExitReportFailed when a run that would
// have passed has no report to show for it).
int writeReport(const Reporting& reporting, nv::JunitRun run, const nv::RunnerHost& host,
                const std::vector<std::string>& lines) {
    if (run.status >= 128) {
        run.type = "signal";
        run.failure = "stopped by signal " + std::to_string(run.status - 128) + " (" +
                      strsignal(run.status - 128) + ")";
    } else if (run.status == kExitRefused) {
        run.type = "refused";
        for (const nv::BlockFault& f : nv::blockFaults(lines))
            run.failure +=
                (run.failure.empty() ? "" : "; ") + f.text + " on line " + std::to_string(f.line);
    } else if (run.status == kExitFatal) {
        run.type = "fatal";
        const std::string& fatal = host.fatalText();
        const size_t at = fatal.find("Fatal error: ");
        run.failure = at == std::string::npos ? fatal : fatal.substr(at);
    } else if (run.status != 0) {
        run.type = "status";
        run.failure = "exit status " + std::to_string(run.status);
    }
    run.log = host.keptLog();
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0) run.hostname = name;
    std::string why;
    if (nv::writeJunitReport(reporting.junit, run, why)) return run.status;
    std::fprintf(stderr, "norvane-run: cannot write the report %s: %s\n", reporting.junit.c_str(),
                 why.c_str());
    return run.status == kExitFinished ? kExitReportFailed : run.status;
}

int runScript(int& argc, char** argv, const std::string& script, const std::string& text,
              const Reporting& reporting, std::vector<std::string> arguments,
              bool strict) {
    Headless h(argc, argv, text);
    h.rt.scriptArguments = std::move(arguments);
    nv::RunControl rc(h.rt);
    rc.options.strict = strict;
    h.host.setRunControl(&rc);
    h.host.setFormat(reporting.format);
    h.rt.logMilliseconds = reporting.milliseconds;
    if (!reporting.junit.empty()) h.host.keepLog();
    // The serial trace file is made before anything runs: a bench asked to keep its traffic
    // does not run without it.
    nv::serial::TrafficLog traffic;
    if (!reporting.serialLog.empty()) {
        std::string why;
        if (!traffic.open(reporting.serialLog, why)) {
            std::fprintf(stderr, "norvane-run: cannot write the serial log %s\n", why.c_str());
            return kExitUsage;
        }
        traffic.onError = [&h](const std::string& message) { h.rt.logMessage(message); };
        h.subsystems.serial->traffic = [&traffic](std::string_view port, std::string_view tag,
                                                  std::string_view bytes) {
            traffic.write(port, tag, bytes);
        };
    }

    // SIGTERM, SIGINT and SIGHUP stop the run as the Stop command does; the status then
    // tells that a signal ended it, so that a time-out is never read as success.
    nv::StopSignals stopSignals({SIGTERM, SIGINT, SIGHUP}, [&rc] { rc.stop(); });
    const std::vector<std::string> lines = nv::splitLines(text);
    nv::JunitRun report;
    report.script = script;
    report.start = std::time(nullptr);
    const auto started = std::chrono::steady_clock::now();
    const nv::RunOutcome outcome = rc.run(lines);
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    int status = h.rt.exitCode;
    if (outcome == nv::RunOutcome::Refused) {
        printBlockFaults(script, lines);
        status = kExitRefused;
    } else if (outcome == nv::RunOutcome::Fatal) {
        status = kExitFatal;
    }
    if (const int sig = nv::StopSignals::received()) status = 128 + sig;
    if (reporting.junit.empty()) return status;
    report.status = status;
    return writeReport(reporting, std::move(report), h.host, lines);
}

// Script > Build without the window. The rack window exists (offscreen without a display),
// since each rack is proved by loading it there.
int buildProgram(int& argc, char** argv, const std::string& script, const std::string& text,
                 const std::string& output) {
    Headless h(argc, argv, text);
    const std::string source = nv::builder::programBesideRunner();
    const nv::builder::Outcome out =
        nv::builder::build(h.rt, *h.subsystems.rack, source, nv::splitLines(text));
    std::fflush(stdout);
    if (!out.failure.empty()) {
        std::fprintf(stderr, "norvane-run: %s\n", out.failure.c_str());
        return kExitRefused;
    }
    if (!out.built) return kExitRefused;
    std::string error;
    std::vector<std::string> inputs = out.inputs;
    inputs.push_back(script);
    if (!nv::builder::writeProgram(output, out.image, source, inputs, error)) {
        std::fprintf(stderr, "norvane-run: cannot write %s: %s\n", output.c_str(), error.c_str());
        return kExitRefused;
    }
    return kExitFinished;
}

// The findings, one a line, read with the tables of every subsystem as a run has them.
int checkScript(int& argc, char** argv, const std::string& script, const std::string& text,
                const nv::CheckOptions& options) {
    Headless h(argc, argv, text);
    const std::vector<nv::Finding> findings = nv::checkScript(h.rt, nv::splitLines(text), options);
    for (const nv::Finding& f : findings)
        std::printf("%s\n", nv::formatFinding(f, script).c_str());
    return findings.empty() ? kExitFinished : kExitRefused;
}

// The effective port map, one mapped port a line with where its entry came from.
int printPorts() {
    const std::string program = nv::builder::runningProgram();
    const nv::serial::PortMap map = nv::serial::PortMap::load(
        nv::serial::PortMap::standardSources(program.substr(0, program.rfind('/'))));
    for (int n = 1; n <= nv::serial::kMaxPort; ++n)
        if (!map.path(n).empty())
            std::printf("com%d=%s (%s)\n", n, map.path(n).c_str(), map.source(n).c_str());
    return kExitFinished;
}

} // namespace

int main(int argc, char** argv) {
    nv::cli::CommandLine line("norvane-run", kHelp);
    QCommandLineParser& parser = line.parser();
    const QCommandLineOption buildOption(QStringLiteral("build"));
    const QCommandLineOption portOption(QStringLiteral("port"), QString(), QStringLiteral("entry"));
    const QCommandLineOption portsOption(QStringLiteral("ports"));
    const QCommandLineOption junitOption(QStringLiteral("junit"), QString(),
                                         QStringLiteral("file"));
    const QCommandLineOption formatOption(QStringLiteral("log-format"), QString(),
                                          QStringLiteral("format"));
    const QCommandLineOption stampOption(QStringLiteral("timestamps"), QString(),
                                         QStringLiteral("unit"));
    const QCommandLineOption serialLogOption(QStringLiteral("serial-log"), QString(),
                                             QStringLiteral("file"));
    const QCommandLineOption checkOption(QStringLiteral("check"));
    const QCommandLineOption passwordOption(QStringLiteral("password"), QString(),
                                            QStringLiteral("password"));
    const QCommandLineOption strictOption(QStringLiteral("strict"));
    parser.addOptions({buildOption, portOption, portsOption, junitOption, formatOption, stampOption,
                       checkOption, passwordOption, strictOption, serialLogOption});
    if (const auto status = line.parse(nv::cli::arguments(argc, argv))) return *status;
    Reporting reporting;
    reporting.junit = QFile::encodeName(parser.value(junitOption)).toStdString();
    if (parser.isSet(junitOption) && reporting.junit.empty())
        return line.usageError("--junit needs a file name");
    if (const QString f = parser.value(formatOption); f == QLatin1String("json"))
        reporting.format = nv::LogFormat::Json;
    else if (parser.isSet(formatOption) && f != QLatin1String("text"))
        return line.usageError("--log-format is text or json, not \"" + f.toStdString() + "\"");
    if (const QString u = parser.value(stampOption); u == QLatin1String("ms"))
        reporting.milliseconds = true;
    else if (parser.isSet(stampOption) && u != QLatin1String("s"))
        return line.usageError("--timestamps is ms or s, not \"" + u.toStdString() + "\"");
    reporting.serialLog = QFile::encodeName(parser.value(serialLogOption)).toStdString();
    if (parser.isSet(serialLogOption) && reporting.serialLog.empty())
        return line.usageError("--serial-log needs a file name");
    const bool reports = parser.isSet(junitOption) || parser.isSet(formatOption) ||
                         parser.isSet(stampOption) || parser.isSet(serialLogOption);
    std::vector<std::string> entries;
    for (const QString& e : parser.values(portOption)) {
        nv::serial::PortMap check;
        const std::string entry = QFile::encodeName(e).toStdString();
        if (!check.apply(entry, '\0').empty() || entry.find('=') == std::string::npos)
            return line.usageError("--port wants comN=PATH, not \"" + entry + "\"");
        entries.push_back(entry);
    }
    nv::serial::PortMap::setCommandLine(std::move(entries));
    const QStringList args = parser.positionalArguments();
    if (parser.isSet(portsOption)) {
        if (!args.isEmpty()) return line.usageError("--ports takes no script");
        if (reports) return line.usageError("--junit, --log-format, --timestamps and --serial-log need a run");
        return printPorts();
    }
    const bool build = parser.isSet(buildOption), check = parser.isSet(checkOption);
    if ((build || check) && reports)
        return line.usageError("--junit, --log-format, --timestamps and --serial-log need a run");
    if (check && build) return line.usageError("--check and --build do not go together");
    if (parser.isSet(passwordOption) && !check) return line.usageError("--password needs --check");
    if (parser.isSet(strictOption) && (check || build))
        return line.usageError("--strict is for runs only");
    if (check && args.size() > 1) return line.usageError("--check takes one script");
    if (build && (args.size() != 2 || args[0].isEmpty() || args[1].isEmpty()))
        return line.usageError("--build needs a script and an output file");
    if (!build && (args.isEmpty() || args[0].isEmpty()))
        return line.usageError("expected one script file");
    const std::string scriptName = QFile::encodeName(args[0]).toStdString();
    const std::string outputName = build ? QFile::encodeName(args[1]).toStdString() : "";
    const char* script = scriptName.c_str();
    std::string text, why;
    if (!nv::readFile(script, text, why)) {
        std::fprintf(stderr, "norvane-run: cannot read %s: %s\n", script, why.c_str());
        return kExitUsage;
    }

    try {
        if (build) return finish(buildProgram(argc, argv, scriptName, text, outputName));
        if (check) {
            nv::CheckOptions options;
            options.havePassword = parser.isSet(passwordOption);
            options.password = QFile::encodeName(parser.value(passwordOption)).toStdString();
            return finish(checkScript(argc, argv, scriptName, text, options));
        }
        std::vector<std::string> scriptArguments;
        for (const QString& a : args)
            scriptArguments.push_back(QFile::encodeName(a).toStdString());
        return finish(runScript(argc, argv, scriptName, text, reporting, std::move(scriptArguments),
                                parser.isSet(strictOption)));
    } catch (const std::bad_alloc&) {
        // The run itself reports its own failures; this is a failure around it (the
        // program's text split into lines, the windows set up) with no memory left.
        std::fputs("norvane-run: not enough memory\n", stderr);
        return kExitFatal;
    }
}
