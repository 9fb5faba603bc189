#include "serial/port_name_win32.h"

#include "common/wide_text.h"

#include <windows.h>

namespace orv {

namespace {

// A name with no folder or drive in it names a device.
bool IsBareName(const std::string& name) {
    return name.find_first_of("\\/:") == std::string::npos;
}

} // namespace

std::vector<std::string> PortPathCandidates(const std::string& name) {
    if (name.empty())
        return {};
    if (IsBareName(name))
        return {"\\\\.\\" + name, "\\\\?\\" + name};
    if (name.rfind("\\\\", 0) == 0)
        return {name};
    return {name, "\\\\?\\" + name};
}

std::string SystemMessage(unsigned long error) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n && text ? std::wstring(text, n) : std::wstring();
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' ||
                                message.back() == L' ' || message.back() == L'.'))
        message.pop_back();
    const std::string number = "error " + std::to_string(error);
    return message.empty() ? number : ToUtf8(message) + " (" + number + ")";
}

std::string OpenFailureDetail(const std::string& path, unsigned long error) {
    const std::string reason = path + ": " + SystemMessage(error) + ". ";
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return reason + "Another program holds the port (a terminal program, a second copy of "
                        "this one, or a modem or synchronisation tool): close it, or unplug the "
                        "adapter and plug it in again.";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_NAME:
        return reason + "There is no such port on this computer: check that the adapter is "
                        "plugged in and which COM number Windows gave it (Device Manager, Ports "
                        "(COM & LPT)), or pick another port.";
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    case ERROR_BAD_UNIT:
    case ERROR_BAD_COMMAND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        return reason + "The port's driver does not answer: it may be missing or not working. "
                        "Look at the port in Device Manager, install or reinstall the adapter's "
                        "driver, or plug the adapter in again.";
    default:
        return reason + "Check the port name and that the device is working.";
    }
}

} // namespace orv
