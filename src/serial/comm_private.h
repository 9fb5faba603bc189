#pragma once
// What the worker threads of every platform share: the way to the component. Internal to the
// serial library.

#include "serial/comm.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
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
        return outputIdle && AwaitsReply() && Slot.HasStarted(View.Write);
    }
    bool AwaitsReply() const { return !Answered; }
    size_t Missing(const uint8_t* block, size_t length) const {
        return View.Rule ? View.Rule->Missing(block, length) : 0;
    }
    void Completed() { Answered = true; }
    void FallBack();

private:
    TReplyRuleSlot& Slot;
    TReplyRuleSlot::TView View;
    bool Answered = false;
};

} // namespace orv
