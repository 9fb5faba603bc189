#pragma once
// A plain top-level window to hold a gauge in the tests and the benchmark: it clips its
// children, as the program's windows do, so that only the gauge paints the gauge's pixels.
#include <windows.h>

namespace orv {

inline HWND MakeGaugeHolder(const wchar_t* title, int width, int height) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = L"OrvGaugeHolder";
    RegisterClassExW(&windowClass); // fails harmlessly once registered
    return CreateWindowExW(0, windowClass.lpszClassName, title,
                           WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, width, height, nullptr,
                           nullptr, windowClass.hInstance, nullptr);
}

} // namespace orv
