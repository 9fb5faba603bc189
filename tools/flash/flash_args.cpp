#include "flash_args.h"

#include "command_line.h"
#include "common/number_list.h"
#include "common/version.h"
#include "history/history.h"
#include "protocol/station.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <string_view>

namespace orv {

namespace {

const char* const kSynopsis =
    "usage: orv-flash --port PORT [--baud 9600] [--parity even|odd|none] [--databits 8|7]\n"
    "                 [--station 1] [--speed 115200] (--image FILE | --status)\n"
    "                 [--stop-plc ask|yes|no] [--nak-retries 2] [--interval-timing]\n"
    "                 [--skip-current] [--dry-run] [--trace] [--json]\n"
    "       orv-flash --port PORT [--baud ...] [--parity ...] [--databits ...] --scan\n"
    "                 [--stations 0-31] [--trace] [--json]\n"
    "       orv-flash --plan FILE [--baud ...] [--parity ...] [--databits ...] [--speed ...]\n"
    "                 [--stop-plc yes|no] [--nak-retries 2] [--interval-timing]\n"
    "                 [--skip-current] [--dry-run] [--trace] [--json]\n"
    "       orv-flash --history [--since DATE] [--station N] [--json]\n"
    "       orv-flash --list\n"
    "       orv-flash --version\n"
    "\n"
    "The PLC's status, and the update of its OS, from the command line: the same query and\n"
    "update sequence as the windows, verified by a status read after the restore. --scan lists\n"
    "the stations on a line; --plan updates many PLCs, one line of its file each; --history\n"
    "shows every update recorded on this machine.";

// One line per exit status, as orv-flash(1) words them: a test holds the two together.
const char* const kExitCodes =
    "exit status:\n"
    "  0    done: the update ended with the restore and a passed verification, or the PLC\n"
    "       was left alone as current; the status was read; a scan found a station; every\n"
    "       PLC of a plan was done; a dry run reached every PLC; the history was read\n"
    "  1    failed: the message says why and, after an update, what the PLC reports\n"
    "       afterwards and whether it may be in download mode\n"
    "  2    refused: bad arguments, or a plan that failed its checks; no PLC was touched\n"
    "  3    the port could not be opened: the message gives the reason and what to do\n"
    "  4    after the update the PLC does not report the image's OS, or gave no status\n"
    "       within 10 s of the restore\n"
    "  5    a scan found no station\n"
    "  130  interrupted by Ctrl+C, SIGTERM or SIGHUP: the message says where each PLC was\n"
    "       left\n"
    "A plan's exit status is 0 only when every PLC's is, 130 when it was interrupted, and 1\n"
    "otherwise. The plan file, the timings and the JSON events: orv-flash(1), on Windows\n"
    "orv-flash.txt beside the program.";

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::optional<int> SpeedListIndex(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    for (size_t i = 0; i < kSpeedList.size(); ++i)
        if (kSpeedList[i] == value)
            return static_cast<int>(i);
    return std::nullopt;
}

// The position of text among choices, letter case ignored.
std::optional<int> ChoiceIndex(std::string_view text, const std::array<const char*, 3>& choices) {
    const std::string lower = Lower(text);
    const auto it = std::find(choices.begin(), choices.end(), lower);
    if (it == choices.end())
        return std::nullopt;
    return static_cast<int>(it - choices.begin());
}

using cli::Check;

// A value from a list: "--option: VALUE is not <what>".
CLI::Validator Check(const char* name, std::function<bool(const std::string&)> good,
                     std::string what) {
    return Check(name, [good = std::move(good), what = std::move(what)](const std::string& v) {
        return good(v) ? std::string() : v + " is not " + what;
    });
}

} // namespace

std::string PortNameFromEntry(const std::string& entry) {
    if (!entry.empty() && entry.front() == '/')
        return entry;
    return entry.substr(0, entry.find(':'));
}

FlashArgsResult ParseFlashArgs(const std::vector<std::string>& args) {
    FlashArgsResult result;
    FlashArgs& a = result.Args;
    std::string baud = "9600", speed = "115200", parity = "even", databits = "8", station = "1",
                stopPlc = "ask", nakRetries = "2";
    bool status = false, list = false;

    CLI::App app("", "orv-flash");
    cli::Configure(app, kSynopsis, kExitCodes);
    app.set_version_flag("--version", std::string("orv-flash ") + kVersion,
                         "print the program's version and exit");
    app.add_option("--port", a.Port, "an entry of --list, a bare device name (ttyUSB0) or a path")
        ->type_name("PORT")
        ->check(Check("PORT", [](const std::string& v) {
            return PortNameFromEntry(v).empty() ? "no port name in \"" + v + "\"" : std::string();
        }));
    const auto speedCheck = [](const std::string& v) { return SpeedListIndex(v).has_value(); };
    const char* const speeds = "one of 9600, 19200, 38400, 57600, 115200";
    app.add_option("--baud", baud, "the PLC's line speed now: 9600, 19200, 38400, 57600, 115200")
        ->type_name("BAUD")
        ->check(Check("BAUD", speedCheck, speeds));
    app.add_option("--parity", parity, "the line's parity: even, odd or none")
        ->type_name("PARITY")
        ->check(Check(
            "PARITY", [](const std::string& v) { return ChoiceIndex(v, kParityNames).has_value(); },
            "even, odd or none"));
    app.add_option("--databits", databits, "the line's data bits: 8 or 7")
        ->type_name("BITS")
        ->check(Check(
            "BITS", [](const std::string& v) { return v == "8" || v == "7"; }, "8 or 7"));
    app.add_option("--station", station,
                   "the PLC's station number, 0 to 255; with --history, its updates only")
        ->type_name("N")
        ->check(Check(
            "N", [](const std::string& v) { return ParseStationNumber(v).has_value(); },
            "a whole number from 0 to 255"));
    app.add_option("--speed", speed, "the download speed, from the same list as --baud")
        ->type_name("BAUD")
        ->check(Check("BAUD", speedCheck, speeds));
    app.add_option(
           "--image", a.Image,
           "update the PLC's OS with this image (.os in lower case: ciphered; otherwise plain)")
        ->type_name("FILE")
        ->check(cli::NotEmpty("FILE", "empty file name"));
    app.add_flag("--status", status, "read and print the PLC's status, then exit");
    app.add_option("--stop-plc", stopPlc,
                   "when the PLC is running: ask (on a terminal; No without one), yes or no")
        ->type_name("ANSWER")
        ->check(Check(
            "ANSWER",
            [](const std::string& v) { return ChoiceIndex(v, kStopPlcNames).has_value(); },
            "ask, yes or no"));
    app.add_option("--nak-retries", nakRetries,
                   "send a page the PLC refused again up to N times before \"Prog NACK\", 0 to 9")
        ->type_name("N")
        ->check(Check(
            "N", [](const std::string& v) { return v.size() == 1 && v[0] >= '0' && v[0] <= '9'; },
            "a whole number from 0 to 9"));
    app.add_flag("--interval-timing", a.IntervalTiming,
                 "end each reply by 100 ms of silence (the windows' ReplyTiming interval), not "
                 "when it is whole");
    app.add_flag("--trace", a.Trace,
                 "every frame sent and received, in hex with time stamps, on stderr");
    app.add_flag("--json", a.Json, "one JSON object per event on stdout");
    app.add_flag("--list", list, "list the ports --port takes, then exit");
    bool scan = false;
    app.add_flag("--scan", scan, "ask every station of --stations for its status, and list them");
    app.add_option("--stations", a.StationsText, "with --scan: the stations to ask (1,3,10-12)")
        ->type_name("LIST")
        ->check(Check(
            "LIST", [](const std::string& v) { return ParseNumberList(v, 0, 255).has_value(); },
            "a list of stations 0 to 255 like 0-31 or 1,3,10-12"));
    app.add_option("--scan-timeout", a.ScanTimeoutMs,
                   "with --scan: wait this long for a station's first byte, 1 to 500 ms "
                   "(default 500)")
        ->type_name("MS")
        ->check(Check(
            "MS",
            [](const std::string& v) {
                int ms = 0;
                const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), ms);
                return ec == std::errc() && end == v.data() + v.size() && ms >= 1 && ms <= 500;
            },
            "a whole number of milliseconds from 1 to 500"));
    app.add_option("--plan", a.Plan, "update the PLCs this CSV file lists, one line each")
        ->type_name("FILE")
        ->check(cli::NotEmpty("FILE", "empty file name"));
    app.add_flag("--skip-current", a.SkipCurrent,
                 "leave a PLC alone that already reports the image's OS (result current)");
    app.add_flag("--dry-run", a.DryRun,
                 "read each PLC's status and say what an update would do; nothing else is sent");
    bool history = false;
    app.add_flag("--history", history, "show the updates recorded on this machine, then exit");
    std::string since;
    app.add_option("--since", since,
                   "with --history: from this local date or time on (2025-03-01, "
                   "2025-03-01T14:30)")
        ->type_name("DATE")
        ->check(Check(
            "DATE", [](const std::string& v) { return HistoryTimeSeconds(v).has_value(); },
            "a date like 2025-03-01 or a time like 2025-03-01T14:30"));

    const cli::TOutcome parsed = cli::Parse(app, args);
    result.Help = app.help();
    if (parsed.Kind == cli::TOutcome::TKind::Print) {
        result.Print = parsed.Text;
        return result;
    }
    auto fail = [&](std::string text) {
        result.Error = std::move(text);
        return result;
    };
    if (parsed.Kind == cli::TOutcome::TKind::Refused)
        return fail(parsed.Text);

    a.BaudIndex = *SpeedListIndex(baud);
    a.Baud = kSpeedList[static_cast<size_t>(a.BaudIndex)];
    a.SpeedIndex = *SpeedListIndex(speed);
    a.Speed = kSpeedList[static_cast<size_t>(a.SpeedIndex)];
    a.ParityIndex = *ChoiceIndex(parity, kParityNames);
    a.DataBits = databits == "8" ? 8 : 7;
    a.Station = *ParseStationNumber(station);
    a.StopPlc = static_cast<StopPlcAnswer>(*ChoiceIndex(stopPlc, kStopPlcNames));
    a.NakRetries = nakRetries[0] - '0';
    a.CommName = PortNameFromEntry(a.Port);

    a.Stations = *ParseNumberList(a.StationsText, 0, 255);

    if (list) {
        if (!a.Image.empty() || status || !a.Port.empty() || scan || !a.Plan.empty() || history)
            return fail("--list stands alone");
        a.Mode = FlashArgs::TMode::List;
        return result;
    }
    if (app.count("--stations") > 0 && !scan)
        return fail("--stations goes with --scan (--station names the one PLC of the others)");
    if (app.count("--scan-timeout") > 0 && !scan)
        return fail("--scan-timeout goes with --scan");
    if (history) {
        if (!a.Image.empty() || status || !a.Port.empty() || scan || !a.Plan.empty() ||
            a.SkipCurrent || a.DryRun)
            return fail("--history reads the history only (with --since, --station and --json)");
        if (app.count("--station") > 0)
            a.HistoryStation = a.Station;
        if (!since.empty())
            a.Since = HistoryTimeSeconds(since);
        a.Mode = FlashArgs::TMode::History;
        return result;
    }
    if (!since.empty())
        return fail("--since goes with --history");
    if ((a.SkipCurrent || a.DryRun) && a.Plan.empty() && a.Image.empty())
        return fail(std::string(a.DryRun ? "--dry-run" : "--skip-current") +
                    " goes with --image or --plan");
    if (!a.Plan.empty()) {
        if (!a.Port.empty() || !a.Image.empty() || status || scan || app.count("--station") > 0)
            return fail("--plan takes the ports, stations and images from its file");
        if (a.StopPlc == StopPlcAnswer::Ask && app.count("--stop-plc") > 0)
            return fail("--plan runs unattended: --stop-plc is yes or no");
        // Nobody is there to be asked for a dozen PLCs at once.
        if (a.StopPlc == StopPlcAnswer::Ask)
            a.StopPlc = StopPlcAnswer::No;
        a.Mode = FlashArgs::TMode::Plan;
        return result;
    }
    if (a.Port.empty())
        return fail("--port is missing");
    if (scan) {
        if (!a.Image.empty() || status || app.count("--station") > 0)
            return fail("--scan asks the stations of --stations, and only their status");
        a.Mode = FlashArgs::TMode::Scan;
        return result;
    }
    if (a.Image.empty() == !status)
        return fail(status ? "--image and --status exclude each other"
                           : "say what to do: --image FILE or --status");
    a.Mode = status ? FlashArgs::TMode::Status : FlashArgs::TMode::Update;
    return result;
}

} // namespace orv
