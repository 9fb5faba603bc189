// The progress gauge's values and the rules its setters keep, which both front ends' gauges
// follow; their own tests check that they repaint when these say so.

#include "forms/gauge_model.h"

#include <climits>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <tuple>

namespace orv {
namespace {

std::string ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EGaugeError& e) {
        return e.what();
    }
    return "no error";
}

TEST(GaugeValues, RangeErrorsKeepEverything) {
    TGaugeModel g;
    EXPECT_TRUE(g.SetProgress(40));
    EXPECT_EQ(ErrorOf([&] { (void)g.SetMinValue(101); }),
              "Value must be between -2147483647 and 99");
    EXPECT_EQ(ErrorOf([&] { (void)g.SetMaxValue(-1); }), "Value must be between 1 and 2147483647");
    EXPECT_FALSE(g.SetMaxValue(0)) << "a maximum of 0 is ignored";
    EXPECT_EQ(std::tuple(g.MinValue(), g.MaxValue(), g.Progress()), std::tuple(0, 100, 40));
    EXPECT_TRUE(g.SetMaxValue(100)) << "the same maximum again still repaints";
    EXPECT_FALSE(g.SetMinValue(0));
    EXPECT_TRUE(g.SetMinValue(50));
    EXPECT_EQ(g.Progress(), 50) << "raised with the minimum";
    EXPECT_TRUE(g.SetMinValue(0));

    EXPECT_TRUE(g.SetMaxValue(30));
    EXPECT_EQ(g.Progress(), 30) << "pulled down with the maximum";
    EXPECT_TRUE(g.SetMinValue(30));
    EXPECT_EQ(g.GetPercentDone(), 0) << "an empty range";
    EXPECT_EQ(g.PercentText(), "0%");
    EXPECT_TRUE(g.SetMinValue(-50));
    EXPECT_TRUE(g.SetProgress(-1000));
    EXPECT_EQ(g.Progress(), -50);
    EXPECT_TRUE(g.SetProgress(1000));
    EXPECT_EQ(g.Progress(), 30);
    EXPECT_EQ(g.PercentText(), "100%");

    // At the ends of the 32-bit range the bounds in the message do not wrap.
    EXPECT_TRUE(g.SetMinValue(INT_MIN));
    EXPECT_TRUE(g.SetMaxValue(INT_MIN));
    EXPECT_EQ(ErrorOf([&] { (void)g.SetMinValue(5); }),
              "Value must be between -2147483647 and -2147483649");
}

TEST(GaugeValues, PercentIsAnExactFloorOverAny32BitRange) {
    TGaugeModel g;
    (void)g.SetMaxValue(3);
    (void)g.SetProgress(1);
    EXPECT_EQ(g.GetPercentDone(), 33);
    (void)g.SetProgress(2);
    EXPECT_EQ(g.GetPercentDone(), 66);

    (void)g.SetMinValue(INT_MIN);
    (void)g.SetMaxValue(INT_MAX);
    const std::pair<int32_t, int> cases[] = {{INT_MIN, 0}, {INT_MAX, 100},    {0, 50},
                                             {-1, 49},     {INT_MAX - 1, 99}, {INT_MIN + 1, 0}};
    for (auto [progress, percent] : cases) {
        (void)g.SetProgress(progress);
        EXPECT_EQ(g.GetPercentDone(), percent) << progress;
    }

    // AddProgress saturates rather than wrapping past the 32-bit ends, and always repaints.
    (void)g.SetProgress(INT_MAX);
    EXPECT_TRUE(g.AddProgress(1));
    EXPECT_EQ(g.Progress(), INT_MAX);
    (void)g.SetProgress(INT_MIN);
    EXPECT_TRUE(g.AddProgress(-1));
    EXPECT_EQ(g.Progress(), INT_MIN);
    EXPECT_TRUE(g.AddProgress(INT_MAX));
    EXPECT_EQ(g.Progress(), -1);
}

TEST(GaugeValues, OnlyAWholePercentChangeRepaints) {
    TGaugeModel g;
    (void)g.SetMaxValue(1000);
    EXPECT_TRUE(g.SetProgress(10));
    EXPECT_FALSE(g.SetProgress(11)) << "1.0 % to 1.1 %";
    EXPECT_EQ(g.Progress(), 11) << "stored all the same";
    EXPECT_FALSE(g.SetProgress(11));
    EXPECT_TRUE(g.SetProgress(20));
    EXPECT_TRUE(g.AddProgress(0)) << "AddProgress repaints in any case";

    EXPECT_FALSE(g.SetKind(gkHorizontalBar) || g.SetBorderStyle(bsSingle) || g.SetShowText(true) ||
                 g.SetForeColor(0x000000) || g.SetBackColor(0xFFFFFF))
        << "the defaults again";
    EXPECT_TRUE(g.SetForeColor(0x000080));
    EXPECT_FALSE(g.SetForeColor(0xFF000080)) << "only the colour counts, not a top byte";
}

} // namespace
} // namespace orv
