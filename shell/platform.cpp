#include "shell/platform.h"

#include <QDesktopServices>
#include <QFile>
#include <string>

#include "base/files.h"

namespace nv {

QString errnoMessage(const QString& what, int err) {
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(errnoText(err).c_str()));
}

bool ShellPlatform::readFile(const QString& path, std::string& bytes, QString& error) {
    std::string why;
    if (nv::readFile(QFile::encodeName(path).toStdString(), bytes, why)) return true;
    error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(why.c_str()));
    return false;
}

bool ShellPlatform::writeFile(const QString& path, std::string_view bytes, QString& error) {
    std::string why;
    if (safeSave(QFile::encodeName(path).toStdString(), bytes, why)) return true;
    error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(why.c_str()));
    return false;
}

bool ShellPlatform::canWriteDir(const QString& dir) {
    return canWriteFolder(QFile::encodeName(dir).toStdString());
}

bool ShellPlatform::openWithSystem(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

ShellPlatform& ShellPlatform::system() {
    static ShellPlatform instance;
    return instance;
}

} // namespace nv
