#include "update/update_sequence.h"

#include "common/hex.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orv {

namespace {

constexpr int kTimer2IntervalMs = 800;
constexpr int kWaitBeforeFirstPageMs = 200;
constexpr int kMaxRetries = 6;          // StopPlc, Programming: the 6th time-out gives up
constexpr int kChangeSpeedRetries = 5;  // carries on as if answered
constexpr int kRestoreSpeedRetries = 4; // closes the window
constexpr uint8_t kAck = 0x0D;
constexpr size_t kRefusalBytesShown = 16;

std::string Numbered(const char* text, int n) {
    return text + std::to_string(n);
}

uint32_t SpeedFromText(std::string_view text) {
    const std::string shown(text);
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    uint32_t baud = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), baud);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || baud == 0)
        throw std::invalid_argument("Update speed \"" + shown + "\" is not a number of bit/s");
    return baud;
}

} // namespace

UpdateSequence::UpdateSequence(ILinePort& port, ITimer& timer2, IUpdateView& view,
                               StationState& station, ReplyDispatch& dispatch)
    : port_(port), timer_(timer2), view_(view), station_(station), dispatch_(dispatch) {
    timer_.SetInterval(kTimer2IntervalMs);
}

void UpdateSequence::Send(const uint8_t* data, size_t count) {
    // A refused write (the port has gone) brings no send-buffer-empty event to arm Timer2;
    // arming it here lets the retries run out to a clear failure instead of a silent stall.
    if (port_.Write(data, static_cast<uint16_t>(count)))
        unsent_ = true;
    else
        timer_.Enable();
}

// Only an answer to this frame's command counts from now on.
void UpdateSequence::SendCommand(const uint8_t* frame, size_t count) {
    std::copy_n(frame, command_.size(), command_.begin());
    Send(frame, count);
}

void UpdateSequence::SendText(const std::string& frame) {
    SendCommand(reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
}

void UpdateSequence::Raise(TOutcome::TKind kind, int page, std::vector<uint8_t> answer,
                           bool answered) {
    if (!OnOutcome)
        return;
    TOutcome outcome;
    outcome.Kind = kind;
    outcome.State = UpdateState;
    outcome.Page = page;
    outcome.Answer = std::move(answer);
    outcome.Answered = answered;
    const auto handler = OnOutcome; // it may replace itself
    handler(outcome);
}

int UpdateSequence::FrameNumber() const {
    return CurrentPage == 0 ? 1 : 2 + CurrentPage - FirstPage;
}

int UpdateSequence::FrameCount() const {
    return 1 + PageCount - FirstPage;
}

// The modal windows run a nested event loop that keeps delivering blocks and ticks. Handling
// them there would re-enter a handler that is half-way through (a second stop question, a page
// sent twice, a page sent after "Prog NACK"), so they are dropped until the window closes; the
// sequence's own retries cover anything lost that way.
void UpdateSequence::ShowModalMessage(const std::string& text) {
    ModalScope scope(inModal_);
    view_.ShowMessage(text);
}

bool UpdateSequence::AskStopPlcModal() {
    ModalScope scope(inModal_);
    return view_.AskStopPlc();
}

void UpdateSequence::btDUReroroClick() {
    // Everything that can be refused is checked before anything changes or goes out.
    const int station = StationNumberFromText(view_.StationText());
    const uint32_t updateBaud = SpeedFromText(view_.UpdateSpeedText());
    if (station_.DownloadSpeedFrame.empty())
        throw std::logic_error("No download-speed command has been built");
    CompleteChangeModeFrame(station_);

    std::optional<PreparedImage> image = view_.PrepareImage();
    if (!image) {
        Raise(TOutcome::TKind::NotStarted);
        return;
    }
    const size_t needed = static_cast<size_t>(image->PageCount) * kPageSize;
    if (image->PageCount <= 0 || image->FirstPage < 1 || image->FirstPage >= image->PageCount ||
        image->Bytes.size() < needed)
        throw std::invalid_argument(
            "The prepared OS image is inconsistent: " + std::to_string(image->PageCount) +
            " pages, first page " + std::to_string(image->FirstPage) + ", " +
            std::to_string(image->Bytes.size()) + " bytes");

    stationByte_ = static_cast<uint8_t>(station);
    updateBaud_ = updateBaud;
    PageCount = image->PageCount;
    FirstPage = image->FirstPage;
    CurrentPage = 0;
    Image = std::move(image);

    view_.SetBusyButtons();
    BlindTry = false;
    halted_ = false;
    downloadStarted_ = false;
    downloadCompleted_ = false;
    PlcStopped = false;
    DownloadModeSeen = false;
    StopSettling();
    view_.SetGauge(0);
    UpdateState = ChangeSpeed;
    dispatch_.ReplyHandler = [this](const uint8_t* buffer, uint16_t length) {
        OnUpdateReply(buffer, length);
    };
    port_.SetDataBits(view_.ConnectEightDataBits() ? 8 : 7);
    if (!dispatch_.PortOpened) {
        try {
            port_.Open();
        } catch (...) {
            UpdateState = Idle;
            Image.reset();
            view_.SetIdleButtons();
            throw;
        }
        dispatch_.PortOpened = 1;
    }
    view_.SetPanelStatus("Change Download Speed ...");
    view_.SetStatusBar("Change Download Speed ..");
    dispatch_.AbortRequested = false;
    SpeedChanged = true;
    SendText(station_.DownloadSpeedFrame);
    RetryCount = 0;
    timer_.Enable();
}

void UpdateSequence::EnterChangeMode() {
    UpdateState = ChangeMode;
    port_.SetBaudRate(updateBaud_);
    view_.SetPanelStatus("Change Mode ...");
    view_.SetStatusBar("Change Mode ..");
    dispatch_.AbortRequested = false;
    SendCommand(station_.ChangeModeFrame.data(), station_.ChangeModeFrame.size());
    timer_.Enable();
    RetryCount = 0;
}

void UpdateSequence::StartProgramming(bool blind) {
    view_.SetStatusBar(blind ? "Blind try Update OS .." : "Update OS ..");
    port_.SetDataBits(8);
    port_.SetParity(LineParity::Even);
    UpdateState = Programming;
    if (!blind)
        view_.Wait(kWaitBeforeFirstPageMs);
    CurrentPage = 0;
    RetryCount = 0;
    refusals_ = 0;
    view_.SetAbortEnabled(true);
    view_.SetExitEnabled(false);
    BlindTry = blind;
    downloadStarted_ = true;
    SendPage(CurrentPage);
}

void UpdateSequence::NextPage() {
    StopSettling();
    refusals_ = 0;
    CurrentPage = CurrentPage == 0 ? FirstPage : CurrentPage + 1;
    SendPage(CurrentPage);
    RetryCount = 0;
}

// The PLC writes a page it is sent again, so a refused page may go once more. As after a
// time-out, two copies may now be answered, so an acknowledgement moves on only once the line
// has been quiet (a refusal meanwhile starts over).
void UpdateSequence::SendRefusedPageAgain() {
    StopSettling();
    ++refusals_;
    view_.SetStatusBar(Numbered("Prog NACK .. Try #", refusals_));
    resent_ = true;
    SendPage(CurrentPage);
}

// A page sent again on a time-out may be acknowledged twice: once late for the first copy,
// once for the second. Sent at once, the next page would take the second acknowledgement for
// its own, and every answer after it would pair with the wrong page. So the next page waits
// until the resent page has left and the line has then been quiet for the read interval, the
// gap that ends a reply.
void UpdateSequence::Settle() {
    settling_ = true;
    timer_.Disable();
    timer_.SetInterval(static_cast<int>(port_.ReadIntervalMs()));
    if (!unsent_)
        timer_.Enable(); // otherwise the send-buffer-empty event arms it
}

void UpdateSequence::StopSettling() {
    if (settling_)
        timer_.SetInterval(kTimer2IntervalMs);
    settling_ = false;
    resent_ = false;
}

void UpdateSequence::Abandon(const std::string& message) {
    // The download has failed: nothing may be sent from this image again.
    Image.reset();
    ShowModalMessage(message);
    view_.SetIdleButtons();
}

std::string UpdateSequence::RefusalText(const uint8_t* reply, uint16_t length) const {
    std::string bytes = HexDump(reply, std::min<size_t>(length, kRefusalBytesShown));
    if (length > kRefusalBytesShown)
        bytes += " ...";
    return "Prog NACK\nThe PLC refused page " + std::to_string(CurrentPage) + " (it answered " +
           bytes + " hex) and is left in download mode at " + std::to_string(updateBaud_) +
           " bit/s. Run the update again; switching the PLC off and on returns it to its old "
           "speed.";
}

// A run waits for a reply from the moment it sends until it completes, fails, halts or is
// aborted; only then may a reply, a time-out or a send-buffer-empty event move it. The image
// is held for exactly that long in the states that send from it.
bool UpdateSequence::WaitingForReply() const {
    if (dispatch_.AbortRequested || halted_)
        return false;
    switch (UpdateState) {
    case Idle:
        return false;
    case RestoreSpeed:
        return true;
    default:
        return Image.has_value();
    }
}

// Replies come late on a slow or busy PLC, after the command was already sent again or the
// sequence has moved on; taken as the answer to what is in flight now, every later answer
// would pair with the wrong request. A station reply therefore counts only when it echoes the
// command in flight, and none counts while pages are sent. A register write may be answered
// at the PLC's new speed, which the PC does not yet use: such a reply arrives garbled, so any
// block that is not a station reply still answers it.
bool UpdateSequence::Answers(const uint8_t* reply, uint16_t length) const {
    const bool stationReply = IsStationReply(reply, length);
    switch (UpdateState) {
    case ChangeSpeed:
    case RestoreSpeed:
        return !stationReply || EchoesCommand(reply, length, command_.data());
    case ChangeMode:
    case StopPlc:
        return EchoesCommand(reply, length, command_.data());
    case Programming:
        return !stationReply;
    case Idle:
        break;
    }
    return false;
}

// With replies taken whole, a block was cut where the reply should end; only exactly the reply
// expected moves the run on. A page is answered by two bytes, CR second; a station command by
// one whole station reply that echoes it.
bool UpdateSequence::IsExpectedWhole(const uint8_t* reply, uint16_t length) const {
    if (UpdateState == Programming)
        return length == 2 && reply[1] == kAck;
    return IsWholeStationReply(reply, length) && EchoesCommand(reply, length, command_.data());
}

void UpdateSequence::CloseNow() {
    timer_.Disable();
    UpdateState = Idle;
    view_.CloseWindow();
}

void UpdateSequence::OnUpdateReply(const uint8_t* buffer, uint16_t length) {
    if (inModal_ || !WaitingForReply())
        return;
    if (port_.TakesRepliesWhole() && !IsExpectedWhole(buffer, length)) {
        // Cut where no reply ends: a refusal, a stranger's answer or a piece of one. Never a
        // "Prog NACK" on that alone: the request goes again and the read interval decides.
        port_.TakeRepliesByInterval();
        timer_.Disable();
        StopSettling();
        Retry();
        return;
    }
    if (length < 2 && UpdateState != ChangeSpeed)
        return;
    if (!Answers(buffer, length))
        return; // the time-out runs on
    timer_.Disable();

    // The error code of a station reply; a reply too short to carry one is no acceptance.
    const bool accepted = length > 5 && buffer[5] == '0';
    switch (UpdateState) {
    case ChangeSpeed:
        EnterChangeMode();
        break;
    case ChangeMode:
        if (accepted) {
            DownloadModeSeen = true;
            StartProgramming(false);
        } else if (AskStopPlcModal()) {
            CompleteStopPlcFrame(station_);
            UpdateState = StopPlc;
            RetryCount = 0;
            view_.SetStatusBar("Stop PLC ..");
            SendCommand(station_.StopPlcFrame.data(), station_.StopPlcFrame.size());
            timer_.Enable();
        } else {
            halted_ = true;
            // A send-buffer-empty event may have armed it while the question was open.
            timer_.Disable();
            view_.SetStatusBar("");
            Raise(TOutcome::TKind::NotStopped);
        }
        break;
    case StopPlc:
        if (accepted) {
            PlcStopped = true;
            UpdateState = ChangeMode;
            view_.SetPanelStatus("Change Mode ...");
            view_.SetStatusBar("Change Mode ..");
            SendCommand(station_.ChangeModeFrame.data(), station_.ChangeModeFrame.size());
            RetryCount = 0;
        } else {
            halted_ = true;
            ShowModalMessage("PLC Can't Stop");
            view_.SetStatusBar("");
            Raise(TOutcome::TKind::CantStop);
        }
        break;
    case Programming:
        DownloadModeSeen = true;
        if (buffer[1] != kAck && refusals_ < NakRetries) {
            SendRefusedPageAgain();
        } else if (buffer[1] != kAck) {
            StopSettling();
            UpdateState = Idle;
            Abandon(RefusalText(buffer, length));
            Raise(TOutcome::TKind::ProgNack, CurrentPage,
                  std::vector<uint8_t>(buffer, buffer + length));
        } else {
            BlindTry = false;
            if (resent_)
                Settle(); // a second acknowledgement starts the wait again
            else
                NextPage();
        }
        break;
    case RestoreSpeed: {
        // Closing takes any reply, but only its own reply says the PLC took the command.
        const bool own = EchoesCommand(buffer, length, command_.data());
        CloseNow();
        Raise(TOutcome::TKind::Restored, 0, {}, own);
        break;
    }
    case Idle:
        break;
    }
}

void UpdateSequence::Timer2Timer() {
    timer_.Disable();
    if (inModal_ || !WaitingForReply())
        return;
    if (settling_) {
        NextPage();
        return;
    }
    Retry();
}

// A time-out, or a block that was not the reply: the request goes again, or the state's last
// try ends it.
void UpdateSequence::Retry() {
    ++RetryCount;

    if (RetryCount >= kMaxRetries) {
        if (UpdateState == ChangeMode) {
            StartProgramming(true);
        } else {
            Abandon("Comm. No response abandon update");
            Raise(TOutcome::TKind::NoResponse, CurrentPage);
        }
        return;
    }
    switch (UpdateState) {
    case ChangeSpeed:
        if (RetryCount == kChangeSpeedRetries) {
            EnterChangeMode();
        } else {
            SendText(station_.DownloadSpeedFrame);
            view_.SetStatusBar(Numbered("Change Download Baud .. Try #", RetryCount));
        }
        break;
    case ChangeMode:
        SendCommand(station_.ChangeModeFrame.data(), station_.ChangeModeFrame.size());
        view_.SetStatusBar(Numbered("Change Mode .. Try #", RetryCount));
        break;
    case Programming:
        view_.SetStatusBar(Numbered("Prog .. Try #", RetryCount));
        resent_ = true;
        SendPage(CurrentPage);
        break;
    case StopPlc:
        view_.SetStatusBar(Numbered("Stop PLC .. Try #", RetryCount));
        SendCommand(station_.StopPlcFrame.data(), station_.StopPlcFrame.size());
        break;
    case RestoreSpeed:
        if (RetryCount == kRestoreSpeedRetries) {
            CloseNow();
            Raise(TOutcome::TKind::Restored);
        } else {
            SendText(station_.DownloadSpeedFrame);
        }
        break;
    case Idle:
        break;
    }
}

void UpdateSequence::SendPage(int page) {
    if (!Image || page < 0 || page > PageCount)
        return;
    if (page == PageCount) {
        view_.SetIdleButtons();
        view_.SetGauge(100);
        view_.SetPanelStatus("DU Reroro ... OK!!");
        view_.SetStatusBar("");
        port_.SetDataBits(view_.ConnectEightDataBits() ? 8 : 7);
        Image.reset();
        downloadCompleted_ = true;
        Raise(TOutcome::TKind::Completed, page);
        return;
    }
    const auto frame = BuildPageFrame(*Image, stationByte_, page);
    Send(frame.data(), frame.size());
    view_.SetPanelStatus(Numbered(BlindTry ? "Blind try page #" : "page #", page));
    view_.SetGauge(PageGaugePercent(page, PageCount, FirstPage));
}

void UpdateSequence::btAbortClick() {
    dispatch_.AbortRequested = true;
    timer_.Disable();
    StopSettling();
    Image.reset();
    view_.SetPanelStatus("Comm. Aborted!!");
    view_.SetIdleButtons();
    Raise(TOutcome::TKind::Aborted, CurrentPage);
}

void UpdateSequence::btExitClick() {
    if (!SpeedChanged) {
        CloseNow();
        return;
    }
    // Built first: a station or speed that cannot be sent leaves everything as it was.
    StationState rebuilt = station_;
    BuildSpeedFrame(rebuilt, StationNumberFromText(view_.StationText()), view_.ConnectSpeedIndex());
    station_.DownloadSpeedFrame = rebuilt.DownloadSpeedFrame;

    SpeedChanged = false;
    Image.reset();
    StopSettling();
    halted_ = false;
    UpdateState = RestoreSpeed;
    // Nothing to press until the restore is over: "Update OS" would send the restore command
    // again as its speed change, and Abort would leave the window waiting for ever.
    view_.SetBusyButtons();
    view_.SetAbortEnabled(false);
    view_.SetPanelStatus("Restore Speed ...");
    view_.SetStatusBar("Restore Speed ..");
    dispatch_.AbortRequested = false;
    // A status query may have taken the dispatch since the run (orv-flash reads the status at
    // the download speed before it restores a PLC it found no status for).
    dispatch_.ReplyHandler = [this](const uint8_t* buffer, uint16_t length) {
        OnUpdateReply(buffer, length);
    };
    SendText(station_.DownloadSpeedFrame);
    RetryCount = 0;
    timer_.Enable();
}

bool UpdateSequence::FormCloseQuery() {
    if (inModal_ || UpdateState == RestoreSpeed)
        return false; // the restore reply or its time-outs close the window
    if (Image)
        btAbortClick();
    if (!SpeedChanged)
        return true;
    btExitClick();
    return false;
}

void UpdateSequence::FormClose() {
    timer_.Disable();
    StopSettling();
    UpdateState = Idle;
    Image.reset();
    // However the window closed, it opens next time ready for a run.
    view_.SetIdleButtons();
}

void UpdateSequence::CommSendDataEmpty() {
    unsent_ = false;
    if (WaitingForReply())
        timer_.Enable();
}

void UpdateSequence::CommRequestHangup() {
    CommSendDataEmpty();
}

} // namespace orv
