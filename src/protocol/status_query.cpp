#include "protocol/status_query.h"

#include <string>

namespace orv {

namespace {
constexpr int kRetryIntervalMs = 500;
constexpr int kMaxSends = 4;
constexpr const char* kAskingText = "Get PLC Status ....";
constexpr const char* kFailText = "Get PLC Status Fail";

std::string TryText(int count) {
    return std::string(kAskingText) + " try #" + std::to_string(count);
}
} // namespace

StatusQuery::StatusQuery(ILinePort& port, ITimer& tmTimeOut, IStatusView& view,
                         StationState& station, ReplyDispatch& dispatch)
    : port_(port), timer_(tmTimeOut), view_(view), station_(station), dispatch_(dispatch) {}

void StatusQuery::Start() {
    // The station is read before anything else so that a bad one leaves no half-started query.
    const int station = StationNumberFromText(view_.StationText());
    const std::string stationHex = FormatStationHex(station);

    if (dispatch_.PortOpened == 1)
        port_.Close();
    port_.Open();
    dispatch_.PortOpened = 1;

    dispatch_.ReplyHandler = [this](const uint8_t* block, uint16_t length) {
        StatusReplyHandler(block, length);
    };
    StatusQueryActive = 1;
    StatusTryCount = 0;

    station_.StationHex = stationHex;
    CompleteStatusRequestFrame(station_, stationHex);

    // The first send follows at once from the timer.
    timer_.Disable();
    timer_.SetInterval(1);
    timer_.Enable();
    view_.SetStatusBar(kAskingText);
}

void StatusQuery::ShowModalMessage(const std::string& text) {
    ModalScope scope(messageOpen_);
    view_.ShowMessage(text);
}

void StatusQuery::SendRequest() {
    port_.Write(station_.StatusRequestFrame.data(),
                static_cast<uint16_t>(station_.StatusRequestFrame.size()));
}

void StatusQuery::tmTimeOutTimer() {
    if (StatusQueryActive != 1)
        return;
    timer_.Disable();
    ++StatusTryCount;
    if (StatusTryCount <= kMaxSends) {
        SendRequest();
        timer_.SetInterval(kRetryIntervalMs);
        timer_.Enable();
        if (StatusTryCount > 1)
            view_.SetStatusBar(TryText(StatusTryCount));
        return;
    }
    ShowModalMessage("Get PLC Status Fail !!");
    view_.SetStatusBar(kFailText);
    view_.ShowStartupWindow();
    view_.EnableUpdateButtons();
}

void StatusQuery::StatusReplyHandler(const uint8_t* block, uint16_t length) {
    if (StatusQueryActive != 1)
        return;
    timer_.Disable();

    const auto reply = DecodeStatusReply(block, length);
    if (!reply) {
        ++StatusTryCount;
        if (StatusTryCount <= kMaxSends) {
            SendRequest();
            view_.SetStatusBar(TryText(StatusTryCount));
            // Without a fresh time-out a lost answer to this re-send would stall the query.
            timer_.SetInterval(kRetryIntervalMs);
            timer_.Enable();
        } else if (!messageOpen_) {
            // Noise goes on arriving while the box is open; one box says it all.
            ShowModalMessage("Connect Fail");
            view_.SetStatusBar(kFailText);
        }
        return;
    }

    station_.PortRegisterCode = reply->PortRegisterCode;
    station_.StationHex = reply->StationHex;
    view_.SetStationText(std::to_string(reply->Station));
    // Cleared before the modal status window, whose loop may deliver more blocks and ticks.
    StatusQueryActive = 0;
    view_.SetStatusBar("");
    view_.ShowPlcStatus(*reply);
    view_.EnableUpdateButtons();
}

} // namespace orv
