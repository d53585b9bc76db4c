#include "base/files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace nv {

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

namespace {

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

// Writes, flushes to the disk (regular files only) and closes; keeps the first errno.
bool writeAndClose(int fd, std::string_view bytes, bool regular, int& err) {
    bool ok = writeAll(fd, bytes) && (!regular || ::fsync(fd) == 0);
    if (!ok) err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    return ok;
}

// Follows a chain of symbolic links to the path it ends at (which need not exist yet, so
// that saving through a dangling link creates the link's target). Fails on a loop.
bool resolveLinks(std::string path, std::string& out, int& err) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            out = std::move(path);
            return true;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) {
            err = errno;
            return false;
        }
        target.resize(static_cast<size_t>(n));
        path = !target.empty() && target[0] == '/' ? target : folderOf(path) + "/" + target;
    }
    err = ELOOP;
    return false;
}

bool fail(std::string& error, int err) {
    error = errnoText(err);
    return false;
}

// Best effort on the way out of a failed save: the failure already reported is the one that
// counts.
bool truncateTo(int fd, size_t size) {
    return ::ftruncate(fd, static_cast<off_t>(size)) == 0;
}

// Writes a regular file where it stands (hard links, a folder that cannot be written)
// without ever leaving it cut off: the new length is reserved first, so a full disk refuses
// before a byte changes, and the old bytes are kept to be put back should a write still fail.
bool rewriteRegular(const std::string& path, std::string_view bytes, std::string& error) {
    std::string old, why;
    const bool existed = ::access(path.c_str(), F_OK) == 0;
    // A file that cannot be read back cannot be restored: it is written only when the new
    // length could be reserved, as below.
    const bool kept = existed && readFile(path, old, why);
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_CREAT, 0666);
    if (fd < 0) return fail(error, errno);
    const auto closeWith = [&](int err) {
        ::close(fd);
        if (!existed) ::unlink(path.c_str()); // nothing half-made is left behind
        return fail(error, err);
    };
    if (!bytes.empty()) {
        const int rc = ::posix_fallocate(fd, 0, static_cast<off_t>(bytes.size()));
        // File systems without reservation (EOPNOTSUPP) go on and rely on putting back.
        if (rc != 0 && rc != EOPNOTSUPP && rc != EINVAL) {
            if (kept) truncateTo(fd, old.size());
            return closeWith(rc);
        }
    }
    const auto putBack = [&](int err) {
        if (kept) {
            truncateTo(fd, old.size());
            if (::lseek(fd, 0, SEEK_SET) == 0 && writeAll(fd, old)) (void)::fsync(fd);
        }
        return closeWith(err);
    };
    if (::lseek(fd, 0, SEEK_SET) != 0 || !writeAll(fd, bytes)) return putBack(errno);
    if (::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0 || ::fsync(fd) != 0)
        return putBack(errno);
    if (::close(fd) != 0) return fail(error, errno);
    return true;
}

bool writeInPlace(const std::string& path, std::string_view bytes, bool regular,
                  std::string& error) {
    if (regular) return rewriteRegular(path, bytes, error);
    // O_NONBLOCK so that a FIFO nobody reads refuses (ENXIO) instead of hanging the program;
    // the writes themselves block as usual.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) return fail(error, errno);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int err = 0;
    if (!writeAndClose(fd, bytes, false, err)) return fail(error, err);
    return true;
}

} // namespace

std::string errnoText(int err) {
    char buf[256];
    return ::strerror_r(err, buf, sizeof buf);
}

bool readFile(const std::string& path, std::string& bytes, std::string& error,
              ReadOptions options) {
    if (path.find('\0') != std::string::npos) return fail(error, ENOENT);
    // A FIFO opened for reading waits for a writer; where only regular files will do, open
    // without waiting and look first.
    const int fd = ::open(path.c_str(),
                          O_RDONLY | O_CLOEXEC | O_NOCTTY | (options.regularOnly ? O_NONBLOCK : 0));
    if (fd < 0) return fail(error, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return fail(error, err);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        return fail(error, EISDIR);
    }
    if (options.regularOnly && !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = "not a regular file";
        return false;
    }
    std::string out;
    try {
        if (S_ISREG(st.st_mode) && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
        char buf[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n == 0) break;
            if (n < 0) {
                if (errno == EINTR) continue;
                const int err = errno;
                ::close(fd);
                return fail(error, err);
            }
            out.append(buf, static_cast<size_t>(n));
        }
    } catch (const std::bad_alloc&) {
        ::close(fd);
        error = "larger than the available memory";
        return false;
    } catch (const std::length_error&) {
        ::close(fd);
        error = "larger than the available memory";
        return false;
    }
    ::close(fd);
    bytes = std::move(out);
    return true;
}

bool canWriteFolder(const std::string& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool safeSave(const std::string& requested, std::string_view bytes, std::string& error) {
    if (requested.empty() || requested.find('\0') != std::string::npos) return fail(error, ENOENT);
    std::string path;
    int err = 0;
    if (!resolveLinks(requested, path, err)) return fail(error, err);

    const mode_t mask = ::umask(022);
    ::umask(mask);
    mode_t mode = 0666 & ~mask;
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode)) return fail(error, EISDIR);
        // A file this user may not write is not replaced behind their back.
        if (::access(path.c_str(), W_OK) != 0) return fail(error, errno);
        // Devices, FIFOs and files shared by several names are written where they are: a
        // rename would put a new regular file in place of the device or split the names.
        if (!S_ISREG(st.st_mode)) return writeInPlace(path, bytes, false, error);
        if (st.st_nlink > 1) return writeInPlace(path, bytes, true, error);
        mode = st.st_mode & 07777;
    }
    const std::string folder = folderOf(path);
    if (!canWriteFolder(folder)) return writeInPlace(path, bytes, true, error);

    std::string tmp = path + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) return writeInPlace(path, bytes, true, error);
    ::fchmod(fd, mode);
    // Root saving someone else's file leaves it theirs.
    if (exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid()))
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Not fatal: the content is what the user asked to save; the owner stays root's.
        }
    if (writeAndClose(fd, bytes, true, err) && ::rename(tmp.c_str(), path.c_str()) == 0)
        return true;
    if (err == 0) err = errno;
    ::unlink(tmp.c_str());
    return fail(error, err);
}

bool saveNew(const std::string& path, std::string_view bytes, std::string& error) {
    if (path.empty() || path.find('\0') != std::string::npos) return fail(error, ENOENT);
    std::string tmp = path + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) return fail(error, errno);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    int err = 0;
    if (writeAndClose(fd, bytes, true, err) && ::rename(tmp.c_str(), path.c_str()) == 0)
        return true;
    if (err == 0) err = errno;
    ::unlink(tmp.c_str());
    return fail(error, err);
}

} // namespace nv
