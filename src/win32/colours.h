#pragma once
// The colours of the Win32 windows. Their own look (blue title panels, the navy status line,
// red values) gives way to the system's colours while high contrast is on: a dark theme's
// button face is black, and navy text on it cannot be read.

#include <optional>
#include <windows.h>

namespace orv {

// Whether high contrast is on (SPI_GETHIGHCONTRAST), as last read.
bool HighContrast();
// Reads the setting again, as the system's colours or theme have changed (WM_SYSCOLORCHANGE,
// WM_THEMECHANGED).
void ReadSystemLook();
// Decides HighContrast() whatever the system says, or (nullopt) leaves it to the system again:
// for pictures and tests on a system that cannot switch it (Wine has no high contrast).
void OverrideHighContrast(std::optional<bool> on);

// A colour of the windows: the program's own, or the system colour `System` while high
// contrast is on, and always where the program has none of its own (CLR_INVALID).
struct TColour {
    COLORREF Own;
    int System;
    COLORREF Now() const;
};

constexpr TColour SystemColour(int index) {
    return {CLR_INVALID, index};
}

} // namespace orv
