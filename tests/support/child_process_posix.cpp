#include "child_process.h"
#include "tools.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orv::test {

Process::Process(const std::vector<std::string>& argv, const std::string& stdinPath,
                 Errors errors) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const std::string in = stdinPath.empty() ? "/dev/null" : stdinPath;
    // Simulated updates (the benches, the fault campaign) stay out of the user's update history.
    ::setenv("XDG_STATE_HOME", (BinaryDir() + "/test-home/state").c_str(), 0);

    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // A test killed by its time-out takes its tools with it: a simulator left running
        // would keep its virtual port from the next run.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        const int fd = ::open(in.c_str(), O_RDONLY);
        if (fd >= 0)
            ::dup2(fd, 0);
        ::dup2(out[1], 1);
        ::dup2(errors == Errors::WithOutput ? out[1] : err[1], 2);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    outThread_ = std::thread([this, fd = out[0]] {
        Collect(fd, out_);
        std::lock_guard<std::mutex> hold(lock_);
        outClosed_ = true;
        grew_.notify_all();
    });
    errThread_ = std::thread([this, fd = err[0]] { Collect(fd, err_); });
}

Process::~Process() {
    if (!reaped_) {
        ::kill(pid_, SIGKILL);
        Wait(std::chrono::seconds(10));
    }
    if (outThread_.joinable())
        outThread_.join();
    if (errThread_.joinable())
        errThread_.join();
}

void Process::Collect(int fd, std::string& into) {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        std::lock_guard<std::mutex> hold(lock_);
        into.append(buf, static_cast<size_t>(n));
        grew_.notify_all();
    }
    ::close(fd);
}

std::optional<std::string> Process::FirstLine(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> hold(lock_);
    const bool got = grew_.wait_for(
        hold, timeout, [this] { return out_.find('\n') != std::string::npos || outClosed_; });
    const auto nl = out_.find('\n');
    if (!got || nl == std::string::npos)
        return std::nullopt;
    return out_.substr(0, nl);
}

bool Process::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> hold(lock_);
    return grew_.wait_for(hold, timeout, [&] {
        return out_.find(text) != std::string::npos || outClosed_;
    }) && out_.find(text) != std::string::npos;
}

std::optional<int> Process::Wait(std::chrono::milliseconds timeout) {
    if (!reaped_) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const pid_t r = ::waitpid(pid_, &status_, WNOHANG);
            if (r == pid_) {
                reaped_ = true;
                break;
            }
            if (r < 0 && errno != EINTR) {
                reaped_ = true;
                status_ = 0xFF00; // unknown: exit code 255
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // The pipes end with the child (and any child of its own that kept them).
        if (outThread_.joinable())
            outThread_.join();
        if (errThread_.joinable())
            errThread_.join();
    }
    if (WIFSIGNALED(status_)) {
        signalled_ = true;
        return 128 + WTERMSIG(status_);
    }
    return WEXITSTATUS(status_);
}

namespace {

// What a line of output says, less what changes without the run moving on.
std::string ProgressKey(const std::string& line) {
    nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (!event.is_object())
        return line;
    for (const char* key : {"t", "bytes_per_second", "seconds_left", "seconds"})
        event.erase(key);
    return event.dump();
}

} // namespace

std::optional<int> Process::WaitProgressing(std::chrono::milliseconds timeout,
                                            std::chrono::milliseconds stall, std::string& why) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto moved = start;
    std::set<std::string> seen;
    std::string last;
    size_t scanned = 0;
    for (;;) {
        if (const auto code = Wait(std::chrono::milliseconds(50)))
            return code;
        {
            std::lock_guard<std::mutex> hold(lock_);
            for (size_t nl; (nl = out_.find('\n', scanned)) != std::string::npos;
                 scanned = nl + 1) {
                last = out_.substr(scanned, nl - scanned);
                if (seen.insert(ProgressKey(last)).second)
                    moved = Clock::now();
            }
        }
        const auto now = Clock::now();
        const bool late = now - start > timeout;
        if (late || now - moved > stall) {
            const auto limit =
                std::chrono::duration_cast<std::chrono::seconds>(late ? timeout : stall);
            why = (late ? "still running after " : "nothing new on its output for ") +
                  std::to_string(limit.count()) + " s; its last line: " + last;
            return std::nullopt;
        }
    }
}

void Process::Signal(int sig) {
    if (!reaped_)
        ::kill(pid_, sig);
}

std::string Process::Out() const {
    std::lock_guard<std::mutex> hold(lock_);
    return out_;
}

std::string Process::Err() const {
    std::lock_guard<std::mutex> hold(lock_);
    return err_;
}

RunResult RunTool(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                  const std::string& stdinPath, std::chrono::milliseconds stall) {
    Process p(argv, stdinPath);
    RunResult r;
    const auto code = p.WaitProgressing(timeout, stall.count() > 0 ? stall : timeout, r.Stalled);
    if (!code) {
        p.Signal(SIGKILL);
        p.Wait(std::chrono::seconds(10));
    } else {
        r.Exit = *code;
        r.Signalled = p.Signalled();
    }
    r.Out = p.Out();
    r.Err = p.Err();
    return r;
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    Process p(argv, {}, Process::Errors::WithOutput);
    ProgramRun run;
    if (const auto code = p.Wait(std::chrono::minutes(10)); code && !p.Signalled())
        run.Exit = *code;
    run.Output = p.Out();
    return run;
}

std::string Describe(const RunResult& r) {
    return r.Stalled + "\nexit " + std::to_string(r.Exit) + "\n--- stdout\n" + r.Out +
           "--- stderr\n" + r.Err;
}

} // namespace orv::test
