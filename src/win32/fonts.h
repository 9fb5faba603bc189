#pragma once
// The fonts of the Win32 windows at one DPI. The program's text is Microsoft Sans Serif, 11
// pixels at 96 DPI, a TrueType face so that it stays crisp when scaled.

#include <windows.h>

namespace orv {

enum class TFontRole {
    Normal,
    Bold,       // the about box's name
    Title,      // the title panels: bold, 16 pixels
    StatusLine, // the update window's main status line: bold, 19 pixels
};

class TFontSet {
public:
    explicit TFontSet(UINT dpi);
    ~TFontSet();
    TFontSet(const TFontSet&) = delete;
    TFontSet& operator=(const TFontSet&) = delete;

    UINT Dpi() const { return dpi_; }
    HFONT Get(TFontRole role) const { return fonts_[static_cast<int>(role)]; }
    // The program's font at 96 DPI, for controls that scale it themselves (the gauge).
    static LOGFONTW ProgramFont();

private:
    UINT dpi_;
    HFONT fonts_[4] = {};
};

} // namespace orv
