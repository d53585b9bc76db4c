#include "net/tcpfront.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "base/files.h"
#include "engine/host.h"
#include "engine/interpreter.h"
#include "engine/runtime.h"

// The module's file, placed in the program by the build (tcpmodule_image.cpp). It sits in a
// read-only segment that is paged in only when a script first uses TCP.
extern "C" const unsigned char norvane_tcp_module_start[];
extern "C" const unsigned char norvane_tcp_module_end[];

namespace nv {

namespace {

bool writeAll(int fd, const unsigned char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// The dynamic loader takes a file by its path: the module's bytes go to an anonymous memory
// file, reached through /proc/self/fd; where /proc is not mounted, to a temporary file that
// is removed again once loaded.
void* openModule(std::string& why) {
    const unsigned char* bytes = norvane_tcp_module_start;
    const size_t size = static_cast<size_t>(norvane_tcp_module_end - norvane_tcp_module_start);
    const int mem = ::memfd_create("norvane-tcp", MFD_CLOEXEC);
    if (mem >= 0) {
        void* h = nullptr;
        if (writeAll(mem, bytes, size)) {
            const std::string path = "/proc/self/fd/" + std::to_string(mem);
            if (::access(path.c_str(), R_OK) == 0) {
                h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
                if (!h) why = ::dlerror();
            }
        } else {
            why = "writing the module: " + errnoText(errno);
        }
        ::close(mem);
        if (h || !why.empty()) return h;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/norvane-tcp-XXXXXX";
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
        why = "no place for the module (" + path + "): " + errnoText(errno);
        return nullptr;
    }
    void* h = nullptr;
    if (!writeAll(fd, bytes, size)) {
        why = "writing the module (" + path + "): " + errnoText(errno);
    } else {
        h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!h) why = ::dlerror();
    }
    ::close(fd);
    ::unlink(path.c_str());
    return h;
}

} // namespace

std::unique_ptr<TcpEndpoints> TcpFront::loadModule(Runtime& rt, std::string& why) {
    using Make = TcpEndpoints* (*)(Runtime*);
    // Loaded once and never unloaded: the endpoints' code and Qt's record of their classes
    // must outlive every object made from them.
    static Make make = nullptr;
    static std::string failure;
    if (!make && failure.empty()) {
        if (void* h = openModule(failure)) {
            make = reinterpret_cast<Make>(::dlsym(h, "norvane_tcp_endpoints"));
            if (!make) failure = ::dlerror();
        }
        if (!make && failure.empty()) failure = "the module could not be loaded";
    }
    if (!make) {
        why = failure;
        return nullptr;
    }
    return std::unique_ptr<TcpEndpoints>(make(&rt));
}

TcpFront::TcpFront(Runtime& rt, Loader loader)
    : rt_(rt), loader_(loader ? std::move(loader) : Loader(&TcpFront::loadModule)) {
    installTcp(rt, [this](Interpreter* ex) { return get(ex); });
    // A module loaded during a run starts in it.
    rt.onRunStart.push_back([this] { running_ = true; });
    rt.onRunEnd.push_back([this] { running_ = false; });
}

TcpFront::~TcpFront() = default;

TcpEndpoints* TcpFront::get(Interpreter* ex) {
    if (endpoints_ || !ex) return endpoints_.get();
    std::string why;
    endpoints_ = loader_(rt_, why);
    if (!endpoints_) {
        ex->logMessage("TCP unavailable: " + why, {LogKind::Error});
        return nullptr;
    }
    if (running_) endpoints_->runStarted();
    return endpoints_.get();
}

} // namespace nv
