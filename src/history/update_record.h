#pragma once
// One update run of the windows, as the history keeps it: begun by "Update OS", written once when
// the sequence's outcome ends the run (completed, failed or aborted).

#include "history/history.h"
#include "protocol/station.h"
#include "update/update_sequence.h"

#include <optional>
#include <string>

namespace orv {

class TUpdateRecord {
public:
    // program: "orv-os-update"; the version is added.
    explicit TUpdateRecord(const std::string& program);

    // "Update OS" pressed: port and station as the connect dialog has them (station -1 when its
    // text is no station), the image file, and the status last read, if it was this station's.
    void Begin(const std::string& port, int station, const std::string& image,
               const std::optional<StatusReply>& before);
    // The sequence's outcome. The first that ends a begun run writes its line: empty, or why the
    // line could not be written.
    std::string Outcome(const UpdateSequence::TOutcome& outcome);

    std::string Path; // where the lines go: DefaultHistoryPath() unless set

private:
    std::string program_;
    std::optional<HistoryEntry> entry_; // the run begun and not yet written
};

} // namespace orv
