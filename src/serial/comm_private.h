#pragma once
// What the worker threads of every platform share: the way to the component. Internal to the
// serial library.

#include "serial/comm.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

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

// The owner's reply rule for one opening of the port. The GUI thread sets it for the write it
// is about to post, the writer says when it starts each write, the reader ends blocks by it.
class TReplyRuleSlot {
public:
    struct TView {
        std::optional<TReplyRule> Rule; // none: only the read interval ends a block
        uint64_t Serial = 0;            // a new one with every rule set
        uint64_t Write = 0;             // the write it answers: 1 for the first of the opening
    };

    // GUI thread; ignored once the slot has fallen back.
    void Set(const std::optional<TReplyRule>& rule, uint64_t write);
    // Set before the threads start, where the platform's reader must be told of a new rule.
    std::function<void()> OnSet;
    // Writer thread: the write numbered `write` is about to start.
    void Starting(uint64_t write) { Started.store(write, std::memory_order_release); }
    // Reader thread.
    TView Current();
    bool HasStarted(uint64_t write) const {
        return Started.load(std::memory_order_acquire) >= write;
    }
    // Bytes out of place were seen: no rule holds for the rest of this opening.
    void FallBack();

private:
    std::mutex Lock;
    TView Now;
    bool FellBack = false;
    std::atomic<uint64_t> Started{0};
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

// The reader's half of the reply rule, the same on every platform: which bytes may be the reply
// to the request in flight, and where its block ends. Owned by the reader thread.
class TReplyCutter {
public:
    explicit TReplyCutter(TReplyRuleSlot& slot) : Slot(slot) {}

    // Takes up the rule set now. True when a new rule finds bytes in hand: they came before its
    // request was even posted, so they are out of place.
    bool Refresh(size_t inHand);
    bool Active() const { return View.Rule.has_value(); }
    // Bytes that arrive now may be the reply: its request has started and, by the platform's
    // output queue, left the line, and no whole reply has come for it yet.
    bool MayAnswer(bool outputIdle) const {
        return outputIdle && !Answered && Slot.HasStarted(View.Write);
    }
    size_t Missing(const uint8_t* block, size_t length) const {
        return View.Rule ? View.Rule->Missing(block, length) : 0;
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
    bool TailOver(bool outputIdle) const { return outputIdle && Slot.HasStarted(TailUntil); }

private:
    TReplyRuleSlot& Slot;
    TReplyRuleSlot::TView View;
    bool Answered = false;
    uint64_t TailUntil = 0; // the write whose start may end a tail
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
// Each write is announced to the reply rule as it starts.
void ServeWriteQueue(TWriterSteps& writer, TWriteQueue& queue, TCommPoster& poster,
                     TReplyRuleSlot& rules);

// When to look again whether the driver's output queue has drained: after the time the queued
// characters need on the line; while nothing moves (flow control holding the line), the looks
// grow apart up to a fifth of a second.
class TDrainPacer {
public:
    // queued > 0 bytes still to send at baud bits per second, frameBits per character.
    int NextWaitMs(uint32_t queued, uint32_t baud, uint32_t frameBits);

private:
    int64_t LastQueued = -1;
    int WaitMs = 0;
};

} // namespace orv
