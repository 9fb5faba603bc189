// orv-plcsim: plays an Orv PLC at the far end of a serial line, on a pseudo-terminal or a real
// serial device; or several PLCs on one multi-drop line, each hearing the line through its own
// UART. One thread, one poll loop; every delay is a deadline, so pacing never blocks the reading
// of what the program sends meanwhile.

#include "common/hex.h"
#include "json_text.h"
#include "options.h"
#include "port.h"
#include "sim_core.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace orv;
using namespace orv::plcsim;

namespace {

int gSignalPipe[2] = {-1, -1};

extern "C" void OnSignal(int) {
    const char c = 1;
    const ssize_t ignored = write(gSignalPipe[1], &c, 1);
    (void)ignored;
}

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    return HexDump(bytes.data(), bytes.size());
}

std::vector<uint8_t> Values(const std::vector<LineChar>& chars) {
    std::vector<uint8_t> v;
    v.reserve(chars.size());
    for (const LineChar& c : chars)
        v.push_back(c.value);
    return v;
}

class EventLog {
public:
    bool Open(const std::string& path) {
        file_ = std::fopen(path.c_str(), "a");
        return file_ != nullptr;
    }
    ~EventLog() {
        if (file_)
            std::fclose(file_);
    }
    // One JSON object a line: time, direction, the PLC's line, the program's speed when known,
    // the bytes, any extra fields, and what the PLC made of them.
    void Write(const char* dir, const LineFormat& plc, const LineFormat* peer,
               const std::vector<uint8_t>* bytes, const std::string& what,
               const nlohmann::ordered_json& extra = {}) {
        if (!file_)
            return;
        const auto wall = std::chrono::system_clock::now();
        const std::time_t secs = std::chrono::system_clock::to_time_t(wall);
        const int ms = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count() %
            1000);
        std::tm tm{};
        gmtime_r(&secs, &tm);
        char stamp[40];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm);
        char millis[8];
        std::snprintf(millis, sizeof millis, ".%03dZ", ms);
        nlohmann::ordered_json line;
        line["time"] = std::string(stamp) + millis;
        line["t"] = std::round((Now() - start_) * 1000.0) / 1000.0;
        line["dir"] = dir;
        line["speed"] = plc.speed;
        line["format"] = plc.Text();
        if (peer)
            line["peer_speed"] = peer->speed;
        if (bytes)
            line["hex"] = Hex(*bytes);
        for (const auto& [key, value] : extra.items())
            line[key] = value;
        line["what"] = JsonText(what);
        const std::string text = line.dump(-1, ' ', /*ensure_ascii=*/true);
        std::fprintf(file_, "%s\n", text.c_str());
        std::fflush(file_);
    }

private:
    std::FILE* file_ = nullptr;
    double start_ = Now();
};

struct Chunk {
    double ready = 0;    // when its last byte has arrived at the PLC's UART
    double readTime = 0; // when the simulator read it
    std::vector<uint8_t> raw;
    LineFormat peerTx;
};

struct Heard {
    LineChar c;
    double t;
};

// What --reply-tail sends after a reply: a page refusal, should a reader take it for one.
constexpr uint8_t kTailByte = 0x15;

struct PendingReply {
    size_t drop = 0; // the PLC that answers
    double at = 0;
    std::vector<uint8_t> bytes;
    bool lost = false;
    bool garbled = false;
    Outcome outcome;
};

// One PLC on the line: every PLC hears every byte, through its own UART settings, and assembles
// its own frames; only the one addressed answers.
struct Drop {
    explicit Drop(const PlcConfig& config) : plc(config) {}
    Plc plc;
    FrameAssembler assembler;
    std::deque<Heard> heard;
    bool downloaded = false;
    bool restored = false; // the restore command came after its download
};

class Simulator {
public:
    explicit Simulator(Options options) : o_(std::move(options)), dice_(o_.seed) {
        multiDrop_ = !o_.stations.empty();
        if (!multiDrop_)
            o_.stations.push_back(o_.plc);
        drops_.reserve(o_.stations.size());
        for (const PlcConfig& config : o_.stations)
            drops_.emplace_back(config);
    }

    int Run();

private:
    bool Open(std::string& error);
    void Close();
    void ReadChunk();
    void Arrive(const Chunk& chunk);
    bool AnyHeard() const;
    void Digest();
    void Handle(size_t drop, const RxFrame& frame, double now);
    void SendPending();
    void Finish(size_t drop, const Outcome& out);
    void WriteBurst(const std::vector<uint8_t>& bytes);
    void WaitUntilRead();
    void Stop(int code, const std::string& message = {});
    void PeerLines(LineFormat& tx, LineFormat& rx);
    // The line the log describes: the UART of the PLC that answered last.
    const LineFormat& Line() const { return drops_[lastDrop_].plc.Line(); }
    std::string FlashOutPath(const Plc& plc) const;

    Options o_;
    std::vector<Drop> drops_;
    bool multiDrop_ = false;
    size_t lastDrop_ = 0;
    FaultDice dice_;
    EventLog log_;
    bool isPty_ = true;
    Pty pty_;
    int fd_ = -1;
    std::string link_;
    std::deque<Chunk> rx_;
    std::optional<PendingReply> pending_;
    double rxBusy_ = 0;
    double txBusy_ = 0;
    int pageFrames_ = 0;
    bool downloaded_ = false; // by any PLC on the line
    double doneAt_ = 0;
    double lastRx_ = 0;
    bool stop_ = false;
    int exitCode_ = 0;
};

bool Simulator::Open(std::string& error) {
    if (!o_.device.empty()) {
        isPty_ = false;
        fd_ = open(o_.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            error = "cannot open " + o_.device + ": " + std::strerror(errno);
            return false;
        }
        return SetTtyLine(fd_, Line(), error);
    }
    std::string folder;
    if (!VirtualPortFolder(folder, error) || !OpenPty(pty_, error))
        return false;
    fd_ = pty_.master;
    // Until the program sets its own, its side of the line matches the PLC.
    if (!SetTtyLine(pty_.slave, Line(), error))
        return false;
    const std::string link = folder + "/" + o_.name;
    if (!RegisterLink(link, pty_.slavePath, error))
        return false;
    link_ = link;
    return true;
}

void Simulator::Close() {
    if (!link_.empty())
        UnregisterLink(link_, pty_.slavePath);
    link_.clear();
    if (fd_ >= 0)
        close(fd_);
    if (pty_.slave >= 0)
        close(pty_.slave);
    fd_ = pty_.slave = pty_.master = -1;
}

void Simulator::PeerLines(LineFormat& tx, LineFormat& rx) {
    tx = rx = Line();
    LineFormat ptx;
    LineFormat prx;
    if (!isPty_ || !ReadPeerLine(fd_, ptx, prx))
        return;
    // The pty keeps no data bits or parity of the program's (see ReadPeerLine): only a speed
    // or stop-bit difference can be heard.
    tx.speed = ptx.speed;
    tx.stopBits = ptx.stopBits;
    rx.speed = prx.speed;
    rx.stopBits = prx.stopBits;
}

void Simulator::ReadChunk() {
    uint8_t buf[4096];
    const ssize_t n = read(fd_, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        Stop(1, std::string("line closed: ") + (n < 0 ? std::strerror(errno) : "end of file"));
        return;
    }
    const double now = Now();
    Chunk c;
    c.readTime = now;
    c.raw.assign(buf, buf + n);
    LineFormat rx;
    PeerLines(c.peerTx, rx);
    c.ready = now;
    // On a real line the last byte arrives a transmission time after the first; a real device
    // paces itself.
    if (o_.pace && isPty_ && c.peerTx.speed > 0) {
        const double start = std::max(now, rxBusy_);
        rxBusy_ = start + static_cast<double>(n) * c.peerTx.BitsPerChar() / c.peerTx.speed;
        c.ready = rxBusy_;
    }
    lastRx_ = now;
    rx_.push_back(std::move(c));
}

void Simulator::Arrive(const Chunk& chunk) {
    for (size_t i = 0; i < drops_.size(); ++i) {
        Drop& d = drops_[i];
        std::vector<LineChar> chars;
        if (isPty_) {
            chars = CarryOverLine(chunk.raw, chunk.peerTx, d.plc.Line());
        } else {
            for (uint8_t b : chunk.raw)
                chars.push_back({b, false});
        }
        if (i == lastDrop_) {
            nlohmann::ordered_json extra;
            const std::vector<uint8_t> heard = Values(chars);
            const bool errors =
                std::any_of(chars.begin(), chars.end(), [](auto& c) { return c.error; });
            if (heard != chunk.raw || errors)
                extra["heard"] = Hex(heard);
            log_.Write("rx", d.plc.Line(), isPty_ ? &chunk.peerTx : nullptr, &chunk.raw,
                       heard != chunk.raw || errors ? "garbled on the line" : "received", extra);
        }
        for (const LineChar& c : chars)
            d.heard.push_back({c, chunk.readTime});
        // A UART's buffer is finite: a peer that floods a PLC busy answering loses the excess.
        constexpr size_t kUartBuffer = 64 * 1024;
        if (d.heard.size() > kUartBuffer) {
            const size_t lost = d.heard.size() - kUartBuffer;
            d.heard.erase(d.heard.begin(), d.heard.begin() + static_cast<long>(lost));
            nlohmann::ordered_json extra;
            if (multiDrop_)
                extra["station"] = d.plc.Station();
            log_.Write("fault", d.plc.Line(), nullptr, nullptr,
                       "receive overrun: " + std::to_string(lost) + " bytes lost", extra);
        }
    }
}

bool Simulator::AnyHeard() const {
    return std::any_of(drops_.begin(), drops_.end(),
                       [](const Drop& d) { return !d.heard.empty(); });
}

void Simulator::Digest() {
    // The line is half duplex: while one PLC answers, nobody takes in more.
    for (size_t i = 0; i < drops_.size(); ++i) {
        Drop& d = drops_[i];
        while (!d.heard.empty() && !pending_ && !stop_) {
            const Heard h = d.heard.front();
            d.heard.pop_front();
            if (auto frame = d.assembler.Feed(h.c, h.t))
                Handle(i, *frame, Now());
        }
    }
}

void Simulator::Handle(size_t drop, const RxFrame& frame, double now) {
    Drop& d = drops_[drop];
    Outcome out;
    if (d.assembler.DownloadMode()) {
        out = d.plc.OnPageFrame(frame, [this] { return dice_.Roll(o_.faults.nak); });
    } else {
        out = d.plc.OnStationFrame(frame);
    }
    nlohmann::ordered_json extra;
    if (multiDrop_)
        extra["station"] = d.plc.Station();
    if (!multiDrop_ || !out.otherStation) {
        log_.Write("frame", d.plc.Line(), nullptr, &frame.bytes, out.note, extra);
    } else if (drop == 0) {
        // Every PLC hears every frame: one line for a frame that no PLC here takes.
        const auto to =
            ParseHexByte(std::string_view(reinterpret_cast<const char*>(&frame.bytes[1]), 2));
        const bool here = std::any_of(drops_.begin(), drops_.end(),
                                      [&](const Drop& o) { return to && o.plc.Station() == *to; });
        if (!here)
            log_.Write("frame", d.plc.Line(), nullptr, &frame.bytes,
                       "frame for station " +
                           std::string(frame.bytes.begin() + 1, frame.bytes.begin() + 3) +
                           ": no such station on the line");
    }
    if (!out.reply || o_.faults.silent) {
        if (out.reply)
            log_.Write("fault", d.plc.Line(), nullptr, &*out.reply, "reply withheld (silent)",
                       extra);
        d.plc.ReplyGone();
        d.assembler.SetDownloadMode(d.plc.DownloadMode());
        Finish(drop, out);
        return;
    }
    lastDrop_ = drop;
    PendingReply p;
    p.drop = drop;
    p.bytes = *out.reply;
    p.lost = dice_.Roll(o_.faults.drop);
    if (out.pageWritten && o_.faults.dropAck >= 0 &&
        (frame.bytes[4] << 8 | frame.bytes[5]) == o_.faults.dropAck) {
        p.lost = true;
        o_.faults.dropAck = -1;
    }
    if (!p.lost && dice_.Roll(o_.faults.garble)) {
        // A damaged byte, never a NUL: the program's port drops those.
        const size_t i = dice_.Pick(p.bytes.size());
        uint8_t mask = 0;
        do {
            mask = dice_.Byte();
        } while (mask == 0 || (p.bytes[i] ^ mask) == 0);
        p.bytes[i] ^= mask;
        p.garbled = true;
    }
    p.bytes.insert(p.bytes.end(), static_cast<size_t>(o_.replyTail), kTailByte);
    double at = now + o_.faults.delayMs / 1000.0;
    if (o_.pace) {
        if (out.pageWritten)
            at += o_.pageWriteMs / 1000.0;
        const LineFormat& line = d.plc.Line();
        const double start = std::max(at, txBusy_);
        at = start + static_cast<double>(p.bytes.size()) * line.BitsPerChar() / line.speed;
        txBusy_ = at;
    }
    p.at = at;
    p.outcome = std::move(out);
    pending_ = std::move(p);
}

void Simulator::WriteBurst(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    const double deadline = Now() + 0.5;
    while (done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        // The program is not reading and its buffer is full: on a real line these bytes
        // would be lost the same way.
        if (Now() > deadline)
            break;
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 20);
    }
    if (done < bytes.size())
        log_.Write("fault", Line(), nullptr, nullptr,
                   std::to_string(bytes.size() - done) + " reply bytes lost: line not read");
}

void Simulator::SendPending() {
    PendingReply p = std::move(*pending_);
    pending_.reset();
    Drop& d = drops_[p.drop];
    nlohmann::ordered_json extra;
    if (multiDrop_)
        extra["station"] = d.plc.Station();
    if (p.lost) {
        log_.Write("fault", d.plc.Line(), nullptr, &p.bytes, "reply dropped", extra);
    } else {
        std::vector<uint8_t> wire = p.bytes;
        LineFormat peer = d.plc.Line();
        if (isPty_) {
            LineFormat tx;
            PeerLines(tx, peer);
            wire = Values(CarryOverLine(p.bytes, d.plc.Line(), peer));
            if (wire != p.bytes)
                extra["delivered"] = Hex(wire);
        }
        WriteBurst(wire);
        log_.Write("tx", d.plc.Line(), isPty_ ? &peer : nullptr, &p.bytes,
                   p.garbled                     ? "reply, one byte damaged (fault garble)"
                   : extra.contains("delivered") ? "reply, garbled on the line"
                                                 : "reply",
                   extra);
    }
    const LineFormat before = d.plc.Line();
    d.plc.ReplyGone();
    d.assembler.SetDownloadMode(d.plc.DownloadMode());
    if (!(d.plc.Line() == before)) {
        log_.Write("event", d.plc.Line(), nullptr, nullptr,
                   (multiDrop_ ? "station " + std::to_string(d.plc.Station()) + ": " : "") +
                       "line now " + std::to_string(d.plc.Line().speed) + " " +
                       d.plc.Line().Text());
        // A serial device has one UART for every PLC played on it: it follows the last change.
        std::string error;
        if (!isPty_ && !SetTtyLine(fd_, d.plc.Line(), error))
            std::fprintf(stderr, "orv-plcsim: %s\n", error.c_str());
    }
    Finish(p.drop, p.outcome);
}

std::string Simulator::FlashOutPath(const Plc& plc) const {
    return multiDrop_ ? o_.flashOut + "." + std::to_string(plc.Station()) : o_.flashOut;
}

void Simulator::Finish(size_t drop, const Outcome& out) {
    Drop& d = drops_[drop];
    const std::string who = multiDrop_ ? "station " + std::to_string(d.plc.Station()) + ": " : "";
    if (out.downloadDone) {
        downloaded_ = d.downloaded = true;
        d.restored = false;
        doneAt_ = Now();
        // The flash file is complete before the verdict announces it.
        if (!o_.flashOut.empty()) {
            const auto& flash = d.plc.Flash();
            const std::string path = FlashOutPath(d.plc);
            std::ofstream f(path, std::ios::binary | std::ios::trunc);
            f.write(reinterpret_cast<const char*>(flash.data()),
                    static_cast<std::streamsize>(flash.size()));
            f.close();
            if (!f)
                std::fprintf(stderr, "orv-plcsim: cannot write %s\n", path.c_str());
        }
        std::printf("%s%s\n", who.c_str(), d.plc.Verdict().c_str());
        std::fflush(stdout);
        log_.Write("event", d.plc.Line(), nullptr, nullptr, who + d.plc.Verdict());
    }
    if (out.pageFrame)
        ++pageFrames_;
    const bool vanish =
        o_.faults.vanishAfter >= 0 && d.plc.DownloadMode() && pageFrames_ >= o_.faults.vanishAfter;
    if (vanish) {
        WaitUntilRead();
        log_.Write("fault", d.plc.Line(), nullptr, nullptr,
                   "line closed after " + std::to_string(pageFrames_) + " page frames");
        Stop(0, "line closed after " + std::to_string(pageFrames_) + " page frames (vanish)");
        return;
    }
    if (d.downloaded && out.registerWrite)
        d.restored = true;
    const bool allRestored =
        std::all_of(drops_.begin(), drops_.end(), [](const Drop& x) { return x.restored; });
    if (o_.once && out.registerWrite && allRestored) {
        log_.Write("event", d.plc.Line(), nullptr, nullptr, "restore after the download: exiting");
        WaitUntilRead();
        Stop(0);
    }
}

void Simulator::WaitUntilRead() {
    // Closing the master hangs up the program's side and flushes what it has not read yet, so
    // let it read the last reply first.
    if (!isPty_) {
        tcdrain(fd_);
        return;
    }
    // The bytes reach the program's side through the kernel's flip buffer a moment after the
    // write, so first see them arrive (or give up after 100 ms: already read), then leave.
    const double start = Now();
    bool seen = false;
    while (Now() < start + 1.0) {
        int queued = 0;
        if (ioctl(pty_.slave, FIONREAD, &queued) != 0)
            break;
        if (queued > 0)
            seen = true;
        else if (seen || Now() > start + 0.1)
            break;
        usleep(2000);
    }
}

void Simulator::Stop(int code, const std::string& message) {
    if (!message.empty()) {
        std::printf("%s\n", message.c_str());
        std::fflush(stdout);
    }
    stop_ = true;
    exitCode_ = code;
}

int Simulator::Run() {
    if (!o_.logFile.empty() && !log_.Open(o_.logFile)) {
        std::fprintf(stderr, "orv-plcsim: cannot open log %s: %s\n", o_.logFile.c_str(),
                     std::strerror(errno));
        return 1;
    }
    std::string error;
    if (!Open(error)) {
        std::fprintf(stderr, "orv-plcsim: %s\n", error.c_str());
        Close();
        return 1;
    }
    const std::string path = isPty_ ? pty_.slavePath : o_.device;
    const std::string name = isPty_ ? o_.name : o_.device.substr(o_.device.find_last_of('/') + 1);
    std::printf("listening on %s as %s\n", path.c_str(), name.c_str());
    std::fflush(stdout);
    log_.Write("event", Line(), nullptr, nullptr, "listening on " + path + " as " + name);
    if (multiDrop_) {
        std::string list;
        for (const Drop& d : drops_)
            list += (list.empty() ? "" : ",") + std::to_string(d.plc.Station());
        log_.Write("event", Line(), nullptr, nullptr, "stations " + list + " on the line");
    }

    while (!stop_) {
        const double now = Now();
        while (!rx_.empty() && rx_.front().ready <= now) {
            Arrive(rx_.front());
            rx_.pop_front();
        }
        if (pending_ && pending_->at <= now) {
            SendPending();
            continue;
        }
        if (!pending_ && AnyHeard()) {
            Digest();
            continue;
        }
        if (o_.once && downloaded_) {
            if (now - std::max(doneAt_, lastRx_) >= 5.0) {
                log_.Write("event", Line(), nullptr, nullptr, "5 s of silence after the download");
                Stop(0);
                break;
            }
        }
        double next = std::numeric_limits<double>::infinity();
        if (!rx_.empty())
            next = std::min(next, rx_.front().ready);
        if (pending_)
            next = std::min(next, pending_->at);
        if (o_.once && downloaded_)
            next = std::min(next, std::max(doneAt_, lastRx_) + 5.0);
        // A real line delivers no faster than its speed: while the bytes already read take
        // long to arrive, leave the rest in the pty, whose buffer then holds up the program's
        // writes as a real port would.
        const bool take = !o_.pace || !isPty_ || rxBusy_ <= now + 0.25;
        if (!take)
            next = std::min(next, rxBusy_ - 0.25);
        int timeout = -1;
        if (std::isfinite(next))
            timeout = static_cast<int>(std::ceil(std::max(0.0, next - now) * 1000.0));
        pollfd fds[2] = {{fd_, static_cast<short>(take ? POLLIN : 0), 0},
                         {gSignalPipe[0], POLLIN, 0}};
        const int r = poll(fds, 2, timeout);
        if (r < 0 && errno != EINTR) {
            std::fprintf(stderr, "orv-plcsim: poll: %s\n", std::strerror(errno));
            exitCode_ = 1;
            break;
        }
        if (r > 0 && (fds[1].revents & POLLIN)) {
            log_.Write("event", Line(), nullptr, nullptr, "signal: exiting");
            break;
        }
        if (r > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            ReadChunk();
    }
    Close();
    return exitCode_;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string error = ParseOptions(args, options);
    if (!error.empty()) {
        std::fprintf(stderr, "orv-plcsim: %s\n\n%s", error.c_str(), UsageText().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("orv-plcsim: pipe");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    Simulator sim(std::move(options));
    return sim.Run();
}
