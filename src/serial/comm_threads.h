#pragma once
// The reader and writer threads of TComm. Internal to the serial library.

#include "serial/comm.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace orv {

// What the threads need of the settings; written by the GUI thread while the port is open.
struct TReaderSettings {
    uint32_t BaudRate = 9600;
    uint32_t FrameBits = 10; // start, data, parity and stop bits of one character
    uint32_t Interval = 100;
    uint32_t TotalMultiplier = 0;
    uint32_t TotalConstant = 0;
    bool Unmark = false;
    bool IgnoreNull = false;
    bool Replace = false;
    uint8_t ReplacedChar = 0;
};

// What both threads share with the component for one open port: copies of the handles, the
// sink, and the reader's settings.
struct TPortShared {
    int PortHandle = -1;
    int StopEvent = -1;
    int SettingsChanged = -1; // wakes the reader, whose wait may end by the old interval
    ICommSink* NotifyWindow = nullptr;
    TComm* Target = nullptr;
    uint32_t Session = 0;

    std::mutex SettingsLock;
    TReaderSettings Settings;

    // One hang-up per open port, whichever thread meets the vanished device first.
    std::atomic<bool> HangupPosted{false};

    TReaderSettings SettingsSnapshot() {
        std::lock_guard<std::mutex> lock(SettingsLock);
        return Settings;
    }
    void UpdateSettings(const TReaderSettings& s);
    bool StopSignalled() const;
    bool Post(uint32_t message, uint32_t value);
    void PostHangupCall();
};

class TReadThread {
public:
    explicit TReadThread(std::shared_ptr<TPortShared> shared) : S(std::move(shared)) {}
    ~TReadThread();
    void Start();
    void WaitFor();

private:
    void Execute();
    bool HandleReadData(const uint8_t* buffer, size_t count);
    bool ReceiveData(size_t count);
    void PostHangupCall();
    bool CheckLineState(uint32_t marks, bool parityCheck);

    std::shared_ptr<TPortShared> S;
    std::thread Thread;
    uint8_t Block[2048];
    size_t BlockLength = 0;
    bool HasCounters = false;
    bool HasModemLines = false;
    int LastModem = 0;
    uint32_t LastFrame = 0, LastOverrun = 0, LastParity = 0, LastBreak = 0;
};

class TWriteThread {
public:
    explicit TWriteThread(std::shared_ptr<TPortShared> shared);
    ~TWriteThread();
    void Start();
    void WaitFor();
    // GUI thread: queues a block of count bytes (and one zero byte); false once the writer
    // has ended, and then the block stays with the caller.
    bool PostWrite(std::unique_ptr<uint8_t[]>& block, uint16_t count);

private:
    struct TRequest {
        std::unique_ptr<uint8_t[]> Block;
        uint16_t Count;
    };
    enum class TWait { Done, NewRequest, End };
    void Execute();
    bool TakeRequest(TRequest& request);
    bool HandleWriteData(const uint8_t* block, size_t count);
    TWait WaitUntilDrained();
    void EndQueue();

    std::shared_ptr<TPortShared> S;
    std::thread Thread;
    int WakeEvent = -1;
    std::mutex QueueLock;
    std::deque<TRequest> Queue;
    bool Ended = false;
};

} // namespace orv
