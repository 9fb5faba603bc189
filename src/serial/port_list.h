#pragma once
// The entries the connect dialog lists (port_list_posix.cpp, port_list_win32.cpp).

#include <string>
#include <vector>

namespace orv {

// The machine's serial ports as "name: (description)", or the name alone when there is no
// description, in the order the system reports them; on Windows the Ports class's ports and then
// those only the serial device map names, each port once. On POSIX then each symbolic link in
// the virtual-port folder whose target is a live terminal device, as "name: (Virtual port)", by
// name.
std::vector<std::string> ListPortEntries();

} // namespace orv
