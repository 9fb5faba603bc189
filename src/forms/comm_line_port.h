#pragma once
// ICommPort over the program's TComm, for the front ends. Inline, so that the forms library
// itself needs no serial link: a front end that includes this links orv_serial.

#include "forms/comm_port.h"
#include "serial/comm.h"
#include "serial/port_list.h"

namespace orv {

// The values the update window's port is created with; the connect dialog overwrites port,
// speed, parity, data bits and RTS before first use.
inline void SetStoredCommValues(TComm& comm) {
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

// Takes over comm's events for as long as it lives; comm must outlive it.
class TCommLinePort final : public ICommPort {
public:
    explicit TCommLinePort(TComm& comm) : comm_(comm) {
        comm_.OnReceiveData = [this](TComm*, const uint8_t* buffer, uint16_t length) {
            if (OnReceiveData)
                OnReceiveData(buffer, length);
        };
        comm_.OnSendDataEmpty = [this](TComm*) {
            if (OnSendDataEmpty)
                OnSendDataEmpty();
        };
        // The adapter or the far end has gone. A write the writer thread would only drop
        // brings no send-buffer-empty event, so writes are refused from now on.
        comm_.OnRequestHangup = [this](TComm*) {
            lineDown_ = true;
            if (OnRequestHangup)
                OnRequestHangup();
        };
    }
    ~TCommLinePort() override {
        comm_.OnReceiveData = nullptr;
        comm_.OnSendDataEmpty = nullptr;
        comm_.OnRequestHangup = nullptr;
    }
    TCommLinePort(const TCommLinePort&) = delete;
    TCommLinePort& operator=(const TCommLinePort&) = delete;

    void Open() override {
        comm_.StartComm();
        lineDown_ = false;
    }
    void Close() override { comm_.StopComm(); }
    bool Write(const uint8_t* data, uint16_t count) override {
        return !lineDown_ && comm_.WriteCommData(data, count);
    }
    void SetBaudRate(uint32_t baud) override { comm_.SetBaudRate(baud); }
    void SetDataBits(int bits) override {
        comm_.SetByteSize(bits == 8 ? TByteSize::_8 : TByteSize::_7);
    }
    void SetParity(LineParity parity) override {
        switch (parity) {
        case LineParity::Even:
            comm_.SetParity(TParity::Even);
            break;
        case LineParity::Odd:
            comm_.SetParity(TParity::Odd);
            break;
        case LineParity::None:
            comm_.SetParity(TParity::None);
            break;
        }
    }
    uint32_t ReadIntervalMs() const override { return comm_.ReadIntervalTimeout(); }

    void SetCommName(const std::string& name) override { comm_.CommName = name; }
    void SetRtsEnabled() override { comm_.SetRtsControl(TRtsControl::RtsEnable); }
    std::vector<std::string> ListPorts() override { return PortSource(); }

    // Where the port entries come from; tests put their own here.
    std::function<std::vector<std::string>()> PortSource = ListPortEntries;

private:
    TComm& comm_;
    bool lineDown_ = false;
};

} // namespace orv
