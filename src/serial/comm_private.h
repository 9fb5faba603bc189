#pragma once
// What the worker threads of every platform share: the way to the component. Internal to the
// serial library.

#include "serial/comm.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace orv {

// Posts the notifications of one opening of the port to the component's sink. A post that
// fails has attempted the hang-up, so a thread only has to end.
class TCommPoster {
public:
    TCommPoster(ICommSink* sink, TComm* target, uint32_t session)
        : Sink(sink), Target(target), Session(session) {}

    // MSG_RECEIVE_ERROR, MSG_MODEM_STATE_CHANGE or MSG_SEND_DATA_EMPTY with its value.
    bool Post(uint32_t message, uint32_t value);
    // MSG_RECEIVE_DATA with a copy of count bytes (1 to 2048) and one zero byte.
    bool PostData(const uint8_t* bytes, size_t count);
    // At most once per opening, whichever thread meets the vanished device first.
    void PostHangupCall();

private:
    bool Send(CommNotification& note);

    ICommSink* const Sink;
    TComm* const Target;
    const uint32_t Session;
    std::atomic<bool> HangupPosted{false};
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
void ServeWriteQueue(TWriterSteps& writer, TWriteQueue& queue, TCommPoster& poster);

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
