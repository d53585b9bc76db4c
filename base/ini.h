// The settings file "norvane.ini": where it lives and a small INI reader and writer.
//
// The file lives in the program's folder. When that folder cannot be written (a system-wide
// install) the settings go to $XDG_CONFIG_HOME/norvane/norvane.ini instead, and are read
// from there once that file exists (until then the file beside the program gives them), so
// that settings are never silently lost. Every part of the program that reads the file (the
// window settings, the serial port map) asks settingsPaths() and reads it with IniFile.
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

// Where the settings file is read from and written to.
struct SettingsPaths {
    std::string readPath;
    std::string writePath;
};
SettingsPaths settingsPaths(const std::string& programDir, bool programDirWritable);
// The same, asking the file system whether the program's folder can be written.
SettingsPaths settingsPaths(const std::string& programDir);

// The file at `path` (missing or unreadable: empty).
IniFile loadIni(const std::string& path);

} // namespace nv
