#pragma once
// The progress gauge apart from how it reaches the screen: its values and the rules its setters
// keep, for both front ends' TCGauge (Qt and GDI). Each setter says whether the gauge must
// repaint, and the front end repaints when told, so that both repaint on exactly the same calls.

#include <cstdint>
#include <stdexcept>
#include <string>

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

// What screen readers are told of the gauge: its name, and its value as SpokenValue says it.
inline constexpr const char* kGaugeAccessibleName = "Progress";

// A colour as 0xRRGGBB: what both toolkits' colours come down to in the gauge's pixels.
using TGaugeColour = uint32_t;

class TGaugeModel {
public:
    int32_t MinValue() const { return FMinValue; }
    int32_t MaxValue() const { return FMaxValue; }
    int32_t Progress() const { return FCurrentValue; }
    TCGaugeKind Kind() const { return FKind; }
    bool ShowText() const { return FShowText; }
    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    TGaugeColour ForeColor() const { return FForeColor; }
    TGaugeColour BackColor() const { return FBackColor; }
    // Fills the area outside the pie and the dial (the toolkit control's own colour).
    TGaugeColour Color() const { return FColor; }

    // floor((Progress - MinValue) * 100 / (MaxValue - MinValue)); 0 for an empty range.
    int GetPercentDone() const;
    // The percentage as the gauge writes it: "37%".
    std::string PercentText() const;
    // The percentage as a screen reader speaks it: "37 %".
    std::string SpokenValue() const { return std::to_string(GetPercentDone()) + " %"; }

    // Clamps to [MinValue, MaxValue]; true only when the whole percentage changed.
    [[nodiscard]] bool SetProgress(int32_t value);
    // SetProgress(Progress + delta), the sum saturating at the 32-bit ends; always true, so a
    // caller repaints once whether or not anything changed.
    [[nodiscard]] bool AddProgress(int32_t delta);
    // Throws EGaugeError above MaxValue, changing nothing; raises Progress to the new minimum.
    [[nodiscard]] bool SetMinValue(int32_t value);
    // A maximum of 0 is ignored (false); throws EGaugeError below MinValue, changing nothing;
    // lowers Progress to the new maximum. Setting the current maximum again is true.
    [[nodiscard]] bool SetMaxValue(int32_t value);

    // These store and are true only when the value differs.
    [[nodiscard]] bool SetKind(TCGaugeKind value) { return Change(FKind, value); }
    [[nodiscard]] bool SetShowText(bool value) { return Change(FShowText, value); }
    [[nodiscard]] bool SetBorderStyle(TFormBorderStyle value) {
        return Change(FBorderStyle, value);
    }
    [[nodiscard]] bool SetForeColor(TGaugeColour value) { return Change(FForeColor, value & kRgb); }
    [[nodiscard]] bool SetBackColor(TGaugeColour value) { return Change(FBackColor, value & kRgb); }
    [[nodiscard]] bool SetColor(TGaugeColour value) { return Change(FColor, value & kRgb); }

private:
    static constexpr TGaugeColour kRgb = 0xFFFFFF;

    template <typename T>
    static bool Change(T& field, T value) {
        if (field == value)
            return false;
        field = value;
        return true;
    }

    int32_t FMinValue = 0;
    int32_t FMaxValue = 100;
    int32_t FCurrentValue = 0;
    TCGaugeKind FKind = gkHorizontalBar;
    bool FShowText = true;
    TFormBorderStyle FBorderStyle = bsSingle;
    TGaugeColour FForeColor = 0x000000;
    TGaugeColour FBackColor = 0xFFFFFF;
    TGaugeColour FColor = 0xF0F0F0; // each front end starts it at its button face
};

// What both front ends' TCGauge publish of the model, but for the colours, whose type is each
// toolkit's own. TFrontEnd derives from it and has Redraw(bool changed), which every setter
// calls with what the model said.
template <typename TFrontEnd>
class TGaugeProperties {
public:
    int32_t MinValue() const { return FModel.MinValue(); }
    int32_t MaxValue() const { return FModel.MaxValue(); }
    int32_t Progress() const { return FModel.Progress(); }
    TCGaugeKind Kind() const { return FModel.Kind(); }
    bool ShowText() const { return FModel.ShowText(); }
    TFormBorderStyle BorderStyle() const { return FModel.BorderStyle(); }

    // floor((Progress - MinValue) * 100 / (MaxValue - MinValue)); 0 for an empty range.
    int GetPercentDone() const { return FModel.GetPercentDone(); }
    // The accessible value, "42 %".
    std::string SpokenValue() const { return FModel.SpokenValue(); }

    // Clamps to [MinValue, MaxValue]; repaints only when the whole percentage changes.
    void SetProgress(int32_t value) { Changed(FModel.SetProgress(value)); }
    // SetProgress(Progress + delta), then repaints in any case, once.
    void AddProgress(int32_t delta) { Changed(FModel.AddProgress(delta)); }
    // Throws EGaugeError above MaxValue; nothing changes then.
    void SetMinValue(int32_t value) { Changed(FModel.SetMinValue(value)); }
    // A maximum of 0 is ignored; throws EGaugeError below MinValue.
    void SetMaxValue(int32_t value) { Changed(FModel.SetMaxValue(value)); }

    // These store and repaint only when the value differs.
    void SeTCGaugeKind(TCGaugeKind value) { Changed(FModel.SetKind(value)); }
    void SetKind(TCGaugeKind value) { SeTCGaugeKind(value); }
    void SetShowText(bool value) { Changed(FModel.SetShowText(value)); }
    void SetBorderStyle(TFormBorderStyle value) { Changed(FModel.SetBorderStyle(value)); }

protected:
    void Changed(bool changed) { static_cast<TFrontEnd*>(this)->Redraw(changed); }

    TGaugeModel FModel;
};

} // namespace orv
