#pragma once
// The gauge's shapes drawn straight into 32-bit pixels, by rules of our own rather than the
// platform's ellipse and pie routines, which differ between Windows versions (and Wine) in the
// edge pixels they take. So a gauge looks the same wherever it runs, and the same as the Linux
// program's gauge: the ellipse is the integer midpoint ellipse, the one Qt's aliased painter
// draws for an ellipse on whole pixels.
//
// Plain C++: nothing here needs Windows.

#include <cstdint>

namespace orv {

// Pixels as 0x00RRGGBB words, `Stride` words from one row to the next (a 32-bit top-down DIB).
struct TPixelMap {
    uint32_t* Bits = nullptr;
    int Width = 0;
    int Height = 0;
    int Stride = 0;
};

// Fills [left, right) x [top, bottom), clipped to the map; an empty rectangle fills nothing.
void FillPixels(TPixelMap& map, int64_t left, int64_t top, int64_t right, int64_t bottom,
                uint32_t colour);

// A line `unit` pixels thick that leaves out its end point, like a pen moved from one point to
// the other.
void DrawPixelLine(TPixelMap& map, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t colour,
                   int unit);

// The ellipse inside [left, right) x [top, bottom): its outline `unit` pixels thick in `pen`,
// its inside in `brush`. One pixel thick it is the midpoint ellipse; thicker, the curve through
// the outline's middle drawn with a wider pen.
void DrawPixelEllipse(TPixelMap& map, int64_t left, int64_t top, int64_t right, int64_t bottom,
                      uint32_t pen, uint32_t brush, int unit);

// The wedge of that ellipse from the radial through (x1, y1) counterclockwise to the radial
// through (x2, y2): in `brush` the pixels whose middles lie inside it, in `pen` those its arc
// and its two radials pass. Radials that coincide give the whole ellipse when `wholeIfSame`,
// else nothing. Angles are taken to a sixteenth of a degree, as the Qt gauge hands them to its
// painter.
void DrawPixelPie(TPixelMap& map, int64_t left, int64_t top, int64_t right, int64_t bottom,
                  int64_t x1, int64_t y1, int64_t x2, int64_t y2, uint32_t pen, uint32_t brush,
                  int unit, bool wholeIfSame);

} // namespace orv
