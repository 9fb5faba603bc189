// TComm's port and threads over the Win32 serial API with overlapped I/O.

#include "common/wide_text.h"
#include "serial/comm.h"
#include "serial/comm_threads_win32.h"
#include "serial/port_name_win32.h"

#include <stdexcept>
#include <windows.h>

namespace orv {

namespace {

struct TOpened {
    HANDLE Handle = INVALID_HANDLE_VALUE;
    std::string Path;
};

bool IsNotFound(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Exclusive, for overlapped I/O. Tries each candidate name; the most telling failure is the
// first that is not "no such port".
TOpened OpenDevice(const std::string& name) {
    const std::vector<std::string> candidates = PortPathCandidates(name);
    if (candidates.empty())
        throw ECommsError("Error opening serial port", "No port name was given: pick a port.");
    std::string failedPath;
    DWORD failure = ERROR_SUCCESS;
    for (const std::string& path : candidates) {
        std::wstring wide;
        HANDLE handle = INVALID_HANDLE_VALUE;
        DWORD error = ERROR_INVALID_NAME;
        if (ToWide(path, wide)) {
            handle =
                CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
            error = GetLastError();
        }
        if (handle != INVALID_HANDLE_VALUE)
            return {handle, path};
        if (failure == ERROR_SUCCESS || (IsNotFound(failure) && !IsNotFound(error))) {
            failure = error;
            failedPath = path;
        }
    }
    throw ECommsError("Error opening serial port", OpenFailureDetail(failedPath, failure));
}

DWORD DtrCode(TDtrControl control) {
    switch (control) {
    case TDtrControl::DtrEnable:
        return DTR_CONTROL_ENABLE;
    case TDtrControl::DtrDisable:
        return DTR_CONTROL_DISABLE;
    case TDtrControl::DtrHandshake:
        return DTR_CONTROL_HANDSHAKE;
    }
    return DTR_CONTROL_ENABLE;
}

DWORD RtsCode(TRtsControl control) {
    switch (control) {
    case TRtsControl::RtsEnable:
        return RTS_CONTROL_ENABLE;
    case TRtsControl::RtsDisable:
        return RTS_CONTROL_DISABLE;
    case TRtsControl::RtsHandshake:
        return RTS_CONTROL_HANDSHAKE;
    case TRtsControl::RtsTransmissionAvailable:
        return RTS_CONTROL_TOGGLE;
    }
    return RTS_CONTROL_ENABLE;
}

} // namespace

struct TCommPort {
    TCommPort(ICommSink* sink, TComm* target, uint32_t session) : Shared(sink, target, session) {}
    ~TCommPort() {
        // Threads still running (a failed start) end on the stop signal before anything goes.
        if (Shared.StopEvent)
            SetEvent(Shared.StopEvent);
        ReaderThread.reset();
        WriterThread.reset();
        if (Shared.StopEvent)
            CloseHandle(Shared.StopEvent);
        if (Shared.TimeoutsChanged)
            CloseHandle(Shared.TimeoutsChanged);
        if (Shared.PortHandle != INVALID_HANDLE_VALUE)
            CloseHandle(Shared.PortHandle);
    }

    TPortShared Shared;
    std::unique_ptr<TReadThread> ReaderThread;
    std::unique_ptr<TWriteThread> WriterThread;
};

namespace {

// Signals the stop, purges the thread's direction of the port, which aborts what it has
// outstanding there, and waits for the thread to end.
template <class TThread>
void CloseThread(TCommPort& port, std::unique_ptr<TThread>& thread, DWORD purge) {
    if (!thread)
        return;
    SetEvent(port.Shared.StopEvent);
    PurgeComm(port.Shared.PortHandle, purge);
    thread.reset();
}

} // namespace

void TCommPortDeleter::operator()(TCommPort* port) const {
    delete port;
}

void TComm::OpenPort() {
    TOpened opened = OpenDevice(CommName);
    if (GetFileType(opened.Handle) != FILE_TYPE_CHAR) {
        CloseHandle(opened.Handle);
        throw ECommsError("File handle is not a comm handle ",
                          opened.Path + " is not a serial port: it names a file or another kind "
                                        "of device.");
    }
    if (!SetupComm(opened.Handle, 4096, 4096)) {
        const DWORD error = GetLastError();
        CloseHandle(opened.Handle);
        throw ECommsError("Cannot setup comm buffer", OpenFailureDetail(opened.Path, error));
    }
    Port.reset(new TCommPort(NotifyWindow, this, Session));
    Port->Shared.PortHandle = opened.Handle;
    FPortPath = opened.Path;
    PurgeComm(opened.Handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    (void)_SetCommTimeout();
    (void)_SetCommState();
}

void TComm::CreateStopEvent() {
    TPortShared& shared = Port->Shared;
    shared.StopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!shared.StopEvent)
        throw std::runtime_error(SystemMessage(GetLastError()));
    shared.TimeoutsChanged = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!shared.TimeoutsChanged)
        throw std::runtime_error(SystemMessage(GetLastError()));
}

void TComm::CreateReadThread() {
    Port->ReaderThread = std::make_unique<TReadThread>(Port->Shared);
    Port->ReaderThread->Create();
}

void TComm::CreateWriteThread() {
    Port->WriterThread = std::make_unique<TWriteThread>(Port->Shared);
    Port->WriterThread->Create();
}

void TComm::StartReadThread() {
    Port->ReaderThread->Start();
}

void TComm::StartWriteThread() {
    Port->WriterThread->Start();
}

void TComm::CloseReadThread() {
    if (Port)
        CloseThread(*Port, Port->ReaderThread, PURGE_RXABORT | PURGE_RXCLEAR);
}

void TComm::CloseWriteThread() {
    if (Port)
        CloseThread(*Port, Port->WriterThread, PURGE_TXABORT | PURGE_TXCLEAR);
}

TReplyRuleSlot* TComm::RuleSlot() {
    return Port ? &Port->Shared.Rules : nullptr;
}

bool TComm::PostWriteRequest(std::unique_ptr<uint8_t[]>& block, uint16_t count) {
    return Port->WriterThread && Port->WriterThread->PostWrite(block, count);
}

uint32_t TComm::GetModemState() {
    DWORD state = 0;
    if (!IsOpen() || !GetCommModemStatus(Port->Shared.PortHandle, &state))
        return 0;
    return state & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
}

bool TComm::_SetCommState() {
    DCB line{};
    line.DCBlength = sizeof line;
    if (!GetCommState(Port->Shared.PortHandle, &line))
        return false;
    line.BaudRate = FBaudRate;
    // The flags are rebuilt from nothing: binary always, never abort on an error.
    line.fBinary = TRUE;
    line.fParity = FParityCheck;
    line.fOutxCtsFlow = FOutx_CtsFlow;
    line.fOutxDsrFlow = FOutx_DsrFlow;
    line.fDtrControl = DtrCode(FDtrControl);
    line.fDsrSensitivity = FDsrSensitivity;
    line.fTXContinueOnXoff = FTxContinueOnXoff;
    line.fOutX = FOutx_XonXoffFlow;
    line.fInX = FInx_XonXoffFlow;
    line.fErrorChar = FReplaceWhenParityError;
    line.fNull = FIgnoreNullChar;
    line.fRtsControl = RtsCode(FRtsControl);
    line.fAbortOnError = FALSE;
    line.fDummy2 = 0;
    line.XonLim = FXonLimit;
    line.XoffLim = FXoffLimit;
    line.ByteSize = static_cast<BYTE>(static_cast<int>(FByteSize) + 5);
    line.Parity = static_cast<BYTE>(FParity);
    line.StopBits = static_cast<BYTE>(FStopBits);
    line.XonChar = FXonChar;
    line.XoffChar = FXoffChar;
    line.ErrorChar = FReplacedChar;
    Port->Shared.IgnoreNull = FIgnoreNullChar;
    return SetCommState(Port->Shared.PortHandle, &line) != FALSE;
}

// The read time-outs are the reader's to apply (TReadThread): the driver is asked only to end
// each read as soon as bytes stop coming, and to wait for ever for the first.
bool TComm::_SetCommTimeout() {
    Port->Shared.SetReadTimeouts(
        {FReadIntervalTimeout, FReadTotalTimeoutMultiplier, FReadTotalTimeoutConstant});
    if (Port->Shared.TimeoutsChanged)
        SetEvent(Port->Shared.TimeoutsChanged);
    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(Port->Shared.PortHandle, &timeouts))
        return false;
    timeouts.ReadIntervalTimeout = static_cast<DWORD>(DriverIntervalMs.count());
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = FWriteTotalTimeoutMultiplier;
    timeouts.WriteTotalTimeoutConstant = FWriteTotalTimeoutConstant;
    return SetCommTimeouts(Port->Shared.PortHandle, &timeouts) != FALSE;
}

} // namespace orv
