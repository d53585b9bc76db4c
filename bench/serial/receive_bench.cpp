// What one polling receive() costs a script, measured through the evaluator as a script line
// calls it: with a short answer waiting, with a full 8 KB buffer, against an evaluator call
// that touches no port, and against the full probe of every device path that enumports() and
// openport pay. Goal: under 10 us per polling call.
#include <benchmark/benchmark.h>
#include <pty.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>

#include "engine/host.h"
#include "engine/interpreter.h"
#include "engine/runtime.h"
#include "serial/serialports.h"

namespace {

struct NullHost : nv::ScriptHost {
    void processEvents() override { QCoreApplication::processEvents(); }
    int logLineCount() const override { return 0; }
    void clearLog() override {}
    void appendLog(std::string_view) override {}
};

struct Setup {
    int master = -1;
    std::string slave;
    NullHost host;
    nv::Runtime rt{host};
    int x = 0, y = 0;
    std::unique_ptr<nv::serial::SerialPorts> ports;
    std::unique_ptr<nv::Interpreter> ex;
    nv::serial::TerminalWindow* term = nullptr;

    Setup() {
        int s = -1;
        char name[256];
        ::openpty(&master, &s, name, nullptr, nullptr);
        ::close(s);
        slave = name;
        nv::serial::PortMap map; // the default map, so the full probe has its 96 paths
        map.set(101, slave);
        ports = std::make_unique<nv::serial::SerialPorts>(
            nullptr, x, y, nv::serial::SerialPorts::Options{nullptr, map, ""});
        ports->install(rt);
        term = ports->openPort("com101", "115200", "8", "n", "1");
        ex = std::make_unique<nv::Interpreter>(rt);
    }
    void fill(size_t n) {
        term->clearReceived();
        const std::string bytes(n, 'A');
        size_t done = 0;
        while (done < n) {
            const ssize_t w =
                ::write(master, bytes.data() + done, std::min<size_t>(4096, n - done));
            if (w > 0) done += static_cast<size_t>(w);
            for (int i = 0; i < 50; ++i)
                QCoreApplication::processEvents();
        }
        while (term->received().size() < n)
            QCoreApplication::processEvents();
    }
};

Setup* g = nullptr;

void BM_ReceivePollShort(benchmark::State& st) {
    g->fill(20);
    std::string v;
    for (auto _ : st) {
        g->ex->evaluate("receive(\"com101\")", v);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_ReceivePollShort);

void BM_ReceivePollFull8K(benchmark::State& st) {
    g->fill(8192);
    std::string v;
    for (auto _ : st) {
        g->ex->evaluate("receive(\"com101\")", v);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_ReceivePollFull8K);

// The serial side alone (port checks, clean-up of stale connections, the copy of the buffer),
// without the evaluator's work on the returned text.
void BM_ReceiveHandlerOnly8K(benchmark::State& st) {
    g->fill(8192);
    const nv::Runtime::FunctionRow* row = nullptr;
    for (const auto& r : g->rt.functions())
        if (r.name == "receive") row = &r;
    const std::vector<std::string> texts{"\"com101\""};
    for (auto _ : st) {
        nv::FnCall call{*g->ex, texts, {"com101"}, true};
        benchmark::DoNotOptimize(row->handler(call));
    }
}
BENCHMARK(BM_ReceiveHandlerOnly8K);

void BM_EvaluatorCallWithoutPort(benchmark::State& st) {
    std::string v;
    for (auto _ : st) {
        g->ex->evaluate("len(\"abc\")", v);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_EvaluatorCallWithoutPort);

void BM_FullProbeOfEveryPath(benchmark::State& st) {
    for (auto _ : st)
        g->ports->probe();
}
BENCHMARK(BM_FullProbeOfEveryPath);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Setup setup;
    g = &setup;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g = nullptr;
    return 0;
}
