#include "qt/cgauge.h"

#include <QFontMetrics>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

namespace orv {

namespace {

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr int kFullCircle16 = 360 * 16; // QPainter angles are in 1/16 degree

EGaugeError RangeError(int64_t low, int64_t high) {
    char text[80];
    std::snprintf(text, sizeof text, "Value must be between %lld and %lld",
                  static_cast<long long>(low), static_cast<long long>(high));
    return EGaugeError(text);
}

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0)))
        --q;
    return q;
}

// Where the control's pixel coordinates land along one side of a picture drawn at a higher
// device pixel ratio. The frame keeps a whole number of device pixels at both ends and the
// inside is spread evenly over the device pixels left, so every edge falls between device
// pixels and nothing needs blending. At a ratio of 1 each coordinate stays as it is.
class TAxis {
public:
    TAxis(int size, int device, int unit, bool framed)
        : size_(size), device_(device), scale_(size > 0 ? double(device) / size : 1.0),
          frame_(framed ? 1 : 0), frameDevice_(framed ? unit : 0) {
        const int inside = size_ - 2 * frame_;
        const int insideDevice = device_ - 2 * frameDevice_;
        inside_ = inside > 0 && insideDevice > 0 ? double(insideDevice) / inside : scale_;
    }

    int64_t operator()(int64_t x) const {
        if (frame_ > 0 && x <= 0)
            return std::llround(double(x) * scale_);
        if (frame_ > 0 && x >= size_)
            return device_ + std::llround(double(x - size_) * scale_);
        return frameDevice_ + std::llround(double(x - frame_) * inside_);
    }

private:
    int64_t size_, device_;
    double scale_;
    int frame_, frameDevice_;
    double inside_ = 1.0;
};

// The overlays: a bitmap sized like another one and filled with one colour.
QImage SolidLike(const QImage& like, QRgb colour) {
    QImage bitmap(like.size(), QImage::Format_RGB32);
    bitmap.setDotsPerMeterX(like.dotsPerMeterX());
    bitmap.setDotsPerMeterY(like.dotsPerMeterY());
    bitmap.fill(colour);
    return bitmap;
}

// Fills [left, right) x [top, bottom); an empty or inverted rectangle fills nothing.
void FillRect(QImage& bitmap, int64_t left, int64_t top, int64_t right, int64_t bottom,
              QRgb colour) {
    left = std::max<int64_t>(left, 0);
    top = std::max<int64_t>(top, 0);
    right = std::min<int64_t>(right, bitmap.width());
    bottom = std::min<int64_t>(bottom, bitmap.height());
    if (left >= right || top >= bottom)
        return;
    for (int64_t y = top; y < bottom; ++y) {
        auto* row = reinterpret_cast<QRgb*>(bitmap.scanLine(static_cast<int>(y)));
        std::fill(row + left, row + right, colour);
    }
}

// A line `unit` pixels thick that leaves out its end point, like a pen moved from one point to
// another; pixels outside the bitmap are skipped.
void DrawLine(QImage& bitmap, int64_t x0, int64_t y0, int64_t x1, int64_t y1, QRgb colour,
              int unit) {
    const int64_t dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int64_t err = dx + dy;
    int64_t x = x0, y = y0;
    while (x != x1 || y != y1) {
        FillRect(bitmap, x, y, x + unit, y + unit, colour);
        const int64_t e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

// The ellipse inside [left, right) x [top, bottom), its outline of `unit` pixels included.
// QPainter's aliased outline covers one pixel more than the box it is given.
QRectF EllipseBox(int64_t left, int64_t top, int64_t right, int64_t bottom, int unit) {
    const double inset = (unit - 1) / 2.0;
    return QRectF(double(left) + inset, double(top) + inset, double(right - left - unit),
                  double(bottom - top - unit));
}

bool HasArea(int64_t left, int64_t top, int64_t right, int64_t bottom, int unit) {
    return right - left >= unit && bottom - top >= unit;
}

void DrawEllipse(QPainter& painter, int64_t left, int64_t top, int64_t right, int64_t bottom,
                 int unit) {
    if (HasArea(left, top, right, bottom, unit))
        painter.drawEllipse(EllipseBox(left, top, right, bottom, unit));
}

// The wedge of the ellipse in [left, right) x [top, bottom) from the radial through (x1, y1)
// counterclockwise to the radial through (x2, y2). QPainter measures angles along the ellipse's
// parameter, so each radial's direction is scaled by the semi-axes first. Radials that coincide
// give the whole ellipse only when `wholeIfSame`; otherwise the wedge is too thin to draw.
void DrawPie(QPainter& painter, int64_t left, int64_t top, int64_t right, int64_t bottom,
             int64_t x1, int64_t y1, int64_t x2, int64_t y2, bool wholeIfSame, int unit) {
    if (!HasArea(left, top, right, bottom, unit))
        return;
    const QRectF box = EllipseBox(left, top, right, bottom, unit);
    const QPointF centre = box.center();
    const double rx = std::max(box.width() / 2, 0.5), ry = std::max(box.height() / 2, 0.5);
    auto angle16 = [&](int64_t x, int64_t y) {
        const double a = std::atan2(-(double(y) - centre.y()) / ry, (double(x) - centre.x()) / rx);
        return static_cast<int>(std::lround(a * 180 / std::numbers::pi * 16));
    };
    const int start = angle16(x1, y1);
    int span = ((angle16(x2, y2) - start) % kFullCircle16 + kFullCircle16) % kFullCircle16;
    if (span == 0) {
        if (!wholeIfSame)
            return;
        span = kFullCircle16;
    }
    painter.drawPie(box, start, span);
}

// Exclusive or of the colours; the alpha byte stays opaque.
void XorInto(QImage& picture, const QImage& overlay) {
    const int w = std::min(picture.width(), overlay.width());
    const int h = std::min(picture.height(), overlay.height());
    for (int y = 0; y < h; ++y) {
        auto* dst = reinterpret_cast<QRgb*>(picture.scanLine(y));
        const auto* src = reinterpret_cast<const QRgb*>(overlay.constScanLine(y));
        for (int x = 0; x < w; ++x)
            dst[x] = (dst[x] ^ src[x]) | kBlack;
    }
}

} // namespace

// The control's pixels in a bitmap of the picture's size: x and y map coordinates, Unit is the
// device width of a one-pixel line and Scale the device pixels per pixel of the text.
struct TCGauge::TDevicePixels {
    TAxis X;
    TAxis Y;
    int Unit;
    double Scale;
};

TCGauge::TDevicePixels TCGauge::DevicePixelsOf(const QImage& bitmap) const {
    const int w = std::max(width(), 1), h = std::max(height(), 1);
    const double scale = std::min(double(bitmap.width()) / w, double(bitmap.height()) / h);
    const int unit = std::max(1, static_cast<int>(std::floor(scale + 1e-9)));
    const bool framed = FBorderStyle == bsSingle;
    return {TAxis(w, bitmap.width(), unit, framed), TAxis(h, bitmap.height(), unit, framed), unit,
            scale};
}

TCGauge::TCGauge(QWidget* parent) : QWidget(parent) {
    // Every pixel is drawn on each paint, so nothing behind needs drawing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    FColor = palette().color(QPalette::Button);
    resize(100, 100);
}

int TCGauge::GetPercentDone() const {
    const int64_t range = int64_t(FMaxValue) - FMinValue;
    if (range == 0)
        return 0;
    return static_cast<int>(FloorDiv((int64_t(FCurrentValue) - FMinValue) * 100, range));
}

void TCGauge::SetProgress(int32_t value) {
    const int before = GetPercentDone();
    const int32_t clamped = std::clamp(value, FMinValue, FMaxValue);
    if (clamped == FCurrentValue)
        return;
    FCurrentValue = clamped;
    if (GetPercentDone() != before)
        Redraw();
}

void TCGauge::AddProgress(int32_t delta) {
    // The sum saturates instead of wrapping; the clamp to the range follows in SetProgress.
    const int64_t sum = int64_t(FCurrentValue) + delta;
    SetProgress(static_cast<int32_t>(std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                                                         std::numeric_limits<int32_t>::max())));
    Redraw();
}

void TCGauge::SetMinValue(int32_t value) {
    if (value == FMinValue)
        return;
    if (value > FMaxValue)
        throw RangeError(-2147483647, int64_t(FMaxValue) - 1);
    FMinValue = value;
    if (FCurrentValue < value)
        FCurrentValue = value;
    Redraw();
}

void TCGauge::SetMaxValue(int32_t value) {
    if (value == 0)
        return;
    if (value < FMinValue)
        throw RangeError(int64_t(FMinValue) + 1, 2147483647);
    FMaxValue = value;
    if (FCurrentValue > value)
        FCurrentValue = value;
    Redraw();
}

void TCGauge::SeTCGaugeKind(TCGaugeKind value) {
    if (value == FKind)
        return;
    FKind = value;
    Redraw();
}

void TCGauge::SetShowText(bool value) {
    if (value == FShowText)
        return;
    FShowText = value;
    Redraw();
}

void TCGauge::SetBorderStyle(TFormBorderStyle value) {
    if (value == FBorderStyle)
        return;
    FBorderStyle = value;
    Redraw();
}

void TCGauge::SetForeColor(const QColor& value) {
    if (value == FForeColor)
        return;
    FForeColor = value;
    Redraw();
}

void TCGauge::SetBackColor(const QColor& value) {
    if (value == FBackColor)
        return;
    FBackColor = value;
    Redraw();
}

void TCGauge::SetColor(const QColor& value) {
    if (value == FColor)
        return;
    FColor = value;
    Redraw();
}

void TCGauge::Redraw() {
    // Synchronous on purpose: during a download the event loop may not run between pages.
    if (isVisible())
        repaint();
}

QImage TCGauge::Render(qreal devicePixelRatio) const {
    const int w = width(), h = height();
    if (w <= 0 || h <= 0)
        return {};
    const qreal ratio =
        std::isfinite(devicePixelRatio) && devicePixelRatio >= 1 ? devicePixelRatio : 1;
    // The layout stays in the control's pixels; only the drawing is finer.
    QImage picture(static_cast<int>(std::ceil(w * ratio - 1e-9)),
                   static_cast<int>(std::ceil(h * ratio - 1e-9)), QImage::Format_RGB32);
    // Point sizes of the font resolve as they do on the widget itself.
    picture.setDotsPerMeterX(qRound(logicalDpiX() / 0.0254));
    picture.setDotsPerMeterY(qRound(logicalDpiY() / 0.0254));
    PaintBackground(picture);

    TPaintRect r{0, 0, w, h};
    if (FBorderStyle == bsSingle)
        r = {1, 1, w - 1, h - 1}; // the margin stays black: the frame

    QImage overlay = SolidLike(picture, kBlack);
    switch (FKind) {
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
    XorInto(picture, overlay);

    if (FShowText)
        PaintAsText(picture, r);
    picture.setDevicePixelRatio(ratio);
    return picture;
}

void TCGauge::paintEvent(QPaintEvent*) {
    ++FPaintCount;
    QPainter painter(this);
    // Drawn at the resolution of what is painted on (the screen at 150 % or 200 %, or a
    // picture of the window), not drawn small and then scaled up.
    const QPaintDevice* target =
        painter.paintEngine() ? painter.paintEngine()->paintDevice() : this;
    const QImage picture = Render(target->devicePixelRatio());
    if (picture.isNull())
        return;
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, picture);
}

void TCGauge::PaintBackground(QImage& bitmap) const {
    bitmap.fill(kBlack);
}

void TCGauge::PaintAsNothing(QImage& bitmap, const TPaintRect& r) const {
    const TDevicePixels px = DevicePixelsOf(bitmap);
    FillRect(bitmap, px.X(r.Left), px.Y(r.Top), px.X(r.Right), px.Y(r.Bottom), FBackColor.rgb());
}

void TCGauge::PaintAsBar(QImage& bitmap, const TPaintRect& r) const {
    const TDevicePixels px = DevicePixelsOf(bitmap);
    const int64_t W = int64_t(r.Right) - r.Left + 1, H = int64_t(r.Bottom) - r.Top + 1;
    const QRgb fore = FForeColor.rgb();
    FillRect(bitmap, px.X(r.Left), px.Y(r.Top), px.X(r.Right), px.Y(r.Bottom), FBackColor.rgb());
    if (FKind == gkHorizontalBar) {
        const int64_t L = std::min(FloorDiv(GetPercentDone() * W, 100), W);
        if (L > 0)
            FillRect(bitmap, px.X(r.Left), px.Y(r.Top), px.X(L), px.Y(H), fore);
    } else {
        int64_t L = FloorDiv(GetPercentDone() * H, 100);
        if (L >= H)
            L = H - 1;
        FillRect(bitmap, px.X(r.Left), px.Y(H - L), px.X(W), px.Y(H), fore);
    }
}

void TCGauge::PaintAsPie(QImage& bitmap, const TPaintRect& r) const {
    const TDevicePixels px = DevicePixelsOf(bitmap);
    const int extra = FBorderStyle == bsSingle ? 1 : 0;
    const int Wp = r.Right - r.Left + extra, Hp = r.Bottom - r.Top + extra;
    FillRect(bitmap, px.X(r.Left), px.Y(r.Top), px.X(r.Right), px.Y(r.Bottom), FColor.rgb());

    QPainter painter(&bitmap);
    painter.setPen(QPen(FForeColor, px.Unit));
    painter.setBrush(FBackColor);
    DrawEllipse(painter, px.X(r.Left), px.Y(r.Top), px.X(Wp), px.Y(Hp), px.Unit);

    const int percent = GetPercentDone();
    if (percent <= 0)
        return;
    painter.setBrush(FForeColor);
    const double a = (percent * 0.02 + 0.5) * std::numbers::pi;
    const int x3 = static_cast<int>(std::floor((1 - std::cos(a)) * (Wp / 2)));
    const int y3 = static_cast<int>(std::floor((1 - std::sin(a)) * (Hp / 2)));
    DrawPie(painter, px.X(r.Left), px.Y(r.Top), px.X(Wp), px.Y(Hp), px.X(x3), px.Y(y3),
            px.X(Wp / 2), px.Y(0), percent >= 100, px.Unit);
}

void TCGauge::PaintAsNeedle(QImage& bitmap, const TPaintRect& r) const {
    const TDevicePixels px = DevicePixelsOf(bitmap);
    const int extra = FBorderStyle == bsSingle ? 1 : 0;
    const int Wn = r.Right - r.Left + extra, Hn = r.Bottom - r.Top + extra;
    const int B = r.Bottom;
    const QRgb fore = FForeColor.rgb();
    FillRect(bitmap, px.X(r.Left), px.Y(r.Top), px.X(r.Right), px.Y(r.Bottom), FColor.rgb());
    {
        QPainter painter(&bitmap);
        painter.setPen(QPen(FForeColor, px.Unit));
        painter.setBrush(FBackColor);
        DrawPie(painter, px.X(r.Left), px.Y(r.Top), px.X(Wn), px.Y(2 * int64_t(Hn) - 1),
                px.X(r.Left + Wn), px.Y(B - 1), px.X(r.Left), px.Y(B - 1), true, px.Unit);
    }
    DrawLine(bitmap, px.X(r.Left), px.Y(B), px.X(r.Left + Wn), px.Y(B), fore, px.Unit);

    const int percent = GetPercentDone();
    if (percent <= 0)
        return;
    const double a = percent * 0.01 * std::numbers::pi;
    const int c = width() / 2;
    DrawLine(bitmap, px.X(c), px.Y(B - 1),
             px.X(static_cast<int64_t>(std::floor((1 - std::cos(a)) * c))),
             px.Y(static_cast<int64_t>(std::floor((1 - std::sin(a)) * (B - 1)))), fore, px.Unit);
}

void TCGauge::PaintAsText(QImage& bitmap, const TPaintRect& r) const {
    if (r.Right <= r.Left || r.Bottom <= r.Top)
        return; // nothing shows through an empty clip
    const TDevicePixels px = DevicePixelsOf(bitmap);
    const int64_t left = px.X(r.Left), top = px.Y(r.Top), right = px.X(r.Right),
                  bottom = px.Y(r.Bottom);
    const QString text = QString::number(GetPercentDone()) + QLatin1Char('%');
    QImage textBitmap = SolidLike(bitmap, kBlack);
    {
        QPainter painter(&textBitmap);
        // Letters are whole pixels so that each one is exactly the inverse of its background,
        // and drawn at the picture's own resolution.
        QFont letters = font();
        letters.setStyleStrategy(QFont::NoAntialias);
        if (px.Scale != 1.0) {
            if (letters.pixelSize() > 0)
                letters.setPixelSize(
                    std::max(1, static_cast<int>(std::lround(letters.pixelSize() * px.Scale))));
            else
                letters.setPointSizeF(letters.pointSizeF() * px.Scale);
        }
        painter.setFont(letters);
        painter.setPen(QColor::fromRgb(kWhite));
        painter.setBrush(Qt::NoBrush);
        const QFontMetrics metrics = painter.fontMetrics();
        const int64_t x = (right - left + px.Unit - metrics.horizontalAdvance(text)) / 2;
        const int64_t y = (bottom - top + px.Unit - metrics.height()) / 2;
        painter.setClipRect(QRect(static_cast<int>(left), static_cast<int>(top),
                                  static_cast<int>(right - left), static_cast<int>(bottom - top)));
        painter.drawText(static_cast<int>(x), static_cast<int>(y + metrics.ascent()), text);
    }
    XorInto(bitmap, textBitmap);
}

} // namespace orv
