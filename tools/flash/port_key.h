#pragma once
// Whether two port names of a plan open the same device (flash_plan.cpp): port_key_posix.cpp
// and port_key_win32.cpp.

#include <string>

namespace orv {

// The same text for every name that opens the same device, looked up the way the serial port
// looks it up; a name that opens nothing gives itself.
std::string PortKey(const std::string& name);

} // namespace orv
