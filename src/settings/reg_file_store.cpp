#include "settings/reg_file_store.h"

#include "settings/reg_text.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace orv {

namespace {

// An exclusive flock on a file of its own: the data file itself is replaced by rename, so it
// cannot carry the lock. The kernel drops the lock when a program dies holding it.
class LockFile {
public:
    LockFile() = default;
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    ~LockFile() {
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_UN);
            ::close(fd_);
        }
    }

    enum class Result { Locked, Held, Failed };

    // On Failed, `why` says what went wrong.
    Result Acquire(const std::string& path, int waitMs, std::string& why) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd_ < 0) {
            why = "cannot open the lock file " + path + ": " + std::strerror(errno);
            return Result::Failed;
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        Result result = Result::Held;
        for (;;) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0)
                return Result::Locked;
            if (errno != EWOULDBLOCK && errno != EINTR) {
                why = "cannot lock " + path + ": " + std::strerror(errno);
                result = Result::Failed;
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_ = -1;
};

enum class ReadStatus { Ok, Missing, TooLarge, Failed };

// On Failed, `why` says what went wrong.
ReadStatus ReadWholeFile(const std::string& path, std::string& out, struct stat& st,
                         std::string& why) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return ReadStatus::Missing;
        why = std::strerror(errno);
        return ReadStatus::Failed;
    }
    ReadStatus status = ReadStatus::Ok;
    if (::fstat(fd, &st) != 0) {
        why = std::strerror(errno);
        status = ReadStatus::Failed;
    } else if (!S_ISREG(st.st_mode)) {
        why = "it is not a plain file";
        status = ReadStatus::Failed;
    } else if (static_cast<unsigned long long>(st.st_size) > RegFileStore::kMaxFileSize) {
        status = ReadStatus::TooLarge;
    } else {
        char buf[16384];
        for (;;) {
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                why = std::strerror(errno);
                status = ReadStatus::Failed;
                break;
            }
            if (n == 0)
                break;
            out.append(buf, static_cast<size_t>(n));
            if (out.size() > RegFileStore::kMaxFileSize) {
                status = ReadStatus::TooLarge;
                break;
            }
        }
    }
    ::close(fd);
    return status;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = ENOSPC;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes `text` to a new file beside `file` and renames it over `file`; on any failure the old
// file is untouched. Returns why it failed, "" when it did not.
std::string ReplaceFile(const std::string& file, const std::string& text) {
    // A settings file linked from elsewhere stays linked: the link's target is replaced.
    std::string path = file;
    struct stat link {};
    if (::lstat(file.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        std::error_code ec;
        std::filesystem::path target = std::filesystem::canonical(file, ec);
        if (ec)
            return "cannot follow the link to its file: " + ec.message();
        path = target.string();
    }
    static std::atomic<unsigned> counter{0};
    std::string tmp =
        path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1));
    struct stat old {};
    bool keepMode = ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return "cannot create a new file beside it: " + std::string(std::strerror(errno));
    std::string why;
    if (keepMode && ::fchmod(fd, old.st_mode & 07777) != 0)
        why = "cannot give the new file the old one's permissions: ";
    else if (!WriteAll(fd, text))
        why = "cannot write the new file: ";
    else if (::fsync(fd) != 0)
        why = "cannot flush the new file to the disk: ";
    if (!why.empty())
        why += std::strerror(errno);
    if (::close(fd) != 0 && why.empty())
        why = "cannot write the new file: " + std::string(std::strerror(errno));
    if (why.empty() && ::rename(tmp.c_str(), path.c_str()) != 0)
        why = "cannot put the new file in its place: " + std::string(std::strerror(errno));
    if (!why.empty()) {
        ::unlink(tmp.c_str());
        return why;
    }
    // The rename itself reaches the disk with the folder.
    std::string dir = std::filesystem::path(path).parent_path().string();
    int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return {};
}

// Keeps a copy of a damaged file as `bad`; the file itself stays until a sound one replaces it.
std::string SetAside(const std::string& file, const std::string& bad) {
    std::error_code ec;
    std::filesystem::copy_file(file, bad, std::filesystem::copy_options::overwrite_existing, ec);
    if (!ec)
        return {};
    std::error_code ignored;
    std::filesystem::remove(bad, ignored);
    return ec.message();
}

void Warn(const std::string& text) {
    std::fprintf(stderr, "orv-os-update: %s\n", text.c_str());
}

std::string DamageSummary(const RegParseResult& parsed) {
    std::string s;
    for (size_t i = 0; i < parsed.errors.size() && i < 3; ++i)
        s += (i ? "; " : "") + parsed.errors[i];
    size_t shown = parsed.errors.size() < 3 ? parsed.errors.size() : 3;
    if (parsed.errorCount > shown)
        s += "; and " + std::to_string(parsed.errorCount - shown) + " more";
    return s;
}

} // namespace

class RegFileKey final : public RegKey {
public:
    RegFileKey(RegFileStore& store, std::unique_ptr<LockFile> lock, RegDocument doc,
               std::string path, bool dirty)
        : store_(store), lock_(std::move(lock)), doc_(std::move(doc)), path_(std::move(path)),
          dirty_(dirty) {}
    RegFileKey(const RegFileKey&) = delete;
    RegFileKey& operator=(const RegFileKey&) = delete;
    ~RegFileKey() override { Close(); }

    bool ValueExists(std::string_view name) override { return Find(name) != nullptr; }

    std::string ReadString(std::string_view name) override {
        const RegValue* v = Find(name);
        if (!v)
            throw ERegError(FailedToGetMessage(name));
        bool isString =
            v->form == RegValue::Form::Text ||
            (v->form == RegValue::Form::Hex && (v->type == rtString || v->type == rtExpandString));
        if (!isString)
            throw ERegError(InvalidDataTypeMessage(name));
        std::string text;
        if (!DecodeRegString(*v, text))
            throw ERegError(FailedToGetMessage(name));
        return text;
    }

    uint32_t ReadDWord(std::string_view name) override {
        const RegValue* v = Find(name);
        if (!v)
            throw ERegError(FailedToGetMessage(name));
        if (v->form == RegValue::Form::DWord)
            return v->dword;
        if (v->form != RegValue::Form::Hex || v->type != rtDWord)
            throw ERegError(InvalidDataTypeMessage(name));
        if (v->data.size() != 4)
            throw ERegError(FailedToGetMessage(name));
        uint32_t x = 0;
        for (int i = 3; i >= 0; --i)
            x = (x << 8) | static_cast<unsigned char>(v->data[static_cast<size_t>(i)]);
        return x;
    }

    void WriteString(std::string_view name, std::string_view value) override {
        RegValue v;
        if (!EncodeRegString(value, v))
            throw ERegError(FailedToSetMessage(name));
        Store(name, std::move(v));
    }

    void WriteDWord(std::string_view name, uint32_t value) override {
        Store(name, RegValue::DWord(value));
    }

    bool Close() override {
        if (closed_)
            return result_;
        closed_ = true;
        if (dirty_) {
            const std::string why = lock_ ? ReplaceFile(store_.file_, WriteRegText(doc_))
                                          : std::string("the settings file was not locked");
            result_ = why.empty();
            if (!result_)
                store_.failure_ = why;
        }
        lock_.reset();
        return result_;
    }

private:
    const RegValue* Find(std::string_view name) const {
        const RegKeyData* key = doc_.FindKey(path_);
        return key ? key->Find(name) : nullptr;
    }

    void Store(std::string_view name, RegValue v) {
        // Without the lock this program may not change the file (it is read-only to us).
        if (closed_ || !lock_ || !ValidValueName(name))
            throw ERegError(FailedToSetMessage(name));
        doc_.AddKey(path_).Set(name, std::move(v));
        dirty_ = true;
    }

    RegFileStore& store_;
    std::unique_ptr<LockFile> lock_;
    RegDocument doc_;
    std::string path_;
    bool dirty_;
    bool closed_ = false;
    bool result_ = true;
};

RegFileStore::RegFileStore(std::string filePath, int lockWaitMs)
    : file_(std::move(filePath)), lockWaitMs_(lockWaitMs) {}

std::unique_ptr<RegKey> RegFileStore::OpenKey(std::string_view path, bool forWriting) {
    failure_.clear();
    if (file_.empty()) {
        failure_ = "there is no folder for the settings";
        return nullptr;
    }
    if (!ValidKeyPath(path)) {
        failure_ = "the key " + std::string(path) + " is not a valid key path";
        return nullptr;
    }

    std::error_code ec;
    std::filesystem::path folder = std::filesystem::path(file_).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder, ec);
    auto lock = std::make_unique<LockFile>();
    std::string notWritable;
    if (ec) {
        notWritable = "cannot create the folder " + folder.string() + ": " + ec.message();
        lock.reset();
    } else {
        const std::string lockPath = file_ + ".lock";
        switch (lock->Acquire(lockPath, lockStuck_ ? 0 : lockWaitMs_, notWritable)) {
        case LockFile::Result::Locked:
            lockStuck_ = false;
            break;
        case LockFile::Result::Held:
            lockStuck_ = true;
            notWritable = "another program holds the settings lock " + lockPath;
            lock.reset();
            break;
        case LockFile::Result::Failed:
            lock.reset();
            break;
        }
    }
    // A file the user made read-only stays as it is, even where rename could replace it.
    if (lock && ::access(file_.c_str(), W_OK) != 0 && errno != ENOENT) {
        notWritable = "the file is read-only";
        lock.reset();
    }
    bool writable = lock != nullptr;
    if (forWriting && !writable) {
        failure_ = notWritable;
        return nullptr;
    }

    std::string text;
    struct stat st {};
    std::string unreadable;
    ReadStatus status = ReadWholeFile(file_, text, st, unreadable);
    if (status == ReadStatus::Failed) {
        failure_ = "cannot read the file: " + unreadable;
        return nullptr;
    }

    RegParseResult parsed;
    if (status == ReadStatus::TooLarge) {
        parsed.errors.push_back("it is larger than " + std::to_string(kMaxFileSize / 1048576) +
                                " MiB");
        parsed.errorCount = 1;
    } else if (status == ReadStatus::Ok) {
        parsed = ParseRegText(text);
    }

    bool dirty = false;
    if (parsed.errorCount > 0) {
        std::string what =
            "the settings file " + file_ + " is damaged (" + DamageSummary(parsed) + "); ";
        std::string bad = file_ + ".bad";
        if (writable) {
            const std::string why = SetAside(file_, bad);
            if (why.empty()) {
                Warn(what + "its readable values are kept, the damaged file is set aside as " +
                     bad);
                dirty = true; // write the readable part back as a sound file
            } else {
                Warn(what + "its readable values are used; it could not be set aside as " + bad +
                     ": " + why);
            }
        } else {
            std::string signature = std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) +
                                    ":" + std::to_string(st.st_mtim.tv_sec) + "." +
                                    std::to_string(st.st_mtim.tv_nsec);
            if (signature != warnedAbout_) {
                warnedAbout_ = signature;
                Warn(what + "its readable values are used; it cannot be changed");
            }
        }
    }

    RegDocument doc = std::move(parsed.doc);
    if (!doc.KeyExists(path)) {
        if (!writable) {
            failure_ = notWritable;
            return nullptr;
        }
        doc.AddKey(path);
        dirty = true;
    }
    return std::make_unique<RegFileKey>(*this, std::move(lock), std::move(doc), std::string(path),
                                        dirty);
}

} // namespace orv
