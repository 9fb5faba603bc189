#include "forms/small_forms.h"

#include "settings/reg.h"

namespace orv {

namespace {

constexpr int kFirstRunSpeed = 4; // 115200

} // namespace

TSpeedForm::TSpeedForm(ISpeedWindow& window, TReg& reg)
    : window_(window), reg_(reg), speed_(window.BaudRateList()) {
    speed_.Fill(SpeedEntries());
    speed_.Choose(kFirstRunSpeed);
    std::string value;
    if (reg_.LoadStringNoted("", "Speed", value))
        speed_.ChooseText(value);
}

TSpeedForm::~TSpeedForm() {
    SaveSettings();
}

void TSpeedForm::SaveSettings() {
    reg_.SaveStringNoted("", "Speed", speed_.Text());
}

} // namespace orv
