#pragma once
// The narrow seams through which the status query and the update sequence reach the world.
// The windows implement them over the real TComm and QTimer; tests and orv-flash use their
// own. Plain C++: no Qt, no serial headers.

#include <cstdint>
#include <functional>
#include <string>

namespace orv {

enum class LineParity { None, Odd, Even };

// The one serial port, as the engines use it.
class ILinePort {
public:
    virtual ~ILinePort() = default;
    // StartComm: opens with the settings already applied; throws (ECommsError) on failure.
    virtual void Open() = 0;
    // StopComm: never fails.
    virtual void Close() = 0;
    // WriteCommData: queues a copy; false when refused (closed port, no bytes).
    virtual bool Write(const uint8_t* data, uint16_t count) = 0;
    // Setters that take effect at once on an open port.
    virtual void SetBaudRate(uint32_t baud) = 0;
    virtual void SetDataBits(int bits) = 0; // 7 or 8
    virtual void SetParity(LineParity parity) = 0;
    // The read-interval time-out (ReadIntervalTimeout): bytes that follow each other more
    // closely arrive as one block, so a quiet line for this long ends a reply.
    virtual uint32_t ReadIntervalMs() const = 0;
};

// A window timer: fires every Interval ms while enabled. Enabling an enabled timer does not
// restart it; the handlers disable it first thing.
class ITimer {
public:
    virtual ~ITimer() = default;
    virtual void Enable() = 0;
    virtual void Disable() = 0;
    virtual bool Enabled() const = 0;
    virtual void SetInterval(int ms) = 0;
};

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
