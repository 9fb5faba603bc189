#pragma once
// ICommPort over the program's TComm: the one adapter between the engines and the serial
// component, used by both front ends and orv-flash (library orv_comm_line_port, which links the
// serial link; the forms library itself needs none).

#include "forms/comm_port.h"
#include "serial/comm.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orv {

// The values the update window's port is created with; the connect dialog overwrites port,
// speed, parity, data bits and RTS before first use.
void SetStoredCommValues(TComm& comm);

// The TComm parity of the engines' parity.
TParity CommParity(LineParity parity);

// The rule that ends the reply to a frame the engines send, the moment it is whole: two bytes
// for a page frame, a station reply at its ETX for a station frame, and a station reply at its
// ETX for any block that starts with STX; none for anything else.
std::optional<TReplyRule> ReplyRuleFor(const uint8_t* frame, uint16_t count);

// Takes over comm's events for as long as it lives; comm must outlive it.
class TCommLinePort final : public ICommPort {
public:
    explicit TCommLinePort(TComm& comm);
    ~TCommLinePort() override;
    TCommLinePort(const TCommLinePort&) = delete;
    TCommLinePort& operator=(const TCommLinePort&) = delete;

    void Open() override;
    void Close() override;
    bool Write(const uint8_t* data, uint16_t count) override;
    void SetBaudRate(uint32_t baud) override;
    void SetDataBits(int bits) override;
    void SetParity(LineParity parity) override;
    uint32_t ReadIntervalMs() const override { return comm_.ReadIntervalTimeout(); }
    bool TakesRepliesWhole() const override { return whole_; }
    void TakeRepliesByInterval() override;
    uint32_t QuietMs() override { return comm_.QuietMs(); }

    void SetCommName(const std::string& name) override { comm_.CommName = name; }
    void SetRtsEnabled() override { comm_.SetRtsControl(TRtsControl::RtsEnable); }
    std::vector<std::string> ListPorts() override { return PortSource(); }

    // Each write gives TComm the rule of its reply.
    void SetRepliesWhole(bool on) override { wholeAsked_ = on; }
    // "115200 8E1"
    std::string LineText() const;

    // Where the port entries come from; tests put their own here.
    std::function<std::vector<std::string>()> PortSource;
    // For a frame trace: every block written ('>') and received ('<'), and notes on the line
    // (opened, closed, settings changed, line errors).
    std::function<void(char direction, const uint8_t* data, uint16_t count)> OnTrace;
    std::function<void(const std::string& text)> OnNote;
    // Replies are taken by the interval from now on: tail holds the bytes that came where no
    // reply could (empty when an engine found a cut block was not its reply). Once an opening.
    std::function<void(const std::vector<uint8_t>& tail)> OnIntervalTiming;
    // The line echoes what is sent (a 2-wire converter): the echoes are left out of what is
    // received. Once an opening.
    std::function<void()> OnLineEcho;
    // A write the port did not take (it has closed, or the line hung up): no send-buffer-empty
    // event will follow it.
    std::function<void()> OnWriteRefused;

private:
    void Note(const std::string& text);
    void NoteLine();
    void FallBack(const std::vector<uint8_t>& tail);

    TComm& comm_;
    bool lineDown_ = false;
    bool wholeAsked_ = false;
    bool whole_ = false; // replies are taken whole in this opening
};

} // namespace orv
