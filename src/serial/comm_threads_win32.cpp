#include "serial/comm_threads_win32.h"

#include "serial/port_name_win32.h"

#include <algorithm>
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
// cancel is repeated until the operation has ended. Returns the operation's result, with the
// count it moved.
bool CancelAndWait(HANDLE port, OVERLAPPED& record, DWORD& count) {
    do
        CancelIoEx(port, &record);
    while (WaitForSingleObject(record.hEvent, 100) == WAIT_TIMEOUT);
    count = 0;
    return GetOverlappedResult(port, &record, &count, FALSE);
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
    ReadRecord.hEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    EventRecord.hEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
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
            running = LineEventsRefused(error) || S->Fail(error);
        }
        running = running && SetupCommEvent() && SetupReadEvent();
    }
    // The order decides when several are signalled: a stop before line events, line events
    // before read completions, and new time-outs before a read that completed meanwhile, so
    // bytes that came after the change are judged by it.
    const HANDLE waitList[] = {S->StopEvent, EventRecord.hEvent, S->TimeoutsChanged,
                               ReadRecord.hEvent, S->RuleChanged};
    while (running) {
        switch (WaitForMultipleObjects(5, waitList, FALSE, WaitMs())) {
        case WAIT_OBJECT_0:
            running = false;
            break;
        case WAIT_OBJECT_0 + 1:
            running = HandleCommEvent(true) && SetupCommEvent();
            break;
        case WAIT_OBJECT_0 + 2:
            running = RestartRead();
            break;
        case WAIT_OBJECT_0 + 3:
            running = HandleReadEvent() && SetupReadEvent();
            break;
        case WAIT_OBJECT_0 + 4:
            running = RuleChanged();
            break;
        case WAIT_TIMEOUT:
            running = EndBlockByInterval();
            break;
        default:
            running = S->Fail(GetLastError());
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

void TReadThread::CancelOutstanding() {
    DWORD unused = 0;
    if (EventPending) {
        // Changing the mask is what ends a line-event wait on every driver.
        SetCommMask(S->PortHandle, 0);
        CancelAndWait(S->PortHandle, EventRecord, unused);
        EventPending = false;
    }
    if (ReadPending) {
        CancelAndWait(S->PortHandle, ReadRecord, unused);
        ReadPending = false;
    }
}

// Issues reads until one is pending; those that complete at once are handed over first.
bool TReadThread::SetupReadEvent() {
    for (;;) {
        if (LastReadEmpty) {
            // Time-outs that end a read without a byte: a short pause keeps those that return
            // at once from spinning.
            if (WaitForSingleObject(S->StopEvent, 10) != WAIT_TIMEOUT)
                return false;
        } else if (S->StopSignalled()) {
            return false;
        }
        if (!TakeUpRule())
            return false;
        Asked = ReadSize(Cutter.Active());
        Arm(ReadRecord);
        DWORD count = 0;
        const bool done = ReadFile(S->PortHandle, Buffer, Asked, &count, &ReadRecord);
        if (!done && GetLastError() == ERROR_IO_PENDING) {
            ReadPending = true;
            return true;
        }
        if (!Finished(done))
            return S->Fail(GetLastError());
        if (!HandleReadData(count, count < Asked))
            return false;
    }
}

// The bytes a read brought go out before anything its failure says: the last reply before a
// device vanished still arrives, ahead of the hang-up.
bool TReadThread::HandleReadEvent() {
    ReadPending = false;
    DWORD count = 0;
    const bool done = Finished(GetOverlappedResult(S->PortHandle, &ReadRecord, &count, FALSE));
    const DWORD error = done ? ERROR_SUCCESS : GetLastError();
    if (!HandleReadData(count, count < Asked))
        return false;
    return done || S->Fail(error);
}

// The time-outs changed while a read was waiting: it ends now, with what it has, and the next
// read runs under the new ones.
bool TReadThread::RestartRead() {
    return !ReadPending || EndPendingRead(false);
}

// cut: the read interval ended the read, and with it the block.
bool TReadThread::HandleReadData(DWORD count, bool cut) {
    LastReadEmpty = count == 0;
    if (S->IgnoreNull)
        count = static_cast<DWORD>(std::remove(Buffer, Buffer + count, 0) - Buffer);
    if (!TakeUpRule())
        return false;
    if (Cutter.Active())
        return HandleRuledData(count, cut);
    if (In.Length > 0)
        return HandleInHand(count, cut);
    if (count == 0)
        return true;
    DWORD failure = ERROR_SUCCESS;
    if (!ReportReceived(failure) || !S->Poster.PostData(Buffer, count))
        return false;
    return failure == ERROR_SUCCESS || S->Fail(failure);
}

bool TReadThread::HandleRuledData(DWORD count, bool cut) {
    DWORD failure = ERROR_SUCCESS;
    if (count > 0) {
        if (!ReportReceived(failure))
            return false;
        // The first bytes of a block are judged as they come: the request in flight may have
        // left the line only after them.
        const bool fed = In.Length > 0 || Cutter.MayAnswer(OutputIdle())
                             ? Cutter.Feed(In, Buffer, count, S->Poster)
                             : Cutter.DropTail(In, Buffer, count, S->Poster);
        if (!fed)
            return false;
        LastByteAt = GetTickCount64();
    }
    if (cut && !In.Post(S->Poster))
        return false;
    return failure == ERROR_SUCCESS || S->Fail(failure);
}

// A block in hand with no rule (a tail, or bytes gathered under a rule the owner has taken
// back) goes on while bytes follow within the read interval.
bool TReadThread::HandleInHand(DWORD count, bool cut) {
    const DWORD interval = IntervalMs();
    const bool quiet = interval != 0 && GetTickCount64() - LastByteAt >= interval;
    if (count > 0 && (quiet || (In.Tail && Cutter.TailOver(OutputIdle()))) && !In.Post(S->Poster))
        return false;
    DWORD failure = ERROR_SUCCESS;
    if (count > 0 && !ReportReceived(failure))
        return false;
    if (!In.Append(Buffer, count, S->Poster))
        return false;
    if (count > 0)
        LastByteAt = GetTickCount64();
    if (cut && !In.Post(S->Poster))
        return false;
    return failure == ERROR_SUCCESS || S->Fail(failure);
}

// Takes up the rule the owner has set; bytes in hand when a new one comes are out of place.
bool TReadThread::TakeUpRule() {
    return !Cutter.Refresh(In.Length) || Cutter.DropTail(In, nullptr, 0, S->Poster);
}

// A new rule may want a read of another size than the one waiting (the first rule after none
// wants a byte, not a block): that read ends with what it has brought, and the next one is
// sized for the rule.
bool TReadThread::RuleChanged() {
    const bool ruled = S->Rules.Current().Rule.has_value();
    if (!ReadPending || ReadSize(ruled) == Asked)
        return TakeUpRule();
    // What the read has brought may be the reply already: it is judged as if it came now.
    return EndPendingRead(false);
}

DWORD TReadThread::ReadSize(bool ruled) const {
    if (ruled && In.Length > 0 && !In.Tail)
        return static_cast<DWORD>(
            std::min(Cutter.Missing(In.Bytes, In.Length), sizeof In.Bytes - In.Length));
    return ruled || In.Length > 0 ? 1 : sizeof Buffer;
}

// The read interval; 0 when none is set.
DWORD TReadThread::IntervalMs() const {
    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(S->PortHandle, &timeouts))
        return 0;
    return timeouts.ReadIntervalTimeout;
}

// How long the reader may wait: for ever, unless a block is in hand, which the read interval
// ends once that long has passed since it last grew.
DWORD TReadThread::WaitMs() const {
    const DWORD interval = In.Length == 0 ? 0 : IntervalMs();
    if (interval == 0)
        return INFINITE;
    const ULONGLONG due = LastByteAt + interval;
    const ULONGLONG now = GetTickCount64();
    return interval == MAXDWORD || due <= now ? 0 : static_cast<DWORD>(due - now);
}

// The line has been quiet for the read interval with a block in hand: the read waiting for the
// rest ends with what it has, and the block goes as it is.
bool TReadThread::EndBlockByInterval() {
    if (!ReadPending)
        return In.Post(S->Poster) && SetupReadEvent();
    return EndPendingRead(true);
}

// Cancels the waiting read, hands over what it brought (cut: the block ends with it) and
// issues the next. A cancelled read is not a failure.
bool TReadThread::EndPendingRead(bool cut) {
    DWORD count = 0;
    const bool done = Finished(CancelAndWait(S->PortHandle, ReadRecord, count));
    const DWORD error = done ? ERROR_SUCCESS : GetLastError();
    ReadPending = false;
    if (!HandleReadData(count, cut))
        return false;
    if (!done && error != ERROR_OPERATION_ABORTED)
        return S->Fail(error);
    LastReadEmpty = false;
    return SetupReadEvent();
}

// Whether everything written has left the driver. The look also reads and clears the
// line-error flags: any found are reported.
bool TReadThread::OutputIdle() {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(S->PortHandle, &errors, &status))
        return true; // the port has gone: its next call says so
    if (errors)
        (void)S->Poster.Post(MSG_RECEIVE_ERROR, errors);
    return status.cbOutQue == 0;
}

// Bytes have been read. When no line-event reports come, the line errors and the received
// bytes are reported here, as the line-event path would have, ahead of the data. failure as
// for ReportLineErrors; false when a report could not be posted.
bool TReadThread::ReportReceived(DWORD& failure) {
    if (LineEvents)
        return true;
    if (!ReportLineErrors(failure))
        return false;
    return failure != ERROR_SUCCESS || S->Poster.Post(MSG_MODEM_STATE_CHANGE, ME_RXCHAR);
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
            return S->Fail(error);
    }
    return true;
}

bool TReadThread::HandleCommEvent(bool completedAsynchronously) {
    if (completedAsynchronously) {
        EventPending = false;
        DWORD unused = 0;
        if (!GetOverlappedResult(S->PortHandle, &EventRecord, &unused, FALSE)) {
            const DWORD error = GetLastError();
            return LineEventsRefused(error) || S->Fail(error);
        }
    }
    // A wait that ends with nothing in it has not waited at all.
    if (EventWord == 0)
        return LineEventsRefused(ERROR_NOT_SUPPORTED);
    if (EventWord & EV_ERR) {
        DWORD flags = 0;
        if (!ClearCommError(S->PortHandle, &flags, nullptr))
            return S->Fail(GetLastError());
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
    Record.hEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
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
        // A driver that keeps taking parts never makes the writer wait below: look here too.
        if (offset > 0 && S->StopSignalled())
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
                CancelAndWait(S->PortHandle, Record, written);
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

// The notice that the writer has run out of work is given once the driver has sent everything,
// so that a reply time-out started by it runs from the end of transmission. The wait also ends
// for the stop signal and for a new request: a line held by flow control never holds up either.
// Reading the output queue also reads and clears the line-error flags: any found here are
// reported, so that the reader's own look never misses them.
TWriteThread::TWait TWriteThread::WaitUntilDrained() {
    TDrainPacer pacer;
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(S->PortHandle, &errors, &status)) {
            S->Fail(GetLastError());
            return TWait::End;
        }
        if (errors && !S->Poster.Post(MSG_RECEIVE_ERROR, errors))
            return TWait::End;
        if (status.cbOutQue == 0)
            return TWait::Quiet;
        DCB line{};
        line.DCBlength = sizeof line;
        uint32_t baud = 9600, frameBits = 10;
        if (GetCommState(S->PortHandle, &line)) {
            baud = line.BaudRate;
            frameBits = 1 + line.ByteSize + (line.Parity == NOPARITY ? 0 : 1) +
                        (line.StopBits == ONESTOPBIT ? 1 : 2);
        }
        const TWait woke = WaitForWake(pacer.NextWaitMs(status.cbOutQue, baud, frameBits));
        if (woke != TWait::Quiet)
            return woke;
    }
}

} // namespace orv
