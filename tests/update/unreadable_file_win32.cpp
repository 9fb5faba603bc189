#include "unreadable_file.h"

#include <filesystem>
#include <windows.h>

UnreadableFile::UnreadableFile(const std::string& path) : path_(path) {
    HANDLE h = CreateFileW(std::filesystem::path(path).c_str(), GENERIC_READ, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    made_ = h != INVALID_HANDLE_VALUE;
    handle_ = made_ ? h : nullptr;
}

UnreadableFile::~UnreadableFile() {
    if (handle_)
        CloseHandle(handle_);
}
