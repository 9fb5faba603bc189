#pragma once
// The gauge's shapes drawn straight into 32-bit pixels, by rules of our own rather than a
// toolkit's ellipse and pie routines, which differ between toolkits, Windows versions (and
// Wine) in the edge pixels they take. Both front ends draw with these, so a gauge looks the
// same wherever it runs: the ellipse is the integer midpoint ellipse, the one Qt's aliased
// painter also draws for an ellipse on whole pixels.

#include <cstdint>

namespace orv {

// Pixels as 0xAARRGGBB words, `Stride` words from one row to the next: a 32-bit top-down DIB,
// or a QImage in Format_RGB32. Colours are given as 0xRRGGBB; every pixel written takes `Alpha`
// as its top byte (0xFF000000 for Qt's RGB32, whose pixels must be opaque; 0 for a DIB).
struct TPixelMap {
    uint32_t* Bits = nullptr;
    int Width = 0;
    int Height = 0;
    int Stride = 0;
    uint32_t Alpha = 0;
};

// Fills [left, right) x [top, bottom), clipped to the map; an empty rectangle fills nothing.
void FillPixels(TPixelMap& map, int64_t left, int64_t top, int64_t right, int64_t bottom,
                uint32_t colour);

// Each pixel of `picture` XORed with the colour of the same pixel of `overlay`, where both
// have one; the picture's top byte stays as it was.
void XorPixels(TPixelMap& picture, const TPixelMap& overlay);

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
// else nothing. Angles are taken to a sixteenth of a degree, as a toolkit's pie routine takes
// them.
void DrawPixelPie(TPixelMap& map, int64_t left, int64_t top, int64_t right, int64_t bottom,
                  int64_t x1, int64_t y1, int64_t x2, int64_t y2, uint32_t pen, uint32_t brush,
                  int unit, bool wholeIfSame);

} // namespace orv
