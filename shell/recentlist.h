// The list of the five most recently used script files, most recent first, as the
// recent-files bar shows it ("&1 name" ... "&5 name") and the settings file keeps it.
//
// Plain value type; user-interface thread. Errors: none.
#pragma once

#include <QString>
#include <vector>

namespace nv {

class RecentList {
  public:
    static constexpr size_t kMax = 5;

    // Makes the path absolute; an equal path moves to the front and takes the new form,
    // any other path goes in front. Entries past the fifth are dropped.
    void add(const QString& path);
    void assign(const std::vector<QString>& paths);

    const std::vector<QString>& paths() const { return paths_; }
    // "&n name": n is the place from 1, the name has neither folder nor extension.
    static QString label(size_t index, const QString& path);

  private:
    std::vector<QString> paths_;
};

} // namespace nv
