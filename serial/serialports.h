// The serial subsystem: the connection table (one slot for each port number 1 to 256), the
// pending settings of the port dialog, the port probe and its clean-up, openPort, and the
// script commands (openport, closeport, setrts, clearrts, setdtr, cleardtr, send, flush,
// showterm, hideterm, setport) and functions (receive, getcts, getdsr, getrlsd, getring,
// enumports, waitfor) that it plugs into the engine's tables.
//
// The probe opens every mapped device path, which is what enumports and openport need to see
// every port. The other commands and functions only need to know whether a connection they
// might discard has become free; a connection that is open holds its port's lock, so only
// connections that are not open are probed for them, and a script polling receive on an open
// port pays for no device path at all.
//
// Closing a port (closeport, the end of the program) first gives the bytes still queued for it
// up to kCloseDrainMs to go out, processing events meanwhile; a Stop ends that wait at once and
// keeps it from starting until the next run. Bytes left are logged with their count.
//
// Threading: user-interface thread; each open connection adds its receive thread (terminal.h).
// Error policy: script errors only, through the commands' own messages; nothing throws out of
// a command or function. A send the output queue refuses reports "send: error sending data."
// (kOutputQueueLimit, terminal.h); a send to a port whose device vanished reports "send:
// Serial port not open.", as a closed port does.
#pragma once

#include "base/limits.h"

#include <QPointer>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "serial/portdialog.h"
#include "serial/portmap.h"
#include "serial/serialdevice.h"
#include "serial/terminal.h"

class QWidget;

namespace nv {
class Runtime;
class Interpreter;
struct FnCall;
struct FnResult;
} // namespace nv

namespace nv::serial {

class SerialPorts {
  public:
    // How long a close waits for unsent bytes (base/limits.h).
    static constexpr int kCloseDrainMs = limits::kCloseDrainMs;

    struct Options {
        std::unique_ptr<SerialPlatform> platform; // null: the POSIX platform
        std::optional<PortMap> ports;             // nothing: settings file and environment
        std::string layoutFile;                   // empty: "terminal.res" in the program's folder
    };
    // `mainWindow` is null in the headless runner (no dialog; windows placed from 0,0).
    SerialPorts(QWidget* mainWindow, int& terminalX, int& terminalY, Options options);
    SerialPorts(QWidget* mainWindow, int& terminalX, int& terminalY);
    ~SerialPorts();

    void install(Runtime& rt);

    // The port probe: every mapped port that can be opened exclusively now, as "COM<n>".
    void probe();
    const std::vector<std::string>& portList() const { return portList_; }
    // Probe, then destroy the connections of the ports found free.
    void probeAndCleanUp();
    // Destroys the connections that are not open and whose port has become free (for the
    // commands and functions whose result depends only on their own port's connection).
    void cleanUpConnections();

    // Free ports as the dialog lists them: ("com<n>", device path).
    std::vector<std::pair<std::string, std::string>> freePorts();

    // Creates a connection and opens it; null when the names or numbers cannot be used.
    TerminalWindow* openPort(const std::string& name, const std::string& baud,
                             const std::string& dataBits, const std::string& parity,
                             const std::string& stopBits);

    // The connection in slot n, or null (also for n outside 1..256).
    TerminalWindow* terminal(int n) const;
    void destroy(int n);

    PortChoice pending; // the dialog's choices for the next openPort

    // Every port's traffic as it happens, its pane shown or not (norvane-run --serial-log):
    // the port's name ("COM5"), "(S) " or "(R) " and the bytes. None: nothing is kept.
    std::function<void(std::string_view port, std::string_view tag, std::string_view bytes)>
        traffic;
    const PortMap& ports() const { return ports_; }
    // The port dialog, made on first use; null without a main window, or once the main
    // window has deleted it.
    PortDialog* dialog();

  private:
    bool cmdOpenPort(Interpreter& ex, const std::vector<std::string>& args);
    bool cmdClosePort(Interpreter& ex, const std::vector<std::string>& args);
    bool cmdLine(Interpreter& ex, const std::vector<std::string>& args, std::string_view cmd);
    bool cmdSend(Interpreter& ex, const std::vector<std::string>& args);
    bool cmdFlush(Interpreter& ex, const std::vector<std::string>& args);
    bool cmdShowTerm(Interpreter& ex, const std::vector<std::string>& args);
    bool cmdHideTerm(Interpreter& ex, const std::vector<std::string>& args);
    bool cmdSetPort(Interpreter& ex);
    FnResult waitFor(FnCall& call);
    // The strict rule used by send, flush, receive and the line functions: after the
    // clean-up, the connection named by `port`, or null with "<name>: Serial port not
    // valid." or "<name>: Serial port not open." reported.
    TerminalWindow* strictConnection(Interpreter& ex, const std::string& port,
                                     std::string_view name);
    // Waits (bounded) until the connections numbered `numbers` have sent their queued bytes, then
    // destroys them. `userInput`: clicks and keys are handled during the wait (inside a run,
    // where the Stop button must work); otherwise they wait until it is over.
    void drainAndDestroy(const std::vector<int>& numbers, bool userInput);

    QWidget* mainWindow_;
    Runtime* rt_ = nullptr; // set by install()
    bool stopGiven_ = false;
    int& terminalX_;
    int& terminalY_;
    std::unique_ptr<SerialPlatform> platform_;
    PortMap ports_;
    std::string layoutFile_;
    // Every change of a slot goes through setSlot, which keeps used_: the numbers of the
    // slots that hold a connection.
    void setSlot(int n, std::unique_ptr<TerminalWindow> t);
    std::array<std::unique_ptr<TerminalWindow>, kMaxPort + 1> table_;
    std::vector<int> used_;
    std::vector<std::string> portList_;
    // A child of the main window, which may be destroyed first and then deletes it.
    QPointer<PortDialog> dialog_;
    bool dialogMade_ = false; // never made twice: a deleted dialog went with its parent
};

} // namespace nv::serial
