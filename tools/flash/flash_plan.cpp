#include "flash_plan.h"

#include "flash_output.h"
#include "flash_report.h"
#include "flash_session.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>

namespace orv {

namespace {

using Clock = std::chrono::steady_clock;

// One PLC of the plan, from waiting to its result.
struct TPlc {
    enum class TState { Waiting, Running, Done, NotRun };
    PlanEntry Entry;
    TState State = TState::Waiting;
    std::unique_ptr<FlashOutput> Out;
    std::unique_ptr<FlashReport> Report;
    std::unique_ptr<FlashSession> Session;
    std::string Message; // why it did not run
    Clock::time_point Started;
    double Seconds = 0;
};

// The PLCs of one port, in the plan's order; once one may have been left in its download mode
// it answers nothing and swallows what is sent to the others, so they are not run.
struct TPort {
    std::vector<size_t> Plcs;
    std::string Blocked;
};

class TPlanRun {
public:
    TPlanRun(const FlashArgs& args, std::vector<PlanEntry> entries, TEventLoop& loop,
             ICommSink& sink, TConsole& console)
        : args_(args), loop_(loop), sink_(sink), console_(console), start_(Clock::now()),
          out_(args.Json, false, start_), report_(out_) {
        for (PlanEntry& e : entries) {
            TPlc plc;
            plc.Entry = std::move(e);
            plcs_.push_back(std::move(plc));
        }
        // Each port's PLCs in the plan's order; the ports in the order they first appear.
        std::map<std::string, size_t> portIndex;
        for (size_t i = 0; i < plcs_.size(); ++i) {
            const auto [at, fresh] = portIndex.emplace(plcs_[i].Entry.PortKey, ports_.size());
            if (fresh)
                ports_.emplace_back();
            ports_[at->second].Plcs.push_back(i);
        }
    }

    int Run();
    void Interrupt();

private:
    bool Advance();
    void StartOne(TPlc& plc);
    void Ended(TPort& port, TPlc& plc);
    int Summary();

    const FlashArgs& args_;
    TEventLoop& loop_;
    ICommSink& sink_;
    TConsole& console_;
    Clock::time_point start_;
    FlashOutput out_;
    FlashReport report_;
    std::vector<TPlc> plcs_;
    std::vector<TPort> ports_;
    bool interrupted_ = false;
};

int TPlanRun::Run() {
    std::vector<PlanRow> rows;
    for (const TPlc& plc : plcs_)
        rows.push_back(
            {plc.Entry.Line, plc.Entry.Args.Port, plc.Entry.Args.Station, plc.Entry.Args.Image});
    report_.PlanStart(args_.Plan, rows, ports_.size());
    loop_.RunUntil([this] { return Advance(); });
    return Summary();
}

void TPlanRun::Ended(TPort& port, TPlc& plc) {
    plc.State = TPlc::TState::Done;
    plc.Seconds = std::chrono::duration<double>(Clock::now() - plc.Started).count();
    // The next PLC on this line opens the port again.
    plc.Session->ClosePort();
    if (plc.Session->Result().DownloadMode && port.Blocked.empty())
        port.Blocked = "not started: the PLC of plan line " + std::to_string(plc.Entry.Line) +
                       " may be in download mode on this port, where it answers no station "
                       "command until it is updated or switched off and on";
}

// Called by the loop after each piece of work: ends the runs that are over, starts the next PLC
// of their port, and says whether the whole plan is over.
bool TPlanRun::Advance() {
    bool over = true;
    for (TPort& port : ports_) {
        for (const size_t i : port.Plcs) {
            TPlc& plc = plcs_[i];
            if (plc.State == TPlc::TState::Running && plc.Session->Finished())
                Ended(port, plc);
            if (plc.State == TPlc::TState::Waiting) {
                if (interrupted_ || !port.Blocked.empty()) {
                    plc.State = TPlc::TState::NotRun;
                    plc.Message = interrupted_ ? "not started: interrupted" : port.Blocked;
                    continue;
                }
                StartOne(plc);
                // A run refused before it reached the port ends at once.
                if (plc.Session->Finished()) {
                    Ended(port, plc);
                    continue;
                }
            }
            if (plc.State == TPlc::TState::Running) {
                over = false;
                break; // the rest of this port waits its turn
            }
        }
    }
    return over;
}

void TPlanRun::StartOne(TPlc& plc) {
    plc.State = TPlc::TState::Running;
    plc.Started = Clock::now();
    plc.Out = std::make_unique<FlashOutput>(args_.Json, args_.Trace, start_);
    plc.Out->MarkPlanLine(plc.Entry.Line);
    plc.Report = std::make_unique<FlashReport>(*plc.Out);
    plc.Session =
        std::make_unique<FlashSession>(plc.Entry.Args, *plc.Report, loop_, sink_, console_);
    plc.Session->Start();
}

void TPlanRun::Interrupt() {
    if (!interrupted_)
        report_.Warning("interrupted: aborting every run; a PLC not yet in its download mode gets "
                        "its speed back (interrupt again to quit at once)");
    interrupted_ = true;
    for (TPlc& plc : plcs_)
        if (plc.State == TPlc::TState::Running)
            plc.Session->Interrupt();
}

int TPlanRun::Summary() {
    std::vector<PlanOutcome> outcomes;
    size_t done = 0; // updated and verified, or left alone as current; a dry run's: reached
    for (const TPlc& plc : plcs_) {
        PlanOutcome o;
        o.Line = plc.Entry.Line;
        o.Port = plc.Entry.Args.Port;
        o.Station = plc.Entry.Args.Station;
        o.Image = plc.Entry.Args.Image;
        o.Seconds = plc.Seconds;
        o.Result = "not-run";
        if (plc.State == TPlc::TState::Done) {
            const FlashRunResult& r = plc.Session->Result();
            o.Run = true;
            o.Exit = r.Exit;
            o.Result = ResultName(r);
            o.Message = r.Message.empty() && r.DryRun ? DryRunText(*r.DryRun) : r.Message;
            o.Before = r.Before;
            o.After = r.After;
            o.ImageOs = r.Image;
            o.DownloadMode = r.DownloadMode;
            done += r.Exit == kExitOk;
        } else {
            o.Message = plc.Message;
        }
        outcomes.push_back(std::move(o));
    }
    const int code = interrupted_              ? kExitInterrupted
                     : done == outcomes.size() ? kExitOk
                                               : kExitFailed;
    report_.PlanSummary(outcomes, code, args_.DryRun);
    return code;
}

} // namespace

int RunPlan(const FlashArgs& args, TEventLoop& loop, ICommSink& sink, TConsole& console,
            std::function<void()>& interrupt) {
    const PlanReading plan = ReadPlan(args.Plan, args);
    if (!plan.Errors.empty()) {
        std::string reasons;
        for (const std::string& e : plan.Errors) {
            std::fprintf(stderr, "orv-flash: %s\n", e.c_str());
            reasons += (reasons.empty() ? "" : "; ") + e;
        }
        std::fprintf(stderr, "orv-flash: the plan was refused; no PLC was touched\n");
        if (args.Json)
            ReportEnd(kExitUsage, "the plan was refused; no PLC was touched: " + reasons);
        return kExitUsage;
    }
    TPlanRun run(args, plan.Entries, loop, sink, console);
    interrupt = [&run] { run.Interrupt(); };
    const int code = run.Run();
    interrupt = nullptr;
    return code;
}

} // namespace orv
