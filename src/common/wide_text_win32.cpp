#include "common/wide_text.h"

#include <climits>
#include <windows.h>

namespace orv {

bool ToWide(std::string_view text, std::wstring& out) {
    out.clear();
    if (text.empty())
        return true;
    if (text.size() > INT_MAX / 2 || text.find('\0') != std::string_view::npos)
        return false;
    int size = static_cast<int>(text.size());
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (n <= 0)
        return false;
    out.resize(static_cast<size_t>(n));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, out.data(), n) ==
           n;
}

bool ToWidePath(std::string_view path, std::wstring& out) {
    if (!ToWide(path, out))
        return false;
    const auto starts = [&](std::wstring_view prefix) { return out.starts_with(prefix); };
    if (out.size() < MAX_PATH || starts(L"\\\\?\\") || starts(L"\\\\.\\"))
        return true;
    const DWORD size = GetFullPathNameW(out.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return true; // left to the file function to refuse
    std::wstring full(size, L'\0');
    full.resize(GetFullPathNameW(out.c_str(), size, full.data(), nullptr));
    out = full.starts_with(L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
    return true;
}

std::wstring WideText(std::string_view text) {
    if (text.empty() || text.size() > INT_MAX / 2)
        return {};
    const int size = static_cast<int>(text.size());
    std::wstring wide(
        static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
    return wide;
}

std::string ToUtf8(std::wstring_view text) {
    if (text.empty() || text.size() > INT_MAX / 4)
        return {};
    int size = static_cast<int>(text.size());
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

} // namespace orv
