#include "flash_session.h"
#include "history/history.h"

namespace orv {

// ---- interrupts ----

void FlashSession::Interrupt() {
    ++interrupts_;
    if (finished_)
        return;
    if (interrupts_ > 1) {
        result_.DownloadMode = sequence_.MayBeInDownloadMode();
        Finish(kExitInterrupted, "interrupted twice: " + InterruptedText());
        return;
    }
    // Possibly inside an engine's handler (a question's nested loop): act once it has returned.
    Post([this] { ActOnInterrupt(); });
}

void FlashSession::ActOnInterrupt() {
    switch (phase_) {
    case Phase::Status:
    case Phase::Verify:
        Finish(kExitInterrupted, InterruptedText());
        return;
    case Phase::Probe:
        result_.DownloadMode = sequence_.MayBeInDownloadMode();
        Finish(kExitInterrupted, InterruptedText());
        return;
    case Phase::Restore:
        report_.Warning("interrupted: waiting for the restore-speed command (interrupt again to "
                        "quit at once)");
        return;
    case Phase::Update:
        break;
    case Phase::Done:
        return;
    }
    if (sequence_.MayBeInDownloadMode()) {
        // A PLC in its download mode obeys no restore-speed command: it is left as it is.
        sequence_.btAbortClick();
        result_.DownloadMode = true;
        Finish(kExitInterrupted, InterruptedText());
        return;
    }
    report_.Warning("interrupted: aborting, then the restore-speed command (interrupt again to "
                    "quit at once)");
    if (sequence_.UpdateState != UpdateSequence::Idle && !downloadOk_)
        sequence_.btAbortClick();
    EndRun();
}

std::string FlashSession::LeftInDownloadText() const {
    const std::string where = "stopped at page " + std::to_string(sequence_.FrameNumber()) +
                              " of " + std::to_string(sequence_.FrameCount()) + ": ";
    const std::string speed = std::to_string(args_.Speed) + " bit/s";
    if (!sequence_.DownloadModeSeen)
        return where + "no page was answered, so the PLC may be in download mode at " + speed +
               " with a partial OS, or not reached at all; run the update again, or switch it "
               "off and on";
    return where + "the PLC is in download mode at " + speed +
           " with a partial OS; run the update again, or switch it off and on";
}

// Where an interrupted run left its PLC.
std::string FlashSession::InterruptedText() const {
    std::string text = "interrupted: ";
    switch (phase_) {
    case Phase::Status:
    case Phase::Done:
        return text + "only the PLC's status was asked; nothing was changed";
    case Phase::Verify:
        return text + "the image went over and the restore-speed command was sent; the PLC's "
                      "status was not read to verify it";
    default:
        break;
    }
    if (result_.DownloadMode)
        return text + LeftInDownloadText();
    text += downloadOk_ ? "the image went over, not verified" : "the PLC's OS was not changed";
    if (sequence_.PlcStopped)
        text += "; the PLC was stopped and does not run its program";
    if (restoreSent_ && restoreAnswered_)
        text += "; its speed was restored";
    else if (restoreSent_)
        text += "; the restore-speed command got no answer: the PLC may still be at " +
                std::to_string(args_.Speed) + " bit/s";
    return text;
}

// ---- endings ----

void FlashSession::Fail(const std::string& text) {
    if (finished_)
        return;
    if (phase_ == Phase::Update && sequence_.SpeedChanged && !sequence_.MayBeInDownloadMode()) {
        // Once the speed was changed the restore-speed command goes out, if the PLC can obey.
        if (failure_.empty())
            failure_ = text;
        report_.Warning("orv-flash: " + text);
        AbortAndEnd();
        return;
    }
    if (phase_ == Phase::Update && sequence_.MayBeInDownloadMode()) {
        result_.DownloadMode = true;
        Finish(kExitFailed, text + "; " + LeftInDownloadText());
        return;
    }
    Finish(kExitFailed, text);
}

void FlashSession::Finish(int code, const std::string& text, const std::string& detail) {
    if (finished_)
        return;
    std::string message = text;
    if (statusFailed_ && !recovered_ && !message.empty() && args_.Mode == FlashArgs::TMode::Update)
        message += "; before it: Get PLC Status Fail !! (the update went on with station " +
                   std::to_string(args_.Station) + " as typed)";
    finished_ = true;
    phase_ = Phase::Done;
    tmTimeOut_.Disable();
    timer2_.Disable();
    watchdog_.Disable();
    result_.Exit = code;
    result_.Message = message;
    result_.Detail = detail;
    if (args_.DryRun && !result_.DryRun && (code == kExitFailed || code == kExitPort)) {
        DryRunVerdict v;
        v.Action = "unreachable";
        v.Image = imageInfo_;
        v.Speed = args_.Speed;
        v.StopPlc = args_.StopPlc;
        v.Why = message;
        if (code == kExitFailed)
            result_.Result = v.Action;
        result_.DryRun = v;
        report_.DryRun(v);
    }
    RecordHistory();
    report_.Done(result_);
}

// Every update that got as far as the port, whatever became of it; dry runs and status reads
// change nothing and are not updates.
void FlashSession::RecordHistory() {
    if (args_.Mode != FlashArgs::TMode::Update || args_.DryRun || !imageChecked_)
        return;
    const auto os = [](const std::optional<StatusReply>& reply) -> std::optional<HistoryOs> {
        if (!reply)
            return std::nullopt;
        return HistoryOs{reply->Version, reply->ReleaseDate, reply->FlashType};
    };
    HistoryEntry e;
    e.Started = HistoryTimeText(started_);
    e.Ended = HistoryTimeText(std::chrono::system_clock::now());
    e.Program = HistoryProgram("orv-flash");
    e.Host = HostName();
    e.User = UserName();
    e.Port = args_.Port;
    e.Station = args_.Station;
    e.Image = imagePath_;
    e.ImageSize = imageSize_;
    e.ImageCrc = imageCrc_;
    e.ImageOs = HistoryOs{imageInfo_.Version, imageInfo_.ReleaseDate, imageInfo_.FlashType};
    e.Before = os(result_.Before);
    e.After = os(result_.After);
    e.Result = ResultName(result_);
    e.Message = result_.Message;
    const std::string path = DefaultHistoryPath();
    if (const std::string why = AppendHistory(path, e); !why.empty())
        report_.Warning("orv-flash: the update history was not written: " + why);
}

} // namespace orv
