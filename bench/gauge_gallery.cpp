// Draws every gauge kind at 0, 37 and 100 per cent into one PNG, for a look by eye.
#include "qt/cgauge.h"

#include <QApplication>
#include <QPainter>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : "/tmp/gauges.png";

    struct Row {
        orv::TCGaugeKind kind;
        const char* name;
        QSize size;
    };
    const Row rows[] = {{orv::gkText, "gkText", {180, 30}},
                        {orv::gkHorizontalBar, "gkHorizontalBar", {180, 30}},
                        {orv::gkVerticalBar, "gkVerticalBar", {30, 100}},
                        {orv::gkPie, "gkPie", {100, 100}},
                        {orv::gkNeedle, "gkNeedle", {180, 90}}};
    const int percents[] = {0, 37, 100};
    const QColor face(0xF0, 0xF0, 0xF0);
    constexpr int labelWidth = 130, cellWidth = 200, gap = 14;

    int height = gap;
    for (const Row& row : rows)
        height += row.size.height() + gap;
    height += 2 * (30 + gap); // the update window's gauge, framed and not
    QImage canvas(labelWidth + 3 * cellWidth, height + 20, QImage::Format_RGB32);
    canvas.fill(face);
    QPainter painter(&canvas);
    painter.setPen(Qt::black);
    for (int c = 0; c < 3; ++c)
        painter.drawText(labelWidth + c * cellWidth, 16, QString("%1 %").arg(percents[c]));

    int y = 20 + gap;
    for (const Row& row : rows) {
        painter.drawText(8, y + row.size.height() / 2 + 5, row.name);
        for (int c = 0; c < 3; ++c) {
            orv::TCGauge gauge;
            gauge.resize(row.size);
            gauge.SetKind(row.kind);
            gauge.SetForeColor(QColor(0, 0, 0x80)); // the update window's colours
            gauge.SetBackColor(Qt::white);
            gauge.SetColor(face);
            gauge.SetProgress(percents[c]);
            painter.drawImage(labelWidth + c * cellWidth, y, gauge.Render());
        }
        y += row.size.height() + gap;
    }

    for (auto border : {orv::bsSingle, orv::bsNone}) {
        orv::TCGauge gauge;
        gauge.resize(451, 30);
        gauge.SetForeColor(QColor(0, 0, 0x80));
        gauge.SetBackColor(Qt::white);
        gauge.SetBorderStyle(border);
        gauge.SetProgress(border == orv::bsSingle ? 50 : 63);
        painter.drawText(8, y + 20, border == orv::bsSingle ? "451 x 30" : "bsNone");
        painter.drawImage(labelWidth, y, gauge.Render());
        y += 30 + gap;
    }
    painter.end();
    if (!canvas.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return EXIT_FAILURE;
    }
    std::printf("%s\n", qPrintable(path));
    return EXIT_SUCCESS;
}
