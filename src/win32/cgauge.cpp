#include "win32/cgauge.h"

#include "win32/dpi.h"
#include "win32/gauge_shapes.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <limits>
#include <numbers>
#include <string>

namespace orv {

namespace {

constexpr wchar_t kWindowClass[] = L"OrvCGauge";
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

EGaugeError RangeError(int64_t low, int64_t high) {
    char text[80];
    std::snprintf(text, sizeof text, "Value must be between %lld and %lld",
                  static_cast<long long>(low), static_cast<long long>(high));
    return EGaugeError(text);
}

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0)))
        --q;
    return q;
}

// A colour as a pixel of a 32-bit DIB.
uint32_t PixelOf(COLORREF colour) {
    return uint32_t(GetRValue(colour)) << 16 | uint32_t(GetGValue(colour)) << 8 | GetBValue(colour);
}

// Where the control's pixel coordinates land along one side of a picture drawn at a higher DPI.
// The frame keeps a whole number of device pixels at both ends and the inside is spread evenly
// over the device pixels left between them, so every edge falls between device pixels and
// nothing needs blending. At 96 DPI each coordinate stays as it is.
class TAxis {
public:
    TAxis(int size, int device, int unit, bool framed)
        : size_(size), device_(device), scale_(size > 0 ? double(device) / size : 1.0),
          frame_(framed ? 1 : 0), frameDevice_(framed ? unit : 0), inside_(scale_) {
        const int inside = size - 2 * frame_, insideDevice = device - 2 * frameDevice_;
        if (inside > 0 && insideDevice > 0)
            inside_ = double(insideDevice) / inside;
    }

    int64_t operator()(int64_t x) const {
        if (frame_ > 0 && x <= 0)
            return std::llround(double(x) * scale_);
        if (frame_ > 0 && x >= size_)
            return device_ + std::llround(double(x - size_) * scale_);
        return frameDevice_ + std::llround(double(x - frame_) * inside_);
    }

private:
    int64_t size_, device_;
    double scale_;
    int frame_, frameDevice_;
    double inside_;
};

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

    // The pixels, once GDI has finished what it was asked to draw.
    TPixelMap Pixels() {
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

// The control's pixels in a bitmap of the picture's size: X and Y map coordinates, Unit is the
// device width of a one-pixel line.
struct TCGauge::TDevicePixels {
    TAxis X;
    TAxis Y;
    int Unit;
};

TCGauge::TDevicePixels TCGauge::DevicePixelsOf(const TBltBitmap& bitmap) const {
    const int w = std::max(FWidth, 1), h = std::max(FHeight, 1);
    const double scale = std::min(double(bitmap.Width) / w, double(bitmap.Height) / h);
    const int unit = std::max(1, static_cast<int>(std::floor(scale + 1e-9)));
    const bool framed = FBorderStyle == bsSingle;
    return {TAxis(w, bitmap.Width, unit, framed), TAxis(h, bitmap.Height, unit, framed), unit};
}

TCGauge::TCGauge() : FColor(GetSysColor(COLOR_BTNFACE)), FFont(MessageFont()) {}

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

int TCGauge::GetPercentDone() const {
    const int64_t range = int64_t(FMaxValue) - FMinValue;
    if (range == 0)
        return 0;
    return static_cast<int>(FloorDiv((int64_t(FCurrentValue) - FMinValue) * 100, range));
}

void TCGauge::SetProgress(int32_t value) {
    const int before = GetPercentDone();
    const int32_t clamped = std::clamp(value, FMinValue, FMaxValue);
    if (clamped == FCurrentValue)
        return;
    FCurrentValue = clamped;
    if (GetPercentDone() != before)
        Redraw();
}

void TCGauge::AddProgress(int32_t delta) {
    // The sum saturates instead of wrapping; the clamp to the range follows in SetProgress.
    const int64_t sum = int64_t(FCurrentValue) + delta;
    SetProgress(static_cast<int32_t>(std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                                                         std::numeric_limits<int32_t>::max())));
    Redraw();
}

void TCGauge::SetMinValue(int32_t value) {
    if (value == FMinValue)
        return;
    if (value > FMaxValue)
        throw RangeError(-2147483647, int64_t(FMaxValue) - 1);
    FMinValue = value;
    if (FCurrentValue < value)
        FCurrentValue = value;
    Redraw();
}

void TCGauge::SetMaxValue(int32_t value) {
    if (value == 0)
        return;
    if (value < FMinValue)
        throw RangeError(int64_t(FMinValue) + 1, 2147483647);
    FMaxValue = value;
    if (FCurrentValue > value)
        FCurrentValue = value;
    Redraw();
}

void TCGauge::SeTCGaugeKind(TCGaugeKind value) {
    if (value == FKind)
        return;
    FKind = value;
    Redraw();
}

void TCGauge::SetShowText(bool value) {
    if (value == FShowText)
        return;
    FShowText = value;
    Redraw();
}

void TCGauge::SetBorderStyle(TFormBorderStyle value) {
    if (value == FBorderStyle)
        return;
    FBorderStyle = value;
    Redraw();
}

void TCGauge::SetForeColor(COLORREF value) {
    if (value == FForeColor)
        return;
    FForeColor = value;
    Redraw();
}

void TCGauge::SetBackColor(COLORREF value) {
    if (value == FBackColor)
        return;
    FBackColor = value;
    Redraw();
}

void TCGauge::SetColor(COLORREF value) {
    if (value == FColor)
        return;
    FColor = value;
    Redraw();
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
    Redraw();
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

void TCGauge::Redraw() {
    // Synchronous on purpose: during a download the message loop may not run between pages.
    if (!FHandle || !IsWindowVisible(FHandle))
        return;
    if (HDC dc = GetDC(FHandle)) {
        Paint(dc);
        ReleaseDC(FHandle, dc);
    }
}

void TCGauge::Compose(TBltBitmap& picture) const {
    PaintBackground(picture);

    TPaintRect r{0, 0, FWidth, FHeight};
    if (FBorderStyle == bsSingle)
        r = {1, 1, FWidth - 1, FHeight - 1}; // the margin stays black: the frame

    TBltBitmap overlay;
    overlay.SizeLike(picture, kBlack);
    switch (FKind) {
    case gkHorizontalBar:
    case gkVerticalBar:
        PaintAsBar(overlay, r);
        break;
    case gkPie:
        PaintAsPie(overlay, r);
        break;
    case gkNeedle:
        PaintAsNeedle(overlay, r);
        break;
    case gkText:
    default:
        PaintAsNothing(overlay, r);
        break;
    }
    BitBlt(picture.Canvas, 0, 0, picture.Width, picture.Height, overlay.Canvas, 0, 0, SRCINVERT);

    if (FShowText)
        PaintAsText(picture, r);
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

void TCGauge::PaintBackground(TBltBitmap& bitmap) const {
    bitmap.Fill(0, 0, bitmap.Width, bitmap.Height, kBlack);
}

void TCGauge::PaintAsNothing(TBltBitmap& bitmap, const TPaintRect& r) const {
    const TDevicePixels px = DevicePixelsOf(bitmap);
    bitmap.Fill(px.X(r.Left), px.Y(r.Top), px.X(r.Right), px.Y(r.Bottom), FBackColor);
}

void TCGauge::PaintAsBar(TBltBitmap& bitmap, const TPaintRect& r) const {
    const TDevicePixels px = DevicePixelsOf(bitmap);
    const int64_t W = int64_t(r.Right) - r.Left + 1, H = int64_t(r.Bottom) - r.Top + 1;
    bitmap.Fill(px.X(r.Left), px.Y(r.Top), px.X(r.Right), px.Y(r.Bottom), FBackColor);
    if (FKind == gkHorizontalBar) {
        const int64_t L = std::min(FloorDiv(GetPercentDone() * W, 100), W);
        if (L > 0)
            bitmap.Fill(px.X(r.Left), px.Y(r.Top), px.X(L), px.Y(H), FForeColor);
    } else {
        int64_t L = FloorDiv(GetPercentDone() * H, 100);
        if (L >= H)
            L = H - 1;
        bitmap.Fill(px.X(r.Left), px.Y(H - L), px.X(W), px.Y(H), FForeColor);
    }
}

void TCGauge::PaintAsPie(TBltBitmap& bitmap, const TPaintRect& r) const {
    const TDevicePixels px = DevicePixelsOf(bitmap);
    const int extra = FBorderStyle == bsSingle ? 1 : 0;
    const int Wp = r.Right - r.Left + extra, Hp = r.Bottom - r.Top + extra;
    bitmap.Fill(px.X(r.Left), px.Y(r.Top), px.X(r.Right), px.Y(r.Bottom), FColor);

    TPixelMap pixels = bitmap.Pixels();
    const uint32_t fore = PixelOf(FForeColor);
    DrawPixelEllipse(pixels, px.X(r.Left), px.Y(r.Top), px.X(Wp), px.Y(Hp), fore,
                     PixelOf(FBackColor), px.Unit);

    const int percent = GetPercentDone();
    if (percent <= 0)
        return;
    const double a = (percent * 0.02 + 0.5) * std::numbers::pi;
    const auto x3 = static_cast<int64_t>(std::floor((1 - std::cos(a)) * (Wp / 2)));
    const auto y3 = static_cast<int64_t>(std::floor((1 - std::sin(a)) * (Hp / 2)));
    DrawPixelPie(pixels, px.X(r.Left), px.Y(r.Top), px.X(Wp), px.Y(Hp), px.X(x3), px.Y(y3),
                 px.X(Wp / 2), px.Y(0), fore, fore, px.Unit, percent >= 100);
}

void TCGauge::PaintAsNeedle(TBltBitmap& bitmap, const TPaintRect& r) const {
    const TDevicePixels px = DevicePixelsOf(bitmap);
    const int extra = FBorderStyle == bsSingle ? 1 : 0;
    const int Wn = r.Right - r.Left + extra, Hn = r.Bottom - r.Top + extra;
    const int B = r.Bottom;
    bitmap.Fill(px.X(r.Left), px.Y(r.Top), px.X(r.Right), px.Y(r.Bottom), FColor);

    TPixelMap pixels = bitmap.Pixels();
    const uint32_t fore = PixelOf(FForeColor);
    DrawPixelPie(pixels, px.X(r.Left), px.Y(r.Top), px.X(Wn), px.Y(2 * int64_t(Hn) - 1),
                 px.X(r.Left + Wn), px.Y(B - 1), px.X(r.Left), px.Y(B - 1), fore,
                 PixelOf(FBackColor), px.Unit, true);
    DrawPixelLine(pixels, px.X(r.Left), px.Y(B), px.X(r.Left + Wn), px.Y(B), fore, px.Unit);

    const int percent = GetPercentDone();
    if (percent <= 0)
        return;
    const double a = percent * 0.01 * std::numbers::pi;
    const int c = FWidth / 2;
    DrawPixelLine(
        pixels, px.X(c), px.Y(B - 1), px.X(static_cast<int64_t>(std::floor((1 - std::cos(a)) * c))),
        px.Y(static_cast<int64_t>(std::floor((1 - std::sin(a)) * (B - 1)))), fore, px.Unit);
}

void TCGauge::PaintAsText(TBltBitmap& bitmap, const TPaintRect& r) const {
    if (r.Right <= r.Left || r.Bottom <= r.Top)
        return; // nothing shows through an empty clip
    const TDevicePixels px = DevicePixelsOf(bitmap);
    const int64_t left = px.X(r.Left), top = px.Y(r.Top), right = px.X(r.Right),
                  bottom = px.Y(r.Bottom);
    const std::wstring text = std::to_wstring(GetPercentDone()) + L"%";

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
    const int64_t x = (right - left + px.Unit - extent.cx) / 2;
    const int64_t y = (bottom - top + px.Unit - extent.cy) / 2;
    const RECT clip{LONG(left), LONG(top), LONG(right), LONG(bottom)};
    ExtTextOutW(textBitmap.Canvas, int(x), int(y), ETO_CLIPPED, &clip, text.c_str(),
                UINT(text.size()), nullptr);
    SelectObject(textBitmap.Canvas, oldFont);

    BitBlt(bitmap.Canvas, 0, 0, bitmap.Width, bitmap.Height, textBitmap.Canvas, 0, 0, SRCINVERT);
}

} // namespace orv
