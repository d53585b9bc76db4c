// libFuzzer entry: the first byte picks the parser, the rest is its input. Build with
// clang and -DNORVANE_FUZZ=ON, then run build-fuzz/fuzz_engine -max_total_time=300.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/host.h"
#include "engine/interpreter.h"
#include "engine/runcontrol.h"
#include "engine/runtime.h"
#include "engine/text.h"

namespace {

struct QuietHost : nv::ScriptHost {
    nv::RunControl* rc = nullptr;
    int events = 0;
    void processEvents() override {
        if (rc && ++events % 5000 == 0) rc->stop(); // scripts may loop for ever on purpose
    }
    int logLineCount() const override { return 0; }
    void clearLog() override {}
    void appendLog(std::string_view) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    QuietHost host;
    nv::Runtime rt(host);
    switch (data[0] % 4) {
    case 0: {
        nv::Interpreter ex(rt);
        ex.setVariable("a", "(a)");
        std::string v;
        ex.evaluate(text, v);
        break;
    }
    case 1: {
        nv::Interpreter ex(rt);
        bool truth = false;
        ex.evaluateCondition(text, truth);
        break;
    }
    case 2: {
        std::string name;
        std::vector<std::string> args;
        nv::splitCall(text, name, args);
        nv::validateBlocks(nv::splitLines(text));
        break;
    }
    default: {
        nv::RunControl rc(rt);
        host.rc = &rc;
        rc.run(nv::splitLines(text));
        break;
    }
    }
    return 0;
}
