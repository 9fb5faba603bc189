#include "widgets/cgauge.h"

#include <QFontMetrics>
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

// A one-pixel line that leaves out its end point, like a pen moved from one point to another;
// pixels outside the bitmap are skipped.
void DrawLine(QImage& bitmap, int x0, int y0, int x1, int y1, QRgb colour) {
    const int64_t dx = std::abs(int64_t(x1) - x0), dy = -std::abs(int64_t(y1) - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int64_t err = dx + dy;
    int64_t x = x0, y = y0;
    while (x != x1 || y != y1) {
        if (x >= 0 && y >= 0 && x < bitmap.width() && y < bitmap.height())
            reinterpret_cast<QRgb*>(bitmap.scanLine(static_cast<int>(y)))[x] = colour;
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

// The ellipse inside [left, right) x [top, bottom), outline included. QPainter's aliased outline
// covers one pixel more than the box it is given.
QRectF EllipseBox(int left, int top, int right, int bottom) {
    return QRectF(left, top, double(right) - left - 1, double(bottom) - top - 1);
}

bool HasArea(int left, int top, int right, int bottom) {
    return right - left >= 1 && bottom - top >= 1;
}

void DrawEllipse(QPainter& painter, int left, int top, int right, int bottom) {
    if (HasArea(left, top, right, bottom))
        painter.drawEllipse(EllipseBox(left, top, right, bottom));
}

// The wedge of the ellipse in [left, right) x [top, bottom) from the radial through (x1, y1)
// counterclockwise to the radial through (x2, y2). QPainter measures angles along the ellipse's
// parameter, so each radial's direction is scaled by the semi-axes first. Radials that coincide
// give the whole ellipse only when `wholeIfSame`; otherwise the wedge is too thin to draw.
void DrawPie(QPainter& painter, int left, int top, int right, int bottom, int x1, int y1, int x2,
             int y2, bool wholeIfSame) {
    if (!HasArea(left, top, right, bottom))
        return;
    const QRectF box = EllipseBox(left, top, right, bottom);
    const QPointF centre = box.center();
    const double rx = std::max(box.width() / 2, 0.5), ry = std::max(box.height() / 2, 0.5);
    auto angle16 = [&](int x, int y) {
        const double a = std::atan2(-(y - centre.y()) / ry, (x - centre.x()) / rx);
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

QImage TCGauge::Render() const {
    const int w = width(), h = height();
    if (w <= 0 || h <= 0)
        return {};
    QImage picture(w, h, QImage::Format_RGB32);
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
    return picture;
}

void TCGauge::paintEvent(QPaintEvent*) {
    ++FPaintCount;
    const QImage picture = Render();
    if (picture.isNull())
        return;
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, picture);
}

void TCGauge::PaintBackground(QImage& bitmap) const {
    bitmap.fill(kBlack);
}

void TCGauge::PaintAsNothing(QImage& bitmap, const TPaintRect& r) const {
    FillRect(bitmap, r.Left, r.Top, r.Right, r.Bottom, FBackColor.rgb());
}

void TCGauge::PaintAsBar(QImage& bitmap, const TPaintRect& r) const {
    const int64_t W = int64_t(r.Right) - r.Left + 1, H = int64_t(r.Bottom) - r.Top + 1;
    const QRgb fore = FForeColor.rgb();
    FillRect(bitmap, r.Left, r.Top, r.Right, r.Bottom, FBackColor.rgb());
    if (FKind == gkHorizontalBar) {
        const int64_t L = std::min(FloorDiv(GetPercentDone() * W, 100), W);
        if (L > 0)
            FillRect(bitmap, r.Left, r.Top, L, H, fore);
    } else {
        int64_t L = FloorDiv(GetPercentDone() * H, 100);
        if (L >= H)
            L = H - 1;
        FillRect(bitmap, r.Left, H - L, W, H, fore);
    }
}

void TCGauge::PaintAsPie(QImage& bitmap, const TPaintRect& r) const {
    const int extra = FBorderStyle == bsSingle ? 1 : 0;
    const int Wp = r.Right - r.Left + extra, Hp = r.Bottom - r.Top + extra;
    FillRect(bitmap, r.Left, r.Top, r.Right, r.Bottom, FColor.rgb());

    QPainter painter(&bitmap);
    painter.setPen(QPen(FForeColor, 1));
    painter.setBrush(FBackColor);
    DrawEllipse(painter, r.Left, r.Top, Wp, Hp);

    const int percent = GetPercentDone();
    if (percent <= 0)
        return;
    painter.setBrush(FForeColor);
    const double a = (percent * 0.02 + 0.5) * std::numbers::pi;
    const int x3 = static_cast<int>(std::floor((1 - std::cos(a)) * (Wp / 2)));
    const int y3 = static_cast<int>(std::floor((1 - std::sin(a)) * (Hp / 2)));
    DrawPie(painter, r.Left, r.Top, Wp, Hp, x3, y3, Wp / 2, 0, percent >= 100);
}

void TCGauge::PaintAsNeedle(QImage& bitmap, const TPaintRect& r) const {
    const int extra = FBorderStyle == bsSingle ? 1 : 0;
    const int Wn = r.Right - r.Left + extra, Hn = r.Bottom - r.Top + extra;
    const int B = r.Bottom;
    const QRgb fore = FForeColor.rgb();
    FillRect(bitmap, r.Left, r.Top, r.Right, r.Bottom, FColor.rgb());
    {
        QPainter painter(&bitmap);
        painter.setPen(QPen(FForeColor, 1));
        painter.setBrush(FBackColor);
        DrawPie(painter, r.Left, r.Top, Wn, 2 * Hn - 1, r.Left + Wn, B - 1, r.Left, B - 1, true);
    }
    DrawLine(bitmap, r.Left, B, r.Left + Wn, B, fore);

    const int percent = GetPercentDone();
    if (percent <= 0)
        return;
    const double a = percent * 0.01 * std::numbers::pi;
    const int c = width() / 2;
    DrawLine(bitmap, c, B - 1, static_cast<int>(std::floor((1 - std::cos(a)) * c)),
             static_cast<int>(std::floor((1 - std::sin(a)) * (B - 1))), fore);
}

void TCGauge::PaintAsText(QImage& bitmap, const TPaintRect& r) const {
    if (r.Right <= r.Left || r.Bottom <= r.Top)
        return; // nothing shows through an empty clip
    const QString text = QString::number(GetPercentDone()) + QLatin1Char('%');
    QImage textBitmap = SolidLike(bitmap, kBlack);
    {
        QPainter painter(&textBitmap);
        // Letters are whole pixels so that each one is exactly the inverse of its background.
        QFont letters = font();
        letters.setStyleStrategy(QFont::NoAntialias);
        painter.setFont(letters);
        painter.setPen(QColor::fromRgb(kWhite));
        painter.setBrush(Qt::NoBrush);
        const QFontMetrics metrics = painter.fontMetrics();
        const int x = (r.Right - r.Left + 1 - metrics.horizontalAdvance(text)) / 2;
        const int y = (r.Bottom - r.Top + 1 - metrics.height()) / 2;
        painter.setClipRect(QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top));
        painter.drawText(x, y + metrics.ascent(), text);
    }
    XorInto(bitmap, textBitmap);
}

} // namespace orv
