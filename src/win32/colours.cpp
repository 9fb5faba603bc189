#include "win32/colours.h"

namespace orv {

namespace {

bool systemSays = false;
bool read = false;
std::optional<bool> overridden;

} // namespace

void ReadSystemLook() {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    systemSays = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
                 (contrast.dwFlags & HCF_HIGHCONTRASTON);
    read = true;
}

bool HighContrast() {
    if (overridden)
        return *overridden;
    if (!read)
        ReadSystemLook();
    return systemSays;
}

void OverrideHighContrast(std::optional<bool> on) {
    overridden = on;
}

COLORREF TColour::Now() const {
    return Own == CLR_INVALID || HighContrast() ? GetSysColor(System) : Own;
}

} // namespace orv
