// Cost of a repaint of the GDI gauge in a shown window: the update window's 451 x 30 gauge set
// 544 times, once for each page of a download. Says when it runs under Wine, whose GDI is not
// Windows' own.
#include "test_window.h"
#include "win32/cgauge.h"

#include <cstdio>
#include <string>
#include <utility>
#include <windows.h>

namespace {

constexpr int kPages = 544;

// "Wine 8.0" under Wine, else an empty string.
const char* WineVersion() {
    using WineGetVersion = const char*(CDECL*)();
    const auto get = reinterpret_cast<WineGetVersion>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    return get ? get() : nullptr;
}

// Milliseconds spent and paints made by kPages calls of `step`.
template <typename Step>
std::pair<double, int> Measure(orv::TCGauge& gauge, Step step) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    const int paints = gauge.PaintCount();
    QueryPerformanceCounter(&start);
    for (int page = 1; page <= kPages; ++page)
        step(page);
    QueryPerformanceCounter(&end);
    return {double(end.QuadPart - start.QuadPart) * 1000 / double(frequency.QuadPart),
            gauge.PaintCount() - paints};
}

} // namespace

int main() {
    HWND window = orv::MakeGaugeHolder(L"bench_gauge_gdi", 480, 240);
    if (!window) {
        std::fprintf(stderr, "bench_gauge_gdi: no window (under Wine: no X display?)\n");
        return 1;
    }
    orv::TCGauge gauge;
    gauge.SetBounds(0, 170, 451, 30);
    gauge.SetForeColor(RGB(0, 0, 0x80));
    gauge.SetBackColor(RGB(255, 255, 255));
    gauge.CreateHandle(window);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);

    const char* wine = WineVersion();
    const std::string where = wine ? std::string("measured under Wine ") + wine : "";
    // Every call changes the percentage, so every call paints.
    auto [ms, paints] = Measure(gauge, [&](int page) { gauge.SetProgress(page % 2 ? 37 : 38); });
    std::printf("GDI gauge 451x30: %d SetProgress calls, %d repaints, %.3f ms per repaint "
                "(target < 1 ms)%s%s\n",
                kPages, paints, paints ? ms / paints : 0.0, wine ? ", " : "", where.c_str());

    // A download as the update window drives it: the share of pages sent, in whole per cent.
    gauge.SetProgress(0);
    auto [downloadMs, downloadPaints] =
        Measure(gauge, [&](int page) { gauge.SetProgress(page * 100 / kPages); });
    std::printf("GDI gauge 451x30: download of %d pages, %d repaints, %.3f ms in all%s%s\n", kPages,
                downloadPaints, downloadMs, wine ? ", " : "", where.c_str());
    DestroyWindow(window);
    return paints == kPages ? 0 : 1;
}
