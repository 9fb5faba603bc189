#include "flash_session.h"

#include "common/hex.h"
#include "common/platform_io.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <thread>

namespace orv {

namespace {

using Clock = std::chrono::steady_clock;
using Kind = UpdateSequence::TOutcome::TKind;

constexpr const char* kStopQuestion = "PLC is Running !! Are you sure to stop the PLC ?";
// Every step of the engines ticks a timer at least each 800 ms; this long a silence means the
// port stopped reporting (a writer that never empties, a lost notification).
constexpr auto kWatchdogLimit = std::chrono::seconds(15);

double SecondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

} // namespace

void SetUpFlashComm(TComm& comm, const FlashArgs& args, uint32_t readIntervalMs) {
    SetStoredCommValues(comm);
    comm.CommName = args.CommName;
    comm.SetReadIntervalTimeout(readIntervalMs);
    comm.SetBaudRate(static_cast<uint32_t>(args.Baud));
    comm.SetParity(CommParity(ParityOfIndex(args.ParityIndex)));
    comm.SetByteSize(args.DataBits == 8 ? TByteSize::_8 : TByteSize::_7);
}

FlashSession::FlashSession(const FlashArgs& args, FlashReport& report, TEventLoop& loop,
                           ICommSink& sink, TConsole& console)
    : args_(args), report_(report), loop_(loop), console_(console), comm_(&sink),
      tmTimeOut_(loop,
                 [this] {
                     Activity();
                     Guard([this] { query_.tmTimeOutTimer(); });
                 }),
      timer2_(loop,
              [this] {
                  Activity();
                  Guard([this] { sequence_.Timer2Timer(); });
              }),
      watchdog_(loop, [this] { Watchdog(); }), port_(comm_),
      query_(port_, tmTimeOut_, *this, station_, dispatch_),
      sequence_(port_, timer2_, *this, station_, dispatch_),
      stationText_(std::to_string(args.Station)), lastActivity_(Clock::now()) {
    // The windows' design intervals; the engines set them again where they need to.
    tmTimeOut_.SetInterval(500);
    timer2_.SetInterval(800);
    watchdog_.SetInterval(1000);

    port_.SetRepliesWhole(!args_.IntervalTiming);
    sequence_.NakRetries = args_.NakRetries;
    query_.OwnStationOnly = true;
    // Outcomes are acted on once the engine's handler has returned, never inside it.
    query_.OnOutcome = [this](const StatusOutcome& outcome) {
        const int gen = queryGen_;
        Post([this, gen, outcome] {
            if (gen == queryGen_)
                OnStatus(outcome);
        });
    };
    sequence_.OnOutcome = [this](const UpdateSequence::TOutcome& outcome) {
        Post([this, outcome] { OnUpdate(outcome); });
    };

    port_.OnTrace = [this](char direction, const uint8_t* data, uint16_t count) {
        Activity();
        report_.Output().Trace(direction, port_.LineText(), data, count);
    };
    port_.OnNote = [this](const std::string& text) { report_.Output().TraceNote(text); };
    port_.OnWriteRefused = [this] {
        // The engines do not look at the result; without the bytes on their way no time-out
        // would ever be armed, so the run ends here.
        Post([this] { Fail("the serial port refused a write: it is no longer open"); });
    };
    port_.OnIntervalTiming = [this](const std::vector<uint8_t>& tail) {
        Activity();
        report_.IntervalTiming(tail);
    };
    port_.OnLineEcho = [this] { report_.LineEcho(); };
    port_.OnReceiveData = [this](const uint8_t* data, uint16_t count) { OnReceive(data, count); };
    port_.OnSendDataEmpty = [this] {
        Activity();
        Guard([this] { sequence_.CommSendDataEmpty(); });
    };
    port_.OnRequestHangup = [this] { OnHangup(); };
}

FlashSession::~FlashSession() {
    comm_.StopComm();
}

template <typename F>
void FlashSession::Guard(F&& work) {
    if (finished_)
        return;
    try {
        work();
    } catch (const ECommsError& e) {
        Finish(kExitPort, e.what(), e.Detail());
    } catch (const std::exception& e) {
        Fail(e.what());
    }
}

void FlashSession::Post(std::function<void()> work) {
    loop_.Post([this, work = std::move(work)] { Guard(work); });
}

void FlashSession::Activity() {
    lastActivity_ = Clock::now();
}

// What the connect dialog applies: the line of the arguments.
void FlashSession::ApplyConnectLine() {
    comm_.SetBaudRate(static_cast<uint32_t>(args_.Baud));
    comm_.SetParity(CommParity(ParityOfIndex(args_.ParityIndex)));
    comm_.SetByteSize(args_.DataBits == 8 ? TByteSize::_8 : TByteSize::_7);
}

bool FlashSession::CheckImage() {
    // The image is checked before the PLC is touched; the sequence prepares it again itself.
    const PrepareResult prepared = PrepareImageFile(args_.Image);
    if (prepared.Outcome != PrepareOutcome::Ready) {
        std::string text = PrepareResultText(prepared, args_.Image);
        if (text.empty())
            text = prepared.Outcome == PrepareOutcome::EmptyFile
                       ? "the image file " + args_.Image + " is empty"
                       : "no image file given";
        Finish(kExitFailed, text);
        return false;
    }
    std::array<uint8_t, kImageHeaderSize> header{};
    std::copy_n(prepared.Image.Bytes.begin(), header.size(), header.begin());
    imageInfo_ = DecodeImageHeader(header);
    result_.Image = imageInfo_;
    imageChecked_ = true;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(PathOf(args_.Image), error);
    imagePath_ = error ? args_.Image : TextOf(absolute);
    ImageFileFacts(args_.Image, imageSize_, imageCrc_);
    report_.Image(args_.Image, imageInfo_, prepared.Image);
    return true;
}

void FlashSession::Start() {
    started_ = std::chrono::system_clock::now();
    SetUpFlashComm(comm_, args_, 100);
    station_.StationHex = FormatStationHex(args_.Station);
    station_.PortSettingWord = ComputePortSettingWord(args_.DataBits == 8, args_.ParityIndex);
    report_.Start(args_);
    if (args_.Mode == FlashArgs::TMode::Update && !CheckImage())
        return;
    Post([this] {
        phase_ = Phase::Status;
        StartQuery();
    });
    watchdog_.Enable();
}

int FlashSession::Run() {
    Start();
    loop_.RunUntil([this] { return finished_; });
    comm_.StopComm();
    return result_.Exit;
}

// ---- status ----

void FlashSession::StartQuery() {
    ++queryGen_;
    query_.Start();
}

void FlashSession::ShowMessage(const std::string& text) {
    // A failed try of the probe or the verification is not the end; their outcome says more.
    if (phase_ == Phase::Status || phase_ == Phase::Update)
        report_.Message(text);
}

void FlashSession::OnStatus(const StatusOutcome& outcome) {
    if (phase_ == Phase::Probe) {
        ProbeConcluded(outcome);
        return;
    }
    if (phase_ == Phase::Verify) {
        VerifyConcluded(outcome);
        return;
    }
    if (phase_ != Phase::Status)
        return;
    const bool update = args_.Mode == FlashArgs::TMode::Update;
    switch (outcome.Kind) {
    case StatusOutcome::TKind::Replied:
        result_.Before = outcome.Reply;
        report_.PlcStatus("status", *outcome.Reply);
        if (!update) {
            Finish(kExitOk, "");
        } else if (args_.DryRun) {
            DryRunReached(*outcome.Reply);
        } else if (args_.SkipCurrent && CompareOs(*outcome.Reply, imageInfo_).Same()) {
            // What the verification would accept after an update: nothing is left to do.
            result_.Result = "current";
            result_.After = outcome.Reply;
            report_.Current(*outcome.Reply);
            Finish(kExitOk, "");
        } else {
            StartUpdate();
        }
        break;
    case StatusOutcome::TKind::NoReply:
        // As the window lets the operator go on without a status: the update then finds out.
        // A dry run does not go blind: it says so.
        statusFailed_ = !args_.DryRun;
        if (update && !args_.DryRun)
            StartUpdate();
        else
            Finish(kExitFailed, "Get PLC Status Fail !!");
        break;
    case StatusOutcome::TKind::Unrecognised:
        Finish(kExitFailed, "Connect Fail");
        break;
    case StatusOutcome::TKind::OtherStation:
        Finish(kExitFailed,
               "station " + std::to_string(outcome.Asked) +
                   " was asked, but the PLC that answered names itself station " +
                   std::to_string(outcome.Reply->Station) +
                   ": two PLCs may share a station number, or this one's setting differs; "
                   "nothing was changed");
        break;
    case StatusOutcome::TKind::LineNotQuiet:
        Finish(kExitFailed, "the line never fell quiet: another device keeps talking on it, so "
                            "no reply could be told apart; nothing was sent");
        break;
    }
}

// ---- dry run ----

void FlashSession::DryRunReached(const StatusReply& reply) {
    DryRunVerdict v;
    v.Plc = reply;
    v.Image = imageInfo_;
    v.Speed = args_.Speed;
    v.StopPlc = args_.StopPlc;
    v.SkipCurrent = args_.SkipCurrent;
    v.Action = args_.SkipCurrent && CompareOs(reply, imageInfo_).Same() ? "current" : "update";
    result_.Result = v.Action;
    result_.DryRun = v;
    report_.DryRun(v);
    Finish(kExitOk, "");
}

// ---- update ----

void FlashSession::StartUpdate() {
    phase_ = Phase::Update;
    // "Proceed to Update OS": the download-speed frame for the station now in the field.
    BuildSpeedFrame(station_, StationNumberFromText(stationText_), args_.SpeedIndex);
    sequence_.btDUReroroClick();
}

void FlashSession::SetGauge(int percent) {
    if (phase_ != Phase::Update || sequence_.UpdateState != UpdateSequence::Programming ||
        sequence_.PageCount <= sequence_.FirstPage)
        return;
    const int total = sequence_.FrameCount();
    const bool complete = percent >= 100;
    const int page = complete ? sequence_.PageCount - 1 : sequence_.CurrentPage;
    const int done = complete ? total : sequence_.FrameNumber() - 1;
    if (page == 0 && !complete)
        progressStart_ = Clock::now();
    ProgressInfo info;
    info.Page = page;
    info.Percent = percent;
    info.FramesDone = done;
    info.FramesTotal = total;
    info.Blind = sequence_.BlindTry;
    const double elapsed = SecondsSince(progressStart_);
    if (done > 0 && elapsed > 0) {
        info.BytesPerSecond = done * 256.0 / elapsed;
        info.SecondsLeft = (total - done) * 256.0 / info.BytesPerSecond;
    }
    report_.Progress(info);
}

bool FlashSession::AskStopPlc() {
    bool answer = false;
    std::string by = "option";
    if (args_.StopPlc == StopPlcAnswer::Yes) {
        answer = true;
    } else if (args_.StopPlc == StopPlcAnswer::Ask) {
        if (TConsole::InputIsTerminal()) {
            by = "terminal";
            answer = AskOnTerminal(kStopQuestion);
        } else {
            by = "no-terminal";
        }
    }
    report_.Question(kStopQuestion, answer, by);
    return answer;
}

bool FlashSession::AskOnTerminal(const std::string& question) {
    std::FILE* to = report_.Output().Json() ? stderr : stdout;
    std::fprintf(to, "%s [y/N] ", question.c_str());
    std::fflush(to);
    // A nested loop, like the window's modal question: blocks and ticks go on meanwhile. The
    // reply outlives this call should it come after an interrupt ended the question.
    struct TReply {
        bool Given = false;
        bool Yes = false;
    };
    const auto reply = std::make_shared<TReply>();
    console_.ReadAnswer([this, reply](const std::string& text) {
        loop_.Post([reply, text] {
            reply->Given = true;
            reply->Yes = !text.empty() && (text[0] == 'y' || text[0] == 'Y');
        });
    });
    asking_ = true;
    loop_.RunUntil([&] { return reply->Given || finished_ || interrupts_ > 0; });
    asking_ = false;
    if (!reply->Given)
        console_.CancelAnswer();
    Activity();
    return reply->Yes && !finished_ && interrupts_ == 0;
}

void FlashSession::Wait(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::optional<PreparedImage> FlashSession::PrepareImage() {
    PrepareResult prepared = PrepareImageFile(args_.Image);
    if (prepared.Outcome == PrepareOutcome::Ready)
        return std::move(prepared.Image);
    failure_ = PrepareResultText(prepared, args_.Image);
    if (failure_.empty())
        failure_ = "the image could not be prepared";
    report_.Message(failure_);
    return std::nullopt;
}

void FlashSession::OnUpdate(const UpdateSequence::TOutcome& outcome) {
    if (finished_)
        return;
    if (outcome.Kind == Kind::Restored) {
        restoreAnswered_ = outcome.Answered;
        report_.Restore(outcome.Answered);
        AfterRestore();
        return;
    }
    if (outcome.Kind == Kind::Completed)
        downloadOk_ = true; // whatever else happens now, the PLC took every page
    // An interrupt has taken over; our own Abort also comes back here.
    if (phase_ != Phase::Update || interrupts_ > 0 || outcome.Kind == Kind::Aborted)
        return;
    switch (outcome.Kind) {
    case Kind::NotStarted:
        Finish(kExitFailed, failure_.empty() ? "the image could not be prepared" : failure_);
        break;
    case Kind::Completed:
        AfterDownload();
        break;
    case Kind::ProgNack:
        failure_ = "Prog NACK: the PLC refused page " + std::to_string(outcome.Page) +
                   " (it answered " + HexDump(outcome.Answer.data(), outcome.Answer.size()) +
                   " hex)";
        AfterDownload();
        break;
    case Kind::NoResponse:
        failure_ = "Comm. No response abandon update";
        if (outcome.State == UpdateSequence::Programming) {
            failure_ += " (no answer to page " + std::to_string(outcome.Page) + ")";
            AfterDownload();
        } else {
            failure_ += " (the stop command went unanswered)";
            EndRun();
        }
        break;
    case Kind::CantStop:
        failure_ = "PLC Can't Stop: the PLC refused the stop command, so its OS was not updated";
        AbortAndEnd();
        break;
    case Kind::NotStopped:
        failure_ = "PLC is Running !!: it was not stopped, so its OS was not updated";
        AbortAndEnd();
        break;
    case Kind::Aborted:
    case Kind::Restored:
        break;
    }
}

// ---- the line ----

void FlashSession::OnReceive(const uint8_t* data, uint16_t count) {
    if (finished_)
        return;
    Guard([&] { dispatch_.Dispatch(data, count); });
}

void FlashSession::OnHangup() {
    std::string text = "the serial line hung up: " +
                       (comm_.PortPath().empty() ? args_.CommName : comm_.PortPath()) +
                       " is gone (adapter unplugged, or the other end closed the line)";
    if (phase_ == Phase::Update && sequence_.MayBeInDownloadMode()) {
        result_.DownloadMode = true;
        text += "; " + LeftInDownloadText();
    }
    Finish(kExitFailed, text);
}

void FlashSession::Watchdog() {
    if (finished_ || asking_ || Clock::now() - lastActivity_ < kWatchdogLimit)
        return;
    Finish(kExitFailed, "the serial port reported nothing for " +
                            std::to_string(kWatchdogLimit.count()) +
                            " s: giving up (is the line still there?)");
}

} // namespace orv
