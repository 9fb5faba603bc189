#pragma once
// What the worker threads of every platform share: the way to the component. Internal to the
// serial library.

#include "serial/comm.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace orv {

// Posts the notifications of one opening of the port to the component's sink. A post that
// fails has attempted the hang-up, so a thread only has to end.
class TCommPoster {
public:
    TCommPoster(ICommSink* sink, TComm* target, uint32_t session)
        : Sink(sink), Target(target), Session(session) {}

    // MSG_RECEIVE_ERROR, MSG_MODEM_STATE_CHANGE or MSG_SEND_DATA_EMPTY with its value.
    bool Post(uint32_t message, uint32_t value);
    // MSG_RECEIVE_DATA (or MSG_REPLY_TAIL) with a copy of count bytes (1 to 2048) and one zero
    // byte.
    bool PostData(const uint8_t* bytes, size_t count, uint32_t message = MSG_RECEIVE_DATA);
    // At most once per opening, whichever thread meets the vanished device first.
    void PostHangupCall();

private:
    bool Send(CommNotification& note);

    ICommSink* const Sink;
    TComm* const Target;
    const uint32_t Session;
    std::atomic<bool> HangupPosted{false};
};

using TClock = std::chrono::steady_clock;

// Start, data, parity and stop bits of one character; 1.5 stop bits count as 2.
uint32_t CharacterBits(uint32_t dataBits, bool parity, bool moreThanOneStopBit);
// The time count characters take on the line.
TClock::duration WireTime(size_t count, uint32_t baud, uint32_t characterBits);

// The owner's read time-outs, which the reader applies itself on every platform.
struct TReadTimeouts {
    uint32_t Interval = 100; // ms from the last byte; 0: none; UINT32_MAX: at once
    uint32_t TotalMultiplier = 0;
    uint32_t TotalConstant = 0;
};

// The owner's reply rule for one opening of the port, and the writes the rule speaks of. The
// GUI thread sets the rule for the write it is about to post, the writer says when each write
// begins and when it has left the line, the reader cuts blocks by both.
class TReplyRuleSlot {
public:
    struct TView {
        std::optional<TReplyRule> Rule; // none: only the read interval ends a block
        uint64_t Serial = 0;            // a new one with every rule set
        uint64_t Write = 0;             // the write it answers: 1 for the first of the opening
    };
    struct TWrite {
        uint64_t Number = 0; // 0: none yet
        std::shared_ptr<const std::vector<uint8_t>> Bytes;
    };

    // GUI thread; ignored once the slot has fallen back.
    void Set(const std::optional<TReplyRule>& rule, uint64_t write);
    // Writer thread: the write numbered `write` begins now (returned), with these bytes.
    TClock::time_point Starting(uint64_t write, const uint8_t* bytes, size_t count);
    // Writer thread: by leftAt the write numbered `write` has left the line.
    void Sent(uint64_t write, TClock::time_point leftAt);
    // Reader thread.
    TView Current();
    TWrite LastStarted();
    bool HasLeft(uint64_t write, TClock::time_point at);
    // Bytes out of place were seen: no rule holds for the rest of this opening.
    void FallBack();
    // Reader thread: bytes came at `at`. Any thread: when bytes last came (the opening's start
    // before any did).
    void Heard(TClock::time_point at) {
        LastHeard.store(at.time_since_epoch().count(), std::memory_order_relaxed);
    }
    TClock::time_point HeardLast() const {
        return TClock::time_point(TClock::duration(LastHeard.load(std::memory_order_relaxed)));
    }

private:
    std::atomic<TClock::rep> LastHeard{TClock::now().time_since_epoch().count()};
    std::mutex Lock;
    TView Now;
    bool FellBack = false;
    TWrite Started;
    uint64_t SentWrite = 0;
    TClock::time_point LeftAt{};
};

// The bytes a reader has gathered and not yet handed over: received data, or the tail of a
// reply that a reply rule found out of place.
struct TBlock {
    uint8_t Bytes[2048];
    size_t Length = 0;
    bool Tail = false;
    // Hands them over (MSG_RECEIVE_DATA or MSG_REPLY_TAIL); true at once when there are none.
    bool Post(TCommPoster& poster);
    // Adds bytes, handing the block over each time it is full. False when a post failed.
    bool Append(const uint8_t* bytes, size_t count, TCommPoster& poster);
};

// The reader's half of the reply rule: which bytes may be the reply to the request in flight,
// and where its block ends.
class TReplyCutter {
public:
    explicit TReplyCutter(TReplyRuleSlot& slot) : Slot(slot) {}

    // Takes up the rule set now. True when a new rule finds bytes in hand: they came before its
    // request was even posted, so they are out of place.
    bool Refresh(size_t inHand);
    bool Active() const { return View.Rule.has_value(); }
    // Bytes there at `at` may be the reply: its request had left the line, and no whole reply
    // has come for it yet.
    bool MayAnswer(TClock::time_point at) const {
        return !Answered && Slot.HasLeft(View.Write, at);
    }
    // Bytes that may answer: added to the block, which is handed over the moment it is a whole
    // reply (or full); whatever follows a whole reply is out of place and goes as DropTail
    // says. False when a post failed.
    bool Feed(TBlock& block, const uint8_t* bytes, size_t count, TCommPoster& poster);
    // Bytes that cannot be the reply in flight make, with those in hand, the block a tail; the
    // rule is given up for this opening. False when a post failed.
    bool DropTail(TBlock& block, const uint8_t* bytes, size_t count, TCommPoster& poster);
    // A tail goes on until the line is quiet for the read interval, as any block, or until the
    // next request has left the line: what comes then may be its reply.
    bool TailOver(TClock::time_point at) const { return Slot.HasLeft(TailUntil, at); }

private:
    TReplyRuleSlot& Slot;
    TReplyRuleSlot::TView View;
    bool Answered = false;
    uint64_t TailUntil = 0; // the write whose leaving the line may end a tail
};

// What a reader makes of the bytes it reads, the same on every platform: blocks ended by the
// read interval from their last byte (or the total time-out, or when full), the line's echo
// of each write removed, and the reply rule applied to what is left. Owned by the reader.
class TReceiver {
public:
    TReceiver(TCommPoster& poster, TReplyRuleSlot& slot)
        : Poster(poster), Slot(slot), Cutter(slot), ReadStart(TClock::now()) {}

    // Nothing in hand: the next byte begins a block.
    bool Idle() const { return In.Length == 0 && Held.empty(); }
    // Takes up a new rule; bytes in hand then are a tail. False when a post failed.
    bool Refresh();
    // Before bytes are read: what was there at `at` is judged as of then, against the rule and
    // the write last begun. False when a post failed.
    bool Prepare(TClock::time_point at);
    // Bytes read since Prepare, at now. skipNul: NUL bytes were dropped from them.
    bool Take(const uint8_t* bytes, size_t count, TClock::time_point now, const TReadTimeouts& t,
              bool skipNul);
    // When the block in hand ends by the time-outs; max() when nothing is in hand. With neither
    // an interval nor a total time-out a block ends only when full.
    TClock::time_point Deadline(const TReadTimeouts& t) const;
    // That time has come: the block goes as it is.
    bool Expire(TClock::time_point now);
    // Before a hang-up: the last bytes the line brought go out first.
    bool Flush();

private:
    bool Dispatch(const uint8_t* bytes, size_t count, bool mayAnswer);
    bool ReleaseHeld();

    TCommPoster& Poster;
    TReplyRuleSlot& Slot;
    TReplyCutter Cutter;
    TBlock In;
    bool MayAnswer = false; // as Prepare judged
    bool TailOver = false;
    TClock::time_point ReadStart; // whole periods of the total time-out run from here
    TClock::time_point TotalDeadline = TClock::time_point::max();
    TClock::time_point LastByte{};
    // Whether the line echoes, as this opening has shown: it does until the first bytes after
    // a write are not a copy of it. Then a copy is a reply (a station accepting a stop answers
    // with the very bytes of the request).
    enum class TEchoLine { Unknown, Echoes, Plain };
    TEchoLine EchoLine = TEchoLine::Unknown;
    // The echo looked for: the bytes of the write last begun, until a byte differs from them.
    uint64_t EchoWrite = 0;
    std::shared_ptr<const std::vector<uint8_t>> Echo;
    size_t EchoAt = 0;         // how far into it the line has matched
    std::vector<uint8_t> Held; // the bytes that matched, held until the echo is whole or not
    bool HeldMayAnswer = false;
    bool NoEcho(); // bytes came after the write, and they were no copy of it
};

// The writer's requests in posting order. The GUI thread posts, the writer takes; a post never
// waits for the line. Once the writer has ended, a post is refused and the block stays with
// the caller, so no request is ever accepted and then silently dropped.
class TWriteQueue {
public:
    struct TRequest {
        std::unique_ptr<uint8_t[]> Block;
        uint16_t Count = 0;
    };
    // False once ended; the writer is woken by the caller.
    bool Post(std::unique_ptr<uint8_t[]>& block, uint16_t count);
    bool Take(TRequest& request);
    // Refuses further posts and releases what is still queued.
    void End();

private:
    std::mutex Lock;
    std::deque<TRequest> Queue;
    bool Ended = false;
};

// What a platform's writer thread does, for the rule every platform shares (ServeWriteQueue).
class TWriterSteps {
public:
    enum class TWait { Quiet, NewRequest, End };
    struct TLine {
        uint32_t Baud = 9600;
        uint32_t CharacterBits = 10;
    };
    // The line's speed and character size now.
    virtual TLine Line() = 0;
    // Until the driver has sent everything (Quiet), a request has come, or the writer must end.
    virtual TWait WaitUntilDrained() = 0;
    // Until a request has come or the writer must end; never Quiet.
    virtual TWait WaitForWork() = 0;
    virtual bool StopSignalled() = 0;
    // Writes one whole block; false when the writer must end.
    virtual bool HandleWriteData(const uint8_t* block, size_t count) = 0;

protected:
    ~TWriterSteps() = default;
};

// Takes the requests in posting order and writes each whole, until a step says to end. The
// send-buffer-empty notice is once per idle: the first time the queue is found empty after the
// start, then after each time at least one request was written, and only once the driver has
// sent everything, so that requests posted back to back get one notice after the last.
// Each write is announced to the reply rule as it begins and when it has left the line.
void ServeWriteQueue(TWriterSteps& writer, TWriteQueue& queue, TCommPoster& poster,
                     TReplyRuleSlot& rules);

// When to look again whether the driver's output queue has drained: after the time the queued
// characters need on the line; while nothing moves (flow control holding the line), the looks
// grow apart up to a fifth of a second. A queue that has not drained a second after the first
// look's bytes should have been sent never will: the owner's reply time-out, started by the
// notice, must run all the same.
class TDrainPacer {
public:
    // queued > 0 bytes still to send at baud bits per second, frameBits per character; -1 when
    // the wait is over.
    int NextWaitMs(uint32_t queued, uint32_t baud, uint32_t frameBits);

private:
    int64_t LastQueued = -1;
    int WaitMs = 0;
    TClock::time_point GiveUpAt{};
};

} // namespace orv
