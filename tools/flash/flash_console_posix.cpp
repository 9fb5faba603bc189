// The console on POSIX: signals reach the console's thread through a pipe, the only thing a
// signal handler may safely do; the same thread watches standard input while a question waits.

#include "flash_console.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace orv {

namespace {

constexpr char kInterrupt = 'i';
constexpr char kRead = 'r';
constexpr char kCancel = 'c';
constexpr char kQuit = 'q';

int gWakeFd = -1; // the pipe's write end, set before the handler is installed

extern "C" void OnSignal(int) {
    const int saved = errno;
    const char code = kInterrupt;
    [[maybe_unused]] const ssize_t n = ::write(gWakeFd, &code, 1);
    errno = saved;
}

void SetHandlers(void (*handler)(int)) {
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr); // the terminal or the SSH session has gone
}

} // namespace

struct TConsole::TState {
    int pipe[2] = {-1, -1};
    std::function<void()> onInterrupt;
    std::mutex lock;
    std::function<void(const std::string&)> onAnswer; // guarded by lock
    std::thread watcher;

    void Send(char code) { [[maybe_unused]] const ssize_t n = ::write(pipe[1], &code, 1); }
    void Watch();
    void Answer(const std::string& text);
};

void TConsole::TState::Answer(const std::string& text) {
    std::function<void(const std::string&)> reply;
    {
        std::lock_guard<std::mutex> hold(lock);
        reply.swap(onAnswer);
    }
    if (reply)
        reply(text);
}

void TConsole::TState::Watch() {
    bool reading = false;
    for (;;) {
        pollfd fds[2] = {{pipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (::poll(fds, reading ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents & POLLIN) {
            char codes[64];
            const ssize_t n = ::read(pipe[0], codes, sizeof codes);
            for (ssize_t i = 0; i < n; ++i) {
                if (codes[i] == kQuit)
                    return;
                if (codes[i] == kInterrupt)
                    onInterrupt();
                else
                    reading = codes[i] == kRead;
            }
        }
        if (reading && (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) {
            // A terminal in its usual mode hands over a whole line at a time.
            char buf[256];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            reading = false;
            Answer(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0));
        }
    }
}

TConsole::TConsole(std::function<void()> onInterrupt) : state_(std::make_unique<TState>()) {
    state_->onInterrupt = std::move(onInterrupt);
    if (::pipe2(state_->pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe");
    gWakeFd = state_->pipe[1];
    SetHandlers(OnSignal);
    // A pipe whose reader is gone must not kill the run midway: the write just fails.
    std::signal(SIGPIPE, SIG_IGN);
    state_->watcher = std::thread([state = state_.get()] { state->Watch(); });
}

TConsole::~TConsole() {
    SetHandlers(SIG_DFL);
    state_->Send(kQuit);
    state_->watcher.join();
    gWakeFd = -1;
    ::close(state_->pipe[0]);
    ::close(state_->pipe[1]);
}

bool TConsole::InputIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

bool TConsole::OutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

void TConsole::ReadAnswer(std::function<void(const std::string&)> onAnswer) {
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        state_->onAnswer = std::move(onAnswer);
    }
    state_->Send(kRead);
}

void TConsole::CancelAnswer() {
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        state_->onAnswer = nullptr;
    }
    state_->Send(kCancel);
}

} // namespace orv
