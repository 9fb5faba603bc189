#include "forms/gauge_picture.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orv {

namespace {

constexpr TGaugeColour kBlack = 0x000000;

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0)))
        --q;
    return q;
}

int64_t Floor(double v) {
    return static_cast<int64_t>(std::floor(v));
}

// Device pixels per control pixel: the smaller of the two sides' ratios, so that a one-pixel
// line is as thick across as along.
double ScaleOf(int width, int height, int deviceWidth, int deviceHeight) {
    return std::min(double(deviceWidth) / std::max(width, 1),
                    double(deviceHeight) / std::max(height, 1));
}

} // namespace

TGaugeAxis::TGaugeAxis(int size, int device, int unit, bool framed)
    : size_(size), device_(device), scale_(size > 0 ? double(device) / size : 1.0),
      frame_(framed ? 1 : 0), frameDevice_(framed ? unit : 0), inside_(scale_) {
    const int inside = size - 2 * frame_, insideDevice = device - 2 * frameDevice_;
    if (inside > 0 && insideDevice > 0)
        inside_ = double(insideDevice) / inside;
}

int64_t TGaugeAxis::operator()(int64_t x) const {
    if (frame_ > 0 && x <= 0)
        return std::llround(double(x) * scale_);
    if (frame_ > 0 && x >= size_)
        return device_ + std::llround(double(x - size_) * scale_);
    return frameDevice_ + std::llround(double(x - frame_) * inside_);
}

TGaugePicture::TGaugePicture(const TGaugeModel& model, int width, int height, int deviceWidth,
                             int deviceHeight)
    : FModel(model), FWidth(width), FHeight(height),
      FScale(ScaleOf(width, height, deviceWidth, deviceHeight)),
      FUnit(std::max(1, static_cast<int>(std::floor(FScale + 1e-9)))),
      FX(std::max(width, 1), deviceWidth, FUnit, model.BorderStyle() == bsSingle),
      FY(std::max(height, 1), deviceHeight, FUnit, model.BorderStyle() == bsSingle) {}

TPaintRect TGaugePicture::PaintRect() const {
    if (FModel.BorderStyle() == bsSingle)
        return {1, 1, FWidth - 1, FHeight - 1}; // the margin stays black: the frame
    return {0, 0, FWidth, FHeight};
}

void TGaugePicture::PaintBackground(TPixelMap& bitmap) const {
    FillPixels(bitmap, 0, 0, bitmap.Width, bitmap.Height, kBlack);
}

void TGaugePicture::PaintOverlay(TPixelMap& overlay) const {
    const TPaintRect r = PaintRect();
    switch (FModel.Kind()) {
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
}

void TGaugePicture::PaintAsNothing(TPixelMap& bitmap, const TPaintRect& r) const {
    FillPixels(bitmap, FX(r.Left), FY(r.Top), FX(r.Right), FY(r.Bottom), FModel.BackColor());
}

void TGaugePicture::PaintAsBar(TPixelMap& bitmap, const TPaintRect& r) const {
    const int64_t W = int64_t(r.Right) - r.Left + 1, H = int64_t(r.Bottom) - r.Top + 1;
    const int percent = FModel.GetPercentDone();
    FillPixels(bitmap, FX(r.Left), FY(r.Top), FX(r.Right), FY(r.Bottom), FModel.BackColor());
    if (FModel.Kind() == gkHorizontalBar) {
        const int64_t L = std::min(FloorDiv(percent * W, 100), W);
        if (L > 0)
            FillPixels(bitmap, FX(r.Left), FY(r.Top), FX(L), FY(H), FModel.ForeColor());
    } else {
        int64_t L = FloorDiv(percent * H, 100);
        if (L >= H)
            L = H - 1;
        FillPixels(bitmap, FX(r.Left), FY(H - L), FX(W), FY(H), FModel.ForeColor());
    }
}

void TGaugePicture::PaintAsPie(TPixelMap& bitmap, const TPaintRect& r) const {
    const int extra = FModel.BorderStyle() == bsSingle ? 1 : 0;
    const int Wp = r.Right - r.Left + extra, Hp = r.Bottom - r.Top + extra;
    const TGaugeColour fore = FModel.ForeColor();
    FillPixels(bitmap, FX(r.Left), FY(r.Top), FX(r.Right), FY(r.Bottom), FModel.Color());
    DrawPixelEllipse(bitmap, FX(r.Left), FY(r.Top), FX(Wp), FY(Hp), fore, FModel.BackColor(),
                     FUnit);

    const int percent = FModel.GetPercentDone();
    if (percent <= 0)
        return;
    const double a = (percent * 0.02 + 0.5) * std::numbers::pi;
    // The radii in whole pixels, as the wedge's other end has always been placed.
    const int rx = Wp / 2, ry = Hp / 2;
    const int64_t x3 = Floor((1 - std::cos(a)) * rx);
    const int64_t y3 = Floor((1 - std::sin(a)) * ry);
    // At 100 per cent both radials are the top one: the wedge is the whole ellipse. Below, a
    // wedge too thin to have an angle is drawn as nothing rather than as a whole disc.
    DrawPixelPie(bitmap, FX(r.Left), FY(r.Top), FX(Wp), FY(Hp), FX(x3), FY(y3), FX(rx), FY(0), fore,
                 fore, FUnit, percent >= 100);
}

void TGaugePicture::PaintAsNeedle(TPixelMap& bitmap, const TPaintRect& r) const {
    const int extra = FModel.BorderStyle() == bsSingle ? 1 : 0;
    const int Wn = r.Right - r.Left + extra, Hn = r.Bottom - r.Top + extra;
    const int B = r.Bottom;
    const TGaugeColour fore = FModel.ForeColor();
    FillPixels(bitmap, FX(r.Left), FY(r.Top), FX(r.Right), FY(r.Bottom), FModel.Color());
    DrawPixelPie(bitmap, FX(r.Left), FY(r.Top), FX(Wn), FY(2 * int64_t(Hn) - 1), FX(r.Left + Wn),
                 FY(B - 1), FX(r.Left), FY(B - 1), fore, FModel.BackColor(), FUnit, true);
    DrawPixelLine(bitmap, FX(r.Left), FY(B), FX(r.Left + Wn), FY(B), fore, FUnit);

    const int percent = FModel.GetPercentDone();
    if (percent <= 0)
        return;
    const double a = percent * 0.01 * std::numbers::pi;
    const int c = FWidth / 2;
    DrawPixelLine(bitmap, FX(c), FY(B - 1), FX(Floor((1 - std::cos(a)) * c)),
                  FY(Floor((1 - std::sin(a)) * (B - 1))), fore, FUnit);
}

TDeviceRect TGaugePicture::TextClip(const TPaintRect& r) const {
    if (r.Right <= r.Left || r.Bottom <= r.Top)
        return {};
    return {FX(r.Left), FY(r.Top), FX(r.Right), FY(r.Bottom)};
}

TGaugePicture::TDevicePoint TGaugePicture::TextOrigin(const TPaintRect& r, int64_t width,
                                                      int64_t height) const {
    const TDeviceRect clip = TextClip(r);
    // (right - left + 1 - width) div 2, with the one pixel a device unit wide.
    return {(clip.Right - clip.Left + FUnit - width) / 2,
            (clip.Bottom - clip.Top + FUnit - height) / 2};
}

} // namespace orv
