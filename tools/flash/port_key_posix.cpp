#include "port_key.h"
#include "serial/port_name_posix.h"

#include <filesystem>
#include <system_error>

namespace orv {

std::string PortKey(const std::string& name) {
    // "ttyUSB0", "/dev/ttyUSB0", a by-id link or a virtual port's link: the device they reach.
    for (const std::string& candidate : PortPathCandidates(name)) {
        std::error_code ec;
        const std::filesystem::path real = std::filesystem::canonical(candidate, ec);
        if (!ec)
            return real.string();
    }
    return name;
}

} // namespace orv
