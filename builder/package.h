// The package of a built program: its layout in the program file's slot, how the Build
// command makes one and writes it into a copy of the program image, and how a built program
// finds it again at start and writes its racks back to disk.
//
// A slot is 262174 bytes: the start marker, a 262144-byte body and the end marker. The
// program as shipped holds "V" in every body byte; a built program holds the package at the
// start of the body. The package is plain markers and bytes, no lengths and no escaping:
//   [names]Norvane[namee][versions]1.5[versione][scripts]<enciphered script>[scripte]
//   then one "[racks " + name padded to 43 + rack bytes + "[racke]" per rack, then [embe].
// The builder finds the slot by searching the program file for the start marker, so the
// marker's text exists as one piece only inside the slot: code here composes it at run time.
//
// Threading: user-interface thread (the cipher advances the generator shared with random()).
// Errors: building returns the one error text that ends a build; restoring reports whether
// every rack file could be written. Nothing here throws for malformed input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace nv::package {

inline constexpr std::size_t kMarkerBytes = 15;
inline constexpr std::size_t kBodyBytes = 262144;
inline constexpr std::size_t kSlotBytes = kMarkerBytes + kBodyBytes + kMarkerBytes;
// The name field of a rack entry; longer names do not fit the format.
inline constexpr std::size_t kRackNameBytes = 43;

// "CommThread_init", composed from pieces each time.
std::string startMarker();

// The product-and-version text whose key enciphers the packed script.
std::string_view passPhrase();

// ---- building ----

struct BuildInput {
    std::string programImage;       // the whole program file
    std::vector<std::string> lines; // the editor's lines
    std::string terminalResPath;    // "terminal.res" in the program's folder
    // Loads the rack file into the rack window to prove it valid (and hides the window).
    std::function<bool(const std::string& path)> rackIsValid;
    std::function<void(const std::string& line)> log; // plain log lines
};

struct BuildResult {
    bool ok = false;
    std::string image;               // the program image with the package written into its slot
    std::string error;               // the text logged after "Error building:" when !ok
    std::vector<std::string> inputs; // terminal.res and every rack packed, as read
};

// The first text of the package format that `bytes` hold ("[racke]", "[embe]", ...), or
// empty. Restoring finds entries by these texts, so a file holding one would come back cut
// short: the build refuses it.
std::string_view markerIn(std::string_view bytes);

// The Build command's steps from "Building" to "Done" (or "Error building:" and the error
// text); `randomState` is the program's generator, left advanced by the cipher.
BuildResult build(BuildInput input, uint32_t& randomState);

// The first argument of an `openrack` line as the builder reads it: the text up to the first
// comma or closing parenthesis at the same depth, quoted parts skipped, trimmed, without its
// first and last character. Empty when the line holds no "(".
std::string openrackFileName(std::string_view line);

// ---- package check ----

struct Restored {
    bool present = false;     // the slot holds a package (package mode)
    bool racksWritten = true; // every rack entry could be written
    std::string script;       // the deciphered script, lines ending in CR LF
};

// True when `slot` holds a package (the program is a built one), without reading it.
bool present(std::string_view slot);

// Reads the package in `slot` (the 262174 bytes as they stand in the program file), writes
// its rack entries into `folder` and deciphers its script. A rack entry's name must be a
// plain file name: one holding "/" or a zero byte, or "." or "..", counts as a file that
// cannot be written. Each file is written new (base/files.h saveNew): a link planted at its
// name in a shared folder is replaced, never followed.
Restored restore(std::string_view slot, const std::string& folder, uint32_t& randomState);

} // namespace nv::package
