#pragma once
// TCGauge: a self-painting progress gauge (bar, pie, needle dial or bare percentage). Every
// picture is composed off-screen and the percentage is combined by exclusive or, so each letter
// pixel shows the inverse of what lies beneath it, over the filled and the empty part alike.
// Its properties, their rules and its picture are the plain gauge's (forms/gauge_model.h,
// gauge_picture.h), shared with the GDI gauge; the text's font and the widget are Qt's. Screen
// readers find it as a progress bar named "Progress" with its percentage as its value, told of
// each new percentage.

#include "forms/gauge_model.h"
#include "forms/gauge_picture.h"

#include <QColor>
#include <QImage>
#include <QWidget>
#include <cstdint>

namespace orv {

class TCGauge : public QWidget, public TGaugeProperties<TCGauge> {
    Q_OBJECT

public:
    explicit TCGauge(QWidget* parent = nullptr);

    QColor ForeColor() const { return QColor::fromRgb(FModel.ForeColor()); }
    QColor BackColor() const { return QColor::fromRgb(FModel.BackColor()); }
    // Fills the area outside the pie and the dial.
    QColor Color() const { return QColor::fromRgb(FModel.Color()); }
    // The font of the percentage.
    QFont Font() const { return font(); }

    // These store and repaint only when the value differs (the font: as Qt does).
    void SetForeColor(const QColor& value) { Redraw(FModel.SetForeColor(value.rgb())); }
    void SetBackColor(const QColor& value) { Redraw(FModel.SetBackColor(value.rgb())); }
    void SetColor(const QColor& value) { Redraw(FModel.SetColor(value.rgb())); }
    void SetFont(const QFont& value) { setFont(value); }

    // The picture Paint puts on the screen, in Format_RGB32: width() x height() device pixels
    // times `devicePixelRatio` (rounded up), drawn at that resolution and carrying that ratio;
    // a null image when the widget has no area.
    QImage Render(qreal devicePixelRatio = 1) const;

    // Paints done so far, for callers that check that nothing was drawn needlessly.
    int PaintCount() const { return FPaintCount; }

protected:
    void paintEvent(QPaintEvent* event) override;

    // The percentage, drawn with the widget's font and XORed onto the picture; the other
    // drawing steps are the plain gauge's (TGaugePicture).
    void PaintAsText(QImage& bitmap, const TGaugePicture& picture, const TPaintRect& r) const;

private:
    friend class TGaugeProperties<TCGauge>;

    // Draws at once when the picture `changed` and the gauge is shown; a hidden gauge shows its
    // state when it next appears.
    void Redraw(bool changed);

    int FPaintCount = 0;
    int FSpokenPercent = 0; // the percentage screen readers were last told of
};

} // namespace orv
