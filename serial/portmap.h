// Port names and their devices. Scripts name ports "com1" to "com256"; each number maps to a
// device path. From the strongest to the weakest: a `--port comN=PATH` option of the headless
// runner (repeatable), the environment variable NORVANE_PORTS ("com1=/dev/pts/3;com2=/dev/
// ttyUSB1"), the user's settings file's section [ports] (keys com1 ... com256), the same
// section of the lab-wide /etc/norvane/norvane.ini, then the default map (COM1..32
// /dev/ttyS0..31, COM33..64 /dev/ttyUSB0..31, COM65..96 /dev/ttyACM0..31). So a CI job or a
// service can always point a port elsewhere, whatever a user's file says. An entry with an
// empty path removes a port from the map. "comN.reconnect=1" (0 or 1, default 0) makes port N
// open itself again when its device comes back after being lost (terminal.h). Each entry remembers where it came from, for
// `norvane-run --ports`. Also here: the two rules that turn a port name into its number.
//
// Threading: built once on the user-interface thread, read-only afterwards; the command
// line's entries are set before any map is loaded.
// Error policy: malformed entries are skipped; a missing settings file is no error.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nv::serial {

inline constexpr int kMaxPort = 256;

// Where the entries of a map come from, weakest first.
struct PortSources {
    std::string systemFile;            // the lab's settings file; empty: none
    std::string userFile;              // the user's settings file; empty: none
    const char* environment = nullptr; // NORVANE_PORTS, or null
    std::vector<std::string> options;  // "comN=PATH" entries of the command line
};

class PortMap {
  public:
    // The default map with each source's entries over it, in the order above.
    static PortMap load(const PortSources& sources);
    // The sources this process uses: the settings files settingsPaths() names for the
    // program's folder, NORVANE_PORTS and the command line's entries.
    static PortSources standardSources(const std::string& programDir);
    // The command line's "comN=PATH" entries, strongest of all; set before a map is loaded.
    static void setCommandLine(std::vector<std::string> entries);
    static const std::vector<std::string>& commandLine();
    // The default map alone.
    PortMap();

    // Empty when the port has no device (or n is outside 1..256).
    const std::string& path(int n) const;
    // Where the port's entry came from: "default", "NORVANE_PORTS", "--port" or a file's path.
    const std::string& source(int n) const;
    void set(int n, std::string path, std::string source = "default");
    // Whether port n reconnects when its device comes back (off unless an entry says so).
    bool reconnect(int n) const;
    void setReconnect(int n, bool on);
    // Reads "comN=PATH" entries separated by `sep` (';' for the environment, '\n' for the
    // settings section); keys ignore letter case. Returns the entries that were not taken.
    std::vector<std::string> apply(std::string_view entries, char sep,
                                   const std::string& source = "default");

  private:
    std::array<std::string, kMaxPort + 1> paths_;
    std::array<std::string, kMaxPort + 1> sources_;
    std::array<bool, kMaxPort + 1> reconnect_{};
};

// The general rule: the number after the first "com" of the lower-cased name ("COM4" 4,
// "\\.\COM12" 12). Nothing when the rest is not an integer.
std::optional<int> portNumberGeneral(std::string_view name);
// The strict rule of send, flush and the serial functions: the name must begin with lower-case
// "com" and the rest must be an integer.
std::optional<int> portNumberStrict(std::string_view name);

} // namespace nv::serial
