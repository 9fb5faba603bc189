#pragma once
// Files and command lines in UTF-8 on every platform. Windows' C runtime would read paths and
// arguments in the ANSI code page, and its rename() does not replace an existing file; the
// platform's side is in platform_io_posix.cpp / platform_io_win32.cpp.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orv {

// fopen() for a UTF-8 path; the file is not inherited by programs this one starts. Null with
// errno set when it cannot be opened (EISDIR for a folder where one can tell).
std::FILE* OpenFile(const std::string& path, const char* mode);

// The size of an open file that is a regular file; nothing for a device, pipe or folder.
std::optional<uint64_t> RegularFileSize(std::FILE* file);

// Renames `from` to `to`, replacing a file already there in one step. False with errno set.
bool RenameOver(const std::string& from, const std::string& to);

// remove() for a UTF-8 path.
bool RemoveFile(const std::string& path);

// The program's arguments after its name, in UTF-8.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// A UTF-8 path as a std::filesystem path, and back: a path made from a plain string would be
// read in the ANSI code page on Windows.
inline std::filesystem::path PathOf(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
inline std::string TextOf(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace orv
