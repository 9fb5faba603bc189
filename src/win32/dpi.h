#pragma once
// The DPI the Win32 windows are drawn at. The program declares itself per-monitor aware in its
// manifest, so a window follows its monitor's DPI; the functions that say which DPI that is
// came with Windows 10 and are looked up at run time, so that the program still starts on
// older systems, where the system DPI is used.

#include <windows.h>

namespace orv {

constexpr UINT kDefaultDpi = USER_DEFAULT_SCREEN_DPI; // 96: the DPI that layouts are given in

// The DPI `window` is drawn at.
UINT WindowDpi(HWND window);

// A length given at 96 DPI, at `dpi`: rounded to the nearest pixel for positions, up for sizes
// (so a size never shrinks below what the layout asked for).
int ScaleToDpi(int value, UINT dpi);
int ScaleSizeToDpi(int value, UINT dpi);

// The font Windows uses for message boxes, its height given at 96 DPI.
LOGFONTW MessageFont();

} // namespace orv
