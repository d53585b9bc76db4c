#include "serial/portmap.h"

#include <algorithm>
#include <cstdlib>

#include "base/ini.h"
#include <sstream>

#include "engine/text.h"
#include "engine/value.h"

namespace nv::serial {

namespace {

struct DefaultRange {
    int first, last;
    const char* prefix;
};
constexpr DefaultRange kDefaults[] = {
    {1, 32, "/dev/ttyS"},
    {33, 64, "/dev/ttyUSB"},
    {65, 96, "/dev/ttyACM"},
};

const std::string kNoPath;

std::optional<int> integerOf(std::string_view text) {
    int32_t v = 0;
    if (!nv::parseInteger(text, v)) return std::nullopt;
    return v;
}

} // namespace

PortMap::PortMap() {
    for (const auto& r : kDefaults)
        for (int n = r.first; n <= r.last; ++n) {
            paths_[n] = r.prefix + std::to_string(n - r.first);
            sources_[n] = "default";
        }
}

std::vector<std::string>& commandLineEntries() {
    static std::vector<std::string> entries;
    return entries;
}

void PortMap::setCommandLine(std::vector<std::string> entries) {
    commandLineEntries() = std::move(entries);
}

const std::vector<std::string>& PortMap::commandLine() {
    return commandLineEntries();
}

PortSources PortMap::standardSources(const std::string& programDir) {
    const SettingsPaths paths = settingsPaths(programDir);
    return {paths.systemPath, paths.readPath, std::getenv("NORVANE_PORTS"), commandLine()};
}

PortMap PortMap::load(const PortSources& sources) {
    PortMap map;
    for (const std::string* file : {&sources.systemFile, &sources.userFile}) {
        if (file->empty()) continue;
        std::string entries;
        for (const auto& [key, value] : loadIni(*file).entries("ports"))
            entries += key + '=' + value + '\n';
        map.apply(entries, '\n', *file);
    }
    if (sources.environment) map.apply(sources.environment, ';', "NORVANE_PORTS");
    for (const std::string& entry : sources.options)
        map.apply(entry, '\0', "--port");
    return map;
}

const std::string& PortMap::path(int n) const {
    return n >= 1 && n <= kMaxPort ? paths_[n] : kNoPath;
}

bool PortMap::reconnect(int n) const {
    return n >= 1 && n <= kMaxPort && reconnect_[n];
}

void PortMap::setReconnect(int n, bool on) {
    if (n >= 1 && n <= kMaxPort) reconnect_[n] = on;
}

const std::string& PortMap::source(int n) const {
    return n >= 1 && n <= kMaxPort ? sources_[n] : kNoPath;
}

void PortMap::set(int n, std::string path, std::string source) {
    if (n < 1 || n > kMaxPort) return;
    paths_[n] = std::move(path);
    sources_[n] = std::move(source);
}

std::vector<std::string> PortMap::apply(std::string_view entries, char sep,
                                        const std::string& source) {
    std::vector<std::string> refused;
    while (!entries.empty()) {
        const size_t end = entries.find(sep);
        const std::string_view entry = entries.substr(0, end);
        entries = end == std::string_view::npos ? std::string_view{} : entries.substr(end + 1);
        const auto refuse = [&] {
            if (!nv::trimView(entry).empty()) refused.emplace_back(entry);
        };
        const size_t eq = entry.find('=');
        if (eq == std::string_view::npos) {
            refuse();
            continue;
        }
        std::string key = nv::lowerAscii(nv::trimView(entry.substr(0, eq)));
        // "comN.reconnect=1": the port looks for its device again after losing it.
        bool reconnectKey = false;
        if (const size_t dot = key.find('.'); dot != std::string::npos) {
            reconnectKey = key.substr(dot + 1) == "reconnect";
            key.resize(dot);
            if (!reconnectKey) key.clear();
        }
        if (!nv::startsWith(key, "com")) {
            refuse();
            continue;
        }
        // Plain decimal only: "com0x1" in a settings file is a typing error, not port 1.
        // Leading zeros name the same port, as they do in scripts ("com0001" is com1); a
        // number of more than three digits is past the last port whatever its length.
        const std::string_view digits = std::string_view(key).substr(3);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
            refuse();
            continue;
        }
        const size_t lead = std::min(digits.find_first_not_of('0'), digits.size() - 1);
        const std::string_view number = digits.substr(lead);
        const int n = number.size() > 3 ? 0 : std::stoi(std::string(number));
        if (n < 1 || n > kMaxPort) {
            refuse();
            continue;
        }
        if (reconnectKey) {
            const std::string value = nv::trim(entry.substr(eq + 1));
            if (value != "0" && value != "1") {
                refuse();
                continue;
            }
            reconnect_[n] = value == "1";
            continue;
        }
        set(n, nv::trim(entry.substr(eq + 1)), source);
    }
    return refused;
}

std::optional<int> portNumberGeneral(std::string_view name) {
    const std::string lower = nv::lowerAscii(name);
    const size_t at = lower.find("com");
    if (at == std::string::npos) return std::nullopt;
    return integerOf(std::string_view(lower).substr(at + 3));
}

std::optional<int> portNumberStrict(std::string_view name) {
    if (!nv::startsWith(name, "com")) return std::nullopt;
    return integerOf(name.substr(3));
}

} // namespace nv::serial
