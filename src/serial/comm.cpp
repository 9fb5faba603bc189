#include "serial/comm.h"

#include "serial/comm_threads.h"
#include "serial/custom_baud.h"
#include "serial/port_name.h"

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

speed_t StandardSpeed(uint32_t baud) {
    switch (baud) {
    case 50:
        return B50;
    case 75:
        return B75;
    case 110:
        return B110;
    case 134:
        return B134;
    case 150:
        return B150;
    case 200:
        return B200;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 1800:
        return B1800;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 500000:
        return B500000;
    case 576000:
        return B576000;
    case 921600:
        return B921600;
    case 1000000:
        return B1000000;
    case 1152000:
        return B1152000;
    case 1500000:
        return B1500000;
    case 2000000:
        return B2000000;
    case 2500000:
        return B2500000;
    case 3000000:
        return B3000000;
    case 3500000:
        return B3500000;
    case 4000000:
        return B4000000;
    default:
        return B0;
    }
}

void SignalEvent(int fd) {
    const uint64_t one = 1;
    (void)!write(fd, &one, sizeof one);
}

void ReleasePort(int fd) {
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

TComm::TComm(ICommSink* sink) : NotifyWindow(sink) {}

TComm::~TComm() {
    StopComm();
    if (NotifyWindow)
        NotifyWindow->Discard(this);
}

void TComm::StartComm() {
    if (IsOpen())
        throw ECommsError("This serial port already opened");
    TOpened port = OpenDevice(CommName);
    if (!isatty(port.Fd)) {
        close(port.Fd);
        throw ECommsError("File handle is not a comm handle ",
                          port.Path + " is not a terminal device, so not a serial port.");
    }
    // Exclusive use: the advisory lock keeps out programs that honour it even when the
    // terminal-level exclusion does not apply (it does not hold against root).
    if (flock(port.Fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        close(port.Fd);
        throw ECommsError("Error opening serial port",
                          OpenFailureDetail(port.Path, e == EWOULDBLOCK ? EBUSY : e));
    }
    (void)ioctl(port.Fd, TIOCEXCL);
    // The driver's queues are sized by the kernel; there is no counterpart of setting them.

    PortHandle = port.Fd;
    FPortPath = port.Path;
    tcflush(PortHandle, TCIOFLUSH);

    Shared = std::make_shared<TPortShared>();
    Shared->PortHandle = PortHandle;
    Shared->NotifyWindow = NotifyWindow;
    Shared->Target = this;
    Shared->Session = ++Session;
    _SetCommTimeout();
    (void)_SetCommState();

    StopEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    Shared->SettingsChanged = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (StopEvent < 0 || Shared->SettingsChanged < 0) {
        const std::string reason = std::strerror(errno);
        ClosePort();
        throw ECommsError("Unable to create event", reason);
    }
    Shared->StopEvent = StopEvent;

    try {
        ReaderThread = std::make_unique<TReadThread>(Shared);
    } catch (const std::exception& e) {
        ReaderThread.reset();
        ClosePort();
        throw ECommsError("Unable to create read thread", e.what());
    }
    try {
        WriterThread = std::make_unique<TWriteThread>(Shared);
    } catch (const std::exception& e) {
        CloseReadThread();
        WriterThread.reset();
        ClosePort();
        throw ECommsError("Unable to create write thread", e.what());
    }
    try {
        ReaderThread->Start();
    } catch (const std::exception& e) {
        ReaderThread.reset();
        WriterThread.reset();
        ClosePort();
        throw ECommsError("Unable to create read thread", e.what());
    }
    try {
        WriterThread->Start();
    } catch (const std::exception& e) {
        CloseReadThread();
        WriterThread.reset();
        ClosePort();
        throw ECommsError("Unable to create write thread", e.what());
    }
}

void TComm::ClosePort() {
    if (StopEvent >= 0) {
        close(StopEvent);
        StopEvent = -1;
    }
    if (PortHandle >= 0) {
        ReleasePort(PortHandle);
        PortHandle = -1;
    }
    if (Shared && Shared->SettingsChanged >= 0)
        close(Shared->SettingsChanged);
    Shared.reset();
    FPortPath.clear();
}

void TComm::StopComm() {
    if (!IsOpen())
        return;
    CloseReadThread();
    CloseWriteThread();
    ClosePort();
}

void TComm::CloseReadThread() {
    if (!ReaderThread)
        return;
    SignalEvent(StopEvent);
    tcflush(PortHandle, TCIFLUSH);
    ReaderThread->WaitFor();
    ReaderThread.reset();
}

void TComm::CloseWriteThread() {
    if (!WriterThread)
        return;
    SignalEvent(StopEvent);
    tcflush(PortHandle, TCOFLUSH);
    WriterThread->WaitFor();
    WriterThread.reset();
}

bool TComm::WriteCommData(const uint8_t* data, uint16_t count) {
    if (!WriterThread || count == 0 || data == nullptr)
        return false;
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[size_t(count) + 1]());
    if (!block)
        return false;
    std::memcpy(block.get(), data, count);
    return WriterThread->PostWrite(block, count);
}

uint32_t TComm::GetModemState() {
    if (!IsOpen())
        return 0;
    int lines = 0;
    if (ioctl(PortHandle, TIOCMGET, &lines) != 0)
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
    termios t{};
    if (tcgetattr(PortHandle, &t) != 0)
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
    const speed_t speed = StandardSpeed(FBaudRate);
    if (speed != B0) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
    // TCSANOW: bytes queued either way are kept.
    // The C library reports a failure also when the driver adjusted part of a setting (a
    // pseudo-terminal forces 8 bits, no parity), so the rest goes on regardless.
    bool ok = tcsetattr(PortHandle, TCSANOW, &t) == 0;
    if (speed == B0 && FBaudRate != 0)
        ok = SetCustomBaudRate(PortHandle, FBaudRate) && ok;

    // DTR handshaking has no kernel counterpart: DTR stays on. RTS toggling around each
    // transmission is left to adapters that do it themselves: RTS stays on.
    const int dtr = TIOCM_DTR;
    (void)ioctl(PortHandle, FDtrControl == TDtrControl::DtrDisable ? TIOCMBIC : TIOCMBIS, &dtr);
    if (FRtsControl != TRtsControl::RtsHandshake) {
        const int rts = TIOCM_RTS;
        (void)ioctl(PortHandle, FRtsControl == TRtsControl::RtsDisable ? TIOCMBIC : TIOCMBIS, &rts);
    }

    TReaderSettings s = Shared->SettingsSnapshot();
    s.BaudRate = FBaudRate;
    s.FrameBits = 1 + (static_cast<uint32_t>(FByteSize) + 5) + (FParity == TParity::None ? 0 : 1) +
                  (FStopBits == TStopBits::_1 ? 1 : 2);
    s.Unmark = FParityCheck;
    s.IgnoreNull = FIgnoreNullChar;
    s.Replace = FReplaceWhenParityError;
    s.ReplacedChar = static_cast<uint8_t>(FReplacedChar);
    Shared->UpdateSettings(s);
    return ok;
}

void TComm::_SetCommTimeout() {
    // The write time-outs are kept but not used: a write that ended early is continued from
    // where it stopped anyway, so only the stop request ends one.
    TReaderSettings s = Shared->SettingsSnapshot();
    s.Interval = FReadIntervalTimeout;
    s.TotalMultiplier = FReadTotalTimeoutMultiplier;
    s.TotalConstant = FReadTotalTimeoutConstant;
    Shared->UpdateSettings(s);
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
    default:
        break;
    }
}

void TComm::ReceiveData(const uint8_t* block, uint16_t count) {
    if (OnReceiveData) {
        const auto handler = OnReceiveData; // the handler may replace itself
        handler(this, block, count);
    }
}

void TComm::ReceiveError(uint32_t flags) {
    if (OnReceiveError) {
        const auto handler = OnReceiveError; // the handler may replace itself
        handler(this, flags);
    }
}

void TComm::ModemStateChange(uint32_t word) {
    if (OnModemStateChange) {
        const auto handler = OnModemStateChange; // the handler may replace itself
        handler(this, word);
    }
}

void TComm::RequestHangup() {
    if (OnRequestHangup) {
        const auto handler = OnRequestHangup; // the handler may replace itself
        handler(this);
    }
}

void TComm::_SendDataEmpty() {
    if (OnSendDataEmpty) {
        const auto handler = OnSendDataEmpty; // the handler may replace itself
        handler(this);
    }
}

} // namespace orv
