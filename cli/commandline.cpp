#include "cli/commandline.h"

#include <QFile>
#include <QLibraryInfo>
#include <QVersionNumber>
#include <QtGlobal>
#include <cstdio>

namespace nv::cli {

std::string versionText(std::string_view tool) {
    std::string text(tool);
    text += " " NORVANE_VERSION "\n";
    text += "Licence: GPL-3.0-or-later (GNU General Public License, version 3 or later).\n"
            "This is free software: you are free to change and redistribute it. There is NO\n"
            "WARRANTY, to the extent permitted by law.\n";
    text += "Qt " QT_VERSION_STR " (running with ";
    text += qVersion();
    text += ")\n";
    return text;
}

CommandLine::CommandLine(std::string tool, std::string help)
    : tool_(std::move(tool)), help_(std::move(help)) {
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser_.addOption(helpOption_);
    parser_.addOption(versionOption_);
}

std::optional<int> CommandLine::parse(const QStringList& arguments) {
    if (!parser_.parse(arguments)) return usageError(parser_.errorText().toStdString());
    if (parser_.isSet(helpOption_)) {
        std::fputs(help_.c_str(), stdout);
        if (!help_.empty() && help_.back() != '\n') std::fputc('\n', stdout);
        return 0;
    }
    if (parser_.isSet(versionOption_)) {
        std::fputs(versionText(tool_).c_str(), stdout);
        return 0;
    }
    return std::nullopt;
}

int CommandLine::usageError(std::string_view why) const {
    std::fprintf(stderr, "%s: %.*s (see %s --help)\n", tool_.c_str(), int(why.size()), why.data(),
                 tool_.c_str());
    return kExitUsage;
}

QStringList arguments(int argc, char** argv) {
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list << QFile::decodeName(argv[i]);
    return list;
}

} // namespace nv::cli
