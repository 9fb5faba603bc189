#pragma once
// The entries the connect dialog lists: the machine's serial ports, then the virtual ports.

#include <string>
#include <vector>

namespace orv {

// Ports as "name: (description)" or the name alone, in the order the system reports them;
// then each symbolic link in the virtual-port folder whose target is a live terminal device,
// as "name: (Virtual port)", by name.
std::vector<std::string> ListPortEntries();

// The virtual-port folder as the toolkit computes it (RuntimeLocation + "/orv-ports/").
std::string QtVirtualPortFolder();

} // namespace orv
