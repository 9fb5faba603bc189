#pragma once
// Child processes of the tests and benches. Every platform runs a program to its end and
// collects what it printed (the tools, or on Windows Wine's own `reg`), as a person would. On
// POSIX a child can also be watched while it runs: its output is collected by two threads, so
// it never blocks on a full pipe. How a process is started is the platform's:
// child_process_posix.cpp, child_process_win32.cpp.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace orv::test {

struct ProgramRun {
    int Exit = -1;      // -1 when it could not be started or did not end normally
    std::string Output; // standard output and error together
};

// `program` is a path, or on Windows a name found through the search path.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args);

// ---- POSIX only ----

// A running child; killed when it is still running at the end of the object.
class Process {
public:
    enum class Errors { Apart, WithOutput };
    // stdinPath: what the child reads (default /dev/null). Errors::WithOutput sends its
    // standard error into Out() too.
    explicit Process(const std::vector<std::string>& argv, const std::string& stdinPath = {},
                     Errors errors = Errors::Apart);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Waits for the first line of stdout; nothing when the child ends or time runs out first.
    std::optional<std::string> FirstLine(std::chrono::milliseconds timeout);
    // Waits until stdout holds text; false when the child ends or time runs out first.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    // The exit code (128 + signal for a signalled child); nothing on time-out.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    // The same, but gives up as soon as stdout has said nothing new for `stall` (a line that
    // differs from an earlier one only in its time stamps and rates is nothing new), and then
    // says why in `why`, with the last line seen.
    std::optional<int> WaitProgressing(std::chrono::milliseconds timeout,
                                       std::chrono::milliseconds stall, std::string& why);
    void Signal(int sig);
    bool Signalled() const { return signalled_; }

    std::string Out() const;
    std::string Err() const;

private:
    void Collect(int fd, std::string& into);

    pid_t pid_ = -1;
    bool reaped_ = false;
    bool signalled_ = false;
    int status_ = 0;
    mutable std::mutex lock_;
    std::condition_variable grew_;
    std::string out_, err_;
    bool outClosed_ = false;
    std::thread outThread_, errThread_;
};

struct RunResult {
    int Exit = -1; // -1: did not end in time (killed)
    bool Signalled = false;
    std::string Out, Err;
    std::string Stalled; // why it was killed, with its last line of output
};

// Runs argv to its end, killing it after `timeout`, or once its output has stalled for `stall`
// when that is given.
RunResult RunTool(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                  const std::string& stdinPath = {}, std::chrono::milliseconds stall = {});

// Exit code, output and why it stalled, for a failed expectation.
std::string Describe(const RunResult& r);

} // namespace orv::test
