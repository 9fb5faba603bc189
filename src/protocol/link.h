#pragma once
// The narrow seams through which the status query and the update sequence reach the world.
// The windows and orv-flash implement them over the real TComm and their timers; tests use
// their own. Plain C++: no Qt, no serial headers.

#include <cstdint>
#include <string>

namespace orv {

enum class LineParity { None, Odd, Even };
// The connect dialog's parity list, by position: EVEN, ODD, NONE.
constexpr LineParity ParityOfIndex(int parityIndex) {
    return parityIndex == 0   ? LineParity::Even
           : parityIndex == 1 ? LineParity::Odd
                              : LineParity::None;
}

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
    // Replies taken whole: a block also ends the moment it is the whole reply that the request
    // just written asks for. A block cut that way may be a piece of something else, so the
    // engines move on only on exactly the reply they expect.
    virtual bool TakesRepliesWhole() const { return false; }
    // Only the read interval ends blocks from now on, until the port is opened again.
    virtual void TakeRepliesByInterval() {}
    // How long no byte has come in, blocks not yet handed over included; UINT32_MAX when the
    // port cannot tell.
    virtual uint32_t QuietMs() { return UINT32_MAX; }
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

} // namespace orv
