#include "serial/trafficlog.h"

#include "base/files.h"
#include "serial/terminal.h"

#include <cerrno>
#include <chrono>

namespace nv::serial {

TrafficLog::~TrafficLog() {
    if (file_) std::fclose(file_);
}

bool TrafficLog::open(const std::string& path, std::string& error) {
    std::FILE* f = std::fopen(path.c_str(), "we");
    if (!f) {
        error = path + ": " + errnoText(errno);
        return false;
    }
    if (file_) std::fclose(file_);
    file_ = f;
    path_ = path;
    failed_ = false;
    return true;
}

void TrafficLog::write(std::string_view port, std::string_view tag, std::string_view bytes) {
    if (!file_) return;
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    std::string line = trafficLine(ms, port, tag, bytes);
    line += '\n';
    errno = 0;
    const bool ok = std::fwrite(line.data(), 1, line.size(), file_) == line.size() &&
                    std::fflush(file_) == 0;
    if (!ok && !failed_) {
        failed_ = true;
        if (onError) onError("Serial log " + path_ + ": " + errnoText(errno ? errno : EIO));
    }
}

} // namespace nv::serial
