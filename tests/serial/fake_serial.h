// An in-memory serial platform for what a pseudo-terminal cannot show: modem lines, line
// errors, data bits and parity. Each path has one FakeLine the test drives; the device keeps
// line counters, so the receive thread polls them as it does on a real UART.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "serial/portmap.h"
#include "serial/serialdevice.h"

namespace nv::serial::test {

struct FakeLine {
    std::mutex m;
    std::condition_variable cv;
    std::string input;  // bytes waiting to be read
    std::string output; // bytes written by the program
    LineCounters counters;
    uint32_t modem = 0;
    bool dtr = true, rts = true;
    LineSettings settings{};
    bool held = false;
    bool woken = false;

    // Changes a line and counts the change, as the driver does.
    void setLine(uint32_t bit, bool on) {
        std::lock_guard lock(m);
        if (((modem & bit) != 0) == on) return;
        modem = on ? (modem | bit) : (modem & ~bit);
        if (bit == kModemCts) ++counters.cts;
        if (bit == kModemDsr) ++counters.dsr;
        if (bit == kModemRlsd) ++counters.rlsd;
        if (bit == kModemRing) ++counters.ring;
    }
    template <class F> void update(F f) {
        std::lock_guard lock(m);
        f(*this);
        cv.notify_all();
    }
};

class FakeDevice final : public SerialDevice {
  public:
    explicit FakeDevice(std::shared_ptr<FakeLine> line) : l_(std::move(line)) {}
    ~FakeDevice() override {
        std::lock_guard lock(l_->m);
        l_->held = false;
    }
    bool configure(const LineSettings& s) override {
        if (!settingsValid(s)) return false;
        std::lock_guard lock(l_->m);
        l_->settings = s;
        return true;
    }
    bool readSettings(LineSettings& s) override {
        std::lock_guard lock(l_->m);
        s = l_->settings;
        return true;
    }
    bool setDtr(bool on) override { return set(&FakeLine::dtr, on); }
    bool setRts(bool on) override { return set(&FakeLine::rts, on); }
    bool modemLines(uint32_t& bits) override {
        std::lock_guard lock(l_->m);
        bits = l_->modem;
        return true;
    }
    bool counters(LineCounters& c) override {
        std::lock_guard lock(l_->m);
        c = l_->counters;
        return true;
    }
    size_t queued() override {
        std::lock_guard lock(l_->m);
        return l_->input.size();
    }
    size_t outQueued() override { return 0; }
    long read(char* buf, size_t n) override {
        std::lock_guard lock(l_->m);
        n = std::min(n, l_->input.size());
        l_->input.copy(buf, n);
        l_->input.erase(0, n);
        return static_cast<long>(n);
    }
    long write(const char* data, size_t n) override {
        std::lock_guard lock(l_->m);
        l_->output.append(data, n);
        return static_cast<long>(n);
    }
    void purge(bool input, bool) override {
        std::lock_guard lock(l_->m);
        if (input) l_->input.clear();
    }
    WaitResult wait(int timeoutMs, bool, bool wantRead) override {
        std::unique_lock lock(l_->m);
        l_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 1000 : timeoutMs),
                        [&] { return (wantRead && !l_->input.empty()) || l_->woken; });
        if (l_->woken) {
            l_->woken = false;
            return WaitResult::Woken;
        }
        return !wantRead || l_->input.empty() ? WaitResult::Timeout : WaitResult::Readable;
    }
    void wake() override {
        std::lock_guard lock(l_->m);
        l_->woken = true;
        l_->cv.notify_all();
    }

  private:
    bool set(bool FakeLine::*field, bool on) {
        std::lock_guard lock(l_->m);
        (*l_).*field = on;
        return true;
    }
    std::shared_ptr<FakeLine> l_;
};

class FakePlatform final : public SerialPlatform {
  public:
    std::shared_ptr<FakeLine> line(const std::string& path) {
        auto& l = lines_[path];
        if (!l) l = std::make_shared<FakeLine>();
        return l;
    }
    std::unique_ptr<SerialDevice> open(const std::string& path, std::string* error) override {
        auto it = lines_.find(path);
        if (it == lines_.end() || it->second->held) {
            if (error) *error = path + ": not available";
            return nullptr;
        }
        it->second->held = true;
        return std::make_unique<FakeDevice>(it->second);
    }
    bool probe(const std::string& path) override {
        auto it = lines_.find(path);
        return it != lines_.end() && !it->second->held;
    }

  private:
    std::map<std::string, std::shared_ptr<FakeLine>> lines_;
};

// A port map with only com1 and com3, both on lines of `fake`; no default devices.
inline PortMap fakeComOneAndThree(FakePlatform& fake) {
    PortMap map;
    for (int n = 1; n <= 96; ++n)
        map.set(n, "");
    map.set(1, "/dev/fake1");
    map.set(3, "/dev/fake3");
    fake.line("/dev/fake1");
    fake.line("/dev/fake3");
    return map;
}

} // namespace nv::serial::test
