#pragma once
// Driving the program's Win32 windows in the tests as an operator would, through their
// controls' messages: clicks (BM_CLICK), choices (CB_SETCURSEL), typed text (WM_SETTEXT) and
// keys posted to the focus, read back with GetWindowText. Modal windows are answered from a
// timer, which every message loop of the thread dispatches, nested ones included.

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>
#include <windows.h>

namespace orv::test {

using namespace std::chrono_literals;

std::string Text(HWND window);
void SetText(HWND control, const std::string& text);
void Click(HWND button);
// Chooses the entry with exactly this text; false when there is none.
bool Choose(HWND combo, const std::string& text);
std::string Chosen(HWND combo);
std::vector<std::string> Entries(HWND combo);
// A status bar's first panel, without the tab that centres it.
std::string StatusText(HWND statusBar);

// Keys as the keyboard gives them, posted to the control with the focus (else to `window`):
// the key going down and up, or a character typed with Alt held.
void PressKey(HWND window, UINT key);
void PressAltKey(HWND window, wchar_t character);
// The control id of the focus, 0 when it is not in `window`.
int FocusId(HWND window);

// A message box's text, and its OK button pressed.
std::string MessageText(HWND box);
void PressOk(HWND box);

// Runs the thread's messages as the program's loop does until `done` holds or `limit` passes;
// returns done().
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s);
// Runs the thread's messages until everything posted before has been handled (the keys above,
// a WM_CLOSE); false when that took longer than `limit`, or a loop of its own took them.
bool Settle(std::chrono::milliseconds limit = 10s);

// What the operator does, in order: each Then step for the next modal window that comes up
// (a dialog of the program, a message box, the file dialog), each When step once its condition
// holds. A modal window no step expects is closed as a failure, and so is whatever is up when
// `limit` has passed with steps left, so that a test fails rather than hangs.
class TModalScript {
public:
    using Step = std::function<void(HWND modal)>;

    explicit TModalScript(std::chrono::milliseconds limit = 30s);
    ~TModalScript();
    TModalScript(const TModalScript&) = delete;
    TModalScript& operator=(const TModalScript&) = delete;

    TModalScript& Then(Step step);
    // The next modal window is a message box: its title and text are noted, OK pressed.
    TModalScript& ThenMessage(std::string& text, std::string* title = nullptr);
    TModalScript& When(std::function<bool()> condition, std::function<void()> action);

    bool Done() const { return steps_.empty() && running_ == 0; }
    // Pumps until every step has run; false when the limit passed first.
    bool WaitDone();

private:
    struct TStep {
        Step OnModal;
        std::function<bool()> Condition;
        std::function<void()> Action;
    };
    static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD);
    static LRESULT CALLBACK WatchShowing(int code, WPARAM wParam, LPARAM lParam);
    void OnTick();
    // The modal window that is up now and no step has answered in this showing.
    HWND NewModal();

    std::deque<TStep> steps_;
    std::chrono::steady_clock::time_point deadline_;
    UINT_PTR timer_ = 0;
    HHOOK hook_ = nullptr;
    int running_ = 0;
    bool failed_ = false;
    std::map<HWND, int> answered_; // the showing each window was answered in
    static std::map<HWND, int> showings_;
    static TModalScript* current_;
};

// A window's pixels as it is on the screen, frame included: rows from the top, 0x00RRGGBB.
struct TPicture {
    int Width = 0;
    int Height = 0;
    std::vector<uint32_t> Pixels;
    uint32_t At(int x, int y) const { return Pixels[size_t(y) * size_t(Width) + size_t(x)]; }
    // How many pixels of `colour` lie in the rectangle.
    int Count(const RECT& area, uint32_t colour) const;
};
TPicture Capture(HWND window);
// A control's rectangle in the picture of its top-level window.
RECT PlaceIn(HWND window, HWND control);
bool SavePng(const TPicture& picture, const std::string& path);

} // namespace orv::test
