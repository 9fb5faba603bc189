#pragma once
// Line speeds that have no B-constant, through the kernel's termios2 interface. Kept in its own
// file: the kernel's termios header cannot be included beside the C library's.

#include <cstdint>

namespace orv {

// Sets input and output speed of the open terminal fd to baud; false when refused.
bool SetCustomBaudRate(int fd, uint32_t baud);

} // namespace orv
