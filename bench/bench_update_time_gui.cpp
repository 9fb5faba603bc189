// The windows' update time (update_timing.h), beside orv-flash's in bench_update_time: the Qt
// program offscreen, driven as its end-to-end test drives it, once with replies taken whole
// (the default) and once with the registry's ReplyTiming = "interval". The port's trace gives
// the floors; the update window's status panel, watched each millisecond, gives the time.

#include "forms/form_kit.h"
#include "qt_steps.h"
#include "settings/reg.h"
#include "tools.h"
#include "update_timing.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

using namespace orv::test;
using orv::bench::TraceFrame;

std::optional<orv::bench::Timing> TimeUpdate(const std::string& dir, const std::string& image,
                                             bool interval) {
    ForgetSettings();
    if (interval && !orv::TReg(orv::kRegKeyPath).SaveString("", "ReplyTiming", "interval")) {
        std::printf("the setting ReplyTiming could not be stored\n");
        return std::nullopt;
    }
    const std::string name = "benchgui" + std::to_string(::getpid()) + (interval ? "i" : "f");
    PlcSim sim(orv::bench::BenchSimArgs(name, dir));
    orv::TOrvApplication app;
    app.fmStartup->show();
    if (GetStatus(app, QString::fromStdString(name)).isEmpty())
        return std::nullopt;

    QElapsedTimer clock;
    clock.start();
    const auto now = [&] { return static_cast<double>(clock.nsecsElapsed()) / 1e9; };
    std::vector<TraceFrame> trace;
    app.LinePort.OnTrace = [&](char way, const uint8_t*, uint16_t count) {
        trace.push_back({now(), way, app.LinePort.LineText(), count});
    };
    bool fellBack = false;
    app.LinePort.OnIntervalTiming = [&](const std::vector<uint8_t>&) { fellBack = true; };
    double start = -1, end = -1;
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QString panel = app.fmUpdate->pnlStatus->text();
        if (start < 0 && panel == "Change Download Speed ...")
            start = now();
        if (end < 0 && panel == "DU Reroro ... OK!!")
            end = now();
    });
    watch.start();
    const UpdateOutcome seen = Update(app, QString::fromStdString(image), {}, 240000);
    watch.stop();
    app.LinePort.OnTrace = nullptr;
    app.LinePort.OnIntervalTiming = nullptr;
    app.fmStartup->close();
    if (seen.panel != "DU Reroro ... OK!!" || start < 0 || end < 0) {
        std::printf("update failed: %s | %s\n", seen.panel.toStdString().c_str(),
                    seen.statusBar.toStdString().c_str());
        return std::nullopt;
    }
    auto timing = orv::bench::TimeTrace(trace, start, end);
    timing.FellBack = fellBack;
    return timing;
}

} // namespace

int main() {
    const std::string dir = ScratchDir("bench-update-time-gui");
    // Offscreen, with settings and an update history of its own.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
    EnsureProgramApplication();
    const std::string image = orv::bench::MakeBenchImage(dir);
    const auto interval = TimeUpdate(dir, image, true);
    const auto whole = TimeUpdate(dir, image, false);
    orv::bench::Report("the windows (Qt, offscreen)", "ReplyTiming = interval", interval, whole);
    delete QCoreApplication::instance();
    return 0;
}
