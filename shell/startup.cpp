#include "shell/startup.h"

#include <QFileInfo>

namespace nv {

QString scriptArgument(const QStringList& arguments) {
    if (arguments.size() != 1 || !QFileInfo(arguments[0]).isFile()) return {};
    return arguments[0];
}

bool findPackage(const QString&, Package&, QString&) {
    return false;
}

} // namespace nv
