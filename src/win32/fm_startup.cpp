#include "win32/fm_startup.h"

#include "common/version.h"
#include "common/wide_text.h"
#include "forms/orv_forms.h"

#include <commctrl.h>
#include <string>

namespace orv {

namespace {

constexpr int kWidth = 485;
constexpr int kHeight = 322; // the menu bar included
constexpr int kPanelHeight = 40;
constexpr int kStatusBarHeight = 22;
constexpr int kButtonWidth = 137;
constexpr int kButtonHeight = 33;
constexpr int kButtonGap = 12;

HMENU MakeMainMenu() {
    const HMENU menu = CreateMenu();
    AppendMenuW(menu, MF_STRING, TfmStartup::idAbout1, L"&About");
    return menu;
}

} // namespace

TfmStartup::TfmStartup()
    : TFormWindow(kAppTitle, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, kWidth, kHeight,
                  MakeMainMenu()),
      tmTimeOut(Handle(), 1) {
    SetMainWindow(Handle());
    MainMenu1 = GetMenu(Handle());
    Panel1 = AddControl(
        L"STATIC", (std::wstring(L"Orv PLC  OS update Utility          V") + kVersionW).c_str(),
        SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX, idPanel1, {0, 0, kWidth, kPanelHeight},
        TFontRole::Title);
    SetStaticColours(Panel1, {RGB(0, 0, 255), COLOR_BTNTEXT}, {RGB(192, 192, 192), COLOR_BTNFACE});
    // Connecting comes first; Enter presses it when no other button has the focus.
    Button1 =
        AddControl(L"BUTTON", L"&Get PLC's Status", BS_DEFPUSHBUTTON | WS_TABSTOP, idButton1, {});
    btNext =
        AddControl(L"BUTTON", L"&Proceed to Update OS", BS_PUSHBUTTON | WS_TABSTOP, idbtNext, {});
    btUpdateBaud = AddControl(L"BUTTON", L"Setup Update &Speed", BS_PUSHBUTTON | WS_TABSTOP,
                              idbtUpdateBaud, {});
    Button2 = AddControl(L"BUTTON", L"E&xit", BS_PUSHBUTTON | WS_TABSTOP, idButton2, {});
    sbStatus = AddControl(STATUSCLASSNAMEW, L"", CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_BOTTOM,
                          idsbStatus, {});
    int parts[] = {-1}; // one panel, to the right edge, so that no status text is cut
    SendMessageW(sbStatus, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));
    LayoutExtras();
    ShowProgramIcon(true);
}

TfmStartup::~TfmStartup() {
    tmTimeOut.Disable();
    if (MainWindow() == Handle())
        SetMainWindow(nullptr);
}

void TfmStartup::LayoutExtras() {
    RECT client{};
    GetClientRect(Handle(), &client);
    const int height = MulDiv(client.bottom, USER_DEFAULT_SCREEN_DPI, int(Dpi()));
    MoveControl(sbStatus, {0, height - kStatusBarHeight, kWidth, kStatusBarHeight});
    const int column = 4 * kButtonHeight + 3 * kButtonGap;
    const int top = kPanelHeight + (height - kStatusBarHeight - kPanelHeight - column) / 2;
    const HWND buttons[] = {Button1, btNext, btUpdateBaud, Button2};
    for (int i = 0; i < 4; ++i)
        MoveControl(buttons[i],
                    {(kWidth - kButtonWidth) / 2, top + i * (kButtonHeight + kButtonGap),
                     kButtonWidth, kButtonHeight});
}

bool TfmStartup::OnCommand(int id, int code, HWND) {
    if (id == IDOK || id == IDCANCEL)
        return true; // Escape leaves nothing here; Enter goes to the default button
    if (!form_ || code != BN_CLICKED)
        return false;
    switch (id) {
    case idButton1:
        form_->Button1Click();
        return true;
    case idbtNext:
        form_->btNextClick();
        return true;
    case idbtUpdateBaud:
        form_->btUpdateBaudClick();
        return true;
    case idButton2:
        form_->Button2Click();
        return true;
    case idAbout1:
        form_->About1Click();
        return true;
    default:
        return false;
    }
}

void TfmStartup::OnTimer(UINT_PTR id) {
    if (id == tmTimeOut.Id() && tmTimeOut.Enabled() && form_)
        form_->tmTimeOutTimer();
}

// Asked whether the session may end, the program holds it up while an update runs or the PLC's
// speed is to be restored, and says why; otherwise it lets it end, its settings saved. When the
// session ends anyway, it closes as Abort, Exit and "Exit" would, before Windows ends it.
INT_PTR TfmStartup::OnMessage(UINT message, WPARAM wParam, LPARAM, bool& handled) {
    if ((message != WM_QUERYENDSESSION && message != WM_ENDSESSION) || !form_) {
        handled = false;
        return 0;
    }
    handled = true;
    if (message == WM_QUERYENDSESSION) {
        const bool mayEnd = form_->QueryEndSession();
        if (mayEnd)
            ClearSessionEndReason(Handle());
        else
            SetSessionEndReason(Handle(), kSessionEndRefusal);
        return mayEnd;
    }
    if (wParam)
        form_->EndSession([](int ms) { RunMessagesFor(ms); });
    return 0;
}

void TfmStartup::ShowMessage(const std::string& text) {
    ShowMessageBox(Handle(), text);
}

void TfmStartup::ShowError(const std::string& text) {
    ShowErrorBox(Handle(), text);
}

void TfmStartup::SetStatusText(const std::string& text) {
    SendMessageW(sbStatus, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(WideText(text).c_str()));
}

void TfmStartup::SetButtonEnabled(TStartupButton button, bool enabled) {
    EnableWindow(button == TStartupButton::btNext ? btNext : btUpdateBaud, enabled);
}

void TfmStartup::SetVisible(bool visible) {
    ShowWindow(Handle(), visible ? SW_SHOW : SW_HIDE);
}

// The close itself is never refused. The program's loop ends once the window has closed; it is
// woken for that by a message of no meaning rather than WM_QUIT, which would also end every
// message box still to come (the report of a failed save at exit).
void TfmStartup::Close() {
    if (closed_)
        return;
    closed_ = true;
    if (form_)
        form_->FormClose();
    ShowWindow(Handle(), SW_HIDE);
    PostMessageW(Handle(), WM_NULL, 0, 0);
}

} // namespace orv
