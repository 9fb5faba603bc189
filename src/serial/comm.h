#pragma once
// TComm: the one serial port of the program, with its reader and writer threads.
// Plain C++: what every platform shares is in comm.cpp, the port and its threads in a platform
// file pair (comm_posix.cpp, comm_win32.cpp). The worker threads reach the owner only through
// an ICommSink, whose consumer hands each notification back to TComm::Deliver on the GUI thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace orv {

class TComm;
struct TCommPort;
class TReplyRuleSlot;

// The platform file defines TCommPort and how it is released.
struct TCommPortDeleter {
    void operator()(TCommPort* port) const;
};

// Raised by StartComm. what() is the short message; Detail() the line shown beneath it:
// device path, the system's reason and what the technician can do about it.
class ECommsError : public std::runtime_error {
public:
    ECommsError(const std::string& message, std::string detail = {})
        : std::runtime_error(message), detail_(std::move(detail)) {}
    const std::string& Detail() const { return detail_; }

private:
    std::string detail_;
};

enum class TParity { None, Odd, Even, Mark, Space };
enum class TStopBits { _1, _1_5, _2 };
enum class TByteSize { _5, _6, _7, _8 };
enum class TDtrControl { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };

// Notification numbers, as the worker threads post them.
enum : uint32_t {
    MSG_RECEIVE_DATA = 0x0401,
    MSG_RECEIVE_ERROR = 0x0402,
    MSG_REQUEST_HANGUP = 0x0403,
    MSG_MODEM_STATE_CHANGE = 0x0404,
    MSG_SEND_DATA_EMPTY = 0x0405,
    MSG_REPLY_TAIL = 0x0406,
    MSG_LINE_ECHO = 0x0407,
};

// Line-error flags (OnReceiveError) and modem bits (OnModemStateChange, GetModemState).
enum : uint32_t {
    CE_OVERRUN = 0x2,
    CE_RXPARITY = 0x4,
    CE_FRAME = 0x8,
    CE_BREAK = 0x10,
    ME_RING = 0x4,
    ME_RLSD = 0x8,
    ME_RXCHAR = 0x10,
    MS_CTS_ON = 0x10,
    MS_DSR_ON = 0x20,
    MS_RING_ON = 0x40,
    MS_RLSD_ON = 0x80,
};

// What makes a received block a whole reply: at least Length bytes and, when Terminator is a
// byte value (0 to 255), that byte last. A block that begins with LeadByte (0 to 255) is of
// another form whatever was asked, a reply the other end may give to any request: it is whole
// by LeadLength and LeadTerminator instead. The bytes and lengths are the owner's; the
// component only cuts, and the owner judges what it was given.
struct TReplyRule {
    size_t Length = 0;
    int Terminator = -1;
    int LeadByte = -1; // -1: one form only
    size_t LeadLength = 0;
    int LeadTerminator = -1;

    // The bytes the block still lacks: 0 when it is a whole reply, otherwise the fewest that
    // could make it one (an empty block lacks at least one).
    size_t Missing(const uint8_t* block, size_t length) const;
};

// One notification on its way from a worker thread to the GUI thread. For MSG_RECEIVE_DATA,
// Block holds Count bytes and one zero byte, and whoever holds the notification owns it.
struct CommNotification {
    TComm* Target = nullptr;
    uint32_t Message = 0;
    uint32_t Count = 0;   // byte count (MSG_RECEIVE_DATA, MSG_REPLY_TAIL)
    uint32_t Value = 0;   // error flags or modem event bits
    uint32_t Session = 0; // which opening of the port posted it
    std::unique_ptr<uint8_t[]> Block;
};

// Where the worker threads post. Post never waits; on success it has taken the notification
// (and its block), on failure it leaves it untouched with the caller.
class ICommSink {
public:
    virtual ~ICommSink() = default;
    virtual bool Post(CommNotification& note) = 0;
    // Drops (and releases) everything still queued for target; called on the consumer's thread
    // when the component goes away.
    virtual void Discard(TComm* target) = 0;
};

class TComm {
public:
    // sink must outlive the component.
    explicit TComm(ICommSink* sink);
    // Stops the port if the owner has not: threads must not outlive the sink's consumer.
    virtual ~TComm();
    TComm(const TComm&) = delete;
    TComm& operator=(const TComm&) = delete;

    // The device StartComm opens: on POSIX a full path, or a bare name looked up in /dev/ and
    // then in the virtual-port folder.
    std::string CommName = "COM2";

    void StartComm();
    void StopComm();
    bool WriteCommData(const uint8_t* data, uint16_t count);
    // The rule for the reply to the next WriteCommData, or none. With none (the default) a
    // block ends only by the read-interval time-out, or when full. With a rule, a block also
    // ends the moment it is a whole reply. Bytes that come before that write has left the line,
    // or after its whole reply, cannot be its reply: they are the tail of a reply longer than
    // its rule, which lasts until the line is quiet for the read interval or the next request
    // has left the line. A tail is not delivered as data but reported by OnReplyTail, and from
    // then on the interval alone ends blocks, until the port is next opened. Does nothing while
    // the port is closed.
    // A write has left the line once its driver call has ended and its bytes' time on the wire
    // at the line's speed and character size has passed since it began: output queues that
    // read empty at once (a pseudo-terminal, a USB adapter) say nothing of the line.
    // Whatever the rule, the line's echo of a write (the first bytes to come after it began
    // are exactly its bytes, as a 2-wire RS-485 converter returns them) is removed before the
    // reply is read; OnLineEcho says so once per opening. Bytes that match only in part are no
    // echo: they arrive as data. Once the first bytes after a write were no copy of it, the
    // line does not echo, and for the rest of the opening a copy of a request is its reply (a
    // station accepting a stop answers with the request's very bytes): so an opening's first
    // request should be one whose reply differs from it.
    void SetReplyRule(const std::optional<TReplyRule>& rule);
    // How long no byte has come (since the port was opened when none has): a block the reader
    // still holds, not yet handed over, counts as heard. UINT32_MAX while the port is closed.
    uint32_t QuietMs();
    uint32_t GetModemState();
    bool IsOpen() const { return Port != nullptr; }

    // The consumer of the sink calls this on the GUI thread for each notification addressed
    // to this component; the data block is released when the handler has returned.
    void Deliver(CommNotification& note);

    std::function<void(TComm* Sender, const uint8_t* Buffer, uint16_t BufferLength)> OnReceiveData;
    std::function<void(TComm* Sender, uint32_t EventMask)> OnReceiveError;
    std::function<void(TComm* Sender, uint32_t ModemEvent)> OnModemStateChange;
    std::function<void(TComm* Sender)> OnRequestHangup;
    std::function<void(TComm* Sender)> OnSendDataEmpty;
    // A tail that a reply rule found out of place, kept out of the data.
    std::function<void(TComm* Sender, const uint8_t* Buffer, uint16_t BufferLength)> OnReplyTail;
    // The line echoes what is written (removed from the data): once per opening, at the first
    // echo seen.
    std::function<void(TComm* Sender)> OnLineEcho;

    // With ParityCheck on, a byte received with a parity or framing error raises
    // OnReceiveError (CE_RXPARITY, or CE_FRAME / CE_BREAK where the driver counts them apart)
    // and stays in the data as received, or becomes ReplacedChar with ReplaceWhenParityError.
    uint32_t BaudRate() const { return FBaudRate; }
    bool ParityCheck() const { return FParityCheck; }
    bool Outx_CtsFlow() const { return FOutx_CtsFlow; }
    bool Outx_DsrFlow() const { return FOutx_DsrFlow; }
    TDtrControl DtrControl() const { return FDtrControl; }
    bool DsrSensitivity() const { return FDsrSensitivity; }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    bool Outx_XonXoffFlow() const { return FOutx_XonXoffFlow; }
    bool Inx_XonXoffFlow() const { return FInx_XonXoffFlow; }
    bool ReplaceWhenParityError() const { return FReplaceWhenParityError; }
    bool IgnoreNullChar() const { return FIgnoreNullChar; }
    TRtsControl RtsControl() const { return FRtsControl; }
    uint16_t XonLimit() const { return FXonLimit; }
    uint16_t XoffLimit() const { return FXoffLimit; }
    TByteSize ByteSize() const { return FByteSize; }
    TParity Parity() const { return FParity; }
    TStopBits StopBits() const { return FStopBits; }
    char XonChar() const { return FXonChar; }
    char XoffChar() const { return FXoffChar; }
    char ReplacedChar() const { return FReplacedChar; }
    uint32_t ReadIntervalTimeout() const { return FReadIntervalTimeout; }
    uint32_t ReadTotalTimeoutMultiplier() const { return FReadTotalTimeoutMultiplier; }
    uint32_t ReadTotalTimeoutConstant() const { return FReadTotalTimeoutConstant; }
    uint32_t WriteTotalTimeoutMultiplier() const { return FWriteTotalTimeoutMultiplier; }
    uint32_t WriteTotalTimeoutConstant() const { return FWriteTotalTimeoutConstant; }

    // Each setter does nothing when the value is unchanged; otherwise it stores the value and,
    // only while the port is open, re-applies its whole group.
    void SetBaudRate(uint32_t v) { SetState(FBaudRate, v); }
    void SetParityCheck(bool v) { SetState(FParityCheck, v); }
    void SetOutx_CtsFlow(bool v) { SetState(FOutx_CtsFlow, v); }
    void SetOutx_DsrFlow(bool v) { SetState(FOutx_DsrFlow, v); }
    void SetDtrControl(TDtrControl v) { SetState(FDtrControl, v); }
    void SetDsrSensitivity(bool v) { SetState(FDsrSensitivity, v); }
    void SetTxContinueOnXoff(bool v) { SetState(FTxContinueOnXoff, v); }
    void SetOutx_XonXoffFlow(bool v) { SetState(FOutx_XonXoffFlow, v); }
    void SetInx_XonXoffFlow(bool v) { SetState(FInx_XonXoffFlow, v); }
    void SetReplaceWhenParityError(bool v) { SetState(FReplaceWhenParityError, v); }
    void SetIgnoreNullChar(bool v) { SetState(FIgnoreNullChar, v); }
    void SetRtsControl(TRtsControl v) { SetState(FRtsControl, v); }
    void SetXonLimit(uint16_t v) { SetState(FXonLimit, v); }
    void SetXoffLimit(uint16_t v) { SetState(FXoffLimit, v); }
    void SetByteSize(TByteSize v) { SetState(FByteSize, v); }
    void SetParity(TParity v) { SetState(FParity, v); }
    void SetStopBits(TStopBits v) { SetState(FStopBits, v); }
    void SetXonChar(char v) { SetState(FXonChar, v); }
    void SetXoffChar(char v) { SetState(FXoffChar, v); }
    void SetReplacedChar(char v) { SetState(FReplacedChar, v); }
    void SetReadIntervalTimeout(uint32_t v) { SetTimeout(FReadIntervalTimeout, v); }
    void SetReadTotalTimeoutMultiplier(uint32_t v) { SetTimeout(FReadTotalTimeoutMultiplier, v); }
    void SetReadTotalTimeoutConstant(uint32_t v) { SetTimeout(FReadTotalTimeoutConstant, v); }
    void SetWriteTotalTimeoutMultiplier(uint32_t v) { SetTimeout(FWriteTotalTimeoutMultiplier, v); }
    void SetWriteTotalTimeoutConstant(uint32_t v) { SetTimeout(FWriteTotalTimeoutConstant, v); }

    // The path StartComm opened, empty while closed.
    const std::string& PortPath() const { return FPortPath; }

private:
    template <class T>
    void SetState(T& field, T value) {
        if (field == value)
            return;
        field = value;
        if (IsOpen())
            _SetCommState();
    }
    template <class T>
    void SetTimeout(T& field, T value) {
        if (field == value)
            return;
        field = value;
        if (IsOpen())
            _SetCommTimeout();
    }

    void ReceiveData(const uint8_t* block, uint16_t count);
    void ReceiveError(uint32_t flags);
    void ModemStateChange(uint32_t word);
    void RequestHangup();
    void _SendDataEmpty();
    void ReplyTail(const uint8_t* block, uint16_t count);
    void LineEcho();
    [[noreturn]] void AbandonStart(const char* message, const std::exception& cause);
    void ClosePort();

    // The platform half, with GetModemState and TCommPort. Each step that fails throws:
    // OpenPort an ECommsError, with nothing held; the others any std::exception whose what()
    // tells why, after which StartComm releases what the earlier steps made.
    void OpenPort();        // opens CommName, sets Port and FPortPath, applies the settings
    void CreateStopEvent(); // the signal every wait of both threads includes
    void CreateReadThread();
    void CreateWriteThread();
    void StartReadThread();
    void StartWriteThread();
    // Each signals the stop, purges its direction and waits for its thread to end; nothing
    // when there is no such thread.
    void CloseReadThread();
    void CloseWriteThread();
    // Apply a whole group to the open port; the result is not acted on.
    bool _SetCommState();
    bool _SetCommTimeout();
    // Hands a block of count bytes (and one zero byte) to the writer; false, with the block
    // left to the caller, once the writer has ended.
    bool PostWriteRequest(std::unique_ptr<uint8_t[]>& block, uint16_t count);
    // Where the reply rule of the open port goes; nothing while closed.
    TReplyRuleSlot* RuleSlot();

    uint32_t FBaudRate = 9600;
    bool FParityCheck = false;
    bool FOutx_CtsFlow = false;
    bool FOutx_DsrFlow = false;
    TDtrControl FDtrControl = TDtrControl::DtrEnable;
    bool FDsrSensitivity = false;
    bool FTxContinueOnXoff = true;
    bool FOutx_XonXoffFlow = true;
    bool FInx_XonXoffFlow = true;
    bool FReplaceWhenParityError = false;
    bool FIgnoreNullChar = false;
    TRtsControl FRtsControl = TRtsControl::RtsEnable;
    uint16_t FXonLimit = 500;
    uint16_t FXoffLimit = 500;
    TByteSize FByteSize = TByteSize::_8;
    TParity FParity = TParity::None;
    TStopBits FStopBits = TStopBits::_1;
    char FXonChar = 0x11;
    char FXoffChar = 0x13;
    char FReplacedChar = 0;
    uint32_t FReadIntervalTimeout = 100;
    uint32_t FReadTotalTimeoutMultiplier = 0;
    uint32_t FReadTotalTimeoutConstant = 0;
    uint32_t FWriteTotalTimeoutMultiplier = 0;
    uint32_t FWriteTotalTimeoutConstant = 0;

    // The open port with its stop signal and threads; the port counts as open exactly while
    // this is set.
    std::unique_ptr<TCommPort, TCommPortDeleter> Port;
    ICommSink* NotifyWindow;
    uint32_t Session = 0;      // counts the openings of the port
    uint64_t WritesPosted = 0; // write requests the writer took in this opening
    std::string FPortPath;
};

} // namespace orv
