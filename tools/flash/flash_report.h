#pragma once
// Everything orv-flash tells: one typed call per event, each rendered here both as the lines
// people read and as the JSON event scripts parse (FlashOutput writes whichever the run asked
// for, and the frame trace). The runs decide; this only words what they decided.

#include "flash_args.h"
#include "flash_output.h"
#include "history/history.h"
#include "protocol/station.h"
#include "update/os_image.h"

#include <optional>
#include <string>
#include <vector>

namespace orv {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPort = 3;
constexpr int kExitVerify = 4;
constexpr int kExitNoStation = 5;
constexpr int kExitInterrupted = 130;

// What a dry run found a PLC to need.
struct DryRunVerdict {
    std::string Action; // "update", "current" or "unreachable"
    std::optional<StatusReply> Plc;
    ImageInfo Image;
    int Speed = 0;
    StopPlcAnswer StopPlc = StopPlcAnswer::Ask;
    bool SkipCurrent = false;
    std::string Why; // "unreachable": what the status query met
};
// The verdict in a sentence, as the run and the plan's summary say it.
std::string DryRunText(const DryRunVerdict& verdict);

// What a run found and left, as its done event and a plan's summary report it.
struct FlashRunResult {
    int Exit = kExitFailed;
    std::string Message;
    std::string Detail; // beneath the message: the port's reason and what to do
    std::optional<StatusReply> Before, After;
    // After a failure: the PLC's status read afterwards, and whether it names the image's OS.
    bool AfterFailure = false;
    std::optional<bool> ImageOs;
    // The PLC may be in its download mode: it answers no station command, so nothing else on
    // its line can be reached until it is updated or switched off and on.
    bool DownloadMode = false;
    // "current" when --skip-current left the PLC alone, a dry run's action; empty: the exit
    // code names the result.
    std::string Result;
    std::optional<DryRunVerdict> DryRun;
    std::optional<ImageInfo> Image; // the image's OS, once the image passed its checks
};

std::string ResultName(int exitCode);                 // "ok", "failed", "interrupted", ...
std::string ResultName(const FlashRunResult& result); // ... and "current", "update", ...

// A plan's PLC as the plan file names it, and what became of it.
struct PlanRow {
    int Line = 0;
    std::string Port;
    int Station = 0;
    std::string Image;
};
struct PlanOutcome : PlanRow {
    bool Run = false; // false: not started (Message says why)
    int Exit = kExitFailed;
    std::string Result; // ResultName of the run, or "not-run"
    std::optional<ImageInfo> ImageOs;
    std::string Message;
    std::optional<StatusReply> Before, After;
    bool DownloadMode = false;
    double Seconds = 0;
};

// Where the OS a PLC reports differs from an image's: empty when it is the same.
struct OsComparison {
    std::string Text;                // "version: the PLC reports 1.00, the image holds 1.61; ..."
    std::vector<std::string> Fields; // "version", "date", "flash"
    bool Same() const { return Fields.empty(); }
};
OsComparison CompareOs(const StatusReply& reply, const ImageInfo& image);
// After a failed run: what the status read afterwards says of the OS (reply null: none came).
std::string AfterFailureText(const StatusReply* reply, const ImageInfo& image);

// With --json: the done event of a run that ended before any run of its own could say so:
// refused before it began (bad arguments, a refused plan: kExitUsage), or a failure to start.
void ReportEnd(int exitCode, const std::string& reason);

class FlashReport {
public:
    explicit FlashReport(FlashOutput& out) : out_(out) {}
    virtual ~FlashReport() = default;
    FlashReport(const FlashReport&) = delete;
    FlashReport& operator=(const FlashReport&) = delete;

    FlashOutput& Output() { return out_; }

    // A single run (update or status).
    virtual void Start(const FlashArgs& args);
    virtual void Image(const std::string& path, const ImageInfo& info, const PreparedImage& image);
    // phase: "status" (before the update), "probe" (at the download speed afterwards) or
    // "verify".
    virtual void PlcStatus(const char* phase, const StatusReply& reply);
    virtual void Message(const std::string& text);
    virtual void StatusBar(const std::string& text);
    virtual void Panel(const std::string& text);
    virtual void Progress(const ProgressInfo& info);
    virtual void Question(const std::string& text, bool answer, const std::string& by);
    virtual void Restore(bool answered);
    virtual void Verify(const StatusReply& reply, const OsComparison& comparison);
    // --skip-current: the PLC reports the image's OS already and is left alone.
    virtual void Current(const StatusReply& reply);
    virtual void DryRun(const DryRunVerdict& verdict);
    virtual void IntervalTiming(const std::vector<uint8_t>& tail);
    virtual void LineEcho();
    virtual void Step(const std::string& text);    // a line saying what the run does next
    virtual void Warning(const std::string& text); // on stderr, in every mode
    virtual void Done(const FlashRunResult& result);

    // --scan
    virtual void ScanStart(const FlashArgs& args, const std::string& lineText, int timeoutMs);
    virtual void ScanStation(int station, const StatusReply& reply);
    virtual void ScanUnreadable(int station);
    virtual void ScanDone(int exitCode, const std::string& message, const std::string& detail,
                          const std::vector<int>& found, const std::vector<int>& unreadable,
                          size_t asked, double seconds);

    // --plan
    virtual void PlanStart(const std::string& file, const std::vector<PlanRow>& rows, size_t ports);
    virtual void PlanSummary(const std::vector<PlanOutcome>& outcomes, int exitCode, bool dryRun);

    // --history: the entries shown of what was read from path.
    virtual void History(const std::string& path, const HistoryReading& reading,
                         const std::vector<const HistoryEntry*>& shown, int exitCode);

protected:
    FlashOutput& out_;

private:
    std::string lastPanel_;
    std::string lastStatusBar_;
    bool done_ = false;
    bool echoSaid_ = false;
};

} // namespace orv
