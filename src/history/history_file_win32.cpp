#include "common/wide_text.h"
#include "history/history.h"

#include <cstdlib>
#include <shlobj.h>
#include <windows.h>

namespace orv {

namespace {

std::string LastError(const std::string& what, const std::string& path) {
    const DWORD code = GetLastError();
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason = text ? ToUtf8(text) : "error " + std::to_string(code);
    if (text)
        LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r'))
        reason.pop_back();
    return what + " " + path + ": " + reason;
}

// LockFileEx over the whole file, held for as long as the object lives; Windows drops it should
// the program die.
class Locked {
public:
    Locked(HANDLE file, DWORD flags) : file_(file) {
        ok_ = LockFileEx(file_, flags, 0, MAXDWORD, MAXDWORD, &where_) != 0;
    }
    ~Locked() {
        if (ok_)
            UnlockFileEx(file_, 0, MAXDWORD, MAXDWORD, &where_);
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    bool Ok() const { return ok_; }

private:
    HANDLE file_;
    OVERLAPPED where_{};
    bool ok_ = false;
};

HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
    std::wstring wide;
    if (!ToWide(path, wide)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

std::string DefaultHistoryPath() {
    // %LOCALAPPDATA% first, as the documentation names it; the known folder when it is unset.
    std::string folder;
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local != nullptr && *local != L'\0') {
        folder = ToUtf8(local);
    } else {
        wchar_t* known = nullptr;
        if (SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known) == S_OK)
            folder = ToUtf8(known);
        CoTaskMemFree(known);
    }
    return folder + "\\Orv\\OS update\\history.jsonl";
}

std::string HostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? ToUtf8(std::wstring_view(name, size)) : std::string();
}

std::string UserName() {
    wchar_t name[257] = {};
    DWORD size = 257;
    // The size counts the terminating NUL.
    return GetUserNameW(name, &size) && size > 0 ? ToUtf8(std::wstring_view(name, size - 1))
                                                 : std::string();
}

namespace history_file {

std::string AppendLocked(const std::string& path, const std::string& text) {
    const HANDLE file = Open(path, FILE_APPEND_DATA | GENERIC_READ, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE)
        return LastError("cannot open", path);
    std::string why;
    {
        const Locked lock(file, LOCKFILE_EXCLUSIVE_LOCK);
        LARGE_INTEGER size{};
        std::string out = text;
        if (!lock.Ok()) {
            why = LastError("cannot lock", path);
        } else if (!GetFileSizeEx(file, &size)) {
            why = LastError("cannot read the size of", path);
        } else {
            // A line cut short by a program that died writing it must not swallow this one.
            if (size.QuadPart > 0) {
                OVERLAPPED at{};
                const ULONGLONG last = static_cast<ULONGLONG>(size.QuadPart - 1);
                at.Offset = static_cast<DWORD>(last);
                at.OffsetHigh = static_cast<DWORD>(last >> 32);
                char c = '\n';
                DWORD read = 0;
                if (ReadFile(file, &c, 1, &read, &at) && read == 1 && c != '\n')
                    out.insert(out.begin(), '\n');
            }
            DWORD written = 0;
            if (!WriteFile(file, out.data(), static_cast<DWORD>(out.size()), &written, nullptr) ||
                written != out.size())
                why = LastError("cannot write", path);
        }
    }
    CloseHandle(file);
    return why;
}

std::string ReadLocked(const std::string& path, std::string& text, bool& missing) {
    missing = false;
    const HANDLE file = Open(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
        return missing ? std::string() : LastError("cannot open", path);
    }
    std::string why;
    {
        const Locked lock(file, 0);
        if (!lock.Ok())
            why = LastError("cannot lock", path);
        char buf[65536];
        DWORD n = 0;
        while (why.empty()) {
            if (!ReadFile(file, buf, sizeof buf, &n, nullptr)) {
                why = LastError("cannot read", path);
                break;
            }
            if (n == 0)
                break;
            text.append(buf, n);
        }
    }
    CloseHandle(file);
    return why;
}

bool LocalTime(std::time_t t, std::tm& out) {
    return localtime_s(&out, &t) == 0;
}

} // namespace history_file

} // namespace orv
