#include "port_key.h"

#include <algorithm>
#include <cctype>

namespace orv {

std::string PortKey(const std::string& name) {
    // "com3", "COM3" and "\\.\COM3" open the same port.
    std::string key = name.rfind("\\\\.\\", 0) == 0 ? name.substr(4) : name;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return key;
}

} // namespace orv
