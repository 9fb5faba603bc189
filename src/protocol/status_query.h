#pragma once
// "Get PLC's Status": sends the status request up to four times, 500 ms apart, and decodes
// the reply. Talks to the world through the port, the startup window's tmTimeOut and a view.

#include "protocol/link.h"
#include "protocol/reply_dispatch.h"
#include "protocol/station.h"

#include <cstdint>
#include <functional>
#include <optional>
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

// How a status query ended, for callers that act on it (the texts go to the view).
struct StatusOutcome {
    enum class TKind {
        Replied,      // a status reply was decoded: Reply holds it
        NoReply,      // "Get PLC Status Fail !!": four requests went unanswered
        Unrecognised, // "Connect Fail": five blocks that were no status reply
        OtherStation, // the reply to Asked names another station as the PLC's own
        LineNotQuiet, // the line never fell quiet for the first request
    };
    TKind Kind = TKind::NoReply;
    int Asked = 0; // the station asked
    std::optional<StatusReply> Reply;
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

    // For a line with several PLCs (orv-flash): the first request waits for a quiet line, a
    // reply counts only when it echoes the station asked, and a reply that names another
    // station as the PLC's own ends the query instead of being adopted. The windows, meant for
    // one PLC on a cable, adopt whatever station answers.
    bool OwnStationOnly = false;
    // Called once per query with how it ended, after the view has been told.
    std::function<void(const StatusOutcome&)> OnOutcome;

private:
    void SendRequest();
    void ShowModalMessage(const std::string& text);
    void Conclude(StatusOutcome::TKind kind, std::optional<StatusReply> reply = std::nullopt);
    bool EchoesStationAsked(const uint8_t* block, uint16_t length) const;
    void Unrecognised();

    ILinePort& port_;
    ITimer& timer_;
    IStatusView& view_;
    StationState& station_;
    ReplyDispatch& dispatch_;
    bool messageOpen_ = false;  // one of the query's message boxes is open
    int asked_ = 0;             // the station of this query's requests
    bool concluded_ = false;    // OnOutcome has been called for this query
    bool waitingQuiet_ = false; // OwnStationOnly: no request sent yet, the line not yet quiet
    int noisyBlocks_ = 0;       // blocks heard while waiting for a quiet line
};

} // namespace orv
