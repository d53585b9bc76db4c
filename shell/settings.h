// The settings file "norvane.ini": a small INI reader and writer that keeps every section
// and key it does not know (other parts of the program keep their own keys in the same
// file, such as the [ports] table), and the window settings with the fixed reading and
// writing order of the main window.
//
// The file lives in the program's folder. When that folder cannot be written (a system-wide
// install) the settings go to $XDG_CONFIG_HOME/norvane/norvane.ini instead, read from there
// once that file exists, so that settings are never silently lost.
//
// Threading: user-interface thread. Error policy: a missing or unreadable file reads as
// empty; a malformed integer ends the reading (what was read before it stays); write errors
// are returned to the caller, which ignores them as the program always has.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nv {

class ShellPlatform;

class IniFile {
  public:
    void parse(std::string_view bytes);
    std::string serialize() const;

    // Section and key names compare without regard to ASCII letter case.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    void setValue(std::string_view section, std::string_view key, std::string_view value);
    void remove(std::string_view section, std::string_view key);

  private:
    struct Line {
        std::string text; // the whole line as read (comments, blank lines) when key is empty
        std::string key;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Line> lines;
    };
    Section* find(std::string_view section);
    const Section* find(std::string_view section) const;
    std::vector<Section> sections_; // the first one has no name: lines before any header
};

struct BarSettings {
    bool floating = false;
    int row = 0;
    int pos = 0;
    int x = 0, y = 0; // written for a floating bar, never read back
};

struct WindowSettings {
    // The window's built-in values: what stays when the reading ends early.
    int x = 242, y = 153, width = 544, height = 374, logHeight = 160;
    int watchX = 0, watchY = 0;
    int rackX = 0, rackY = 0;
    int terminalX = 0, terminalY = 0;
    std::vector<QString> recent;
    BarSettings menuBar{false, 0, 0};
    BarSettings toolBar{false, 1, 0};
    BarSettings recentBar{false, 1, 153};
};

// Reads every key in the program's fixed order, each missing key taking its default.
// Returns false when a malformed integer ended the reading.
bool readWindowSettings(const IniFile& ini, WindowSettings& s);
// Writes every key in the program's fixed order; MRU keys past the list are removed.
void writeWindowSettings(IniFile& ini, const WindowSettings& s);

// Where the settings file is read from and written to.
struct SettingsLocation {
    QString readPath;
    QString writePath;
};
SettingsLocation settingsLocation(const QString& programDir, ShellPlatform& platform);

// Loads the file at `path` (missing or unreadable: empty).
IniFile loadIni(const QString& path, ShellPlatform& platform);
// Creates the folder when needed. Returns false (with `error`) when the file was not written.
bool saveIni(const IniFile& ini, const QString& path, ShellPlatform& platform, QString& error);

} // namespace nv
