// The few operating-system calls the main window makes: reading and writing whole files,
// asking whether a folder can be written, and handing a file or web address to the desktop's
// default handler. Behind one small interface so that tests can stand in for what this
// machine cannot show (a full disk, a read-only program folder when running as root).
//
// Threading: user-interface thread. Error policy: calls return false and fill `error` with a
// readable message (errno in words comes from base/files.h); they
// never throw.
#pragma once

#include <QString>
#include <QUrl>
#include <string>
#include <string_view>

namespace nv {

// "<what>: <system reason>" for an errno value.
QString errnoMessage(const QString& what, int err);

class ShellPlatform {
  public:
    virtual ~ShellPlatform() = default;

    virtual bool readFile(const QString& path, std::string& bytes, QString& error);
    // The program's safe save (base/files.h): a failed write leaves the old file as it was.
    virtual bool writeFile(const QString& path, std::string_view bytes, QString& error);
    virtual bool canWriteDir(const QString& dir);
    virtual bool openWithSystem(const QUrl& url);

    // The real implementation.
    static ShellPlatform& system();
};

} // namespace nv
