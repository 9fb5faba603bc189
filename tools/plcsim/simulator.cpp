#include "simulator.h"

#include "common/hex.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace orv::plcsim {

namespace {

// What --reply-tail sends after a reply: a page refusal, should a reader take it for one.
constexpr uint8_t kTailByte = 0x15;

} // namespace

Simulator::Simulator(Options options)
    : o_(std::move(options)), faults_(o_.faults, o_.seed), say_([](const std::string& text) {
          std::printf("%s\n", text.c_str());
          std::fflush(stdout);
      }) {
    multiDrop_ = !o_.stations.empty();
    if (!multiDrop_)
        o_.stations.push_back(o_.plc);
    drops_.reserve(o_.stations.size());
    for (const PlcConfig& config : o_.stations)
        drops_.emplace_back(config);
}

Simulator::~Simulator() {
    Close();
}

void Simulator::Say(const std::string& text) const {
    if (say_)
        say_(text);
}

nlohmann::ordered_json Simulator::StationField(const Drop& d) const {
    nlohmann::ordered_json extra;
    if (multiDrop_)
        extra["station"] = d.plc.Station();
    return extra;
}

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
    // On a real line the last byte arrives a transmission time after the first, and no PLC
    // answers a request before it has heard it whole; a real device paces itself.
    if (isPty_ && c.peerTx.speed > 0) {
        const double start = std::max(now, rxBusy_);
        rxBusy_ = start + static_cast<double>(n) * c.peerTx.CharSeconds();
        c.ready = rxBusy_;
    }
    lastRx_ = now;
    rx_.push_back(std::move(c));
}

void Simulator::Arrive(const Chunk& chunk) {
    if (o_.echo) {
        // The converter's receiver hears the bytes as they go out, before anyone can answer.
        WriteBurst(chunk.raw);
        log_.Write("echo", Line(), nullptr, &chunk.raw, "echoed back to the program");
    }
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
        constexpr size_t kUartBuffer = size_t{64} * 1024;
        if (d.heard.size() > kUartBuffer) {
            const size_t lost = d.heard.size() - kUartBuffer;
            d.heard.erase(d.heard.begin(), d.heard.begin() + static_cast<long>(lost));
            log_.Write("fault", d.plc.Line(), nullptr, nullptr,
                       "receive overrun: " + std::to_string(lost) + " bytes lost", StationField(d));
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
    const nlohmann::ordered_json extra = StationField(d);
    if (now < d.bootUntil) {
        log_.Write("frame", d.plc.Line(), nullptr, &frame.bytes,
                   "not heard: the new OS is starting", extra);
        return;
    }
    Outcome out;
    if (d.assembler.DownloadMode()) {
        const int page = frame.bytes.size() > 5 ? frame.bytes[4] << 8 | frame.bytes[5] : 0;
        out = d.plc.OnPageFrame(frame, [this, page] { return faults_.RefuseGoodPage(page); });
    } else {
        out = d.plc.OnStationFrame(frame);
    }
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
    if (!out.reply || faults_.Config().silent) {
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
    const int acked = out.pageWritten ? frame.bytes[4] << 8 | frame.bytes[5] : -1;
    p.struck = faults_.Strike(p.bytes, acked);
    p.bytes.insert(p.bytes.end(), static_cast<size_t>(o_.replyTail), kTailByte);
    double at = now + (faults_.Config().delayMs + d.delayMs) / 1000.0;
    if (o_.pace != Pace::Off && out.pageWritten)
        at += o_.pageWriteMs / 1000.0;
    Schedule(p, at, d.plc.Line());
    p.outcome = std::move(out);
    pending_ = std::move(p);
}

void Simulator::Schedule(PendingReply& p, double at, const LineFormat& line) {
    const size_t n = p.bytes.size();
    const double charTime = o_.pace == Pace::Off ? 0 : line.CharSeconds();
    double t = o_.pace == Pace::Off ? at : std::max(at, txBusy_);
    p.due.assign(std::max<size_t>(n, 1), t);
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && i == p.struck.splitAt)
            t += p.struck.pauseSeconds;
        t += charTime;
        p.due[i] = t;
    }
    // Whole replies: each part goes when its last byte would have arrived.
    if (o_.pace != Pace::Bytes) {
        for (size_t i = n; i-- > 0;) {
            const bool partEnd = i + 1 == n || i + 1 == p.struck.splitAt;
            if (!partEnd)
                p.due[i] = p.due[i + 1];
        }
    }
    if (o_.pace != Pace::Off)
        txBusy_ = p.due.back();
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

void Simulator::SendDue(double now) {
    PendingReply& p = *pending_;
    if (p.struck.lost || p.bytes.empty()) {
        ReplyDone();
        return;
    }
    size_t end = p.sent;
    while (end < p.bytes.size() && p.due[end] <= now)
        ++end;
    const std::vector<uint8_t> part(p.bytes.begin() + static_cast<long>(p.sent),
                                    p.bytes.begin() + static_cast<long>(end));
    std::vector<uint8_t> wire = part;
    if (isPty_) {
        // What the program's UART makes of it, at the settings it has as this part goes.
        LineFormat tx, peer;
        PeerLines(tx, peer);
        wire = Values(CarryOverLine(part, drops_[p.drop].plc.Line(), peer));
    }
    WriteBurst(wire);
    p.delivered.insert(p.delivered.end(), wire.begin(), wire.end());
    ++p.writes;
    p.sent = end;
    if (p.sent == p.bytes.size())
        ReplyDone();
}

void Simulator::ReplyDone() {
    PendingReply p = std::move(*pending_);
    pending_.reset();
    Drop& d = drops_[p.drop];
    nlohmann::ordered_json extra = StationField(d);
    if (p.struck.lost) {
        log_.Write("fault", d.plc.Line(), nullptr, &p.bytes, "reply dropped", extra);
    } else {
        LineFormat tx, peer;
        PeerLines(tx, peer);
        const bool changed = p.delivered != p.bytes;
        if (changed)
            extra["delivered"] = Hex(p.delivered);
        if (p.writes > 1)
            extra["writes"] = p.writes;
        log_.Write("tx", d.plc.Line(), isPty_ ? &peer : nullptr, &p.bytes,
                   p.struck.garbled ? "reply, one byte damaged (fault garble)"
                   : changed        ? "reply, garbled on the line"
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
        Say(who + d.plc.Verdict());
        log_.Write("event", d.plc.Line(), nullptr, nullptr, who + d.plc.Verdict());
    }
    if (out.pageFrame)
        ++pageFrames_;
    const int vanishAfter = faults_.Config().vanishAfter;
    if (vanishAfter >= 0 && d.plc.DownloadMode() && pageFrames_ >= vanishAfter) {
        WaitUntilRead();
        const std::string text =
            "line closed after " + std::to_string(pageFrames_) + " page frames";
        log_.Write("fault", d.plc.Line(), nullptr, nullptr, text);
        Stop(0, text + " (vanish)");
        return;
    }
    if (d.downloaded && out.registerWrite && !d.restored) {
        d.restored = true;
        if (o_.bootMs > 0) {
            d.bootUntil = Now() + o_.bootMs / 1000.0;
            log_.Write("event", d.plc.Line(), nullptr, nullptr,
                       who + "starting the new OS: deaf for " + std::to_string(o_.bootMs) + " ms");
        }
    }
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
    if (!message.empty())
        Say(message);
    stop_ = true;
    exitCode_ = code;
}

int Simulator::Run(int stopFd) {
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
    Say("listening on " + path + " as " + name);
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
        if (pending_ && pending_->NextDue() <= now) {
            SendDue(now);
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
            next = std::min(next, pending_->NextDue());
        if (o_.once && downloaded_)
            next = std::min(next, std::max(doneAt_, lastRx_) + 5.0);
        // A real line delivers no faster than its speed: while the bytes already read take
        // long to arrive, leave the rest in the pty, whose buffer then holds up the program's
        // writes as a real port would.
        const bool take = !isPty_ || rxBusy_ <= now + 0.25;
        if (!take)
            next = std::min(next, rxBusy_ - 0.25);
        // Finer than a millisecond: at 115200 bit/s a byte takes 95 us, and --pace bytes sends
        // each when it is due.
        timespec wait{};
        if (std::isfinite(next)) {
            const double seconds = std::max(0.0, next - now);
            wait.tv_sec = static_cast<time_t>(seconds);
            wait.tv_nsec = static_cast<long>((seconds - static_cast<double>(wait.tv_sec)) * 1e9);
        }
        pollfd fds[2] = {{fd_, static_cast<short>(take ? POLLIN : 0), 0}, {stopFd, POLLIN, 0}};
        const int r = ppoll(fds, 2, std::isfinite(next) ? &wait : nullptr, nullptr);
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

} // namespace orv::plcsim
