#pragma once
// What differs between the platforms at orv-flash's terminal: the interrupt (SIGINT, SIGTERM,
// SIGHUP; Ctrl+C and Ctrl+Break at a Windows console), whether a terminal is there, and reading the
// operator's answer from it. flash_console_posix.cpp and flash_console_win32.cpp implement it.

#include <functional>
#include <memory>
#include <string>

namespace orv {

class TConsole {
public:
    // onInterrupt runs once per interrupt on a thread of the console's own, so it only posts
    // to the event loop. Only one console at a time.
    explicit TConsole(std::function<void()> onInterrupt);
    ~TConsole(); // after it, neither callback runs again
    TConsole(const TConsole&) = delete;
    TConsole& operator=(const TConsole&) = delete;

    // The operator can answer a question here.
    static bool InputIsTerminal();
    // Standard output is a terminal that can redraw a line in place ("\r", then ESC [K).
    static bool OutputIsTerminal();

    // Waits in the background for what the operator types next; onAnswer runs once, on the
    // console's thread, with the text read (empty at end of input). CancelAnswer stops waiting.
    void ReadAnswer(std::function<void(const std::string&)> onAnswer);
    void CancelAnswer();

    struct TState; // the platform's

private:
    std::unique_ptr<TState> state_;
};

} // namespace orv
