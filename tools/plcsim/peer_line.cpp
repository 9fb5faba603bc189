// Kept apart from every other file: the kernel's termios2 header clashes with <termios.h>.
#include "port.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace orv::plcsim {

namespace {

void Fill(const termios2& t, uint32_t speed, LineFormat& f) {
    f.speed = speed;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        f.dataBits = 5;
        break;
    case CS6:
        f.dataBits = 6;
        break;
    case CS7:
        f.dataBits = 7;
        break;
    default:
        f.dataBits = 8;
        break;
    }
    if (!(t.c_cflag & PARENB))
        f.parity = 'N';
    else if (t.c_cflag & CMSPAR)
        f.parity = (t.c_cflag & PARODD) ? 'M' : 'S';
    else
        f.parity = (t.c_cflag & PARODD) ? 'O' : 'E';
    f.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
}

} // namespace

bool ReadPeerLine(int fd, LineFormat& tx, LineFormat& rx) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    // An input speed of 0 means "the same as the output speed".
    const uint32_t in = t.c_ispeed ? t.c_ispeed : t.c_ospeed;
    Fill(t, t.c_ospeed, tx);
    Fill(t, in, rx);
    return true;
}

} // namespace orv::plcsim
