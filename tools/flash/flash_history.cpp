#include "flash_history.h"

namespace orv {

int ShowHistory(const FlashArgs& args, FlashReport& report) {
    const std::string path = DefaultHistoryPath();
    const HistoryReading reading = ReadHistory(path);
    std::vector<const HistoryEntry*> shown;
    for (const HistoryEntry& e : reading.Entries) {
        if (args.HistoryStation >= 0 && e.Station != args.HistoryStation)
            continue;
        // An entry whose time cannot be read says nothing about when: it is left out only
        // when a time was asked for.
        const auto started = HistoryTimeSeconds(e.Started);
        if (args.Since && (!started || *started < *args.Since))
            continue;
        shown.push_back(&e);
    }
    const int code = reading.Error.empty() ? kExitOk : kExitFailed;
    report.History(path, reading, shown, code);
    return code;
}

} // namespace orv
