// The TCP module's entry: the executables load this file on a script's first TCP command
// (net/tcpfront.cpp) and make the endpoints through it.
#include "net/tcp.h"

extern "C" __attribute__((visibility("default"))) nv::TcpEndpoints*
norvane_tcp_endpoints(nv::Runtime* rt) {
    return new nv::TcpSubsystem(*rt);
}
