// Cost of a gauge repaint on a shown window: the update window's 451 x 30 gauge set 544 times,
// once for each page of a download.
#include "qt/cgauge.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <cstdio>

namespace {

constexpr int kPages = 544;

// Returns the milliseconds spent and the paints made by kPages calls of `step`.
template <typename Step>
std::pair<double, int> Measure(orv::TCGauge& gauge, Step step) {
    const int paints = gauge.PaintCount();
    QElapsedTimer timer;
    timer.start();
    for (int page = 1; page <= kPages; ++page)
        step(page);
    return {timer.nsecsElapsed() / 1e6, gauge.PaintCount() - paints};
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QWidget window;
    window.resize(451, 200);
    auto* gauge = new orv::TCGauge(&window);
    gauge->setGeometry(0, 170, 451, 30);
    gauge->SetForeColor(QColor(0, 0, 0x80));
    gauge->SetBackColor(Qt::white);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "bench_gauge: window never shown\n");
        return 1;
    }

    // Every call changes the percentage, so every call paints.
    auto [ms, paints] = Measure(*gauge, [&](int page) { gauge->SetProgress(page % 2 ? 37 : 38); });
    std::printf("gauge 451x30: %d SetProgress calls, %d repaints, %.3f ms per repaint "
                "(target < 1 ms)\n",
                kPages, paints, paints ? ms / paints : 0.0);

    // A download as the update window drives it: the share of pages sent, in whole per cent.
    gauge->SetProgress(0);
    auto [dlMs, dlPaints] =
        Measure(*gauge, [&](int page) { gauge->SetProgress(page * 100 / kPages); });
    std::printf("gauge 451x30: download of %d pages, %d repaints, %.3f ms in all\n", kPages,
                dlPaints, dlMs);
    return paints == kPages ? 0 : 1;
}
