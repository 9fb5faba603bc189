#pragma once
// orv-flash --plan: many PLCs updated from one CSV file, one line each. The whole plan is
// checked before any PLC is touched; then every port runs its PLCs one after another (one line
// has one speed) while the ports run side by side, each PLC in a FlashSession of its own.

#include "event_loop.h"
#include "flash_console.h"
#include "flash_plan_file.h"

#include <functional>

namespace orv {

// Runs the plan of args.Plan on loop: the exit code. interrupt is set to what an interrupt
// calls on the loop's thread while the plan runs.
int RunPlan(const FlashArgs& args, TEventLoop& loop, ICommSink& sink, TConsole& console,
            std::function<void()>& interrupt);

} // namespace orv
