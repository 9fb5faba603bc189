#pragma once
// Running the built tools as processes: orv-flash, orv-plcsim and orv-osimage, for the
// end-to-end tests, the update-time bench and the fault campaign.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace orv::flashtest {

// The build folder: $ORV_BINARY_DIR, else the one this program was built in.
std::string BinaryDir();
// The source tree: $ORV_SOURCE_DIR, else the one this program was built from.
std::string SourceDir();
std::string ToolPath(const std::string& tool); // "flash" gives .../tools/flash/orv-flash

// A child with its stdout and stderr collected by two threads, so it never blocks on a full pipe.
class Process {
public:
    // stdinPath: what the child reads (default /dev/null).
    explicit Process(const std::vector<std::string>& argv, const std::string& stdinPath = {});
    ~Process(); // kills a child that is still running
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
    pid_t Pid() const { return pid_; }

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

// Runs a tool to its end, killing it after `timeout`, or once its output has stalled for
// `stall` when that is given.
RunResult RunTool(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                  const std::string& stdinPath = {}, std::chrono::milliseconds stall = {});

// orv-osimage make OUT --size BYTES --first-page N --version V --date D --flash-type F --seed S
struct ImageRecipe {
    uint32_t Size = 0x22000;
    int FirstPage = 128;
    std::string Version = "1.61";
    std::string Date = "03/2010";
    int FlashType = 2;
    uint64_t Seed = 1;
};
// Makes the image at path; throws std::runtime_error with the tool's words when it fails.
void MakeImage(const std::string& path, const ImageRecipe& recipe);

// An orv-plcsim on its own pseudo-terminal; stopped with SIGTERM when it goes out of scope.
class PlcSim {
public:
    explicit PlcSim(const std::vector<std::string>& args);
    ~PlcSim();
    std::string Path; // the pseudo-terminal
    std::string Name; // its entry in the virtual-port folder
    // Stops it (SIGTERM) and returns its exit code.
    std::optional<int> Stop();
    Process& Proc() { return proc_; }

private:
    Process proc_;
};

// orv-flash --json's standard output, one parsed value per line (discarded where a line is not
// JSON).
std::vector<nlohmann::json> JsonLines(const std::string& out);

// What the documents promise, read from orv-flash(1)'s source, packaging/man/orv-flash.1.in.
// The exit statuses with their words, blanks and roff escapes evened out: of the help page
// (the lines after "exit status:") and of the manual page (its EXIT STATUS section).
std::map<int, std::string> HelpExitStatuses(const std::string& help);
std::map<int, std::string> ManExitStatuses();
// What the manual page's JSON EVENTS section does not say of these events: each event, field
// or field type it lacks, one a line; empty when it documents them all.
std::string UndocumentedInEvents(const std::vector<nlohmann::json>& events);

// A fresh folder under the build tree for one test's files.
std::string ScratchDir(const std::string& name);

std::vector<uint8_t> ReadFile(const std::string& path);

// What a PLC's flash must hold after the image went over: page 0 as sent (the image CRC
// patched in at 26 and 27), pages 1..FirstPage-1 erased (0xFF), pages FirstPage..PageCount-1
// as in the image. Computed here from the file, not with the program's image code. Empty when
// it does; otherwise says where it first differs.
std::string CompareFlash(const std::string& flashPath, const std::string& imagePath);

} // namespace orv::flashtest
