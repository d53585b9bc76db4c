// The command-line conventions every Norvane tool follows (norvane, norvane-run, norvane-rack,
// norvane-sim), in one parser:
//   --help     the tool's usage on standard output, status 0, nothing else done;
//   --version  the version, the licence and the Qt version on standard output, status 0;
//   a usage error: one line naming the tool and the fault, and a pointer to --help, on
//              standard error, status 64 (EX_USAGE).
// Each tool adds its own options and positional arguments to parser() and reads them after
// parse(). No QCoreApplication is needed, so a tool can answer --help before it opens a
// display.
//
// Threading: the main thread, before the tool's work starts. Error policy: parse() reports
// usage errors itself and hands back the status to end with.
#pragma once

#include <QCommandLineParser>
#include <QStringList>
#include <optional>
#include <string>
#include <string_view>

namespace nv::cli {

inline constexpr int kExitUsage = 64;

// "norvane-run 2.0", the licence and the Qt version (built with and running), one per line.
std::string versionText(std::string_view tool);

class CommandLine {
  public:
    // `help` is the whole text --help prints.
    CommandLine(std::string tool, std::string help);

    QCommandLineParser& parser() { return parser_; }

    // Parses `arguments` (the program's name first). Nothing: go on; else the status to end
    // with, its text already printed (--help, --version, or a usage error).
    std::optional<int> parse(const QStringList& arguments);
    // Prints "TOOL: WHY" and the pointer to --help on standard error; returns kExitUsage.
    int usageError(std::string_view why) const;

  private:
    std::string tool_;
    std::string help_;
    QCommandLineParser parser_;
    QCommandLineOption helpOption_{{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption versionOption_{QStringLiteral("version")};
};

// The arguments as the operating system gave them, for tools that parse before (or without)
// a QCoreApplication.
QStringList arguments(int argc, char** argv);

} // namespace nv::cli
