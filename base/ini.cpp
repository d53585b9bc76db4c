#include "base/ini.h"

#include <cstdlib>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include "base/ascii.h"
#include "base/files.h"

namespace nv {

void IniFile::parse(std::string_view bytes) {
    sections_.clear();
    sections_.push_back(Section{});
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view raw = bytes.substr(start, end - start);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        start = end + 1;

        const std::string_view t = trimView(raw);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
            sections_.push_back(Section{std::string(trimView(t.substr(1, t.size() - 2))), {}});
            continue;
        }
        const size_t eq = t.find('=');
        if (eq == std::string_view::npos || t.front() == ';' || t.front() == '#' || eq == 0) {
            sections_.back().lines.push_back(Line{std::string(raw), {}, {}});
            continue;
        }
        sections_.back().lines.push_back(Line{
            {}, std::string(trimView(t.substr(0, eq))), std::string(trimView(t.substr(eq + 1)))});
    }
}

std::string IniFile::serialize() const {
    std::string out;
    for (const Section& s : sections_) {
        if (&s != &sections_.front()) out += '[' + s.name + "]\n";
        for (const Line& l : s.lines) {
            if (l.key.empty())
                out += l.text;
            else
                out += l.key + '=' + l.value;
            out += '\n';
        }
    }
    return out;
}

IniFile::Section* IniFile::find(std::string_view section) {
    for (size_t i = 1; i < sections_.size(); ++i)
        if (equalsNoCase(sections_[i].name, section)) return &sections_[i];
    return nullptr;
}

const IniFile::Section* IniFile::find(std::string_view section) const {
    return const_cast<IniFile*>(this)->find(section);
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const {
    if (const Section* s = find(section))
        for (const Line& l : s->lines)
            if (!l.key.empty() && equalsNoCase(l.key, key)) return l.value;
    return std::nullopt;
}

void IniFile::setValue(std::string_view section, std::string_view key, std::string_view value) {
    if (sections_.empty()) sections_.push_back(Section{});
    Section* s = find(section);
    if (!s) {
        sections_.push_back(Section{std::string(section), {}});
        s = &sections_.back();
    }
    for (Line& l : s->lines)
        if (!l.key.empty() && equalsNoCase(l.key, key)) {
            l.value = std::string(value);
            return;
        }
    // New keys go after the last key of the section, before trailing blank lines.
    auto at = s->lines.end();
    while (at != s->lines.begin() && std::prev(at)->key.empty() &&
           trimView(std::prev(at)->text).empty())
        --at;
    s->lines.insert(at, Line{{}, std::string(key), std::string(value)});
}

void IniFile::remove(std::string_view section, std::string_view key) {
    if (Section* s = find(section))
        std::erase_if(s->lines,
                      [&](const Line& l) { return !l.key.empty() && equalsNoCase(l.key, key); });
}

std::vector<std::pair<std::string, std::string>> IniFile::entries(std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> out;
    if (const Section* s = find(section))
        for (const Line& l : s->lines)
            if (!l.key.empty()) out.emplace_back(l.key, l.value);
    return out;
}

void IniFile::overlay(const IniFile& over) {
    for (const Section& section : over.sections_)
        for (const Line& l : section.lines)
            if (!l.key.empty()) setValue(section.name, l.key, l.value);
}

bool programFolderIsOwn(const std::string& programDir) {
    struct stat st {};
    if (::stat(programDir.c_str(), &st) != 0) return false;
    const uid_t me = ::geteuid();
    if (me == 0 || st.st_uid != me) return false;
    const std::string marker = programDir + "/" + kInstalledMarker;
    return ::access(marker.c_str(), F_OK) != 0;
}

SettingsPaths settingsPaths(const std::string& programDir, bool programDirIsOwn) {
    const std::string local = programDir + "/norvane.ini";
    if (programDirIsOwn) return {local, local};
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string config = xdg && xdg[0] == '/' ? xdg : "";
    if (config.empty()) {
        const char* home = std::getenv("HOME");
        config = std::string(home ? home : "") + "/.config";
    }
    const std::string user = config + "/norvane/norvane.ini";
    return {::access(user.c_str(), F_OK) == 0 ? user : local, user};
}

SettingsPaths settingsPaths(const std::string& programDir) {
    return settingsPaths(programDir, canWriteFolder(programDir) && programFolderIsOwn(programDir));
}

IniFile loadIni(const std::string& path) {
    IniFile ini;
    std::string bytes, error;
    if (readFile(path, bytes, error, ReadOptions{.regularOnly = true})) ini.parse(bytes);
    return ini;
}

IniFile loadSettings(const SettingsPaths& paths) {
    IniFile ini = loadIni(paths.systemPath);
    ini.overlay(loadIni(paths.readPath));
    return ini;
}

} // namespace nv
