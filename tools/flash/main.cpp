// orv-flash: the OS update from the command line, for production lines, remote cabinets and
// scripts. The same status query and update sequence as the windows, with a terminal view.

#include "common/platform_io.h"
#include "event_loop.h"
#include "flash_args.h"
#include "flash_console.h"
#include "flash_history.h"
#include "flash_output.h"
#include "flash_plan.h"
#include "flash_report.h"
#include "flash_scan.h"
#include "flash_session.h"
#include "serial/port_list.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace orv;
    // UTF-8 on every platform (the wide command line on Windows): image and plan names are
    // opened as UTF-8.
    const std::vector<std::string> args = ProgramArguments(argc, argv);
    const FlashArgsResult parsed = ParseFlashArgs(args);
    if (!parsed.Error.empty()) {
        // A script asked for events gets its done event, whatever else was wrong.
        if (std::find(args.begin(), args.end(), "--json") != args.end())
            ReportEnd(kExitUsage, parsed.Error);
        std::fprintf(stderr, "orv-flash: %s\n\n%s", parsed.Error.c_str(), parsed.Help.c_str());
        return kExitUsage;
    }
    if (!parsed.Print.empty()) {
        std::fputs(parsed.Print.c_str(), stdout);
        return kExitOk;
    }
    if (parsed.Args.Mode == FlashArgs::TMode::History) {
        FlashOutput out(parsed.Args.Json, false);
        FlashReport report(out);
        return ShowHistory(parsed.Args, report);
    }
    if (parsed.Args.Mode == FlashArgs::TMode::List) {
        for (const std::string& entry : ListPortEntries())
            std::printf("%s\n", entry.c_str());
        return kExitOk;
    }

    try {
        TEventLoop loop;
        TLoopCommSink sink(loop);
        std::function<void()> interrupt; // read and written on the loop's thread only
        TConsole console([&loop, &interrupt] {
            loop.Post([&interrupt] {
                if (interrupt)
                    interrupt();
            });
        });
        if (parsed.Args.Mode == FlashArgs::TMode::Plan)
            return RunPlan(parsed.Args, loop, sink, console, interrupt);
        FlashOutput out(parsed.Args.Json, parsed.Args.Trace);
        FlashReport report(out);
        if (parsed.Args.Mode == FlashArgs::TMode::Scan) {
            FlashScan scan(parsed.Args, report, loop, sink);
            interrupt = [&scan] { scan.Interrupt(); };
            return scan.Run();
        }
        FlashSession session(parsed.Args, report, loop, sink, console);
        interrupt = [&session] { session.Interrupt(); };
        return session.Run();
    } catch (const std::exception& e) {
        // Nothing the runs catch themselves gets here (the loop or the console failed to
        // start); a script still gets its done event.
        if (parsed.Args.Json)
            ReportEnd(kExitFailed, e.what());
        std::fprintf(stderr, "orv-flash: %s\n", e.what());
        return kExitFailed;
    }
}
