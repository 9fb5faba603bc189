#pragma once
// What the Win32 windows share: the program's message boxes and error display, its fonts at a
// window's DPI, the pick-only list over a combo box, window timers, and TFormWindow, the base
// of the seven windows: a dialog-class window laid out at 96 DPI and drawn at its monitor's
// DPI, with its own modal loop and the dialog keyboard (Tab, Enter, Escape, mnemonics) through
// IsDialogMessage in every loop of the program.

#include "forms/form_kit.h"
#include "protocol/link.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>
#include <windows.h>

namespace orv {

// UTF-8 to UTF-16; bytes that are not UTF-8 show as U+FFFD rather than vanishing.
std::wstring WideText(std::string_view text);
std::string WindowText(HWND window);
void SetWindowTextUtf8(HWND window, const std::string& text);

// The error display: the text in a message box with an error icon and an OK button, titled
// kAppTitle, modal to the innermost modal window (else to `owner` when it is shown).
void ShowErrorBox(HWND owner, const std::string& text);
// The same without an icon, as the program's own messages are shown.
void ShowMessageBox(HWND owner, const std::string& text);

// The fonts of the windows at one DPI. The program's text is Microsoft Sans Serif, 11 pixels at
// 96 DPI, a TrueType face so that it stays crisp when scaled.
enum class TFontRole {
    Normal,
    Bold,       // the about box's name
    Title,      // the title panels: bold, 16 pixels
    StatusLine, // the update window's main status line: bold, 19 pixels
};

class TFontSet {
public:
    TFontSet() = default;
    ~TFontSet() { Release(); }
    TFontSet(const TFontSet&) = delete;
    TFontSet& operator=(const TFontSet&) = delete;

    // Makes the fonts for `dpi` unless they are made already.
    void MakeFor(UINT dpi);
    HFONT Get(TFontRole role) const { return fonts_[static_cast<int>(role)]; }
    // The program's font at 96 DPI, for controls that scale it themselves (the gauge).
    static LOGFONTW ProgramFont();

private:
    void Release();
    UINT dpi_ = 0;
    HFONT fonts_[4] = {};
};

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

// A control's place in its window's client area, at 96 DPI.
struct TBox {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

// The base of the seven windows: a window of the system's dialog class, made hidden, living
// until its owner object goes. Sizes and places are given at 96 DPI and applied at the
// window's DPI, again on WM_DPICHANGED. Whatever a handler throws is shown by the error
// display and the window stays as it was.
class TFormWindow {
public:
    virtual ~TFormWindow();
    TFormWindow(const TFormWindow&) = delete;
    TFormWindow& operator=(const TFormWindow&) = delete;

    HWND Handle() const { return window_; }
    UINT Dpi() const { return dpi_; }
    bool ShownModal() const { return modal_; }

    // The form window a handle belongs to; null for any other window.
    static TFormWindow* FromHandle(HWND window);
    // The innermost form window shown modally now; null when none is.
    static TFormWindow* InnermostModal();
    // Every message loop of the program takes its messages through here: the keys of a form
    // window (Tab, Enter, Escape, mnemonics) go to the dialog manager, the rest is dispatched.
    static void DispatchThreadMessage(MSG& message);
    // The program's main window, which owns the windows shown while no modal one is up.
    static void SetMainWindow(HWND window) { mainWindow_ = window; }
    static HWND MainWindow() { return mainWindow_; }

    // The window follows a new DPI, as when it was moved to another monitor (WM_DPICHANGED).
    void ApplyDpi(UINT dpi);
    // Centres the window over `over` when it is shown, else on the work area of its monitor.
    void Centre(HWND over = nullptr);

protected:
    // style: the window's border and title bar (WS_CAPTION, WS_SYSMENU, DS_MODALFRAME, ...).
    // The client area is width x height at 96 DPI; a menu bar, when `menu` is given, takes its
    // share of that height.
    TFormWindow(const std::string& caption, DWORD style, int width, int height,
                HMENU menu = nullptr);

    // A child control at `box`, with its font; its tab order is the order of creation.
    HWND AddControl(const wchar_t* windowClass, const std::wstring& text, DWORD style, int id,
                    const TBox& box, TFontRole font = TFontRole::Normal, DWORD exStyle = 0);
    // Moves a control made by AddControl; it keeps the place at every DPI.
    void MoveControl(HWND control, const TBox& box);
    // A static control's text colour, over `background` (the window's face when CLR_INVALID).
    void SetStaticColours(HWND control, COLORREF text, COLORREF background = CLR_INVALID);
    // A length at 96 DPI in the window's pixels.
    int Scaled(int value) const;

    // Shows the window modally, owned by the innermost modal window (else the main window),
    // with every other form window disabled, centred on the screen or over `centreOver`; the
    // focus on `focus`, or the first control of the tab order. Returns the result EndModalWith
    // gave, once the window is hidden again. A WM_QUIT ends it too, and is posted again.
    int RunModal(HWND centreOver = nullptr, HWND focus = nullptr);
    void EndModalWith(int result);

    // Handlers of the subclasses; each returns true when it took the message.
    virtual bool OnCommand(int id, int code, HWND control);
    // The close box, Alt+F4, and Escape (IDCANCEL) unless OnCommand took it.
    virtual void OnClose() {}
    // The window became the active window (not when it went inactive).
    virtual void OnActivated() {}
    virtual void OnTimer(UINT_PTR /*id*/) {}
    // Places what AddControl does not: called after every (re)layout, at Dpi().
    virtual void LayoutExtras() {}
    virtual void OnPaint(HDC /*dc*/) {}
    // Any other message; `handled` set when it was taken, with the dialog procedure's result.
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);

private:
    struct TControl {
        HWND Handle;
        TBox Box;
        TFontRole Font;
    };
    struct TColours {
        COLORREF Text;
        COLORREF Background;
    };

    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR ControlColours(HDC dc, HWND control);
    // Sizes the window for its client area at Dpi(), keeping its top left corner.
    void FitToClient();
    void PlaceControls();
    HBRUSH BrushOf(COLORREF colour);

    HWND window_ = nullptr;
    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    int width_;
    int height_;
    TFontSet fonts_;
    std::vector<TControl> controls_;
    std::map<HWND, TColours> colours_;
    std::map<COLORREF, HBRUSH> brushes_;
    bool modal_ = false;
    bool ended_ = false;
    int result_ = 0;

    static HWND mainWindow_;
    static std::vector<TFormWindow*> modalStack_;
    static std::vector<TFormWindow*> all_;
};

} // namespace orv
