// The update time of a 544-page image at 115200 baud against the protocol's floor.
// orv-plcsim paces its line like a real one and takes 5 ms to write a page; orv-flash runs the
// update and traces every frame. The floor of the same run, exchange by exchange: the request
// and the reply on the wire at the line's speed and bits per character, the page write, and
// the 100 ms of silence that ends every reply at the reader; plus the 200 ms wait before page 0.

#include "flash_testkit.h"

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

using namespace orv::flashtest;
using namespace std::chrono_literals;

constexpr double kReadInterval = 0.100;
constexpr double kPageWrite = 0.005;
constexpr double kWaitBeforePage0 = 0.200;
// The events carry milliseconds, the trace microseconds: a frame within half a millisecond of
// an event may carry a later stamp than the event's rounded one.
constexpr double kStampSlack = 0.001;

struct TraceLine {
    double T = 0;
    char Dir = 0;
    double Baud = 0;
    int BitsPerChar = 0;
    size_t Count = 0;
};

// "[  1.234567] > 115200 8E1 266: 01 0D ..."
bool ParseTrace(const std::string& line, TraceLine& out) {
    double t = 0;
    char dir = 0;
    unsigned baud = 0;
    int bits = 0;
    char parity = 0;
    int stop = 0;
    size_t count = 0;
    if (std::sscanf(line.c_str(), "[%lf] %c %u %1d%c%1d %zu:", &t, &dir, &baud, &bits, &parity,
                    &stop, &count) != 7 ||
        (dir != '>' && dir != '<'))
        return false;
    out = {t, dir, static_cast<double>(baud), 1 + bits + (parity == 'N' ? 0 : 1) + stop, count};
    return true;
}

double EventTime(const std::string& out, const std::string& panel) {
    for (const nlohmann::json& e : JsonLines(out))
        if (e.is_object() && e.value("event", "") == "panel" && e.value("text", "") == panel)
            return e.value("t", -1.0);
    return -1;
}

} // namespace

int main() {
    const std::string dir = ScratchDir("bench-update-time");
    const std::string image = dir + "/os544.bin";
    const std::string flashOut = dir + "/flash.bin";
    MakeImage(image, ImageRecipe{0x22000, 1, "1.61", "03/2010", 2, 5});

    const std::string name = "benchsim" + std::to_string(::getpid());
    PlcSim sim({"--name", name, "--speed", "9600", "--format", "7E1", "--page-write-ms", "5",
                "--flash-out", flashOut});
    const RunResult r =
        RunTool({ToolPath("flash"), "--port", sim.Name, "--baud", "9600", "--parity", "even",
                 "--databits", "7", "--speed", "115200", "--image", image, "--json", "--trace"},
                300s);
    if (r.Exit != 0) {
        std::printf("update failed (exit %d):\n%s%s", r.Exit, r.Out.c_str(), r.Err.c_str());
        return 0;
    }
    const double start = EventTime(r.Out, "Change Download Speed ...");
    const double end = EventTime(r.Out, "DU Reroro ... OK!!");

    double floor = kWaitBeforePage0;
    int exchanges = 0, pages = 0, unanswered = 0;
    TraceLine request;
    bool pending = false;
    std::istringstream lines(r.Err);
    std::string line;
    TraceLine t;
    while (std::getline(lines, line)) {
        if (!ParseTrace(line, t) || t.T < start - kStampSlack || t.T > end + kStampSlack)
            continue;
        if (t.Dir == '>') {
            if (pending)
                ++unanswered; // a repeat: not part of the floor
            request = t;
            pending = true;
            continue;
        }
        if (!pending)
            continue;
        floor += request.Count * request.BitsPerChar / request.Baud;
        floor += t.Count * t.BitsPerChar / t.Baud + kReadInterval;
        if (request.Count == 266) {
            floor += kPageWrite;
            ++pages;
        }
        ++exchanges;
        pending = false;
    }
    const double measured = end - start;
    std::printf("update of a 544-page image at 115200 baud (connect 9600 7E1), paced simulator, "
                "5 ms page writes\n");
    std::printf("  measured from \"Update OS\" to \"DU Reroro ... OK!!\": %.3f s\n", measured);
    std::printf("  protocol floor (%d exchanges, %d page frames, 200 ms wait): %.3f s\n", exchanges,
                pages, floor);
    if (unanswered)
        std::printf("  frames sent again after a time-out: %d\n", unanswered);
    std::printf("  ratio: %.4f (target at most 1.03)\n", floor > 0 ? measured / floor : 0.0);
    return 0;
}
