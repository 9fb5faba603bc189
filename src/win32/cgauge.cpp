#include "win32/cgauge.h"

#include "win32/dpi.h"
#include "win32/gauge_accessible.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <string>

namespace orv {

namespace {

constexpr wchar_t kWindowClass[] = L"OrvCGauge";
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

} // namespace

// A device-independent bitmap (32 bits a pixel, rows from the top) in a memory device context
// of its own: GDI draws into it, and the gauge's shapes go straight into its pixels.
class TBltBitmap {
public:
    TBltBitmap() = default;
    TBltBitmap(int width, int height, UINT dpi) { Make(width, height, dpi); }
    ~TBltBitmap() { Release(); }
    TBltBitmap(const TBltBitmap&) = delete;
    TBltBitmap& operator=(const TBltBitmap&) = delete;

    // Sizes this bitmap like `like` and fills it with a solid brush of `colour`.
    void SizeLike(const TBltBitmap& like, COLORREF colour) {
        Make(like.Width, like.Height, like.Dpi);
        Fill(0, 0, Width, Height, colour);
    }

    bool Valid() const { return Bits != nullptr; }

    // Fills [left, right) x [top, bottom); an empty rectangle fills nothing.
    void Fill(int64_t left, int64_t top, int64_t right, int64_t bottom, COLORREF colour) {
        if (!Valid() || left >= right || top >= bottom)
            return;
        const auto clamp = [](int64_t v, int limit) {
            return static_cast<LONG>(std::clamp<int64_t>(v, 0, limit));
        };
        const RECT area{clamp(left, Width), clamp(top, Height), clamp(right, Width),
                        clamp(bottom, Height)};
        SetDCBrushColor(Canvas, colour);
        FillRect(Canvas, &area, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    }

    // The pixels, once GDI has finished what it was asked to draw; none when GDI had no
    // memory for the bitmap.
    TPixelMap Pixels() {
        if (!Valid())
            return {};
        GdiFlush();
        return {Bits, Width, Height, Width};
    }

    HDC Canvas = nullptr;
    uint32_t* Bits = nullptr;
    int Width = 0;
    int Height = 0;
    UINT Dpi = kDefaultDpi;

private:
    void Make(int width, int height, UINT dpi) {
        Release();
        Width = width;
        Height = height;
        Dpi = dpi;
        if (width <= 0 || height <= 0)
            return;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height; // rows from the top
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        Canvas = CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        bitmap_ =
            Canvas ? CreateDIBSection(Canvas, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
        if (!bitmap_) {
            Release();
            return;
        }
        old_ = SelectObject(Canvas, bitmap_);
        Bits = static_cast<uint32_t*>(bits);
    }

    void Release() {
        if (Canvas && old_)
            SelectObject(Canvas, old_);
        if (bitmap_)
            DeleteObject(bitmap_);
        if (Canvas)
            DeleteDC(Canvas);
        Canvas = nullptr;
        bitmap_ = nullptr;
        old_ = nullptr;
        Bits = nullptr;
    }

    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

TCGauge::TCGauge() : FFont(MessageFont()) {
    (void)FModel.SetColor(RgbOf(GetSysColor(COLOR_BTNFACE)));
}

TCGauge::~TCGauge() {
    if (FHandle) {
        SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
        DestroyWindow(FHandle);
    }
    if (FFontHandle)
        DeleteObject(FFontHandle);
}

void TCGauge::CreateHandle(HWND parent, int id) {
    if (FHandle)
        DestroyWindow(FHandle); // one window at a time
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    if (!GetClassInfoExW(instance, kWindowClass, &windowClass)) {
        // The layout scales with the size, so a resize redraws the whole window; the gauge
        // paints every pixel itself, so there is no background brush.
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.lpszClassName = kWindowClass;
        RegisterClassExW(&windowClass);
    }
    const UINT dpi = WindowDpi(parent);
    FHandle = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE, ScaleToDpi(FLeft, dpi),
                              ScaleToDpi(FTop, dpi), ScaleSizeToDpi(FWidth, dpi),
                              ScaleSizeToDpi(FHeight, dpi), parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, this);
    if (!FHandle)
        throw std::runtime_error("Cannot create the progress gauge's window (error " +
                                 std::to_string(GetLastError()) + ")");
}

void TCGauge::SetBounds(int left, int top, int width, int height) {
    FLeft = left;
    FTop = top;
    FWidth = std::max(width, 0);
    FHeight = std::max(height, 0);
    Place();
}

void TCGauge::Place() {
    if (!FHandle)
        return;
    const UINT dpi = WindowDpi(FHandle);
    SetWindowPos(FHandle, nullptr, ScaleToDpi(FLeft, dpi), ScaleToDpi(FTop, dpi),
                 ScaleSizeToDpi(FWidth, dpi), ScaleSizeToDpi(FHeight, dpi),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK TCGauge::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* gauge = reinterpret_cast<TCGauge*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!gauge)
        return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case WM_ERASEBKGND:
        return 1; // opaque: Paint covers every pixel
    case WM_PAINT: {
        PAINTSTRUCT paint;
        if (HDC dc = BeginPaint(window, &paint)) {
            gauge->Paint(dc);
            EndPaint(window, &paint);
        }
        return 0;
    }
    case WM_GETOBJECT:
        if (const LRESULT answer = AnswerGaugeObject(window, wParam, lParam, SpokenValueOf))
            return answer;
        break;
    case WM_DPICHANGED_AFTERPARENT:
        gauge->Place();
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_NCDESTROY:
        gauge->FHandle = nullptr;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void TCGauge::SetFont(const LOGFONTW& value) {
    const bool same = std::memcmp(&value, &FFont, offsetof(LOGFONTW, lfFaceName)) == 0 &&
                      std::wcsncmp(value.lfFaceName, FFont.lfFaceName, LF_FACESIZE) == 0;
    if (same)
        return;
    FFont = value;
    if (FFontHandle)
        DeleteObject(FFontHandle);
    FFontHandle = nullptr;
    Redraw(true);
}

HFONT TCGauge::FontAt(UINT dpi) const {
    if (FFontHandle && FFontDpi == dpi)
        return FFontHandle;
    if (FFontHandle)
        DeleteObject(FFontHandle);
    LOGFONTW font = FFont;
    font.lfHeight = MulDiv(font.lfHeight, int(dpi), int(kDefaultDpi));
    font.lfWidth = MulDiv(font.lfWidth, int(dpi), int(kDefaultDpi));
    // Letters of whole pixels, so that each one is exactly the inverse of what lies beneath.
    font.lfQuality = NONANTIALIASED_QUALITY;
    FFontHandle = CreateFontIndirectW(&font);
    FFontDpi = dpi;
    return FFontHandle;
}

std::string TCGauge::SpokenValueOf(HWND window) {
    const auto* gauge = reinterpret_cast<const TCGauge*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return gauge ? gauge->SpokenValue() : std::string();
}

void TCGauge::Redraw(bool changed) {
    if (FHandle && GetPercentDone() != FSpokenPercent) {
        FSpokenPercent = GetPercentDone();
        NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, FHandle, OBJID_CLIENT, CHILDID_SELF);
    }
    // Synchronous on purpose: during a download the message loop may not run between pages.
    if (!changed || !FHandle || !IsWindowVisible(FHandle))
        return;
    if (HDC dc = GetDC(FHandle)) {
        Paint(dc);
        ReleaseDC(FHandle, dc);
    }
}

void TCGauge::Compose(TBltBitmap& picture) const {
    const TGaugePicture steps(FModel, FWidth, FHeight, picture.Width, picture.Height);
    TPixelMap pixels = picture.Pixels();
    steps.PaintBackground(pixels);

    TBltBitmap overlay;
    overlay.SizeLike(picture, kBlack);
    TPixelMap overlayPixels = overlay.Pixels();
    steps.PaintOverlay(overlayPixels);
    BitBlt(picture.Canvas, 0, 0, picture.Width, picture.Height, overlay.Canvas, 0, 0, SRCINVERT);

    if (FModel.ShowText())
        PaintAsText(picture, steps, steps.PaintRect());
}

TGaugeImage TCGauge::Render(UINT dpi) const {
    if (FWidth <= 0 || FHeight <= 0 || dpi == 0)
        return {};
    TBltBitmap picture(ScaleSizeToDpi(FWidth, dpi), ScaleSizeToDpi(FHeight, dpi), dpi);
    if (!picture.Valid())
        return {};
    Compose(picture);
    const TPixelMap pixels = picture.Pixels();
    TGaugeImage image{pixels.Width, pixels.Height, {}};
    image.Pixels.reserve(size_t(pixels.Width) * pixels.Height);
    for (int i = 0; i < pixels.Width * pixels.Height; ++i)
        image.Pixels.push_back(pixels.Bits[i] & 0xFFFFFF);
    return image;
}

void TCGauge::Paint(HDC dc) {
    ++FPaintCount;
    RECT client{0, 0, FWidth, FHeight};
    const UINT dpi = FHandle ? WindowDpi(FHandle) : kDefaultDpi;
    if (FHandle)
        GetClientRect(FHandle, &client);
    if (FWidth <= 0 || FHeight <= 0 || client.right <= 0 || client.bottom <= 0)
        return;
    // Drawn at the window's own resolution, not drawn small and then scaled up.
    TBltBitmap picture(client.right, client.bottom, dpi);
    if (!picture.Valid())
        return; // out of GDI memory: the window keeps its last picture
    Compose(picture);
    BitBlt(dc, 0, 0, picture.Width, picture.Height, picture.Canvas, 0, 0, SRCCOPY);
}

void TCGauge::PaintAsText(TBltBitmap& bitmap, const TGaugePicture& picture,
                          const TPaintRect& r) const {
    const TDeviceRect clip = picture.TextClip(r);
    if (clip.Right <= clip.Left || clip.Bottom <= clip.Top)
        return; // nothing shows through an empty clip
    const std::string percent = FModel.PercentText();
    const std::wstring text(percent.begin(), percent.end()); // digits and "%"

    TBltBitmap textBitmap;
    textBitmap.SizeLike(bitmap, kBlack);
    if (!textBitmap.Valid())
        return;
    const HGDIOBJ oldFont = SelectObject(textBitmap.Canvas, FontAt(bitmap.Dpi));
    SetTextColor(textBitmap.Canvas, kWhite);
    SetBkMode(textBitmap.Canvas, TRANSPARENT);
    SetTextAlign(textBitmap.Canvas, TA_LEFT | TA_TOP | TA_NOUPDATECP);
    SIZE extent{};
    GetTextExtentPoint32W(textBitmap.Canvas, text.c_str(), int(text.size()), &extent);
    const auto origin = picture.TextOrigin(r, extent.cx, extent.cy);
    const RECT area{LONG(clip.Left), LONG(clip.Top), LONG(clip.Right), LONG(clip.Bottom)};
    ExtTextOutW(textBitmap.Canvas, int(origin.X), int(origin.Y), ETO_CLIPPED, &area, text.c_str(),
                UINT(text.size()), nullptr);
    SelectObject(textBitmap.Canvas, oldFont);

    BitBlt(bitmap.Canvas, 0, 0, bitmap.Width, bitmap.Height, textBitmap.Canvas, 0, 0, SRCINVERT);
}

} // namespace orv
