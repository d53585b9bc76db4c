#include "builder/package.h"

#include <sys/stat.h>

#include "base/ascii.h"
#include "base/files.h"
#include "base/cipher.h"

namespace nv::package {

namespace {

constexpr std::string_view kProduct = "Norvane";
constexpr std::string_view kVersion = "1.5";
constexpr std::string_view kRackStart = "[racks ";
constexpr std::string_view kRackEnd = "[racke]";
constexpr std::string_view kScriptStart = "[scripts]";
constexpr std::string_view kScriptEnd = "[scripte]";
constexpr std::string_view kEnd = "[embe]";

std::string padded(std::string_view name) {
    std::string out(name);
    if (out.size() < kRackNameBytes) out.append(kRackNameBytes - out.size(), ' ');
    return out;
}

std::string_view baseName(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A name from a package may only name a file in the folder it is restored into.
bool isPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

uint32_t packageKey() {
    return keyFromText(passPhrase());
}

} // namespace

std::string startMarker() {
    // Read through a volatile table so that no compiler folds the pieces into one literal:
    // the only whole copy of the marker must be the one at the start of the slot.
    static const char* const volatile pieces[] = {"CommThread", "_", "init"};
    std::string marker;
    for (const char* piece : pieces)
        marker += piece;
    return marker;
}

std::string_view passPhrase() {
    return "Norvane 1.5 standalone script package";
}

// The first argument of an openrack line as written, blanks around it trimmed.
std::string_view openrackArgument(std::string_view line) {
    const size_t open = line.find('(');
    if (open == std::string_view::npos) return {};
    size_t i = open + 1;
    int depth = 0;
    for (; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            const size_t close = line.find('"', i + 1);
            if (close == std::string_view::npos) {
                i = line.size();
                break;
            }
            i = close;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (depth == 0) break;
            --depth;
        } else if (c == ',' && depth == 0) {
            break;
        }
    }
    return trimView(line.substr(open + 1, i - open - 1));
}

// The rack's name as the builder reads it: the argument without its first and last
// characters, whatever they are (so only a quoted name gives the file the line opens).
std::string openrackFileName(std::string_view line) {
    const std::string_view arg = openrackArgument(line);
    if (arg.size() < 2) return {};
    return std::string(arg.substr(1, arg.size() - 2));
}

// Whether the argument is one quoted name ("psu.res"), the only form the builder can follow.
bool quotedName(std::string_view arg) {
    return arg.size() >= 2 && arg.front() == '"' && arg.back() == '"' &&
           arg.find('"', 1) == arg.size() - 1;
}

std::string_view markerIn(std::string_view bytes) {
    static constexpr std::string_view kMarkers[] = {
        kRackStart, kRackEnd,  kScriptStart, kScriptEnd,   kEnd,
        "[names]",  "[namee]", "[versions]", "[versione]",
    };
    for (std::string_view m : kMarkers)
        if (bytes.find(m) != std::string_view::npos) return m;
    if (bytes.find(startMarker()) != std::string_view::npos) return "the slot's start marker";
    return {};
}

BuildResult build(BuildInput in, uint32_t& randomState) {
    BuildResult result;
    std::string& error = result.error;
    std::string note; // said after the error, when the builder can tell why it went wrong
    const auto fail = [&](std::string text) {
        in.log("Error building:");
        in.log(text);
        if (!note.empty()) in.log(note);
        result.error = std::move(text);
        return result;
    };

    in.log("Building");
    const size_t marker = in.programImage.find(startMarker());
    if (marker == std::string::npos || in.programImage.size() - marker < kSlotBytes)
        return fail("The program file holds no package slot.");
    const size_t body = marker + kMarkerBytes;

    in.log("Adding header");
    std::string pkg;
    pkg.reserve(kBodyBytes);
    pkg.append("[names]").append(kProduct).append("[namee]");
    pkg.append("[versions]").append(kVersion).append("[versione]");

    in.log("Adding script");
    std::string plain;
    for (const std::string& line : in.lines)
        plain.append(line).append("\r\n");
    const std::string enciphered = cryptText(plain, packageKey(), randomState);
    // The enciphered script is found between its two texts: one inside it would cut it.
    if (const std::string_view m = markerIn(enciphered); !m.empty())
        return fail("The enciphered script holds a package marker (" + std::string(m) +
                    "); change the script slightly and build again.");
    pkg.append(kScriptStart).append(enciphered).append(kScriptEnd);

    in.log("Adding racks");
    std::vector<std::string> packed;
    in.log("Adding terminal.res (required)");
    pkg.append(kRackStart).append(padded("terminal.res"));
    std::string bytes, why;
    if (!readFile(in.terminalResPath, bytes, why, {.regularOnly = true}))
        return fail("Rack file not valid (bad format or not in the Norvane folder) " +
                    padded("terminal.res"));
    if (const std::string_view m = markerIn(bytes); !m.empty())
        return fail("Rack file holds a package marker (" + std::string(m) + ") " +
                    in.terminalResPath);
    pkg.append(bytes).append(kRackEnd);
    result.inputs.push_back(in.terminalResPath);

    packed.emplace_back("terminal.res");
    int racks = 0;
    bool scanEnded = false; // a missing file ends the scan and skips the rack count
    for (size_t at = 0; at < in.lines.size(); ++at) {
        const std::string_view line = trimView(in.lines[at]);
        if (!line.starts_with("openrack")) continue;
        const std::string name = openrackFileName(line);
        if (!exists(name)) {
            error = "Rack file not found " + name;
            // The name above is the argument cut at both ends: an expression gives a name
            // nobody wrote. Say which line it was and what the builder can follow.
            if (const std::string_view arg = openrackArgument(line); !quotedName(arg))
                note = "Line " + std::to_string(at + 1) + ": openrack(" + std::string(arg) +
                       ") does not name its rack in quotes; the builder packs only a rack "
                       "named so, as openrack(\"psu.res\"), from the folder it builds in";
            scanEnded = true;
            break;
        }
        const std::string_view file = baseName(name);
        // The entry's name field holds 43 bytes; a longer name would run into the rack's
        // bytes and the built program would restore a broken file.
        if (file.size() > kRackNameBytes) {
            error = "Rack file name longer than 43 characters " + name;
            scanEnded = true;
            break;
        }
        bool already = false;
        for (const std::string& p : packed)
            already = already || p == file;
        if (already) continue;
        in.log("Found rack " + name);
        if (!isRegularFile(name) || !in.rackIsValid(name)) {
            in.log("Rack file not valid " + name);
            continue;
        }
        if (!readFile(name, bytes, why, {.regularOnly = true})) {
            error = "Rack file not valid " + name;
        } else if (const std::string_view m = markerIn(bytes); !m.empty()) {
            // Restored, it would be cut at the marker and then fail to load in silence.
            error = "Rack file holds a package marker (" + std::string(m) + ") " + name;
            scanEnded = true;
            break;
        }
        pkg.append(kRackStart).append(padded(file));
        if (error.empty()) pkg.append(bytes);
        pkg.append(kRackEnd);
        if (error.empty()) {
            packed.emplace_back(file);
            result.inputs.push_back(name);
            ++racks;
        }
    }

    if (!scanEnded) {
        if (racks == 0) {
            error = "Sorry, no racks found !";
        } else {
            pkg.append(kEnd);
            if (pkg.size() >= kBodyBytes) error = "Sorry, code and racks size to big !";
        }
    }
    if (!error.empty()) return fail(error);

    in.programImage.replace(body, pkg.size(), pkg);
    in.log("Done");
    result.ok = true;
    result.image = std::move(in.programImage);
    return result;
}

bool present(std::string_view slot) {
    return slot.find(kProduct) != std::string_view::npos;
}

Restored restore(std::string_view slot, const std::string& folder, uint32_t& randomState) {
    Restored r;
    if (slot.find(kProduct) == std::string_view::npos) return r;
    r.present = true;

    const size_t s = slot.find(kScriptStart);
    const size_t e = slot.find(kScriptEnd);
    if (s != std::string_view::npos && e != std::string_view::npos &&
        e >= s + kScriptStart.size()) {
        const size_t from = s + kScriptStart.size();
        r.script = cryptText(slot.substr(from, e - from), packageKey(), randomState);
    }

    std::string_view rest = slot;
    for (size_t p; (p = rest.find(kRackStart)) != std::string_view::npos;) {
        const size_t data = p + kRackStart.size() + kRackNameBytes;
        const size_t end = data <= rest.size() ? rest.find(kRackEnd, data) : std::string_view::npos;
        if (end == std::string_view::npos) {
            // An entry cut off by the end of the slot: nothing sound can be written for it.
            r.racksWritten = false;
            break;
        }
        // The name field is padded with blanks and control characters.
        const std::string_view name = trimView(rest.substr(p + kRackStart.size(), kRackNameBytes));
        std::string why;
        if (!isPlainFileName(name) ||
            !saveNew(folder + "/" + std::string(name), rest.substr(data, end - data), why))
            r.racksWritten = false;
        rest.remove_prefix(end + kRackEnd.size());
    }
    return r;
}

} // namespace nv::package
