#pragma once
// The reader and writer threads of TComm on POSIX, and what they share with it. Internal to the
// serial library.

#include "serial/comm_private.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace orv {

// What the threads need of the settings; written by the GUI thread while the port is open.
struct TThreadSettings {
    uint32_t BaudRate = 9600;
    uint32_t FrameBits = 10; // start, data, parity and stop bits of one character
    uint32_t Interval = 100;
    uint32_t TotalMultiplier = 0;
    uint32_t TotalConstant = 0;
    bool Unmark = false;
    bool IgnoreNull = false;
    bool Replace = false;
    uint8_t ReplacedChar = 0;

    TReadTimeouts ReadTimeouts() const { return {Interval, TotalMultiplier, TotalConstant}; }
};

// What both threads share with the component for one opening of the port: copies of its
// descriptors, the way to the component, and the settings. The component owns the descriptors
// and closes them once both threads have ended.
struct TPortShared {
    TPortShared(ICommSink* sink, TComm* target, uint32_t session) : Poster(sink, target, session) {}

    int PortHandle = -1;
    int StopEvent = -1;
    int SettingsChanged = -1; // wakes the reader, whose wait may end by the old interval
    TCommPoster Poster;
    TReplyRuleSlot Rules;

    TThreadSettings SettingsSnapshot() {
        std::lock_guard<std::mutex> lock(SettingsLock);
        return Settings;
    }
    void UpdateSettings(const TThreadSettings& s);
    bool StopSignalled() const;

private:
    std::mutex SettingsLock;
    TThreadSettings Settings;
};

class TReadThread {
public:
    explicit TReadThread(TPortShared& shared) : S(&shared), Receiver(shared.Poster, shared.Rules) {}
    ~TReadThread();
    void Start();
    void WaitFor();

private:
    void Execute();
    void PostHangupCall();
    bool CheckLineState(uint32_t marks, bool parityCheck);

    TPortShared* const S;
    std::thread Thread;
    TReceiver Receiver;
    bool HasCounters = false;
    bool HasModemLines = false;
    int LastModem = 0;
    uint32_t LastFrame = 0, LastOverrun = 0, LastParity = 0, LastBreak = 0;
};

class TWriteThread final : private TWriterSteps {
public:
    explicit TWriteThread(TPortShared& shared);
    ~TWriteThread();
    void Start();
    void WaitFor();
    // GUI thread: queues a block of count bytes (and one zero byte); false once the writer
    // has ended, and then the block stays with the caller.
    bool PostWrite(std::unique_ptr<uint8_t[]>& block, uint16_t count);

private:
    void Execute();
    bool HandleWriteData(const uint8_t* block, size_t count) override;
    TLine Line() override;
    TWait WaitUntilDrained() override;
    TWait WaitForWork() override;
    bool StopSignalled() override { return S->StopSignalled(); }
    TWait WaitForWake(int ms);

    TPortShared* const S;
    std::thread Thread;
    int WakeEvent = -1;
    TWriteQueue Queue;
};

} // namespace orv
