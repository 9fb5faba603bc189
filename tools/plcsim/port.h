#pragma once
// The simulator's end of the line: a pseudo-terminal registered in the per-user virtual-port
// folder, or a real serial device.

#include "line_model.h"

#include <string>

namespace orv::plcsim {

// The line settings the program at the other end has set on its side of the line: tx is what
// it sends with, rx what it receives with. On Linux the pty master reports the termios that
// the slave side set (TCGETS2 on the master is answered from the slave), which is how the
// simulator hears the program's speed without touching its file descriptor. Only the speeds
// and the stop bits are the program's: the pty driver forces CS8 and clears PARENB on every
// tcsetattr, so data bits and parity read back as 8N whatever the program asked for.
bool ReadPeerLine(int fd, LineFormat& tx, LineFormat& rx);

// Raw mode at the given speed and format; speed must be a standard rate.
bool SetTtyLine(int fd, const LineFormat& line, std::string& error);

// $XDG_RUNTIME_DIR/orv-ports, or /tmp/runtime-$USER/orv-ports when XDG_RUNTIME_DIR is unset,
// the fallback Qt's RuntimeLocation uses; created with mode 0700 when missing.
bool VirtualPortFolder(std::string& folder, std::string& error);

struct Pty {
    int master = -1;
    // Held open so that the master never reads end-of-file while no program has the port open,
    // and to see how much of a reply the program has not yet read.
    int slave = -1;
    std::string slavePath;
};
bool OpenPty(Pty& pty, std::string& error);

// Creates folder/name -> target. An existing link to a terminal in use belongs to someone else
// and is left alone (an error); a stale one (its terminal gone, or a pseudo-terminal made after
// the link, which the link cannot have been made for) is replaced.
bool RegisterLink(const std::string& link, const std::string& target, std::string& error);
// Removes the link only while it still points at target.
void UnregisterLink(const std::string& link, const std::string& target);

} // namespace orv::plcsim
