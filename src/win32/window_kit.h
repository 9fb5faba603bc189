#pragma once
// What the Win32 windows share besides TFormWindow (form_window.h): the program's message boxes
// and error display, window texts in UTF-8, the pick-only list over a combo box, window timers,
// and the reason given while the program holds up the end of the session.

#include "forms/form_kit.h"
#include "protocol/link.h"
#include "win32/form_window.h"

#include <string>
#include <vector>
#include <windows.h>

namespace orv {

std::string WindowText(HWND window);
void SetWindowTextUtf8(HWND window, const std::string& text);

// The error display: the text in a message box with an error icon and an OK button, titled
// kAppTitle, modal to the innermost modal window, else to `owner` or the main window, whichever
// is shown; to the whole program when none is.
void ShowErrorBox(HWND owner, const std::string& text);
// The same without an icon, as the program's own messages are shown.
void ShowMessageBox(HWND owner, const std::string& text);

// IChoiceList over a drop-down list combo box.
class TComboChoice final : public IChoiceList {
public:
    explicit TComboChoice(HWND combo) : combo_(combo) {}
    void SetEntries(const std::vector<std::string>& entries) override;
    int ChosenIndex() const override;
    void Choose(int index) override;

private:
    HWND combo_;
};

// ITimer over a window timer: WM_TIMER with `id` reaches the window, which forwards it only while
// Enabled() holds, so a tick already queued when the timer stopped is never taken for a new one.
// Enabling a running timer keeps its phase; a new interval restarts a running timer.
class TWindowTimer final : public ITimer {
public:
    TWindowTimer(HWND window, UINT_PTR id) : window_(window), id_(id) {}
    ~TWindowTimer() override { Disable(); }
    TWindowTimer(const TWindowTimer&) = delete;
    TWindowTimer& operator=(const TWindowTimer&) = delete;

    void Enable() override;
    void Disable() override;
    bool Enabled() const override { return enabled_; }
    void SetInterval(int ms) override;
    int Interval() const { return interval_; }
    UINT_PTR Id() const { return id_; }

private:
    HWND window_;
    UINT_PTR id_;
    int interval_ = 1000;
    bool enabled_ = false;
};

// A control whose text a screen reader reads out as it changes (a live region), and the change
// told. Systems without live regions (before Windows 10, Wine) still tell of the new text.
void MarkLiveRegion(HWND control);
void AnnounceLiveRegion(HWND control);

// The reason the shut-down screen shows for `window` while the program holds the session up
// (ShutdownBlockReasonCreate), or none again. Windows before Vista have no such reasons.
void SetSessionEndReason(HWND window, const std::string& reason);
void ClearSessionEndReason(HWND window);

} // namespace orv
