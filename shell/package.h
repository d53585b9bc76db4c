// The package check at start-up: whether the program file carries a packed script (a built
// program). The builder completes it; until then no package is ever found.
//
// Threading: user-interface thread, once at start. Errors: a package that cannot be read is
// reported by returning false with `error` set.
#pragma once

#include <QString>
#include <string>

namespace nv {

struct Package {
    std::string script; // the deciphered script text
};

// False when the program file carries no package (or it cannot be restored: `error` set).
bool findPackage(const QString& programFile, Package& package, QString& error);

} // namespace nv
