#pragma once
// "Get PLC's Status": sends the status request up to four times, 500 ms apart, and decodes
// the reply. Talks to the world through the port, the startup window's tmTimeOut and a view.

#include "protocol/link.h"
#include "protocol/station.h"

#include <cstdint>
#include <string>

namespace orv {

class IStatusView {
public:
    virtual ~IStatusView() = default;
    virtual std::string StationText() = 0;                    // the connect dialog's edStation
    virtual void SetStationText(const std::string& text) = 0; // the PLC's own station
    virtual void SetStatusBar(const std::string& text) = 0;   // the startup window's sbStatus
    virtual void ShowMessage(const std::string& text) = 0;    // modal message box, OK
    // Hide the startup window, fill the status window (title "PLC Status"), show it modally,
    // then show the startup window again.
    virtual void ShowPlcStatus(const StatusReply& reply) = 0;
    virtual void ShowStartupWindow() = 0;
    virtual void EnableUpdateButtons() = 0; // btNext and btUpdateBaud
};

class StatusQuery {
public:
    StatusQuery(ILinePort& port, ITimer& tmTimeOut, IStatusView& view, StationState& station,
                ReplyDispatch& dispatch);

    // The rest of "Get PLC's Status" once the connect dialog has closed. Throws what the port
    // throws when it cannot be opened, and std::invalid_argument for a station text that is
    // not a whole number; nothing is sent then.
    void Start();
    void tmTimeOutTimer();
    void StatusReplyHandler(const uint8_t* block, uint16_t length);

    int32_t StatusQueryActive = 0;
    int32_t StatusTryCount = 0;

private:
    void SendRequest();
    void ShowModalMessage(const std::string& text);

    ILinePort& port_;
    ITimer& timer_;
    IStatusView& view_;
    StationState& station_;
    ReplyDispatch& dispatch_;
    bool messageOpen_ = false; // one of the query's message boxes is open
};

} // namespace orv
