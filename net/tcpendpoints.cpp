#include "net/tcpendpoints.h"

#include "engine/interpreter.h"
#include "engine/runtime.h"

namespace nv {

void installTcp(Runtime& rt, TcpEndpointsGetter get) {
    for (const TcpCommandRow& row : kTcpCommands) {
        std::vector<int> counts;
        for (int n = row.minArgs; n <= row.maxArgs; ++n)
            counts.push_back(n);
        rt.addCommand({.keyword = row.keyword,
                       .argCounts = std::move(counts),
                       .failure = row.failMessage,
                       .failureLog = row.failLog,
                       .handler = [get, &row](CommandCall& c) {
                           if (TcpEndpoints* e = get(&c.ex)) {
                               e->command(row.command, c.ex, c.args);
                           } else {
                               if (*row.failLog) c.ex.logMessage(row.failLog);
                               c.ex.raiseScriptError(row.failMessage);
                           }
                           return true;
                       }});
    }
    // The buffers stay as they are until the script flushes them: a view of each is enough.
    rt.setTextFunction("tcp_srv_read", 0, [get](FnCall&, std::string_view& text) {
        const TcpEndpoints* e = get(nullptr);
        text = e ? e->serverBuffer() : std::string_view();
        return true;
    });
    rt.setTextFunction("tcp_read", 0, [get](FnCall&, std::string_view& text) {
        const TcpEndpoints* e = get(nullptr);
        text = e ? e->clientBuffer() : std::string_view();
        return true;
    });
    rt.setFunction("tcp_srv_hasclient", 0, [get](FnCall&) {
        const TcpEndpoints* e = get(nullptr);
        return textResult(true, e ? e->servedClientAddress() : std::string());
    });
    rt.setFunction("tcp_isconnected", 0, [get](FnCall&) {
        const TcpEndpoints* e = get(nullptr);
        return textResult(true, e && e->clientConnected() ? "1" : "0");
    });
    rt.onRunStart.push_back([get] {
        if (TcpEndpoints* e = get(nullptr)) e->runStarted();
    });
    rt.onStop.push_back([get] {
        if (TcpEndpoints* e = get(nullptr)) e->stopGiven();
    });
    rt.onRunEnd.push_back([get] {
        if (TcpEndpoints* e = get(nullptr)) e->runEnded();
    });
}

} // namespace nv
