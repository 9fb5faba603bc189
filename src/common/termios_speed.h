#pragma once
// The termios constant of a line speed, for the serial link and the simulator alike (POSIX
// only).

#include <cstdint>
#include <termios.h>

namespace orv {

// B0 when the kernel has no constant for baud bits per second: set such a rate through
// termios2, or refuse it.
speed_t TermiosSpeed(uint32_t baud);

} // namespace orv
