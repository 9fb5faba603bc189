#include "gauge_states.h"
#include "test_window.h"
#include "win32/cgauge.h"
#include "win32/dpi.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <tuple>

namespace {

using orv::TCGauge;
using orv::TGaugeImage;

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// What the window shows, read back from the screen.
TGaugeImage Screen(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    TGaugeImage image{client.right, client.bottom, {}};
    image.Pixels.resize(size_t(image.Width) * image.Height);
    BITMAPINFO info{};
    info.bmiHeader = {
        sizeof info.bmiHeader, image.Width, -image.Height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, image.Width, image.Height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    for (size_t i = 0; i < image.Pixels.size(); ++i)
        image.Pixels[i] = static_cast<const uint32_t*>(bits)[i] & 0xFFFFFF;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return image;
}

TEST(GaugeWindow, RepaintsAtOnceAndOnlyWhenThePictureChanges) {
    HWND parent = orv::MakeGaugeHolder(L"gauge", 400, 200);
    ASSERT_TRUE(parent) << "no window: Wine needs an X display (make test-windows runs the "
                           "tests under xvfb-run)";

    {
        TCGauge g;
        g.SetBounds(0, 100, 300, 30);
        g.CreateHandle(parent);
        ShowWindow(parent, SW_SHOWNORMAL);
        PumpMessages();
        ASSERT_GE(g.PaintCount(), 1) << "painted when shown";

        int paints = g.PaintCount();
        g.SetMaxValue(1000);
        g.SetProgress(10);
        EXPECT_EQ(g.PaintCount(), paints += 2);
        g.SetProgress(11); // 1.0 % to 1.1 %: stored, not drawn
        EXPECT_EQ(g.Progress(), 11);
        EXPECT_EQ(g.PaintCount(), paints);
        g.SetProgress(370);
        EXPECT_EQ(g.PaintCount(), ++paints) << "drawn at once, without the message loop";
        g.SetProgress(370);
        EXPECT_EQ(g.PaintCount(), paints);
        g.AddProgress(0);
        EXPECT_EQ(g.PaintCount(), ++paints) << "AddProgress always repaints";
        g.AddProgress(1);
        EXPECT_EQ(g.PaintCount(), ++paints) << "once, not twice";

        g.SetKind(orv::gkHorizontalBar);
        g.SetBorderStyle(orv::bsSingle);
        g.SetShowText(true);
        g.SetForeColor(RGB(0, 0, 0));
        g.SetMinValue(0);
        g.SetFont(g.Font());
        EXPECT_EQ(g.PaintCount(), paints) << "unchanged values";
        g.SetForeColor(RGB(0, 0, 0x80));
        g.SetBackColor(RGB(255, 255, 0));
        g.SetMaxValue(1000);
        EXPECT_EQ(g.PaintCount(), paints += 3) << "setting the same maximum still repaints";

        // The window shows the picture, drawn at its DPI and placed at its bounds.
        const UINT dpi = orv::WindowDpi(g.Handle());
        const TGaugeImage picture = g.Render(dpi);
        const TGaugeImage screen = Screen(g.Handle());
        ASSERT_EQ(std::tuple(screen.Width, screen.Height),
                  std::tuple(orv::ScaleSizeToDpi(300, dpi), orv::ScaleSizeToDpi(30, dpi)));
        EXPECT_TRUE(screen.Pixels == picture.Pixels);
        RECT bounds;
        GetWindowRect(g.Handle(), &bounds);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&bounds), 2);
        EXPECT_EQ(bounds.top, orv::ScaleToDpi(100, dpi));

        ShowWindow(parent, SW_HIDE);
        paints = g.PaintCount();
        g.SetProgress(500);
        EXPECT_EQ(g.PaintCount(), paints) << "a hidden gauge draws nothing";
        EXPECT_EQ(g.GetPercentDone(), 50);
    }
    DestroyWindow(parent);
}

TEST(GaugeRender, DegenerateSizesDrawSafely) {
    const orv::TCGaugeKind kinds[] = {orv::gkText, orv::gkHorizontalBar, orv::gkVerticalBar,
                                      orv::gkPie, orv::gkNeedle};
    const std::pair<int, int> sizes[] = {{0, 0}, {1, 1}, {2, 2}, {3, 1}, {1, 40}, {40, 2}, {5, 3}};
    for (auto kind : kinds)
        for (auto border : {orv::bsNone, orv::bsSingle})
            for (auto [w, h] : sizes)
                for (int percent : {0, 1, 50, 100})
                    for (UINT dpi : {96u, 192u}) {
                        TCGauge g;
                        g.SetBounds(0, 0, w, h);
                        g.SetKind(kind);
                        g.SetBorderStyle(border);
                        g.SetProgress(percent);
                        const TGaugeImage image = g.Render(dpi);
                        const int scale = int(dpi / 96);
                        ASSERT_EQ(std::tuple(image.Width, image.Height),
                                  std::tuple(w * scale, h * scale));
                        if (border == orv::bsSingle && w > 0) {
                            EXPECT_EQ(image.At(0, 0), 0u);
                        }
                    }
}

// A reference picture from the Linux build: a binary PPM.
bool ReadPpm(const std::string& path, TGaugeImage& image) {
    std::ifstream file(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    if (!(file >> magic >> image.Width >> image.Height >> maxValue) || magic != "P6" ||
        maxValue != 255 || image.Width <= 0 || image.Height <= 0)
        return false;
    file.get();
    image.Pixels.assign(size_t(image.Width) * image.Height, 0);
    for (uint32_t& pixel : image.Pixels) {
        unsigned char rgb[3];
        if (!file.read(reinterpret_cast<char*>(rgb), 3))
            return false;
        pixel = uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
    }
    return true;
}

// Where a picture's text changed it: the smallest rectangle holding every changed pixel.
struct TBox {
    int Left = INT_MAX, Top = INT_MAX, Right = INT_MIN, Bottom = INT_MIN; // inclusive

    void Add(int x, int y) {
        Left = std::min(Left, x);
        Top = std::min(Top, y);
        Right = std::max(Right, x);
        Bottom = std::max(Bottom, y);
    }
    void Add(const TBox& other) {
        if (other.Left <= other.Right) {
            Add(other.Left, other.Top);
            Add(other.Right, other.Bottom);
        }
    }
    bool Contains(int x, int y) const { return x >= Left && x <= Right && y >= Top && y <= Bottom; }
};

TBox ChangedBox(const TGaugeImage& with, const TGaugeImage& without) {
    TBox box;
    for (int y = 0; y < with.Height; ++y)
        for (int x = 0; x < with.Width; ++x)
            if (with.At(x, y) != without.At(x, y))
                box.Add(x, y);
    return box;
}

// The Windows gauge draws every state as the Linux program's gauge does: the same pixels,
// except inside the percentage's text box, where the fonts differ. In the text box every pixel
// the text changed is the exact inverse of what lies beneath.
TEST(GaugeMatchesQt, EveryStateOutsideTheText) {
    using namespace orv::gauge_states;
    const std::string dir = ORV_GAUGE_REFERENCE_DIR;
    std::map<std::string, TGaugeImage> withoutText; // the GDI gauge's, by the same state with text
    std::map<std::string, TGaugeImage> referenceWithoutText;
    struct TKindFigures {
        int States = 0, WorstOutside = 0, WidestText = 0, TallestText = 0;
    };
    std::map<std::pair<int, int>, TKindFigures> figures; // by kind and DPI

    for (const TState& state : States()) {
        SCOPED_TRACE(state.FileName());
        TGaugeImage reference;
        ASSERT_TRUE(ReadPpm(dir + "/" + state.FileName(), reference))
            << "no reference picture in " << dir << ": the Linux build draws them (make build)";

        TCGauge g;
        g.SetBounds(0, 0, state.Width, state.Height);
        g.SetKind(orv::TCGaugeKind(state.Kind));
        g.SetBorderStyle(state.Framed ? orv::bsSingle : orv::bsNone);
        auto colour = [](uint32_t rgb) { return RGB(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF); };
        g.SetForeColor(colour(kFore));
        g.SetBackColor(colour(kBack));
        g.SetColor(colour(kFace));
        g.SetShowText(state.ShowText);
        g.SetProgress(state.Percent);
        const TGaugeImage picture = g.Render(state.Dpi);
        ASSERT_EQ(std::tuple(picture.Width, picture.Height),
                  std::tuple(reference.Width, reference.Height));

        TState plain = state;
        plain.ShowText = false;
        const std::string key = plain.FileName();
        TBox text;
        if (!state.ShowText) {
            withoutText[key] = picture;
            referenceWithoutText[key] = reference;
        } else {
            ASSERT_TRUE(withoutText.count(key)) << "each state comes first without its text";
            const TGaugeImage& under = withoutText[key];
            text = ChangedBox(picture, under);
            ASSERT_LE(text.Left, text.Right) << "no percentage drawn";
            for (int y = text.Top; y <= text.Bottom; ++y)
                for (int x = text.Left; x <= text.Right; ++x)
                    if (picture.At(x, y) != under.At(x, y)) {
                        ASSERT_EQ(picture.At(x, y), under.At(x, y) ^ 0xFFFFFF)
                            << "text pixel " << x << "," << y << " is not the inverse";
                    }
            text.Add(ChangedBox(reference, referenceWithoutText[key]));
        }

        int outside = 0;
        std::ostringstream first;
        for (int y = 0; y < picture.Height; ++y)
            for (int x = 0; x < picture.Width; ++x) {
                if (picture.At(x, y) == reference.At(x, y) || text.Contains(x, y))
                    continue;
                if (outside++ == 0)
                    first << "pixel " << x << "," << y << " is " << std::hex << picture.At(x, y)
                          << ", the Qt gauge's is " << reference.At(x, y);
            }
        EXPECT_EQ(outside, 0) << "pixels unlike the Qt gauge's outside the text box; first "
                              << first.str();

        TKindFigures& kind = figures[{state.Kind, state.Dpi}];
        ++kind.States;
        kind.WorstOutside = std::max(kind.WorstOutside, outside);
        if (state.ShowText) {
            kind.WidestText = std::max(kind.WidestText, text.Right - text.Left + 1);
            kind.TallestText = std::max(kind.TallestText, text.Bottom - text.Top + 1);
        }
    }
    for (const auto& [kindAndDpi, f] : figures) {
        const auto [kind, dpi] = kindAndDpi;
        std::printf("kind %d at %3d dpi, %2d states: outside the text box (at most %d x %d) at "
                    "most %d pixels unlike the Qt gauge's\n",
                    kind, dpi, f.States, f.WidestText, f.TallestText, f.WorstOutside);
    }
}

} // namespace
