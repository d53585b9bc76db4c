// Reads a terminal's control flags and output speed with termios2, the way a test reads the
// line settings back from the device (a separate file: <asm/termbits.h> and <termios.h>
// cannot meet in one).
#pragma once

#include <cstdint>

namespace nv::serial::test {
bool readTermios(int fd, uint32_t& cflag, uint32_t& speed);
}
