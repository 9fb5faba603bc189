// Draws every state of gauge_states.h with the Qt gauge into DIR/<state>.ppm, the pictures the
// Windows gauge is compared with under Wine:
//   gauge_reference DIR
#include "gauge_states.h"
#include "qt/cgauge.h"

#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gauge_reference DIR\n");
        return EXIT_FAILURE;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(".")) {
        std::fprintf(stderr, "gauge_reference: cannot make %s\n", argv[1]);
        return EXIT_FAILURE;
    }
    using namespace orv::gauge_states;
    for (const TState& state : States()) {
        orv::TCGauge gauge;
        gauge.resize(state.Width, state.Height);
        gauge.SetKind(orv::TCGaugeKind(state.Kind));
        gauge.SetBorderStyle(state.Framed ? orv::bsSingle : orv::bsNone);
        gauge.SetForeColor(QColor::fromRgb(kFore));
        gauge.SetBackColor(QColor::fromRgb(kBack));
        gauge.SetColor(QColor::fromRgb(kFace));
        gauge.SetShowText(state.ShowText);
        gauge.SetProgress(state.Percent);
        const QImage picture =
            gauge.Render(state.Dpi / 96.0).convertToFormat(QImage::Format_RGB888);
        const QString path = dir.filePath(QString::fromStdString(state.FileName()));
        if (!picture.save(path, "PPM")) {
            std::fprintf(stderr, "gauge_reference: cannot write %s\n", qPrintable(path));
            return EXIT_FAILURE;
        }
    }
    return EXIT_SUCCESS;
}
