#include "flash_plan.h"

#include "flash_output.h"
#include "flash_session.h"
#include "json_text.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>

namespace orv {

namespace {

using Clock = std::chrono::steady_clock;

struct TOs {
    std::string Version, Date;
};

// One PLC of the plan, from waiting to its result.
struct TPlc {
    enum class TState { Waiting, Running, Done, NotRun };
    PlanEntry Entry;
    TState State = TState::Waiting;
    std::unique_ptr<FlashOutput> Out;
    std::unique_ptr<FlashSession> Session;
    std::optional<TOs> Before, After;
    std::string Result = "not-run", Message;
    int Exit = kExitFailed;
    Clock::time_point Started;
    double Seconds = 0;
};

class TPlanRun {
public:
    TPlanRun(const FlashArgs& args, std::vector<PlanEntry> entries, TEventLoop& loop,
             ICommSink& sink, TConsole& console)
        : args_(args), loop_(loop), sink_(sink), console_(console), start_(Clock::now()),
          out_(args.Json, false, start_) {
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
            ports_[at->second].push_back(i);
        }
    }

    int Run();
    void Interrupt();

private:
    bool Advance();
    void StartOne(TPlc& plc);
    void Observe(TPlc& plc, const nlohmann::ordered_json& event);
    int Summary();

    const FlashArgs& args_;
    TEventLoop& loop_;
    ICommSink& sink_;
    TConsole& console_;
    Clock::time_point start_;
    FlashOutput out_;
    std::vector<TPlc> plcs_;
    std::vector<std::vector<size_t>> ports_;
    bool interrupted_ = false;
};

int TPlanRun::Run() {
    out_.Event(std::move(JsonEvent("plan")
                             .Str("file", args_.Plan)
                             .Int("plcs", static_cast<long long>(plcs_.size()))
                             .Int("ports", static_cast<long long>(ports_.size()))));
    out_.Line("Plan " + args_.Plan + ": " + std::to_string(plcs_.size()) + " PLCs on " +
              std::to_string(ports_.size()) + (ports_.size() == 1 ? " port" : " ports"));
    for (const TPlc& plc : plcs_)
        out_.Line("  line " + std::to_string(plc.Entry.Line) + ": " + plc.Entry.Args.Port +
                  " station " + std::to_string(plc.Entry.Args.Station) + ", " +
                  PrintableText(plc.Entry.Args.Image));
    loop_.RunUntil([this] { return Advance(); });
    return Summary();
}

// Called by the loop after each piece of work: ends the runs that are over, starts the next PLC
// of their port, and says whether the whole plan is over.
bool TPlanRun::Advance() {
    bool over = true;
    for (const std::vector<size_t>& port : ports_) {
        for (const size_t i : port) {
            TPlc& plc = plcs_[i];
            if (plc.State == TPlc::TState::Running && plc.Session->Finished()) {
                plc.State = TPlc::TState::Done;
                plc.Exit = plc.Session->ExitCode();
                plc.Seconds = std::chrono::duration<double>(Clock::now() - plc.Started).count();
                // The next PLC on this line opens the port again.
                plc.Session->ClosePort();
            }
            if (plc.State == TPlc::TState::Waiting) {
                if (interrupted_) {
                    plc.State = TPlc::TState::NotRun;
                    plc.Message = "not started: interrupted";
                    continue;
                }
                StartOne(plc);
                // A run refused before it reached the port ends at once.
                if (plc.Session->Finished())
                    continue;
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
    plc.Out->OnEvent = [this, &plc](const nlohmann::ordered_json& e) { Observe(plc, e); };
    plc.Session = std::make_unique<FlashSession>(plc.Entry.Args, *plc.Out, loop_, sink_, console_);
    plc.Session->Start();
    if (plc.Session->Finished()) {
        plc.State = TPlc::TState::Done;
        plc.Exit = plc.Session->ExitCode();
        plc.Session->ClosePort();
    }
}

void TPlanRun::Observe(TPlc& plc, const nlohmann::ordered_json& e) {
    const std::string event = e.value("event", "");
    if (event == "plc_status") {
        TOs os{e.value("version", ""), e.value("date", "")};
        if (e.value("phase", "") == "status")
            plc.Before = os;
        else
            plc.After = os;
    } else if (event == "done") {
        plc.Result = e.value("result", "failed");
        plc.Message = e.value("message", "");
    }
}

void TPlanRun::Interrupt() {
    if (!interrupted_)
        out_.ErrorLine("interrupted: aborting every run, then restoring their speeds (interrupt "
                       "again to quit at once)");
    interrupted_ = true;
    for (TPlc& plc : plcs_)
        if (plc.State == TPlc::TState::Running)
            plc.Session->Interrupt();
}

std::string Row(const std::string& line, const std::string& port, const std::string& station,
                const std::string& result, const std::string& before, const std::string& after,
                const std::string& time) {
    char row[512];
    std::snprintf(row, sizeof row, "%5s  %-14s  %7s  %-13s  %-12s  %-12s  %8s", line.c_str(),
                  PrintableText(port).c_str(), station.c_str(), result.c_str(), before.c_str(),
                  after.c_str(), time.c_str());
    return row;
}

int TPlanRun::Summary() {
    size_t updated = 0;
    auto os = [](const std::optional<TOs>& v) {
        return v ? PrintableText(v->Version + " " + v->Date) : std::string("-");
    };
    auto osJson = [](const std::optional<TOs>& v) {
        if (!v)
            return nlohmann::ordered_json(nullptr);
        return nlohmann::ordered_json{{"version", JsonText(v->Version)},
                                      {"date", JsonText(v->Date)}};
    };
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    std::vector<std::string> rows;
    for (const TPlc& plc : plcs_) {
        const bool ok = plc.State == TPlc::TState::Done && plc.Exit == kExitOk;
        updated += ok;
        char seconds[16];
        std::snprintf(seconds, sizeof seconds, "%.1f s", plc.Seconds);
        const std::string row = Row(std::to_string(plc.Entry.Line), plc.Entry.Args.Port,
                                    std::to_string(plc.Entry.Args.Station), plc.Result,
                                    os(plc.Before), os(plc.After), seconds);
        rows.push_back(row + (plc.Message.empty() ? "" : "  " + PrintableText(plc.Message)));
        list.push_back({{"plan_line", plc.Entry.Line},
                        {"port", JsonText(plc.Entry.Args.Port)},
                        {"station", plc.Entry.Args.Station},
                        {"image", JsonText(plc.Entry.Args.Image)},
                        {"result", plc.Result},
                        {"exit", plc.State == TPlc::TState::Done ? nlohmann::ordered_json(plc.Exit)
                                                                 : nlohmann::ordered_json(nullptr)},
                        {"message", JsonText(plc.Message)},
                        {"os_before", osJson(plc.Before)},
                        {"os_after", osJson(plc.After)},
                        {"seconds", std::round(plc.Seconds * 1000.0) / 1000.0}});
    }
    const int code = updated == plcs_.size() ? kExitOk : kExitFailed;
    out_.Line("");
    out_.Line("Plan summary: " + std::to_string(updated) + " of " + std::to_string(plcs_.size()) +
              " PLCs updated and verified");
    out_.Line(Row("line", "port", "station", "result", "OS before", "OS after", "time"));
    for (const std::string& row : rows)
        out_.Line(row);
    out_.Event(std::move(JsonEvent("summary")
                             .Json("plcs", std::move(list))
                             .Int("updated", static_cast<long long>(updated))
                             .Int("failed", static_cast<long long>(plcs_.size() - updated))
                             .Int("exit", code)));
    return code;
}

} // namespace

int RunPlan(const FlashArgs& args, TEventLoop& loop, ICommSink& sink, TConsole& console,
            std::function<void()>& interrupt) {
    const PlanReading plan = ReadPlan(args.Plan, args);
    if (!plan.Errors.empty()) {
        for (const std::string& e : plan.Errors)
            std::fprintf(stderr, "orv-flash: %s\n", e.c_str());
        std::fprintf(stderr, "orv-flash: the plan was refused; no PLC was touched\n");
        return kExitUsage;
    }
    TPlanRun run(args, plan.Entries, loop, sink, console);
    interrupt = [&run] { run.Interrupt(); };
    const int code = run.Run();
    interrupt = nullptr;
    return code;
}

} // namespace orv
