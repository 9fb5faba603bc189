#include "protocol/status_query.h"

#include <algorithm>
#include <string>

namespace orv {

namespace {
constexpr int kRetryIntervalMs = 500;
constexpr int kMaxSends = 4;
// Blocks heard while waiting for a quiet line before the first request: beyond this many, some
// other device keeps talking on the line and no reply could be told from its traffic.
constexpr int kMaxNoisyBlocks = 20;
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
    asked_ = station;
    concluded_ = false;
    noisyBlocks_ = 0;

    station_.StationHex = stationHex;
    CompleteStatusRequestFrame(station_, stationHex);

    // The first send follows at once from the timer; on a shared line only once it has been
    // quiet for a read interval, so that a late answer to someone else's request cannot pass
    // for ours.
    timer_.Disable();
    waitingQuiet_ = OwnStationOnly;
    timer_.SetInterval(
        waitingQuiet_ ? static_cast<int>(std::max<uint32_t>(port_.ReadIntervalMs(), 1)) : 1);
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

void StatusQuery::Conclude(StatusOutcome::TKind kind, std::optional<StatusReply> reply) {
    if (concluded_)
        return;
    concluded_ = true;
    if (OnOutcome) {
        StatusOutcome outcome;
        outcome.Kind = kind;
        outcome.Asked = asked_;
        outcome.Reply = std::move(reply);
        OnOutcome(outcome);
    }
}

bool StatusQuery::EchoesStationAsked(const uint8_t* block, uint16_t length) const {
    return length >= 3 && block[1] == station_.StatusRequestFrame[1] &&
           block[2] == station_.StatusRequestFrame[2];
}

void StatusQuery::tmTimeOutTimer() {
    if (StatusQueryActive != 1)
        return;
    timer_.Disable();
    if (waitingQuiet_) {
        // Bytes the reader still holds have not reached us yet: the quiet counts from them.
        const uint32_t interval = std::max<uint32_t>(port_.ReadIntervalMs(), 1);
        const uint32_t quiet = port_.QuietMs();
        if (quiet < interval) {
            if (++noisyBlocks_ > kMaxNoisyBlocks) {
                StatusQueryActive = 0;
                Conclude(StatusOutcome::TKind::LineNotQuiet);
                return;
            }
            timer_.SetInterval(static_cast<int>(interval - quiet));
            timer_.Enable();
            return;
        }
    }
    waitingQuiet_ = false;
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
    Conclude(StatusOutcome::TKind::NoReply);
}

void StatusQuery::Unrecognised() {
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
        Conclude(StatusOutcome::TKind::Unrecognised);
    }
}

void StatusQuery::StatusReplyHandler(const uint8_t* block, uint16_t length) {
    if (StatusQueryActive != 1)
        return;
    if (waitingQuiet_) {
        // Traffic from before our first request: dropped, and the quiet wait starts over.
        timer_.Disable();
        if (++noisyBlocks_ > kMaxNoisyBlocks) {
            StatusQueryActive = 0;
            Conclude(StatusOutcome::TKind::LineNotQuiet);
            return;
        }
        timer_.Enable();
        return;
    }
    const bool whole = port_.TakesRepliesWhole();
    const bool otherStation =
        OwnStationOnly && IsStationReply(block, length) && !EchoesStationAsked(block, length);
    if (otherStation && !whole)
        return; // another station's late answer; ours may still come
    timer_.Disable();

    // A block cut as a whole reply counts only when it is exactly one; anything else may be a
    // piece of something else, so the request goes again and the read interval ends blocks.
    std::optional<StatusReply> reply;
    if (!otherStation &&
        (!whole || (length == kStatusReplyLength && IsWholeStationReply(block, length))))
        reply = DecodeStatusReply(block, length);
    if (!reply) {
        if (whole)
            port_.TakeRepliesByInterval();
        Unrecognised();
        return;
    }
    if (OwnStationOnly && reply->Station != asked_) {
        // Two PLCs may answer to this station, or the PLC's own setting differs: adopting its
        // word would address a PLC nobody named.
        StatusQueryActive = 0;
        view_.SetStatusBar("");
        Conclude(StatusOutcome::TKind::OtherStation, std::move(reply));
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
    Conclude(StatusOutcome::TKind::Replied, std::move(reply));
}

} // namespace orv
