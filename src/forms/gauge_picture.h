#pragma once
// The gauge's picture, apart from the toolkit that shows it: the paint rectangle, where the
// control's pixels land in a picture drawn finer than them (at 150 % or 200 %), the drawing
// steps of every kind, and where the percentage goes. Both front ends' TCGauge draw with it;
// what stays theirs is the bitmaps, the text's font and putting the picture on the screen.

#include "forms/gauge_model.h"
#include "forms/gauge_shapes.h"

#include <cstdint>

namespace orv {

// Left, top, right, bottom in the control's pixels; right and bottom are excluded.
struct TPaintRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};

// Where the control's pixel coordinates land along one side of a picture drawn at a higher
// device pixel ratio. The frame keeps a whole number of device pixels at both ends and the
// inside is spread evenly over the device pixels left, so every edge falls between device
// pixels and nothing needs blending. At a ratio of 1 each coordinate stays as it is.
class TGaugeAxis {
public:
    TGaugeAxis(int size, int device, int unit, bool framed);
    int64_t operator()(int64_t x) const;

private:
    int64_t size_, device_;
    double scale_;
    int frame_, frameDevice_;
    double inside_;
};

// A rectangle in the picture's device pixels, right and bottom excluded.
struct TDeviceRect {
    int64_t Left = 0;
    int64_t Top = 0;
    int64_t Right = 0;
    int64_t Bottom = 0;
};

// The picture of `model` for a control of width x height pixels, drawn into bitmaps of
// deviceWidth x deviceHeight pixels.
class TGaugePicture {
public:
    TGaugePicture(const TGaugeModel& model, int width, int height, int deviceWidth,
                  int deviceHeight);

    // The control's area, less the one-pixel frame that only bsSingle has.
    TPaintRect PaintRect() const;
    // The device pixels per control pixel that the text's font grows by.
    double Scale() const { return FScale; }

    // Fills the whole bitmap black.
    void PaintBackground(TPixelMap& bitmap) const;
    // Into the overlay (black): the drawing step of the model's kind.
    void PaintOverlay(TPixelMap& overlay) const;
    void PaintAsNothing(TPixelMap& bitmap, const TPaintRect& r) const;
    void PaintAsBar(TPixelMap& bitmap, const TPaintRect& r) const;
    void PaintAsPie(TPixelMap& bitmap, const TPaintRect& r) const;
    void PaintAsNeedle(TPixelMap& bitmap, const TPaintRect& r) const;

    // The percentage's clip, `r` in device pixels; empty when nothing shows through it.
    TDeviceRect TextClip(const TPaintRect& r) const;
    // Where the top left of a text `width` x `height` device pixels goes: centred by the size of
    // `r` and, as the rule has it, not offset by its left and top.
    struct TDevicePoint {
        int64_t X = 0;
        int64_t Y = 0;
    };
    TDevicePoint TextOrigin(const TPaintRect& r, int64_t width, int64_t height) const;

private:
    const TGaugeModel& FModel;
    int FWidth, FHeight;
    double FScale;
    int FUnit;
    TGaugeAxis FX, FY;
};

} // namespace orv
