// The main window's part of the settings file "norvane.ini" (base/ini.h reads and writes
// the file and knows where it lives): the window settings with the fixed reading and
// writing order of the main window.
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

#include "base/ini.h"

namespace nv {

class ShellPlatform;

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

// Where the settings file is read from and written to, and the lab's defaults read under it
// (base/ini.h tells where each lives).
struct SettingsLocation {
    QString readPath;
    QString writePath;
    QString systemPath;
};
SettingsLocation settingsLocation(const QString& programDir, ShellPlatform& platform);

// Loads the file at `path` (missing or unreadable: empty).
IniFile loadIni(const QString& path, ShellPlatform& platform);
// The settings as the window reads them: the user's file over the lab's defaults.
IniFile loadSettings(const SettingsLocation& where, ShellPlatform& platform);
// Creates the folder when needed. Returns false (with `error`) when the file was not written.
bool saveIni(const IniFile& ini, const QString& path, ShellPlatform& platform, QString& error);

} // namespace nv
