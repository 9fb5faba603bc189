#pragma once
// The startup window on Win32, the program's main window: draws what its form says and
// forwards its events to it. It holds the status query's timer, tmTimeOut.

#include "forms/startup_form.h"
#include "win32/window_kit.h"

namespace orv {

class TfmStartup final : public TFormWindow, public IStartupWindow {
public:
    TfmStartup();
    ~TfmStartup() override;

    // From now on the window's events go to the form; Unbind stops that before the form goes.
    void Bind(TStartupForm& form) { form_ = &form; }
    void Unbind() { form_ = nullptr; }
    ITimer& TimeOutSeam() { return tmTimeOut; }
    // The window has closed (Exit, its close box): the program ends.
    bool Closed() const { return closed_; }

    // IStartupWindow.
    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void SetStatusText(const std::string& text) override;
    void SetButtonEnabled(TStartupButton button, bool enabled) override;
    void SetVisible(bool visible) override;
    void Close() override;

    HWND Panel1 = nullptr;
    HWND Button1 = nullptr;
    HWND btNext = nullptr;
    HWND btUpdateBaud = nullptr;
    HWND Button2 = nullptr;
    HWND sbStatus = nullptr;
    HMENU MainMenu1 = nullptr;
    TWindowTimer tmTimeOut;

    enum : int {
        idButton1 = 101,
        idbtNext,
        idbtUpdateBaud,
        idButton2,
        idAbout1,
        idPanel1,
        idsbStatus
    };

protected:
    bool OnCommand(int id, int code, HWND control) override;
    void OnClose() override { Close(); }
    void OnTimer(UINT_PTR id) override;
    void LayoutExtras() override;
    // The end of the session: WM_QUERYENDSESSION and WM_ENDSESSION, which the form decides.
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    TStartupForm* form_ = nullptr;
    bool closed_ = false;
};

} // namespace orv
