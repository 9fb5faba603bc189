// The port list on Linux: the serial devices udev knows, then the virtual ports.

#include "serial/port_list.h"
#include "serial/port_name_posix.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <libudev.h>
#include <linux/serial.h>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace orv {

namespace {

struct TUdevRelease {
    void operator()(udev* p) const { udev_unref(p); }
    void operator()(udev_enumerate* p) const { udev_enumerate_unref(p); }
    void operator()(udev_device* p) const { udev_device_unref(p); }
};
template <class T>
using TUdevPtr = std::unique_ptr<T, TUdevRelease>;

// The PC UART driver makes its legacy ports whether or not a UART is behind them; only those
// whose UART answers are ports. One held by another program is there all the same.
bool IsUartPresent(const char* devnode) {
    const int fd = open(devnode, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY;
    serial_struct info{};
    const bool present = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    close(fd);
    return present;
}

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// Terminals without a parent device are consoles and pseudo-terminals, except these serial
// ports: Bluetooth (rfcomm0 to rfcomm255), a virtual null-modem pair (tnt*) and a USB gadget's
// serial function (ttyGS*).
bool IsParentlessPort(const std::string& name) {
    if (StartsWith(name, "tnt") || StartsWith(name, "ttyGS"))
        return true;
    if (!StartsWith(name, "rfcomm") || name.size() == 6 || name.size() > 9)
        return false;
    const std::string number = name.substr(6);
    return std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
           std::stoi(number) <= 255;
}

// The model as udev names it, with its '_' for blanks undone: "FT232R_USB_UART" is shown as
// "FT232R USB UART".
std::string Description(udev_device* device) {
    const char* model = udev_device_get_property_value(device, "ID_MODEL");
    std::string text = model ? model : "";
    std::replace(text.begin(), text.end(), '_', ' ');
    return text;
}

void AddSerialDevices(std::vector<std::string>& entries) {
    const TUdevPtr<udev> context(udev_new());
    if (!context)
        return;
    const TUdevPtr<udev_enumerate> scan(udev_enumerate_new(context.get()));
    if (!scan || udev_enumerate_add_match_subsystem(scan.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(scan.get()) < 0)
        return;
    udev_list_entry* item = nullptr;
    udev_list_entry_foreach(item, udev_enumerate_get_list_entry(scan.get())) {
        const TUdevPtr<udev_device> device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(item)));
        if (!device)
            continue;
        const char* sysname = udev_device_get_sysname(device.get());
        const char* devnode = udev_device_get_devnode(device.get());
        if (!sysname || !devnode)
            continue;
        const std::string name = sysname;
        if (udev_device* parent = udev_device_get_parent(device.get())) {
            const char* driver = udev_device_get_driver(parent);
            if (driver && std::strcmp(driver, "serial8250") == 0 && !IsUartPresent(devnode))
                continue;
        } else if (!IsParentlessPort(name)) {
            continue;
        }
        std::string entry = name;
        if (const std::string description = Description(device.get()); !description.empty())
            entry.append(": (").append(description).append(")");
        entries.push_back(std::move(entry));
    }
}

// A terminal that is there now: a pseudo-terminal's node goes when its master closes; other
// character devices (/dev/null, say) are not serial ports.
bool IsLiveTerminal(udev* context, const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned maj = major(st.st_rdev);
    if (maj >= 136 && maj <= 143) // pseudo-terminal slaves, which udev does not know
        return true;
    if (!context)
        return false;
    const TUdevPtr<udev_device> device(udev_device_new_from_devnum(context, 'c', st.st_rdev));
    const char* subsystem = device ? udev_device_get_subsystem(device.get()) : nullptr;
    return subsystem && std::strcmp(subsystem, "tty") == 0;
}

void AddVirtualPorts(std::vector<std::string>& entries) {
    namespace fs = std::filesystem;
    const TUdevPtr<udev> context(udev_new());
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(VirtualPortFolder(), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code unreadable;
        // The port name ends at the first ':' of an entry, so such a name could not be opened.
        if (name.find(':') != std::string::npos || !it->is_symlink(unreadable))
            continue;
        if (IsLiveTerminal(context.get(), it->path().string()))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        entries.push_back(name + ": (Virtual port)");
}

} // namespace

std::vector<std::string> ListPortEntries() {
    std::vector<std::string> entries;
    AddSerialDevices(entries);
    AddVirtualPorts(entries);
    return entries;
}

} // namespace orv
