#include "qt/cgauge.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace orv {

namespace {

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kWhite = 0xFFFFFFFF;

// The overlays: a bitmap sized like another one and filled with one colour.
QImage SolidLike(const QImage& like, QRgb colour) {
    QImage bitmap(like.size(), QImage::Format_RGB32);
    bitmap.setDotsPerMeterX(like.dotsPerMeterX());
    bitmap.setDotsPerMeterY(like.dotsPerMeterY());
    bitmap.fill(colour);
    return bitmap;
}

// The image's own pixels, for the plain gauge's drawing: RGB32 keeps every pixel opaque.
TPixelMap PixelsOf(QImage& image) {
    return {reinterpret_cast<uint32_t*>(image.bits()), image.width(), image.height(),
            static_cast<int>(image.bytesPerLine() / 4), kBlack};
}

// What screen readers are told of a gauge: a progress bar named "Progress", its value the
// percentage ("42 %").
class TGaugeAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit TGaugeAccessible(TCGauge* gauge)
        : QAccessibleWidget(gauge, QAccessible::ProgressBar), gauge_(gauge) {}

    QString text(QAccessible::Text kind) const override {
        switch (kind) {
        case QAccessible::Name:
            return QString::fromLatin1(kGaugeAccessibleName);
        case QAccessible::Value:
            return QString::fromStdString(gauge_->SpokenValue());
        default:
            return QAccessibleWidget::text(kind);
        }
    }
    void* interface_cast(QAccessible::InterfaceType kind) override {
        if (kind == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(kind);
    }

    // QAccessibleValueInterface: the percentage, which only the program sets.
    QVariant currentValue() const override { return gauge_->GetPercentDone(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    TCGauge* gauge_;
};

QAccessibleInterface* GaugeAccessibleFactory(const QString& className, QObject* object) {
    auto* gauge = qobject_cast<TCGauge*>(object);
    return className == QLatin1String("orv::TCGauge") && gauge ? new TGaugeAccessible(gauge)
                                                               : nullptr;
}

} // namespace

TCGauge::TCGauge(QWidget* parent) : QWidget(parent) {
    static const bool factory = [] {
        QAccessible::installFactory(GaugeAccessibleFactory);
        return true;
    }();
    (void)factory;
    // Every pixel is drawn on each paint, so nothing behind needs drawing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    (void)FModel.SetColor(palette().color(QPalette::Button).rgb());
    resize(100, 100);
}

void TCGauge::Redraw(bool changed) {
    if (GetPercentDone() != FSpokenPercent) {
        FSpokenPercent = GetPercentDone();
        QAccessibleValueChangeEvent event(this, FSpokenPercent);
        QAccessible::updateAccessibility(&event);
    }
    // Synchronous on purpose: during a download the event loop may not run between pages.
    if (changed && isVisible())
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
    const TGaugePicture steps(FModel, w, h, picture.width(), picture.height());
    TPixelMap pixels = PixelsOf(picture);
    steps.PaintBackground(pixels);

    QImage overlay = SolidLike(picture, kBlack);
    TPixelMap overlayPixels = PixelsOf(overlay);
    steps.PaintOverlay(overlayPixels);
    XorPixels(pixels, overlayPixels);

    if (FModel.ShowText())
        PaintAsText(picture, steps, steps.PaintRect());
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

void TCGauge::PaintAsText(QImage& bitmap, const TGaugePicture& picture, const TPaintRect& r) const {
    const TDeviceRect clip = picture.TextClip(r);
    if (clip.Right <= clip.Left || clip.Bottom <= clip.Top)
        return; // nothing shows through an empty clip
    const QString text = QString::fromStdString(FModel.PercentText());
    QImage textBitmap = SolidLike(bitmap, kBlack);
    {
        QPainter painter(&textBitmap);
        // Letters are whole pixels so that each one is exactly the inverse of its background,
        // and drawn at the picture's own resolution.
        QFont letters = font();
        letters.setStyleStrategy(QFont::NoAntialias);
        if (picture.Scale() != 1.0) {
            if (letters.pixelSize() > 0)
                letters.setPixelSize(std::max(
                    1, static_cast<int>(std::lround(letters.pixelSize() * picture.Scale()))));
            else
                letters.setPointSizeF(letters.pointSizeF() * picture.Scale());
        }
        painter.setFont(letters);
        painter.setPen(QColor::fromRgb(kWhite));
        painter.setBrush(Qt::NoBrush);
        const QFontMetrics metrics = painter.fontMetrics();
        const auto origin =
            picture.TextOrigin(r, metrics.horizontalAdvance(text), metrics.height());
        painter.setClipRect(QRect(static_cast<int>(clip.Left), static_cast<int>(clip.Top),
                                  static_cast<int>(clip.Right - clip.Left),
                                  static_cast<int>(clip.Bottom - clip.Top)));
        painter.drawText(static_cast<int>(origin.X), static_cast<int>(origin.Y + metrics.ascent()),
                         text);
    }
    TPixelMap pixels = PixelsOf(bitmap), letters = PixelsOf(textBitmap);
    XorPixels(pixels, letters);
}

} // namespace orv
