#include "common/platform_io.h"
#include "common/wide_text.h"

#include <cerrno>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
// shellapi.h, which WIN32_LEAN_AND_MEAN leaves out, needs windows.h before it.
#include <shellapi.h>

namespace orv {

std::FILE* OpenFile(const std::string& path, const char* mode) {
    std::wstring wpath;
    std::wstring wmode;
    if (!ToWidePath(path, wpath) || !ToWide(mode, wmode)) {
        errno = EINVAL;
        return nullptr;
    }
    // "N": not inherited.
    std::FILE* f = _wfopen(wpath.c_str(), (wmode + L"N").c_str());
    // The C runtime says only "Permission denied" for a folder.
    if (!f && errno == EACCES) {
        DWORD attributes = GetFileAttributesW(wpath.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            errno = EISDIR;
    }
    return f;
}

std::optional<uint64_t> RegularFileSize(std::FILE* file) {
    struct _stat64 st {};
    if (_fstat64(_fileno(file), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG)
        return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

bool RenameOver(const std::string& from, const std::string& to) {
    std::wstring wfrom;
    std::wstring wto;
    if (!ToWidePath(from, wfrom) || !ToWidePath(to, wto)) {
        errno = EINVAL;
        return false;
    }
    if (MoveFileExW(wfrom.c_str(), wto.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        errno = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        errno = EACCES;
        break;
    case ERROR_DISK_FULL:
        errno = ENOSPC;
        break;
    default:
        errno = EIO;
    }
    return false;
}

bool RemoveFile(const std::string& path) {
    std::wstring wpath;
    if (!ToWidePath(path, wpath)) {
        errno = EINVAL;
        return false;
    }
    return _wremove(wpath.c_str()) == 0;
}

// The C runtime's argv is in the ANSI code page; the wide command line has every character.
std::vector<std::string> ProgramArguments(int, char**) {
    std::vector<std::string> args;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return args;
    for (int i = 1; i < count; ++i)
        args.push_back(ToUtf8(wide[i]));
    LocalFree(wide);
    return args;
}

} // namespace orv
