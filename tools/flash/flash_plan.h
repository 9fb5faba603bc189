#pragma once
// orv-flash --plan: many PLCs updated from one CSV file, one line each. The whole plan is
// checked before any PLC is touched; then every port runs its PLCs one after another (one line
// has one speed) while the ports run side by side, each PLC in a FlashSession of its own.

#include "event_loop.h"
#include "flash_args.h"
#include "flash_console.h"

#include <functional>
#include <string>
#include <vector>

namespace orv {

struct PlanEntry {
    int Line = 0; // in the file, from 1
    FlashArgs Args;
    std::string PortKey; // the same device however the line names it
};

struct PlanReading {
    std::vector<PlanEntry> Entries;
    std::vector<std::string> Errors; // "plan.csv:4: ...", in the file's order
};

// Reads and checks the plan at path. defaults: the command line, whose line settings, speed
// and stop-plc answer fill the columns a line leaves empty, and whose other settings (trace,
// JSON, ...) hold for every PLC. Images are read and checked here (a relative path counts from
// the plan's folder), each file once.
PlanReading ReadPlan(const std::string& path, const FlashArgs& defaults);

// Runs the plan of args.Plan on loop: the exit code. interrupt is set to what an interrupt
// calls on the loop's thread while the plan runs.
int RunPlan(const FlashArgs& args, TEventLoop& loop, ICommSink& sink, TConsole& console,
            std::function<void()>& interrupt);

} // namespace orv
