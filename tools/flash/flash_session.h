#pragma once
// One run of orv-flash: the status query and the update sequence of the windows, unchanged,
// with the terminal in place of the windows. The "operator" is this class: it presses Update
// OS after the status, Abort when the sequence halts, and Exit (the restore-speed command)
// after every run that changed the speed; then it reads the status again to verify. It runs on
// the event loop it is given, which may serve other sessions at the same time.

#include "event_loop.h"
#include "flash_args.h"
#include "flash_console.h"
#include "flash_output.h"
#include "protocol/link.h"
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

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPort = 3;
constexpr int kExitVerify = 4;

// The engines' port seam over TComm, with the frame trace.
class FlashLinePort final : public ILinePort {
public:
    FlashLinePort(TComm& comm, FlashOutput& out) : comm_(comm), out_(out) {}
    // As the update window's Comm is set up, with the line of args and line errors traced.
    void SetUp(const FlashArgs& args, uint32_t readIntervalMs);
    // What the connect dialog applies: args' speed, parity and data bits.
    void ApplyLine(const FlashArgs& args);
    void Open() override;
    void Close() override;
    bool Write(const uint8_t* data, uint16_t count) override;
    void SetBaudRate(uint32_t baud) override;
    void SetDataBits(int bits) override;
    void SetParity(LineParity parity) override;
    uint32_t ReadIntervalMs() const override { return comm_.ReadIntervalTimeout(); }

    std::string LineText() const; // "115200 8E1"
    // Each frame written asks the port to end its reply the moment it is whole (TComm's reply
    // rule); off, only the read interval ends one, as in the windows.
    bool FastReplies = false;
    // Called after every write the port took, and with the refusal of one it did not.
    std::function<void()> OnWritten;
    std::function<void()> OnRefused;

private:
    void NoteLine();
    TComm& comm_;
    FlashOutput& out_;
};

class FlashSession final : public IStatusView, public IUpdateView {
public:
    // The sink delivers on loop's thread; console answers the stop question.
    FlashSession(const FlashArgs& args, FlashOutput& out, TEventLoop& loop, ICommSink& sink,
                 TConsole& console);
    ~FlashSession() override;
    FlashSession(const FlashSession&) = delete;
    FlashSession& operator=(const FlashSession&) = delete;

    // Sets the job going on the loop; Finished() holds once it is over, with ExitCode().
    void Start();
    bool Finished() const { return finished_; }
    int ExitCode() const { return exitCode_; }
    // Start, then run the loop until the job is over, and close the port: the exit code.
    int Run();
    // Closes the port of a finished job, so that another session may open it.
    void ClosePort() { comm_.StopComm(); }

    // On the loop's thread: the first interrupt aborts and restores, the second quits.
    void Interrupt();

    // IStatusView and IUpdateView (the windows' shared StationText, SetStatusBar and
    // ShowMessage serve both).
    std::string StationText() override { return stationText_; }
    void SetStationText(const std::string& text) override { stationText_ = text; }
    void SetStatusBar(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    void ShowPlcStatus(const StatusReply& reply) override;
    void ShowStartupWindow() override {}
    void EnableUpdateButtons() override;

    void SetPanelStatus(const std::string& text) override;
    void SetGauge(int percent) override;
    void SetBusyButtons() override { busy_ = true; }
    void SetIdleButtons() override;
    void SetAbortEnabled(bool) override {}
    void SetExitEnabled(bool) override {}
    bool AskStopPlc() override;
    void CloseWindow() override;
    void Wait(int ms) override;
    std::optional<PreparedImage> PrepareImage() override;
    bool ConnectEightDataBits() override { return args_.DataBits == 8; }
    int ConnectSpeedIndex() override { return args_.BaudIndex; }
    std::string UpdateSpeedText() override { return std::to_string(args_.Speed); }

private:
    enum class Phase { Status, Update, Restore, Verify, Done };

    template <typename F>
    void Guard(F&& work);
    void Post(std::function<void()> work);
    void Activity();

    void ConfigureComm();
    bool CheckImage();
    void EmitStart();

    void StartStatus();
    void AfterStatus();
    void StartUpdate();
    void CheckHalted();
    void EndRun();
    void AbortThenRestore();
    void AfterClose();
    void StartVerify();
    void StartVerifyQuery();
    void VerifyConcluded();
    void Compare(const StatusReply& reply);

    void OnReceive(const uint8_t* data, uint16_t count);
    void OnReplyTail(const uint8_t* data, uint16_t count);
    void OnHangup();
    void Watchdog();
    bool AskOnTerminal(const std::string& question);

    std::string AfterFailureText(const StatusReply* reply);
    void Fail(const std::string& text);
    void Finish(int code, const std::string& text, const std::string& detail = {});

    FlashArgs args_;
    FlashOutput& out_;
    TEventLoop& loop_;
    TConsole& console_;
    TComm comm_;
    TLoopTimer tmTimeOut_;
    TLoopTimer timer2_;
    TLoopTimer watchdog_;
    FlashLinePort port_;
    StationState station_;
    ReplyDispatch dispatch_;
    StatusQuery query_;
    UpdateSequence sequence_;

    Phase phase_ = Phase::Status;
    std::string stationText_;
    ImageInfo imageInfo_;
    std::optional<StatusReply> statusReply_;
    bool statusConcluded_ = false;
    int queryGen_ = 0; // which status query a posted conclusion belongs to
    bool busy_ = false;
    bool downloadOk_ = false;
    bool restoreSent_ = false;
    bool restoreAnswered_ = false;
    bool afterFailure_ = false;   // the status is read after a failed run, not to verify
    bool statusFailed_ = false;   // the first status query got no answer
    std::optional<bool> imageOs_; // after a failed run: whether the PLC reports the image's OS
    std::optional<StatusReply> plcAfter_;
    std::string failure_;
    std::string lastPanel_;
    std::string lastStatusBar_;
    std::chrono::steady_clock::time_point verifyStart_;
    std::chrono::steady_clock::time_point lastActivity_;
    std::chrono::steady_clock::time_point progressStart_;
    bool asking_ = false;
    int interrupts_ = 0;
    bool finished_ = false;
    int exitCode_ = kExitFailed;
};

} // namespace orv
