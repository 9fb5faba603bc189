#include "flash_testkit.h"

#include "common/crc16.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <set>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orv::flashtest {

std::string BinaryDir() {
    if (const char* dir = std::getenv("ORV_BINARY_DIR"); dir && *dir)
        return dir;
    return ORV_DEFAULT_BINARY_DIR;
}

std::string SourceDir() {
    if (const char* dir = std::getenv("ORV_SOURCE_DIR"); dir && *dir)
        return dir;
    return ORV_DEFAULT_SOURCE_DIR;
}

std::string ToolPath(const std::string& tool) {
    return BinaryDir() + "/tools/" + tool + "/orv-" + tool;
}

Process::Process(const std::vector<std::string>& argv, const std::string& stdinPath) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<char*> args;
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
        ::dup2(err[1], 2);
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

void MakeImage(const std::string& path, const ImageRecipe& recipe) {
    const RunResult r = RunTool(
        {ToolPath("osimage"), "make", path, "--size", std::to_string(recipe.Size), "--first-page",
         std::to_string(recipe.FirstPage), "--version", recipe.Version, "--date", recipe.Date,
         "--flash-type", std::to_string(recipe.FlashType), "--seed", std::to_string(recipe.Seed)},
        std::chrono::seconds(30));
    if (r.Exit != 0)
        throw std::runtime_error("orv-osimage make failed: " + r.Err);
}

PlcSim::PlcSim(const std::vector<std::string>& args)
    : proc_([&] {
          std::vector<std::string> argv{ToolPath("plcsim")};
          argv.insert(argv.end(), args.begin(), args.end());
          return argv;
      }()) {
    const auto line = proc_.FirstLine(std::chrono::seconds(10));
    const std::string prefix = "listening on ";
    const auto as = line ? line->find(" as ") : std::string::npos;
    if (!line || line->rfind(prefix, 0) != 0 || as == std::string::npos)
        throw std::runtime_error("orv-plcsim did not start: " + line.value_or("") + proc_.Err());
    Path = line->substr(prefix.size(), as - prefix.size());
    Name = line->substr(as + 4);
}

PlcSim::~PlcSim() {
    Stop();
}

std::optional<int> PlcSim::Stop() {
    proc_.Signal(SIGTERM);
    return proc_.Wait(std::chrono::seconds(10));
}

std::vector<nlohmann::json> JsonLines(const std::string& out) {
    std::vector<nlohmann::json> values;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line))
        values.push_back(nlohmann::json::parse(line, nullptr, false));
    return values;
}

namespace {

// A line of roff as it reads: escapes resolved, fonts dropped, blanks evened out.
std::string RoffText(const std::string& line) {
    static const std::vector<std::pair<std::string, std::string>> kEscapes{
        {"\\&", ""},  {"\\|", ""},  {"\\-", "-"}, {"\\(lq", "\""}, {"\\(rq", "\""}, {"\\(aq", "'"},
        {"\\fB", ""}, {"\\fI", ""}, {"\\fR", ""}, {"\\fP", ""},    {"\\e", "\\"}};
    std::string text = line;
    for (const auto& [escape, plain] : kEscapes)
        for (size_t at = text.find(escape); at != std::string::npos; at = text.find(escape, at))
            text.replace(at, escape.size(), plain);
    std::istringstream words(text);
    std::string out, word;
    while (words >> word)
        out += (out.empty() ? "" : " ") + word;
    return out;
}

// The lines of a section of orv-flash(1), from its .SH to the next.
std::vector<std::string> ManSection(const std::string& title) {
    std::ifstream in(SourceDir() + "/packaging/man/orv-flash.1.in");
    std::vector<std::string> lines;
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(".SH", 0) == 0)
            inside = line == ".SH " + title;
        else if (inside)
            lines.push_back(line);
    }
    return lines;
}

// ".B name", ".I \"every event\"": the name a tag line gives.
std::string TagName(const std::string& line) {
    std::string text = RoffText(line.substr(std::min(line.find(' '), line.size())));
    text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
    return text;
}

// A type as the manual page words it: alternatives such as "OS or null".
bool HasType(const nlohmann::json& v, const std::string& type) {
    for (size_t from = 0; from <= type.size();) {
        const size_t end = std::min(type.find(" or ", from), type.size());
        const std::string t = type.substr(from, end - from);
        from = end + 4;
        const auto all = [&](auto check) {
            return v.is_array() && std::all_of(v.begin(), v.end(), check);
        };
        const bool os =
            v.is_object() && v.size() == 3 &&
            std::all_of(v.begin(), v.end(), [](const auto& f) { return f.is_string(); }) &&
            v.contains("version") && v.contains("date") && v.contains("flash");
        if ((t == "string" && v.is_string()) || (t == "integer" && v.is_number_integer()) ||
            (t == "number" && v.is_number()) || (t == "boolean" && v.is_boolean()) ||
            (t == "null" && v.is_null()) || (t == "OS" && os) ||
            (t == "array of integers" &&
             all([](const auto& e) { return e.is_number_integer(); })) ||
            (t == "array of strings" && all([](const auto& e) { return e.is_string(); })) ||
            (t == "array of objects" && all([](const auto& e) { return e.is_object(); })))
            return true;
    }
    return false;
}

} // namespace

std::map<int, std::string> HelpExitStatuses(const std::string& help) {
    std::map<int, std::string> codes;
    const size_t at = help.find("\nexit status:\n");
    std::istringstream lines(at == std::string::npos ? "" : help.substr(at + 14));
    int code = -1;
    // "  0    done: ...", then its continuation lines, indented further.
    for (std::string line; std::getline(lines, line) && line.rfind("  ", 0) == 0;) {
        if (std::isdigit(static_cast<unsigned char>(line[2]))) {
            const size_t end = line.find(' ', 2);
            code = std::stoi(line.substr(2, end - 2));
            line.erase(0, end);
        }
        codes[code] = RoffText(codes[code] + " " + line);
    }
    return codes;
}

std::map<int, std::string> ManExitStatuses() {
    std::map<int, std::string> codes;
    const std::vector<std::string> lines = ManSection("EXIT STATUS");
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i] != ".TP" || lines[i + 1].rfind(".B ", 0) != 0)
            continue;
        std::string& text = codes[std::stoi(TagName(lines[i + 1]))];
        for (i += 2; i < lines.size() && lines[i].rfind('.', 0) != 0; ++i)
            text = RoffText(text + " " + lines[i]);
        --i;
    }
    return codes;
}

std::string UndocumentedInEvents(const std::vector<nlohmann::json>& events) {
    // Event (empty: every event) -> field -> type; "field.sub" for the objects of an array.
    std::map<std::string, std::map<std::string, std::string>> documented;
    std::string event, field, *type = nullptr;
    int depth = 0;
    bool tag = false;
    for (const std::string& line : ManSection("JSON EVENTS")) {
        if (line.rfind(".RS", 0) == 0 || line.rfind(".RE", 0) == 0) {
            depth += line[2] == 'S' ? 1 : -1;
        } else if (line.rfind(".TP", 0) == 0) {
            tag = true;
        } else if (tag) {
            tag = false;
            const std::string name = TagName(line);
            if (depth == 0) {
                event = name == "every event" ? "" : name;
                documented[event];
                continue;
            }
            if (depth == 1)
                field = name;
            type = &documented[event][depth == 1 ? name : field + "." + name];
            // An event documented in two sections takes a field's types from both.
            if (!type->empty())
                *type += " or ";
        } else if (type && line.rfind('.', 0) != 0) {
            *type += RoffText(line.substr(0, line.find(':')));
            type = nullptr;
        }
    }
    std::set<std::string> missing;
    const auto check = [&](const std::string& name, const std::string& key, const auto& value) {
        for (const std::string& where : {name, std::string()}) {
            const auto& fields = documented[where];
            if (const auto doc = fields.find(key); doc != fields.end()) {
                if (!HasType(value, doc->second))
                    missing.insert(name + ": " + key + " is " + value.dump() + ", not " +
                                   doc->second);
                return;
            }
        }
        missing.insert(name + ": no field " + key);
    };
    for (const nlohmann::json& e : events) {
        const std::string name = e.value("event", "");
        if (!documented.count(name)) {
            missing.insert("no event " + name);
            continue;
        }
        for (const auto& [key, value] : e.items()) {
            check(name, key, value);
            if (value.is_array())
                for (const auto& element : value)
                    if (element.is_object())
                        for (const auto& [sub, subValue] : element.items())
                            check(name, key + "." + sub, subValue);
        }
    }
    std::string text;
    for (const std::string& m : missing)
        text += m + "\n";
    return text;
}

std::string ScratchDir(const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(BinaryDir()) / "test-scratch" / "flash" /
                         (name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string CompareFlash(const std::string& flashPath, const std::string& imagePath) {
    const std::vector<uint8_t> flash = ReadFile(flashPath);
    std::vector<uint8_t> image = ReadFile(imagePath);
    if (image.size() < 0x22000)
        return "the image " + imagePath + " is too small";
    const size_t pages = image.size() / 256;
    const size_t firstPage = image[23];
    // The header page goes over with the image CRC, high byte first, over 0x8000 to the end.
    const uint16_t crc =
        CRC16(image.data() + 0x8000, static_cast<uint32_t>(image.size() - 0x8000), 0xFFFF);
    image[26] = static_cast<uint8_t>(crc >> 8);
    image[27] = static_cast<uint8_t>(crc & 0xFF);
    if (flash.size() < pages * 256)
        return "the flash holds " + std::to_string(flash.size()) + " bytes, the image's pages " +
               std::to_string(pages * 256);
    auto pageDiffers = [&](size_t p) {
        return !std::equal(image.begin() + static_cast<long>(p * 256),
                           image.begin() + static_cast<long>(p * 256 + 256),
                           flash.begin() + static_cast<long>(p * 256));
    };
    if (pageDiffers(0))
        return "page 0 differs";
    // Pages 1 to FirstPage - 1 never go over: the PLC keeps them erased.
    for (size_t i = 256; i < firstPage * 256 && i < flash.size(); ++i)
        if (flash[i] != 0xFF)
            return "page " + std::to_string(i / 256) + " was written but is never sent";
    for (size_t p = firstPage; p < pages; ++p)
        if (pageDiffers(p))
            return "page " + std::to_string(p) + " differs";
    return {};
}

} // namespace orv::flashtest
