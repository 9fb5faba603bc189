#pragma once
// TCGauge: a self-painting progress gauge (bar, pie, needle dial or bare percentage). Every
// picture is composed off-screen and the percentage is combined by exclusive or, so each letter
// pixel shows the inverse of what lies beneath it, over the filled and the empty part alike.

#include <QColor>
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <stdexcept>

namespace orv {

enum TCGaugeKind : uint8_t { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };

enum TFormBorderStyle : uint8_t {
    bsNone,
    bsSingle,
    bsSizeable,
    bsDialog,
    bsToolWindow,
    bsSizeToolWin
};

// Raised by SetMinValue and SetMaxValue for a value outside what the other bound allows.
class EGaugeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Left, top, right, bottom in the control's pixels; right and bottom are excluded.
struct TPaintRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};

class TCGauge : public QWidget {
    Q_OBJECT

public:
    explicit TCGauge(QWidget* parent = nullptr);

    int32_t MinValue() const { return FMinValue; }
    int32_t MaxValue() const { return FMaxValue; }
    int32_t Progress() const { return FCurrentValue; }
    TCGaugeKind Kind() const { return FKind; }
    bool ShowText() const { return FShowText; }
    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    QColor ForeColor() const { return FForeColor; }
    QColor BackColor() const { return FBackColor; }
    // Fills the area outside the pie and the dial.
    QColor Color() const { return FColor; }
    // The font of the percentage.
    QFont Font() const { return font(); }

    // floor((Progress - MinValue) * 100 / (MaxValue - MinValue)); 0 for an empty range.
    int GetPercentDone() const;

    // Clamps to [MinValue, MaxValue]; repaints only when the whole percentage changes.
    void SetProgress(int32_t value);
    // SetProgress(Progress + delta), then repaints in any case.
    void AddProgress(int32_t delta);
    // Throws EGaugeError above MaxValue; nothing changes then.
    void SetMinValue(int32_t value);
    // A maximum of 0 is ignored; throws EGaugeError below MinValue.
    void SetMaxValue(int32_t value);

    // These store and repaint only when the value differs.
    void SeTCGaugeKind(TCGaugeKind value);
    void SetKind(TCGaugeKind value) { SeTCGaugeKind(value); }
    void SetShowText(bool value);
    void SetBorderStyle(TFormBorderStyle value);
    void SetForeColor(const QColor& value);
    void SetBackColor(const QColor& value);
    void SetColor(const QColor& value);
    void SetFont(const QFont& value) { setFont(value); }

    // The picture Paint puts on the screen, in Format_RGB32: width() x height() device pixels
    // times `devicePixelRatio` (rounded up), drawn at that resolution and carrying that ratio;
    // a null image when the widget has no area.
    QImage Render(qreal devicePixelRatio = 1) const;

    // Paints done so far, for callers that check that nothing was drawn needlessly.
    int PaintCount() const { return FPaintCount; }

protected:
    void paintEvent(QPaintEvent* event) override;

    void PaintBackground(QImage& bitmap) const;
    void PaintAsNothing(QImage& bitmap, const TPaintRect& r) const;
    void PaintAsBar(QImage& bitmap, const TPaintRect& r) const;
    void PaintAsPie(QImage& bitmap, const TPaintRect& r) const;
    void PaintAsNeedle(QImage& bitmap, const TPaintRect& r) const;
    void PaintAsText(QImage& bitmap, const TPaintRect& r) const;

private:
    // Draws at once when shown; a hidden gauge shows its state when it next appears.
    void Redraw();

    // Where the drawing steps' coordinates (the control's pixels) land in a bitmap of the
    // picture's size.
    struct TDevicePixels;
    TDevicePixels DevicePixelsOf(const QImage& bitmap) const;

    int32_t FMinValue = 0;
    int32_t FMaxValue = 100;
    int32_t FCurrentValue = 0;
    TCGaugeKind FKind = gkHorizontalBar;
    bool FShowText = true;
    TFormBorderStyle FBorderStyle = bsSingle;
    QColor FForeColor = Qt::black;
    QColor FBackColor = Qt::white;
    QColor FColor;
    int FPaintCount = 0;
};

} // namespace orv
