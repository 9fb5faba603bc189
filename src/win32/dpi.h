#pragma once
// The DPI the Win32 windows are drawn at. The program declares itself per-monitor aware in its
// manifest, so a window follows its monitor's DPI; the functions that say which DPI that is
// came with Windows 10 and are looked up at run time, so that the program still starts on
// older systems, where the system DPI is used.

#include <windows.h>

namespace orv {

constexpr UINT kDefaultDpi = USER_DEFAULT_SCREEN_DPI; // 96: the DPI that layouts are given in

// A user32 function of a later Windows than the oldest the program runs on, looked up at run
// time; null where this system has none.
template <typename Function>
Function User32Function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// The DPI `window` is drawn at.
UINT WindowDpi(HWND window);

// A length given at 96 DPI, at `dpi`: rounded to the nearest pixel for positions, up for sizes
// (so a size never shrinks below what the layout asked for).
int ScaleToDpi(int value, UINT dpi);
int ScaleSizeToDpi(int value, UINT dpi);

// The font Windows uses for message boxes, its height given at 96 DPI.
LOGFONTW MessageFont();

// The frame and the metrics of a window at `dpi`; the system DPI's before Windows 10.
BOOL AdjustWindowRectForDpi(RECT& rect, DWORD style, BOOL menu, DWORD exStyle, UINT dpi);
int SystemMetricForDpi(int index, UINT dpi);

// The dialog manager of Windows 10 would scale a dialog and its controls on its own when the
// DPI changes; the program's windows do it themselves, from their layouts.
void KeepDpiChangesToOurselves(HWND dialog);

} // namespace orv
