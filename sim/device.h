// The simulated device at run time: its variables, its random numbers, and what it answers
// to the bytes a connection brings. It knows nothing of pseudo-terminals or sockets; the
// program feeds it bytes and writes out what it returns, after the delays it asks for.
//
// A text device cuts requests at the request end and runs the first rule that matches each
// one. A Modbus RTU slave has no line ends and, on a pseudo-terminal, no gaps between
// characters to tell frames apart, so it finds frames by their length (known from the
// function code, or the first length whose CRC holds) and their CRC-16/Modbus. The first
// frame to end wins: bytes that start no valid frame are dropped, so a frame with a bad CRC
// is ignored as a real slave ignores it, and bytes still unclaimed after a quiet spell are
// dropped too (idle()).
//
// Threading: one thread; all sessions of one device share its variables. Errors: nothing
// throws; a failing expression (a division by zero) abandons the rest of its rule and is
// reported through the warning callback with the line of the device file.
#pragma once

#include "sim/devicefile.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace nv::sim {

// Bytes to write after waiting `delayMs` from the previous output.
struct Output {
    int delayMs = 0;
    std::string bytes;
};

uint16_t crc16Modbus(const std::string& bytes);

class Device {
  public:
    // Each connection to the device (the pseudo-terminal, or one TCP client) has one.
    struct Session {
        std::string pending;
        // Modbus RTU: pending[0, scanned) has been searched for frames, and crcs holds the
        // running CRC of pending[start, scanned) for each start still in reach of a frame, the
        // latest start last. Each byte is looked at once, however long the noise before a
        // frame.
        size_t scanned = 0;
        std::deque<uint16_t> crcs;
    };

    Device(DeviceFile file, std::optional<uint64_t> seed);

    const DeviceFile& file() const { return file_; }
    std::string variable(const std::string& name) const;

    void onTrace(std::function<void(const std::string&)> f) { trace_ = std::move(f); }
    void onWarning(std::function<void(const std::string&)> f) { warn_ = std::move(f); }

    std::vector<Output> receive(Session& s, const std::string& bytes);
    // A quiet spell on the connection: a slave drops what formed no frame.
    void idle(Session& s);
    // Runs the timed block `index` of the file; its replies go to every connection.
    std::vector<Output> tick(size_t index);

  private:
    std::vector<Output> request(const std::string& line);
    void run(const std::vector<Action>& actions, const std::vector<std::string>* captures,
             std::vector<Output>& out);
    std::vector<Output> frames(Session& s);
    std::string answerFrame(const std::string& frame);
    Scope scope(const std::vector<std::string>* captures);
    void note(const std::string& what) const {
        if (trace_) trace_(what);
    }

    DeviceFile file_;
    std::map<std::string, std::string> variables_;
    std::mt19937_64 random_;
    std::function<void(const std::string&)> trace_;
    std::function<void(const std::string&)> warn_;
};

// Bytes shown to a person in the trace: printable ASCII as it is, anything else as <0d>.
std::string visible(const std::string& bytes);

} // namespace nv::sim
