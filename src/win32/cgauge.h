#pragma once
// TCGauge on GDI: a progress gauge (bar, pie, needle dial or bare percentage) in a small child
// window of its own. Every picture is composed off-screen in bitmaps: the overlay is combined
// with the picture by SRCINVERT, and the percentage, drawn white on black, is combined by
// SRCINVERT too, so each letter pixel shows the inverse of the colour beneath it, over the
// filled and the empty part alike. The picture reaches the window in one BitBlt, so nothing
// flickers. Rules, geometry and colours are those of the Linux program's gauge.
//
// Sizes and positions are given at 96 DPI, as the windows' layouts are; the window is placed
// and the picture drawn at the DPI of the monitor the window is on, with the layout kept and
// only the drawing finer. The parent should have WS_CLIPCHILDREN: the gauge paints every pixel
// of its window itself (it is opaque), so nothing behind it needs drawing first.

#include <cstdint>
#include <stdexcept>
#include <vector>
#include <windows.h>

namespace orv {

enum TCGaugeKind : uint8_t { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };

enum TFormBorderStyle : uint8_t {
    bsNone,
    bsSingle,
    bsSizeable,
    bsDialog,
    bsToolWindow,
    bsSizeToolWin
};

// Raised by SetMinValue and SetMaxValue for a value outside what the other bound allows.
class EGaugeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Left, top, right, bottom in the control's pixels (at 96 DPI); right and bottom are excluded.
struct TPaintRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};

// A picture as the gauge puts it on the screen: rows from the top, each pixel 0x00RRGGBB.
struct TGaugeImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint32_t> Pixels;

    uint32_t At(int x, int y) const { return Pixels[size_t(y) * Width + x]; }
};

class TBltBitmap;

class TCGauge {
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

    int32_t MinValue() const { return FMinValue; }
    int32_t MaxValue() const { return FMaxValue; }
    int32_t Progress() const { return FCurrentValue; }
    TCGaugeKind Kind() const { return FKind; }
    bool ShowText() const { return FShowText; }
    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    COLORREF ForeColor() const { return FForeColor; }
    COLORREF BackColor() const { return FBackColor; }
    // Fills the area outside the pie and the dial; the button face at first.
    COLORREF Color() const { return FColor; }
    // The font of the percentage, its height at 96 DPI; the message box font at first.
    const LOGFONTW& Font() const { return FFont; }

    // floor((Progress - MinValue) * 100 / (MaxValue - MinValue)); 0 for an empty range.
    int GetPercentDone() const;

    // Clamps to [MinValue, MaxValue]; repaints only when the whole percentage changes.
    void SetProgress(int32_t value);
    // SetProgress(Progress + delta), then repaints in any case.
    void AddProgress(int32_t delta);
    // Throws EGaugeError above MaxValue; nothing changes then.
    void SetMinValue(int32_t value);
    // A maximum of 0 is ignored; throws EGaugeError below MinValue.
    void SetMaxValue(int32_t value);

    // These store and repaint only when the value differs.
    void SeTCGaugeKind(TCGaugeKind value);
    void SetKind(TCGaugeKind value) { SeTCGaugeKind(value); }
    void SetShowText(bool value);
    void SetBorderStyle(TFormBorderStyle value);
    void SetForeColor(COLORREF value);
    void SetBackColor(COLORREF value);
    void SetColor(COLORREF value);
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
    void PaintBackground(TBltBitmap& bitmap) const;
    void PaintAsNothing(TBltBitmap& bitmap, const TPaintRect& r) const;
    void PaintAsBar(TBltBitmap& bitmap, const TPaintRect& r) const;
    void PaintAsPie(TBltBitmap& bitmap, const TPaintRect& r) const;
    void PaintAsNeedle(TBltBitmap& bitmap, const TPaintRect& r) const;
    void PaintAsText(TBltBitmap& bitmap, const TPaintRect& r) const;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Draws the picture into `picture`, a bitmap of the window's size at its DPI.
    void Compose(TBltBitmap& picture) const;
    // Draws at once when shown; a hidden gauge shows its state when it next appears.
    void Redraw();
    // Puts the window where the bounds say, at its DPI.
    void Place();
    // The percentage's font at `dpi`, made once for each DPI.
    HFONT FontAt(UINT dpi) const;

    struct TDevicePixels;
    TDevicePixels DevicePixelsOf(const TBltBitmap& bitmap) const;

    HWND FHandle = nullptr;
    int FLeft = 0;
    int FTop = 0;
    int FWidth = 100;
    int FHeight = 100;

    int32_t FMinValue = 0;
    int32_t FMaxValue = 100;
    int32_t FCurrentValue = 0;
    TCGaugeKind FKind = gkHorizontalBar;
    bool FShowText = true;
    TFormBorderStyle FBorderStyle = bsSingle;
    COLORREF FForeColor = RGB(0, 0, 0);
    COLORREF FBackColor = RGB(255, 255, 255);
    COLORREF FColor;
    LOGFONTW FFont;
    int FPaintCount = 0;

    mutable HFONT FFontHandle = nullptr;
    mutable UINT FFontDpi = 0;
};

} // namespace orv
