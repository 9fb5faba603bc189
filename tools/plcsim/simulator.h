#pragma once
// The simulator's runtime: one or several PLCs (plc.h) on one line, a pseudo-terminal
// registered in the virtual-port folder or a serial device, served by one thread in one poll
// loop. Every delay is a deadline, so pacing never blocks the reading of what the program
// sends meanwhile. Tests run it in a thread of their own; orv-plcsim's main() runs it alone.

#include "event_log.h"
#include "faults.h"
#include "frame_assembler.h"
#include "options.h"
#include "plc.h"
#include "port.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orv::plcsim {

class Simulator {
public:
    explicit Simulator(Options options);
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    ~Simulator();

    // Where the lines it says go ("listening on ...", "download complete: ..."); standard
    // output unless set before Run.
    void OnSay(std::function<void(const std::string&)> say) { say_ = std::move(say); }

    // Opens the line, says where it listens and serves it until it ends by itself (--once,
    // vanish-after, the line closed from the other side) or stopFd turns readable. Returns the
    // exit code.
    int Run(int stopFd);

private:
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
    // One PLC on the line: every PLC hears every byte, through its own UART settings, and
    // assembles its own frames; only the one addressed answers.
    struct Drop {
        explicit Drop(const PlcConfig& config) : plc(config), delayMs(config.replyDelayMs) {}
        Plc plc;
        int delayMs;
        FrameAssembler assembler;
        std::deque<Heard> heard;
        bool downloaded = false;
        bool restored = false; // the restore command came after its download
        double bootUntil = 0;  // deaf until then: the new OS is starting
    };
    // A reply on its way out, byte by byte or in parts.
    struct PendingReply {
        size_t drop = 0; // the PLC that answers
        std::vector<uint8_t> bytes;
        std::vector<double> due; // when each byte has arrived at the program's side
        size_t sent = 0;
        std::vector<uint8_t> delivered; // what the program's UART made of what was sent
        int writes = 0;
        Struck struck;
        Outcome outcome;
        double NextDue() const {
            return struck.lost || sent >= due.size() ? due.back() : due[sent];
        }
    };

    bool Open(std::string& error);
    void Close();
    void ReadChunk();
    void Arrive(const Chunk& chunk);
    bool AnyHeard() const;
    void Digest();
    void Handle(size_t drop, const RxFrame& frame, double now);
    void Schedule(PendingReply& p, double at, const LineFormat& line);
    void SendDue(double now);
    void ReplyDone();
    void Finish(size_t drop, const Outcome& out);
    void WriteBurst(const std::vector<uint8_t>& bytes);
    void WaitUntilRead();
    void Stop(int code, const std::string& message = {});
    void Say(const std::string& text) const;
    void PeerLines(LineFormat& tx, LineFormat& rx);
    // The line the log describes: the UART of the PLC that answered last.
    const LineFormat& Line() const { return drops_[lastDrop_].plc.Line(); }
    std::string FlashOutPath(const Plc& plc) const;
    nlohmann::ordered_json StationField(const Drop& d) const;

    Options o_;
    std::vector<Drop> drops_;
    bool multiDrop_ = false;
    size_t lastDrop_ = 0;
    FaultInjector faults_;
    EventLog log_;
    std::function<void(const std::string&)> say_;
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

} // namespace orv::plcsim
