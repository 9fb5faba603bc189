#pragma once
// Command line of orv-plcsim.

#include "faults.h"
#include "plc.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orv::plcsim {

// How replies go out on a pseudo-terminal, which itself has no line speed.
enum class Pace {
    Off,   // at once, once the request has arrived at line speed
    Reply, // each reply whole, when its last byte would have arrived
    Bytes, // byte by byte as a UART sends them, each when it would have arrived
};

struct Options {
    std::string name = "plcsim0";
    std::string device;
    PlcConfig plc;
    // --stations: several PLCs on the one line, in ascending station order, each starting from
    // plc's settings; empty when the line has just the one PLC of plc.
    std::vector<PlcConfig> stations;
    int pageWriteMs = 5;
    Pace pace = Pace::Reply;
    int bootMs = 0;    // silence after the restore that follows a download
    bool echo = false; // the line hands the program back what it sends
    std::string flashOut;
    std::string logFile;
    Faults faults;
    uint64_t seed = 1;
    int replyTail = 0; // bytes sent after each reply, beyond what the protocol says
    bool once = false;
    bool help = false;
};

// One --stations value, "LIST[:KEY=VALUE|:FLAG]...": the PLCs of LIST ("1,3,10-12") with
// defaults' settings changed by the keys (version, date, flash-type, register-code, delay) and
// flags (running, stopped, refuse-stop, keep-os). Adds them to stations; returns an error text,
// empty when the whole value was understood, and refuses a station already there.
std::string ParseStations(std::string_view spec, const PlcConfig& defaults,
                          std::vector<PlcConfig>& stations);

// Returns an error text, empty on success; --help sets options.help.
std::string ParseOptions(const std::vector<std::string>& args, Options& options);
std::string UsageText();

} // namespace orv::plcsim
