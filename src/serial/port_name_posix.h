#pragma once
// Where StartComm looks for a port on POSIX, and the words it uses when it cannot open one.

#include <string>
#include <vector>

namespace orv {

// The per-user folder of virtual ports (symbolic links to terminal devices), with a trailing
// '/': $XDG_RUNTIME_DIR/orv-ports/, or, without it, where the desktop toolkits put the runtime
// folder then ($TMPDIR or /tmp, then /runtime-<user>).
std::string VirtualPortFolder();

// The paths StartComm tries for a port name, in order: a name with a '/' as it stands; a bare
// name in /dev/ and then in the virtual-port folder. Empty for an empty name.
std::vector<std::string> PortPathCandidates(const std::string& name);

// The second line of "Error opening serial port": the path, the system's reason and what to
// do about it. error is an errno value (EBUSY also stands for a port locked by another program).
std::string OpenFailureDetail(const std::string& path, int error);

} // namespace orv
