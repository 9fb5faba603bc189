#include "common/home_folder.h"
#include "history/history.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orv {

namespace {

std::string Errno(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// An flock held for as long as the object lives; the kernel drops it should the program die.
class Locked {
public:
    Locked(int fd, int how) : fd_(fd) {
        int result = 0;
        do
            result = ::flock(fd_, how);
        while (result != 0 && errno == EINTR);
        ok_ = result == 0;
    }
    ~Locked() {
        if (ok_)
            ::flock(fd_, LOCK_UN);
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    bool Ok() const { return ok_; }

private:
    int fd_;
    bool ok_ = false;
};

} // namespace

std::string DefaultHistoryPath() {
    // As the XDG base directories have it: a relative $XDG_STATE_HOME is to be ignored.
    const char* state = std::getenv("XDG_STATE_HOME");
    const std::string folder =
        state != nullptr && state[0] == '/' ? std::string(state) : HomeFolder() + "/.local/state";
    return folder + "/orv-os-update/history.jsonl";
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

std::string UserName() {
    if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_name != nullptr)
        return user->pw_name;
    const char* name = std::getenv("USER");
    return name != nullptr ? name : std::to_string(::getuid());
}

namespace history_file {

std::string AppendLocked(const std::string& path, const std::string& text) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return Errno("cannot open", path);
    std::string why;
    {
        const Locked lock(fd, LOCK_EX);
        struct stat st {};
        std::string out = text;
        char last = '\n';
        if (!lock.Ok()) {
            why = Errno("cannot lock", path);
        } else if (::fstat(fd, &st) != 0) {
            why = Errno("cannot read the size of", path);
        } else if (!S_ISREG(st.st_mode)) {
            why = path + " is not a plain file";
        } else {
            // A line cut short by a program that died writing it must not swallow this one.
            const int rd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (st.st_size > 0 && rd >= 0 && ::pread(rd, &last, 1, st.st_size - 1) == 1 &&
                last != '\n')
                out.insert(out.begin(), '\n');
            if (rd >= 0)
                ::close(rd);
            size_t done = 0;
            while (done < out.size()) {
                const ssize_t n = ::write(fd, out.data() + done, out.size() - done);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    why = Errno("cannot write", path);
                    break;
                }
                done += static_cast<size_t>(n);
            }
        }
    }
    if (::close(fd) != 0 && why.empty())
        why = Errno("cannot write", path);
    return why;
}

std::string ReadLocked(const std::string& path, std::string& text, bool& missing) {
    missing = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT;
        return missing ? std::string() : Errno("cannot open", path);
    }
    std::string why;
    {
        const Locked lock(fd, LOCK_SH);
        if (!lock.Ok())
            why = Errno("cannot lock", path);
        char buf[65536];
        while (why.empty()) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                why = Errno("cannot read", path);
            if (n <= 0)
                break;
            text.append(buf, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    return why;
}

bool LocalTime(std::time_t t, std::tm& out) {
    return ::localtime_r(&t, &out) != nullptr;
}

} // namespace history_file

} // namespace orv
