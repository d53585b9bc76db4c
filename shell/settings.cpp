#include "shell/settings.h"

#include "shell/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <charconv>
#include <cstdint>
#include <functional>

namespace nv {

namespace {

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
        s.remove_suffix(1);
    return s;
}

// Decimal, or hexadecimal after "$" or "0x"; an optional sign; must fit 32 bits.
bool toInt(std::string_view text, int& out) {
    std::string_view s = trimmed(text);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (!s.empty() && s.front() == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return false;
    int64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (ec != std::errc() || end != s.data() + s.size()) return false;
    if (negative) v = -v;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    out = static_cast<int>(v);
    return true;
}

std::string toBytes(const QString& s) {
    return QFile::encodeName(s).toStdString();
}
QString fromBytes(const std::string& s) {
    return QFile::decodeName(QByteArray(s.data(), static_cast<qsizetype>(s.size())));
}

} // namespace

// ---- IniFile ----

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

        const std::string_view t = trimmed(raw);
        if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
            sections_.push_back(Section{std::string(trimmed(t.substr(1, t.size() - 2))), {}});
            continue;
        }
        const size_t eq = t.find('=');
        if (eq == std::string_view::npos || t.front() == ';' || t.front() == '#' || eq == 0) {
            sections_.back().lines.push_back(Line{std::string(raw), {}, {}});
            continue;
        }
        sections_.back().lines.push_back(Line{
            {}, std::string(trimmed(t.substr(0, eq))), std::string(trimmed(t.substr(eq + 1)))});
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
        if (sameName(sections_[i].name, section)) return &sections_[i];
    return nullptr;
}

const IniFile::Section* IniFile::find(std::string_view section) const {
    return const_cast<IniFile*>(this)->find(section);
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const {
    if (const Section* s = find(section))
        for (const Line& l : s->lines)
            if (!l.key.empty() && sameName(l.key, key)) return l.value;
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
        if (!l.key.empty() && sameName(l.key, key)) {
            l.value = std::string(value);
            return;
        }
    // New keys go after the last key of the section, before trailing blank lines.
    auto at = s->lines.end();
    while (at != s->lines.begin() && std::prev(at)->key.empty() &&
           trimmed(std::prev(at)->text).empty())
        --at;
    s->lines.insert(at, Line{{}, std::string(key), std::string(value)});
}

void IniFile::remove(std::string_view section, std::string_view key) {
    if (Section* s = find(section))
        std::erase_if(s->lines,
                      [&](const Line& l) { return !l.key.empty() && sameName(l.key, key); });
}

// ---- window settings ----

namespace {

// One step of the reading: false ends it.
struct Reader {
    const IniFile& ini;
    bool integer(const char* section, const char* key, int def, int& out) const {
        const std::optional<std::string> v = ini.value(section, key);
        if (!v) {
            out = def;
            return true;
        }
        return toInt(*v, out);
    }
    bool bar(const char* section, int defRow, int defPos, BarSettings& b) const {
        const std::optional<std::string> style = ini.value(section, "style");
        // Only the exact word counts; any other value docks the bar.
        b.floating = style && *style == "floating";
        return integer(section, "row", defRow, b.row) && integer(section, "pos", defPos, b.pos);
    }
};

} // namespace

bool readWindowSettings(const IniFile& ini, WindowSettings& s) {
    const Reader r{ini};
    if (!(r.integer("main", "x", 0, s.x) && r.integer("main", "y", 0, s.y) &&
          r.integer("main", "width", 544, s.width) && r.integer("main", "height", 374, s.height) &&
          r.integer("main", "log_height", 160, s.logHeight) &&
          r.integer("debug", "y", 0, s.watchY) && r.integer("debug", "x", 0, s.watchX) &&
          r.integer("rack", "y", 0, s.rackY) && r.integer("rack", "x", 0, s.rackX) &&
          r.integer("terminal", "x", 0, s.terminalX) && r.integer("terminal", "y", 0, s.terminalY)))
        return false;

    s.recent.clear();
    for (int i = 1; i <= 5; ++i) {
        const std::optional<std::string> v = ini.value("recent", "MRU" + std::to_string(i));
        if (v && !v->empty()) s.recent.push_back(fromBytes(*v));
    }

    return r.bar("menu bar", 0, 0, s.menuBar) && r.bar("toolbar", 1, 0, s.toolBar) &&
           r.bar("recent bar", 1, 153, s.recentBar);
}

void writeWindowSettings(IniFile& ini, const WindowSettings& s) {
    for (int i = 1; i <= 5; ++i) {
        const std::string key = "MRU" + std::to_string(i);
        if (i <= static_cast<int>(s.recent.size()))
            ini.setValue("recent", key, toBytes(s.recent[static_cast<size_t>(i - 1)]));
        else
            ini.remove("recent", key);
    }
    auto integer = [&](const char* section, const char* key, int v) {
        ini.setValue(section, key, std::to_string(v));
    };
    auto bar = [&](const char* section, const BarSettings& b) {
        ini.setValue(section, "style", b.floating ? "floating" : "docked");
        if (b.floating) {
            integer(section, "x", b.x);
            integer(section, "y", b.y);
        } else {
            integer(section, "row", b.row);
            integer(section, "pos", b.pos);
        }
    };
    bar("menu bar", s.menuBar);
    bar("toolbar", s.toolBar);
    bar("recent bar", s.recentBar);
    integer("main", "x", s.x);
    integer("main", "y", s.y);
    integer("main", "width", s.width);
    integer("main", "height", s.height);
    integer("main", "log_height", s.logHeight);
    integer("debug", "x", s.watchX);
    integer("debug", "y", s.watchY);
    integer("terminal", "x", s.terminalX);
    integer("terminal", "y", s.terminalY);
    integer("rack", "x", s.rackX);
    integer("rack", "y", s.rackY);
}

SettingsLocation settingsLocation(const QString& programDir, ShellPlatform& platform) {
    const QString local = QDir(programDir).filePath(QStringLiteral("norvane.ini"));
    if (platform.canWriteDir(programDir)) return {local, local};

    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    const QString user = config + QStringLiteral("/norvane/norvane.ini");
    // Until the user's own file exists, the one beside the program gives the defaults.
    return {QFileInfo::exists(user) ? user : local, user};
}

IniFile loadIni(const QString& path, ShellPlatform& platform) {
    IniFile ini;
    std::string bytes;
    QString error;
    if (platform.readFile(path, bytes, error)) ini.parse(bytes);
    return ini;
}

bool saveIni(const IniFile& ini, const QString& path, ShellPlatform& platform, QString& error) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    return platform.writeFile(path, ini.serialize(), error);
}

} // namespace nv
