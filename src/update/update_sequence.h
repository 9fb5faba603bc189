#pragma once
// The OS update: speed change, change mode (with the stop question), the pages, completion,
// abort and the restore-speed command on Exit. Driven only by events; talks to the world
// through the port, the update window's Timer2 and a view.

#include "protocol/link.h"
#include "protocol/reply_dispatch.h"
#include "protocol/station.h"
#include "update/os_image.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orv {

class IUpdateView {
public:
    virtual ~IUpdateView() = default;
    virtual void SetPanelStatus(const std::string& text) = 0; // pnlStatus, repainted at once
    virtual void SetStatusBar(const std::string& text) = 0;   // sbStatus
    virtual void SetGauge(int percent) = 0;                   // prbMain
    virtual void SetBusyButtons() = 0;
    virtual void SetIdleButtons() = 0;
    virtual void SetAbortEnabled(bool enabled) = 0;
    virtual void SetExitEnabled(bool enabled) = 0;
    virtual void ShowMessage(const std::string& text) = 0; // modal message box, OK
    virtual bool AskStopPlc() = 0;                         // the stop-PLC question: Yes?
    virtual void CloseWindow() = 0;
    virtual void Wait(int ms) = 0; // blocks the GUI thread (the wait before page 0)
    // PrepareImage: loads the chosen file; reports its own failure and returns nothing then.
    virtual std::optional<PreparedImage> PrepareImage() = 0;
    // The connect dialog's and speed dialog's choices, read when needed.
    virtual bool ConnectEightDataBits() = 0;   // data-bit choice is the first entry, "8"
    virtual int ConnectSpeedIndex() = 0;       // position of the connect speed
    virtual std::string UpdateSpeedText() = 0; // the speed dialog's text
    virtual std::string StationText() = 0;     // edStation
};

class UpdateSequence {
public:
    enum TUpdateState {
        Idle = 0,
        ChangeSpeed = 1,
        ChangeMode = 2,
        Programming = 3,
        StopPlc = 4,
        RestoreSpeed = 5
    };

    // How a run ended, or the restore after it, for callers that act on it (the texts go to
    // the view). Raised after the view has been told.
    struct TOutcome {
        enum class TKind {
            NotStarted, // the image could not be prepared; PrepareImage has said why
            Completed,  // "DU Reroro ... OK!!"
            ProgNack,   // the PLC refused Page with Answer
            NoResponse, // "Comm. No response abandon update" in State
            CantStop,   // "PLC Can't Stop"
            NotStopped, // the stop question was answered No
            Aborted,    // Abort, in State at Page
            Restored,   // the restore-speed exchange is over; Answered: by its own reply
        };
        TKind Kind = TKind::NotStarted;
        TUpdateState State = Idle;
        int Page = 0;
        std::vector<uint8_t> Answer;
        bool Answered = false;
    };

    UpdateSequence(ILinePort& port, ITimer& timer2, IUpdateView& view, StationState& station,
                   ReplyDispatch& dispatch);

    // Reads the station text and the update speed first: std::invalid_argument for either
    // that is not a number, before anything changes or is sent. Rethrows a failed port open
    // with the buttons back to idle.
    void btDUReroroClick();
    void btAbortClick();
    // Throws EFrameError (or std::invalid_argument for the station) when the restore command
    // cannot be built; the run is then left as it was.
    void btExitClick();
    // The window's close request (its close box, Alt+F4): true when the window may close now.
    // A run in progress is aborted and Exit follows; the window then closes when Exit closes
    // it, so the restore-speed command always goes out. Throws what btExitClick throws.
    bool FormCloseQuery();
    void FormClose();
    void CommSendDataEmpty();
    // The line has hung up: what was queued will never leave, so no send-buffer-empty event
    // will arm Timer2 for a run that waits for a reply.
    void CommRequestHangup();
    void Timer2Timer();
    void OnUpdateReply(const uint8_t* buffer, uint16_t length);
    // Sends page p of the held image, or completes the download when p is PageCount. Sends
    // nothing once the image is released or for a page outside it.
    void SendPage(int page);

    TUpdateState UpdateState = Idle;
    int RetryCount = 0;
    bool SpeedChanged = false;
    bool BlindTry = false;
    int CurrentPage = 0;
    int FirstPage = 0;
    int PageCount = 0;
    // A refused page is sent again this many times before "Prog NACK"; 0, as the windows
    // have it, gives up at the first refusal.
    int NakRetries = 0;
    // Held from "Update OS" until the run completes, fails or is aborted; nothing is sent from
    // it, and no stray reply or tick moves the run, once it is released.
    std::optional<PreparedImage> Image;
    std::function<void(const TOutcome&)> OnOutcome;
    // The PLC accepted the stop command in this run: it no longer runs its program.
    bool PlcStopped = false;
    // The PLC said it entered its download mode (accepted the change mode, or answered a page)
    // in this run; after a blind start with no answer, nothing says where it is.
    bool DownloadModeSeen = false;

    // Pages have gone out and the last one was not acknowledged: the PLC may be in its download
    // mode, where it obeys no station command (a restore-speed command among them).
    bool MayBeInDownloadMode() const { return downloadStarted_ && !downloadCompleted_; }
    // Where the page in flight stands in the run: 1 for page 0, and the number of frames.
    int FrameNumber() const;
    int FrameCount() const;

private:
    void Raise(TOutcome::TKind kind, int page = 0, std::vector<uint8_t> answer = {},
               bool answered = false);
    bool IsExpectedWhole(const uint8_t* reply, uint16_t length) const;
    void Retry();
    void EnterChangeMode();
    void StartProgramming(bool blind);
    void NextPage();
    void SendRefusedPageAgain();
    void Settle();
    void StopSettling();
    void Abandon(const std::string& message);
    std::string RefusalText(const uint8_t* reply, uint16_t length) const;
    void CloseNow();
    bool WaitingForReply() const;
    bool Answers(const uint8_t* reply, uint16_t length) const;
    void Send(const uint8_t* data, size_t count);
    void SendCommand(const uint8_t* frame, size_t count);
    void SendText(const std::string& frame);
    void ShowModalMessage(const std::string& text);
    bool AskStopPlcModal();

    ILinePort& port_;
    ITimer& timer_;
    IUpdateView& view_;
    StationState& station_;
    ReplyDispatch& dispatch_;
    uint8_t stationByte_ = 0; // edStation as read at the start of the run
    uint32_t updateBaud_ = 0; // the speed dialog's speed as read at the start of the run
    bool inModal_ = false;    // our own question or message box is open
    bool halted_ = false;     // No to the stop question, or "PLC Can't Stop": only Abort goes on
    bool unsent_ = false;     // a write has not yet left the send buffer
    // The current page was sent again on a time-out, so it may be acknowledged twice.
    bool resent_ = false;
    // Acknowledged after a resend: the next page waits for a quiet line (Timer2 then runs at
    // the port's read interval).
    bool settling_ = false;
    int refusals_ = 0;                 // of the current page
    bool downloadStarted_ = false;     // a page has been sent in this run
    bool downloadCompleted_ = false;   // ... and the last one acknowledged
    std::array<uint8_t, 5> command_{}; // the station frame in flight, up to its command code
};

} // namespace orv
