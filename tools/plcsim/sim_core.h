#pragma once
// The simulated PLC without any I/O: the serial line between two UARTs, the assembly of received
// bytes into frames, and the controller that answers them. The runtime (main.cpp) owns the
// clock, the pseudo-terminal and the log; everything here is deterministic and fuzzable.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace orv::plcsim {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr size_t kPageFrameSize = 266;
constexpr size_t kPageSize = 256;
// The longest request the station protocol knows is 20 bytes; anything far longer is noise.
constexpr size_t kMaxStationFrame = 64;
// A partial frame that hears nothing for this long is given up, so that a stray fragment cannot
// swallow the start of the client's retry (which comes 800 ms after its send at the earliest).
constexpr double kFrameGapSeconds = 0.5;

struct LineFormat {
    uint32_t speed = 9600;
    int dataBits = 8;  // 5 to 8
    char parity = 'E'; // 'N', 'E', 'O', 'M' (mark), 'S' (space)
    int stopBits = 1;  // 1 or 2

    int BitsPerChar() const { return 1 + dataBits + (parity != 'N' ? 1 : 0) + stopBits; }
    std::string Text() const; // "8E1"
    bool operator==(const LineFormat&) const = default;
};

// Parses "8E1", "7O2", "8N1" ...
std::optional<LineFormat> ParseFormat(std::string_view text, uint32_t speed);

// One character as a receiving UART delivers it; `error` flags a framing or parity error.
struct LineChar {
    uint8_t value = 0;
    bool error = false;
};

// What a UART set to `to` makes of `bytes` sent back to back by a UART set to `to`'s peer
// `from`, the line idle before and after. Identical settings give the bytes themselves (cut to
// the data bits); otherwise the bit stream is sampled as a real receiver would, mid-bit, so a
// speed mismatch gives garbage and a 7-bit sender loses the top bit of every byte.
std::vector<LineChar> CarryOverLine(std::span<const uint8_t> bytes, const LineFormat& from,
                                    const LineFormat& to);

struct RxFrame {
    std::vector<uint8_t> bytes;
    bool lineError = false; // a byte of it arrived with a framing or parity error
};

// Station mode: a frame runs from STX to ETX. Bytes before an STX are noise; a new STX restarts
// the frame (the earlier start was a fragment); a frame longer than kMaxStationFrame, or one that
// stalls for kFrameGapSeconds, is dropped and the hunt for STX begins again.
//
// Download mode: a page frame is 266 bytes whose bytes 1 and 2 are 0x0D 0x13. While the bytes
// collected so far cannot be the start of such a frame, the oldest is dropped, so garbage ahead
// of a frame costs only itself. The station byte is not used to synchronise, so a whole frame
// for another station is still collected and then refused. A stalled partial frame is dropped
// as in station mode.
class FrameAssembler {
public:
    void SetDownloadMode(bool on);
    bool DownloadMode() const { return download_; }
    // Feeds one character heard at time `t` (seconds); returns a frame when it completes one.
    std::optional<RxFrame> Feed(LineChar c, double t);
    size_t DiscardedBytes() const { return discarded_; }
    size_t Pending() const { return buf_.size(); }

private:
    std::optional<RxFrame> FeedStation(LineChar c);
    std::optional<RxFrame> FeedPage(LineChar c);
    RxFrame Take();

    bool download_ = false;
    std::vector<LineChar> buf_;
    double last_ = 0;
    size_t discarded_ = 0;
};

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
