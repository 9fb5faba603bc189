#include "flash_plan.h"

#include "common/platform_io.h"
#include "flash_output.h"
#include "flash_session.h"
#include "json_text.h"
#include "port_key.h"
#include "update/os_image.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>

namespace orv {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The columns and the option each one stands for; the first three are needed.
const std::vector<std::pair<std::string, std::string>> kColumns{
    {"port", "--port"},   {"station", "--station"},   {"image", "--image"},
    {"baud", "--baud"},   {"parity", "--parity"},     {"databits", "--databits"},
    {"speed", "--speed"}, {"stop_plc", "--stop-plc"},
};
constexpr size_t kRequiredColumns = 3;

std::string Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    size_t b = 0, e = text.size();
    while (b < e && blank(text[b]))
        ++b;
    while (e > b && blank(text[e - 1]))
        --e;
    return std::string(text.substr(b, e - b));
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// One line of CSV: fields separated by commas, blanks around them dropped; a field in double
// quotes keeps its commas and blanks, and "" inside it is one quote. Returns an error text,
// empty when the line was understood.
std::string SplitCsv(std::string_view line, std::vector<std::string>& fields) {
    fields.clear();
    size_t i = 0;
    for (;;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::string field;
        if (i < line.size() && line[i] == '"') {
            ++i;
            for (;;) {
                if (i >= line.size())
                    return "a quoted field is not closed (a field cannot go on to the next line)";
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
                ++i;
            if (i < line.size() && line[i] != ',')
                return "text after the closing quote of field " + std::to_string(fields.size() + 1);
        } else {
            const size_t comma = std::min(line.find(',', i), line.size());
            field = Trim(line.substr(i, comma - i));
            if (field.find('"') != std::string::npos)
                return "a quote inside field " + std::to_string(fields.size() + 1) +
                       " that does not start with one";
            i = comma;
        }
        fields.push_back(std::move(field));
        if (i >= line.size())
            return {};
        ++i; // the comma
    }
}

// A plan is a few lines a PLC; anything far larger is not one.
constexpr size_t kMaxPlanBytes = 4 << 20;

// Returns why the file cannot be read, empty when text holds it.
std::string ReadText(const std::string& path, std::string& text) {
    std::FILE* file = OpenFile(path, "rb");
    if (!file)
        return std::string("cannot be read: ") + std::strerror(errno);
    char buf[65536];
    size_t n = 0;
    while (text.size() <= kMaxPlanBytes && (n = std::fread(buf, 1, sizeof buf, file)) > 0)
        text.append(buf, n);
    const int failed = std::ferror(file) ? errno : 0;
    std::fclose(file);
    if (failed)
        return std::string("cannot be read: ") + std::strerror(failed);
    if (text.size() > kMaxPlanBytes)
        return "is larger than 4 MiB: not a plan";
    return {};
}

// Paths are UTF-8 text here on every platform.
fs::path PathOf(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string TextOf(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// CLI11 names the option ("--baud: 4800 is not ..."); the plan names its column.
std::string ColumnWords(std::string text) {
    for (const auto& [column, option] : kColumns) {
        const size_t at = text.find(option + ":");
        if (at != std::string::npos)
            return text.replace(at, option.size(), column);
    }
    return text;
}

} // namespace

PlanReading ReadPlan(const std::string& path, const FlashArgs& defaults) {
    PlanReading plan;
    auto error = [&](int line, const std::string& text) {
        plan.Errors.push_back(path + (line > 0 ? ":" + std::to_string(line) : "") + ": " + text);
    };
    std::string text;
    if (const std::string why = ReadText(path, text); !why.empty()) {
        error(0, why);
        return plan;
    }
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3); // a spreadsheet's byte-order mark

    static const char* const kParity[] = {"even", "odd", "none"};
    const std::map<std::string, std::string> fallback{
        {"baud", std::to_string(defaults.Baud)},
        {"parity", kParity[defaults.ParityIndex]},
        {"databits", std::to_string(defaults.DataBits)},
        {"speed", std::to_string(defaults.Speed)},
        {"stop_plc", defaults.StopPlc == StopPlcAnswer::Yes ? "yes" : "no"},
    };
    const fs::path folder = PathOf(path).parent_path();
    std::vector<std::string> header;
    std::map<std::string, std::string> imageVerdicts; // path -> refusal, empty when good
    std::map<std::pair<std::string, int>, int> taken; // (port, station) -> line
    std::istringstream lines(text);
    std::string raw;
    std::vector<std::string> fields;
    for (int n = 1; std::getline(lines, raw); ++n) {
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        const std::string trimmed = Trim(raw);
        if (trimmed.empty() || trimmed[0] == '#')
            continue;
        if (const std::string bad = SplitCsv(raw, fields); !bad.empty()) {
            error(n, bad);
            if (header.empty())
                return plan;
            continue;
        }
        if (header.empty()) {
            std::set<std::string> seen;
            for (std::string& f : fields) {
                f = Lower(f);
                const bool known = std::any_of(kColumns.begin(), kColumns.end(),
                                               [&](const auto& c) { return c.first == f; });
                if (!known)
                    error(n, "unknown column \"" + f + "\"");
                else if (!seen.insert(f).second)
                    error(n, "column \"" + f + "\" is named twice");
            }
            for (size_t c = 0; c < kRequiredColumns; ++c)
                if (std::find(fields.begin(), fields.end(), kColumns[c].first) == fields.end())
                    error(n, "the header has no column \"" + kColumns[c].first + "\"");
            if (!plan.Errors.empty())
                return plan;
            header = fields;
            continue;
        }
        if (fields.size() > header.size()) {
            error(n, std::to_string(fields.size()) + " fields, but the header names " +
                         std::to_string(header.size()) + " columns");
            continue;
        }
        std::map<std::string, std::string> value;
        for (size_t c = 0; c < fields.size(); ++c)
            value[header[c]] = fields[c];
        bool complete = true;
        for (size_t c = 0; c < kRequiredColumns; ++c) {
            if (value[kColumns[c].first].empty()) {
                error(n, "no " + kColumns[c].first);
                complete = false;
            }
        }
        if (!complete)
            continue;
        if (Lower(value["stop_plc"]) == "ask") {
            error(n, "stop_plc: nobody is asked in a plan: yes or no");
            continue;
        }
        if (const fs::path image = PathOf(value["image"]); image.is_relative())
            value["image"] = TextOf(folder / image);

        std::vector<std::string> argv;
        for (const auto& [column, option] : kColumns) {
            const std::string& v = value[column];
            const auto f = fallback.find(column);
            // "--port=-x": a value that starts like an option is still the value.
            argv.push_back(option + "=" + (v.empty() && f != fallback.end() ? f->second : v));
        }
        const FlashArgsResult parsed = ParseFlashArgs(argv);
        if (!parsed.Error.empty()) {
            error(n, ColumnWords(parsed.Error));
            continue;
        }
        // Everything else the command line says holds for every PLC of the plan.
        FlashArgs args = defaults;
        const FlashArgs& own = parsed.Args;
        args.Mode = FlashArgs::TMode::Update;
        args.Plan.clear();
        args.Port = own.Port;
        args.CommName = own.CommName;
        args.Station = own.Station;
        args.Image = own.Image;
        args.Baud = own.Baud;
        args.BaudIndex = own.BaudIndex;
        args.ParityIndex = own.ParityIndex;
        args.DataBits = own.DataBits;
        args.Speed = own.Speed;
        args.SpeedIndex = own.SpeedIndex;
        args.StopPlc = own.StopPlc;
        auto verdict = imageVerdicts.find(args.Image);
        if (verdict == imageVerdicts.end()) {
            const PrepareResult prepared = PrepareImageFile(args.Image);
            std::string refusal;
            if (prepared.Outcome != PrepareOutcome::Ready) {
                refusal = PrepareResultText(prepared, args.Image);
                if (refusal.empty())
                    refusal = "the image " + args.Image + " cannot be used";
            }
            verdict = imageVerdicts.emplace(args.Image, refusal).first;
        }
        if (!verdict->second.empty()) {
            error(n, verdict->second);
            continue;
        }
        PlanEntry entry{n, args, PortKey(args.CommName)};
        const auto [at, fresh] = taken.emplace(std::pair(entry.PortKey, entry.Args.Station), n);
        if (!fresh) {
            error(n, "station " + std::to_string(entry.Args.Station) + " on " + entry.Args.Port +
                         " is on line " + std::to_string(at->second) + " already");
            continue;
        }
        plan.Entries.push_back(std::move(entry));
    }
    if (header.empty())
        error(0, "no header line (port,station,image,...)");
    else if (plan.Entries.empty() && plan.Errors.empty())
        error(0, "lists no PLC");
    return plan;
}

namespace {

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
