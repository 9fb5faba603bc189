#include "serial/comm_threads_win32.h"

#include "serial/port_name_win32.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace orv {

namespace {

// Line events the reader waits for: a byte received, carrier detect changed, a line error,
// the ring indicator. Without the two modem lines, for drivers that have none.
constexpr DWORD AllLineEvents = EV_RXCHAR | EV_RLSD | EV_ERR | EV_RING;
constexpr DWORD DataLineEvents = EV_RXCHAR | EV_ERR;

// A pending operation ends before its record and buffer go: cancelled, and waited for (the
// system writes the result into the record). Wine misses a cancel that comes while it is
// working on the operation, and a write to a line that takes nothing then never ends: the
// cancel is repeated until the operation has ended. What it moved is not asked: a buffering
// driver reports the count of a cancelled read without having copied its bytes.
void CancelAndWait(HANDLE port, OVERLAPPED& record) {
    do
        CancelIoEx(port, &record);
    while (WaitForSingleObject(record.hEvent, 100) == WAIT_TIMEOUT);
}

// Windows ends an operation by its time-out successfully, with what it moved; Wine reports the
// time-out as an error (ERROR_TIMEOUT), which must not count as a vanished device.
bool Finished(bool done) {
    return done || GetLastError() == ERROR_TIMEOUT;
}

// Windows resets a record's event when an operation starts; Wine does not for every call, so
// each start resets it itself and a signalled event always means "this one has ended".
void Arm(OVERLAPPED& record) {
    const HANDLE event = record.hEvent;
    record = OVERLAPPED{};
    record.hEvent = event;
    ResetEvent(event);
}

} // namespace

bool TPortShared::Fail(DWORD error) {
    if (error != ERROR_INVALID_HANDLE && !StopSignalled())
        Poster.PostHangupCall();
    return false;
}

// ---------------------------------------------------------------------------------------------
// Thread base

void TCommThread::CreateSuspended(LPTHREAD_START_ROUTINE body, void* self, int priority) {
    Thread = CreateThread(nullptr, 0, body, self, CREATE_SUSPENDED, nullptr);
    if (!Thread)
        throw std::runtime_error(SystemMessage(GetLastError()));
    // A priority the system refuses leaves the normal one: never a failure.
    (void)SetThreadPriority(Thread, priority);
}

void TCommThread::Start() {
    if (ResumeThread(Thread) == DWORD(-1))
        throw std::runtime_error(SystemMessage(GetLastError()));
    Started = true;
}

void TCommThread::Join() {
    if (!Thread)
        return;
    if (!Started)
        ResumeThread(Thread);
    WaitForSingleObject(Thread, INFINITE);
    CloseHandle(Thread);
    Thread = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Reader

DWORD WINAPI TReadThread::Run(void* self) {
    static_cast<TReadThread*>(self)->Execute();
    return 0;
}

void TReadThread::Execute() {
    // Not signalled until an operation has ended: a wait never takes a record for ended before
    // anything was started on it.
    ReadRecord.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EventRecord.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool running = ReadRecord.hEvent && EventRecord.hEvent;
    if (!running) {
        S->Poster.PostHangupCall();
    } else {
        // A port that cannot tell its modem lines cannot be waited on for line events either
        // where the driver reads those lines for every wait (Wine, on a pseudo-terminal).
        DWORD modemLines = 0;
        LineEvents = GetCommModemStatus(S->PortHandle, &modemLines);
        EventMask = AllLineEvents;
        if (LineEvents && !SetCommMask(S->PortHandle, EventMask)) {
            const DWORD error = GetLastError();
            running = LineEventsRefused(error) || Fail(error);
        }
        running = running && SetupCommEvent() && SetupReadEvent();
    }
    // The order decides when several are signalled: a stop before line events, line events
    // before read completions, and new time-outs before a read that completed meanwhile, so
    // the block in hand ends by them first.
    const HANDLE waitList[] = {S->StopEvent, EventRecord.hEvent, S->TimeoutsChanged,
                               ReadRecord.hEvent};
    while (running) {
        // A block whose time has come goes before anything that came after it is looked at.
        const DWORD waitMs = WaitMs();
        if (waitMs == 0) {
            running = EndBlockByTimeouts();
            continue;
        }
        switch (WaitForMultipleObjects(4, waitList, FALSE, waitMs)) {
        case WAIT_OBJECT_0:
            running = false;
            break;
        case WAIT_OBJECT_0 + 1:
            running = HandleCommEvent(true) && SetupCommEvent();
            break;
        case WAIT_OBJECT_0 + 2:
        case WAIT_TIMEOUT:
            running = EndBlockByTimeouts();
            break;
        case WAIT_OBJECT_0 + 3:
            running = HandleReadEvent() && SetupReadEvent();
            break;
        default:
            running = Fail(GetLastError());
            break;
        }
    }
    CancelOutstanding();
    PurgeComm(S->PortHandle, PURGE_RXABORT | PURGE_RXCLEAR);
    if (ReadRecord.hEvent)
        CloseHandle(ReadRecord.hEvent);
    if (EventRecord.hEvent)
        CloseHandle(EventRecord.hEvent);
}

// Only at the end: what a cancelled read brought is not taken.
void TReadThread::CancelOutstanding() {
    if (EventPending) {
        // Changing the mask is what ends a line-event wait on every driver.
        SetCommMask(S->PortHandle, 0);
        CancelAndWait(S->PortHandle, EventRecord);
        EventPending = false;
    }
    if (ReadPending) {
        CancelAndWait(S->PortHandle, ReadRecord);
        ReadPending = false;
    }
}

// The block in hand goes out before the hang-up: the last reply before a device vanished
// still arrives.
bool TReadThread::Fail(DWORD error) {
    if (error != ERROR_INVALID_HANDLE && !S->StopSignalled() && !Receiver.Flush())
        return false; // that failure has posted the hang-up
    return S->Fail(error);
}

// Issues reads until one is pending; those that complete at once are handed over first. With
// nothing in hand a read asks for one byte, so that the first byte of a block is judged as it
// comes, not when the line next pauses.
bool TReadThread::SetupReadEvent() {
    for (;;) {
        if (S->StopSignalled())
            return false;
        Arm(ReadRecord);
        DWORD count = 0;
        Asked = Receiver.Idle() ? 1 : sizeof Buffer;
        if (ReadFile(S->PortHandle, Buffer, Asked, &count, &ReadRecord)) {
            if (!HandleReadData(count))
                return false;
            continue;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            ReadPending = true;
            return true;
        }
        if (!ReadFailed(error))
            return false;
    }
}

bool TReadThread::HandleReadEvent() {
    ReadPending = false;
    DWORD count = 0;
    if (!GetOverlappedResult(S->PortHandle, &ReadRecord, &count, FALSE))
        return ReadFailed(GetLastError());
    return HandleReadData(count);
}

// A read that did not succeed reports a count, but a driver that buffers its I/O copies the
// bytes into the caller's buffer only on success: nothing of Buffer is taken. Bytes the driver
// still holds come with the next read. A cancel that is not the stop (another program's purge)
// ends the read like a time-out (Wine reports that as an error): nothing came.
bool TReadThread::ReadFailed(DWORD error) {
    if ((error == ERROR_OPERATION_ABORTED || error == ERROR_TIMEOUT) && !S->StopSignalled())
        return ReadEmpty();
    return Fail(error);
}

// The time-outs the reader sets never end a read without a byte. A driver that does so again
// and again has gone, or ignores them: that is a hang-up, not a loop.
bool TReadThread::ReadEmpty() {
    constexpr int MostEmptyReads = 10;
    if (++EmptyReads >= MostEmptyReads)
        return Fail(ERROR_NOT_READY);
    return WaitForSingleObject(S->StopEvent, 10) == WAIT_TIMEOUT;
}

bool TReadThread::HandleReadData(DWORD count) {
    if (count == 0)
        return ReadEmpty();
    EmptyReads = 0;
    // A read that got less than it asked for ended the driver's interval after its last byte.
    const TClock::time_point now = TClock::now();
    const TClock::time_point lastByte = count < Asked ? now - DriverIntervalMs : now;
    const bool skipNul = S->IgnoreNull;
    if (skipNul)
        count = static_cast<DWORD>(std::remove(Buffer, Buffer + count, 0) - Buffer);
    DWORD failure = ERROR_SUCCESS;
    if (!ReportReceived(Receiver.Idle(), failure))
        return false;
    // Whether they may answer is judged as of the read's end: no sooner is it sure they came.
    if (!Receiver.Prepare(now) ||
        !Receiver.Take(Buffer, count, lastByte, S->ReadTimeouts(), skipNul))
        return false;
    return failure == ERROR_SUCCESS || Fail(failure);
}

// How long the reader may wait: for ever, unless a block is in hand, which the time-outs end.
DWORD TReadThread::WaitMs() {
    const TClock::time_point deadline = Receiver.Deadline(S->ReadTimeouts());
    if (deadline == TClock::time_point::max())
        return INFINITE;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count();
    return static_cast<DWORD>(std::clamp<int64_t>(left, 0, INFINITE - 1));
}

// The block in hand goes once its time has come; the read waiting for more stays.
bool TReadThread::EndBlockByTimeouts() {
    if (!Receiver.Refresh())
        return false;
    const TClock::time_point now = TClock::now();
    return Receiver.Deadline(S->ReadTimeouts()) > now || Receiver.Expire(now);
}

// Bytes have been read. When no line-event reports come, the line errors are reported here,
// as the line-event path would have, ahead of the data, and the received bytes once a block
// (freshBlock: they begin one). failure as for ReportLineErrors; false when a report could not
// be posted.
bool TReadThread::ReportReceived(bool freshBlock, DWORD& failure) {
    if (LineEvents)
        return true;
    if (!ReportLineErrors(failure))
        return false;
    return failure != ERROR_SUCCESS || !freshBlock ||
           S->Poster.Post(MSG_MODEM_STATE_CHANGE, ME_RXCHAR);
}

// Reads and clears the line-error flags and reports any. failure is the system's error when
// the port did not answer. False when the report could not be posted.
bool TReadThread::ReportLineErrors(DWORD& failure) {
    DWORD flags = 0;
    failure = ClearCommError(S->PortHandle, &flags, nullptr) ? ERROR_SUCCESS : GetLastError();
    return failure != ERROR_SUCCESS || flags == 0 || S->Poster.Post(MSG_RECEIVE_ERROR, flags);
}

// Issues line-event waits until one is pending.
bool TReadThread::SetupCommEvent() {
    while (LineEvents) {
        if (S->StopSignalled())
            return false;
        Arm(EventRecord);
        EventWord = 0;
        if (WaitCommEvent(S->PortHandle, &EventWord, &EventRecord)) {
            if (!HandleCommEvent(false))
                return false;
            continue;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            EventPending = true;
            return true;
        }
        if (!LineEventsRefused(error))
            return Fail(error);
    }
    return true;
}

bool TReadThread::HandleCommEvent(bool completedAsynchronously) {
    if (completedAsynchronously) {
        EventPending = false;
        DWORD unused = 0;
        if (!GetOverlappedResult(S->PortHandle, &EventRecord, &unused, FALSE)) {
            const DWORD error = GetLastError();
            return LineEventsRefused(error) || Fail(error);
        }
    }
    // A wait that ends with nothing in it has not waited at all.
    if (EventWord == 0)
        return LineEventsRefused(ERROR_NOT_SUPPORTED);
    if (EventWord & EV_ERR) {
        DWORD flags = 0;
        if (!ClearCommError(S->PortHandle, &flags, nullptr))
            return Fail(GetLastError());
        if (!S->Poster.Post(MSG_RECEIVE_ERROR, flags))
            return false;
    }
    uint32_t word = 0;
    if (EventWord & EV_RLSD)
        word |= ME_RLSD;
    if (EventWord & EV_RING)
        word |= ME_RING;
    if (EventWord & EV_RXCHAR)
        word |= ME_RXCHAR;
    return word == 0 || S->Poster.Post(MSG_MODEM_STATE_CHANGE, word);
}

// Some drivers cannot wait for the modem lines, or for line events at all: a virtual port
// without modem lines refuses carrier and ring, and Wine on a pseudo-terminal cancels every
// wait at once. The port still carries data, so the reader goes on with its reads alone;
// the received bytes and the line errors are then reported with each read. A wait cancelled
// on a port that no longer answers is a vanished device, as is everything else.
bool TReadThread::LineEventsRefused(DWORD error) {
    if (S->StopSignalled())
        return false;
    if (error == ERROR_NOT_SUPPORTED && EventMask == AllLineEvents &&
        SetCommMask(S->PortHandle, DataLineEvents)) {
        EventMask = DataLineEvents;
        return true;
    }
    DWORD failure = ERROR_SUCCESS;
    if (error == ERROR_OPERATION_ABORTED && !ReportLineErrors(failure))
        return false;
    if (error != ERROR_NOT_SUPPORTED && (error != ERROR_OPERATION_ABORTED || failure))
        return false;
    LineEvents = false;
    SetCommMask(S->PortHandle, 0);
    ResetEvent(EventRecord.hEvent);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Writer

TWriteThread::TWriteThread(TPortShared& shared) : S(&shared) {
    WakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!WakeEvent)
        throw std::runtime_error(SystemMessage(GetLastError()));
}

TWriteThread::~TWriteThread() {
    Join();
    Queue.End();
    CloseHandle(WakeEvent);
}

DWORD WINAPI TWriteThread::Run(void* self) {
    static_cast<TWriteThread*>(self)->Execute();
    return 0;
}

bool TWriteThread::PostWrite(std::unique_ptr<uint8_t[]>& block, uint16_t count) {
    if (!Queue.Post(block, count))
        return false;
    SetEvent(WakeEvent);
    return true;
}

void TWriteThread::Execute() {
    Record.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (Record.hEvent)
        ServeWriteQueue(*this, Queue, S->Poster, S->Rules);
    else
        S->Poster.PostHangupCall();
    Queue.End();
    PurgeComm(S->PortHandle, PURGE_TXABORT | PURGE_TXCLEAR);
    if (Record.hEvent)
        CloseHandle(Record.hEvent);
}

// Until the stop signal, a new request (NewRequest), or ms have passed (Quiet).
TWriteThread::TWait TWriteThread::WaitForWake(DWORD ms) {
    const HANDLE waitList[] = {S->StopEvent, WakeEvent};
    switch (WaitForMultipleObjects(2, waitList, FALSE, ms)) {
    case WAIT_OBJECT_0:
        return TWait::End;
    case WAIT_OBJECT_0 + 1:
        return TWait::NewRequest;
    case WAIT_TIMEOUT:
        return TWait::Quiet;
    default:
        S->Fail(GetLastError());
        return TWait::End;
    }
}

bool TWriteThread::HandleWriteData(const uint8_t* block, size_t size) {
    const DWORD count = static_cast<DWORD>(size); // at most 65535
    DWORD offset = 0;
    while (offset < count) {
        // A driver that keeps taking parts, or nothing, never makes the writer wait below: look
        // here too.
        if (S->StopSignalled())
            return false;
        Arm(Record);
        DWORD written = 0;
        bool done = WriteFile(S->PortHandle, block + offset, count - offset, &written, &Record);
        if (!done && GetLastError() == ERROR_IO_PENDING) {
            const HANDLE waitList[] = {S->StopEvent, Record.hEvent};
            const DWORD woke = WaitForMultipleObjects(2, waitList, FALSE, INFINITE);
            if (woke != WAIT_OBJECT_0 + 1) {
                // Stopped: the rest of the block and the queue are dropped, with no hang-up.
                const DWORD failure = woke == WAIT_OBJECT_0 ? ERROR_SUCCESS : GetLastError();
                CancelAndWait(S->PortHandle, Record);
                return failure == ERROR_SUCCESS ? false : S->Fail(failure);
            }
            done = GetOverlappedResult(S->PortHandle, &Record, &written, TRUE);
        }
        if (!Finished(done))
            return S->Fail(GetLastError());
        offset += written;
    }
    return true;
}

TWriterSteps::TLine TWriteThread::Line() {
    DCB line{};
    line.DCBlength = sizeof line;
    if (!GetCommState(S->PortHandle, &line))
        return {};
    return {line.BaudRate,
            CharacterBits(line.ByteSize, line.Parity != NOPARITY, line.StopBits != ONESTOPBIT)};
}

// The notice that the writer has run out of work is given once the driver has sent everything,
// so that a reply time-out started by it runs from the end of transmission. The wait also ends
// for the stop signal and for a new request: a line held by flow control never holds up either.
// Reading the output queue also reads and clears the line-error flags: any found here are
// reported, so that the reader's own look never misses them. A driver that cannot tell counts
// as drained: if the device has gone, the next write says so.
TWriteThread::TWait TWriteThread::WaitUntilDrained() {
    TDrainPacer pacer;
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(S->PortHandle, &errors, &status))
            return TWait::Quiet;
        if (errors && !S->Poster.Post(MSG_RECEIVE_ERROR, errors))
            return TWait::End;
        if (status.cbOutQue == 0)
            return TWait::Quiet;
        const TLine line = Line();
        const int ms = pacer.NextWaitMs(status.cbOutQue, line.Baud, line.CharacterBits);
        if (ms < 0)
            return TWait::Quiet;
        const TWait woke = WaitForWake(static_cast<DWORD>(ms));
        if (woke != TWait::Quiet)
            return woke;
    }
}

} // namespace orv
