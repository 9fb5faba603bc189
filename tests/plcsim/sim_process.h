#pragma once
// Runs orv-plcsim as a child process and talks to it over its pseudo-terminal with raw POSIX
// calls, the way a program at the other end of a serial line would.

#include "common/termios_speed.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace plcsim_test {

using Bytes = std::vector<uint8_t>;

inline double Seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Station frame: STX, station, command, data, checksum of everything before it, ETX.
inline Bytes StationFrame(const std::string& station, const std::string& command,
                          const std::string& data = {}) {
    Bytes f{0x02};
    for (char c : station + command + data)
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

class SimProcess {
public:
    // quiet: its standard error goes nowhere (the usage text of a bad-argument run); otherwise
    // it is the test's, so that sanitizer reports of the simulator show.
    explicit SimProcess(std::vector<std::string> args, bool quiet = false) {
        static int serial = 0;
        name_ = "sim" + std::to_string(getpid()) + "_" + std::to_string(++serial);
        char tmpl[] = "/tmp/plcsim-test-XXXXXX";
        runtime_ = mkdtemp(tmpl) ? tmpl : "/tmp";
        linkPath_ = runtime_ + "/orv-ports/" + name_;
        int out[2];
        if (pipe(out) != 0)
            return;
        args.insert(args.begin(), {"--name", name_});
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            const int null = quiet ? open("/dev/null", O_WRONLY) : -1;
            if (null >= 0)
                dup2(null, 2);
            close(out[0]);
            close(out[1]);
            setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(ORV_PLCSIM_PATH)};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(ORV_PLCSIM_PATH, argv.data());
            _exit(127);
        }
        close(out[1]);
        stdout_ = out[0];
        firstLine_ = ReadLine(5000);
    }

    ~SimProcess() {
        for (int fd : ports_)
            close(fd);
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGTERM);
            // A clean exit on SIGTERM; a sanitizer's abort or a crash shows here.
            EXPECT_EQ(Wait(3000), 0) << "orv-plcsim exit status";
        }
        if (stdout_ >= 0)
            close(stdout_);
        if (runtime_.rfind("/tmp/plcsim-test-", 0) == 0)
            std::filesystem::remove_all(runtime_);
    }

    const std::string& FirstLine() const { return firstLine_; }
    const std::string& LinkPath() const { return linkPath_; }
    const std::string& Name() const { return name_; }
    pid_t Pid() const { return pid_; }

    // A line of the simulator's standard output, without its newline; empty on time-out.
    std::string ReadLine(int timeoutMs) {
        const double deadline = Seconds() + timeoutMs / 1000.0;
        while (true) {
            const size_t nl = pending_.find('\n');
            if (nl != std::string::npos) {
                std::string line = pending_.substr(0, nl);
                pending_.erase(0, nl + 1);
                return line;
            }
            const int left = static_cast<int>((deadline - Seconds()) * 1000);
            if (left <= 0)
                return {};
            pollfd p{stdout_, POLLIN, 0};
            if (poll(&p, 1, left) <= 0)
                return {};
            char buf[256];
            const ssize_t n = read(stdout_, buf, sizeof buf);
            if (n <= 0)
                return {};
            pending_.append(buf, static_cast<size_t>(n));
        }
    }

    // Exit status, or -1 while it still runs after the time-out.
    int Wait(int timeoutMs) {
        const double deadline = Seconds() + timeoutMs / 1000.0;
        while (true) {
            int status = 0;
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                reaped_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (Seconds() > deadline)
                return -1;
            usleep(10000);
        }
    }

    // Opens the link raw at the given speed, 8 data bits, even parity.
    int OpenPort(int speed = 9600) {
        const int fd = open(linkPath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return -1;
        SetSpeed(fd, speed);
        ports_.push_back(fd);
        return fd;
    }

    static void SetSpeed(int fd, int speed) {
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        cfsetispeed(&t, orv::TermiosSpeed(speed));
        cfsetospeed(&t, orv::TermiosSpeed(speed));
        t.c_cflag |= CLOCAL | CREAD | CS8 | PARENB;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &t);
    }

private:
    std::string name_;
    std::string runtime_;
    std::string linkPath_;
    std::string firstLine_;
    std::string pending_;
    std::vector<int> ports_;
    pid_t pid_ = -1;
    int stdout_ = -1;
    bool reaped_ = false;
};

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
// at most timeoutMs for the first.
inline Bytes Receive(int fd, size_t want, int timeoutMs = 1000) {
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
    }
    return got;
}

inline bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

} // namespace plcsim_test
