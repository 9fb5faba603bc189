// The port list on Windows: the present devices of the Ports class that name a COM port, with
// their descriptions, in the order the device setup interface gives them; then the ports only
// HARDWARE\DEVICEMAP\SERIALCOMM names, in its order. Virtual-port drivers and some USB drivers
// register there alone, and a machine may have both kinds, so both sources are always read.

#include "common/wide_text.h"
#include "serial/port_list.h"

#include <windows.h>
// setupapi.h needs windows.h before it.
#include <setupapi.h>

namespace orv {

namespace {

// The Ports class holds printer ports too: a COM port's name is longer than "COM" and starts
// with it, in any case ("LPT1" and a bare "COM" are not listed).
bool IsComPortName(const std::wstring& name) {
    return name.size() > 3 && CompareStringOrdinal(name.c_str(), 3, L"COM", 3, TRUE) == CSTR_EQUAL;
}

// A REG_SZ read whole, whatever its length; registry strings need not end in a zero.
std::wstring StringOf(const std::vector<BYTE>& data) {
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

bool ReadStringValue(HKEY key, const wchar_t* name, std::wstring& out) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    std::vector<BYTE> data(size);
    if (RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    data.resize(size);
    out = StringOf(data);
    return true;
}

bool ReadDescription(HDEVINFO set, SP_DEVINFO_DATA& device, std::wstring& out) {
    DWORD type = 0, size = 0;
    SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_DEVICEDESC, &type, nullptr, 0, &size);
    std::vector<BYTE> data(size);
    if (size == 0 ||
        !SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_DEVICEDESC, &type, data.data(), size,
                                           &size) ||
        type != REG_SZ)
        return false;
    out = StringOf(data);
    return !out.empty();
}

// Each port once: a driver may register a port in the class and in the device map, and letter
// case does not make another port.
struct TPortEntries {
    std::vector<std::wstring> Names;
    std::vector<std::string> Entries;

    void Add(const std::wstring& name, const std::string& entry) {
        for (const std::wstring& listed : Names)
            if (CompareStringOrdinal(listed.c_str(), static_cast<int>(listed.size()), name.c_str(),
                                     static_cast<int>(name.size()), TRUE) == CSTR_EQUAL)
                return;
        Names.push_back(name);
        Entries.push_back(entry);
    }
};

struct TDeviceList {
    HDEVINFO Set;
    ~TDeviceList() { SetupDiDestroyDeviceInfoList(Set); }
};

void AddSetupPorts(TPortEntries& ports) {
    DWORD count = 0;
    SetupDiClassGuidsFromNameW(L"Ports", nullptr, 0, &count);
    if (count == 0)
        return;
    std::vector<GUID> classes(count);
    if (!SetupDiClassGuidsFromNameW(L"Ports", classes.data(), count, &count) || count == 0)
        return;
    const HDEVINFO set = SetupDiGetClassDevsW(&classes[0], nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return;
    const TDeviceList owned{set};
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        const HKEY key =
            SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        std::wstring name;
        const bool isPort = ReadStringValue(key, L"PortName", name) && IsComPortName(name);
        RegCloseKey(key);
        if (!isPort)
            continue;
        std::wstring description;
        ports.Add(name, ReadDescription(set, device, description)
                            ? ToUtf8(name) + ": (" + ToUtf8(description) + ")"
                            : ToUtf8(name));
    }
}

// The map knows a port's device object (\Device\VCP0), not what it is: such a port is listed by
// its name alone rather than by a guessed description.
void AddDeviceMapPorts(TPortEntries& ports) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return;
    DWORD longestName = 0, longestData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &longestName, &longestData, nullptr, nullptr) == ERROR_SUCCESS) {
        std::vector<wchar_t> name(longestName + 1);
        std::vector<BYTE> data(longestData);
        for (DWORD i = 0;; ++i) {
            DWORD nameLength = static_cast<DWORD>(name.size());
            DWORD size = static_cast<DWORD>(data.size());
            DWORD type = 0;
            const LONG rc =
                RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size);
            if (rc == ERROR_NO_MORE_ITEMS)
                break;
            if (rc != ERROR_SUCCESS || type != REG_SZ)
                continue;
            const std::wstring port =
                StringOf(std::vector<BYTE>(data.begin(), data.begin() + size));
            if (IsComPortName(port))
                ports.Add(port, ToUtf8(port));
        }
    }
    RegCloseKey(key);
}

} // namespace

std::vector<std::string> ListPortEntries() {
    TPortEntries ports;
    AddSetupPorts(ports);
    AddDeviceMapPorts(ports);
    return std::move(ports.Entries);
}

} // namespace orv
