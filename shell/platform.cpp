#include "shell/platform.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace nv {

QString errnoMessage(const QString& what, int err) {
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(err)));
}

namespace {

QByteArray nativePath(const QString& path) {
    return QFile::encodeName(path);
}

bool writeAll(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes and closes; keeps the first errno of a failure.
bool writeAndClose(int fd, std::string_view bytes, int& err) {
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    if (!ok) err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    return ok;
}

} // namespace

bool ShellPlatform::readFile(const QString& path, std::string& bytes, QString& error) {
    const int fd = ::open(nativePath(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errnoMessage(path, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        error = errnoMessage(path, EISDIR);
        return false;
    }
    std::string out;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errnoMessage(path, errno);
            ::close(fd);
            return false;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    bytes = std::move(out);
    return true;
}

bool ShellPlatform::writeFile(const QString& path, std::string_view bytes, QString& error) {
    const QByteArray target = nativePath(path);
    // Keep the permissions of a file that is replaced.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    mode_t mode = 0666 & ~mask;
    struct stat st {};
    const bool exists = ::stat(target.constData(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode)) {
            error = errnoMessage(path, EISDIR);
            return false;
        }
        mode = st.st_mode & 07777;
        // A file the user may not write is not replaced behind their back.
        if (::access(target.constData(), W_OK) != 0) {
            error = errnoMessage(path, errno);
            return false;
        }
    }

    std::string tmp = target.toStdString() + ".XXXXXX";
    const int tfd = ::mkstemp(tmp.data());
    if (tfd >= 0) {
        int err = 0;
        ::fchmod(tfd, mode);
        if (writeAndClose(tfd, bytes, err) && ::rename(tmp.c_str(), target.constData()) == 0)
            return true;
        if (err == 0) err = errno;
        ::unlink(tmp.c_str());
        error = errnoMessage(path, err);
        return false;
    }

    // No temporary file possible (a folder we may not write): rewrite the target in place.
    const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errnoMessage(path, errno);
        return false;
    }
    int err = 0;
    if (!writeAndClose(fd, bytes, err)) {
        error = errnoMessage(path, err);
        return false;
    }
    return true;
}

bool ShellPlatform::canWriteDir(const QString& dir) {
    return ::access(nativePath(dir).constData(), W_OK | X_OK) == 0;
}

bool ShellPlatform::openWithSystem(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

ShellPlatform& ShellPlatform::system() {
    static ShellPlatform instance;
    return instance;
}

} // namespace nv
