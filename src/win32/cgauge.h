#pragma once
// TCGauge on GDI: a progress gauge (bar, pie, needle dial or bare percentage) in a small child
// window of its own. Every picture is composed off-screen in bitmaps: the overlay is combined
// with the picture by SRCINVERT, and the percentage, drawn white on black, is combined by
// SRCINVERT too, so each letter pixel shows the inverse of the colour beneath it, over the
// filled and the empty part alike. The picture reaches the window in one BitBlt, so nothing
// flickers. Its properties, their rules and the picture's geometry and shapes are the plain
// gauge's (forms/gauge_model.h, gauge_picture.h), which the Qt gauge draws with too.
//
// Screen readers find it as a progress bar named "Progress" with its percentage as its value
// (gauge_accessible.h), told of each new percentage.
//
// Sizes and positions are given at 96 DPI, as the windows' layouts are; the window is placed
// and the picture drawn at the DPI of the monitor the window is on, with the layout kept and
// only the drawing finer. The parent should have WS_CLIPCHILDREN: the gauge paints every pixel
// of its window itself (it is opaque), so nothing behind it needs drawing first.

#include "forms/gauge_model.h"
#include "forms/gauge_picture.h"

#include <cstdint>
#include <string>
#include <vector>
#include <windows.h>

namespace orv {

// A picture as the gauge puts it on the screen: rows from the top, each pixel 0x00RRGGBB.
struct TGaugeImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint32_t> Pixels;

    uint32_t At(int x, int y) const { return Pixels[size_t(y) * Width + x]; }
};

class TBltBitmap;

class TCGauge : public TGaugeProperties<TCGauge> {
public:
    TCGauge();
    ~TCGauge();
    TCGauge(const TCGauge&) = delete;
    TCGauge& operator=(const TCGauge&) = delete;

    // Makes the control's window, a child of `parent` with the control id `id`, where SetBounds
    // put it. Until then the gauge keeps its state and Render draws it, but nothing is shown.
    // Throws std::runtime_error when Windows refuses the window.
    void CreateHandle(HWND parent, int id = 0);
    HWND Handle() const { return FHandle; }

    // Position in the parent's client area and size, at 96 DPI. 100 x 100 at first.
    void SetBounds(int left, int top, int width, int height);
    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }

    COLORREF ForeColor() const { return ColorRefOf(FModel.ForeColor()); }
    COLORREF BackColor() const { return ColorRefOf(FModel.BackColor()); }
    // Fills the area outside the pie and the dial; the button face at first.
    COLORREF Color() const { return ColorRefOf(FModel.Color()); }
    // The font of the percentage, its height at 96 DPI; the message box font at first.
    const LOGFONTW& Font() const { return FFont; }

    // These store and repaint only when the value differs.
    void SetForeColor(COLORREF value) { Redraw(FModel.SetForeColor(RgbOf(value))); }
    void SetBackColor(COLORREF value) { Redraw(FModel.SetBackColor(RgbOf(value))); }
    void SetColor(COLORREF value) { Redraw(FModel.SetColor(RgbOf(value))); }
    void SetFont(const LOGFONTW& value);

    // The picture Paint puts on the screen, drawn at `dpi`: Width x Height scaled by dpi / 96
    // and rounded up; empty when the control has no area.
    TGaugeImage Render(UINT dpi = 96) const;

    // Draws the control onto `dc`, the device context of its window, at the window's DPI. Called
    // for WM_PAINT and by every repaint above.
    void Paint(HDC dc);

    // Paints done so far, for callers that check that nothing was drawn needlessly.
    int PaintCount() const { return FPaintCount; }

protected:
    // The percentage, drawn with the gauge's font and combined by SRCINVERT; the other drawing
    // steps are the plain gauge's (TGaugePicture).
    void PaintAsText(TBltBitmap& bitmap, const TGaugePicture& picture, const TPaintRect& r) const;

private:
    friend class TGaugeProperties<TCGauge>;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Between COLORREF (0x00BBGGRR) and the plain gauge's 0xRRGGBB.
    static TGaugeColour RgbOf(COLORREF colour) {
        return TGaugeColour(GetRValue(colour)) << 16 | TGaugeColour(GetGValue(colour)) << 8 |
               GetBValue(colour);
    }
    static COLORREF ColorRefOf(TGaugeColour rgb) {
        return RGB(rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF);
    }

    // Draws the picture into `picture`, a bitmap of the window's size at its DPI.
    void Compose(TBltBitmap& picture) const;
    // Draws at once when the picture `changed` and the window is shown; a hidden gauge shows
    // its state when it next appears.
    void Redraw(bool changed);
    // Puts the window where the bounds say, at its DPI.
    void Place();
    // The percentage's font at `dpi`, made once for each DPI.
    HFONT FontAt(UINT dpi) const;
    // The accessible value of the gauge whose window this is; "" once it has gone.
    static std::string SpokenValueOf(HWND window);

    HWND FHandle = nullptr;
    int FLeft = 0;
    int FTop = 0;
    int FWidth = 100;
    int FHeight = 100;

    LOGFONTW FFont;
    int FPaintCount = 0;
    int FSpokenPercent = 0; // the percentage screen readers were last told of

    mutable HFONT FFontHandle = nullptr;
    mutable UINT FFontDpi = 0;
};

} // namespace orv
