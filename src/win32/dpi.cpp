#include "win32/dpi.h"

namespace orv {

namespace {

UINT SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? UINT(dpi) : kDefaultDpi;
}

} // namespace

UINT WindowDpi(HWND window) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
    const UINT dpi = window && getDpiForWindow ? getDpiForWindow(window) : 0;
    return dpi > 0 ? dpi : SystemDpi();
}

int ScaleToDpi(int value, UINT dpi) {
    return MulDiv(value, int(dpi), int(kDefaultDpi));
}

int ScaleSizeToDpi(int value, UINT dpi) {
    const long long scaled = (static_cast<long long>(value) * dpi + kDefaultDpi - 1) / kDefaultDpi;
    return static_cast<int>(scaled);
}

LOGFONTW MessageFont() {
    using SystemParametersInfoForDpiFunction = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto forDpi =
        User32Function<SystemParametersInfoForDpiFunction>("SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, kDefaultDpi))
        return metrics.lfMessageFont;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        // Given at the system DPI here.
        LOGFONTW font = metrics.lfMessageFont;
        const UINT dpi = SystemDpi();
        font.lfHeight = MulDiv(font.lfHeight, int(kDefaultDpi), int(dpi));
        font.lfWidth = MulDiv(font.lfWidth, int(kDefaultDpi), int(dpi));
        return font;
    }
    LOGFONTW font{};
    font.lfHeight = -11; // 8 points
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(font.lfFaceName, L"MS Shell Dlg 2", LF_FACESIZE);
    return font;
}

BOOL AdjustWindowRectForDpi(RECT& rect, DWORD style, BOOL menu, DWORD exStyle, UINT dpi) {
    using Function = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto forDpi = User32Function<Function>("AdjustWindowRectExForDpi");
    return forDpi ? forDpi(&rect, style, menu, exStyle, dpi)
                  : AdjustWindowRectEx(&rect, style, menu, exStyle);
}

int SystemMetricForDpi(int index, UINT dpi) {
    using Function = int(WINAPI*)(int, UINT);
    static const auto forDpi = User32Function<Function>("GetSystemMetricsForDpi");
    return forDpi ? forDpi(index, dpi) : GetSystemMetrics(index);
}

void KeepDpiChangesToOurselves(HWND dialog) {
    using Function = BOOL(WINAPI*)(HWND, DIALOG_DPI_CHANGE_BEHAVIORS, DIALOG_DPI_CHANGE_BEHAVIORS);
    static const auto behaviour = User32Function<Function>("SetDialogDpiChangeBehavior");
    if (behaviour)
        behaviour(dialog, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
}

} // namespace orv
