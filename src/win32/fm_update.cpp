#include "win32/fm_update.h"

#include "common/wide_text.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <vector>

namespace orv {

namespace {

constexpr int kWidth = 451;
constexpr int kHeight = 255;
constexpr int kGaugeHeight = 30;
constexpr int kStatusBarHeight = 22;
constexpr int kMargin = 12;
constexpr int kPanelTop = 86;

} // namespace

// No border icons: the run decides when the window may close.
TfmUpdate::TfmUpdate()
    : TFormWindow("Update Orv OS", WS_CAPTION | DS_MODALFRAME, kWidth, kHeight),
      Timer2(Handle(), 2) {
    lblOS = AddControl(L"STATIC", L"&OS File:", SS_LEFT | SS_CENTERIMAGE, idlblOS,
                       {kMargin, 12, 44, 24});
    edtOSFile = AddControl(L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, idedtOSFile,
                           {60, 13, 347, 22}, TFontRole::Normal, WS_EX_CLIENTEDGE);
    // It shows only a glyph: its text is its accessible name, and its tooltip.
    btnOS = AddControl(L"BUTTON", L"Choose the OS file", BS_PUSHBUTTON | BS_ICON | WS_TABSTOP,
                       idbtnOS, {kWidth - kMargin - 26, 12, 26, 24});
    btDUReroro = AddControl(L"BUTTON", L"&Update OS", BS_PUSHBUTTON | WS_TABSTOP, idbtDUReroro,
                            {63, 46, 100, 30});
    btAbort =
        AddControl(L"BUTTON", L"&Abort", BS_PUSHBUTTON | WS_TABSTOP, idbtAbort, {175, 46, 100, 30});
    btExit =
        AddControl(L"BUTTON", L"E&xit", BS_PUSHBUTTON | WS_TABSTOP, idbtExit, {287, 46, 100, 30});
    pnlStatus = AddControl(L"STATIC", L"", SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX, idpnlStatus,
                           {}, TFontRole::StatusLine);
    SetStaticColours(pnlStatus, {RGB(0, 0, 128), COLOR_BTNTEXT});
    sbStatus = AddControl(STATUSCLASSNAMEW, L"", CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_BOTTOM,
                          idsbStatus, {});
    int parts[] = {-1};
    SendMessageW(sbStatus, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));
    // What a run writes there is read out as it changes.
    MarkLiveRegion(pnlStatus);
    MarkLiveRegion(sbStatus);

    OnSystemColours();
    prbMain.SetFont(TFontSet::ProgramFont());
    prbMain.CreateHandle(Handle(), idprbMain);
    LayoutExtras();
    MakeFolderGlyph();

    tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0,
                           0, 0, Handle(), nullptr, GetModuleHandleW(nullptr), nullptr);
    if (tip_) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = Handle();
        tool.uId = reinterpret_cast<UINT_PTR>(btnOS);
        wchar_t text[] = L"Choose the OS file";
        tool.lpszText = text;
        SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

TfmUpdate::~TfmUpdate() {
    Timer2.Disable();
    if (tip_)
        DestroyWindow(tip_);
    if (folder_)
        DestroyIcon(folder_);
}

// The system's open-folder glyph, at the window's DPI; three dots where there is none.
void TfmUpdate::MakeFolderGlyph() {
    SHSTOCKICONINFO stock{};
    stock.cbSize = sizeof stock;
    HICON glyph = nullptr;
    const int size = Scaled(16);
    if (SUCCEEDED(SHGetStockIconInfo(SIID_FOLDEROPEN, SHGSI_ICONLOCATION, &stock)))
        SHDefExtractIconW(stock.szPath, stock.iIcon, 0, &glyph, nullptr, MAKELONG(size, size));
    if (!glyph) {
        SetWindowLongPtrW(btnOS, GWL_STYLE, GetWindowLongPtrW(btnOS, GWL_STYLE) & ~BS_ICON);
        SetWindowTextW(btnOS, L"...");
        return;
    }
    SendMessageW(btnOS, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(glyph));
    if (folder_)
        DestroyIcon(folder_);
    folder_ = glyph;
}

// Navy on the button highlight, or in high contrast the system's selection colour on the window
// colour; either way the percentage is the inverse of what lies beneath it.
void TfmUpdate::OnSystemColours() {
    prbMain.SetForeColor(TColour{RGB(0, 0, 128), COLOR_HIGHLIGHT}.Now());
    prbMain.SetBackColor(GetSysColor(HighContrast() ? COLOR_WINDOW : COLOR_BTNHIGHLIGHT));
    prbMain.SetColor(GetSysColor(COLOR_BTNFACE));
}

void TfmUpdate::LayoutExtras() {
    RECT client{};
    GetClientRect(Handle(), &client);
    const int height = MulDiv(client.bottom, USER_DEFAULT_SCREEN_DPI, int(Dpi()));
    const int bar = height - kStatusBarHeight;
    const int gauge = bar - kGaugeHeight;
    MoveControl(sbStatus, {0, bar, kWidth, kStatusBarHeight});
    MoveControl(pnlStatus, {kMargin, kPanelTop, kWidth - 2 * kMargin, gauge - 6 - kPanelTop});
    // The gauge scales itself to the DPI it is shown at.
    prbMain.SetBounds(0, gauge, kWidth, kGaugeHeight);
    if (folder_)
        MakeFolderGlyph();
}

bool TfmUpdate::OnCommand(int id, int code, HWND) {
    // Neither Enter nor Escape walks out of a running update: no default and no cancel button.
    if (id == IDOK || id == IDCANCEL)
        return true;
    if (!form_ || code != BN_CLICKED)
        return false;
    switch (id) {
    case idbtDUReroro:
        form_->btDUReroroClick();
        return true;
    case idbtAbort:
        form_->btAbortClick();
        return true;
    case idbtExit:
        form_->btExitClick();
        return true;
    case idbtnOS:
        form_->btnOSClick();
        return true;
    default:
        return false;
    }
}

void TfmUpdate::OnClose() {
    if (!form_ || form_->FormCloseQuery())
        EndModal();
}

void TfmUpdate::OnTimer(UINT_PTR id) {
    if (id == Timer2.Id() && Timer2.Enabled() && form_)
        form_->Timer2Timer();
}

void TfmUpdate::ShowMessage(const std::string& text) {
    ShowMessageBox(Handle(), text);
}

void TfmUpdate::ShowError(const std::string& text) {
    ShowErrorBox(Handle(), text);
}

std::string TfmUpdate::FileText() {
    return WindowText(edtOSFile);
}

void TfmUpdate::SetFileText(const std::string& text) {
    SetWindowTextUtf8(edtOSFile, text);
}

void TfmUpdate::SetPanelStatus(const std::string& text) {
    SetWindowTextUtf8(pnlStatus, text);
    UpdateWindow(pnlStatus); // the sequence may block the GUI thread right after
    AnnounceLiveRegion(pnlStatus);
}

void TfmUpdate::SetStatusBar(const std::string& text) {
    // A leading tab centres the text in its panel.
    const std::wstring centred = L"\t" + WideText(text);
    SendMessageW(sbStatus, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(centred.c_str()));
    AnnounceLiveRegion(sbStatus);
}

void TfmUpdate::SetGauge(int percent) {
    prbMain.SetProgress(percent);
}

void TfmUpdate::SetButtonEnabled(TUpdateButton button, bool enabled) {
    HWND control = nullptr;
    switch (button) {
    case TUpdateButton::btDUReroro:
        control = btDUReroro;
        break;
    case TUpdateButton::btAbort:
        control = btAbort;
        break;
    case TUpdateButton::btExit:
        control = btExit;
        break;
    case TUpdateButton::btnOS:
        control = btnOS;
        break;
    }
    // A disabled button cannot keep the focus: it goes on to the next control that can take it.
    if (!enabled && GetFocus() == control)
        SendMessageW(Handle(), WM_NEXTDLGCTL, 0, FALSE);
    EnableWindow(control, enabled);
}

void TfmUpdate::ShowModal() {
    // Each opening starts clean; coming back from one of its own message boxes does not.
    if (form_)
        form_->FormActivate();
    RunModal(nullptr, btDUReroro);
}

void TfmUpdate::EndModal() {
    if (!ShownModal())
        return;
    if (form_)
        form_->FormClose();
    EndModalWith(1);
    // Whatever held up the session's end is over.
    ClearSessionEndReason(MainWindow());
}

std::optional<std::string> TfmUpdate::ChooseFile(const TFileChoice& choice) {
    // The filter: its name and its patterns, each ending in a NUL, then one more.
    std::wstring patterns;
    for (const std::string& pattern : choice.Patterns)
        patterns += (patterns.empty() ? L"" : L";") + WideText(pattern);
    std::wstring filter = WideText(choice.FilterName);
    filter.push_back(L'\0');
    filter += patterns;
    filter.push_back(L'\0');
    filter.push_back(L'\0');
    const std::wstring folder = WideText(choice.Folder);
    const std::wstring title = WideText(choice.Title);
    std::vector<wchar_t> file(32768, L'\0');
    const std::wstring preset = WideText(choice.FileName);
    if (preset.size() < file.size())
        std::copy(preset.begin(), preset.end(), file.begin());

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = Handle();
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lpstrTitle = title.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                   OFN_NOCHANGEDIR | OFN_ENABLESIZING;
    if (!GetOpenFileNameW(&dialog))
        return std::nullopt;
    return ToUtf8(file.data());
}

} // namespace orv
