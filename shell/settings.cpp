#include "shell/settings.h"

#include "shell/platform.h"

#include "base/ascii.h"
#include "baseqt/placement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <charconv>
#include <cstdint>
#include <functional>

namespace nv {

namespace {

// Decimal, or hexadecimal after "$" or "0x"; an optional sign; must fit 32 bits.
bool toInt(std::string_view text, int& out) {
    std::string_view s = trimView(text);
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
    // A window that was never shown and had no place in the file has none to write: the
    // file keeps what it holds.
    auto place = [&](const char* section, int x, int y) {
        if (!remembered(x, y)) return;
        integer(section, "x", x);
        integer(section, "y", y);
    };
    place("debug", s.watchX, s.watchY);
    place("terminal", s.terminalX, s.terminalY);
    place("rack", s.rackX, s.rackY);
}

SettingsLocation settingsLocation(const QString& programDir, ShellPlatform& platform) {
    const std::string dir = QFile::encodeName(programDir).toStdString();
    const SettingsPaths p =
        settingsPaths(dir, platform.canWriteDir(programDir) && programFolderIsOwn(dir));
    return {fromBytes(p.readPath), fromBytes(p.writePath), fromBytes(p.systemPath)};
}

IniFile loadSettings(const SettingsLocation& where, ShellPlatform& platform) {
    IniFile ini = loadIni(where.systemPath, platform);
    ini.overlay(loadIni(where.readPath, platform));
    return ini;
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
