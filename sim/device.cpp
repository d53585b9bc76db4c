#include "sim/device.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace nv::sim {

namespace {

// A request that never ends is not kept for ever.
constexpr size_t maxPending = 65536;
// The longest Modbus RTU frame.
constexpr size_t maxFrame = 256;
// The longest a frame can claim to be: a write of registers says its own byte count.
constexpr size_t maxReach = 9 + 255;

std::string hexBytes(const std::string& b) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02x" : "%02x", static_cast<unsigned char>(b[i]));
        out += buf;
    }
    return out;
}

unsigned byteAt(const std::string& s, size_t i) {
    return static_cast<unsigned char>(s[i]);
}

std::string withCrc(std::string frame) {
    const uint16_t crc = crc16Modbus(frame);
    frame += static_cast<char>(crc & 0xFF);
    frame += static_cast<char>(crc >> 8);
    return frame;
}

// The CRC-16/Modbus of each byte value, for one step per byte.
constexpr auto crcTable = [] {
    std::array<uint16_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
        uint16_t crc = static_cast<uint16_t>(b);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
        t[b] = crc;
    }
    return t;
}();

uint16_t crcStep(uint16_t crc, unsigned char byte) {
    return static_cast<uint16_t>((crc >> 8) ^ crcTable[(crc ^ byte) & 0xFF]);
}

// Whether `len` bytes at `off` have a length their function code allows.
bool lengthFits(const std::string& s, size_t off, size_t len) {
    if (len < 4) return false;
    switch (byteAt(s, off + 1)) {
    case 3:
    case 4:
    case 6:
        return len == 8;
    case 16:
        return len >= 7 && len == 9 + byteAt(s, off + 6);
    default:
        return len <= maxFrame;
    }
}

} // namespace

uint16_t crc16Modbus(const std::string& bytes) {
    uint16_t crc = 0xFFFF;
    for (unsigned char b : bytes)
        crc = crcStep(crc, b);
    return crc;
}

std::string visible(const std::string& bytes) {
    std::string out;
    char buf[8];
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            std::snprintf(buf, sizeof buf, "<%02x>", c);
            out += buf;
        }
    }
    return out;
}

Device::Device(DeviceFile file, std::optional<uint64_t> seed) : file_(std::move(file)) {
    if (!seed) seed = file_.seed;
    random_.seed(seed ? *seed : std::random_device{}());
    for (const auto& [name, value] : file_.variables) {
        try {
            variables_[name] = evaluateText(value, scope(nullptr));
        } catch (const EvalError&) {
            variables_[name] = "0"; // a start value of 1/0 is the author's joke; 0 it is
        }
    }
}

std::string Device::variable(const std::string& name) const {
    const auto it = variables_.find(name);
    return it == variables_.end() ? std::string() : it->second;
}

Scope Device::scope(const std::vector<std::string>* captures) {
    Scope s;
    s.variable = [this](const std::string& n) { return variable(n); };
    s.captures = captures;
    s.random = &random_;
    return s;
}

void Device::run(const std::vector<Action>& actions, const std::vector<std::string>* captures,
                 std::vector<Output>& out) {
    int wait = file_.replyDelayMs;
    for (const auto& a : actions) {
        try {
            switch (a.kind) {
            case Action::Kind::Delay:
                wait += a.ms;
                break;
            case Action::Kind::Set:
                variables_[a.variable] = evaluateText(a.value, scope(captures));
                break;
            case Action::Kind::Reply: {
                std::string text;
                for (const auto& p : a.text.pieces) {
                    if (!p.hasExpr)
                        text += p.literal;
                    else if (p.decimals >= 0)
                        text += formatNumber(evaluateNumber(p.expr, scope(captures)), p.decimals);
                    else
                        text += evaluateText(p.expr, scope(captures));
                }
                note("answer \"" + visible(text) + "\"" +
                     (wait ? " after " + std::to_string(wait) + " ms" : std::string()));
                out.push_back({wait, text + lineEndBytes(file_.replyEnd)});
                wait = 0;
                break;
            }
            }
        } catch (const EvalError& e) {
            if (warn_) warn_("line " + std::to_string(a.line) + ": " + e.what());
            return;
        }
    }
}

std::vector<Output> Device::request(const std::string& line) {
    std::vector<Output> out;
    const QString q = QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
    for (const auto& r : file_.rules) {
        std::vector<std::string> captures;
        if (r.match == Rule::Match::Exact && r.text != line) continue;
        if (r.match == Rule::Match::Pattern) {
            const auto m = r.pattern.match(q);
            if (!m.hasMatch()) continue;
            for (int i = 0; i <= m.lastCapturedIndex(); ++i)
                captures.push_back(m.captured(i).toLatin1().toStdString());
        }
        if (captures.empty()) captures.push_back(line);
        note("request \"" + visible(line) + "\" (rule of line " + std::to_string(r.line) + ")");
        run(r.actions, &captures, out);
        return out;
    }
    note("request \"" + visible(line) + "\": no rule, no answer");
    return out;
}

std::vector<Output> Device::receive(Session& s, const std::string& bytes) {
    s.pending += bytes;
    if (file_.protocol == DeviceFile::Protocol::ModbusRtu) return frames(s);
    std::vector<Output> out;
    for (;;) {
        size_t end = std::string::npos, skip = 0;
        switch (file_.requestEnd) {
        case LineEnd::LF:
            end = s.pending.find('\n'), skip = 1;
            break;
        case LineEnd::CR:
            end = s.pending.find('\r'), skip = 1;
            break;
        case LineEnd::CRLF:
            end = s.pending.find("\r\n"), skip = 2;
            break;
        default:
            end = s.pending.find_first_of("\r\n"), skip = 1;
            break;
        }
        if (end == std::string::npos) break;
        const std::string line = s.pending.substr(0, end);
        s.pending.erase(0, end + skip);
        // Either end alone ends a request: the LF of a CR LF pair leaves an empty one.
        if (line.empty() && file_.requestEnd == LineEnd::Any) continue;
        for (auto& o : request(line))
            out.push_back(std::move(o));
    }
    if (s.pending.size() > maxPending) {
        note("dropped " + std::to_string(s.pending.size()) + " bytes without a request end");
        s.pending.clear();
    }
    return out;
}

std::vector<Output> Device::frames(Session& s) {
    std::vector<Output> out;
    // A frame followed by its own CRC (low byte first) has a CRC of 0, so a frame ends where
    // the running CRC of some start comes to 0 at a length its function code allows. Each new
    // byte steps the CRC of every start still in reach; of the frames ending at a byte, the
    // earliest start wins. `done` is where the last frame ended.
    size_t done = 0;
    while (s.scanned < s.pending.size()) {
        const auto b = static_cast<unsigned char>(s.pending[s.scanned]);
        if (s.crcs.size() == maxReach) s.crcs.pop_front(); // too far back to start a frame
        s.crcs.push_back(0xFFFF);
        for (auto& crc : s.crcs)
            crc = crcStep(crc, b);
        ++s.scanned;
        const size_t first = s.scanned - s.crcs.size();
        size_t k = 0;
        while (k < s.crcs.size() &&
               !(s.crcs[k] == 0 && lengthFits(s.pending, first + k, s.scanned - first - k)))
            ++k;
        if (k == s.crcs.size()) continue;
        const size_t off = first + k;
        if (off > done)
            note("ignored " + hexBytes(s.pending.substr(done, off - done)) + " (no valid frame)");
        const std::string frame = s.pending.substr(off, s.scanned - off);
        done = s.scanned;
        s.crcs.clear();
        std::string answer = answerFrame(frame);
        if (!answer.empty()) {
            note("answer " + hexBytes(answer));
            out.push_back({file_.replyDelayMs, std::move(answer)});
        }
    }
    // What lies before the earliest start still in reach formed no frame.
    const size_t keep = s.scanned - s.crcs.size();
    if (keep > done)
        note("ignored " + hexBytes(s.pending.substr(done, keep - done)) + " (no valid frame)");
    s.pending.erase(0, keep);
    s.scanned -= keep;
    return out;
}

void Device::idle(Session& s) {
    if (file_.protocol != DeviceFile::Protocol::ModbusRtu || s.pending.empty()) return;
    note("ignored " + hexBytes(s.pending) + " (no valid frame)");
    s.pending.clear();
    s.scanned = 0;
    s.crcs.clear();
}

std::string Device::answerFrame(const std::string& f) {
    const unsigned address = byteAt(f, 0), function = byteAt(f, 1);
    note("frame " + hexBytes(f));
    if (address != 0 && address != static_cast<unsigned>(file_.modbusAddress)) {
        note("frame for slave " + std::to_string(address) + ", not this one");
        return {};
    }
    auto exception = [&](int code) {
        std::string e;
        e += static_cast<char>(address);
        e += static_cast<char>(function | 0x80);
        e += static_cast<char>(code);
        return address == 0 ? std::string() : withCrc(e);
    };
    auto word = [&](size_t i) { return byteAt(f, i) << 8 | byteAt(f, i + 1); };
    auto registerValue = [&](int a) {
        const double v = toNumber(variable(file_.registers.at(a).variable));
        return static_cast<unsigned>(static_cast<long long>(std::llround(v)) & 0xFFFF);
    };
    auto writable = [&](int a) {
        const auto it = file_.registers.find(a);
        return it != file_.registers.end() && !it->second.readOnly;
    };
    switch (function) {
    case 3:
    case 4: {
        const unsigned start = word(2), count = word(4);
        if (count < 1 || count > 125) return exception(3);
        for (unsigned a = start; a < start + count; ++a)
            if (!file_.registers.count(static_cast<int>(a))) return exception(2);
        if (address == 0) return {};
        std::string r = f.substr(0, 2);
        r += static_cast<char>(count * 2);
        for (unsigned a = start; a < start + count; ++a) {
            const unsigned v = registerValue(static_cast<int>(a));
            r += static_cast<char>(v >> 8);
            r += static_cast<char>(v & 0xFF);
        }
        return withCrc(r);
    }
    case 6: {
        const int a = static_cast<int>(word(2));
        if (!writable(a)) return exception(2);
        variables_[file_.registers.at(a).variable] = std::to_string(word(4));
        return address == 0 ? std::string() : f;
    }
    case 16: {
        const unsigned start = word(2), count = word(4);
        if (count < 1 || count > 123 || byteAt(f, 6) != count * 2) return exception(3);
        for (unsigned a = start; a < start + count; ++a)
            if (!writable(static_cast<int>(a))) return exception(2);
        for (unsigned k = 0; k < count; ++k)
            variables_[file_.registers.at(static_cast<int>(start + k)).variable] =
                std::to_string(word(7 + 2 * k));
        return address == 0 ? std::string() : withCrc(f.substr(0, 6));
    }
    default:
        return exception(1);
    }
}

std::vector<Output> Device::tick(size_t index) {
    std::vector<Output> out;
    run(file_.timed.at(index).actions, nullptr, out);
    return out;
}

} // namespace nv::sim
