// TrafficLog: every port's traffic written to a file as it happens, one trafficLine per chunk
// sent or received (norvane-run --serial-log), so that a protocol problem can be shown to a
// colleague with its exact bytes and timing.
//
// Threading: user-interface thread (the serial ports hand their chunks over there).
// Error policy: open() reports why a file cannot be created; a write that fails later (a full
// disk) is counted and reported once through `onError`, and the log goes on trying, so a run
// never stops for its trace.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace nv::serial {

class TrafficLog {
  public:
    TrafficLog() = default;
    ~TrafficLog();
    TrafficLog(const TrafficLog&) = delete;
    TrafficLog& operator=(const TrafficLog&) = delete;

    // Creates (or empties) the file; false with the reason in `error`.
    bool open(const std::string& path, std::string& error);
    // One line, flushed at once: a crash or a kill keeps everything written before it.
    void write(std::string_view port, std::string_view tag, std::string_view bytes);
    // Told once, the first time a line cannot be written.
    std::function<void(const std::string&)> onError;

  private:
    std::FILE* file_ = nullptr;
    std::string path_;
    bool failed_ = false;
};

} // namespace nv::serial
