// The time orv-flash --scan takes over stations 0 to 31 at 9600 baud, against a paced
// multi-drop orv-plcsim with a handful of stations present, against what its waits allow: every
// absent station costs the status query's whole wait (500 ms, or --scan-timeout); beyond the
// waits a station should cost little more than its request and reply on the wire.

#include "tools.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

using namespace orv::test;
using namespace std::chrono_literals;

void Scan() {
    const std::string name = "benchscan" + std::to_string(::getpid());
    PlcSim sim({"--name", name, "--speed", "9600", "--format", "8E1", "--stations",
                "1,2,7,16:version=1.50", "--stations", "30:running"});
    const auto start = std::chrono::steady_clock::now();
    const RunResult r =
        RunTool({ToolPath("flash"), "--port", sim.Name, "--baud", "9600", "--scan", "--json"}, 60s);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (r.Exit != 0) {
        std::printf("scan failed (exit %d):\n%s%s", r.Exit, r.Out.c_str(), r.Err.c_str());
        return;
    }
    const auto events = JsonLines(r.Out);
    const nlohmann::json& done = events.back();
    const int timeoutMs = events.front().value("timeout_ms", 0);
    std::printf("scan of stations 0-31 at 9600 baud 8E1, 5 stations present, paced simulator\n");
    std::printf("  stations found: %s\n", done.value("found", nlohmann::json()).dump().c_str());
    const size_t absent = 32 - done.value("found", nlohmann::json::array()).size();
    std::printf("  time-out a station: %d ms; %zu absent stations wait %.3f s of it\n", timeoutMs,
                absent, static_cast<double>(absent) * timeoutMs / 1000.0);
    const double seconds = done.value("seconds", 0.0);
    const double waits = static_cast<double>(absent) * timeoutMs / 1000.0;
    std::printf("  scan: %.3f s (orv-flash from start to end: %.3f s)\n", seconds, wall);
    std::printf("  beyond the waits: %.0f ms a station (target at most 150 ms)\n",
                (seconds - waits) * 1000.0 / 32);
}

} // namespace

int main() {
    try {
        Scan();
    } catch (const std::exception& e) {
        std::printf("scan failed: %s\n", e.what());
    }
    return 0;
}
