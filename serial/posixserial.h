// The termios side of the POSIX serial platform, exposed so that the encoding of line
// settings can be checked without a UART (a pseudo-terminal forces 8 data bits and no
// parity, so reading the flags back from one cannot show them).
//
// Pure functions, any thread. Errors: none; callers validate with settingsValid() first.
#pragma once

#include <cstdint>

#include "serial/serialdevice.h"

namespace nv::serial {

// The control flags and speed for termios2: `cflag` is the device's current control word; the
// size, parity, stop-bit and speed fields are replaced (the standard speed code where the
// rate has one, BOTHER with the rate in `speed` otherwise), the receiver is enabled and
// modem control lines are ignored for opening (CLOCAL), hardware flow control is off.
struct TermiosLine {
    uint32_t cflag;
    uint32_t speed;
};
TermiosLine encodeLine(const LineSettings& s, uint32_t cflag);
// The reverse, for reading settings back. Parity and data bits come from the flags, the baud
// rate from the speed.
LineSettings decodeLine(uint32_t cflag, uint32_t speed);

} // namespace nv::serial
