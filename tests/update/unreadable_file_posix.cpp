#include "unreadable_file.h"

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

UnreadableFile::UnreadableFile(const std::string& path) : path_(path) {
    std::error_code ec;
    if (::geteuid() != 0)
        fs::permissions(path_, fs::perms::none, ec);
    made_ = ::geteuid() != 0 && !ec;
}

UnreadableFile::~UnreadableFile() {
    std::error_code ec;
    if (made_)
        fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write, ec);
}
