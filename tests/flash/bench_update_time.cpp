// The update time of a 544-page image at 115200 baud, run twice: with interval timing (a reply
// ends after 100 ms of silence, as in the windows) against the protocol's floor, and with
// replies taken the moment they are whole against the wire's floor. orv-plcsim paces its line
// like a real one and takes 5 ms to write a page; orv-flash runs the update and traces every
// frame. The wire floor of a run, exchange by exchange: the request and the reply on the wire
// at the line's speed and bits per character, and the page write; plus the 200 ms wait before
// page 0. The protocol floor adds the 100 ms of silence that ends every reply at the reader.

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

struct Timing {
    double Measured = 0;
    double WireFloor = 0;
    int Exchanges = 0, Pages = 0, Unanswered = 0;
    bool FellBack = false;
    double ProtocolFloor() const { return WireFloor + Exchanges * kReadInterval; }
};

// From "Update OS" to "DU Reroro ... OK!!" of one update, and its floors from its trace.
std::optional<Timing> TimeUpdate(const std::string& dir, const std::string& image, bool interval) {
    const std::string name = "benchsim" + std::to_string(::getpid()) + (interval ? "i" : "f");
    PlcSim sim({"--name", name, "--speed", "9600", "--format", "7E1", "--page-write-ms", "5",
                "--flash-out", dir + "/flash.bin"});
    std::vector<std::string> argv{ToolPath("flash"), "--port",  sim.Name,     "--baud", "9600",
                                  "--parity",        "even",    "--databits", "7",      "--speed",
                                  "115200",          "--image", image,        "--json", "--trace"};
    if (interval)
        argv.push_back("--interval-timing");
    const RunResult r = RunTool(argv, 300s);
    if (r.Exit != 0) {
        std::printf("update failed (exit %d):\n%s%s", r.Exit, r.Out.c_str(), r.Err.c_str());
        return std::nullopt;
    }
    const double start = EventTime(r.Out, "Change Download Speed ...");
    const double end = EventTime(r.Out, "DU Reroro ... OK!!");

    Timing timing;
    timing.Measured = end - start;
    timing.WireFloor = kWaitBeforePage0;
    timing.FellBack = r.Out.find("\"fallback\"") != std::string::npos;
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
                ++timing.Unanswered; // a repeat: not part of the floor
            request = t;
            pending = true;
            continue;
        }
        if (!pending)
            continue;
        timing.WireFloor += request.Count * request.BitsPerChar / request.Baud;
        timing.WireFloor += t.Count * t.BitsPerChar / t.Baud;
        if (request.Count == 266) {
            timing.WireFloor += kPageWrite;
            ++timing.Pages;
        }
        ++timing.Exchanges;
        pending = false;
    }
    return timing;
}

void Report(const char* what, const Timing& t, const char* floorName, double floor, double target) {
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

int main() {
    const std::string dir = ScratchDir("bench-update-time");
    const std::string image = dir + "/os544.bin";
    MakeImage(image, ImageRecipe{0x22000, 1, "1.61", "03/2010", 2, 5});

    const auto classic = TimeUpdate(dir, image, true);
    const auto fast = TimeUpdate(dir, image, false);
    std::printf("update of a 544-page image at 115200 baud (connect 9600 7E1), paced simulator, "
                "5 ms page writes; from \"Update OS\" to \"DU Reroro ... OK!!\"\n");
    if (classic)
        Report("interval timing (--interval-timing)", *classic, "protocol floor",
               classic->ProtocolFloor(), 1.03);
    if (fast)
        Report("replies taken whole (the default)", *fast, "wire floor", fast->WireFloor, 1.10);
    if (classic && fast && fast->Measured > 0)
        std::printf("  the default is %.2f times as fast as interval timing\n",
                    classic->Measured / fast->Measured);
    return 0;
}
