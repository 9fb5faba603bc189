#pragma once
// The gauge states whose pictures the Windows gauge must share with the Linux program's: the
// Linux build draws each with the Qt gauge into a PPM file (gauge_reference), and the Windows
// test draws the same with the GDI gauge and compares. Plain C++, for both sides.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace orv::gauge_states {

// The update window's colours (navy on white) and a button face around the pie and the dial,
// as 0xRRGGBB.
constexpr uint32_t kFore = 0x000080;
constexpr uint32_t kBack = 0xFFFFFF;
constexpr uint32_t kFace = 0xF0F0F0;

struct TState {
    int Kind;
    int Width, Height;
    bool Framed;
    bool ShowText;
    int Percent;
    int Dpi;

    std::string FileName() const {
        char name[96];
        std::snprintf(name, sizeof name, "k%d_%dx%d_%s_%s_p%d_dpi%d.ppm", Kind, Width, Height,
                      Framed ? "framed" : "plain", ShowText ? "text" : "notext", Percent, Dpi);
        return name;
    }
};

// Every kind at its usual size (the update window's bar at 451 x 30, an odd-sized pie too),
// framed and not, with and without the percentage, at 100 % scale and, fewer of them, at
// 150 % and 200 %.
inline std::vector<TState> States() {
    struct TShape {
        int Kind, Width, Height;
    };
    const TShape shapes[] = {{0, 180, 30},  {1, 451, 30}, {2, 30, 100},
                             {3, 100, 100}, {3, 61, 45},  {4, 180, 90}};
    std::vector<TState> states;
    for (const TShape& shape : shapes)
        for (const int dpi : {96, 144, 192})
            for (const int percent : {0, 1, 50, 99, 100}) {
                if (dpi != 96 && (percent == 0 || percent == 99))
                    continue;
                for (const bool framed : {true, false})
                    for (const bool text : {false, true})
                        states.push_back(
                            {shape.Kind, shape.Width, shape.Height, framed, text, percent, dpi});
            }
    return states;
}

} // namespace orv::gauge_states
