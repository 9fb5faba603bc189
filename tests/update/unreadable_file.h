#pragma once
// Makes a file unreadable to this program while the object lives: on POSIX by its permission
// bits (not as root, whom they do not bind), on Windows by holding it open without sharing,
// as another program may.
#include <string>

class UnreadableFile {
public:
    explicit UnreadableFile(const std::string& path);
    ~UnreadableFile();
    UnreadableFile(const UnreadableFile&) = delete;
    UnreadableFile& operator=(const UnreadableFile&) = delete;
    // False where it could not be made unreadable.
    bool Made() const { return made_; }

private:
    std::string path_;
    void* handle_ = nullptr;
    bool made_ = false;
};
