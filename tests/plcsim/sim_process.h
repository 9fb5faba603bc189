#pragma once
// Runs orv-plcsim as a child process, for what only a process shows: its exit codes, its
// signals and its standard output.

#include "sim_line.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace plcsim_test {

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
            pollfd p{stdout_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0)
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

private:
    std::string name_;
    std::string runtime_;
    std::string linkPath_;
    std::string firstLine_;
    std::string pending_;
    pid_t pid_ = -1;
    int stdout_ = -1;
    bool reaped_ = false;
};

} // namespace plcsim_test
