#include "forms/gauge_shapes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace orv {

namespace {

constexpr int kFullCircle16 = 360 * 16;

bool HasArea(int64_t left, int64_t top, int64_t right, int64_t bottom, int unit) {
    return right - left >= unit && bottom - top >= unit;
}

// The integer midpoint ellipse whose outline runs through columns x .. x + w and rows
// y .. y + h: its quarter is walked from the top to the right end and each step mirrored into
// the other three, with the inside filled between; even sizes put the middle between pixels.
void DrawMidpointEllipse(TPixelMap& map, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t pen,
                         uint32_t brush) {
    const double a2 = (w / 2.0) * (w / 2.0), b2 = (h / 2.0) * (h / 2.0), b = h / 2.0;
    const int64_t midX = x + (w + 1) / 2, midY = y + (h + 1) / 2;

    // `length` outline pixels from `dx` right of the middle, `dy` above it.
    auto step = [&](int64_t dx, int64_t dy, int64_t length) {
        const int64_t right = midX + dx, row = midY - dy;
        const int64_t mirrorRow = midY + dy - (h & 1);
        const int64_t left = 2 * midX - right - (length - 1) - (w & 1);
        const int64_t leftLength = std::min(length, right - left);
        if (left + leftLength < right) {
            const int64_t from = left + leftLength - 1;
            FillPixels(map, from, row, right, row + 1, brush);
            if (mirrorRow > row)
                FillPixels(map, from, mirrorRow, right, mirrorRow + 1, brush);
        }
        for (const int64_t r : {row, mirrorRow > row ? mirrorRow : row}) {
            FillPixels(map, left, r, left + leftLength, r + 1, pen);
            FillPixels(map, right, r, right + length, r + 1, pen);
        }
    };

    // Where the outline is flatter than 45 degrees: a run of pixels per row.
    int64_t dx = 0, dy = (h + 1) / 2, runStart = 0;
    double d = b2 - a2 * b + 0.25 * a2;
    while (a2 * double(2 * dy - 1) > 2 * b2 * double(dx + 1)) {
        if (d < 0) {
            d += b2 * double(2 * dx + 3);
            ++dx;
        } else {
            d += b2 * double(2 * dx + 3) + a2 * double(-2 * dy + 2);
            step(runStart, dy, dx - runStart + 1);
            runStart = ++dx;
            --dy;
        }
    }
    step(runStart, dy, dx - runStart + 1);

    // Steeper: one pixel per row.
    d = b2 * (double(dx) + 0.5) * (double(dx) + 0.5) + a2 * (double((dy - 1) * (dy - 1)) - b2);
    while (dy > (h & 1)) {
        if (d < 0) {
            d += b2 * double(2 * dx + 2) + a2 * double(-2 * dy + 3);
            ++dx;
        } else {
            d += a2 * double(-2 * dy + 3);
        }
        --dy;
        step(dx, dy, 1);
    }
}

// An ellipse (or an arc of it) as a curve off the pixel grid, measured by its parameter t:
// the point (X + Rx cos t, Y - Ry sin t).
struct TCurve {
    double X, Y, Rx, Ry;

    double Parameter(double x, double y) const {
        return std::atan2(-(y - Y) / std::max(Ry, 0.5), (x - X) / std::max(Rx, 0.5));
    }
    bool Contains(double x, double y) const {
        const double u = (x - X) / Rx, v = (y - Y) / Ry;
        return Rx > 0 && Ry > 0 && u * u + v * v <= 1;
    }
};

// Whether t lies on the arc that runs `span` counterclockwise from `start`.
bool OnArc(double t, double start, double span) {
    return span >= 2 * std::numbers::pi ||
           std::fmod(t - start + 4 * std::numbers::pi, 2 * std::numbers::pi) <= span;
}

// Whole-pixel coordinates of a point, where floating point left it a hair short of a whole
// number (the sine of a half turn is not quite 0).
int64_t PixelOf(double v) {
    const double nearest = std::round(v);
    return static_cast<int64_t>(std::fabs(v - nearest) < 1e-9 ? nearest : std::floor(v));
}

// A pen `unit` pixels wide put down at the point (x, y): the pixels whose middles it covers.
void PutPen(TPixelMap& map, double x, double y, uint32_t pen, int unit) {
    const int64_t left = PixelOf(x + 0.5 - unit / 2.0), top = PixelOf(y + 0.5 - unit / 2.0);
    FillPixels(map, left, top, left + unit, top + unit, pen);
}

// The pixels an arc passes: where it runs flatter than 45 degrees, one in each column, the
// one it is in as it crosses the column's middle; where steeper, one in each row likewise.
void StrokeArc(TPixelMap& map, const TCurve& c, double start, double span, uint32_t pen, int unit) {
    const auto flat = [&](double t) {
        return c.Rx * std::fabs(std::sin(t)) >= c.Ry * std::fabs(std::cos(t));
    };
    if (c.Rx > 0)
        for (auto i = static_cast<int64_t>(std::ceil(c.X - c.Rx - 0.5));
             double(i) + 0.5 <= c.X + c.Rx; ++i) {
            const double x = double(i) + 0.5;
            const double t = std::acos(std::clamp((x - c.X) / c.Rx, -1.0, 1.0));
            for (const double s : {t, -t})
                if (flat(s) && OnArc(s, start, span))
                    PutPen(map, x, c.Y - c.Ry * std::sin(s), pen, unit);
        }
    if (c.Ry > 0)
        for (auto j = static_cast<int64_t>(std::ceil(c.Y - c.Ry - 0.5));
             double(j) + 0.5 <= c.Y + c.Ry; ++j) {
            const double y = double(j) + 0.5;
            const double t = std::asin(std::clamp((c.Y - y) / c.Ry, -1.0, 1.0));
            for (const double s : {t, std::numbers::pi - t})
                if (!flat(s) && OnArc(s, start, span))
                    PutPen(map, c.X + c.Rx * std::cos(s), y, pen, unit);
        }
}

// The pixels whose middles lie inside the ellipse and on the arc's side of both radials.
void FillSector(TPixelMap& map, const TCurve& c, double start, double span, uint32_t brush) {
    const int64_t top = std::max<int64_t>(static_cast<int64_t>(std::floor(c.Y - c.Ry)), 0);
    const int64_t bottom =
        std::min<int64_t>(static_cast<int64_t>(std::ceil(c.Y + c.Ry)) + 1, map.Height);
    const int64_t left = std::max<int64_t>(static_cast<int64_t>(std::floor(c.X - c.Rx)), 0);
    const int64_t right =
        std::min<int64_t>(static_cast<int64_t>(std::ceil(c.X + c.Rx)) + 1, map.Width);
    for (int64_t y = top; y < bottom; ++y)
        for (int64_t x = left; x < right; ++x) {
            const double px = double(x) + 0.5, py = double(y) + 0.5;
            if (c.Contains(px, py) && OnArc(c.Parameter(px, py), start, span))
                map.Bits[y * map.Stride + x] = map.Alpha | brush;
        }
}

// A straight line between points off the pixel grid, by the same rule as the arc: one pixel
// where it crosses the middle of each column (or row, when steep), up to the end point.
void StrokeRadial(TPixelMap& map, double x0, double y0, double x1, double y1, uint32_t pen,
                  int unit) {
    const double dx = x1 - x0, dy = y1 - y0;
    const bool alongX = std::fabs(dx) >= std::fabs(dy);
    if (alongX ? dx == 0 : dy == 0)
        return;
    if (alongX ? x0 > x1 : y0 > y1) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    const double from = alongX ? x0 : y0, to = alongX ? x1 : y1;
    const double base = alongX ? y0 : x0, slope = alongX ? dy / dx : dx / dy;
    for (auto i = static_cast<int64_t>(std::floor(from + 0.5));
         i < static_cast<int64_t>(std::floor(to + 0.5)); ++i) {
        const double along = double(i) + 0.5, across = base + (along - from) * slope;
        if (alongX)
            PutPen(map, along, across, pen, unit);
        else
            PutPen(map, across, along, pen, unit);
    }
}

// The curve through the outline of the ellipse in [left, right) x [top, bottom) drawn with a
// pen `unit` pixels wide.
TCurve CurveOf(int64_t left, int64_t top, int64_t right, int64_t bottom, int unit) {
    return {double(left) + double(right - left - 1) / 2, double(top) + double(bottom - top - 1) / 2,
            double(right - left - unit) / 2, double(bottom - top - unit) / 2};
}

} // namespace

void FillPixels(TPixelMap& map, int64_t left, int64_t top, int64_t right, int64_t bottom,
                uint32_t colour) {
    left = std::max<int64_t>(left, 0);
    top = std::max<int64_t>(top, 0);
    right = std::min<int64_t>(right, map.Width);
    bottom = std::min<int64_t>(bottom, map.Height);
    for (int64_t y = top; y < bottom; ++y) {
        uint32_t* row = map.Bits + y * map.Stride;
        std::fill(row + std::min(left, right), row + right, map.Alpha | colour);
    }
}

void XorPixels(TPixelMap& picture, const TPixelMap& overlay) {
    const int width = std::min(picture.Width, overlay.Width);
    const int height = std::min(picture.Height, overlay.Height);
    for (int64_t y = 0; y < height; ++y) {
        uint32_t* to = picture.Bits + y * picture.Stride;
        const uint32_t* from = overlay.Bits + y * overlay.Stride;
        for (int x = 0; x < width; ++x)
            to[x] ^= from[x] & 0xFFFFFF;
    }
}

void DrawPixelLine(TPixelMap& map, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t colour,
                   int unit) {
    const int64_t dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int64_t err = dx + dy;
    while (x0 != x1 || y0 != y1) {
        FillPixels(map, x0, y0, x0 + unit, y0 + unit, colour);
        const int64_t e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

void DrawPixelEllipse(TPixelMap& map, int64_t left, int64_t top, int64_t right, int64_t bottom,
                      uint32_t pen, uint32_t brush, int unit) {
    if (!HasArea(left, top, right, bottom, unit))
        return;
    if (unit == 1) {
        DrawMidpointEllipse(map, left, top, right - left - 1, bottom - top - 1, pen, brush);
        return;
    }
    // A thicker outline is the curve drawn with a wider pen.
    const TCurve curve = CurveOf(left, top, right, bottom, unit);
    FillSector(map, curve, 0, 2 * std::numbers::pi, brush);
    StrokeArc(map, curve, 0, 2 * std::numbers::pi, pen, unit);
}

void DrawPixelPie(TPixelMap& map, int64_t left, int64_t top, int64_t right, int64_t bottom,
                  int64_t x1, int64_t y1, int64_t x2, int64_t y2, uint32_t pen, uint32_t brush,
                  int unit, bool wholeIfSame) {
    if (!HasArea(left, top, right, bottom, unit))
        return;
    const TCurve curve = CurveOf(left, top, right, bottom, unit);
    auto angle16 = [&](int64_t x, int64_t y) {
        return static_cast<int>(
            std::lround(curve.Parameter(double(x), double(y)) * 180 / std::numbers::pi * 16));
    };
    const int start16 = angle16(x1, y1);
    int span16 = ((angle16(x2, y2) - start16) % kFullCircle16 + kFullCircle16) % kFullCircle16;
    if (span16 == 0) {
        if (!wholeIfSame)
            return;
        span16 = kFullCircle16;
    }
    constexpr double kRadians16 = std::numbers::pi / 180 / 16;
    const double start = start16 * kRadians16, span = span16 * kRadians16;

    FillSector(map, curve, start, span, brush);
    StrokeArc(map, curve, start, span, pen, unit);
    // The straight edges, from the middle out to the arc and back in from its other end.
    auto at = [&](double t, double& x, double& y) {
        x = curve.X + curve.Rx * std::cos(t);
        y = curve.Y - curve.Ry * std::sin(t);
    };
    double xs, ys, xe, ye;
    at(start, xs, ys);
    at(start + span, xe, ye);
    StrokeRadial(map, curve.X, curve.Y, xs, ys, pen, unit);
    StrokeRadial(map, xe, ye, curve.X, curve.Y, pen, unit);
}

} // namespace orv
