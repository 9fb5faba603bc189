#pragma once
// The settings store where there is no registry: one .reg text file per user.
//
// Every opened key reads the whole file and a changed key writes it whole when it closes:
// into a temporary file beside it, renamed over the old one, so a reader never sees half a
// file. A lock file held from open to close serialises read-modify-write between programs.
// A damaged file is set aside as <file>.bad with a warning; its readable values are kept.
#include "settings/reg_store.h"

#include <string>

namespace orv {

class RegFileStore final : public RegStore {
public:
    // `filePath` is the settings file; its folder is created when needed.
    explicit RegFileStore(std::string filePath);
    std::unique_ptr<RegKey> OpenKey(std::string_view path, bool forWriting) override;
    const std::string& FilePath() const { return file_; }

    // Longest file read; anything longer is treated as damaged.
    static constexpr size_t kMaxFileSize = 4 * 1024 * 1024;
    // How long an open waits for another program's save to finish.
    static constexpr int kLockWaitMs = 5000;

private:
    friend class RegFileKey;
    std::string file_;
    std::string warnedAbout_; // the damaged file last warned about, so a read-only one warns once
};

} // namespace orv
