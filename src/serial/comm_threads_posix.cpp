#include "serial/comm_threads_posix.h"

#include "serial/line_decoder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/serial.h>
#include <new>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace orv {

namespace {

using Clock = std::chrono::steady_clock;

// Best effort: raising a thread's priority needs privileges the user usually lacks.
void RaisePriority(int steps) {
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -steps);
}

bool IsSignalled(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

// The descriptor itself is no longer valid: nothing to report, as for an invalid handle.
bool IsQuietError(int error) {
    return error == EBADF;
}

// Bytes written but not yet sent on the line: the driver's output queue, and one more while the
// transmitter still shifts out the last character, where the driver tells (a UART's line status;
// a USB adapter's own buffer stays unseen). A driver that cannot tell counts as drained. -1 with
// errno set when the device has gone.
int OutputQueued(int fd) {
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0)
        return errno == EIO || errno == ENXIO || errno == ENODEV || errno == EBADF ? -1 : 0;
    if (queued > 0)
        return queued;
    unsigned int status = 0;
    if (ioctl(fd, TIOCSERGETLSR, &status) == 0 && !(status & TIOCSER_TEMT))
        return 1;
    return 0;
}

} // namespace

void TPortShared::UpdateSettings(const TThreadSettings& s) {
    {
        std::lock_guard<std::mutex> lock(SettingsLock);
        Settings = s;
    }
    if (SettingsChanged >= 0) {
        const uint64_t one = 1;
        (void)!write(SettingsChanged, &one, sizeof one);
    }
}

bool TPortShared::StopSignalled() const {
    return IsSignalled(StopEvent);
}

// ---------------------------------------------------------------------------------------------
// Reader

TReadThread::~TReadThread() {
    WaitFor();
}

void TReadThread::Start() {
    Thread = std::thread([this] { Execute(); });
}

void TReadThread::WaitFor() {
    if (Thread.joinable())
        Thread.join();
}

// The block in hand holds the last bytes the line brought: they go out before the hang-up.
void TReadThread::PostHangupCall() {
    if (!Receiver.Flush())
        return; // that failure has posted the hang-up
    S->Poster.PostHangupCall();
}

// Errors the driver counts (overrun has no in-band mark at all) and the modem lines, where the
// device has them; a pseudo-terminal has neither.
bool TReadThread::CheckLineState(uint32_t marks, bool parityCheck) {
    uint32_t flags = 0;
    if (HasCounters) {
        serial_icounter_struct c{};
        if (ioctl(S->PortHandle, TIOCGICOUNT, &c) == 0) {
            if (static_cast<uint32_t>(c.frame) != LastFrame)
                flags |= CE_FRAME;
            if (static_cast<uint32_t>(c.overrun + c.buf_overrun) != LastOverrun)
                flags |= CE_OVERRUN;
            if (static_cast<uint32_t>(c.parity) != LastParity)
                flags |= CE_RXPARITY;
            if (static_cast<uint32_t>(c.brk) != LastBreak)
                flags |= CE_BREAK;
            LastFrame = c.frame;
            LastOverrun = c.overrun + c.buf_overrun;
            LastParity = c.parity;
            LastBreak = c.brk;
        }
    }
    if (marks && !(flags & (CE_FRAME | CE_RXPARITY | CE_BREAK)))
        flags |= CE_RXPARITY;
    if (!parityCheck)
        flags &= ~CE_RXPARITY; // the UART counts them anyway; they are not asked for
    if (flags && !S->Poster.Post(MSG_RECEIVE_ERROR, flags))
        return false;
    if (HasModemLines) {
        int lines = 0;
        if (ioctl(S->PortHandle, TIOCMGET, &lines) == 0) {
            const int changed = lines ^ LastModem;
            LastModem = lines;
            uint32_t word = 0;
            if (changed & TIOCM_CAR)
                word |= ME_RLSD;
            if (changed & TIOCM_RNG)
                word |= ME_RING;
            if (word && !S->Poster.Post(MSG_MODEM_STATE_CHANGE, word))
                return false;
        }
    }
    return true;
}

void TReadThread::Execute() {
    RaisePriority(2);
    const int fd = S->PortHandle;
    {
        serial_icounter_struct c{};
        HasCounters = ioctl(fd, TIOCGICOUNT, &c) == 0;
        LastFrame = c.frame;
        LastOverrun = c.overrun + c.buf_overrun;
        LastParity = c.parity;
        LastBreak = c.brk;
        HasModemLines = ioctl(fd, TIOCMGET, &LastModem) == 0;
    }
    // Carrier and ring changes cannot be waited for together with data and the stop signal,
    // so where the device has modem lines they are sampled at this period.
    constexpr auto ModemPeriod = std::chrono::milliseconds(200);

    TLineDecoder decoder;
    uint8_t raw[2048];
    uint8_t decoded[sizeof raw + 2];
    Clock::time_point nextModemSample = Clock::now() + ModemPeriod;

    for (;;) {
        TThreadSettings s = S->SettingsSnapshot();
        if (!Receiver.Refresh())
            break;
        const Clock::time_point deadline = Receiver.Deadline(s.ReadTimeouts());
        Clock::time_point now = Clock::now();
        if (deadline <= now) {
            if (!Receiver.Expire(now))
                break;
            continue;
        }
        Clock::time_point wake = deadline;
        if (HasModemLines)
            wake = std::min(wake, nextModemSample);

        pollfd fds[3] = {
            {S->StopEvent, POLLIN, 0}, {S->SettingsChanged, POLLIN, 0}, {fd, POLLIN, 0}};
        timespec ts{};
        timespec* timeout = nullptr;
        if (wake != Clock::time_point::max()) {
            const auto ns = std::max<int64_t>(
                0, std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now).count());
            ts.tv_sec = static_cast<time_t>(ns / 1000000000);
            ts.tv_nsec = static_cast<long>(ns % 1000000000);
            timeout = &ts;
        }
        const int r = ppoll(fds, 3, timeout, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            PostHangupCall();
            break;
        }
        if (fds[0].revents)
            break; // stop request first
        if (fds[2].revents & POLLNVAL)
            break; // the port was closed under us: end quietly
        if (fds[1].revents) {
            uint64_t changes = 0;
            (void)!read(S->SettingsChanged, &changes, sizeof changes);
        }
        // A change made during the wait applies to what the wait brought.
        s = S->SettingsSnapshot();
        decoder.Unmark = s.Unmark;
        decoder.IgnoreNull = s.IgnoreNull;
        decoder.Replace = s.Replace;
        decoder.ReplacedChar = s.ReplacedChar;
        uint32_t marks = 0;
        if (fds[2].revents) {
            // What is waiting now is judged as of before it is read: the request may leave the
            // line meanwhile.
            const bool fresh = Receiver.Idle();
            if (!Receiver.Prepare(Clock::now()))
                break;
            const ssize_t got = read(fd, raw, sizeof raw);
            if (got > 0) {
                if (fresh && !S->Poster.Post(MSG_MODEM_STATE_CHANGE, ME_RXCHAR))
                    break;
                const size_t n = decoder.Decode(raw, static_cast<size_t>(got), decoded, marks);
                if (!Receiver.Take(decoded, n, Clock::now(), s.ReadTimeouts(), s.IgnoreNull))
                    break;
            } else if (got == 0) {
                PostHangupCall(); // end of file: the other end has gone
                break;
            } else if (errno != EAGAIN && errno != EINTR) {
                if (!IsQuietError(errno))
                    PostHangupCall();
                break;
            }
        }
        if (marks || HasCounters || (HasModemLines && Clock::now() >= nextModemSample)) {
            if (!CheckLineState(marks, s.Unmark))
                break;
            nextModemSample = Clock::now() + ModemPeriod;
        }
    }
    tcflush(fd, TCIFLUSH);
}

// ---------------------------------------------------------------------------------------------
// Writer

TWriteThread::TWriteThread(TPortShared& shared) : S(&shared) {
    WakeEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (WakeEvent < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

TWriteThread::~TWriteThread() {
    WaitFor();
    Queue.End();
    close(WakeEvent);
}

void TWriteThread::Start() {
    Thread = std::thread([this] { Execute(); });
}

void TWriteThread::WaitFor() {
    if (Thread.joinable())
        Thread.join();
}

bool TWriteThread::PostWrite(std::unique_ptr<uint8_t[]>& block, uint16_t count) {
    if (!Queue.Post(block, count))
        return false;
    const uint64_t one = 1;
    (void)!write(WakeEvent, &one, sizeof one);
    return true;
}

bool TWriteThread::HandleWriteData(const uint8_t* block, size_t count) {
    size_t offset = 0;
    while (offset < count) {
        // A driver that keeps taking parts never makes the writer wait below: look here too.
        if (offset > 0 && S->StopSignalled())
            return false;
        const ssize_t n = write(S->PortHandle, block + offset, count - offset);
        if (n > 0) {
            offset += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            if (!IsQuietError(errno))
                S->Poster.PostHangupCall();
            return false;
        }
        // The driver's queue is full: wait for room or for the stop request.
        pollfd fds[2] = {{S->StopEvent, POLLIN, 0}, {S->PortHandle, POLLOUT, 0}};
        const int r = poll(fds, 2, -1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            S->Poster.PostHangupCall();
            return false;
        }
        if (fds[0].revents)
            return false; // stopped: the rest is dropped, no hang-up
        if (fds[1].revents & POLLNVAL)
            return false;
        // POLLOUT, or POLLHUP/POLLERR: the next write tells which.
    }
    return true;
}

TWriterSteps::TLine TWriteThread::Line() {
    const TThreadSettings s = S->SettingsSnapshot();
    return {s.BaudRate, s.FrameBits};
}

// The notice that the writer has run out of work is given once the line is quiet, so that a
// reply time-out started by it runs from the end of transmission. The wait also ends for the
// stop signal and for a new request: a line held by flow control never holds up either.
TWriteThread::TWait TWriteThread::WaitUntilDrained() {
    TDrainPacer pacer;
    for (;;) {
        const int queued = OutputQueued(S->PortHandle);
        if (queued == 0)
            return TWait::Quiet;
        if (queued < 0) {
            if (!IsQuietError(errno))
                S->Poster.PostHangupCall();
            return TWait::End;
        }
        const TThreadSettings s = S->SettingsSnapshot();
        const int ms = pacer.NextWaitMs(static_cast<uint32_t>(queued), s.BaudRate, s.FrameBits);
        if (ms < 0)
            return TWait::Quiet;
        const TWait woke = WaitForWake(ms);
        if (woke != TWait::Quiet)
            return woke;
    }
}

TWriteThread::TWait TWriteThread::WaitForWork() {
    return WaitForWake(-1);
}

// Until the stop signal, a new request (NewRequest), or ms have passed (Quiet).
TWriteThread::TWait TWriteThread::WaitForWake(int ms) {
    for (;;) {
        pollfd fds[2] = {{S->StopEvent, POLLIN, 0}, {WakeEvent, POLLIN, 0}};
        const int r = poll(fds, 2, ms);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            S->Poster.PostHangupCall();
            return TWait::End;
        }
        if (fds[0].revents)
            return TWait::End;
        if (fds[1].revents) {
            uint64_t count = 0;
            (void)!read(WakeEvent, &count, sizeof count);
            return TWait::NewRequest;
        }
        return TWait::Quiet;
    }
}

void TWriteThread::Execute() {
    RaisePriority(1);
    ServeWriteQueue(*this, Queue, S->Poster, S->Rules);
    Queue.End();
    tcflush(S->PortHandle, TCOFLUSH);
}

} // namespace orv
