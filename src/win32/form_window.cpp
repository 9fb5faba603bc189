#include "win32/form_window.h"

#include "win32/dpi.h"
#include "win32/resource_ids.h"
#include "win32/window_kit.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace orv {

namespace {

constexpr wchar_t kFormProperty[] = L"OrvFormWindow";

// An empty dialog template: the windows make their controls themselves.
struct alignas(4) TEmptyTemplate {
    DLGTEMPLATE Head;
    WORD Menu = 0;
    WORD Class = 0;
    WORD Title = 0;
};

} // namespace

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
    fonts_ = std::make_unique<TFontSet>(dpi_);
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
    for (HICON icon : icons_)
        if (icon)
            DestroyIcon(icon);
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

void TFormWindow::RunMessagesFor(int ms) {
    MsgWaitForMultipleObjectsEx(0, nullptr, DWORD(std::max(ms, 0)), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        DispatchThreadMessage(message);
    }
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
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_->Get(font)), FALSE);
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

void TFormWindow::SetStaticColours(HWND control, TColour text, TColour background) {
    colours_[control] = {text, background};
    InvalidateRect(control, nullptr, TRUE);
}

int TFormWindow::Scaled(int value) const {
    return ScaleToDpi(value, dpi_);
}

void TFormWindow::ShowProgramIcon(bool shown) {
    if (shown == programIcon_)
        return;
    programIcon_ = shown;
    LoadIcons();
}

// The new icons are given to the window before the old ones go.
void TFormWindow::LoadIcons() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const int sizes[2] = {SystemMetricForDpi(SM_CXICON, dpi_),
                          SystemMetricForDpi(SM_CXSMICON, dpi_)};
    for (int i = 0; i < 2; ++i) {
        const HICON icon =
            programIcon_
                ? static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_ORV_APPLICATION),
                                                IMAGE_ICON, sizes[i], sizes[i], 0))
                : nullptr;
        SendMessageW(window_, WM_SETICON, i == 0 ? ICON_BIG : ICON_SMALL,
                     reinterpret_cast<LPARAM>(icon));
        if (icons_[i])
            DestroyIcon(icons_[i]);
        icons_[i] = icon;
    }
}

void TFormWindow::ApplyDpi(UINT dpi, const RECT* suggested) {
    dpi_ = dpi;
    // The controls take the new fonts before the old ones are deleted.
    auto fonts = std::make_unique<TFontSet>(dpi);
    for (const TControl& c : controls_)
        SendMessageW(c.Handle, WM_SETFONT, reinterpret_cast<WPARAM>(fonts->Get(c.Font)), FALSE);
    fonts_ = std::move(fonts);
    if (suggested) {
        // Where the system suggests, in one move: moved on its own, the window would drift
        // away from the pointer that drags it across monitors.
        SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        FixClientSize();
    } else {
        FitToClient();
    }
    PlaceControls();
    if (programIcon_)
        LoadIcons();
}

SIZE TFormWindow::FrameSizeAt(UINT dpi) const {
    const DWORD style = DWORD(GetWindowLongPtrW(window_, GWL_STYLE));
    const DWORD exStyle = DWORD(GetWindowLongPtrW(window_, GWL_EXSTYLE));
    const bool menu = GetMenu(window_) != nullptr;
    int height = ScaleToDpi(height_, dpi);
    if (menu)
        height -= SystemMetricForDpi(SM_CYMENU, dpi);
    RECT frame{0, 0, ScaleToDpi(width_, dpi), height};
    AdjustWindowRectForDpi(frame, style, menu, exStyle, dpi);
    return {frame.right - frame.left, frame.bottom - frame.top};
}

void TFormWindow::FitToClient() {
    const SIZE size = FrameSizeAt(dpi_);
    SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    FixClientSize();
}

void TFormWindow::FixClientSize() {
    const int width = ScaleToDpi(width_, dpi_);
    int height = ScaleToDpi(height_, dpi_);
    if (GetMenu(window_)) {
        MENUBARINFO bar{};
        bar.cbSize = sizeof bar;
        height -= GetMenuBarInfo(window_, OBJID_MENU, 0, &bar)
                      ? bar.rcBar.bottom - bar.rcBar.top
                      : SystemMetricForDpi(SM_CYMENU, dpi_);
    }
    RECT client{}, now{};
    GetClientRect(window_, &client);
    GetWindowRect(window_, &now);
    if (client.right != width || client.bottom != height)
        SetWindowPos(window_, nullptr, 0, 0, now.right - now.left + width - client.right,
                     now.bottom - now.top + height - client.bottom,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
}

void TFormWindow::PlaceControls() {
    for (const TControl& c : controls_)
        MoveControl(c.Handle, c.Box);
    LayoutExtras();
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
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
    // Owned by a hidden window (the main window hides under the about box and a PLC's status),
    // it would have no taskbar button and could be lost behind other programs: it stands
    // alone then, in the taskbar with the program's icon.
    const bool alone = !owner || !IsWindowVisible(owner);
    SetWindowLongPtrW(window_, GWLP_HWNDPARENT,
                      reinterpret_cast<LONG_PTR>(alone ? nullptr : owner));
    const LONG_PTR exStyle = GetWindowLongPtrW(window_, GWL_EXSTYLE);
    SetWindowLongPtrW(window_, GWL_EXSTYLE,
                      alone ? exStyle | WS_EX_APPWINDOW : exStyle & ~LONG_PTR(WS_EX_APPWINDOW));
    ShowProgramIcon(alone);

    Centre(centreOver);
    // The monitor it comes up on may have another DPI than the one it was last shown on.
    if (const UINT dpi = WindowDpi(window_); dpi != dpi_) {
        ApplyDpi(dpi);
        Centre(centreOver);
    }

    // Modal to the whole program, as the message boxes are: every other form window waits,
    // hidden ones too, or one shown meanwhile (the main window, back from a PLC's status) would
    // take input beneath this one. Each gets its own state back afterwards. This one may have
    // been disabled by a modal window it is shown from (a question asked while the update window
    // is up): it takes input again.
    EnableWindow(window_, TRUE);
    std::vector<std::pair<HWND, bool>> others;
    for (const TFormWindow* other : all_) {
        if (other == this)
            continue;
        others.emplace_back(other->window_, IsWindowEnabled(other->window_) != FALSE);
        EnableWindow(other->window_, FALSE);
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
    for (auto other = others.rbegin(); other != others.rend(); ++other)
        EnableWindow(other->first, other->second);
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
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
        SystemColoursChanged();
        return FALSE;
    case WM_GETDPISCALEDSIZE: {
        // The size the layout needs at the new DPI, so that the rectangle WM_DPICHANGED
        // suggests fits the window rather than the old size scaled.
        *reinterpret_cast<SIZE*>(lParam) = FrameSizeAt(UINT(wParam));
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    case WM_DPICHANGED:
        ApplyDpi(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return TRUE;
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

void TFormWindow::SystemColoursChanged() {
    ReadSystemLook();
    // The common controls learn of it only from their parent.
    for (const TControl& c : controls_)
        SendMessageW(c.Handle, WM_SYSCOLORCHANGE, 0, 0);
    OnSystemColours();
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

INT_PTR TFormWindow::ControlColours(HDC dc, HWND control) {
    const auto found = colours_.find(control);
    if (found == colours_.end())
        return FALSE;
    const COLORREF background = found->second.Background.Now();
    SetTextColor(dc, found->second.Text.Now());
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
