#pragma once
// The program's end of the simulator's line, with raw POSIX calls as a program at the other
// end of a serial line would use them; and orv-plcsim run in a thread of the test, so that a
// test drives the whole simulator without a child process.

#include "common/termios_speed.h"
#include "simulator.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orv::test {

using Bytes = std::vector<uint8_t>;

inline double Seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Station frame: STX, station, command, data, checksum of everything before it, ETX.
inline Bytes StationFrame(const std::string& station, const std::string& command,
                          const std::string& data = {}) {
    Bytes f{0x02};
    for (const std::string* part : {&station, &command, &data})
        for (char c : *part)
            f.push_back(static_cast<uint8_t>(c));
    unsigned sum = 0;
    for (uint8_t b : f)
        sum += b;
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", sum & 0xFF);
    f.push_back(static_cast<uint8_t>(hex[0]));
    f.push_back(static_cast<uint8_t>(hex[1]));
    f.push_back(0x03);
    return f;
}

// Raw, 8 data bits, even parity, at speed bit/s.
inline void SetSpeed(int fd, int speed) {
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, orv::TermiosSpeed(static_cast<uint32_t>(speed)));
    t.c_cflag |= CLOCAL | CREAD | CS8 | PARENB;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
}

inline void Send(int fd, const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

// What arrives as one reply: bytes until `want` have come or 100 ms pass without one, waiting
// at most timeoutMs for the first. `reads` counts the pieces it came in.
inline Bytes Receive(int fd, size_t want, int timeoutMs = 1000, int* reads = nullptr) {
    Bytes got;
    const double deadline = Seconds() + timeoutMs / 1000.0;
    while (got.size() < want) {
        const int wait = got.empty() ? static_cast<int>((deadline - Seconds()) * 1000) : 100;
        if (wait <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, wait) <= 0)
            break;
        uint8_t buf[512];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.insert(got.end(), buf, buf + n);
        if (reads)
            ++*reads;
    }
    return got;
}

inline Bytes Exchange(int fd, const Bytes& frame, size_t want, int timeoutMs = 1000) {
    Send(fd, frame);
    return Receive(fd, want, timeoutMs);
}

inline bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// orv-plcsim with these arguments, in a thread; stopped when it goes out of scope.
class SimThread {
public:
    explicit SimThread(std::vector<std::string> args) {
        static int serial = 0;
        name_ = "t" + std::to_string(getpid()) + "_" + std::to_string(++serial);
        args.insert(args.begin(), {"--name", name_});
        orv::plcsim::Options options;
        const std::string error = orv::plcsim::ParseOptions(args, options);
        std::string folder, why;
        if (!error.empty() || pipe2(stop_, O_CLOEXEC) != 0 ||
            !orv::plcsim::VirtualPortFolder(folder, why)) {
            ADD_FAILURE() << "cannot start the simulator: " << error << why;
            return;
        }
        link_ = folder + "/" + name_;
        sim_ = std::make_unique<orv::plcsim::Simulator>(std::move(options));
        sim_->OnSay([this](const std::string& line) { Note(line, false); });
        thread_ = std::thread([this] {
            const int code = sim_->Run(stop_[0]);
            Note({}, true, code);
        });
        firstLine_ = ReadLine(5000);
    }
    ~SimThread() {
        for (int fd : ports_)
            close(fd);
        if (thread_.joinable()) {
            const ssize_t ignored = write(stop_[1], "x", 1);
            (void)ignored;
            thread_.join();
        }
        for (int fd : stop_)
            if (fd >= 0)
                close(fd);
    }

    const std::string& FirstLine() const { return firstLine_; }
    const std::string& Name() const { return name_; }
    const std::string& LinkPath() const { return link_; }
    // A line the simulator said; empty on time-out.
    std::string ReadLine(int timeoutMs) {
        std::unique_lock<std::mutex> hold(lock_);
        if (!said_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                            [this] { return !lines_.empty(); }))
            return {};
        std::string line = lines_.front();
        lines_.pop_front();
        return line;
    }
    // Its exit code once it has ended by itself; -1 while it still runs after the time-out.
    int Wait(int timeoutMs) {
        std::unique_lock<std::mutex> hold(lock_);
        return said_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return ended_; })
                   ? exit_
                   : -1;
    }
    // Opens the virtual port raw at this speed, 8 data bits, even parity.
    int OpenPort(int speed = 9600) {
        const int fd = open(link_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) {
            SetSpeed(fd, speed);
            ports_.push_back(fd);
        }
        return fd;
    }

private:
    void Note(const std::string& line, bool ended, int code = 0) {
        std::lock_guard<std::mutex> hold(lock_);
        if (ended) {
            ended_ = true;
            exit_ = code;
        } else {
            lines_.push_back(line);
        }
        said_.notify_all();
    }

    std::string name_, link_, firstLine_;
    std::unique_ptr<orv::plcsim::Simulator> sim_;
    std::thread thread_;
    int stop_[2] = {-1, -1};
    std::vector<int> ports_;
    std::mutex lock_;
    std::condition_variable said_;
    std::deque<std::string> lines_;
    bool ended_ = false;
    int exit_ = -1;
};

} // namespace orv::test
