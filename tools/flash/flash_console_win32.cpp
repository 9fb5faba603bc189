// The console on Windows: Ctrl+C and Ctrl+Break come to a control handler that the system calls
// on a thread of its own; the answer to a question is read by a thread blocked in ReadFile,
// which CancelSynchronousIo ends when the question goes away unanswered.

#include "flash_console.h"

#include <memory>
#include <mutex>
#include <windows.h>

namespace orv {

namespace {

// One reading of the answer; shared with its thread, which may outlive a cancel.
struct TAnswer {
    std::mutex lock;
    std::function<void(const std::string&)> onAnswer; // guarded by lock; empty once cancelled
};

DWORD WINAPI ReadAnswerThread(void* param) {
    const std::unique_ptr<std::shared_ptr<TAnswer>> held(
        static_cast<std::shared_ptr<TAnswer>*>(param));
    const std::shared_ptr<TAnswer> answer = *held;
    char buf[256];
    DWORD got = 0;
    if (!::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buf, sizeof buf, &got, nullptr))
        got = 0;
    // Under the lock, so that after a cancel no answer is given.
    std::lock_guard<std::mutex> hold(answer->lock);
    if (answer->onAnswer) {
        const auto reply = std::move(answer->onAnswer);
        answer->onAnswer = nullptr;
        reply(std::string(buf, got));
    }
    return 0;
}

} // namespace

struct TConsole::TState {
    std::function<void()> onInterrupt;
    std::shared_ptr<TAnswer> answer;
    HANDLE reader = nullptr;
};

namespace {

std::mutex gConsoleLock;
TConsole::TState* gConsole = nullptr; // guarded by gConsoleLock

BOOL WINAPI OnControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE; // closing the console or logging off: the system's own handling
    std::lock_guard<std::mutex> hold(gConsoleLock);
    if (gConsole && gConsole->onInterrupt)
        gConsole->onInterrupt();
    return TRUE;
}

} // namespace

TConsole::TConsole(std::function<void()> onInterrupt) : state_(std::make_unique<TState>()) {
    state_->onInterrupt = std::move(onInterrupt);
    {
        std::lock_guard<std::mutex> hold(gConsoleLock);
        gConsole = state_.get();
    }
    ::SetConsoleCtrlHandler(OnControl, TRUE);
}

TConsole::~TConsole() {
    CancelAnswer();
    ::SetConsoleCtrlHandler(OnControl, FALSE);
    std::lock_guard<std::mutex> hold(gConsoleLock);
    gConsole = nullptr;
}

bool TConsole::InputIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool TConsole::OutputIsTerminal() {
    // A console redraws a line in place only with its terminal sequences switched on; one that
    // cannot (or a pipe, a file) gets the plain progress lines.
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!::GetConsoleMode(out, &mode))
        return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void TConsole::ReadAnswer(std::function<void(const std::string&)> onAnswer) {
    CancelAnswer();
    state_->answer = std::make_shared<TAnswer>();
    state_->answer->onAnswer = std::move(onAnswer);
    auto* held = new std::shared_ptr<TAnswer>(state_->answer);
    state_->reader = ::CreateThread(nullptr, 0, ReadAnswerThread, held, 0, nullptr);
    if (!state_->reader) {
        delete held;
        const auto reply = std::move(state_->answer->onAnswer);
        state_->answer.reset();
        reply(std::string()); // nothing can be read: as at end of input
    }
}

void TConsole::CancelAnswer() {
    if (state_->answer) {
        std::lock_guard<std::mutex> hold(state_->answer->lock);
        state_->answer->onAnswer = nullptr;
    }
    state_->answer.reset();
    if (!state_->reader)
        return;
    // A reader still blocked is left behind if the cancel does not reach it: it holds only its
    // own share of the answer, and gives none.
    ::CancelSynchronousIo(state_->reader);
    ::WaitForSingleObject(state_->reader, 500);
    ::CloseHandle(state_->reader);
    state_->reader = nullptr;
}

} // namespace orv
