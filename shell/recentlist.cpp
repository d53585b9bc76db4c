#include "shell/recentlist.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace nv {

namespace {
// File names on Linux compare exactly; "." and ".." parts do not make two paths differ.
QString normalised(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}
} // namespace

void RecentList::add(const QString& path) {
    const QString p = normalised(path);
    std::erase(paths_, p);
    paths_.insert(paths_.begin(), p);
    if (paths_.size() > kMax) paths_.resize(kMax);
}

void RecentList::assign(const std::vector<QString>& paths) {
    paths_.clear();
    for (const QString& p : paths)
        if (!p.isEmpty() && paths_.size() < kMax) paths_.push_back(p);
}

QString RecentList::label(size_t index, const QString& path) {
    return QStringLiteral("&%1 %2").arg(index + 1).arg(QFileInfo(path).completeBaseName());
}

} // namespace nv
