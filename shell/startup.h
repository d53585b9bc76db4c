// The start-up decisions of the program: whether the command line names a script to run at
// once, and whether the program file carries a packed script (a built program: package
// mode). The builder completes the package check; until then no package is ever found.
//
// Threading: user-interface thread, once at start. Errors: a package that is there but
// cannot be restored is reported by returning false with `error` set.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

namespace nv {

// The script file to run at start: only when there is exactly one argument and it names an
// existing file (not a folder). Empty otherwise.
QString scriptArgument(const QStringList& arguments);

struct Package {
    std::string script; // the deciphered script text
};

// False when the program file carries no package (or it cannot be restored: `error` set).
bool findPackage(const QString& programFile, Package& package, QString& error);

} // namespace nv
