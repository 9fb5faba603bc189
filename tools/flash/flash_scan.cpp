#include "flash_scan.h"

#include "common/hex.h"
#include "flash_session.h"

#include <algorithm>
#include <cmath>

namespace orv {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kRequestLength = 8;
// A line that floods the port with noise must not grow the buffer without end.
constexpr size_t kMaxHeard = 1024;
// A station whose answer could not be read is asked once more: one damaged reply must not hide a
// PLC, and a station that keeps answering garbage is not a station.
constexpr int kTriesForAnUnreadableAnswer = 2;
// A line that never falls quiet still moves on to the next station after this long.
constexpr auto kMostQuietWait = std::chrono::seconds(2);

int WireMs(size_t bytes, int baud, int bitsPerChar) {
    return static_cast<int>(std::ceil(static_cast<double>(bytes) * bitsPerChar * 1000.0 / baud));
}

int BitsPerChar(const FlashArgs& args) {
    return 1 + args.DataBits + (args.ParityIndex == 2 ? 0 : 1) + 1;
}

// Where a whole, sound status reply starts in bytes at or after from (of station, or of any
// station when station is negative); bytes.size() when there is none.
size_t FindStatusReply(const std::vector<uint8_t>& bytes, size_t from, int station) {
    const std::string echo = station >= 0 ? FormatStationHex(station) : std::string();
    for (size_t at = from; at + kStatusReplyLength <= bytes.size(); ++at) {
        const uint8_t* r = bytes.data() + at;
        if (!IsWholeStationReply(r, kStatusReplyLength))
            continue;
        if (!echo.empty() &&
            (r[1] != static_cast<uint8_t>(echo[0]) || r[2] != static_cast<uint8_t>(echo[1])))
            continue;
        const bool digits = std::all_of(r + 26, r + 34, [](uint8_t c) {
            return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        });
        if (digits && DecodeStatusReply(r, kStatusReplyLength))
            return at;
    }
    return bytes.size();
}

} // namespace

ScanTimings ScanTimingsFor(int baud, int bitsPerChar) {
    ScanTimings t;
    t.ReadIntervalMs = std::max(5, WireMs(2, baud, bitsPerChar));
    t.RequestMs = WireMs(kRequestLength, baud, bitsPerChar);
    // The PC's scheduling and the PLC's own pauses inside a reply get a margin.
    t.ReplyMs = WireMs(kStatusReplyLength, baud, bitsPerChar) + 2 * t.ReadIntervalMs + 20;
    t.QuietMs = WireMs(kStatusReplyLength, baud, bitsPerChar) + t.ReadIntervalMs;
    return t;
}

std::optional<StatusReply> ReadScanReply(const std::vector<uint8_t>& bytes, int station) {
    const size_t at = FindStatusReply(bytes, 0, station);
    if (at == bytes.size())
        return std::nullopt;
    return DecodeStatusReply(bytes.data() + at, kStatusReplyLength);
}

std::vector<uint8_t> WithoutStatusReplies(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> rest;
    size_t from = 0;
    for (;;) {
        const size_t at = FindStatusReply(bytes, from, -1);
        rest.insert(rest.end(), bytes.begin() + static_cast<long>(from),
                    bytes.begin() + static_cast<long>(at));
        if (at == bytes.size())
            return rest;
        from = at + kStatusReplyLength;
    }
}

FlashScan::FlashScan(const FlashArgs& args, FlashReport& report, TEventLoop& loop, ICommSink& sink)
    : args_(args), report_(report), loop_(loop), comm_(&sink), port_(comm_),
      timer_(loop, [this] { OnTimeout(); }) {
    port_.OnReceiveData = [this](const uint8_t* data, uint16_t count) { OnReceive(data, count); };
    port_.OnTrace = [this](char direction, const uint8_t* data, uint16_t count) {
        report_.Output().Trace(direction, port_.LineText(), data, count);
    };
    port_.OnNote = [this](const std::string& text) { report_.Output().TraceNote(text); };
    port_.OnRequestHangup = [this] {
        Finish(kExitFailed, "the serial line hung up: " +
                                (comm_.PortPath().empty() ? args_.CommName : comm_.PortPath()) +
                                " is gone");
    };
    port_.OnWriteRefused = [this] {
        loop_.Post([this] { Finish(kExitFailed, "the serial port refused a write"); });
    };
}

FlashScan::~FlashScan() {
    comm_.StopComm();
}

int FlashScan::Run() {
    timings_ = ScanTimingsFor(args_.Baud, BitsPerChar(args_));
    SetUpFlashComm(comm_, args_, static_cast<uint32_t>(timings_.ReadIntervalMs));
    start_ = Clock::now();
    report_.ScanStart(args_, port_.LineText(), args_.ScanTimeoutMs);
    try {
        port_.Open();
    } catch (const ECommsError& e) {
        Finish(kExitPort, e.what(), e.Detail());
        return exitCode_;
    }
    // Traffic from before the scan is nobody's answer.
    heard_.clear();
    quietSince_ = Clock::now();
    Arm(Wait::Quiet, timings_.QuietMs);
    loop_.RunUntil([this] { return finished_; });
    comm_.StopComm();
    return exitCode_;
}

void FlashScan::Arm(Wait wait, int ms) {
    wait_ = wait;
    timer_.Disable();
    timer_.SetInterval(std::max(ms, 1));
    timer_.Enable();
}

void FlashScan::Ask() {
    if (finished_)
        return;
    if (index_ >= args_.Stations.size()) {
        const std::string none = "no station answered (stations " + args_.StationsText + ")";
        Finish(found_.empty() ? kExitNoStation : kExitOk, found_.empty() ? none : "");
        return;
    }
    StationState frame;
    CompleteStatusRequestFrame(frame, FormatStationHex(args_.Stations[index_]));
    heard_.clear();
    ++tries_;
    // The wait runs from the request's end: its time on the wire is counted in.
    Arm(Wait::FirstByte, timings_.RequestMs + args_.ScanTimeoutMs);
    port_.Write(frame.StatusRequestFrame.data(), kRequestLength);
}

void FlashScan::OnReceive(const uint8_t* data, uint16_t count) {
    if (finished_)
        return;
    if (wait_ == Wait::Quiet) {
        // Still talking: the quiet starts over, unless the line never falls quiet at all.
        if (Clock::now() - quietSince_ < kMostQuietWait)
            Arm(Wait::Quiet, timings_.QuietMs);
        return;
    }
    if (wait_ == Wait::None)
        return;
    heard_.insert(heard_.end(), data, data + count);
    if (heard_.size() > kMaxHeard)
        heard_.erase(heard_.begin(), heard_.end() - static_cast<long>(kMaxHeard));
    if (const auto reply = ReadScanReply(heard_, args_.Stations[index_])) {
        found_.push_back(args_.Stations[index_]);
        report_.ScanStation(args_.Stations[index_], *reply);
        Next();
        return;
    }
    if (wait_ == Wait::FirstByte)
        Arm(Wait::Reply, timings_.ReplyMs);
}

void FlashScan::OnTimeout() {
    timer_.Disable();
    if (finished_)
        return;
    switch (wait_) {
    case Wait::FirstByte:
    case Wait::Reply:
        EndOfStation();
        return;
    case Wait::Quiet: {
        // Bytes the reader still holds count too: the quiet runs from the last one.
        const uint32_t quiet = port_.QuietMs();
        const auto needed = static_cast<uint32_t>(timings_.QuietMs);
        if (quiet < needed && Clock::now() - quietSince_ < kMostQuietWait) {
            Arm(Wait::Quiet, static_cast<int>(needed - quiet));
            return;
        }
        wait_ = Wait::None;
        if (!retry_)
            tries_ = 0;
        retry_ = false;
        loop_.Post([this] { Ask(); });
        return;
    }
    case Wait::None:
        return;
    }
}

// No reply of the station asked came in its time. Another station's late reply is nobody's
// fault here; anything else heard is a damaged answer, asked for once more.
void FlashScan::EndOfStation() {
    const bool noise = !WithoutStatusReplies(heard_).empty();
    if (noise && tries_ < kTriesForAnUnreadableAnswer) {
        retry_ = true;
    } else {
        if (noise) {
            unreadable_.push_back(args_.Stations[index_]);
            report_.ScanUnreadable(args_.Stations[index_]);
        }
        ++index_;
    }
    quietSince_ = Clock::now();
    Arm(Wait::Quiet, timings_.QuietMs);
}

void FlashScan::Next() {
    ++index_;
    tries_ = 0;
    wait_ = Wait::None;
    timer_.Disable();
    loop_.Post([this] { Ask(); });
}

void FlashScan::Interrupt() {
    Finish(kExitInterrupted, "interrupted");
}

void FlashScan::Finish(int code, const std::string& message, const std::string& detail) {
    if (finished_)
        return;
    finished_ = true;
    exitCode_ = code;
    timer_.Disable();
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    report_.ScanDone(code, message, detail, found_, unreadable_,
                     std::min(index_, args_.Stations.size()), seconds);
}

} // namespace orv
