#pragma once
// What the worker threads of every platform share: the way to the component. Internal to the
// serial library.

#include "serial/comm.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

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

} // namespace orv
