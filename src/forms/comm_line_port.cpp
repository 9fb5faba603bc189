#include "forms/comm_line_port.h"

#include "protocol/station.h"
#include "serial/port_list.h"
#include "update/os_image.h"

#include <cstdio>

namespace orv {

void SetStoredCommValues(TComm& comm) {
    comm.CommName = "COM1";
    comm.SetBaudRate(38400);
    comm.SetParityCheck(true);
    comm.SetOutx_CtsFlow(false);
    comm.SetOutx_DsrFlow(false);
    comm.SetDtrControl(TDtrControl::DtrEnable);
    comm.SetDsrSensitivity(false);
    comm.SetTxContinueOnXoff(false);
    comm.SetOutx_XonXoffFlow(false);
    comm.SetInx_XonXoffFlow(false);
    comm.SetReplaceWhenParityError(false);
    comm.SetIgnoreNullChar(true);
    comm.SetRtsControl(TRtsControl::RtsEnable);
    comm.SetXonLimit(500);
    comm.SetXoffLimit(500);
    comm.SetByteSize(TByteSize::_7);
    comm.SetParity(TParity::Even);
    comm.SetStopBits(TStopBits::_1);
    comm.SetXonChar(0x11);
    comm.SetXoffChar(0x13);
    comm.SetReplacedChar(0x00);
    comm.SetReadIntervalTimeout(100);
    comm.SetReadTotalTimeoutMultiplier(0);
    comm.SetReadTotalTimeoutConstant(0);
    comm.SetWriteTotalTimeoutMultiplier(0);
    comm.SetWriteTotalTimeoutConstant(0);
}

TParity CommParity(LineParity parity) {
    switch (parity) {
    case LineParity::Even:
        return TParity::Even;
    case LineParity::Odd:
        return TParity::Odd;
    case LineParity::None:
        break;
    }
    return TParity::None;
}

std::optional<TReplyRule> ReplyRuleFor(const uint8_t* frame, uint16_t count) {
    // Whatever was asked, a block that starts with STX is a station reply and ends at its ETX:
    // a stranger's late answer is then taken whole, never cut where a page answer would end.
    TReplyRule rule{0, -1, STX, kShortReplyLength, ETX};
    if (IsPageFrame(frame, count)) {
        rule.Length = kPageAnswerLength;
    } else if (const size_t length = StationReplyLength(frame, count)) {
        rule.Length = length;
        rule.Terminator = ETX;
    } else {
        return std::nullopt;
    }
    return rule;
}

TCommLinePort::TCommLinePort(TComm& comm) : PortSource(ListPortEntries), comm_(comm) {
    comm_.OnReceiveData = [this](TComm*, const uint8_t* buffer, uint16_t length) {
        if (OnTrace)
            OnTrace('<', buffer, length);
        if (OnReceiveData)
            OnReceiveData(buffer, length);
    };
    comm_.OnSendDataEmpty = [this](TComm*) {
        if (OnSendDataEmpty)
            OnSendDataEmpty();
    };
    // The adapter or the far end has gone. A write the writer thread would only drop brings no
    // send-buffer-empty event, so writes are refused from now on.
    comm_.OnRequestHangup = [this](TComm*) {
        lineDown_ = true;
        if (OnRequestHangup)
            OnRequestHangup();
    };
    comm_.OnReceiveError = [this](TComm*, uint32_t flags) {
        char text[48];
        std::snprintf(text, sizeof text, "line error 0x%X", static_cast<unsigned>(flags));
        Note(text);
    };
    comm_.OnReplyTail = [this](TComm*, const uint8_t* buffer, uint16_t length) {
        FallBack(std::vector<uint8_t>(buffer, buffer + length));
    };
    comm_.OnLineEcho = [this](TComm*) {
        if (OnLineEcho)
            OnLineEcho();
    };
}

TCommLinePort::~TCommLinePort() {
    comm_.OnReceiveData = nullptr;
    comm_.OnSendDataEmpty = nullptr;
    comm_.OnRequestHangup = nullptr;
    comm_.OnReceiveError = nullptr;
    comm_.OnReplyTail = nullptr;
    comm_.OnLineEcho = nullptr;
}

void TCommLinePort::Note(const std::string& text) {
    if (OnNote)
        OnNote(text);
}

void TCommLinePort::NoteLine() {
    Note("line " + LineText());
}

std::string TCommLinePort::LineText() const {
    const char parity = comm_.Parity() == TParity::Even  ? 'E'
                        : comm_.Parity() == TParity::Odd ? 'O'
                                                         : 'N';
    const int bits = static_cast<int>(comm_.ByteSize()) + 5;
    return std::to_string(comm_.BaudRate()) + " " + std::to_string(bits) + parity + "1";
}

void TCommLinePort::Open() {
    comm_.StartComm();
    lineDown_ = false;
    whole_ = wholeAsked_;
    Note("open " + comm_.PortPath() + " " + LineText());
}

void TCommLinePort::Close() {
    comm_.StopComm();
    Note("close");
}

bool TCommLinePort::Write(const uint8_t* data, uint16_t count) {
    if (OnTrace)
        OnTrace('>', data, count);
    if (whole_)
        comm_.SetReplyRule(ReplyRuleFor(data, count));
    const bool queued = !lineDown_ && comm_.WriteCommData(data, count);
    if (!queued && count > 0 && OnWriteRefused)
        OnWriteRefused();
    return queued;
}

void TCommLinePort::SetBaudRate(uint32_t baud) {
    if (comm_.BaudRate() == baud)
        return;
    comm_.SetBaudRate(baud);
    NoteLine();
}

void TCommLinePort::SetDataBits(int bits) {
    const TByteSize size = bits == 8 ? TByteSize::_8 : TByteSize::_7;
    if (comm_.ByteSize() == size)
        return;
    comm_.SetByteSize(size);
    NoteLine();
}

void TCommLinePort::SetParity(LineParity parity) {
    if (comm_.Parity() == CommParity(parity))
        return;
    comm_.SetParity(CommParity(parity));
    NoteLine();
}

void TCommLinePort::TakeRepliesByInterval() {
    FallBack({});
}

void TCommLinePort::FallBack(const std::vector<uint8_t>& tail) {
    if (!whole_)
        return;
    whole_ = false;
    comm_.SetReplyRule(std::nullopt);
    if (OnIntervalTiming)
        OnIntervalTiming(tail);
}

} // namespace orv
