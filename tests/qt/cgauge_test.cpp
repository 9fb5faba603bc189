#include "qt/cgauge.h"

#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

using orv::TCGauge;

constexpr QRgb kNavy = 0x000080;
constexpr QRgb kWhite = 0xFFFFFF;
constexpr QRgb kFace = 0xC0C0C0;

QRgb Px(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFF;
}

int CountInRow(const QImage& image, int y, QRgb colour) {
    int n = 0;
    for (int x = 0; x < image.width(); ++x)
        n += Px(image, x, y) == colour;
    return n;
}

int CountInColumn(const QImage& image, int x, QRgb colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        n += Px(image, x, y) == colour;
    return n;
}

int CountOnEdge(const QImage& image, QRgb colour) {
    const int w = image.width(), h = image.height();
    return CountInRow(image, 0, colour) + CountInRow(image, h - 1, colour) +
           CountInColumn(image, 0, colour) + CountInColumn(image, w - 1, colour);
}

// A gauge with the update window's colours and no text, so geometry can be checked alone.
void Prepare(TCGauge& g, orv::TCGaugeKind kind, int w, int h, orv::TFormBorderStyle border) {
    g.resize(w, h);
    g.SetKind(kind);
    g.SetBorderStyle(border);
    g.SetForeColor(QColor::fromRgb(kNavy));
    g.SetBackColor(QColor::fromRgb(kWhite));
    g.SetColor(QColor::fromRgb(kFace));
    g.SetShowText(false);
}

TEST(GaugeFrame, OnlySingleBorderDrawsABlackMargin) {
    for (int style = orv::bsNone; style <= orv::bsSizeToolWin; ++style) {
        TCGauge g;
        Prepare(g, orv::gkText, 40, 20, orv::TFormBorderStyle(style));
        const QImage image = g.Render();
        ASSERT_EQ(image.size(), QSize(40, 20));
        const bool framed = style == orv::bsSingle;
        EXPECT_EQ(CountOnEdge(image, framed ? 0 : kWhite), 2 * (40 + 20)) << style;
        EXPECT_EQ(CountInRow(image, 10, kWhite), framed ? 38 : 40) << style;
    }
}

TEST(GaugeBar, LengthAt0_37_100) {
    struct Case {
        orv::TCGaugeKind kind;
        orv::TFormBorderStyle border;
        int percent, filled;
    };
    // Framed, the paint area is 98 pixels long and W = H = 99: a horizontal bar ends at L
    // itself, a vertical one is at most H - 1 rows. Unframed, W = H = 101, and the vertical bar
    // at 100 per cent leaves the top row empty.
    const Case cases[] = {
        {orv::gkHorizontalBar, orv::bsSingle, 0, 0},
        {orv::gkHorizontalBar, orv::bsSingle, 37, 35},
        {orv::gkHorizontalBar, orv::bsSingle, 100, 98},
        {orv::gkHorizontalBar, orv::bsNone, 37, 37},
        {orv::gkHorizontalBar, orv::bsNone, 100, 100},
        {orv::gkVerticalBar, orv::bsSingle, 0, 0},
        {orv::gkVerticalBar, orv::bsSingle, 37, 36},
        {orv::gkVerticalBar, orv::bsSingle, 100, 98},
        {orv::gkVerticalBar, orv::bsNone, 100, 99},
    };
    for (const Case& c : cases) {
        const bool horizontal = c.kind == orv::gkHorizontalBar;
        const int margin = c.border == orv::bsSingle ? 1 : 0;
        TCGauge g;
        Prepare(g, c.kind, horizontal ? 100 : 20, horizontal ? 20 : 100, c.border);
        g.SetProgress(c.percent);
        const QImage image = g.Render();
        for (int across = margin; across < 20 - margin; ++across) {
            const int filled =
                horizontal ? CountInRow(image, across, kNavy) : CountInColumn(image, across, kNavy);
            ASSERT_EQ(filled, c.filled) << c.percent << "% " << int(c.kind) << "/" << margin;
        }
        if (c.filled > 0) { // grows from the left or the bottom
            EXPECT_EQ(horizontal ? Px(image, margin, 10) : Px(image, 10, 99 - margin), kNavy);
        }
        if (margin) {
            EXPECT_EQ(CountOnEdge(image, 0), 2 * (100 + 20));
        }
    }
}

// Share of the ellipse's inside that is filled, and which quadrants hold fill.
struct PieCheck {
    double filledShare;
    bool topRight, bottomRight, bottomLeft, topLeft;
};

PieCheck InspectPie(const QImage& image, double cx, double cy, double radius) {
    int inside = 0, filled = 0;
    const double r = radius - 3; // clear of the outline
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const double dx = x - cx, dy = y - cy;
            if (dx * dx + dy * dy > r * r)
                continue;
            ++inside;
            filled += Px(image, x, y) == kNavy;
        }
    const double d = radius / 2;
    auto at = [&](double sx, double sy) {
        return Px(image, int(std::lround(cx + sx * d)), int(std::lround(cy + sy * d))) == kNavy;
    };
    return {double(filled) / inside, at(1, -1), at(1, 1), at(-1, 1), at(-1, -1)};
}

TEST(GaugePie, WedgeGrowsClockwiseFromTheTop) {
    TCGauge g;
    Prepare(g, orv::gkPie, 100, 100, orv::bsSingle);

    QImage image = g.Render();
    EXPECT_EQ(Px(image, 2, 2), kFace) << "outside the ellipse";
    EXPECT_EQ(Px(image, 0, 0), 0u) << "frame";
    EXPECT_EQ(Px(image, 1, 50), kNavy) << "outline";
    EXPECT_LT(InspectPie(image, 49.5, 49.5, 48).filledShare, 0.01);

    g.SetProgress(25);
    PieCheck quarter = InspectPie(g.Render(), 49.5, 49.5, 48);
    EXPECT_NEAR(quarter.filledShare, 0.25, 0.02);
    EXPECT_TRUE(quarter.topRight);
    EXPECT_FALSE(quarter.bottomRight || quarter.bottomLeft || quarter.topLeft);

    g.SetProgress(50);
    PieCheck half = InspectPie(g.Render(), 49.5, 49.5, 48);
    EXPECT_NEAR(half.filledShare, 0.5, 0.02);
    EXPECT_TRUE(half.topRight && half.bottomRight);
    EXPECT_FALSE(half.bottomLeft || half.topLeft);

    g.SetProgress(100);
    image = g.Render();
    EXPECT_GT(InspectPie(image, 49.5, 49.5, 48).filledShare, 0.999);
    EXPECT_EQ(Px(image, 2, 2), kFace);

    // A pie too small to show 1 per cent draws no wedge rather than a whole disc.
    Prepare(g, orv::gkPie, 20, 20, orv::bsNone);
    g.SetProgress(1);
    EXPECT_LT(InspectPie(g.Render(), 9.5, 9.5, 9).filledShare, 0.1);
}

TEST(GaugeNeedle, DialAndNeedlePositions) {
    TCGauge g;
    Prepare(g, orv::gkNeedle, 100, 60, orv::bsNone);
    // Dial: upper half of an ellipse 100 wide and 119 high; its flat side is row 59.
    QImage image = g.Render();
    EXPECT_EQ(Px(image, 1, 1), kFace);
    EXPECT_EQ(Px(image, 10, 55), kWhite);
    EXPECT_EQ(Px(image, 50, 30), kWhite) << "no needle at 0";

    g.SetProgress(50);
    image = g.Render();
    // Upright: every row from near the top down to the pivot has needle pixels at column 49/50.
    for (int y = 2; y < 58; ++y)
        EXPECT_TRUE(Px(image, 49, y) == kNavy || Px(image, 50, y) == kNavy) << "row " << y;
    EXPECT_EQ(Px(image, 30, 30), kWhite);

    g.SetProgress(100);
    image = g.Render();
    EXPECT_EQ(Px(image, 80, 58), kNavy) << "points right";
    EXPECT_EQ(Px(image, 50, 30), kWhite);
}

TEST(GaugeText, LettersInvertWhatLiesBeneath) {
    TCGauge g;
    Prepare(g, orv::gkHorizontalBar, 200, 30, orv::bsSingle);
    QFont font = g.Font();
    font.setPixelSize(16);
    g.SetFont(font);
    g.SetProgress(50); // bar ends at x = 98, under the middle of "50%"

    const QImage plain = g.Render();
    g.SetShowText(true);
    const QImage text = g.Render();

    int overBar = 0, overBack = 0, left = 200, right = -1;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 200; ++x) {
            const QRgb before = Px(plain, x, y), after = Px(text, x, y);
            if (before == after)
                continue;
            ASSERT_EQ(after, before ^ 0xFFFFFF) << x << "," << y;
            ASSERT_TRUE(x > 0 && x < 199 && y > 0 && y < 29) << "text stays off the frame";
            overBar += before == kNavy;
            overBack += before == kWhite;
            left = std::min(left, x);
            right = std::max(right, x);
        }
    EXPECT_GT(overBar, 10) << "light yellow figures over the bar";
    EXPECT_GT(overBack, 10) << "black figures over the background";
    EXPECT_NEAR((left + right) / 2.0, 100, 3) << "centred";
}

// On a screen at 150 % or 200 %, the gauge paints at the screen's resolution instead of being
// drawn small and scaled up: no blended colour anywhere, every edge a single step between
// device pixels, the frame equally thick on every side, and letters finer than the control's
// own pixels.
TEST(GaugeText, SharpAtHighDevicePixelRatios) {
    for (const double ratio : {1.5, 2.0}) {
        SCOPED_TRACE(ratio);
        TCGauge g;
        Prepare(g, orv::gkHorizontalBar, 200, 30, orv::bsSingle);
        g.SetShowText(true);
        g.SetProgress(37);
        QImage image(int(200 * ratio), int(30 * ratio), QImage::Format_RGB32);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::red);
        g.render(&image);
        const int w = image.width(), h = image.height();

        const QRgb kLetterOverBar = kNavy ^ 0xFFFFFF, kFrameOrLetter = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const QRgb c = Px(image, x, y);
                ASSERT_TRUE(c == kNavy || c == kWhite || c == kLetterOverBar || c == kFrameOrLetter)
                    << std::hex << c << " at " << std::dec << x << "," << y;
            }

        const auto run = [&](int x, int y, int dx, int dy) {
            int n = 0;
            for (; x >= 0 && y >= 0 && x < w && y < h && Px(image, x, y) == 0; x += dx, y += dy)
                ++n;
            return n;
        };
        const int frame = run(0, h / 2, 1, 0);
        EXPECT_GE(frame, 1);
        EXPECT_EQ(run(w - 1, h / 2, -1, 0), frame);
        EXPECT_EQ(run(w / 10, 0, 0, 1), frame);
        EXPECT_EQ(run(w / 10, h - 1, 0, -1), frame);

        // A row clear of the letters: frame, bar, background, frame, each edge one step.
        std::vector<QRgb> runs;
        for (int x = 0; x < w; ++x)
            if (runs.empty() || runs.back() != Px(image, x, frame))
                runs.push_back(Px(image, x, frame));
        EXPECT_EQ(runs, (std::vector<QRgb>{0, kNavy, kWhite, 0}));

        if (ratio == 2.0) {
            bool finer = false;
            for (int y = frame; y + 1 < h - frame; y += 2)
                for (int x = frame; x + 1 < w - frame; x += 2) {
                    const QRgb c = Px(image, x, y);
                    finer = finer || Px(image, x + 1, y) != c || Px(image, x, y + 1) != c ||
                            Px(image, x + 1, y + 1) != c;
                }
            EXPECT_TRUE(finer) << "the letters are the control's pixels doubled";
        }
    }
}

TEST(GaugeRepaint, OnlyWholePercentChangesRepaint) {
    QWidget window;
    window.resize(300, 60);
    TCGauge* g = new TCGauge(&window);
    g->setGeometry(0, 30, 300, 30);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();

    g->SetMaxValue(1000);
    g->SetProgress(10);
    int paints = g->PaintCount();
    g->SetProgress(11); // 1.0 % to 1.1 %: stored, not drawn
    EXPECT_EQ(g->Progress(), 11);
    EXPECT_EQ(g->PaintCount(), paints);
    g->SetProgress(20);
    EXPECT_EQ(g->PaintCount(), ++paints) << "drawn at once, without the event loop";
    g->SetProgress(20);
    EXPECT_EQ(g->PaintCount(), paints);
    g->AddProgress(0);
    EXPECT_EQ(g->PaintCount(), ++paints) << "AddProgress always repaints";
    g->AddProgress(1);
    EXPECT_EQ(g->PaintCount(), ++paints) << "once, not twice";

    g->SetKind(orv::gkHorizontalBar);
    g->SetBorderStyle(orv::bsSingle);
    g->SetShowText(true);
    g->SetForeColor(Qt::black);
    g->SetMinValue(0);
    EXPECT_EQ(g->PaintCount(), paints) << "unchanged values";
    g->SetKind(orv::gkPie);
    g->SetBackColor(Qt::yellow);
    g->SetMaxValue(1000);
    EXPECT_EQ(g->PaintCount(), paints + 3) << "setting the same maximum still repaints";

    window.hide();
    paints = g->PaintCount();
    g->SetProgress(500);
    EXPECT_EQ(g->PaintCount(), paints);
    EXPECT_EQ(g->GetPercentDone(), 50);
}

TEST(GaugeRender, DegenerateSizesDrawSafely) {
    const orv::TCGaugeKind kinds[] = {orv::gkText, orv::gkHorizontalBar, orv::gkVerticalBar,
                                      orv::gkPie, orv::gkNeedle};
    const QSize sizes[] = {{0, 0}, {1, 1}, {2, 2}, {3, 1}, {1, 40}, {40, 2}, {5, 3}};
    for (auto kind : kinds)
        for (auto border : {orv::bsNone, orv::bsSingle})
            for (QSize size : sizes)
                for (int percent : {0, 1, 50, 99, 100})
                    for (int ratio : {1, 2}) {
                        TCGauge g;
                        g.resize(size);
                        g.SetKind(kind);
                        g.SetBorderStyle(border);
                        g.SetProgress(percent);
                        const QImage image = g.Render(ratio);
                        EXPECT_EQ(image.size(), size.isEmpty() ? QSize(0, 0) : size * ratio);
                        if (border == orv::bsSingle && !size.isEmpty()) {
                            EXPECT_EQ(Px(image, 0, 0), 0u);
                        }
                    }
}

// Screen readers find a progress bar named "Progress" whose value is the percentage.
TEST(GaugeAccessible, IsAProgressBarWithItsPercentage) {
    TCGauge g;
    g.SetProgress(42);
    QAccessibleInterface* gauge = QAccessible::queryAccessibleInterface(&g);
    ASSERT_NE(gauge, nullptr);
    EXPECT_EQ(gauge->role(), QAccessible::ProgressBar);
    EXPECT_EQ(gauge->text(QAccessible::Name), "Progress");
    EXPECT_EQ(gauge->text(QAccessible::Value), "42 %");
    ASSERT_NE(gauge->valueInterface(), nullptr);
    EXPECT_EQ(gauge->valueInterface()->currentValue().toInt(), 42);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
