#pragma once
// The command line of orv-flash, checked whole before anything touches a port.

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace orv {

enum class StopPlcAnswer { Ask, Yes, No };

// The words of --parity by ParityIndex and of --stop-plc by StopPlcAnswer, as the command line,
// the plan file and the JSON events spell them.
inline constexpr std::array<const char*, 3> kParityNames{"even", "odd", "none"};
inline constexpr std::array<const char*, 3> kStopPlcNames{"ask", "yes", "no"};

struct FlashArgs {
    enum class TMode { Update, Status, List, Scan, Plan, History };
    TMode Mode = TMode::Update;
    std::string Port;     // as given
    std::string CommName; // what StartComm opens: the entry's name, a bare name or a path
    int Baud = 9600;
    int BaudIndex = 0;   // position in the speed list, for the restore-speed code
    int ParityIndex = 0; // 0 EVEN, 1 ODD, 2 NONE: the connect dialog's order
    int DataBits = 8;
    int Station = 1;
    int Speed = 115200;
    int SpeedIndex = 4;
    std::string Image;
    StopPlcAnswer StopPlc = StopPlcAnswer::Ask;
    bool Trace = false;
    bool Json = false;
    bool IntervalTiming = false; // replies end only by the read interval, as in the windows
    int NakRetries = 2;          // a refused page is sent again this many times
    std::vector<int> Stations;   // --scan: the stations asked, ascending
    std::string StationsText = "0-31";
    int ScanTimeoutMs = 500; // --scan: a station's first byte within this of the request's end
    std::string Plan;        // --plan: the plan file; the options above are its lines' defaults
    // Updates and plans: a PLC that already reports the image's OS is left alone.
    bool SkipCurrent = false;
    // Updates and plans: only the status is read, and what a real run would do is said.
    bool DryRun = false;
    // --history: the entries to show, from Since (seconds since 1970; none: all) and of
    // HistoryStation (-1: every station).
    std::optional<long long> Since;
    int HistoryStation = -1;
};

struct FlashArgsResult {
    FlashArgs Args;
    std::string Print; // --help or --version: print this, and nothing else happens
    std::string Error; // why the arguments are not usable; empty when they are
    std::string Help;  // the help page, to show beneath an error
};

FlashArgsResult ParseFlashArgs(const std::vector<std::string>& args);

// "ttyUSB0: (FT232R USB UART)" names ttyUSB0, as the connect dialog takes the part before the
// first ":"; a path is taken whole.
std::string PortNameFromEntry(const std::string& entry);

} // namespace orv
