// norvane-rack: converts rack files (and "terminal.res") to their readable text form and
// back, so that layouts can be written, reviewed and diffed as text on Linux.
//
//     norvane-rack to-text   INPUT [OUTPUT]
//     norvane-rack from-text INPUT [OUTPUT]
//
// "-" or a missing OUTPUT means standard output; "-" as INPUT means standard input. Exit
// status: 0 done, 1 the input could not be read or converted (nothing is written then;
// also for an input larger than the memory the tool may use, for a file whose text form
// could not be converted back, and for one that would not come back byte for byte, such as
// a header whose stream size is wrong), 64 wrong usage. --help and --version as every tool.
#include "rackfile/componentstream.h"

#include "base/files.h"
#include "cli/commandline.h"

#include <QFile>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

constexpr const char* kHelp =
    "Usage: norvane-rack to-text INPUT [OUTPUT]\n"
    "       norvane-rack from-text INPUT [OUTPUT]\n"
    "\n"
    "Converts a rack file (or terminal.res) to its text form and back. '-' stands for\n"
    "standard input or output; without OUTPUT the result goes to standard output.\n"
    "\n"
    "Options:\n"
    "  -h, --help   this text\n"
    "  --version    the version and the licence\n"
    "\n"
    "Exit status: 0 converted, 1 the input could not be read or converted (nothing is\n"
    "written then), 64 a bad command line.\n";

int fail(const std::string& message) {
    std::fprintf(stderr, "norvane-rack: %s\n", message.c_str());
    return 1;
}

bool readInput(const std::string& path, std::string& out, std::string& err) {
    if (path != "-") {
        if (nv::readFile(path, out, err)) return true;
        err = path + ": " + err;
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    if (std::cin.bad()) {
        err = "standard input: read error";
        return false;
    }
    return true;
}

std::string writeOutput(const std::string& path, const std::string& bytes) {
    if (path != "-") return nv::rack::saveFile(path, bytes);
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout))
        return "standard output: write error";
    return {};
}

std::uint32_t littleEndian32(std::string_view b) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= std::uint32_t(static_cast<unsigned char>(b[static_cast<size_t>(i)])) << (8 * i);
    return v;
}

// The promise is the same bytes: a file that would not write back as read (above all one
// whose header states a stream size other than the stream's, which the rack window takes
// without looking but from-text always writes true) is not valid input here.
int refuseUnlessSameBytes(const std::string& name, const std::string& data,
                          const nv::rack::Document& doc) {
    const std::string again = nv::rack::write(doc);
    if (again == data) return 0;
    size_t at = 0;
    while (at < again.size() && at < data.size() && again[at] == data[at])
        ++at;
    // 0xFF, the type, the name and its zero byte, the memory flags.
    const size_t sizeAt = 1 + 2 + doc.resourceName.size() + 1 + 2;
    if (at >= sizeAt && at < sizeAt + 4 && data.size() >= sizeAt + 4)
        return fail(name + ": offset " + std::to_string(sizeAt) + ": the stream size says " +
                    std::to_string(littleEndian32(std::string_view(data).substr(sizeAt, 4))) +
                    " bytes, the stream holds " + std::to_string(data.size() - sizeAt - 4));
    return fail(name + ": offset " + std::to_string(at) +
                ": the file would not be written back the same");
}

// to-text refuses what from-text could not turn back into the same file, so that a layout
// kept as text always builds.
int toText(const std::string& name, const std::string& data, std::string& result) {
    nv::rack::ReadResult r = nv::rack::read(data);
    if (!r.ok) return fail(name + ": " + r.message());
    if (const int status = refuseUnlessSameBytes(name, data, r.doc)) return status;
    try {
        result = nv::rack::toText(r.doc);
    } catch (const std::invalid_argument& e) {
        return fail(name + ": " + e.what());
    }
    nv::rack::TextResult back = nv::rack::fromText(result);
    if (!back.ok || !(back.doc == r.doc))
        return fail(name + ": its text form would not read back" +
                    (back.ok ? std::string(" unchanged") : ": " + back.message()));
    return 0;
}

int fromText(const std::string& name, const std::string& data, std::string& result) {
    nv::rack::TextResult r = nv::rack::fromText(data);
    if (!r.ok) return fail(name + ":" + std::to_string(r.line) + ": " + r.error);
    try {
        result = nv::rack::write(r.doc);
    } catch (const std::invalid_argument& e) {
        return fail(name + ": " + e.what());
    }
    return 0;
}

int convert(const std::string& mode, const std::string& input, const std::string& output) {
    std::string data, err;
    if (!readInput(input, data, err)) return fail(err);
    const std::string name = input == "-" ? "standard input" : input;
    std::string result;
    const int status =
        mode == "to-text" ? toText(name, data, result) : fromText(name, data, result);
    if (status != 0) return status;
    err = writeOutput(output, result);
    if (!err.empty()) return fail(err);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    nv::cli::CommandLine line("norvane-rack", kHelp);
    if (const auto status = line.parse(nv::cli::arguments(argc, argv))) return *status;
    const QStringList args = line.parser().positionalArguments();
    if (args.size() < 2 || args.size() > 3)
        return line.usageError("expected to-text or from-text, an input and an output");
    const std::string mode = args[0].toStdString();
    const std::string input = QFile::encodeName(args[1]).toStdString();
    const std::string output = args.size() == 3 ? QFile::encodeName(args[2]).toStdString() : "-";
    if (mode != "to-text" && mode != "from-text")
        return line.usageError("unknown conversion \"" + mode + "\"");
    try {
        return convert(mode, input, output);
    } catch (const std::bad_alloc&) {
        return fail((input == "-" ? std::string("standard input") : input) +
                    ": larger than the available memory");
    }
}
