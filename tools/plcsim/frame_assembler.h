#pragma once
// The assembly of the bytes a PLC's UART hears into the frames it acts on.

#include "line_model.h"

#include <cstddef>
#include <cstdint>
#include <optional>
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

} // namespace orv::plcsim
