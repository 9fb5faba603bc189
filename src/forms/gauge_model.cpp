#include "forms/gauge_model.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace orv {

namespace {

EGaugeError RangeError(int64_t low, int64_t high) {
    char text[80];
    std::snprintf(text, sizeof text, "Value must be between %lld and %lld",
                  static_cast<long long>(low), static_cast<long long>(high));
    return EGaugeError(text);
}

} // namespace

int TGaugeModel::GetPercentDone() const {
    // The setters keep MinValue <= Progress <= MaxValue, so both differences are at least 0
    // and the division truncates to the floor; 64 bits hold them at the 32-bit ends.
    const int64_t range = int64_t(FMaxValue) - FMinValue;
    if (range == 0)
        return 0;
    return static_cast<int>((int64_t(FCurrentValue) - FMinValue) * 100 / range);
}

std::string TGaugeModel::PercentText() const {
    return std::to_string(GetPercentDone()) + "%";
}

bool TGaugeModel::SetProgress(int32_t value) {
    const int before = GetPercentDone();
    const int32_t clamped = std::clamp(value, FMinValue, FMaxValue);
    if (clamped == FCurrentValue)
        return false;
    FCurrentValue = clamped;
    return GetPercentDone() != before;
}

bool TGaugeModel::AddProgress(int32_t delta) {
    const int64_t sum = int64_t(FCurrentValue) + delta;
    (void)SetProgress(static_cast<int32_t>(std::clamp<int64_t>(
        sum, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max())));
    return true;
}

bool TGaugeModel::SetMinValue(int32_t value) {
    if (value == FMinValue)
        return false;
    if (value > FMaxValue)
        throw RangeError(-2147483647, int64_t(FMaxValue) - 1);
    FMinValue = value;
    FCurrentValue = std::max(FCurrentValue, value);
    return true;
}

bool TGaugeModel::SetMaxValue(int32_t value) {
    if (value == 0)
        return false;
    if (value < FMinValue)
        throw RangeError(int64_t(FMinValue) + 1, 2147483647);
    FMaxValue = value;
    FCurrentValue = std::min(FCurrentValue, value);
    return true;
}

} // namespace orv
