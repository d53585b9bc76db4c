#include "shell/package.h"

namespace nv {

bool findPackage(const QString&, Package&, QString&) {
    return false;
}

} // namespace nv
