#pragma once
// One run of orv-flash: the status query and the update sequence of the windows, with the
// terminal in place of the windows. The "operator" is this class: it presses Update OS after
// the status, Abort when the sequence halts, and Exit (the restore-speed command) when the PLC
// can obey it; then it reads the status again to verify. It decides on the engines' outcomes,
// never on their texts, and leaves the words to its FlashReport. It runs on the event loop it
// is given, which may serve other sessions at the same time.

#include "event_loop.h"
#include "flash_args.h"
#include "flash_console.h"
#include "flash_report.h"
#include "forms/comm_line_port.h"
#include "protocol/reply_dispatch.h"
#include "protocol/station.h"
#include "protocol/status_query.h"
#include "serial/comm.h"
#include "update/os_image.h"
#include "update/update_sequence.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace orv {

// The line settings of args on comm (closed or open): port, speed, parity, data bits, and the
// read interval, over the values the update window's port starts with.
void SetUpFlashComm(TComm& comm, const FlashArgs& args, uint32_t readIntervalMs);

class FlashSession final : public IStatusView, public IUpdateView {
public:
    // The sink delivers on loop's thread; console answers the stop question.
    FlashSession(const FlashArgs& args, FlashReport& report, TEventLoop& loop, ICommSink& sink,
                 TConsole& console);
    ~FlashSession() override;
    FlashSession(const FlashSession&) = delete;
    FlashSession& operator=(const FlashSession&) = delete;

    // Sets the job going on the loop; Finished() holds once it is over, with Result().
    void Start();
    bool Finished() const { return finished_; }
    int ExitCode() const { return result_.Exit; }
    const FlashRunResult& Result() const { return result_; }
    // Start, then run the loop until the job is over, and close the port: the exit code.
    int Run();
    // Closes the port of a finished job, so that another session may open it.
    void ClosePort() { comm_.StopComm(); }

    // On the loop's thread. The first interrupt acts as Abort: a PLC not yet in its download
    // mode gets its speed back, one in it is left as it is and said to be; nothing new starts.
    // The second ends the run at once.
    void Interrupt();

    // IStatusView and IUpdateView (StationText, SetStatusBar and ShowMessage serve both).
    std::string StationText() override { return stationText_; }
    void SetStationText(const std::string& text) override { stationText_ = text; }
    void SetStatusBar(const std::string& text) override { report_.StatusBar(text); }
    void ShowMessage(const std::string& text) override;
    void ShowPlcStatus(const StatusReply&) override {}
    void ShowStartupWindow() override {}
    void EnableUpdateButtons() override {}

    void SetPanelStatus(const std::string& text) override { report_.Panel(text); }
    void SetGauge(int percent) override;
    void SetBusyButtons() override {}
    void SetIdleButtons() override {}
    void SetAbortEnabled(bool) override {}
    void SetExitEnabled(bool) override {}
    bool AskStopPlc() override;
    void CloseWindow() override {}
    void Wait(int ms) override;
    std::optional<PreparedImage> PrepareImage() override;
    bool ConnectEightDataBits() override { return args_.DataBits == 8; }
    int ConnectSpeedIndex() override { return args_.BaudIndex; }
    std::string UpdateSpeedText() override { return std::to_string(args_.Speed); }

private:
    enum class Phase { Status, Update, Probe, Restore, Verify, Done };

    template <typename F>
    void Guard(F&& work);
    void Post(std::function<void()> work);
    void Activity();

    bool CheckImage();
    void ApplyConnectLine();
    void StartQuery();
    void OnStatus(const StatusOutcome& outcome);
    void StartUpdate();
    void OnUpdate(const UpdateSequence::TOutcome& outcome);
    void AfterDownload();
    void StartProbe();
    void ProbeConcluded(const StatusOutcome& outcome);
    void AbortAndEnd();
    void EndRun();
    void AfterRestore();
    void StartVerify();
    void VerifyConcluded(const StatusOutcome& outcome);
    void ActOnInterrupt();

    void OnReceive(const uint8_t* data, uint16_t count);
    void OnHangup();
    void Watchdog();
    bool AskOnTerminal(const std::string& question);

    void DryRunReached(const StatusReply& reply);
    void RecordHistory();

    std::string LeftInDownloadText() const;
    std::string InterruptedText() const;
    void Fail(const std::string& text);
    void Finish(int code, const std::string& text, const std::string& detail = {});

    FlashArgs args_;
    FlashReport& report_;
    TEventLoop& loop_;
    TConsole& console_;
    TComm comm_;
    TLoopTimer tmTimeOut_;
    TLoopTimer timer2_;
    TLoopTimer watchdog_;
    TCommLinePort port_;
    StationState station_;
    ReplyDispatch dispatch_;
    StatusQuery query_;
    UpdateSequence sequence_;

    Phase phase_ = Phase::Status;
    std::string stationText_;
    ImageInfo imageInfo_;
    bool imageChecked_ = false;
    std::string imagePath_; // absolute, for the history
    long long imageSize_ = -1;
    int imageCrc_ = -1;
    std::chrono::system_clock::time_point started_;
    FlashRunResult result_;
    int queryGen_ = 0;          // which status query a posted outcome belongs to
    bool statusFailed_ = false; // the first status query got no answer: the register is unknown
    bool downloadOk_ = false;
    bool recovered_ = false; // ... yet the PLC answered at the download speed afterwards
    bool restoreSent_ = false;
    bool restoreAnswered_ = false;
    std::string failure_;
    std::chrono::steady_clock::time_point verifyStart_;
    std::chrono::steady_clock::time_point lastActivity_;
    std::chrono::steady_clock::time_point progressStart_;
    bool asking_ = false;
    int interrupts_ = 0;
    bool finished_ = false;
};

} // namespace orv
