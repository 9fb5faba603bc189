// orv-flash's update time (update_timing.h), run twice: with interval timing (a reply ends after
// 100 ms of silence, as the windows once did) against the protocol's floor, and with replies
// taken the moment they are whole against the wire's floor. orv-flash traces every frame.

#include "tools.h"
#include "update_timing.h"

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

using namespace orv::test;
using orv::bench::TraceFrame;
using namespace std::chrono_literals;

// "[  1.234567] > 115200 8E1 266: 01 0D ..."
bool ParseTrace(const std::string& line, TraceFrame& out) {
    double t = 0;
    char dir = 0;
    char settings[32] = {};
    char format[8] = {};
    size_t count = 0;
    if (std::sscanf(line.c_str(), "[%lf] %c %31s %7s %zu:", &t, &dir, settings, format, &count) !=
            5 ||
        (dir != '>' && dir != '<'))
        return false;
    out = {t, dir, std::string(settings) + " " + format, count};
    return true;
}

double EventTime(const std::string& out, const std::string& panel) {
    for (const nlohmann::json& e : Named(JsonLines(out), "panel"))
        if (e.value("text", "") == panel)
            return e.value("t", -1.0);
    return -1;
}

std::optional<orv::bench::Timing> TimeUpdate(const std::string& dir, const std::string& image,
                                             bool interval) {
    const std::string name = "benchsim" + std::to_string(::getpid()) + (interval ? "i" : "f");
    PlcSim sim(orv::bench::BenchSimArgs(name, dir));
    std::vector<std::string> argv{ToolPath("flash"), "--port",  sim.Name,     "--baud", "9600",
                                  "--parity",        "even",    "--databits", "7",      "--speed",
                                  "115200",          "--image", image,        "--json", "--trace"};
    if (interval)
        argv.emplace_back("--interval-timing");
    const RunResult r = RunTool(argv, 300s);
    if (r.Exit != 0) {
        std::printf("update failed (exit %d):\n%s%s", r.Exit, r.Out.c_str(), r.Err.c_str());
        return std::nullopt;
    }
    std::vector<TraceFrame> trace;
    std::istringstream lines(r.Err);
    TraceFrame frame;
    for (std::string line; std::getline(lines, line);)
        if (ParseTrace(line, frame))
            trace.push_back(frame);
    auto timing = orv::bench::TimeTrace(trace, EventTime(r.Out, "Change Download Speed ..."),
                                        EventTime(r.Out, "DU Reroro ... OK!!"));
    timing.FellBack = r.Out.find("\"fallback\"") != std::string::npos;
    return timing;
}

} // namespace

int main() {
    const std::string dir = ScratchDir("bench-update-time");
    const std::string image = orv::bench::MakeBenchImage(dir);
    const auto interval = TimeUpdate(dir, image, true);
    const auto whole = TimeUpdate(dir, image, false);
    orv::bench::Report("orv-flash", "--interval-timing", interval, whole);
    return 0;
}
