#include "options.h"

#include "command_line.h"
#include "common/number_list.h"

#include <algorithm>
#include <charconv>

namespace orv::plcsim {

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

const char* const kSynopsis =
    "usage: orv-plcsim [--name NAME | --device PATH] [--station N] [--register-code 0-4]\n"
    "                  [--version M.mm] [--date MM/YYYY] [--flash-type N] [--speed BAUD]\n"
    "                  [--format 8E1] [--running] [--refuse-stop] [--page-write-ms MS]\n"
    "                  [--pace reply|bytes|off | --no-pace] [--boot-ms MS] [--echo]\n"
    "                  [--flash-out FILE] [--log FILE] [--fault SPEC]... [--seed N]\n"
    "                  [--once] [--keep-os] [--reply-tail N] [--stations LIST[:SETTINGS]]...\n"
    "\n"
    "Plays an Orv PLC on a pseudo-terminal registered as NAME (default plcsim0) in\n"
    "$XDG_RUNTIME_DIR/orv-ports/, or on the serial device PATH; with --stations, several\n"
    "PLCs on the one line.";

const char* const kFaultHelp =
    "fault SPEC: comma-separated drop:P garble:P nak:P (P a probability, or Nx for the first N\n"
    "times), nak-from:PAGE (nak only from that page on), delay:MS, silent, vanish-after:N,\n"
    "drop-ack:PAGE (the first acknowledgement of\n"
    "that page is lost), ack-split:MS (every acknowledgement is 06 0D 0A, the 0A MS after the\n"
    "rest); --fault may be given more than once.\n"
    "stations: LIST is station numbers and ranges (1,3,10-12); each SETTING after a colon is\n"
    "version=M.mm, date=MM/YYYY, flash-type=N, register-code=N, delay=MS (those stations\n"
    "answer MS late), running, stopped, refuse-stop or keep-os, and overrides the single-PLC\n"
    "option of the same name for those stations;\n"
    "--stations may be given more than once: --stations 1-3 --stations 7:version=1.50:running";

// The options whose conversion waits for the whole line: --name and --device exclude each
// other, --speed and --format make one line format, --stations starts from the single PLC's
// settings.
struct Typed {
    std::string name, device, speed, format = "8E1", seed, pace;
    std::vector<std::string> faults, stations;
    bool noPace = false;
};

using cli::Check;

// A whole decimal number from lo to hi (no signs, no other bases: "010" is ten), handed to set
// once checked.
CLI::Option* AddNumber(CLI::App& app, const char* name, const char* help, const char* type,
                       long long lo, long long hi, std::function<void(long long)> set) {
    return app
        .add_option_function<std::string>(
            name,
            [lo, hi, set = std::move(set)](const std::string& v) {
                long long n = 0;
                if (ParseInt(v, lo, hi, n))
                    set(n);
            },
            help)
        ->type_name(type)
        ->check(Check(type, [lo, hi](const std::string& v) {
            long long n = 0;
            return ParseInt(v, lo, hi, n) ? std::string()
                                          : v + " is not a whole number from " +
                                                std::to_string(lo) + " to " + std::to_string(hi);
        }));
}

bool ParseVersion(const std::string& v, OsInfo* os) {
    if (v.size() != 4 || v[1] != '.' || !IsHexDigit(v[0]) || !IsHexDigit(v[2]) || !IsHexDigit(v[3]))
        return false;
    if (os) {
        os->major = v[0];
        os->minor[0] = v[2];
        os->minor[1] = v[3];
    }
    return true;
}

bool ParseDate(const std::string& v, OsInfo* os) {
    long long month = 0, year = 0;
    if (v.size() != 7 || v[2] != '/' || !ParseInt(std::string_view(v).substr(0, 2), 1, 12, month) ||
        !ParseInt(std::string_view(v).substr(3), 2000, 2099, year))
        return false;
    if (os) {
        os->month[0] = v[0];
        os->month[1] = v[1];
        os->year[0] = v[5];
        os->year[1] = v[6];
    }
    return true;
}

bool LineSpeed(const std::string& v) {
    long long n = 0;
    return ParseInt(v, 1, 4000000, n) &&
           (n == 9600 || n == 19200 || n == 38400 || n == 57600 || n == 115200);
}

} // namespace

std::string ParseStations(std::string_view spec, const PlcConfig& defaults,
                          std::vector<PlcConfig>& stations) {
    const size_t colon = std::min(spec.find(':'), spec.size());
    const std::string_view listText = spec.substr(0, colon);
    const auto list = ParseNumberList(listText, 0, 255);
    if (!list)
        return "\"" + std::string(listText) + "\" is not a list of stations 0-255 like 1,3,10-12";
    PlcConfig config = defaults;
    size_t start = colon;
    while (start < spec.size()) {
        const size_t end = std::min(spec.find(':', start + 1), spec.size());
        const std::string item(spec.substr(start + 1, end - start - 1));
        start = end;
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
        const bool hasValue = eq != std::string::npos;
        long long n = 0;
        if (key == "running" && !hasValue) {
            config.running = true;
        } else if (key == "stopped" && !hasValue) {
            config.running = false;
        } else if (key == "refuse-stop" && !hasValue) {
            config.refuseStop = true;
        } else if (key == "keep-os" && !hasValue) {
            config.keepOs = true;
        } else if ((key == "version" && ParseVersion(value, &config.os)) ||
                   (key == "date" && ParseDate(value, &config.os))) {
            // read into the OS it reports
        } else if (key == "flash-type" && ParseInt(value, 0, 9, n)) {
            config.os.flash = static_cast<char>('0' + n);
        } else if (key == "register-code" && ParseInt(value, 0, 4, n)) {
            config.registerCode = static_cast<int>(n);
        } else if (key == "delay" && ParseInt(value, 0, 600000, n)) {
            config.replyDelayMs = static_cast<int>(n);
        } else {
            return "bad station setting \"" + item + "\"";
        }
    }
    for (const int station : *list) {
        const auto same = [station](const PlcConfig& c) { return c.station == station; };
        if (std::any_of(stations.begin(), stations.end(), same))
            return "station " + std::to_string(station) + " is given twice";
        config.station = static_cast<uint8_t>(station);
        stations.push_back(config);
    }
    std::sort(stations.begin(), stations.end(),
              [](const PlcConfig& a, const PlcConfig& b) { return a.station < b.station; });
    return {};
}

namespace {

void Describe(CLI::App& app, Options& o, Typed& t) {
    cli::Configure(app, kSynopsis, kFaultHelp);
    app.add_option("--name", t.name, "the virtual port's name (default plcsim0)")
        ->type_name("NAME")
        ->check(Check("NAME", [](const std::string& v) {
            return v.empty() || v.find('/') != std::string::npos || v == "." || v == ".."
                       ? "\"" + v + "\" cannot name a file in the virtual-port folder"
                       : std::string();
        }));
    app.add_option("--device", t.device, "a serial device to play the PLC on instead")
        ->type_name("PATH")
        ->check(cli::NotEmpty("PATH", "empty path"));
    AddNumber(app, "--station", "station number, 0-255 (default 1)", "N", 0, 255,
              [&o](long long n) { o.plc.station = static_cast<uint8_t>(n); });
    AddNumber(app, "--register-code", "port-register code reported in the status reply (default 0)",
              "N", 0, 4, [&o](long long n) { o.plc.registerCode = static_cast<int>(n); });
    app.add_option_function<std::string>(
           "--version", [&o](const std::string& v) { ParseVersion(v, &o.plc.os); },
           "OS version reported, hex digits (default 1.00)")
        ->type_name("M.mm")
        ->check(Check("M.mm", [](const std::string& v) {
            return ParseVersion(v, nullptr) ? std::string() : v + " does not look like 1.61";
        }));
    app.add_option_function<std::string>(
           "--date", [&o](const std::string& v) { ParseDate(v, &o.plc.os); },
           "OS release date reported, 2000-2099 (default 03/2003)")
        ->type_name("MM/YYYY")
        ->check(Check("MM/YYYY", [](const std::string& v) {
            return ParseDate(v, nullptr) ? std::string() : v + " does not look like 03/2010";
        }));
    AddNumber(app, "--flash-type", "flash type code reported, 0-9 (default 1)", "N", 0, 9,
              [&o](long long n) { o.plc.os.flash = static_cast<char>('0' + n); });
    app.add_option("--speed", t.speed, "line speed at start: 9600, 19200, 38400, 57600, 115200")
        ->type_name("BAUD")
        ->check(Check("BAUD", [](const std::string& v) {
            return LineSpeed(v) ? std::string() : v + " is not 9600, 19200, 38400, 57600 or 115200";
        }));
    app.add_option("--format", t.format,
                   "data bits (7, 8), parity (N, E, O) and stop bits at start (default 8E1)")
        ->type_name("DPS")
        ->check(Check("DPS", [](const std::string& v) {
            return ParseFormat(v, 9600) && (v[0] == '7' || v[0] == '8')
                       ? std::string()
                       : v + " is not 7 or 8 data bits, N, E or O, 1 or 2 stop bits";
        }));
    app.add_flag("--running", o.plc.running,
                 "the PLC runs: change mode is refused until it is stopped");
    app.add_flag("--refuse-stop", o.plc.refuseStop, "the stop command is refused");
    AddNumber(app, "--page-write-ms", "time to write a page into flash (default 5)", "MS", 0, 60000,
              [&o](long long n) { o.pageWriteMs = static_cast<int>(n); });
    app.add_option("--pace", t.pace,
                   "replies at line speed: reply (each whole; default), bytes (as a UART "
                   "sends them) or off")
        ->type_name("MODE")
        ->check(Check("MODE", [](const std::string& v) {
            return v == "reply" || v == "bytes" || v == "off" ? std::string()
                                                              : v + " is not reply, bytes or off";
        }));
    app.add_flag("--no-pace", t.noPace,
                 "answer as soon as a request is heard, not at line speed (--pace off)");
    AddNumber(app, "--boot-ms", "deaf for MS after the restore that follows a download (default 0)",
              "MS", 0, 600000, [&o](long long n) { o.bootMs = static_cast<int>(n); });
    app.add_flag("--echo", o.echo,
                 "the line echoes what the program sends, as a 2-wire RS-485 converter does");
    app.add_option("--flash-out", o.flashOut, "write the received flash here after a download")
        ->type_name("FILE")
        ->check(cli::NotEmpty("FILE", "empty file name"));
    app.add_option("--log", o.logFile, "one JSON line per event")
        ->type_name("FILE")
        ->check(cli::NotEmpty("FILE", "empty file name"));
    app.add_option("--fault", t.faults, "faults to inject (below)")
        ->type_name("SPEC")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(Check("SPEC", [](const std::string& v) {
            Faults scratch;
            return ParseFaults(v, scratch);
        }));
    app.add_option("--seed", t.seed, "seed of the fault dice (default 1)")
        ->type_name("N")
        ->check(Check("N", [](const std::string& v) {
            unsigned long long seed = 0;
            const auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), seed);
            return v.empty() || ec != std::errc() || p != v.data() + v.size()
                       ? v + " is not a whole number"
                       : std::string();
        }));
    app.add_flag("--once", o.once,
                 "exit after a download and its restore command (or 5 s of silence)");
    app.add_flag("--keep-os", o.plc.keepOs, "keep reporting the old OS after a download");
    AddNumber(app, "--reply-tail",
              "send N more bytes (0x15 each) after every reply, as some PLCs do (default 0)", "N",
              0, 64, [&o](long long n) { o.replyTail = static_cast<int>(n); });
    app.add_option("--stations", t.stations,
                   "several PLCs on the line, with their own settings (below)")
        ->type_name("LIST[:SETTINGS]")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(Check("LIST[:SETTINGS]", [](const std::string& v) {
            std::vector<PlcConfig> scratch;
            return ParseStations(v, PlcConfig{}, scratch);
        }));
}

} // namespace

std::string UsageText() {
    CLI::App app("", "orv-plcsim");
    Options o;
    Typed t;
    Describe(app, o, t);
    return app.help();
}

std::string ParseOptions(const std::vector<std::string>& args, Options& o) {
    CLI::App app("", "orv-plcsim");
    Typed t;
    Describe(app, o, t);
    const cli::TOutcome parsed = cli::Parse(app, args);
    if (parsed.Kind == cli::TOutcome::TKind::Refused)
        return parsed.Text;
    if (parsed.Kind == cli::TOutcome::TKind::Print) {
        o.help = true;
        return {};
    }
    if (!t.name.empty() && !t.device.empty())
        return "--name and --device exclude each other";
    if (app.count("--station") > 0 && !t.stations.empty())
        return "--station and --stations exclude each other";

    if (!t.name.empty())
        o.name = t.name;
    if (!t.device.empty())
        o.device = t.device;
    if (t.noPace && !t.pace.empty())
        return "--pace and --no-pace exclude each other";
    if (t.noPace || t.pace == "off")
        o.pace = Pace::Off;
    else if (t.pace == "bytes")
        o.pace = Pace::Bytes;
    for (const std::string& spec : t.faults)
        ParseFaults(spec, o.faults);
    if (!t.seed.empty())
        std::from_chars(t.seed.data(), t.seed.data() + t.seed.size(), o.seed);
    const uint32_t speed = t.speed.empty() ? 9600 : static_cast<uint32_t>(std::stoul(t.speed));
    o.plc.line = *ParseFormat(t.format, speed);
    for (const std::string& spec : t.stations) {
        std::string error = ParseStations(spec, o.plc, o.stations);
        if (!error.empty())
            return "--stations: " + error;
    }
    return {};
}

} // namespace orv::plcsim
