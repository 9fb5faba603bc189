#include "flash_session.h"

#include <chrono>
#include <cstdio>

namespace orv {

namespace {

using Clock = std::chrono::steady_clock;

// The PLC boots its new OS after the restore command; until then it does not answer.
constexpr auto kVerifyWindow = std::chrono::seconds(10);

} // namespace

// The download is over, well or not. A PLC that took every page gets its speed back at once,
// unless no status told the register its speed lives in; one that may still be in its download
// mode cannot obey a restore. Its status at the download speed tells which it is, and names the
// register.
void FlashSession::AfterDownload() {
    if (downloadOk_ && !statusFailed_) {
        EndRun();
        return;
    }
    StartProbe();
}

void FlashSession::StartProbe() {
    phase_ = Phase::Probe;
    report_.Step("Reading the PLC's status at " + std::to_string(args_.Speed) +
                 " bit/s: whether it left its download mode, and where its speed is kept");
    // The PLC's station protocol at the download speed keeps the connect line's format.
    port_.SetDataBits(args_.DataBits);
    port_.SetParity(ParityOfIndex(args_.ParityIndex));
    StartQuery();
}

void FlashSession::ProbeConcluded(const StatusOutcome& outcome) {
    if (outcome.Kind == StatusOutcome::TKind::Replied) {
        // Out of its download mode; the query has taken the register the PLC names.
        report_.PlcStatus("probe", *outcome.Reply);
        recovered_ = statusFailed_;
        EndRun();
        return;
    }
    if (sequence_.MayBeInDownloadMode()) {
        result_.DownloadMode = true;
        Finish(kExitFailed, failure_ + "; " + LeftInDownloadText());
        return;
    }
    // Every page was acknowledged, yet no status at the download speed: the restore goes as
    // the windows send it, and the verification tells.
    EndRun();
}

void FlashSession::AbortAndEnd() {
    sequence_.btAbortClick();
    EndRun();
}

void FlashSession::EndRun() {
    phase_ = Phase::Restore;
    restoreSent_ = sequence_.SpeedChanged;
    sequence_.btExitClick();
    if (!restoreSent_)
        Post([this] { AfterRestore(); });
}

void FlashSession::AfterRestore() {
    if (phase_ != Phase::Restore)
        return;
    sequence_.FormClose();
    if (interrupts_ > 0) {
        Finish(kExitInterrupted, InterruptedText());
        return;
    }
    result_.AfterFailure = !downloadOk_;
    if (result_.AfterFailure && failure_.empty())
        failure_ = "the update did not complete";
    StartVerify();
}

// ---- verification ----

void FlashSession::StartVerify() {
    phase_ = Phase::Verify;
    verifyStart_ = Clock::now();
    report_.Step(result_.AfterFailure ? "After the failure: reading the PLC's status"
                                      : "Verify: reading the PLC's status");
    // The connect dialog sets the line again at the next connection.
    ApplyConnectLine();
    StartQuery();
}

void FlashSession::VerifyConcluded(const StatusOutcome& outcome) {
    if (outcome.Kind == StatusOutcome::TKind::Replied) {
        const StatusReply& reply = *outcome.Reply;
        result_.After = reply;
        report_.PlcStatus("verify", reply);
        const OsComparison comparison = CompareOs(reply, imageInfo_);
        if (result_.AfterFailure) {
            result_.ImageOs = comparison.Same();
            Finish(kExitFailed, failure_ + "; " + AfterFailureText(&reply, imageInfo_));
            return;
        }
        report_.Verify(reply, comparison);
        if (!comparison.Same()) {
            Finish(kExitVerify, "verification failed: " + comparison.Text);
            return;
        }
        Finish(kExitOk, recovered_ ? "recovered: the PLC answered no status at first (it was "
                                     "in its download mode, or at another speed); it took the "
                                     "image, its speed was restored through the register it "
                                     "names, and it runs the new OS"
                                   : "");
        return;
    }
    if (Clock::now() - verifyStart_ < kVerifyWindow) {
        report_.Step("  no status yet: the PLC may still be starting its new OS");
        ApplyConnectLine();
        StartQuery();
        return;
    }
    if (result_.AfterFailure) {
        Finish(kExitFailed, failure_ + "; " + AfterFailureText(nullptr, imageInfo_));
        return;
    }
    char waited[64];
    std::snprintf(waited, sizeof waited, " (no status reply in %.1f s after the restore)",
                  std::chrono::duration<double>(Clock::now() - verifyStart_).count());
    Finish(kExitVerify, std::string("verification failed: Get PLC Status Fail !!") + waited);
}

} // namespace orv
