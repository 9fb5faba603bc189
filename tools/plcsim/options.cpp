#include "options.h"

#include <charconv>
#include <cmath>

namespace orv::plcsim {

namespace {

bool ParseInt(std::string_view text, long long lo, long long hi, long long& out) {
    if (text.empty())
        return false;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && p == end && out >= lo && out <= hi;
}

bool ParseRate(std::string_view text, FaultRate& rate) {
    long long n = 0;
    if (text.size() > 1 && text.back() == 'x') {
        if (!ParseInt(text.substr(0, text.size() - 1), 1, 1000000, n))
            return false;
        rate.count = static_cast<int>(n);
        rate.probability = 0;
        return true;
    }
    // std::from_chars for double is not in every standard library we build with.
    const std::string s(text);
    char* end = nullptr;
    const double p = std::strtod(s.c_str(), &end);
    if (s.empty() || end != s.c_str() + s.size() || !std::isfinite(p) || p < 0 || p > 1)
        return false;
    rate.probability = p;
    rate.count = 0;
    return true;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

} // namespace

std::string ParseFaults(std::string_view spec, Faults& faults) {
    if (spec.empty())
        return "empty fault spec";
    size_t start = 0;
    while (start <= spec.size()) {
        size_t comma = spec.find(',', start);
        if (comma == std::string_view::npos)
            comma = spec.size();
        const std::string_view item = spec.substr(start, comma - start);
        start = comma + 1;
        const size_t colon = item.find(':');
        const std::string_view kind = item.substr(0, colon);
        const std::string_view value =
            colon == std::string_view::npos ? std::string_view() : item.substr(colon + 1);
        const bool hasValue = colon != std::string_view::npos;
        long long n = 0;
        if (kind == "silent" && !hasValue) {
            faults.silent = true;
        } else if (kind == "drop" && hasValue && ParseRate(value, faults.drop)) {
        } else if (kind == "garble" && hasValue && ParseRate(value, faults.garble)) {
        } else if (kind == "nak" && hasValue && ParseRate(value, faults.nak)) {
        } else if (kind == "delay" && hasValue && ParseInt(value, 0, 600000, n)) {
            faults.delayMs = static_cast<int>(n);
        } else if (kind == "vanish-after" && hasValue && ParseInt(value, 0, 1000000, n)) {
            faults.vanishAfter = static_cast<int>(n);
        } else {
            return "bad fault \"" + std::string(item) + "\"";
        }
        if (comma == spec.size())
            break;
    }
    return {};
}

bool FaultDice::Roll(FaultRate& rate) {
    if (rate.count > 0) {
        --rate.count;
        return true;
    }
    if (rate.probability <= 0)
        return false;
    // 53 random bits as a fraction in [0, 1), the same on every standard library.
    const double u = static_cast<double>(rng_() >> 11) * 0x1.0p-53;
    return u < rate.probability;
}

size_t FaultDice::Pick(size_t n) {
    return n ? static_cast<size_t>(rng_() % n) : 0;
}

uint8_t FaultDice::Byte() {
    return static_cast<uint8_t>(rng_());
}

const char* UsageText() {
    return "usage: orv-plcsim [--name NAME | --device PATH] [--station N] [--register-code 0-4]\n"
           "                  [--version M.mm] [--date MM/YYYY] [--flash-type N] [--speed BAUD]\n"
           "                  [--format 8E1] [--running] [--refuse-stop] [--page-write-ms MS]\n"
           "                  [--no-pace] [--flash-out FILE] [--log FILE] [--fault SPEC]\n"
           "                  [--seed N] [--once] [--keep-os]\n"
           "\n"
           "Plays an Orv PLC on a pseudo-terminal registered as NAME (default plcsim0) in\n"
           "$XDG_RUNTIME_DIR/orv-ports/, or on the serial device PATH.\n"
           "  --station N        station number, 0-255 (default 1)\n"
           "  --register-code N  port-register code reported in the status reply (default 0)\n"
           "  --version M.mm     OS version reported, hex digits (default 1.00)\n"
           "  --date MM/YYYY     OS release date reported, 2000-2099 (default 03/2003)\n"
           "  --flash-type N     flash type code reported, 0-9 (default 1)\n"
           "  --speed BAUD       line speed at start: 9600, 19200, 38400, 57600, 115200\n"
           "  --format DPS       data bits, parity (N/E/O) and stop bits at start (default 8E1)\n"
           "  --running          the PLC runs: change mode is refused until it is stopped\n"
           "  --refuse-stop      the stop command is refused\n"
           "  --page-write-ms MS time to write a page into flash (default 5)\n"
           "  --no-pace          answer at once instead of at line speed\n"
           "  --flash-out FILE   write the received flash here after a download\n"
           "  --log FILE         one JSON line per event\n"
           "  --fault SPEC       comma-separated: drop:P garble:P nak:P (P a probability, or\n"
           "                     Nx for the first N times) delay:MS silent vanish-after:N\n"
           "  --seed N           seed of the fault dice (default 1)\n"
           "  --once             exit after a download and the restore-speed command (or 5 s\n"
           "                     of silence after it)\n"
           "  --keep-os          keep reporting the old OS after a download\n";
}

std::string ParseOptions(const std::vector<std::string>& args, Options& o) {
    bool haveName = false;
    std::string format = "8E1";
    uint32_t speed = 9600;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool inlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            const size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg.resize(eq);
                inlineValue = true;
            }
        }
        auto flag = [&](const char* name) { return arg == name && !inlineValue; };
        auto takes = [&](const char* name) {
            if (arg != name)
                return false;
            if (!inlineValue) {
                if (i + 1 >= args.size())
                    throw std::string(name) + " needs a value";
                value = args[++i];
            }
            return true;
        };
        long long n = 0;
        try {
            if (flag("--help") || flag("-h")) {
                o.help = true;
            } else if (takes("--name")) {
                if (value.empty() || value.find('/') != std::string::npos || value == "." ||
                    value == "..")
                    return "bad --name \"" + value + "\"";
                o.name = value;
                haveName = true;
            } else if (takes("--device")) {
                if (value.empty())
                    return "empty --device";
                o.device = value;
            } else if (takes("--station")) {
                if (!ParseInt(value, 0, 255, n))
                    return "--station must be 0 to 255";
                o.plc.station = static_cast<uint8_t>(n);
            } else if (takes("--register-code")) {
                if (!ParseInt(value, 0, 4, n))
                    return "--register-code must be 0 to 4";
                o.plc.registerCode = static_cast<int>(n);
            } else if (takes("--version")) {
                if (value.size() != 4 || value[1] != '.' || !IsHexDigit(value[0]) ||
                    !IsHexDigit(value[2]) || !IsHexDigit(value[3]))
                    return "--version must look like 1.61";
                o.plc.os.major = value[0];
                o.plc.os.minor[0] = value[2];
                o.plc.os.minor[1] = value[3];
            } else if (takes("--date")) {
                long long month = 0;
                long long year = 0;
                if (value.size() != 7 || value[2] != '/' ||
                    !ParseInt(std::string_view(value).substr(0, 2), 1, 12, month) ||
                    !ParseInt(std::string_view(value).substr(3), 2000, 2099, year))
                    return "--date must look like 03/2010";
                o.plc.os.month[0] = value[0];
                o.plc.os.month[1] = value[1];
                o.plc.os.year[0] = value[5];
                o.plc.os.year[1] = value[6];
            } else if (takes("--flash-type")) {
                if (!ParseInt(value, 0, 9, n))
                    return "--flash-type must be 0 to 9";
                o.plc.os.flash = static_cast<char>('0' + n);
            } else if (takes("--speed")) {
                if (!ParseInt(value, 1, 4000000, n) ||
                    (n != 9600 && n != 19200 && n != 38400 && n != 57600 && n != 115200))
                    return "--speed must be 9600, 19200, 38400, 57600 or 115200";
                speed = static_cast<uint32_t>(n);
            } else if (takes("--format")) {
                if (!ParseFormat(value, 9600) || (value[0] != '7' && value[0] != '8'))
                    return "--format must be 7 or 8 data bits, N, E or O, 1 or 2 stop bits";
                format = value;
            } else if (flag("--running")) {
                o.plc.running = true;
            } else if (flag("--refuse-stop")) {
                o.plc.refuseStop = true;
            } else if (takes("--page-write-ms")) {
                if (!ParseInt(value, 0, 60000, n))
                    return "--page-write-ms must be 0 to 60000";
                o.pageWriteMs = static_cast<int>(n);
            } else if (flag("--no-pace")) {
                o.pace = false;
            } else if (takes("--flash-out")) {
                if (value.empty())
                    return "empty --flash-out";
                o.flashOut = value;
            } else if (takes("--log")) {
                if (value.empty())
                    return "empty --log";
                o.logFile = value;
            } else if (takes("--fault")) {
                const std::string error = ParseFaults(value, o.faults);
                if (!error.empty())
                    return error;
            } else if (takes("--seed")) {
                unsigned long long seed = 0;
                auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), seed);
                if (value.empty() || ec != std::errc() || p != value.data() + value.size())
                    return "--seed must be a whole number";
                o.seed = seed;
            } else if (flag("--once")) {
                o.once = true;
            } else if (flag("--keep-os")) {
                o.plc.keepOs = true;
            } else {
                return "unknown argument \"" + args[i] + "\"";
            }
        } catch (const std::string& error) {
            return error;
        }
    }
    if (haveName && !o.device.empty())
        return "--name and --device exclude each other";
    const auto f = ParseFormat(format, speed);
    o.plc.line = *f;
    return {};
}

} // namespace orv::plcsim
