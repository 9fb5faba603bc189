#pragma once
// orv-flash --scan: which stations answer on a line. Each station is asked for its status and
// given the status query's own wait: the first byte of its reply within 500 ms (--scan-timeout)
// of the request's end, then the time of the whole reply. A station counts only for a whole,
// sound status reply that echoes it; after a miss or a damaged reply the line must fall quiet
// before the next station is asked, so that a late answer never lands in another's window.

#include "event_loop.h"
#include "flash_args.h"
#include "flash_report.h"
#include "forms/comm_line_port.h"
#include "protocol/station.h"
#include "serial/comm.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orv {

// The status query's wait for the first byte of a reply.
constexpr int kScanFirstByteMs = 500;
// A station's timings at a line's speed and bits a character.
struct ScanTimings {
    int ReadIntervalMs = 0; // two character times of silence end a block; the scan joins them
    int RequestMs = 0;      // the request on the wire
    int ReplyMs = 0;        // from the reply's first byte to its end, with the interval
    int QuietMs = 0;        // silence that says no reply is still coming in
};
ScanTimings ScanTimingsFor(int baud, int bitsPerChar);

// The status reply of station in what arrived, when it holds one whole and sound: 66 bytes from
// an STX to an ETX, printable between them, the station's own number echoed, the checksum right
// and every field the table shows readable. Bytes ahead of it (noise) are skipped.
std::optional<StatusReply> ReadScanReply(const std::vector<uint8_t>& bytes, int station);
// The same bytes without any whole, sound status reply of any station: what is left is noise.
std::vector<uint8_t> WithoutStatusReplies(const std::vector<uint8_t>& bytes);

class FlashScan {
public:
    FlashScan(const FlashArgs& args, FlashReport& report, TEventLoop& loop, ICommSink& sink);
    ~FlashScan();
    FlashScan(const FlashScan&) = delete;
    FlashScan& operator=(const FlashScan&) = delete;

    // Asks every station, then closes the port: the exit code.
    int Run();
    // On the loop's thread: stops after what was found so far.
    void Interrupt();

private:
    enum class Wait { None, FirstByte, Reply, Quiet };
    void Ask();
    void Arm(Wait wait, int ms);
    void OnReceive(const uint8_t* data, uint16_t count);
    void OnTimeout();
    void EndOfStation();
    void Next();
    void Finish(int code, const std::string& message, const std::string& detail = {});

    FlashArgs args_;
    FlashReport& report_;
    TEventLoop& loop_;
    TComm comm_;
    TCommLinePort port_;
    TLoopTimer timer_;
    ScanTimings timings_;
    Wait wait_ = Wait::None;
    size_t index_ = 0;           // into args_.Stations
    int tries_ = 0;              // requests to the station asked now
    bool retry_ = false;         // after the quiet wait, ask the same station again
    std::vector<uint8_t> heard_; // since the last request
    std::chrono::steady_clock::time_point quietSince_;
    std::vector<int> found_, unreadable_;
    std::chrono::steady_clock::time_point start_;
    bool finished_ = false;
    int exitCode_ = kExitFailed;
};

} // namespace orv
