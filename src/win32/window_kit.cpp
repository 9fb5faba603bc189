#include "win32/window_kit.h"

#include "common/wide_text.h"
#include "win32/dpi.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace orv {

namespace {

constexpr wchar_t kFormProperty[] = L"OrvFormWindow";

template <typename Function>
Function User32Function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// The DPI-aware forms of the frame's metrics came with Windows 10; before, the system's own.
BOOL AdjustForDpi(RECT& rect, DWORD style, BOOL menu, DWORD exStyle, UINT dpi) {
    using Function = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto forDpi = User32Function<Function>("AdjustWindowRectExForDpi");
    return forDpi ? forDpi(&rect, style, menu, exStyle, dpi)
                  : AdjustWindowRectEx(&rect, style, menu, exStyle);
}

int SystemMetricForDpi(int index, UINT dpi) {
    using Function = int(WINAPI*)(int, UINT);
    static const auto forDpi = User32Function<Function>("GetSystemMetricsForDpi");
    return forDpi ? forDpi(index, dpi) : GetSystemMetrics(index);
}

// The dialog manager of Windows 10 would scale a dialog and its controls on its own when the
// DPI changes; these windows do it themselves, from their layouts.
void KeepDpiChangesToOurselves(HWND dialog) {
    using Function = BOOL(WINAPI*)(HWND, DIALOG_DPI_CHANGE_BEHAVIORS, DIALOG_DPI_CHANGE_BEHAVIORS);
    static const auto behaviour = User32Function<Function>("SetDialogDpiChangeBehavior");
    if (behaviour)
        behaviour(dialog, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
}

HWND BoxOwner(HWND owner) {
    if (TFormWindow* modal = TFormWindow::InnermostModal())
        return modal->Handle();
    return owner && IsWindowVisible(owner) ? owner : nullptr;
}

void ShowBox(HWND owner, UINT icon, const std::string& text) {
    const HWND boxOwner = BoxOwner(owner);
    // Without an owner the box is modal to every window of the program.
    MessageBoxW(boxOwner, WideText(text).c_str(), WideText(kAppTitle).c_str(),
                MB_OK | icon | (boxOwner ? 0 : MB_TASKMODAL));
}

// An empty dialog template: the windows make their controls themselves.
struct alignas(4) TEmptyTemplate {
    DLGTEMPLATE Head;
    WORD Menu = 0;
    WORD Class = 0;
    WORD Title = 0;
};

} // namespace

std::wstring WideText(std::string_view text) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(std::min<size_t>(text.size(), INT_MAX / 2));
    std::wstring wide(
        static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
    return wide;
}

std::string WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), int(text.size()))));
    return ToUtf8(text);
}

void SetWindowTextUtf8(HWND window, const std::string& text) {
    SetWindowTextW(window, WideText(text).c_str());
}

void ShowErrorBox(HWND owner, const std::string& text) {
    ShowBox(owner, MB_ICONERROR, text);
}

void ShowMessageBox(HWND owner, const std::string& text) {
    ShowBox(owner, 0, text);
}

// Fonts.

LOGFONTW TFontSet::ProgramFont() {
    LOGFONTW font{};
    font.lfHeight = -11;
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfOutPrecision = OUT_TT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(font.lfFaceName, L"Microsoft Sans Serif", LF_FACESIZE);
    return font;
}

void TFontSet::MakeFor(UINT dpi) {
    if (dpi == dpi_ && fonts_[0])
        return;
    Release();
    struct TShape {
        int Pixels;
        LONG Weight;
    };
    constexpr TShape shapes[] = {{11, FW_NORMAL}, {11, FW_BOLD}, {16, FW_BOLD}, {19, FW_BOLD}};
    for (int i = 0; i < 4; ++i) {
        LOGFONTW font = ProgramFont();
        font.lfHeight = -MulDiv(shapes[i].Pixels, int(dpi), USER_DEFAULT_SCREEN_DPI);
        font.lfWeight = shapes[i].Weight;
        fonts_[i] = CreateFontIndirectW(&font);
    }
    dpi_ = dpi;
}

void TFontSet::Release() {
    for (HFONT& font : fonts_) {
        if (font)
            DeleteObject(font);
        font = nullptr;
    }
    dpi_ = 0;
}

// Pick-only lists.

void TComboChoice::SetEntries(const std::vector<std::string>& entries) {
    SendMessageW(combo_, CB_RESETCONTENT, 0, 0);
    for (const std::string& entry : entries)
        SendMessageW(combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideText(entry).c_str()));
    SendMessageW(combo_, CB_SETCURSEL, WPARAM(-1), 0);
}

int TComboChoice::ChosenIndex() const {
    const LRESULT index = SendMessageW(combo_, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

void TComboChoice::Choose(int index) {
    SendMessageW(combo_, CB_SETCURSEL, WPARAM(index < 0 ? -1 : index), 0);
}

// Timers.

void TWindowTimer::Enable() {
    if (enabled_)
        return;
    SetTimer(window_, id_, UINT(interval_), nullptr);
    enabled_ = true;
}

void TWindowTimer::Disable() {
    if (enabled_)
        KillTimer(window_, id_);
    enabled_ = false;
}

void TWindowTimer::SetInterval(int ms) {
    interval_ = std::max(ms, 1);
    if (enabled_)
        SetTimer(window_, id_, UINT(interval_), nullptr);
}

// The form windows.

HWND TFormWindow::mainWindow_ = nullptr;
std::vector<TFormWindow*> TFormWindow::modalStack_;
std::vector<TFormWindow*> TFormWindow::all_;

TFormWindow::TFormWindow(const std::string& caption, DWORD style, int width, int height, HMENU menu)
    : width_(width), height_(height) {
    TEmptyTemplate empty{};
    empty.Head.style = style | WS_POPUP | WS_CLIPCHILDREN;
    window_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), &empty.Head, mainWindow_,
                                         DialogProc, reinterpret_cast<LPARAM>(this));
    if (!window_)
        throw std::runtime_error("Windows refused to make the window \"" + caption + "\" (error " +
                                 std::to_string(GetLastError()) + ")");
    SetPropW(window_, kFormProperty, this);
    all_.push_back(this);
    KeepDpiChangesToOurselves(window_);
    SetWindowTextUtf8(window_, caption);
    if (menu)
        SetMenu(window_, menu);
    dpi_ = WindowDpi(window_);
    fonts_.MakeFor(dpi_);
    FitToClient();
}

TFormWindow::~TFormWindow() {
    std::erase(modalStack_, this);
    std::erase(all_, this);
    if (window_) {
        RemovePropW(window_, kFormProperty);
        SetWindowLongPtrW(window_, DWLP_USER, 0);
        DestroyWindow(window_);
    }
    for (auto& [colour, brush] : brushes_)
        DeleteObject(brush);
}

TFormWindow* TFormWindow::FromHandle(HWND window) {
    return window ? static_cast<TFormWindow*>(GetPropW(window, kFormProperty)) : nullptr;
}

TFormWindow* TFormWindow::InnermostModal() {
    return modalStack_.empty() ? nullptr : modalStack_.back();
}

void TFormWindow::DispatchThreadMessage(MSG& message) {
    if (message.hwnd) {
        const HWND root = GetAncestor(message.hwnd, GA_ROOT);
        if (FromHandle(root) && IsDialogMessageW(root, &message))
            return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

HWND TFormWindow::AddControl(const wchar_t* windowClass, const std::wstring& text, DWORD style,
                             int id, const TBox& box, TFontRole font, DWORD exStyle) {
    const HWND control = CreateWindowExW(
        exStyle, windowClass, text.c_str(), style | WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (!control)
        throw std::runtime_error("Windows refused to make a control (error " +
                                 std::to_string(GetLastError()) + ")");
    controls_.push_back({control, box, font});
    // The dialog manager keeps its default button through focus changes only when told.
    if (lstrcmpiW(windowClass, L"BUTTON") == 0 && (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
        SendMessageW(window_, DM_SETDEFID, WPARAM(id), 0);
    MoveControl(control, box);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.Get(font)), FALSE);
    return control;
}

void TFormWindow::MoveControl(HWND control, const TBox& box) {
    for (TControl& c : controls_) {
        if (c.Handle != control)
            continue;
        c.Box = box;
        // Both edges from the layout, so that neighbours meet at every DPI.
        const int left = Scaled(box.Left), top = Scaled(box.Top);
        SetWindowPos(control, nullptr, left, top, Scaled(box.Left + box.Width) - left,
                     Scaled(box.Top + box.Height) - top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void TFormWindow::SetStaticColours(HWND control, COLORREF text, COLORREF background) {
    colours_[control] = {text, background};
    InvalidateRect(control, nullptr, TRUE);
}

int TFormWindow::Scaled(int value) const {
    return ScaleToDpi(value, dpi_);
}

void TFormWindow::ApplyDpi(UINT dpi) {
    dpi_ = dpi;
    fonts_.MakeFor(dpi);
    FitToClient();
    PlaceControls();
}

void TFormWindow::FitToClient() {
    const DWORD style = DWORD(GetWindowLongPtrW(window_, GWL_STYLE));
    const DWORD exStyle = DWORD(GetWindowLongPtrW(window_, GWL_EXSTYLE));
    const bool menu = GetMenu(window_) != nullptr;
    const int width = ScaleToDpi(width_, dpi_);
    int height = ScaleToDpi(height_, dpi_);
    if (menu)
        height -= SystemMetricForDpi(SM_CYMENU, dpi_);
    RECT frame{0, 0, width, height};
    AdjustForDpi(frame, style, menu, exStyle, dpi_);
    RECT now{};
    GetWindowRect(window_, &now);
    const auto resize = [&](int w, int h) {
        SetWindowPos(window_, nullptr, now.left, now.top, w, h,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    };
    resize(frame.right - frame.left, frame.bottom - frame.top);
    // The frame the system drew may differ from what it said (a menu bar of another height):
    // the client area is what the layout needs.
    if (menu) {
        MENUBARINFO bar{};
        bar.cbSize = sizeof bar;
        if (GetMenuBarInfo(window_, OBJID_MENU, 0, &bar))
            height = ScaleToDpi(height_, dpi_) - (bar.rcBar.bottom - bar.rcBar.top);
    }
    RECT client{};
    GetClientRect(window_, &client);
    GetWindowRect(window_, &now);
    if (client.right != width || client.bottom != height)
        resize(now.right - now.left + width - client.right,
               now.bottom - now.top + height - client.bottom);
}

void TFormWindow::PlaceControls() {
    for (const TControl& c : controls_) {
        MoveControl(c.Handle, c.Box);
        SendMessageW(c.Handle, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.Get(c.Font)), TRUE);
    }
    LayoutExtras();
    InvalidateRect(window_, nullptr, TRUE);
}

void TFormWindow::Centre(HWND over) {
    RECT area{};
    if (over && IsWindowVisible(over)) {
        GetWindowRect(over, &area);
    } else {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        const HWND nearby = over ? over : mainWindow_ ? mainWindow_ : window_;
        if (!GetMonitorInfoW(MonitorFromWindow(nearby, MONITOR_DEFAULTTONEAREST), &monitor))
            return;
        area = monitor.rcWork;
    }
    RECT frame{};
    GetWindowRect(window_, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    const int left = area.left + (area.right - area.left - width) / 2;
    const int top = area.top + (area.bottom - area.top - height) / 2;
    SetWindowPos(window_, nullptr, left, top, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
}

int TFormWindow::RunModal(HWND centreOver, HWND focus) {
    if (modal_) {
        SetForegroundWindow(window_);
        return 0;
    }
    const TFormWindow* inner = InnermostModal();
    const HWND owner = inner ? inner->Handle() : mainWindow_ != window_ ? mainWindow_ : nullptr;
    SetWindowLongPtrW(window_, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));

    Centre(centreOver);
    // The monitor it comes up on may have another DPI than the one it was last shown on.
    if (const UINT dpi = WindowDpi(window_); dpi != dpi_) {
        ApplyDpi(dpi);
        Centre(centreOver);
    }

    // Modal to the whole program, as the message boxes are: every other form window that is up
    // waits. This one may have been disabled by a modal window it is shown from (a question asked
    // while the update window is up): it takes input again.
    EnableWindow(window_, TRUE);
    std::vector<HWND> disabled;
    for (const TFormWindow* other : all_) {
        if (other != this && IsWindowVisible(other->window_) && IsWindowEnabled(other->window_)) {
            EnableWindow(other->window_, FALSE);
            disabled.push_back(other->window_);
        }
    }
    modalStack_.push_back(this);
    modal_ = true;
    ended_ = false;
    result_ = 0;
    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
    SetActiveWindow(window_);
    const HWND first = focus ? focus : GetNextDlgTabItem(window_, nullptr, FALSE);
    if (first)
        SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);

    MSG message;
    while (!ended_) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (got == -1)
            break;
        DispatchThreadMessage(message);
    }

    // The others first, so that hiding this window hands the activation back to its owner.
    for (auto other = disabled.rbegin(); other != disabled.rend(); ++other)
        EnableWindow(*other, TRUE);
    ShowWindow(window_, SW_HIDE);
    std::erase(modalStack_, this);
    modal_ = false;
    if (owner && IsWindowVisible(owner))
        SetActiveWindow(owner);
    return result_;
}

void TFormWindow::EndModalWith(int result) {
    if (!modal_)
        return;
    result_ = result;
    ended_ = true;
}

bool TFormWindow::OnCommand(int, int, HWND) {
    return false;
}

INT_PTR TFormWindow::OnMessage(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return FALSE;
}

INT_PTR CALLBACK TFormWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<TFormWindow*>(lParam)->window_ = window;
        return FALSE; // the focus is placed when the window is shown
    }
    auto* form = reinterpret_cast<TFormWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!form)
        return FALSE;
    try {
        return form->HandleMessage(message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the dialog manager's frames.
        ShowErrorBox(window, ErrorText(std::current_exception()));
        return FALSE;
    }
}

INT_PTR TFormWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (OnCommand(id, HIWORD(wParam), reinterpret_cast<HWND>(lParam)))
            return TRUE;
        if (id == IDCANCEL) {
            OnClose();
            return TRUE;
        }
        return FALSE;
    }
    case WM_CLOSE:
        OnClose();
        return TRUE;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE)
            OnActivated();
        return FALSE; // the dialog manager puts the focus back where it was
    case WM_TIMER:
        OnTimer(wParam);
        return TRUE;
    case WM_CTLCOLORSTATIC:
        return ControlColours(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_PAINT: {
        PAINTSTRUCT paint;
        if (const HDC dc = BeginPaint(window_, &paint)) {
            OnPaint(dc);
            EndPaint(window_, &paint);
        }
        return TRUE;
    }
    case WM_DPICHANGED: {
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        ApplyDpi(LOWORD(wParam));
        if (suggested)
            SetWindowPos(window_, nullptr, suggested->left, suggested->top, 0, 0,
                         SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
        return TRUE;
    }
    default: {
        bool handled = false;
        const INT_PTR result = OnMessage(message, wParam, lParam, handled);
        if (handled) {
            SetWindowLongPtrW(window_, DWLP_MSGRESULT, result);
            return TRUE;
        }
        return FALSE;
    }
    }
}

INT_PTR TFormWindow::ControlColours(HDC dc, HWND control) {
    const auto found = colours_.find(control);
    if (found == colours_.end())
        return FALSE;
    const COLORREF background = found->second.Background == CLR_INVALID ? GetSysColor(COLOR_BTNFACE)
                                                                        : found->second.Background;
    SetTextColor(dc, found->second.Text);
    SetBkColor(dc, background);
    return reinterpret_cast<INT_PTR>(BrushOf(background));
}

HBRUSH TFormWindow::BrushOf(COLORREF colour) {
    HBRUSH& brush = brushes_[colour];
    if (!brush)
        brush = CreateSolidBrush(colour);
    return brush;
}

} // namespace orv
