#include "win32/fonts.h"

namespace orv {

LOGFONTW TFontSet::ProgramFont() {
    LOGFONTW font{};
    font.lfHeight = -11;
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfOutPrecision = OUT_TT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(font.lfFaceName, L"Microsoft Sans Serif", LF_FACESIZE);
    return font;
}

TFontSet::TFontSet(UINT dpi) : dpi_(dpi) {
    struct TShape {
        int Pixels;
        LONG Weight;
    };
    constexpr TShape shapes[] = {{11, FW_NORMAL}, {11, FW_BOLD}, {16, FW_BOLD}, {19, FW_BOLD}};
    for (int i = 0; i < 4; ++i) {
        LOGFONTW font = ProgramFont();
        font.lfHeight = -MulDiv(shapes[i].Pixels, int(dpi), USER_DEFAULT_SCREEN_DPI);
        font.lfWeight = shapes[i].Weight;
        fonts_[i] = CreateFontIndirectW(&font);
    }
}

TFontSet::~TFontSet() {
    for (HFONT font : fonts_)
        if (font)
            DeleteObject(font);
}

} // namespace orv
