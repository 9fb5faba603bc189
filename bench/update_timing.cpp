#include "update_timing.h"

#include "tools.h"
#include "update/os_image.h"

#include <cstdio>

namespace orv::bench {

namespace {

constexpr double kReadInterval = 0.100;
constexpr double kPageWrite = 0.005;
constexpr double kWaitBeforePage0 = 0.200;
// Events carry milliseconds, the trace microseconds: a frame within half a millisecond of an
// event may carry a later stamp than the event's rounded one.
constexpr double kStampSlack = 0.001;

// The seconds a frame of `count` bytes takes on the line "115200 8E1" (or "... 8E2").
double WireSeconds(const std::string& line, size_t count) {
    double baud = 0;
    int bits = 0, stop = 1;
    char parity = 'N';
    if (std::sscanf(line.c_str(), "%lf %1d%c%1d", &baud, &bits, &parity, &stop) < 3 || baud <= 0)
        return 0;
    return static_cast<double>(count) * (1 + bits + (parity == 'N' ? 0 : 1) + stop) / baud;
}

void ReportOne(const char* what, const Timing& t, const char* floorName, double floor,
               double target) {
    std::printf("  %s: %.3f s\n", what, t.Measured);
    std::printf("    %s (%d exchanges, %d page frames, 200 ms wait): %.3f s\n", floorName,
                t.Exchanges, t.Pages, floor);
    if (t.Unanswered)
        std::printf("    frames sent again after a time-out: %d\n", t.Unanswered);
    if (t.FellBack)
        std::printf("    fell back to interval timing\n");
    std::printf("    ratio: %.4f (target at most %.2f)\n", floor > 0 ? t.Measured / floor : 0.0,
                target);
}

} // namespace

double Timing::ProtocolFloor() const {
    return WireFloor + Exchanges * kReadInterval;
}

std::string MakeBenchImage(const std::string& dir) {
    std::string image = dir + "/os544.bin";
    test::MakeImage(image, test::ImageRecipe{0x22000, 1, "1.61", "03/2010", 2, 5});
    return image;
}

std::vector<std::string> BenchSimArgs(const std::string& name, const std::string& dir) {
    return {
        "--name", name,          "--speed",         "9600", "--format", "7E1", "--page-write-ms",
        "5",      "--flash-out", dir + "/flash.bin"};
}

Timing TimeTrace(const std::vector<TraceFrame>& trace, double start, double end) {
    Timing timing;
    timing.Measured = end - start;
    timing.WireFloor = kWaitBeforePage0;
    const TraceFrame* request = nullptr;
    for (const TraceFrame& t : trace) {
        if (t.T < start - kStampSlack || t.T > end + kStampSlack)
            continue;
        if (t.Dir == '>') {
            if (request)
                ++timing.Unanswered; // a repeat: not part of the floor
            request = &t;
            continue;
        }
        if (!request)
            continue;
        timing.WireFloor +=
            WireSeconds(request->Line, request->Count) + WireSeconds(t.Line, t.Count);
        if (request->Count == kPageFrameSize) {
            timing.WireFloor += kPageWrite;
            ++timing.Pages;
        }
        ++timing.Exchanges;
        request = nullptr;
    }
    return timing;
}

void Report(const std::string& who, const std::string& intervalHow,
            const std::optional<Timing>& interval, const std::optional<Timing>& whole) {
    std::printf("%s: update of a 544-page image at 115200 baud (connect 9600 7E1), paced "
                "simulator, 5 ms page writes; from \"Update OS\" to \"DU Reroro ... OK!!\"\n",
                who.c_str());
    if (interval)
        ReportOne(("interval timing (" + intervalHow + ")").c_str(), *interval, "protocol floor",
                  interval->ProtocolFloor(), 1.03);
    if (whole)
        ReportOne("replies taken whole (the default)", *whole, "wire floor", whole->WireFloor,
                  1.10);
    if (interval && whole && whole->Measured > 0)
        std::printf("  the default is %.2f times as fast as interval timing\n",
                    interval->Measured / whole->Measured);
}

} // namespace orv::bench
