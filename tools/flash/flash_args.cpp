#include "flash_args.h"

#include "protocol/station.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <string_view>

namespace orv {

const char* const kFlashUsage =
    "usage: orv-flash --port PORT [--baud 9600] [--parity even|odd|none] [--databits 8|7]\n"
    "                 [--station 1] [--speed 115200] (--image FILE | --status)\n"
    "                 [--stop-plc ask|yes|no] [--trace] [--json]\n"
    "       orv-flash --list\n"
    "\n"
    "  --port      an entry of --list, a bare device name (ttyUSB0) or a path\n"
    "  --baud      the PLC's line speed now: 9600, 19200, 38400, 57600 or 115200\n"
    "  --speed     the download speed, from the same list\n"
    "  --image     update the PLC's OS with this image (.os ciphered, otherwise plain)\n"
    "  --status    read and print the PLC's status, then exit\n"
    "  --stop-plc  when the PLC is running: ask (on a terminal; No without one), yes or no\n"
    "  --trace     every frame sent and received, in hex with time stamps, on stderr\n"
    "  --json      one JSON object per event on stdout\n"
    "\n"
    "exit: 0 done and verified, 1 failed, 2 bad arguments, 3 port not opened,\n"
    "      4 the PLC does not report the image's OS after the update\n";

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::optional<int> WholeNumber(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<int> SpeedListIndex(std::string_view text) {
    const auto value = WholeNumber(text);
    if (!value)
        return std::nullopt;
    for (size_t i = 0; i < kSpeedList.size(); ++i)
        if (kSpeedList[i] == *value)
            return static_cast<int>(i);
    return std::nullopt;
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
    bool image = false, status = false, list = false;
    auto fail = [&](std::string text) {
        result.Error = std::move(text);
        return result;
    };

    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        auto flag = [&]() {
            if (inlineValue)
                result.Error = name + " takes no value";
            return !inlineValue;
        };
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 >= args.size()) {
                result.Error = name + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };

        if (name == "--help" || name == "-h") {
            a.Mode = FlashArgs::TMode::Help;
            return result;
        } else if (name == "--list") {
            if (!flag())
                return result;
            list = true;
        } else if (name == "--status") {
            if (!flag())
                return result;
            status = true;
        } else if (name == "--trace") {
            if (!flag())
                return result;
            a.Trace = true;
        } else if (name == "--json") {
            if (!flag())
                return result;
            a.Json = true;
        } else if (name == "--port") {
            const auto v = value();
            if (!v)
                return result;
            a.Port = *v;
            a.CommName = PortNameFromEntry(*v);
            if (a.CommName.empty())
                return fail("--port: no port name in \"" + *v + "\"");
        } else if (name == "--image") {
            const auto v = value();
            if (!v)
                return result;
            if (v->empty())
                return fail("--image: empty file name");
            a.Image = *v;
            image = true;
        } else if (name == "--baud" || name == "--speed") {
            const auto v = value();
            if (!v)
                return result;
            const auto index = SpeedListIndex(*v);
            if (!index)
                return fail(name + ": " + *v + " is not one of 9600, 19200, 38400, 57600, 115200");
            (name == "--baud" ? a.BaudIndex : a.SpeedIndex) = *index;
            (name == "--baud" ? a.Baud : a.Speed) = kSpeedList[static_cast<size_t>(*index)];
        } else if (name == "--parity") {
            const auto v = value();
            if (!v)
                return result;
            const std::string p = Lower(*v);
            if (p == "even")
                a.ParityIndex = 0;
            else if (p == "odd")
                a.ParityIndex = 1;
            else if (p == "none")
                a.ParityIndex = 2;
            else
                return fail("--parity: " + *v + " is not even, odd or none");
        } else if (name == "--databits") {
            const auto v = value();
            if (!v)
                return result;
            if (*v != "8" && *v != "7")
                return fail("--databits: " + *v + " is not 8 or 7");
            a.DataBits = *v == "8" ? 8 : 7;
        } else if (name == "--station") {
            const auto v = value();
            if (!v)
                return result;
            const auto station = ParseStationNumber(*v);
            if (!station)
                return fail("--station: " + *v + " is not a whole number from 0 to 255");
            a.Station = *station;
        } else if (name == "--stop-plc") {
            const auto v = value();
            if (!v)
                return result;
            const std::string s = Lower(*v);
            if (s == "ask")
                a.StopPlc = StopPlcAnswer::Ask;
            else if (s == "yes")
                a.StopPlc = StopPlcAnswer::Yes;
            else if (s == "no")
                a.StopPlc = StopPlcAnswer::No;
            else
                return fail("--stop-plc: " + *v + " is not ask, yes or no");
        } else {
            return fail("unknown argument \"" + args[i] + "\"");
        }
    }

    if (list) {
        if (image || status || !a.Port.empty())
            return fail("--list stands alone");
        a.Mode = FlashArgs::TMode::List;
        return result;
    }
    if (a.Port.empty())
        return fail("--port is missing");
    if (image == status)
        return fail(image ? "--image and --status exclude each other"
                          : "say what to do: --image FILE or --status");
    a.Mode = status ? FlashArgs::TMode::Status : FlashArgs::TMode::Update;
    return result;
}

} // namespace orv
