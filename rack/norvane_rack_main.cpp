// norvane-rack: converts rack files (and "terminal.res") to their readable text form and
// back, so that layouts can be written, reviewed and diffed as text on Linux.
//
//     norvane-rack to-text   INPUT [OUTPUT]
//     norvane-rack from-text INPUT [OUTPUT]
//
// "-" or a missing OUTPUT means standard output; "-" as INPUT means standard input. Exit
// status: 0 done, 1 the input could not be read or converted (nothing is written then),
// 2 wrong usage.
#include "rack/componentstream.h"

#include "base/files.h"

#include <cstdio>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace {

int usage() {
    std::fputs("usage: norvane-rack to-text INPUT [OUTPUT]\n"
               "       norvane-rack from-text INPUT [OUTPUT]\n"
               "Converts a rack file (or terminal.res) to its text form and back.\n"
               "'-' stands for standard input or output.\n",
               stderr);
    return 2;
}

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

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) return usage();
    std::string mode = argv[1], input = argv[2], output = argc == 4 ? argv[3] : "-";
    if (mode != "to-text" && mode != "from-text") return usage();

    std::string data, err;
    if (!readInput(input, data, err)) return fail(err);
    std::string name = input == "-" ? "standard input" : input;

    std::string result;
    if (mode == "to-text") {
        nv::rack::ReadResult r = nv::rack::read(data);
        if (!r.ok) return fail(name + ": " + r.message());
        result = nv::rack::toText(r.doc);
    } else {
        nv::rack::TextResult r = nv::rack::fromText(data);
        if (!r.ok) return fail(name + ":" + std::to_string(r.line) + ": " + r.error);
        try {
            result = nv::rack::write(r.doc);
        } catch (const std::invalid_argument& e) {
            return fail(name + ": " + e.what());
        }
    }
    err = writeOutput(output, result);
    if (!err.empty()) return fail(err);
    return 0;
}
