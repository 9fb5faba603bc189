#pragma once
// The reader and writer threads of TComm on Win32, and what they share with it. Internal to the
// serial library.

#include "serial/comm_private.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <windows.h>

namespace orv {

// What both threads share with the component for one opening of the port: copies of its
// handles and the way to the component. The component owns the handles and closes them once
// both threads have ended.
struct TPortShared {
    TPortShared(ICommSink* sink, TComm* target, uint32_t session) : Poster(sink, target, session) {}

    HANDLE PortHandle = INVALID_HANDLE_VALUE;
    HANDLE StopEvent = nullptr; // manual reset: signalled once, never reset
    // Auto reset: the read time-outs have changed, so the reader looks again when the block in
    // hand ends.
    HANDLE TimeoutsChanged = nullptr;
    // IgnoreNullChar: the driver's own work, which not every driver does (Wine's does not).
    std::atomic<bool> IgnoreNull{false};
    TCommPoster Poster;
    TReplyRuleSlot Rules;

    bool StopSignalled() const { return WaitForSingleObject(StopEvent, 0) == WAIT_OBJECT_0; }
    void SetReadTimeouts(const TReadTimeouts& timeouts) {
        std::lock_guard<std::mutex> hold(TimeoutsLock);
        Timeouts = timeouts;
    }
    TReadTimeouts ReadTimeouts() {
        std::lock_guard<std::mutex> hold(TimeoutsLock);
        return Timeouts;
    }
    // The rule for a failed I/O call: a handle that is no longer valid ends the thread quietly
    // (the port was closed under it), and so does anything during a stop; any other failure
    // means the device has gone, and posts the hang-up. Returns false: the thread ends.
    bool Fail(DWORD error);

private:
    std::mutex TimeoutsLock;
    TReadTimeouts Timeouts;
};

// A thread created suspended, so that its priority is set before it runs, and started later.
// Joining resumes a thread that was never started: it sees the stop signal at once and ends.
class TCommThread {
public:
    TCommThread(const TCommThread&) = delete;
    TCommThread& operator=(const TCommThread&) = delete;
    void Start();
    void Join();

protected:
    TCommThread() = default;
    ~TCommThread() { Join(); }
    // Throws std::runtime_error with the system's reason.
    void CreateSuspended(LPTHREAD_START_ROUTINE body, void* self, int priority);

private:
    HANDLE Thread = nullptr;
    bool Started = false;
};

// How soon after bytes stop coming the driver ends a read (the time-outs TComm sets).
constexpr std::chrono::milliseconds DriverIntervalMs{1};

// The reader asks the driver for reads that end a moment after bytes stop coming, and ends
// blocks itself by the owner's time-outs, as every platform does (TReceiver). So a read is
// never cancelled while it may hold bytes: a driver that buffers its I/O reports a cancelled
// read's count but never copies its bytes.
class TReadThread : public TCommThread {
public:
    explicit TReadThread(TPortShared& shared) : S(&shared), Receiver(shared.Poster, shared.Rules) {}
    ~TReadThread() { Join(); }
    void Create() { CreateSuspended(&Run, this, THREAD_PRIORITY_HIGHEST); }

private:
    static DWORD WINAPI Run(void* self);
    void Execute();
    bool SetupReadEvent();
    bool HandleReadEvent();
    bool HandleReadData(DWORD count);
    bool ReadFailed(DWORD error);
    bool ReadEmpty();
    DWORD WaitMs();
    bool EndBlockByTimeouts();
    bool SetupCommEvent();
    bool HandleCommEvent(bool completedAsynchronously);
    bool LineEventsRefused(DWORD error);
    bool ReportReceived(bool freshBlock, DWORD& failure);
    bool ReportLineErrors(DWORD& failure);
    bool Fail(DWORD error);
    void CancelOutstanding();

    TPortShared* const S;
    TReceiver Receiver;
    DWORD Asked = 0; // what the read waiting asked for
    OVERLAPPED ReadRecord{};
    OVERLAPPED EventRecord{};
    uint8_t Buffer[2048];
    DWORD EventWord = 0;
    DWORD EventMask = 0;
    bool ReadPending = false;
    bool EventPending = false;
    bool LineEvents = true; // false once the driver has refused to wait for line events
    int EmptyReads = 0;     // reads in a row that ended with nothing
};

class TWriteThread final : public TCommThread, private TWriterSteps {
public:
    explicit TWriteThread(TPortShared& shared);
    ~TWriteThread();
    void Create() { CreateSuspended(&Run, this, THREAD_PRIORITY_ABOVE_NORMAL); }
    // GUI thread: queues a block of count bytes (and one zero byte); false once the writer
    // has ended, and then the block stays with the caller.
    bool PostWrite(std::unique_ptr<uint8_t[]>& block, uint16_t count);

private:
    static DWORD WINAPI Run(void* self);
    void Execute();
    bool HandleWriteData(const uint8_t* block, size_t count) override;
    TLine Line() override;
    TWait WaitUntilDrained() override;
    TWait WaitForWork() override { return WaitForWake(INFINITE); }
    bool StopSignalled() override { return S->StopSignalled(); }
    TWait WaitForWake(DWORD ms);

    TPortShared* const S;
    HANDLE WakeEvent = nullptr; // auto reset, signalled by each post
    OVERLAPPED Record{};
    TWriteQueue Queue;
};

} // namespace orv
