// What TComm is on every platform: opening and closing in order, the write request, and the
// notifications on both sides. The port and its threads are in the platform file.

#include "serial/comm.h"

#include "serial/comm_private.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace orv {

namespace {

// Calls a copy: the handler may replace itself.
template <class THandler, class... TArgs>
void Raise(const THandler& handler, TArgs... args) {
    if (handler) {
        const THandler copy = handler;
        copy(args...);
    }
}

} // namespace

TComm::TComm(ICommSink* sink) : NotifyWindow(sink) {}

TComm::~TComm() {
    StopComm();
    if (NotifyWindow)
        NotifyWindow->Discard(this);
}

size_t TReplyRule::Missing(const uint8_t* block, size_t length) const {
    const bool twoForms = LeadByte >= 0;
    if (length == 0) // either form may come: no more than the shorter one needs
        return std::max<size_t>(1, twoForms ? std::min(Length, LeadLength) : Length);
    const bool lead = twoForms && block[0] == LeadByte;
    const size_t least = lead ? LeadLength : Length;
    const int last = lead ? LeadTerminator : Terminator;
    if (length < least)
        return least - length;
    return last >= 0 && block[length - 1] != last ? 1 : 0;
}

void TComm::StartComm() {
    if (IsOpen())
        throw ECommsError("This serial port already opened");
    ++Session;
    WritesPosted = 0;
    OpenPort();
    try {
        CreateStopEvent();
    } catch (const std::exception& e) {
        AbandonStart("Unable to create event", e);
    }
    try {
        CreateReadThread();
    } catch (const std::exception& e) {
        AbandonStart("Unable to create read thread", e);
    }
    try {
        CreateWriteThread();
    } catch (const std::exception& e) {
        AbandonStart("Unable to create write thread", e);
    }
    try {
        StartReadThread();
    } catch (const std::exception& e) {
        AbandonStart("Unable to create read thread", e);
    }
    try {
        StartWriteThread();
    } catch (const std::exception& e) {
        AbandonStart("Unable to create write thread", e);
    }
}

// A failed step leaves nothing behind: a reader already running is shut down, then the stop
// signal and the port are released.
void TComm::AbandonStart(const char* message, const std::exception& cause) {
    const std::string detail = cause.what();
    CloseReadThread();
    CloseWriteThread();
    ClosePort();
    throw ECommsError(message, detail);
}

void TComm::StopComm() {
    if (!IsOpen())
        return;
    CloseReadThread();
    CloseWriteThread();
    ClosePort();
}

void TComm::ClosePort() {
    Port.reset();
    FPortPath.clear();
}

bool TComm::WriteCommData(const uint8_t* data, uint16_t count) {
    if (!IsOpen() || count == 0 || data == nullptr)
        return false;
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[size_t(count) + 1]());
    if (!block)
        return false;
    std::memcpy(block.get(), data, count);
    if (!PostWriteRequest(block, count))
        return false;
    ++WritesPosted;
    return true;
}

uint32_t TComm::QuietMs() {
    TReplyRuleSlot* slot = IsOpen() ? RuleSlot() : nullptr;
    if (!slot)
        return UINT32_MAX;
    const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - slot->HeardLast());
    return static_cast<uint32_t>(std::clamp<int64_t>(quiet.count(), 0, UINT32_MAX));
}

void TComm::SetReplyRule(const std::optional<TReplyRule>& rule) {
    if (TReplyRuleSlot* slot = IsOpen() ? RuleSlot() : nullptr)
        slot->Set(rule, WritesPosted + 1);
}

void TComm::Deliver(CommNotification& note) {
    switch (note.Message) {
    case MSG_RECEIVE_DATA:
        if (note.Block)
            ReceiveData(note.Block.get(), static_cast<uint16_t>(note.Count & 0xFFFF));
        note.Block.reset();
        break;
    case MSG_RECEIVE_ERROR:
        ReceiveError(note.Value);
        break;
    case MSG_REQUEST_HANGUP:
        // A hang-up of an earlier opening speaks of a port that is closed already; raised after
        // a reopen, it would declare the new, working line dead.
        if (note.Session == Session)
            RequestHangup();
        break;
    case MSG_MODEM_STATE_CHANGE:
        ModemStateChange(note.Value);
        break;
    case MSG_SEND_DATA_EMPTY:
        _SendDataEmpty();
        break;
    case MSG_REPLY_TAIL:
        if (note.Block)
            ReplyTail(note.Block.get(), static_cast<uint16_t>(note.Count & 0xFFFF));
        note.Block.reset();
        break;
    case MSG_LINE_ECHO:
        LineEcho();
        break;
    default:
        break;
    }
}

void TComm::ReceiveData(const uint8_t* block, uint16_t count) {
    Raise(OnReceiveData, this, block, count);
}

void TComm::ReceiveError(uint32_t flags) {
    Raise(OnReceiveError, this, flags);
}

void TComm::ModemStateChange(uint32_t word) {
    Raise(OnModemStateChange, this, word);
}

void TComm::RequestHangup() {
    Raise(OnRequestHangup, this);
}

void TComm::_SendDataEmpty() {
    Raise(OnSendDataEmpty, this);
}

void TComm::ReplyTail(const uint8_t* block, uint16_t count) {
    Raise(OnReplyTail, this, block, count);
}

void TComm::LineEcho() {
    Raise(OnLineEcho, this);
}

// ---------------------------------------------------------------------------------------------
// The worker threads' side

bool TCommPoster::Send(CommNotification& note) {
    note.Target = Target;
    note.Session = Session;
    if (Sink->Post(note))
        return true;
    PostHangupCall();
    return false; // note still owns its block and releases it
}

bool TCommPoster::Post(uint32_t message, uint32_t value) {
    CommNotification note;
    note.Message = message;
    note.Value = value;
    return Send(note);
}

bool TCommPoster::PostData(const uint8_t* bytes, size_t count, uint32_t message) {
    CommNotification note;
    note.Message = message;
    note.Count = static_cast<uint32_t>(count);
    note.Block.reset(new (std::nothrow) uint8_t[count + 1]());
    if (!note.Block) {
        PostHangupCall();
        return false;
    }
    std::memcpy(note.Block.get(), bytes, count);
    return Send(note);
}

void TCommPoster::PostHangupCall() {
    if (HangupPosted.exchange(true))
        return;
    CommNotification note;
    note.Message = MSG_REQUEST_HANGUP;
    note.Target = Target;
    note.Session = Session;
    (void)Sink->Post(note);
}

uint32_t CharacterBits(uint32_t dataBits, bool parity, bool moreThanOneStopBit) {
    return 1 + dataBits + (parity ? 1 : 0) + (moreThanOneStopBit ? 2 : 1);
}

TClock::duration WireTime(size_t count, uint32_t baud, uint32_t characterBits) {
    const uint64_t us = uint64_t(count) * characterBits * 1000000 / std::max(baud, 1u);
    return std::chrono::microseconds(us);
}

void TReplyRuleSlot::Set(const std::optional<TReplyRule>& rule, uint64_t write) {
    std::lock_guard<std::mutex> hold(Lock);
    if (FellBack)
        return;
    Now.Rule = rule;
    ++Now.Serial;
    Now.Write = write;
}

TClock::time_point TReplyRuleSlot::Starting(uint64_t write, const uint8_t* bytes, size_t count) {
    auto copy = std::make_shared<const std::vector<uint8_t>>(bytes, bytes + count);
    std::lock_guard<std::mutex> hold(Lock);
    Started = {write, std::move(copy)};
    return TClock::now();
}

void TReplyRuleSlot::Sent(uint64_t write, TClock::time_point leftAt) {
    std::lock_guard<std::mutex> hold(Lock);
    SentWrite = write;
    LeftAt = leftAt;
}

TReplyRuleSlot::TView TReplyRuleSlot::Current() {
    std::lock_guard<std::mutex> hold(Lock);
    return Now;
}

TReplyRuleSlot::TWrite TReplyRuleSlot::LastStarted() {
    std::lock_guard<std::mutex> hold(Lock);
    return Started;
}

// A write that a later one followed has ended before it, and its bytes were on their way.
bool TReplyRuleSlot::HasLeft(uint64_t write, TClock::time_point at) {
    std::lock_guard<std::mutex> hold(Lock);
    return SentWrite > write || (SentWrite == write && at >= LeftAt);
}

void TReplyRuleSlot::FallBack() {
    std::lock_guard<std::mutex> hold(Lock);
    FellBack = true;
    Now.Rule.reset();
}

bool TReplyCutter::Refresh(size_t inHand) {
    TReplyRuleSlot::TView now = Slot.Current();
    if (now.Serial == View.Serial)
        return false;
    View = now;
    Answered = false;
    return inHand > 0 && View.Rule.has_value();
}

bool TBlock::Post(TCommPoster& poster) {
    const size_t n = Length;
    const bool tail = Tail;
    Length = 0;
    Tail = false;
    return n == 0 || poster.PostData(Bytes, n, tail ? MSG_REPLY_TAIL : MSG_RECEIVE_DATA);
}

bool TBlock::Append(const uint8_t* bytes, size_t count, TCommPoster& poster) {
    for (size_t done = 0; done < count;) {
        const size_t take = std::min(count - done, sizeof Bytes - Length);
        std::memcpy(Bytes + Length, bytes + done, take);
        Length += take;
        done += take;
        const bool tail = Tail;
        if (Length == sizeof Bytes && !Post(poster))
            return false;
        Tail = tail;
    }
    return true;
}

bool TReplyCutter::Feed(TBlock& block, const uint8_t* bytes, size_t count, TCommPoster& poster) {
    size_t done = 0;
    while (done < count) {
        if (Answered)
            return DropTail(block, bytes + done, count - done, poster);
        const size_t take = std::min({View.Rule->Missing(block.Bytes, block.Length), count - done,
                                      sizeof block.Bytes - block.Length});
        std::memcpy(block.Bytes + block.Length, bytes + done, take);
        block.Length += take;
        done += take;
        const bool whole = View.Rule->Missing(block.Bytes, block.Length) == 0;
        if (whole || block.Length == sizeof block.Bytes) {
            if (!block.Post(poster))
                return false;
            Answered = whole;
        }
    }
    return true;
}

bool TReplyCutter::DropTail(TBlock& block, const uint8_t* bytes, size_t count,
                            TCommPoster& poster) {
    if (block.Length + count == 0)
        return true;
    Slot.FallBack();
    View.Rule.reset();
    TailUntil = Answered ? View.Write + 1 : View.Write;
    block.Tail = true;
    return block.Append(bytes, count, poster);
}

bool TReceiver::Refresh() {
    if (!Cutter.Refresh(In.Length + Held.size()))
        return true;
    // Bytes in hand when a new rule comes arrived before its request was posted.
    const std::vector<uint8_t> held = std::move(Held);
    Held.clear();
    Echo.reset();
    return Cutter.DropTail(In, held.data(), held.size(), Poster);
}

bool TReceiver::Prepare(TClock::time_point at) {
    if (!Refresh())
        return false;
    MayAnswer = !Cutter.Active() || Cutter.MayAnswer(at);
    TailOver = In.Tail && Cutter.TailOver(at);
    TReplyRuleSlot::TWrite last = Slot.LastStarted();
    if (last.Number == EchoWrite)
        return true;
    // A new write: the bytes held for the echo of an earlier one were not its echo.
    if (!(Held.empty() ? ReleaseHeld() : NoEcho()))
        return false;
    EchoWrite = last.Number;
    if (EchoLine != TEchoLine::Plain)
        Echo = std::move(last.Bytes);
    EchoAt = 0;
    return true;
}

bool TReceiver::NoEcho() {
    if (EchoLine == TEchoLine::Unknown)
        EchoLine = TEchoLine::Plain;
    return ReleaseHeld();
}

bool TReceiver::Take(const uint8_t* bytes, size_t count, TClock::time_point now,
                     const TReadTimeouts& t, bool skipNul) {
    if (count == 0)
        return true;
    Slot.Heard(now);
    if (TailOver && !In.Post(Poster))
        return false;
    TailOver = false;
    if (Idle()) {
        // A new block: the total time-out runs in whole periods from the end of the previous
        // one, like re-armed reads that completed empty. Capped at 49 days, far beyond any use,
        // to keep the clock arithmetic sound.
        const uint64_t total = std::min<uint64_t>(
            uint64_t(t.TotalMultiplier) * sizeof In.Bytes + t.TotalConstant, UINT32_MAX);
        if (total > 0) {
            const auto period = std::chrono::milliseconds(total);
            TotalDeadline = ReadStart + ((now - ReadStart) / period + 1) * period;
        }
    }
    LastByte = now;
    // The echo is the first bytes after the write began, exactly; it may come in parts.
    size_t done = 0;
    while (Echo && done < count) {
        while (skipNul && EchoAt < Echo->size() && (*Echo)[EchoAt] == 0)
            ++EchoAt;
        if (EchoAt == Echo->size() || bytes[done] != (*Echo)[EchoAt]) {
            if (!NoEcho())
                return false;
            break;
        }
        if (Held.empty())
            HeldMayAnswer = MayAnswer;
        Held.push_back(bytes[done++]);
        ++EchoAt;
        while (skipNul && EchoAt < Echo->size() && (*Echo)[EchoAt] == 0)
            ++EchoAt;
        if (EchoAt == Echo->size()) {
            Held.clear();
            Echo.reset();
            if (EchoLine == TEchoLine::Unknown && !Poster.Post(MSG_LINE_ECHO, 0))
                return false;
            EchoLine = TEchoLine::Echoes;
        }
    }
    return Dispatch(bytes + done, count - done, MayAnswer);
}

// Held bytes that turn out to be no echo are data, judged as of when they came.
bool TReceiver::ReleaseHeld() {
    Echo.reset();
    if (Held.empty())
        return true;
    const std::vector<uint8_t> held = std::move(Held);
    Held.clear();
    return Dispatch(held.data(), held.size(), HeldMayAnswer);
}

bool TReceiver::Dispatch(const uint8_t* bytes, size_t count, bool mayAnswer) {
    if (count == 0)
        return true;
    if (!Cutter.Active())
        return In.Append(bytes, count, Poster);
    if (!mayAnswer)
        return Cutter.DropTail(In, bytes, count, Poster);
    if (!Cutter.Feed(In, bytes, count, Poster))
        return false;
    if (Idle()) { // a whole reply ended the block
        ReadStart = LastByte;
        TotalDeadline = TClock::time_point::max();
    }
    return true;
}

TClock::time_point TReceiver::Deadline(const TReadTimeouts& t) const {
    if (Idle())
        return TClock::time_point::max();
    TClock::time_point deadline = TClock::time_point::max();
    if (t.Interval == UINT32_MAX)
        deadline = LastByte; // "return at once with what is there"
    else if (t.Interval > 0)
        deadline = LastByte + std::chrono::milliseconds(t.Interval);
    return std::min(deadline, TotalDeadline);
}

bool TReceiver::Expire(TClock::time_point now) {
    if (!Refresh() || !(Held.empty() ? ReleaseHeld() : NoEcho()) || !In.Post(Poster))
        return false;
    ReadStart = now;
    TotalDeadline = TClock::time_point::max();
    return true;
}

bool TReceiver::Flush() {
    return ReleaseHeld() && In.Post(Poster);
}

bool TWriteQueue::Post(std::unique_ptr<uint8_t[]>& block, uint16_t count) {
    std::lock_guard<std::mutex> lock(Lock);
    if (Ended)
        return false;
    Queue.push_back({std::move(block), count});
    return true;
}

bool TWriteQueue::Take(TRequest& request) {
    std::lock_guard<std::mutex> lock(Lock);
    if (Queue.empty())
        return false;
    request = std::move(Queue.front());
    Queue.pop_front();
    return true;
}

void TWriteQueue::End() {
    std::deque<TRequest> dropped; // released after the lock
    std::lock_guard<std::mutex> lock(Lock);
    Ended = true;
    dropped.swap(Queue);
}

void ServeWriteQueue(TWriterSteps& writer, TWriteQueue& queue, TCommPoster& poster,
                     TReplyRuleSlot& rules) {
    using TWait = TWriterSteps::TWait;
    bool noticeDue = true;
    uint64_t started = 0; // numbered as TComm numbers the requests it posts
    for (;;) {
        TWriteQueue::TRequest request;
        if (!queue.Take(request)) {
            if (noticeDue) {
                const TWait drained = writer.WaitUntilDrained();
                if (drained == TWait::End)
                    return;
                if (drained == TWait::NewRequest)
                    continue;
                if (!poster.Post(MSG_SEND_DATA_EMPTY, 0))
                    return;
                noticeDue = false;
            }
            if (writer.WaitForWork() == TWait::End)
                return;
            continue;
        }
        if (writer.StopSignalled())
            return; // request released with it
        const TWriterSteps::TLine line = writer.Line();
        const TClock::time_point begun =
            rules.Starting(++started, request.Block.get(), request.Count);
        if (!writer.HandleWriteData(request.Block.get(), request.Count))
            return;
        // A driver that takes the bytes at once has them still to send; one that ends the call
        // only once they are sent has also taken their time on the wire.
        rules.Sent(started, std::max(begun + WireTime(request.Count, line.Baud, line.CharacterBits),
                                     TClock::now()));
        noticeDue = true;
    }
}

int TDrainPacer::NextWaitMs(uint32_t queued, uint32_t baud, uint32_t frameBits) {
    const TClock::time_point now = TClock::now();
    if (LastQueued < 0)
        GiveUpAt = now + WireTime(queued, baud, frameBits) + std::chrono::seconds(1);
    else if (now >= GiveUpAt)
        return -1;
    baud = std::max(baud, 1u);
    const uint64_t sendMs = (uint64_t(queued) * frameBits * 1000 + baud - 1) / baud;
    const int expected = static_cast<int>(std::clamp<uint64_t>(sendMs, 1, 200));
    WaitMs = LastQueued < 0 || queued < LastQueued ? expected
                                                   : std::min(std::max(WaitMs * 2, expected), 200);
    LastQueued = queued;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(GiveUpAt - now).count();
    return static_cast<int>(std::clamp<int64_t>(left, 1, WaitMs));
}

} // namespace orv
