#include "flash_scan.h"

#include "common/hex.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orv {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kRequestLength = 8;
// A line that floods the port with noise must not grow the buffer without end.
constexpr size_t kMaxHeard = 1024;
// A station whose answer could not be read is asked once more: one damaged reply must not hide a
// PLC, and a station that keeps answering garbage is not a station.
constexpr int kTriesForAnUnreadableAnswer = 2;

double WireMs(size_t bytes, int baud, int bitsPerChar) {
    return static_cast<double>(bytes) * bitsPerChar * 1000.0 / baud;
}

int BitsPerChar(const FlashArgs& args) {
    return 1 + args.DataBits + (args.ParityIndex == 2 ? 0 : 1) + 1;
}

} // namespace

int ScanReadIntervalMs(int baud, int bitsPerChar) {
    // Two character times of silence end a block; the scan joins the blocks itself.
    return std::max(5, static_cast<int>(std::ceil(WireMs(2, baud, bitsPerChar))));
}

int ScanTimeoutMs(int baud, int bitsPerChar) {
    const double wire = WireMs(kRequestLength + kStatusReplyLength, baud, bitsPerChar);
    return static_cast<int>(std::ceil(wire)) + ScanReadIntervalMs(baud, bitsPerChar) +
           kScanMarginMs;
}

std::optional<StatusReply> ReadScanReply(const std::vector<uint8_t>& bytes, int station) {
    const std::string echo = FormatStationHex(station);
    for (size_t at = 0; at + kStatusReplyLength <= bytes.size(); ++at) {
        const uint8_t* r = bytes.data() + at;
        if (r[0] != STX || r[kStatusReplyLength - 1] != ETX)
            continue;
        const bool printable = std::all_of(r + 1, r + kStatusReplyLength - 1,
                                           [](uint8_t c) { return c >= 0x20 && c <= 0x7E; });
        if (!printable || r[1] != echo[0] || r[2] != echo[1])
            continue;
        unsigned sum = 0;
        for (size_t i = 0; i < kStatusReplyLength - 3; ++i)
            sum += r[i];
        const auto given = ParseHexByte(std::string_view(reinterpret_cast<const char*>(r + 63), 2));
        if (!given || *given != static_cast<uint8_t>(sum))
            continue;
        const bool digits = std::all_of(r + 26, r + 34, [](uint8_t c) {
            return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        });
        if (!digits)
            continue;
        if (auto reply = DecodeStatusReply(r, kStatusReplyLength))
            return reply;
    }
    return std::nullopt;
}

FlashScan::FlashScan(const FlashArgs& args, FlashOutput& out, TEventLoop& loop, ICommSink& sink)
    : args_(args), out_(out), loop_(loop), comm_(&sink), port_(comm_, out_),
      timer_(loop, [this] { OnTimeout(); }) {
    comm_.OnReceiveData = [this](TComm*, const uint8_t* data, uint16_t count) {
        OnReceive(data, count);
    };
    comm_.OnRequestHangup = [this](TComm*) {
        Finish(kExitFailed, "the serial line hung up: " +
                                (comm_.PortPath().empty() ? args_.CommName : comm_.PortPath()) +
                                " is gone");
    };
    port_.OnRefused = [this] {
        loop_.Post([this] { Finish(kExitFailed, "the serial port refused a write"); });
    };
}

FlashScan::~FlashScan() {
    comm_.StopComm();
}

int FlashScan::Run() {
    const int bits = BitsPerChar(args_);
    timeoutMs_ = ScanTimeoutMs(args_.Baud, bits);
    port_.SetUp(args_, static_cast<uint32_t>(ScanReadIntervalMs(args_.Baud, bits)));

    start_ = Clock::now();
    out_.Event(std::move(JsonEvent("start")
                             .Str("mode", "scan")
                             .Str("port", args_.Port)
                             .Int("baud", args_.Baud)
                             .Str("parity", kParityNames[args_.ParityIndex])
                             .Int("databits", args_.DataBits)
                             .Str("stations", args_.StationsText)
                             .Int("timeout_ms", timeoutMs_)));
    out_.Line("Scan of " + args_.Port + " at " + port_.LineText() + ": stations " +
              args_.StationsText + ", " + std::to_string(timeoutMs_) + " ms each at most");
    try {
        port_.Open();
    } catch (const ECommsError& e) {
        Finish(kExitPort, e.what(), e.Detail());
        return exitCode_;
    }
    out_.Line("station  OS version  release date  flash type  register code");
    loop_.Post([this] { Ask(); });
    loop_.RunUntil([this] { return finished_; });
    comm_.StopComm();
    return exitCode_;
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
    extended_ = false;
    ++tries_;
    timer_.SetInterval(timeoutMs_);
    timer_.Enable();
    port_.Write(frame.StatusRequestFrame.data(), kRequestLength);
}

void FlashScan::OnReceive(const uint8_t* data, uint16_t count) {
    out_.Trace('<', port_.LineText(), data, count);
    if (finished_ || !timer_.Enabled())
        return; // between two stations: nobody was asked
    heard_.insert(heard_.end(), data, data + count);
    lastHeard_ = Clock::now();
    if (heard_.size() > kMaxHeard)
        heard_.erase(heard_.begin(), heard_.end() - static_cast<long>(kMaxHeard));
    if (const auto reply = ReadScanReply(heard_, args_.Stations[index_])) {
        timer_.Disable();
        Found(*reply);
        Next();
    }
}

void FlashScan::OnTimeout() {
    timer_.Disable();
    if (finished_)
        return;
    // A reply still coming in when the time runs out gets the time once more.
    const auto quiet = std::chrono::milliseconds(2 * comm_.ReadIntervalTimeout());
    if (!heard_.empty() && !extended_ && Clock::now() - lastHeard_ < quiet) {
        extended_ = true;
        timer_.Enable();
        return;
    }
    if (!heard_.empty()) {
        if (tries_ < kTriesForAnUnreadableAnswer) {
            loop_.Post([this] { Ask(); });
            return;
        }
        const int station = args_.Stations[index_];
        unreadable_.push_back(station);
        out_.Line("  station " + std::to_string(station) +
                  ": an answer that is not a readable status reply (noise on the line?), "
                  "not counted");
    }
    Next();
}

void FlashScan::Next() {
    ++index_;
    tries_ = 0;
    loop_.Post([this] { Ask(); });
}

void FlashScan::Found(const StatusReply& reply) {
    const int station = args_.Stations[index_];
    found_.push_back(station);
    char row[160];
    std::snprintf(row, sizeof row, "%7d  %-10s  %-12s  %-10s  %d", station,
                  PrintableText(reply.Version).c_str(), PrintableText(reply.ReleaseDate).c_str(),
                  reply.FlashType.c_str(), reply.PortRegisterCode);
    std::string line = row;
    if (reply.Station != station)
        line += "  (reports station " + std::to_string(reply.Station) + ")";
    out_.Line(line);
    out_.Event(std::move(JsonEvent("scan_station")
                             .Int("station", station)
                             .Str("version", reply.Version)
                             .Str("date", reply.ReleaseDate)
                             .Str("flash", reply.FlashType)
                             .Int("register_code", reply.PortRegisterCode)
                             .Int("plc_station", reply.Station)));
}

void FlashScan::Interrupt() {
    Finish(kExitFailed, "interrupted");
}

void FlashScan::Finish(int code, const std::string& message, const std::string& detail) {
    if (finished_)
        return;
    finished_ = true;
    exitCode_ = code;
    timer_.Disable();
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    if (code != kExitPort) {
        char tail[64];
        std::snprintf(tail, sizeof tail, ", in %.1f s", seconds);
        out_.Line(std::to_string(found_.size()) + (found_.size() == 1 ? " station" : " stations") +
                  " answered of " + std::to_string(std::min(index_, args_.Stations.size())) +
                  " asked" + tail);
    }
    if (!message.empty()) {
        out_.ErrorLine("orv-flash: " + message);
        if (!detail.empty())
            out_.ErrorLine("  " + detail);
    }
    const char* result = code == kExitOk          ? "ok"
                         : code == kExitNoStation ? "no-station"
                         : code == kExitPort      ? "port-error"
                                                  : "failed";
    JsonEvent e("done");
    e.Int("exit", code).Str("result", result).Str("message", message);
    if (!detail.empty())
        e.Str("detail", detail);
    auto list = [](const std::vector<int>& v) { return nlohmann::ordered_json(v); };
    e.Json("found", list(found_))
        .Json("unreadable", list(unreadable_))
        .Int("asked", static_cast<long long>(std::min(index_, args_.Stations.size())))
        .Num("seconds", seconds);
    out_.Event(std::move(e));
}

} // namespace orv
