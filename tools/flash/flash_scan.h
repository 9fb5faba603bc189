#pragma once
// orv-flash --scan: which stations answer on a line. One status request a station, with a
// time-out of the request and the reply on the wire plus a margin, so that a line of 32
// stations is done in seconds; a station counts only for a whole, sound status reply.

#include "event_loop.h"
#include "flash_args.h"
#include "flash_output.h"
#include "flash_session.h"
#include "protocol/station.h"
#include "serial/comm.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orv {

constexpr int kExitNoStation = 5;

// A station has this long after its request to answer: the 8-byte request and the 66-byte
// reply on the wire at the line's speed and bits a character, the read interval that ends a
// reply's block, and a margin for the PLC's turnaround and the PC's scheduling.
constexpr int kScanMarginMs = 150;
int ScanReadIntervalMs(int baud, int bitsPerChar);
int ScanTimeoutMs(int baud, int bitsPerChar);

// The status reply of station in what arrived, when it holds one whole and sound: 66 bytes from
// an STX to an ETX, printable between them, the station's own number echoed, the checksum right
// and every field the table shows readable. Bytes ahead of it (noise) are skipped.
std::optional<StatusReply> ReadScanReply(const std::vector<uint8_t>& bytes, int station);

class FlashScan {
public:
    FlashScan(const FlashArgs& args, FlashOutput& out, TEventLoop& loop, ICommSink& sink);
    ~FlashScan();
    FlashScan(const FlashScan&) = delete;
    FlashScan& operator=(const FlashScan&) = delete;

    // Asks every station, then closes the port: the exit code.
    int Run();
    // On the loop's thread: stops after what was found so far.
    void Interrupt();

private:
    void Ask();
    void OnReceive(const uint8_t* data, uint16_t count);
    void OnTimeout();
    void Next();
    void Found(const StatusReply& reply);
    void Finish(int code, const std::string& message, const std::string& detail = {});

    FlashArgs args_;
    FlashOutput& out_;
    TEventLoop& loop_;
    TComm comm_;
    FlashLinePort port_;
    TLoopTimer timer_;
    int timeoutMs_ = 0;
    size_t index_ = 0; // into args_.Stations
    int tries_ = 0;    // requests to the station asked now
    bool extended_ = false;
    std::vector<uint8_t> heard_; // since the last request
    std::chrono::steady_clock::time_point lastHeard_;
    std::vector<int> found_, unreadable_;
    std::chrono::steady_clock::time_point start_;
    bool finished_ = false;
    int exitCode_ = kExitFailed;
};

} // namespace orv
