#include "common/platform_io.h"

#include <sys/stat.h>

namespace orv {

std::FILE* OpenFile(const std::string& path, const char* mode) {
    // "e": close on exec.
    return std::fopen(path.c_str(), (std::string(mode) + "e").c_str());
}

std::optional<uint64_t> RegularFileSize(std::FILE* file) {
    struct stat st {};
    if (::fstat(::fileno(file), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

bool RenameOver(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) {
    return std::remove(path.c_str()) == 0;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

} // namespace orv
