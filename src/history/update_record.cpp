#include "history/update_record.h"

#include "common/hex.h"

namespace orv {

namespace {

HistoryOs OsOf(const StatusReply& reply) {
    return {reply.Version, reply.ReleaseDate, reply.FlashType};
}

} // namespace

TUpdateRecord::TUpdateRecord(const std::string& program)
    : Path(DefaultHistoryPath()), program_(HistoryProgram(program)) {}

void TUpdateRecord::Begin(const std::string& port, int station, const std::string& image,
                          const std::optional<StatusReply>& before) {
    HistoryEntry e;
    e.Started = HistoryTimeText(std::chrono::system_clock::now());
    e.Program = program_;
    e.Host = HostName();
    e.User = UserName();
    e.Port = port;
    e.Station = station;
    e.Image = image;
    ImageFileFacts(image, e.ImageSize, e.ImageCrc);
    const ShowResult shown = LoadImageInfo(image);
    if (shown.Outcome == ShowOutcome::Shown)
        e.ImageOs = HistoryOs{shown.Info.Version, shown.Info.ReleaseDate, shown.Info.FlashType};
    if (before && before->Station == station)
        e.Before = OsOf(*before);
    entry_ = std::move(e);
}

std::string TUpdateRecord::Outcome(const UpdateSequence::TOutcome& outcome) {
    using Kind = UpdateSequence::TOutcome::TKind;
    if (!entry_)
        return {};
    HistoryEntry& e = *entry_;
    switch (outcome.Kind) {
    case Kind::NotStarted:
        // Nothing was sent: the image could not be prepared, and the window said why.
        entry_.reset();
        return {};
    case Kind::Restored:
        return {};
    case Kind::Completed:
        // The windows do not read the status afterwards: the download is what they saw.
        e.Result = "completed";
        e.Message = "DU Reroro ... OK!!";
        break;
    case Kind::ProgNack:
        e.Result = "failed";
        e.Message = "Prog NACK: page " + std::to_string(outcome.Page) + " refused (answer " +
                    HexDump(outcome.Answer.data(), outcome.Answer.size()) + ")";
        break;
    case Kind::NoResponse:
        e.Result = "failed";
        e.Message = "Comm. No response abandon update";
        break;
    case Kind::CantStop:
        e.Result = "failed";
        e.Message = "PLC Can't Stop";
        break;
    case Kind::NotStopped:
        e.Result = "failed";
        e.Message = "PLC is Running !!: not stopped";
        break;
    case Kind::Aborted:
        e.Result = "aborted";
        e.Message = "Comm. Aborted!!";
        break;
    }
    e.Ended = HistoryTimeText(std::chrono::system_clock::now());
    const HistoryEntry done = std::move(e);
    entry_.reset();
    return AppendHistory(Path, done);
}

} // namespace orv
