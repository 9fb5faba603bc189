// TComm's port and threads over POSIX termios.

#include "common/termios_speed.h"
#include "serial/comm.h"
#include "serial/comm_threads_posix.h"
#include "serial/custom_baud_posix.h"
#include "serial/port_name_posix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace orv {

namespace {

void SignalEvent(int fd) {
    const uint64_t one = 1;
    (void)!write(fd, &one, sizeof one);
}

void ReleasePort(int fd) {
    if (fd < 0)
        return;
    (void)ioctl(fd, TIOCNXCL);
    (void)flock(fd, LOCK_UN);
    close(fd);
}

struct TOpened {
    int Fd = -1;
    std::string Path;
};

// Tries each candidate path; the most telling failure is the first that is not "no such file".
TOpened OpenDevice(const std::string& name) {
    const std::vector<std::string> candidates = PortPathCandidates(name);
    if (candidates.empty())
        throw ECommsError("Error opening serial port", "No port name was given: pick a port.");
    std::string failedPath;
    int failure = 0;
    for (const std::string& path : candidates) {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            const int e = errno;
            if (failure == 0 || (failure == ENOENT && e != ENOENT)) {
                failure = e;
                failedPath = path;
            }
            continue;
        }
        return {fd, path};
    }
    std::string detail = OpenFailureDetail(failedPath, failure);
    if (failure == ENOENT && candidates.size() > 1)
        detail += " (Looked for " + candidates[0] + " and " + candidates[1] + ".)";
    throw ECommsError("Error opening serial port", detail);
}

} // namespace

struct TCommPort {
    TCommPort(ICommSink* sink, TComm* target, uint32_t session) : Shared(sink, target, session) {}
    ~TCommPort() {
        // Threads still running (a failed start) end on the stop signal before anything goes.
        if (Shared.StopEvent >= 0)
            SignalEvent(Shared.StopEvent);
        ReaderThread.reset();
        WriterThread.reset();
        if (Shared.StopEvent >= 0)
            close(Shared.StopEvent);
        if (Shared.SettingsChanged >= 0)
            close(Shared.SettingsChanged);
        ReleasePort(Shared.PortHandle);
    }

    TPortShared Shared;
    std::unique_ptr<TReadThread> ReaderThread;
    std::unique_ptr<TWriteThread> WriterThread;
};

namespace {

// Signals the stop, purges the thread's direction of the port, which ends what it waits on
// there, and waits for the thread to end.
template <class TThread>
void CloseThread(TCommPort& port, std::unique_ptr<TThread>& thread, int direction) {
    if (!thread)
        return;
    SignalEvent(port.Shared.StopEvent);
    tcflush(port.Shared.PortHandle, direction);
    thread->WaitFor();
    thread.reset();
}

} // namespace

void TCommPortDeleter::operator()(TCommPort* port) const {
    delete port;
}

void TComm::OpenPort() {
    TOpened opened = OpenDevice(CommName);
    if (!isatty(opened.Fd)) {
        close(opened.Fd);
        throw ECommsError("File handle is not a comm handle ",
                          opened.Path + " is not a terminal device, so not a serial port.");
    }
    // Exclusive use: the advisory lock keeps out programs that honour it even when the
    // terminal-level exclusion does not apply (it does not hold against root).
    if (flock(opened.Fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        close(opened.Fd);
        throw ECommsError("Error opening serial port",
                          OpenFailureDetail(opened.Path, e == EWOULDBLOCK ? EBUSY : e));
    }
    (void)ioctl(opened.Fd, TIOCEXCL);
    // The driver's queues are sized by the kernel; there is no counterpart of setting them.

    Port.reset(new TCommPort(NotifyWindow, this, Session));
    Port->Shared.PortHandle = opened.Fd;
    FPortPath = opened.Path;
    tcflush(opened.Fd, TCIOFLUSH);
    (void)_SetCommTimeout();
    (void)_SetCommState();
}

void TComm::CreateStopEvent() {
    TPortShared& shared = Port->Shared;
    shared.StopEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (shared.StopEvent < 0)
        throw std::system_error(errno, std::generic_category());
    shared.SettingsChanged = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (shared.SettingsChanged < 0)
        throw std::system_error(errno, std::generic_category());
}

void TComm::CreateReadThread() {
    Port->ReaderThread = std::make_unique<TReadThread>(Port->Shared);
}

void TComm::CreateWriteThread() {
    Port->WriterThread = std::make_unique<TWriteThread>(Port->Shared);
}

void TComm::StartReadThread() {
    Port->ReaderThread->Start();
}

void TComm::StartWriteThread() {
    Port->WriterThread->Start();
}

void TComm::CloseReadThread() {
    if (Port)
        CloseThread(*Port, Port->ReaderThread, TCIFLUSH);
}

void TComm::CloseWriteThread() {
    if (Port)
        CloseThread(*Port, Port->WriterThread, TCOFLUSH);
}

TReplyRuleSlot* TComm::RuleSlot() {
    return Port ? &Port->Shared.Rules : nullptr;
}

bool TComm::PostWriteRequest(std::unique_ptr<uint8_t[]>& block, uint16_t count) {
    return Port->WriterThread && Port->WriterThread->PostWrite(block, count);
}

uint32_t TComm::GetModemState() {
    if (!IsOpen())
        return 0;
    int lines = 0;
    if (ioctl(Port->Shared.PortHandle, TIOCMGET, &lines) != 0)
        return 0;
    uint32_t state = 0;
    if (lines & TIOCM_CTS)
        state |= MS_CTS_ON;
    if (lines & TIOCM_DSR)
        state |= MS_DSR_ON;
    if (lines & TIOCM_RNG)
        state |= MS_RING_ON;
    if (lines & TIOCM_CAR)
        state |= MS_RLSD_ON;
    return state;
}

bool TComm::_SetCommState() {
    const int fd = Port->Shared.PortHandle;
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return false;
    // Raw bytes both ways, then the properties on top.
    t.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                   IXON | IXOFF | IXANY | IMAXBEL | IUTF8);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    if (FParityCheck)
        t.c_iflag |= INPCK | PARMRK;
    if (FOutx_XonXoffFlow)
        t.c_iflag |= IXON;
    if (FInx_XonXoffFlow)
        t.c_iflag |= IXOFF;
    // The kernel has no switch for going on sending after it sent XOFF itself (it always does),
    // none for DSR-controlled output or DSR sensitivity, and picks its own XON/XOFF thresholds:
    // those properties are kept but change nothing here.
    t.c_cc[VSTART] = static_cast<cc_t>(FXonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(FXoffChar);

    static constexpr tcflag_t Sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= Sizes[static_cast<int>(FByteSize)];
    switch (FParity) {
    case TParity::None:
        break;
    case TParity::Odd:
        t.c_cflag |= PARENB | PARODD;
        break;
    case TParity::Even:
        t.c_cflag |= PARENB;
        break;
    case TParity::Mark:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case TParity::Space:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    }
    // 1.5 stop bits: CSTOPB, which the usual UART sends as 1.5 with 5 data bits (the only size
    // 1.5 is defined for) and as 2 otherwise.
    if (FStopBits != TStopBits::_1)
        t.c_cflag |= CSTOPB;
    // CRTSCTS covers both directions: CTS-held output and RTS handshaking.
    if (FOutx_CtsFlow || FRtsControl == TRtsControl::RtsHandshake)
        t.c_cflag |= CRTSCTS;

    // Speed 0 would mean "hang up" to the driver: a rate it cannot take leaves the old one.
    const speed_t speed = TermiosSpeed(FBaudRate);
    if (speed != B0) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
    // TCSANOW: bytes queued either way are kept.
    // The C library reports a failure also when the driver adjusted part of a setting (a
    // pseudo-terminal forces 8 bits, no parity), so the rest goes on regardless.
    bool ok = tcsetattr(fd, TCSANOW, &t) == 0;
    if (speed == B0 && FBaudRate != 0)
        ok = SetCustomBaudRate(fd, FBaudRate) && ok;

    // DTR handshaking has no kernel counterpart: DTR stays on. RTS toggling around each
    // transmission is left to adapters that do it themselves: RTS stays on.
    const int dtr = TIOCM_DTR;
    (void)ioctl(fd, FDtrControl == TDtrControl::DtrDisable ? TIOCMBIC : TIOCMBIS, &dtr);
    if (FRtsControl != TRtsControl::RtsHandshake) {
        const int rts = TIOCM_RTS;
        (void)ioctl(fd, FRtsControl == TRtsControl::RtsDisable ? TIOCMBIC : TIOCMBIS, &rts);
    }

    TThreadSettings s = Port->Shared.SettingsSnapshot();
    s.BaudRate = FBaudRate;
    s.FrameBits = CharacterBits(static_cast<uint32_t>(FByteSize) + 5, FParity != TParity::None,
                                FStopBits != TStopBits::_1);
    s.Unmark = FParityCheck;
    s.IgnoreNull = FIgnoreNullChar;
    s.Replace = FReplaceWhenParityError;
    s.ReplacedChar = static_cast<uint8_t>(FReplacedChar);
    Port->Shared.UpdateSettings(s);
    return ok;
}

bool TComm::_SetCommTimeout() {
    // The write time-outs are kept but not used: a write that ended early is continued from
    // where it stopped anyway, so only the stop request ends one.
    TThreadSettings s = Port->Shared.SettingsSnapshot();
    s.Interval = FReadIntervalTimeout;
    s.TotalMultiplier = FReadTotalTimeoutMultiplier;
    s.TotalConstant = FReadTotalTimeoutConstant;
    Port->Shared.UpdateSettings(s);
    return true;
}

} // namespace orv
