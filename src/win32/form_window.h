#pragma once
// TFormWindow, the base of the seven Win32 windows: a dialog-class window laid out at 96 DPI
// and drawn at its monitor's DPI, in the program's colours or, with high contrast on, the
// system's; with its own modal loop and the dialog keyboard (Tab, Enter, Escape, mnemonics)
// through IsDialogMessage in every loop of the program.

#include "win32/colours.h"
#include "win32/fonts.h"

#include <map>
#include <memory>
#include <string>
#include <vector>
#include <windows.h>

namespace orv {

// A control's place in its window's client area, at 96 DPI.
struct TBox {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

// A window of the system's dialog class, made hidden, living until its owner object goes.
// Sizes and places are given at 96 DPI and applied at the window's DPI, again on
// WM_DPICHANGED. Whatever a handler throws is shown by the error display and the window stays
// as it was.
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
    // Waits up to `ms` for messages and handles those that came, as the program's loops do.
    // A WM_QUIT is posted again for the loop that ends with it.
    static void RunMessagesFor(int ms);
    // The program's main window, which owns the windows shown while no modal one is up.
    static void SetMainWindow(HWND window) { mainWindow_ = window; }
    static HWND MainWindow() { return mainWindow_; }

    // The window follows a new DPI, as when it was moved to another monitor: in the rectangle
    // the system suggests (WM_DPICHANGED), else keeping its top left corner.
    void ApplyDpi(UINT dpi, const RECT* suggested = nullptr);
    // The window's size for its layout at `dpi`, frame included (WM_GETDPISCALEDSIZE).
    SIZE FrameSizeAt(UINT dpi) const;
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
    // A static control's colours; the window's face behind it unless told otherwise.
    void SetStaticColours(HWND control, TColour text,
                          TColour background = SystemColour(COLOR_BTNFACE));
    // A length at 96 DPI in the window's pixels.
    int Scaled(int value) const;
    // The program's icon in the title bar and the taskbar, at the window's DPI; or none.
    void ShowProgramIcon(bool shown);

    // Shows the window modally, with every other form window disabled, centred on the screen or
    // over `centreOver`; the focus on `focus`, or the first control of the tab order. Owned by
    // the innermost modal window, else the main window; when that is hidden, it stands alone,
    // with a taskbar button. Returns the result EndModalWith gave, once the window is hidden
    // again. A WM_QUIT ends it too, and is posted again.
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
    // The system's colours or high contrast changed: colours not given by SetStaticColours
    // are set again. The window is drawn again afterwards.
    virtual void OnSystemColours() {}
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
        TColour Text;
        TColour Background;
    };

    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR ControlColours(HDC dc, HWND control);
    void SystemColoursChanged();
    // Sizes the window for its client area at Dpi(), keeping its top left corner.
    void FitToClient();
    // Corrects the size where the frame the system drew differs from what it said it would
    // (a menu bar of another height): the client area is what the layout needs.
    void FixClientSize();
    void PlaceControls();
    void LoadIcons();
    HBRUSH BrushOf(COLORREF colour);

    HWND window_ = nullptr;
    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    int width_;
    int height_;
    std::unique_ptr<TFontSet> fonts_;
    std::vector<TControl> controls_;
    std::map<HWND, TColours> colours_;
    std::map<COLORREF, HBRUSH> brushes_;
    bool programIcon_ = false;
    HICON icons_[2] = {};
    bool modal_ = false;
    bool ended_ = false;
    int result_ = 0;

    static HWND mainWindow_;
    static std::vector<TFormWindow*> modalStack_;
    static std::vector<TFormWindow*> all_;
};

} // namespace orv
