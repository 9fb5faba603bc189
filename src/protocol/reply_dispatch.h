#pragma once
// The update window's dispatch of received data, which the status query and the update
// sequence install their reply handlers in, and the guard of their modal windows. The update
// window owns both, but the status query below it uses them too, so they live here.

#include <cstdint>
#include <functional>

namespace orv {

// The current consumer of received data: the bytes of one received block, valid only until
// the handler returns.
using TReplyHandler = std::function<void(const uint8_t* buffer, uint16_t length)>;

// The update window's dispatch state, shared by the status query and the update sequence.
struct ReplyDispatch {
    TReplyHandler ReplyHandler;  // empty until the first query or update installs one
    bool AbortRequested = false; // the receive gate
    int32_t PortOpened = 0;      // 1 once the port was opened; never reset

    // CommReceiveData: drops the block while the gate is closed or nobody listens.
    void Dispatch(const uint8_t* buffer, uint16_t length) const {
        if (AbortRequested || !ReplyHandler)
            return;
        // A copy: the handler may install another one (a nested "Get PLC's Status").
        const TReplyHandler handler = ReplyHandler;
        handler(buffer, length);
    }
};

// Holds a flag up while one of an engine's own modal windows is open: their nested event loop
// goes on delivering blocks and ticks, which the engine must not take for its own.
class ModalScope {
public:
    explicit ModalScope(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
    ~ModalScope() { flag_ = old_; }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

private:
    bool& flag_;
    bool old_;
};

} // namespace orv
