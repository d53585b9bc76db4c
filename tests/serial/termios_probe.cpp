#include "termios_probe.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace nv::serial::test {

bool readTermios(int fd, uint32_t& cflag, uint32_t& speed) {
    struct termios2 t;
    if (::ioctl(fd, TCGETS2, &t) != 0) return false;
    cflag = t.c_cflag;
    speed = t.c_ospeed;
    return true;
}

} // namespace nv::serial::test
