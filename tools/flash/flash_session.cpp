#include "flash_session.h"

#include "common/hex.h"

#include <algorithm>
#include <memory>
#include <thread>

namespace orv {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kDoneText = "DU Reroro ... OK!!";
constexpr const char* kStopQuestion = "PLC is Running !! Are you sure to stop the PLC ?";
// The PLC boots its new OS after the restore command; until then it does not answer.
constexpr auto kVerifyWindow = std::chrono::seconds(10);
// Every step of the engines ticks a timer at least each 800 ms; this long a silence means the
// port stopped reporting (a writer that never empties, a lost notification).
constexpr auto kWatchdogLimit = std::chrono::seconds(15);

double SecondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string ResultName(int code) {
    switch (code) {
    case kExitOk:
        return "ok";
    case kExitPort:
        return "port-error";
    case kExitVerify:
        return "verify-failed";
    default:
        return "failed";
    }
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The whole reply each frame of the engines asks for: two bytes for a page frame; for a station
// frame a station reply, whole at its ETX: the 66-byte status reply for the status request, at
// least the envelope of a short reply (STX, station, command echo, error code, checksum, ETX)
// for the others. Nothing for anything else: its reply ends by the interval.
std::optional<TReplyRule> ReplyRuleFor(const uint8_t* frame, uint16_t count) {
    constexpr size_t kShortReplyLength = 9;
    if (count == kPageFrameSize && frame[1] == 0x0D && frame[2] == 0x13)
        return TReplyRule{2};
    if (count >= 8 && frame[0] == STX && frame[count - 1] == ETX)
        return TReplyRule{
            frame[3] == '0' && frame[4] == '0' ? kStatusReplyLength : kShortReplyLength, ETX};
    return std::nullopt;
}

std::string OsText(const std::string& version, const std::string& date, const std::string& flash) {
    return "OS " + PrintableText(version) + " of " + PrintableText(date) + " (flash " + flash + ")";
}

} // namespace

// ---- FlashLinePort ----

std::string FlashLinePort::LineText() const {
    const char parity = comm_.Parity() == TParity::Even  ? 'E'
                        : comm_.Parity() == TParity::Odd ? 'O'
                                                         : 'N';
    const int bits = static_cast<int>(comm_.ByteSize()) + 5;
    return std::to_string(comm_.BaudRate()) + " " + std::to_string(bits) + parity + "1";
}

void FlashLinePort::NoteLine() {
    out_.TraceNote("line " + LineText());
}

void FlashLinePort::SetUp(const FlashArgs& args, uint32_t readIntervalMs) {
    comm_.CommName = args.CommName;
    comm_.SetParityCheck(true);
    comm_.SetIgnoreNullChar(true);
    comm_.SetOutx_XonXoffFlow(false);
    comm_.SetInx_XonXoffFlow(false);
    comm_.SetTxContinueOnXoff(false);
    comm_.SetReadIntervalTimeout(readIntervalMs);
    ApplyLine(args);
    comm_.SetRtsControl(TRtsControl::RtsEnable);
    comm_.OnReceiveError = [this](TComm*, uint32_t flags) {
        char text[48];
        std::snprintf(text, sizeof text, "line error 0x%X", static_cast<unsigned>(flags));
        out_.TraceNote(text);
    };
}

void FlashLinePort::ApplyLine(const FlashArgs& args) {
    comm_.SetBaudRate(static_cast<uint32_t>(args.Baud));
    comm_.SetParity(args.ParityIndex == 0   ? TParity::Even
                    : args.ParityIndex == 1 ? TParity::Odd
                                            : TParity::None);
    comm_.SetByteSize(args.DataBits == 8 ? TByteSize::_8 : TByteSize::_7);
}

void FlashLinePort::Open() {
    comm_.StartComm();
    out_.TraceNote("open " + comm_.PortPath() + " " + LineText());
}

void FlashLinePort::Close() {
    comm_.StopComm();
    out_.TraceNote("close");
}

bool FlashLinePort::Write(const uint8_t* data, uint16_t count) {
    out_.Trace('>', LineText(), data, count);
    if (FastReplies)
        comm_.SetReplyRule(ReplyRuleFor(data, count));
    const bool queued = comm_.WriteCommData(data, count);
    if (queued && OnWritten)
        OnWritten();
    if (!queued && count > 0 && OnRefused)
        OnRefused();
    return queued;
}

void FlashLinePort::SetBaudRate(uint32_t baud) {
    if (comm_.BaudRate() == baud)
        return;
    comm_.SetBaudRate(baud);
    NoteLine();
}

void FlashLinePort::SetDataBits(int bits) {
    const TByteSize size = bits == 8 ? TByteSize::_8 : TByteSize::_7;
    if (comm_.ByteSize() == size)
        return;
    comm_.SetByteSize(size);
    NoteLine();
}

void FlashLinePort::SetParity(LineParity parity) {
    const TParity p = parity == LineParity::Even  ? TParity::Even
                      : parity == LineParity::Odd ? TParity::Odd
                                                  : TParity::None;
    if (comm_.Parity() == p)
        return;
    comm_.SetParity(p);
    NoteLine();
}

// ---- FlashSession ----

FlashSession::FlashSession(const FlashArgs& args, FlashOutput& out, TEventLoop& loop,
                           ICommSink& sink, TConsole& console)
    : args_(args), out_(out), loop_(loop), console_(console), comm_(&sink),
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
      watchdog_(loop, [this] { Watchdog(); }), port_(comm_, out_),
      query_(port_, tmTimeOut_, *this, station_, dispatch_),
      sequence_(port_, timer2_, *this, station_, dispatch_),
      stationText_(std::to_string(args.Station)), lastActivity_(Clock::now()) {
    // The windows' design intervals; the engines set them again where they need to.
    tmTimeOut_.SetInterval(500);
    timer2_.SetInterval(800);
    watchdog_.SetInterval(1000);

    port_.FastReplies = !args_.IntervalTiming;
    sequence_.NakRetries = args_.NakRetries;
    port_.OnWritten = [this] { Activity(); };
    port_.OnRefused = [this] {
        // The engines do not look at the result; without the bytes on their way no time-out
        // would ever be armed, so the run ends here.
        Post([this] { Fail("the serial port refused a write: it is no longer open"); });
    };
    comm_.OnReceiveData = [this](TComm*, const uint8_t* data, uint16_t count) {
        OnReceive(data, count);
    };
    comm_.OnSendDataEmpty = [this](TComm*) { Guard([this] { sequence_.CommSendDataEmpty(); }); };
    comm_.OnRequestHangup = [this](TComm*) { OnHangup(); };
    comm_.OnReplyTail = [this](TComm*, const uint8_t* data, uint16_t count) {
        OnReplyTail(data, count);
    };
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

void FlashSession::ConfigureComm() {
    port_.SetUp(args_, 100);
    station_.StationHex = FormatStationHex(args_.Station);
    station_.PortSettingWord = ComputePortSettingWord(args_.DataBits == 8, args_.ParityIndex);
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
    const PreparedImage& image = prepared.Image;
    out_.Line("OS image " + PrintableText(args_.Image) + ": OS " + imageInfo_.Version + " of " +
              imageInfo_.ReleaseDate + ", flash " + imageInfo_.FlashType + ", " +
              std::to_string(image.PageCount) + " pages, first page " +
              std::to_string(image.FirstPage));
    JsonEvent e("image");
    e.Str("path", args_.Image)
        .Str("version", imageInfo_.Version)
        .Str("date", imageInfo_.ReleaseDate)
        .Str("flash", imageInfo_.FlashType)
        .Int("size", static_cast<long long>(image.Bytes.size()))
        .Int("pages", image.PageCount)
        .Int("first_page", image.FirstPage)
        .Int("crc", image.ImageCrc);
    out_.Event(std::move(e));
    return true;
}

void FlashSession::EmitStart() {
    const bool update = args_.Mode == FlashArgs::TMode::Update;
    JsonEvent e("start");
    e.Str("mode", update ? "update" : "status")
        .Str("port", args_.Port)
        .Int("baud", args_.Baud)
        .Str("parity", kParityNames[args_.ParityIndex])
        .Int("databits", args_.DataBits)
        .Int("station", args_.Station)
        .Str("timing", args_.IntervalTiming ? "interval" : "fast");
    if (update) {
        e.Int("speed", args_.Speed)
            .Str("image", args_.Image)
            .Str("stop_plc", kStopPlcNames[static_cast<int>(args_.StopPlc)])
            .Int("nak_retries", args_.NakRetries);
    }
    out_.Event(std::move(e));
}

void FlashSession::Start() {
    ConfigureComm();
    EmitStart();
    if (args_.Mode == FlashArgs::TMode::Update && !CheckImage())
        return;
    Post([this] { StartStatus(); });
    watchdog_.Enable();
}

int FlashSession::Run() {
    Start();
    loop_.RunUntil([this] { return finished_; });
    comm_.StopComm();
    return exitCode_;
}

// ---- status ----

void FlashSession::StartStatus() {
    phase_ = Phase::Status;
    ++queryGen_;
    statusConcluded_ = false;
    statusReply_.reset();
    query_.Start();
}

void FlashSession::SetStatusBar(const std::string& text) {
    if (phase_ == Phase::Done || text.empty() || text == lastStatusBar_) {
        lastStatusBar_ = text;
        return;
    }
    lastStatusBar_ = text;
    out_.Event(std::move(JsonEvent("statusbar").Str("text", text)));
    // "Change Mode .." under the panel's "Change Mode ..." says nothing new.
    if (!StartsWith(lastPanel_, text.c_str()))
        out_.Line("  " + text);
}

void FlashSession::ShowMessage(const std::string& text) {
    if (phase_ == Phase::Verify) {
        // A failed try of the verification is not the end: the PLC may still be booting.
        const int gen = queryGen_;
        Post([this, gen] {
            if (gen == queryGen_)
                AfterStatus();
        });
        return;
    }
    out_.Event(std::move(JsonEvent("message").Str("text", text)));
    out_.Line(text);
    if (phase_ == Phase::Status) {
        if (text == "Get PLC Status Fail !!")
            statusFailed_ = true;
        if (text == "Connect Fail")
            Post([this, text] { Finish(kExitFailed, text); });
        return;
    }
    if (phase_ == Phase::Update) {
        failure_ = text;
        Post([this] { CheckHalted(); });
    }
}

void FlashSession::ShowPlcStatus(const StatusReply& reply) {
    statusReply_ = reply;
    JsonEvent e("plc_status");
    e.Str("phase", phase_ == Phase::Verify ? "verify" : "status")
        .Str("version", reply.Version)
        .Str("date", reply.ReleaseDate)
        .Str("flash", reply.FlashType)
        .Int("station", std::stoi(stationText_));
    e.Int("register_code", reply.PortRegisterCode);
    out_.Event(std::move(e));
    if (phase_ == Phase::Verify)
        return;
    out_.Line("PLC Status");
    out_.Line("  Version:       " + PrintableText(reply.Version));
    out_.Line("  Released Date: " + PrintableText(reply.ReleaseDate));
    out_.Line("  Flash Type:    " + reply.FlashType);
    out_.Line("  Station:       " + stationText_);
}

void FlashSession::EnableUpdateButtons() {
    // Only the query that asked may conclude: a verification retry starts a new one.
    const int gen = queryGen_;
    Post([this, gen] {
        if (gen == queryGen_)
            AfterStatus();
    });
}

void FlashSession::AfterStatus() {
    if (statusConcluded_)
        return;
    statusConcluded_ = true;
    if (phase_ == Phase::Verify) {
        VerifyConcluded();
        return;
    }
    if (phase_ != Phase::Status)
        return;
    if (args_.Mode == FlashArgs::TMode::Status) {
        if (statusReply_)
            Finish(kExitOk, "");
        else
            Finish(kExitFailed, "Get PLC Status Fail !!");
        return;
    }
    // As the window lets the operator go on without a status: the update then finds out.
    StartUpdate();
}

// ---- update ----

void FlashSession::StartUpdate() {
    phase_ = Phase::Update;
    // "Proceed to Update OS": the download-speed frame for the station now in the field.
    BuildSpeedFrame(station_, StationNumberFromText(stationText_), args_.SpeedIndex);
    sequence_.btDUReroroClick();
    if (sequence_.UpdateState == UpdateSequence::Idle && !busy_)
        Finish(kExitFailed, failure_.empty() ? "the image could not be prepared" : failure_);
}

void FlashSession::SetPanelStatus(const std::string& text) {
    if (text == kDoneText)
        downloadOk_ = true;
    if (StartsWith(text, "page #") || text == lastPanel_)
        return; // the progress line carries the page
    lastPanel_ = text;
    out_.Event(std::move(JsonEvent("panel").Str("text", text)));
    out_.Line(text);
}

void FlashSession::SetGauge(int percent) {
    if (phase_ != Phase::Update || sequence_.UpdateState != UpdateSequence::Programming ||
        sequence_.PageCount <= sequence_.FirstPage)
        return;
    const int total = 1 + sequence_.PageCount - sequence_.FirstPage;
    const bool complete = percent >= 100;
    const int page = complete ? sequence_.PageCount - 1 : sequence_.CurrentPage;
    int done = page == 0 ? 0 : 1 + page - sequence_.FirstPage;
    if (complete)
        done = total;
    if (page == 0 && done == 0 && !complete)
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
    out_.Progress(info);
    if (complete)
        out_.EndProgress();
}

void FlashSession::SetIdleButtons() {
    busy_ = false;
    if (phase_ == Phase::Update)
        Post([this] { EndRun(); });
}

void FlashSession::CheckHalted() {
    // "PLC Can't Stop" and a No to the stop question leave the sequence waiting with only
    // Abort enabled and no time-out running: the operator would press Abort, then Exit.
    if (phase_ == Phase::Update && busy_ && !timer2_.Enabled() &&
        (sequence_.UpdateState == UpdateSequence::ChangeMode ||
         sequence_.UpdateState == UpdateSequence::StopPlc))
        sequence_.btAbortClick();
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
    if (by == "option")
        out_.Line(std::string(kStopQuestion) + (answer ? " Yes" : " No") +
                  (answer ? " (--stop-plc yes)" : " (--stop-plc no)"));
    else if (by == "no-terminal")
        out_.Line(std::string(kStopQuestion) + " No (no terminal to ask)");
    out_.Event(std::move(
        JsonEvent("question").Str("text", kStopQuestion).Bool("answer", answer).Str("by", by)));
    if (!answer) {
        failure_ = "PLC is Running !!: it was not stopped, so its OS was not updated";
        Post([this] { CheckHalted(); });
    }
    return answer;
}

bool FlashSession::AskOnTerminal(const std::string& question) {
    std::FILE* to = out_.Json() ? stderr : stdout;
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
    out_.Event(std::move(JsonEvent("message").Str("text", failure_)));
    out_.Line(failure_);
    return std::nullopt;
}

void FlashSession::EndRun() {
    if (phase_ != Phase::Update)
        return;
    phase_ = Phase::Restore;
    restoreSent_ = sequence_.SpeedChanged;
    sequence_.btExitClick();
}

void FlashSession::CloseWindow() {
    Post([this] { AfterClose(); });
}

void FlashSession::AfterClose() {
    if (phase_ != Phase::Restore)
        return;
    sequence_.FormClose();
    if (restoreSent_) {
        out_.Event(std::move(JsonEvent("restore").Bool("answered", restoreAnswered_)));
        if (!restoreAnswered_)
            out_.Line("Restore Speed: no reply from the PLC");
    }
    if (failure_.empty())
        failure_ = downloadOk_ ? "" : "the update did not complete";
    // Whatever failed, the PLC may hold the image all the same (a lost last acknowledgement):
    // its status says, unless the technician asked to stop.
    if (!failure_.empty() && interrupts_ > 0) {
        Finish(kExitFailed, failure_);
        return;
    }
    afterFailure_ = !failure_.empty();
    StartVerify();
}

// ---- verification ----

void FlashSession::StartVerify() {
    phase_ = Phase::Verify;
    verifyStart_ = Clock::now();
    out_.Line(afterFailure_ ? "After the failure: reading the PLC's status"
                            : "Verify: reading the PLC's status");
    StartVerifyQuery();
}

void FlashSession::StartVerifyQuery() {
    // The connect dialog sets the line again at the next connection.
    port_.ApplyLine(args_);
    ++queryGen_;
    statusConcluded_ = false;
    statusReply_.reset();
    query_.Start();
}

void FlashSession::VerifyConcluded() {
    if (phase_ != Phase::Verify)
        return;
    if (statusReply_ && afterFailure_) {
        const StatusReply& r = *statusReply_;
        plcAfter_ = r;
        imageOs_ = r.Version == imageInfo_.Version && r.ReleaseDate == imageInfo_.ReleaseDate &&
                   r.FlashType == imageInfo_.FlashType;
        Finish(kExitFailed, failure_ + "; " + AfterFailureText(&r));
        return;
    }
    if (statusReply_) {
        Compare(*statusReply_);
        return;
    }
    if (Clock::now() - verifyStart_ < kVerifyWindow) {
        out_.Line("  no status yet: the PLC may still be starting its new OS");
        StartVerifyQuery();
        return;
    }
    if (afterFailure_) {
        Finish(kExitFailed, failure_ + "; " + AfterFailureText(nullptr));
        return;
    }
    Finish(kExitVerify, "verification failed: Get PLC Status Fail !! (no status reply within " +
                            std::to_string(kVerifyWindow.count()) + " s of the restore)");
}

std::string FlashSession::AfterFailureText(const StatusReply* reply) {
    if (!reply)
        return "afterwards the PLC's status could not be read (Get PLC Status Fail !!)";
    const std::string image =
        OsText(imageInfo_.Version, imageInfo_.ReleaseDate, imageInfo_.FlashType);
    if (imageOs_.value_or(false))
        return "afterwards the PLC reports the image's " + image;
    return "afterwards the PLC reports " +
           OsText(reply->Version, reply->ReleaseDate, reply->FlashType) + ", not the image's " +
           image;
}

void FlashSession::Compare(const StatusReply& reply) {
    std::string differences;
    std::vector<std::string> fields;
    auto check = [&](const char* name, const char* key, const std::string& plc,
                     const std::string& image) {
        if (plc == image)
            return;
        if (!differences.empty())
            differences += "; ";
        differences += std::string(name) + ": the PLC reports " + PrintableText(plc) +
                       ", the image holds " + image;
        fields.push_back(key);
    };
    check("version", "version", reply.Version, imageInfo_.Version);
    check("release date", "date", reply.ReleaseDate, imageInfo_.ReleaseDate);
    check("flash type", "flash", reply.FlashType, imageInfo_.FlashType);
    out_.Event(std::move(JsonEvent("verify")
                             .Bool("ok", differences.empty())
                             .Str("version", reply.Version)
                             .Str("date", reply.ReleaseDate)
                             .Str("flash", reply.FlashType)
                             .StrList("differences", fields)));
    if (!differences.empty()) {
        Finish(kExitVerify, "verification failed: " + differences);
        return;
    }
    out_.Line("verified: the PLC runs OS " + PrintableText(reply.Version) + " of " +
              PrintableText(reply.ReleaseDate));
    Finish(kExitOk, "");
}

// ---- the line ----

void FlashSession::OnReceive(const uint8_t* data, uint16_t count) {
    Activity();
    out_.Trace('<', port_.LineText(), data, count);
    if (finished_)
        return;
    const bool restoring =
        phase_ == Phase::Restore && sequence_.UpdateState == UpdateSequence::RestoreSpeed;
    Guard([&] { dispatch_.Dispatch(data, count); });
    // Only the reply the sequence took closes it; a late answer to another command does not.
    if (restoring && sequence_.UpdateState == UpdateSequence::Idle)
        restoreAnswered_ = true;
}

void FlashSession::OnReplyTail(const uint8_t* data, uint16_t count) {
    Activity();
    if (!port_.FastReplies)
        return; // said once
    port_.FastReplies = false;
    std::string bytes = HexDump(data, std::min<size_t>(count, 16));
    if (count > 16)
        bytes += " ...";
    out_.TraceNote("interval timing from now on: " + std::to_string(count) +
                   " bytes came where no reply could (" + bytes + "), dropped");
    out_.Event(std::move(JsonEvent("fallback").Str("timing", "interval").Int("dropped", count)));
    out_.Line("The PLC sends more than its replies: interval timing from now on");
}

void FlashSession::OnHangup() {
    Finish(kExitFailed, "the serial line hung up: " +
                            (comm_.PortPath().empty() ? args_.CommName : comm_.PortPath()) +
                            " is gone (adapter unplugged, or the other end closed the line)");
}

void FlashSession::Watchdog() {
    if (finished_ || asking_ || Clock::now() - lastActivity_ < kWatchdogLimit)
        return;
    Finish(kExitFailed, "the serial port reported nothing for " +
                            std::to_string(kWatchdogLimit.count()) +
                            " s: giving up (is the line still there?)");
}

void FlashSession::Interrupt() {
    ++interrupts_;
    if (finished_)
        return;
    if (afterFailure_ && phase_ == Phase::Verify) {
        Finish(kExitFailed, failure_ + "; interrupted while reading the PLC's status afterwards");
        return;
    }
    if (interrupts_ > 1 || phase_ == Phase::Status || phase_ == Phase::Verify) {
        Finish(kExitFailed, "interrupted");
        return;
    }
    // A question on the terminal ends with No; the sequence then halts and is aborted below.
    if (phase_ == Phase::Update) {
        failure_ = "interrupted: Comm. Aborted!!";
        out_.ErrorLine("interrupted: aborting, then the restore-speed command (interrupt again "
                       "to quit at once)");
        AbortThenRestore();
        return;
    }
    out_.ErrorLine("interrupted: waiting for the restore-speed command (interrupt again to quit "
                   "at once)");
    failure_ = "interrupted";
}

// ---- endings ----

// Stops a download that is still running (as Abort does), then ends the run, which sends the
// restore-speed command once the speed was changed.
void FlashSession::AbortThenRestore() {
    Post([this] {
        if (phase_ == Phase::Update && busy_)
            sequence_.btAbortClick();
        else
            EndRun();
    });
}

void FlashSession::Fail(const std::string& text) {
    if (finished_)
        return;
    if (phase_ == Phase::Update && sequence_.SpeedChanged) {
        // Once the speed was changed the restore-speed command goes out, whatever happened.
        if (failure_.empty())
            failure_ = text;
        out_.ErrorLine("orv-flash: " + text);
        AbortThenRestore();
        return;
    }
    Finish(kExitFailed, text);
}

void FlashSession::Finish(int code, const std::string& text, const std::string& detail) {
    if (finished_)
        return;
    std::string message = text;
    if (statusFailed_ && !message.empty() && args_.Mode == FlashArgs::TMode::Update)
        message += "; before it: Get PLC Status Fail !! (the update went on with station " +
                   std::to_string(args_.Station) + " as typed)";
    finished_ = true;
    exitCode_ = code;
    phase_ = Phase::Done;
    tmTimeOut_.Disable();
    timer2_.Disable();
    watchdog_.Disable();
    out_.EndProgress();
    if (!message.empty()) {
        out_.ErrorLine("orv-flash: " + message);
        if (!detail.empty())
            out_.ErrorLine("  " + detail);
    }
    JsonEvent e("done");
    e.Int("exit", code).Str("result", ResultName(code)).Str("message", message);
    if (!detail.empty())
        e.Str("detail", detail);
    if (afterFailure_) {
        if (imageOs_)
            e.Bool("image_os", *imageOs_);
        else
            e.Null("image_os");
        if (plcAfter_)
            e.Str("plc_version", plcAfter_->Version)
                .Str("plc_date", plcAfter_->ReleaseDate)
                .Str("plc_flash", plcAfter_->FlashType);
    }
    out_.Event(std::move(e));
}

} // namespace orv
