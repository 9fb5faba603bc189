#pragma once
// The settings store where there is no registry: one .reg text file per user.
//
// Every opened key reads the whole file and a changed key writes it whole when it closes:
// into a temporary file beside it, renamed over the old one, so a reader never sees half a
// file. A lock file held from open to close serialises read-modify-write between programs.
// A damaged file is copied aside as <file>.bad with a warning and rewritten with its readable
// values; until that rewrite succeeds, the damaged file stays where it was.
#include "settings/reg_store.h"

#include <string>

namespace orv {

class RegFileStore final : public RegStore {
public:
    // `filePath` is the settings file; its folder is created when needed. An open waits up to
    // `lockWaitMs` for another program's save to finish.
    explicit RegFileStore(std::string filePath, int lockWaitMs = kLockWaitMs);
    std::unique_ptr<RegKey> OpenKey(std::string_view path, bool forWriting) override;
    std::string Location(std::string_view) const override { return file_; }
    std::string FailureReason() const override { return failure_; }
    const std::string& FilePath() const { return file_; }

    // Longest file read; anything longer is treated as damaged.
    static constexpr size_t kMaxFileSize = size_t{4} * 1024 * 1024;
    static constexpr int kLockWaitMs = 5000;

private:
    friend class RegFileKey;
    std::string file_;
    int lockWaitMs_;
    // A lock waited for in vain is held by a program that is stuck: later opens try it once
    // instead of making every value wait again, until one gets it.
    bool lockStuck_ = false;
    std::string failure_;
    std::string warnedAbout_; // the damaged file last warned about, so a read-only one warns once
};

} // namespace orv
