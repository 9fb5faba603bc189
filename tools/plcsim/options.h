#pragma once
// Command line of orv-plcsim, and the fault injection it asks for.

#include "sim_core.h"

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace orv::plcsim {

// A fault that strikes at random with `probability`, or on the first `count` occasions.
struct FaultRate {
    double probability = 0;
    int count = 0;
    bool Active() const { return probability > 0 || count > 0; }
};

struct Faults {
    FaultRate drop;   // the reply is lost on the line (the frame itself was acted on)
    FaultRate garble; // one byte of the reply is damaged
    FaultRate nak;    // a sound page is refused
    int delayMs = 0;  // every reply goes out this much later
    bool silent = false;
    int vanishAfter = -1; // close the line after this many page frames
    int dropAck = -1;     // the first acknowledgement of this page is lost
};

// "drop:0.2,garble:3x,delay:300,silent,vanish-after:10". Returns an error text, empty when the
// whole spec was understood.
std::string ParseFaults(std::string_view spec, Faults& faults);

class FaultDice {
public:
    explicit FaultDice(uint64_t seed) : rng_(seed) {}
    bool Roll(FaultRate& rate);
    size_t Pick(size_t n);
    uint8_t Byte();

private:
    std::mt19937_64 rng_;
};

struct Options {
    std::string name = "plcsim0";
    std::string device;
    PlcConfig plc;
    // --stations: several PLCs on the one line, in ascending station order, each starting from
    // plc's settings; empty when the line has just the one PLC of plc.
    std::vector<PlcConfig> stations;
    int pageWriteMs = 5;
    bool pace = true;
    std::string flashOut;
    std::string logFile;
    Faults faults;
    uint64_t seed = 1;
    int replyTail = 0; // bytes sent after each reply, beyond what the protocol says
    bool once = false;
    bool help = false;
};

// One --stations value, "LIST[:KEY=VALUE|:FLAG]...": the PLCs of LIST ("1,3,10-12") with
// defaults' settings changed by the keys (version, date, flash-type, register-code) and flags
// (running, stopped, refuse-stop, keep-os). Adds them to stations; returns an error text, empty
// when the whole value was understood, and refuses a station already there.
std::string ParseStations(std::string_view spec, const PlcConfig& defaults,
                          std::vector<PlcConfig>& stations);

// Returns an error text, empty on success; --help sets options.help.
std::string ParseOptions(const std::vector<std::string>& args, Options& options);
std::string UsageText();

} // namespace orv::plcsim
