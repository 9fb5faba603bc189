#include "ports_class_win32.h"

#include "common/wide_text.h"

#include <vector>
#include <windows.h>
// setupapi.h needs windows.h before it.
#include <setupapi.h>

namespace orv::test {

namespace {

// The Ports (COM & LPT) device class.
const GUID PortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const std::wstring DevicePrefix = L"ROOT\\ORVTEST\\";
const std::wstring MapPrefix = L"\\Device\\OrvTest";
const wchar_t* const DeviceMap = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

std::wstring Wide(const std::string& text) {
    std::wstring wide;
    ToWide(text, wide);
    return wide;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

bool AddTestPort(const std::string& portName, const std::string& description) {
    const HDEVINFO set = SetupDiCreateDeviceInfoList(&PortsClass, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return false;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    // The next free instance ID: others may be left over, or held by another run.
    bool added = false;
    for (int n = 0; n < 1000 && !added; ++n) {
        const std::wstring id = DevicePrefix + std::to_wstring(1000 + n);
        added =
            SetupDiCreateDeviceInfoW(set, id.c_str(), &PortsClass, nullptr, nullptr, 0, &device);
    }
    added = added && SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr);
    const HKEY key = added ? SetupDiCreateDevRegKeyW(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                                     nullptr, nullptr)
                           : HKEY(INVALID_HANDLE_VALUE);
    added = key != INVALID_HANDLE_VALUE;
    if (added) {
        const std::wstring name = Wide(portName);
        added = RegSetValueExW(
                    key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                    static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    if (added && !description.empty()) {
        const std::wstring text = Wide(description);
        added = SetupDiSetDeviceRegistryPropertyW(
            set, &device, SPDRP_DEVICEDESC, reinterpret_cast<const BYTE*>(text.c_str()),
            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    SetupDiDestroyDeviceInfoList(set);
    return added;
}

bool MapTestPort(const std::string& portName) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, DeviceMap, 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    static int count = 0;
    const std::wstring value =
        MapPrefix + std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(count++);
    const std::wstring name = Wide(portName);
    const bool added =
        RegSetValueExW(key, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                       static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(key);
    return added;
}

void RemoveTestPortDevices() {
    const HDEVINFO set = SetupDiGetClassDevsW(&PortsClass, nullptr, nullptr, 0);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        wchar_t id[512] = L"";
        if (SetupDiGetDeviceInstanceIdW(set, &device, id, 512, nullptr) &&
            StartsWith(id, DevicePrefix))
            SetupDiRemoveDevice(set, &device);
    }
    SetupDiDestroyDeviceInfoList(set);
}

void RemoveTestPortMapEntries() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, DeviceMap, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return;
    std::vector<std::wstring> ours;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        const LONG rc = RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc == ERROR_SUCCESS && StartsWith(name, MapPrefix))
            ours.emplace_back(name);
    }
    for (const std::wstring& value : ours)
        RegDeleteValueW(key, value.c_str());
    RegCloseKey(key);
}

} // namespace orv::test
