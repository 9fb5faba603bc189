#pragma once
// The simulated PLC: what it answers to the frames it hears, the line settings and mode it
// keeps, and the flash it writes. No I/O and no clock, so that it is deterministic and
// fuzzable; the simulator (simulator.h) carries its replies over the line.

#include "frame_assembler.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orv::plcsim {

// What the status reply reports as the PLC's OS, as the characters that travel.
struct OsInfo {
    char major = '1';
    char minor[2] = {'0', '0'};
    char month[2] = {'0', '3'};
    char year[2] = {'0', '3'};
    char flash = '1';
};

struct PlcConfig {
    uint8_t station = 1;
    int registerCode = 0; // 0 to 4
    OsInfo os;
    LineFormat line; // speed and format of the station protocol at start
    bool running = false;
    bool refuseStop = false;
    bool keepOs = false;
    int replyDelayMs = 0; // this PLC's replies go out this much later
};

// Error codes of a station reply. The client tells only "0" from the rest; distinct codes make
// the log readable.
constexpr char kAccepted = '0';
constexpr char kUnknownCommand = '1';
constexpr char kBadData = '2';
constexpr char kRefusedRunning = '3';
constexpr char kStopRefused = '4';

struct Outcome {
    std::string note;                          // what the PLC understood
    std::optional<std::vector<uint8_t>> reply; // nothing: the frame is not answered
    bool pageFrame = false;                    // a download-mode frame
    bool goodPage = false;                     // ... that passed every check
    bool pageWritten = false;                  // ... and went into the flash
    bool downloadDone = false;                 // the last page was accepted
    bool registerWrite = false;                // an accepted line-settings write
    bool otherStation = false;                 // a sound frame addressed to another station
};

class Plc {
public:
    explicit Plc(const PlcConfig& config);

    bool DownloadMode() const { return download_; }
    uint8_t Station() const { return config_.station; }
    // The line settings the PLC's UART uses right now.
    const LineFormat& Line() const { return line_; }
    bool Running() const { return running_; }

    // A frame from the station-mode assembler.
    Outcome OnStationFrame(const RxFrame& frame);
    // A frame from the download-mode assembler. `refuseGood` is asked only about a sound page
    // and refuses it when it answers true (fault injection).
    Outcome OnPageFrame(const RxFrame& frame, const std::function<bool()>& refuseGood = {});
    // The reply to the last frame has left the line (or was lost): line and mode changes that
    // wait for it take effect now.
    void ReplyGone();

    // The flash as received: whole pages up to the last one, pages never sent erased (0xFF).
    const std::vector<uint8_t>& Flash() const { return flash_; }
    // After a completed download: the one-line verdict, e.g.
    // "download complete: 544 pages, image CRC ok".
    const std::string& Verdict() const { return verdict_; }
    const OsInfo& Os() const { return os_; }

    std::vector<uint8_t> StatusReply() const;

private:
    std::vector<uint8_t> ShortReply(const uint8_t* command, char code) const;
    Outcome OnRegisterWrite(const std::string& data, const uint8_t* command);
    void Complete();

    PlcConfig config_;
    LineFormat stationLine_;
    LineFormat line_;
    std::optional<LineFormat> pendingLine_;
    std::optional<bool> pendingDownload_;
    bool download_ = false;
    bool running_;
    OsInfo os_;
    std::vector<uint8_t> flash_;
    int expectedPage_ = 0; // next page in order; -1: only page 0 (a restart) is taken
    int lastPage_ = -1;    // last page accepted in this download
    int firstPage_ = 0;
    size_t pagesReceived_ = 0;
    std::string verdict_;
};

// The five speeds a PLC port knows, by the speed code of its line-settings register.
std::optional<uint32_t> SpeedOfCode(int code);
// The line settings a register value selects, or nothing when it is not a valid value.
std::optional<LineFormat> DecodePortSetting(unsigned value);
// The register that holds the port's line settings, by port-register code.
int PortRegister(int registerCode);

} // namespace orv::plcsim
