// Port names and their devices. Scripts name ports "com1" to "com256"; each number maps to a
// device path: the settings file's section [ports] (keys com1 ... com256) wins, then the
// environment variable NORVANE_PORTS ("com1=/dev/pts/3;com2=/dev/ttyUSB1"), then the default
// map (COM1..32 /dev/ttyS0..31, COM33..64 /dev/ttyUSB0..31, COM65..96 /dev/ttyACM0..31).
// An entry with an empty path removes a port from the map. Also here: the two rules that turn
// a port name into its number.
//
// Threading: built once on the user-interface thread, read-only afterwards.
// Error policy: malformed entries are skipped; a missing settings file is no error.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace nv::serial {

inline constexpr int kMaxPort = 256;

class PortMap {
  public:
    // The default map with the environment's and then the settings file's entries over it.
    static PortMap load(const std::string& settingsFile, const char* envPorts);
    // The default map alone.
    PortMap();

    // Empty when the port has no device (or n is outside 1..256).
    const std::string& path(int n) const;
    void set(int n, std::string path);
    // Reads "comN=PATH" entries separated by `sep` (';' for the environment, '\n' for the
    // settings section); keys ignore letter case.
    void apply(std::string_view entries, char sep);

  private:
    std::array<std::string, kMaxPort + 1> paths_;
};

// The general rule: the number after the first "com" of the lower-cased name ("COM4" 4,
// "\\.\COM12" 12). Nothing when the rest is not an integer.
std::optional<int> portNumberGeneral(std::string_view name);
// The strict rule of send, flush and the serial functions: the name must begin with lower-case
// "com" and the rest must be an integer.
std::optional<int> portNumberStrict(std::string_view name);

} // namespace nv::serial
