// A program given the Windows programs' resources (orv_win32_resources) carries a version that
// Windows reads, the icon, and a manifest that takes effect: per-monitor DPI awareness, common
// controls version 6 and UTF-8 as the narrow code page.
#include "win32/resource_ids.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

namespace {

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, length);
}

// A string of the file's version resource, in US English and Unicode.
std::wstring VersionString(const std::vector<char>& info, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(info.data(), key.c_str(), &value, &length) || length == 0)
        return L"(none)";
    return static_cast<const wchar_t*>(value);
}

std::vector<char> VersionInfo(const std::wstring& path) {
    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    if (info.empty() || !GetFileVersionInfoW(path.c_str(), 0, DWORD(info.size()), info.data()))
        info.clear();
    return info;
}

TEST(Win32Resources, VersionIconAndManifest) {
    const std::vector<char> info = VersionInfo(ModulePath(nullptr));
    ASSERT_FALSE(info.empty()) << "no version resource";
    EXPECT_EQ(VersionString(info, L"ProductName"), L"Orv OS update");
    EXPECT_EQ(VersionString(info, L"ProductVersion"), ORV_VERSION);
    EXPECT_EQ(VersionString(info, L"FileDescription"), L"Windows resources test");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, DWORD(ORV_VERSION_MAJOR << 16 | ORV_VERSION_MINOR));

    // The icon, small and large.
    for (const int size : {16, 32, 256}) {
        HICON icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr),
                                                   MAKEINTRESOURCEW(IDI_ORV_APPLICATION),
                                                   IMAGE_ICON, size, size, 0));
        ASSERT_TRUE(icon) << size;
        ICONINFO parts{};
        ASSERT_TRUE(GetIconInfo(icon, &parts));
        BITMAP colour{};
        GetObjectW(parts.hbmColor, sizeof colour, &colour);
        EXPECT_EQ(colour.bmWidth, size);
        DeleteObject(parts.hbmColor);
        DeleteObject(parts.hbmMask);
        DestroyIcon(icon);
    }

    // The manifest: drawn at each monitor's own DPI.
    EXPECT_EQ(GetAwarenessFromDpiAwarenessContext(GetThreadDpiAwarenessContext()),
              DPI_AWARENESS_PER_MONITOR_AWARE);
    // Narrow text is UTF-8.
    EXPECT_EQ(GetACP(), UINT(CP_UTF8));
    // Common controls 6: the manifest's dependency sends comctl32 to version 6's assembly.
    ACTCTX_SECTION_KEYED_DATA found{};
    found.cbSize = sizeof found;
    ASSERT_TRUE(FindActCtxSectionStringW(FIND_ACTCTX_SECTION_KEY_RETURN_HACTCTX, nullptr,
                                         ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION,
                                         L"comctl32.dll", &found))
        << "comctl32 is not redirected";
    std::vector<char> assembly(4096);
    SIZE_T needed = 0;
    ASSERT_TRUE(QueryActCtxW(0, found.hActCtx, &found.ulAssemblyRosterIndex,
                             AssemblyDetailedInformationInActivationContext, assembly.data(),
                             assembly.size(), &needed));
    const auto* details =
        reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(assembly.data());
    const std::wstring identity = details->lpAssemblyEncodedAssemblyIdentity
                                      ? details->lpAssemblyEncodedAssemblyIdentity
                                      : L"";
    EXPECT_NE(identity.find(L"version=\"6."), std::wstring::npos)
        << std::string(identity.begin(), identity.end());
    ReleaseActCtx(found.hActCtx);
}

} // namespace
