// The start-up decisions of the program: whether the command line names a script to run at
// once, and whether the program's package slot carries a packed script (a built program:
// package mode).
//
// Threading: user-interface thread, once at start. Errors: a package whose rack files cannot
// all be written is reported as such; the caller tells the user and ends the program.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <string_view>

namespace nv {

// The script file to run at start: only when there is exactly one argument and it names an
// existing file (not a folder). Empty otherwise.
QString scriptArgument(const QStringList& arguments);

struct Package {
    std::string script; // the deciphered script text
};

enum class PackageCheck {
    None,          // the slot is as shipped: the program is the editor
    Ready,         // racks restored into the current folder, script deciphered
    RestoreFailed, // a rack file could not be written
};

// Looks into the program's own package slot; restores its racks into the current folder.
// `randomState` is the program's generator, which deciphering advances.
PackageCheck findPackage(std::string_view slot, uint32_t& randomState, Package& package);

// The message that ends a built program whose racks could not be restored.
QString restoreFailedMessage();

} // namespace nv
