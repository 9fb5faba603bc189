#include "flash_report.h"

#include "common/hex.h"
#include "common/platform_io.h"
#include "json_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orv {

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::string OsText(const std::string& version, const std::string& date, const std::string& flash) {
    return "OS " + PrintableText(version) + " of " + PrintableText(date) + " (flash " + flash + ")";
}

std::string ShortOs(const std::string& version, const std::string& date) {
    return PrintableText(version) + " of " + PrintableText(date);
}

nlohmann::ordered_json OsJson(const std::optional<StatusReply>& reply) {
    if (!reply)
        return nullptr;
    return {{"version", JsonText(reply->Version)},
            {"date", JsonText(reply->ReleaseDate)},
            {"flash", JsonText(reply->FlashType)}};
}

nlohmann::ordered_json OsJson(const std::optional<ImageInfo>& image) {
    if (!image)
        return nullptr;
    return {{"version", image->Version}, {"date", image->ReleaseDate}, {"flash", image->FlashType}};
}

// What --stop-plc makes of a PLC that turns out to run its program, as a dry run says it.
const char* IfRunning(StopPlcAnswer answer) {
    switch (answer) {
    case StopPlcAnswer::Yes:
        return "stop";
    case StopPlcAnswer::No:
        return "fail";
    case StopPlcAnswer::Ask:
        break;
    }
    return "ask";
}

} // namespace

std::string ResultName(const FlashRunResult& result) {
    return result.Result.empty() ? ResultName(result.Exit) : result.Result;
}

std::string DryRunText(const DryRunVerdict& v) {
    if (v.Action == "unreachable")
        return "unreachable: " + v.Why;
    const std::string image = ShortOs(v.Image.Version, v.Image.ReleaseDate);
    if (v.Action == "current")
        return "current: reports the image's OS " + image + " already; would be left alone";
    std::string text = "update: " + (v.Plc ? ShortOs(v.Plc->Version, v.Plc->ReleaseDate) : "?") +
                       " -> " + image + " at " + std::to_string(v.Speed) + " bit/s";
    if (v.Plc && CompareOs(*v.Plc, v.Image).Same())
        text += " (it reports the image's OS already; --skip-current would leave it alone)";
    // The status reply carries no run/stop flag: only the PLC's answer to the change-mode
    // command tells, and a dry run never sends it.
    text += "; running or not is known only when the change-mode command is answered: if "
            "running, ";
    switch (v.StopPlc) {
    case StopPlcAnswer::Yes:
        return text + "would be stopped (stop_plc yes)";
    case StopPlcAnswer::No:
        return text + "would fail with stop_plc no";
    case StopPlcAnswer::Ask:
        break;
    }
    return text + "the stop question would be asked (No without a terminal)";
}

std::string ResultName(int exitCode) {
    switch (exitCode) {
    case kExitOk:
        return "ok";
    case kExitPort:
        return "port-error";
    case kExitVerify:
        return "verify-failed";
    case kExitNoStation:
        return "no-station";
    case kExitInterrupted:
        return "interrupted";
    case kExitUsage:
        return "refused";
    default:
        return "failed";
    }
}

void ReportEnd(int exitCode, const std::string& reason) {
    FlashOutput out(true, false);
    FlashRunResult result;
    result.Exit = exitCode;
    result.Message = reason;
    FlashReport(out).Done(result);
}

void FlashReport::Start(const FlashArgs& args) {
    const bool update = args.Mode == FlashArgs::TMode::Update;
    JsonEvent e("start");
    e.Str("mode", update ? "update" : "status")
        .Str("port", args.Port)
        .Int("baud", args.Baud)
        .Str("parity", kParityNames[args.ParityIndex])
        .Int("databits", args.DataBits)
        .Int("station", args.Station)
        .Str("timing", args.IntervalTiming ? "interval" : "fast");
    if (update) {
        e.Int("speed", args.Speed)
            .Str("image", args.Image)
            .Str("stop_plc", kStopPlcNames[static_cast<int>(args.StopPlc)])
            .Int("nak_retries", args.NakRetries)
            .Bool("skip_current", args.SkipCurrent)
            .Bool("dry_run", args.DryRun);
    }
    out_.Event(std::move(e));
}

void FlashReport::Image(const std::string& path, const ImageInfo& info,
                        const PreparedImage& image) {
    out_.Line("OS image " + PrintableText(path) + ": OS " + info.Version + " of " +
              info.ReleaseDate + ", flash " + info.FlashType + ", " +
              std::to_string(image.PageCount) + " pages, first page " +
              std::to_string(image.FirstPage));
    out_.Event(std::move(JsonEvent("image")
                             .Str("path", path)
                             .Str("version", info.Version)
                             .Str("date", info.ReleaseDate)
                             .Str("flash", info.FlashType)
                             .Int("size", static_cast<long long>(image.Bytes.size()))
                             .Int("pages", image.PageCount)
                             .Int("first_page", image.FirstPage)
                             .Int("crc", image.ImageCrc)));
}

void FlashReport::PlcStatus(const char* phase, const StatusReply& reply) {
    out_.Event(std::move(JsonEvent("plc_status")
                             .Str("phase", phase)
                             .Str("version", reply.Version)
                             .Str("date", reply.ReleaseDate)
                             .Str("flash", reply.FlashType)
                             .Int("station", reply.Station)
                             .Int("register_code", reply.PortRegisterCode)));
    if (std::string(phase) != "status")
        return;
    out_.Line("PLC Status");
    out_.Line("  Version:       " + PrintableText(reply.Version));
    out_.Line("  Released Date: " + PrintableText(reply.ReleaseDate));
    out_.Line("  Flash Type:    " + reply.FlashType);
    out_.Line("  Station:       " + std::to_string(reply.Station));
}

void FlashReport::Message(const std::string& text) {
    out_.Event(std::move(JsonEvent("message").Str("text", text)));
    out_.Line(text);
}

void FlashReport::StatusBar(const std::string& text) {
    if (done_ || text.empty() || text == lastStatusBar_) {
        lastStatusBar_ = text;
        return;
    }
    lastStatusBar_ = text;
    out_.Event(std::move(JsonEvent("statusbar").Str("text", text)));
    // "Change Mode .." under the panel's "Change Mode ..." says nothing new.
    if (!StartsWith(lastPanel_, text))
        out_.Line("  " + text);
}

void FlashReport::Panel(const std::string& text) {
    if (StartsWith(text, "page #") || text == lastPanel_)
        return; // the progress line carries the page
    lastPanel_ = text;
    out_.Event(std::move(JsonEvent("panel").Str("text", text)));
    out_.Line(text);
}

void FlashReport::Progress(const ProgressInfo& info) {
    out_.Progress(info);
    if (info.Percent >= 100)
        out_.EndProgress();
}

void FlashReport::Question(const std::string& text, bool answer, const std::string& by) {
    if (by == "option")
        out_.Line(text + (answer ? " Yes (--stop-plc yes)" : " No (--stop-plc no)"));
    else if (by == "no-terminal")
        out_.Line(text + " No (no terminal to ask)");
    out_.Event(
        std::move(JsonEvent("question").Str("text", text).Bool("answer", answer).Str("by", by)));
}

void FlashReport::Restore(bool answered) {
    out_.Event(std::move(JsonEvent("restore").Bool("answered", answered)));
    if (!answered)
        out_.Line("Restore Speed: no reply from the PLC");
}

OsComparison CompareOs(const StatusReply& reply, const ImageInfo& image) {
    OsComparison c;
    auto check = [&](const char* name, const char* key, const std::string& plc,
                     const std::string& wanted) {
        if (plc == wanted)
            return;
        if (!c.Text.empty())
            c.Text += "; ";
        c.Text += std::string(name) + ": the PLC reports " + PrintableText(plc) +
                  ", the image holds " + wanted;
        c.Fields.emplace_back(key);
    };
    check("version", "version", reply.Version, image.Version);
    check("release date", "date", reply.ReleaseDate, image.ReleaseDate);
    check("flash type", "flash", reply.FlashType, image.FlashType);
    return c;
}

void FlashReport::Verify(const StatusReply& reply, const OsComparison& comparison) {
    out_.Event(std::move(JsonEvent("verify")
                             .Bool("ok", comparison.Same())
                             .Str("version", reply.Version)
                             .Str("date", reply.ReleaseDate)
                             .Str("flash", reply.FlashType)
                             .StrList("differences", comparison.Fields)));
    if (comparison.Same())
        out_.Line("verified: the PLC runs OS " + PrintableText(reply.Version) + " of " +
                  PrintableText(reply.ReleaseDate));
}

void FlashReport::Current(const StatusReply& reply) {
    out_.Line("The PLC reports the image's OS " + ShortOs(reply.Version, reply.ReleaseDate) +
              " already: left alone (--skip-current)");
    out_.Event(std::move(JsonEvent("current")
                             .Str("version", reply.Version)
                             .Str("date", reply.ReleaseDate)
                             .Str("flash", reply.FlashType)));
}

void FlashReport::DryRun(const DryRunVerdict& v) {
    out_.Line("Dry run: " + DryRunText(v));
    JsonEvent e("dry_run");
    e.Str("action", v.Action)
        .Json("os_before", OsJson(v.Plc))
        .Json("os_image", OsJson(std::optional<ImageInfo>(v.Image)))
        .Int("speed", v.Speed)
        .Str("stop_plc", kStopPlcNames[static_cast<int>(v.StopPlc)])
        .Null("running");
    if (v.Action == "update")
        e.Str("if_running", IfRunning(v.StopPlc));
    else
        e.Null("if_running");
    out_.Event(std::move(e.Str("text", DryRunText(v))));
}

std::string AfterFailureText(const StatusReply* reply, const ImageInfo& image) {
    if (!reply)
        return "afterwards the PLC's status could not be read (Get PLC Status Fail !!)";
    const std::string imageOs = OsText(image.Version, image.ReleaseDate, image.FlashType);
    if (CompareOs(*reply, image).Same())
        return "afterwards the PLC reports the image's " + imageOs;
    return "afterwards the PLC reports " +
           OsText(reply->Version, reply->ReleaseDate, reply->FlashType) + ", not the image's " +
           imageOs;
}

void FlashReport::IntervalTiming(const std::vector<uint8_t>& tail) {
    if (tail.empty()) {
        out_.TraceNote("interval timing from now on: a reply was cut where none ends");
    } else {
        std::string bytes = HexDump(tail.data(), std::min<size_t>(tail.size(), 16));
        if (tail.size() > 16)
            bytes += " ...";
        out_.TraceNote("interval timing from now on: " + std::to_string(tail.size()) +
                       " bytes came where no reply could (" + bytes + "), dropped");
    }
    out_.Event(std::move(JsonEvent("fallback")
                             .Str("timing", "interval")
                             .Int("dropped", static_cast<long long>(tail.size()))));
    out_.Line(tail.empty() ? "A reply came cut or out of place: interval timing from now on"
                           : "The PLC sends more than its replies: interval timing from now on");
}

void FlashReport::LineEcho() {
    if (echoSaid_)
        return; // each opening of the port finds it again
    echoSaid_ = true;
    out_.TraceNote("the line echoes what is sent: each echo is removed before the reply");
    out_.Event(JsonEvent("echo"));
    out_.Line("The line echoes what is sent (a 2-wire converter?): echoes are left out");
}

void FlashReport::Step(const std::string& text) {
    out_.Line(text);
}

void FlashReport::Warning(const std::string& text) {
    out_.ErrorLine(text);
}

void FlashReport::Done(const FlashRunResult& r) {
    if (done_)
        return;
    done_ = true;
    out_.EndProgress();
    if (!r.Message.empty()) {
        out_.ErrorLine("orv-flash: " + r.Message);
        if (!r.Detail.empty())
            out_.ErrorLine("  " + r.Detail);
    }
    JsonEvent e("done");
    e.Int("exit", r.Exit).Str("result", ResultName(r)).Str("message", r.Message);
    if (!r.Detail.empty())
        e.Str("detail", r.Detail);
    e.Bool("download_mode", r.DownloadMode);
    if (r.DryRun)
        e.Bool("dry_run", true);
    if (r.AfterFailure) {
        if (r.ImageOs)
            e.Bool("image_os", *r.ImageOs);
        else
            e.Null("image_os");
        if (r.After)
            e.Str("plc_version", r.After->Version)
                .Str("plc_date", r.After->ReleaseDate)
                .Str("plc_flash", r.After->FlashType);
    }
    out_.Event(std::move(e));
}

void FlashReport::ScanStart(const FlashArgs& args, const std::string& lineText, int timeoutMs) {
    out_.Event(std::move(JsonEvent("start")
                             .Str("mode", "scan")
                             .Str("port", args.Port)
                             .Int("baud", args.Baud)
                             .Str("parity", kParityNames[args.ParityIndex])
                             .Int("databits", args.DataBits)
                             .Str("stations", args.StationsText)
                             .Int("timeout_ms", timeoutMs)));
    out_.Line("Scan of " + args.Port + " at " + lineText + ": stations " + args.StationsText +
              ", " + std::to_string(timeoutMs) + " ms each for the first byte at most");
    out_.Line("station  OS version  release date  flash type  register code");
}

void FlashReport::ScanStation(int station, const StatusReply& reply) {
    char row[160];
    std::snprintf(row, sizeof row, "%7d  %-10s  %-12s  %-10s  %d", station,
                  PrintableText(reply.Version).c_str(), PrintableText(reply.ReleaseDate).c_str(),
                  reply.FlashType.c_str(), reply.PortRegisterCode);
    std::string line = row;
    if (reply.Station != station)
        line += "  (reports station " + std::to_string(reply.Station) + ")";
    out_.Line(line);
    out_.Event(std::move(JsonEvent("scan_station")
                             .Int("station", station)
                             .Str("version", reply.Version)
                             .Str("date", reply.ReleaseDate)
                             .Str("flash", reply.FlashType)
                             .Int("register_code", reply.PortRegisterCode)
                             .Int("plc_station", reply.Station)));
}

void FlashReport::ScanUnreadable(int station) {
    out_.Line("  station " + std::to_string(station) +
              ": an answer that is not a readable status reply (noise on the line?), "
              "not counted");
}

void FlashReport::ScanDone(int exitCode, const std::string& message, const std::string& detail,
                           const std::vector<int>& found, const std::vector<int>& unreadable,
                           size_t asked, double seconds) {
    if (exitCode != kExitPort) {
        char tail[64];
        std::snprintf(tail, sizeof tail, ", in %.1f s", seconds);
        out_.Line(std::to_string(found.size()) + (found.size() == 1 ? " station" : " stations") +
                  " answered of " + std::to_string(asked) + " asked" + tail);
    }
    if (!message.empty()) {
        out_.ErrorLine("orv-flash: " + message);
        if (!detail.empty())
            out_.ErrorLine("  " + detail);
    }
    JsonEvent e("done");
    e.Int("exit", exitCode).Str("result", ResultName(exitCode)).Str("message", message);
    if (!detail.empty())
        e.Str("detail", detail);
    e.Json("found", nlohmann::ordered_json(found))
        .Json("unreadable", nlohmann::ordered_json(unreadable))
        .Int("asked", static_cast<long long>(asked))
        .Num("seconds", seconds);
    out_.Event(std::move(e));
}

void FlashReport::PlanStart(const std::string& file, const std::vector<PlanRow>& rows,
                            size_t ports) {
    out_.Event(std::move(JsonEvent("plan")
                             .Str("file", file)
                             .Int("plcs", static_cast<long long>(rows.size()))
                             .Int("ports", static_cast<long long>(ports))));
    out_.Line("Plan " + file + ": " + std::to_string(rows.size()) + " PLCs on " +
              std::to_string(ports) + (ports == 1 ? " port" : " ports"));
    for (const PlanRow& row : rows)
        out_.Line("  line " + std::to_string(row.Line) + ": " + row.Port + " station " +
                  std::to_string(row.Station) + ", " + PrintableText(row.Image));
}

namespace {

std::string HistoryRow(const std::string& started, const std::string& host, const std::string& port,
                       const std::string& station, const std::string& result,
                       const std::string& before, const std::string& after,
                       const std::string& image) {
    char row[768];
    std::snprintf(row, sizeof row, "%-25s  %-12s  %-14s  %7s  %-11s  %-12s  %-12s  %s",
                  PrintableText(started).c_str(), PrintableText(host).c_str(),
                  PrintableText(port).c_str(), station.c_str(), PrintableText(result).c_str(),
                  before.c_str(), after.c_str(), image.c_str());
    return row;
}

std::string SummaryRow(const std::string& line, const std::string& port, const std::string& station,
                       const std::string& result, const std::string& before,
                       const std::string& after, const std::string& time) {
    char row[512];
    std::snprintf(row, sizeof row, "%5s  %-14s  %7s  %-13s  %-12s  %-12s  %8s", line.c_str(),
                  PrintableText(port).c_str(), station.c_str(), result.c_str(), before.c_str(),
                  after.c_str(), time.c_str());
    return row;
}

std::string OsCell(const std::optional<StatusReply>& reply) {
    return reply ? PrintableText(reply->Version + " " + reply->ReleaseDate) : std::string("-");
}

} // namespace

void FlashReport::PlanSummary(const std::vector<PlanOutcome>& outcomes, int exitCode, bool dryRun) {
    size_t updated = 0, current = 0, failed = 0, notRun = 0, wouldUpdate = 0;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    std::vector<std::string> rows;
    for (const PlanOutcome& o : outcomes) {
        const std::string& result = o.Result;
        updated += result == "ok";
        current += result == "current";
        wouldUpdate += result == "update";
        notRun += !o.Run;
        failed += o.Run && result != "ok" && result != "current" && result != "update";
        char seconds[16];
        std::snprintf(seconds, sizeof seconds, "%.1f s", o.Seconds);
        // A dry run's "OS after" is the one the update would bring.
        std::string after = OsCell(o.After);
        if (result == "update" && o.ImageOs)
            after = PrintableText(o.ImageOs->Version + " " + o.ImageOs->ReleaseDate);
        const std::string row =
            SummaryRow(std::to_string(o.Line), o.Port, std::to_string(o.Station), result,
                       OsCell(o.Before), after, seconds);
        rows.push_back(row + (o.Message.empty() ? "" : "  " + PrintableText(o.Message)));
        list.push_back({{"plan_line", o.Line},
                        {"port", JsonText(o.Port)},
                        {"station", o.Station},
                        {"image", JsonText(o.Image)},
                        {"result", result},
                        {"exit", o.Run ? nlohmann::ordered_json(o.Exit) : nullptr},
                        {"message", JsonText(o.Message)},
                        {"download_mode", o.DownloadMode},
                        {"os_before", OsJson(o.Before)},
                        {"os_after", OsJson(o.After)},
                        {"os_image", OsJson(o.ImageOs)},
                        {"seconds", std::round(o.Seconds * 1000.0) / 1000.0}});
    }
    const std::string of = " of " + std::to_string(outcomes.size()) + " PLCs ";
    const std::string interrupted = exitCode == kExitInterrupted ? " (interrupted)" : "";
    out_.Line("");
    if (dryRun)
        out_.Line("Dry run summary: " + std::to_string(wouldUpdate) + of + "would be updated, " +
                  std::to_string(current) + " current, " + std::to_string(failed) +
                  " unreachable; nothing was changed" + interrupted);
    else
        out_.Line("Plan summary: " + std::to_string(updated) + of + "updated and verified" +
                  (current > 0 ? ", " + std::to_string(current) + " current" : "") + interrupted);
    out_.Line(SummaryRow("line", "port", "station", "result", "OS before", "OS after", "time"));
    for (const std::string& row : rows)
        out_.Line(row);
    JsonEvent e("summary");
    e.Json("plcs", std::move(list))
        .Int("updated", static_cast<long long>(updated))
        .Int("current", static_cast<long long>(current))
        .Int("failed", static_cast<long long>(failed))
        .Int("not_run", static_cast<long long>(notRun));
    if (dryRun)
        e.Bool("dry_run", true)
            .Int("would_update", static_cast<long long>(wouldUpdate))
            .Int("unreachable", static_cast<long long>(failed));
    out_.Event(
        std::move(e.Bool("interrupted", exitCode == kExitInterrupted).Int("exit", exitCode)));
}

void FlashReport::History(const std::string& path, const HistoryReading& reading,
                          const std::vector<const HistoryEntry*>& shown, int exitCode) {
    for (const int line : reading.Damaged)
        out_.ErrorLine("orv-flash: " + path + ":" + std::to_string(line) +
                       ": not a history entry, skipped");
    std::string message = reading.Error;
    if (reading.Missing)
        out_.Line("No update recorded yet (" + PrintableText(path) + ")");
    else if (message.empty() && !shown.empty())
        out_.Line(HistoryRow("started", "host", "port", "station", "result", "OS before",
                             "OS after", "image"));
    for (const HistoryEntry* e : shown) {
        std::string image = PrintableText(TextOf(PathOf(e->Image).filename()));
        if (e->ImageCrc >= 0) {
            char facts[48];
            std::snprintf(facts, sizeof facts, " (%lld bytes, CRC %04X)", e->ImageSize,
                          e->ImageCrc);
            image += facts;
        }
        const auto os = [](const std::optional<HistoryOs>& o) {
            return o ? PrintableText(o->Version + " " + o->Date) : std::string("-");
        };
        std::string row = HistoryRow(e->Started, e->Host, e->Port, std::to_string(e->Station),
                                     e->Result, os(e->Before), os(e->After), image);
        out_.Line(e->Message.empty() ? row : row + "  " + PrintableText(e->Message));
        // The entry as the file holds it: its texts are already what JSON carries.
        JsonEvent event("history");
        const nlohmann::ordered_json fields = HistoryJson(*e);
        for (auto it = fields.begin(); it != fields.end(); ++it)
            event.Json(it.key(), *it);
        out_.Event(std::move(event));
    }
    if (!reading.Missing && message.empty())
        out_.Line(std::to_string(shown.size()) + " of " + std::to_string(reading.Entries.size()) +
                  " recorded updates shown (" + PrintableText(path) + ")");
    if (!message.empty())
        out_.ErrorLine("orv-flash: " + message);
    out_.Event(std::move(JsonEvent("done")
                             .Int("exit", exitCode)
                             .Str("result", ResultName(exitCode))
                             .Str("message", message)
                             .Str("file", path)
                             .Int("shown", static_cast<long long>(shown.size()))
                             .Int("entries", static_cast<long long>(reading.Entries.size()))
                             .Json("damaged", nlohmann::ordered_json(reading.Damaged))));
}

} // namespace orv
