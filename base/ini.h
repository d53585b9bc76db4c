// The settings file "norvane.ini": where it lives and a small INI reader and writer.
//
// The file lives in the program's folder while that folder is the user's own: the user owns
// it and can write it, is not root, and it is not an installed copy (installing leaves the
// marker file kInstalledMarker in the program folder). Otherwise (a system-wide install, a
// copy that root runs) the settings go to $XDG_CONFIG_HOME/norvane/norvane.ini instead, and
// are read from there once that file exists (until then the file beside the program gives
// them), so that settings are never silently lost and never written where a package manager
// or another user keeps its files. /etc/norvane/norvane.ini, when there is one, holds a
// lab's defaults: the user's file is read over it. Every part of the program that reads the
// file (the window settings, the serial port map) asks settingsPaths() and reads it with
// loadSettings().
//
// IniFile keeps every section, key, comment and blank line it does not touch, so that parts
// of the program that keep their own keys in the same file never lose each other's.
//
// Threading: any thread, no shared state. Error policy: a missing or unreadable file reads as
// empty; nothing here throws.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nv {

class IniFile {
  public:
    void parse(std::string_view bytes);
    std::string serialize() const;

    // Section and key names compare without regard to ASCII letter case.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    void setValue(std::string_view section, std::string_view key, std::string_view value);
    void remove(std::string_view section, std::string_view key);
    // Sets every key of `over` here (its values win), keeping this file's other lines.
    void overlay(const IniFile& over);
    // Every key = value line of a section, in file order.
    std::vector<std::pair<std::string, std::string>> entries(std::string_view section) const;

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

// The file `cmake --install` puts in the program folder: an installed copy never keeps its
// settings there.
inline constexpr const char* kInstalledMarker = "norvane.installed";
// The lab-wide defaults every user's settings are read over.
inline constexpr const char* kSystemSettings = "/etc/norvane/norvane.ini";

// Where the settings file is read from and written to, and the lab's defaults under it.
struct SettingsPaths {
    std::string readPath;
    std::string writePath;
    std::string systemPath = kSystemSettings;
};
// `programDirIsOwn`: the settings may live in the program's folder (see above).
SettingsPaths settingsPaths(const std::string& programDir, bool programDirIsOwn);
// The same, asking the file system whether the program's folder is the user's own.
SettingsPaths settingsPaths(const std::string& programDir);
// True when this process may keep its settings in `programDir`, apart from whether the folder
// can be written: the effective user owns it, is not root, and it holds no kInstalledMarker.
bool programFolderIsOwn(const std::string& programDir);

// The file at `path` (missing or unreadable: empty).
IniFile loadIni(const std::string& path);
// The settings as the program sees them: the user's file read over the lab's defaults.
IniFile loadSettings(const SettingsPaths& paths);

} // namespace nv
