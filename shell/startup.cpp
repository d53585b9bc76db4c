#include "shell/startup.h"

#include <QFileInfo>

#include "builder/package.h"

namespace nv {

QString scriptArgument(const QStringList& arguments) {
    if (arguments.size() != 1 || !QFileInfo(arguments[0]).isFile()) return {};
    return arguments[0];
}

PackageCheck findPackage(std::string_view slot, uint32_t& randomState, Package& package) {
    package::Restored r = package::restore(slot, ".", randomState);
    if (!r.present) return PackageCheck::None;
    package.script = std::move(r.script);
    return r.racksWritten ? PackageCheck::Ready : PackageCheck::RestoreFailed;
}

QString restoreFailedMessage() {
    return QStringLiteral("Error initializing resources. Application will terminate.");
}

} // namespace nv
