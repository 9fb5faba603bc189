#include "win32/small_dialogs.h"

#include "common/version.h"

#include <string>

namespace orv {

namespace {

constexpr DWORD kNoBorderIcons = WS_CAPTION | DS_MODALFRAME;
constexpr DWORD kCloseBox = WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 28;

bool Clicked(int id, int code, int button) {
    return id == button && code == BN_CLICKED;
}

} // namespace

// The speed dialog: left through OK only, like the dialog without border icons it is.

TfmSpeed::TfmSpeed()
    : TFormWindow("Update Download Speed", kNoBorderIcons, 326, 151), baudRateList_(nullptr) {
    Label2 =
        AddControl(L"STATIC", L"Update &Speed:", SS_RIGHT | SS_CENTERIMAGE, -1, {40, 24, 100, 22});
    // A typed speed would have no speed code: pick only.
    cbBaudRate = AddControl(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP,
                            idcbBaudRate, {148, 24, 110, 200});
    BitBtn1 = AddControl(
        L"BUTTON", L"&OK", BS_DEFPUSHBUTTON | WS_TABSTOP, idBitBtn1,
        {(326 - kButtonWidth) / 2, 151 - 16 - kButtonHeight, kButtonWidth, kButtonHeight});
    baudRateList_ = TComboChoice(cbBaudRate);
}

bool TfmSpeed::OnCommand(int id, int code, HWND) {
    if (id == IDCANCEL)
        return true;
    if (Clicked(id, code, idBitBtn1)) {
        EndModalWith(1);
        return true;
    }
    return false;
}

// The stop-PLC question.

TfmStopPLC::TfmStopPLC() : TFormWindow("fmStopPLC", kCloseBox, 265, 184) {
    Label1 =
        AddControl(L"STATIC", L"PLC is Running !!", SS_CENTER | SS_NOPREFIX, -1, {16, 50, 233, 16});
    Label2 = AddControl(L"STATIC", L"Are you sure to stop the PLC ?", SS_CENTER | SS_NOPREFIX, -1,
                        {16, 76, 233, 16});
    BitBtn1 = AddControl(L"BUTTON", L"&Yes", BS_PUSHBUTTON | WS_TABSTOP, idBitBtn1,
                         {36, 184 - 22 - kButtonHeight, kButtonWidth, kButtonHeight});
    BitBtn2 = AddControl(L"BUTTON", L"&No", BS_DEFPUSHBUTTON | WS_TABSTOP, idBitBtn2,
                         {140, 184 - 22 - kButtonHeight, kButtonWidth, kButtonHeight});
}

bool TfmStopPLC::OnCommand(int id, int code, HWND) {
    if (Clicked(id, code, idBitBtn1)) {
        EndModalWith(1);
        return true;
    }
    if (Clicked(id, code, idBitBtn2)) {
        EndModalWith(0);
        return true;
    }
    return false;
}

// The status window.

namespace {

constexpr TBox kPanel1{10, 60, 308, 175};
constexpr int kRowTop = 91;
constexpr int kRowPitch = 24;

} // namespace

TfmStatus::TfmStatus() : TFormWindow("", kCloseBox, 328, 285) {
    pnStatus = AddControl(L"STATIC", L"PLC Status", SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX, -1,
                          {10, 10, 308, 40}, TFontRole::Title);
    SetStaticColours(pnStatus, {RGB(0, 0, 255), COLOR_BTNTEXT},
                     {RGB(192, 192, 192), COLOR_BTNFACE});
    const wchar_t* const captions[] = {L"OS Series :", L"OS Type:", L" Version:", L"Released Date:",
                                       L"Flash Type:"};
    const wchar_t* const values[] = {L"Orv", L"PLC", L"1.00", L"03/2003", L"W29C020"};
    HWND* const captionControls[] = {&Label1, &Label2, &Label3, &Label4, &Label5};
    HWND* const valueControls[] = {&stSeries, &stOSType, &stVersion, &stDate, &stFlash};
    constexpr TColour window = SystemColour(COLOR_WINDOW);
    for (int row = 0; row < 5; ++row) {
        const int top = kRowTop + row * kRowPitch;
        *captionControls[row] =
            AddControl(L"STATIC", captions[row], SS_RIGHT | SS_NOPREFIX, -1, {34, top, 123, 16});
        SetStaticColours(*captionControls[row], SystemColour(COLOR_WINDOWTEXT), window);
        // Red value texts, at least 58 pixels wide; wider, so that every flash name fits.
        *valueControls[row] =
            AddControl(L"STATIC", values[row], SS_LEFT | SS_NOPREFIX, -1, {171, top, 123, 16});
        SetStaticColours(*valueControls[row], {RGB(255, 0, 0), COLOR_WINDOWTEXT}, window);
    }
    BitBtn1 = AddControl(
        L"BUTTON", L"&OK", BS_DEFPUSHBUTTON | WS_TABSTOP, idBitBtn1,
        {(328 - kButtonWidth) / 2, 285 - 12 - kButtonHeight, kButtonWidth, kButtonHeight});
}

void TfmStatus::SetTitle(const std::string& text) {
    SetWindowTextUtf8(pnStatus, text);
}

void TfmStatus::SetValues(const std::string& version, const std::string& date,
                          const std::string& flash) {
    SetWindowTextUtf8(stVersion, version);
    SetWindowTextUtf8(stDate, date);
    SetWindowTextUtf8(stFlash, flash);
}

bool TfmStatus::OnCommand(int id, int code, HWND) {
    if (Clicked(id, code, idBitBtn1)) {
        EndModalWith(1);
        return true;
    }
    return false;
}

void TfmStatus::OnPaint(HDC dc) {
    RECT panel{Scaled(kPanel1.Left), Scaled(kPanel1.Top), Scaled(kPanel1.Left + kPanel1.Width),
               Scaled(kPanel1.Top + kPanel1.Height)};
    FillRect(dc, &panel, GetSysColorBrush(COLOR_WINDOW));
    DrawEdge(dc, &panel, EDGE_SUNKEN, BF_RECT);
}

// The about box.

TfmAbout::TfmAbout() : TFormWindow("About", kCloseBox, 323, 192) {
    lblName = AddControl(L"STATIC", L"Orv OS update", SS_CENTER | SS_NOPREFIX, -1,
                         {20, 22, 283, 16}, TFontRole::Bold);
    lblVersion = AddControl(L"STATIC", (std::wstring(L"Version ") + kVersionW).c_str(),
                            SS_CENTER | SS_NOPREFIX, -1, {20, 46, 283, 16});
    lblPurpose = AddControl(
        L"STATIC",
        L"Reads an Orv PLC's status and replaces its operating system over a serial line.",
        SS_CENTER | SS_NOPREFIX, -1, {20, 70, 283, 40});
    btOK = AddControl(
        L"BUTTON", L"&OK", BS_DEFPUSHBUTTON | WS_TABSTOP, idbtOK,
        {(323 - kButtonWidth) / 2, 192 - 16 - kButtonHeight, kButtonWidth, kButtonHeight});
}

bool TfmAbout::OnCommand(int id, int code, HWND) {
    if (Clicked(id, code, idbtOK)) {
        EndModalWith(1);
        return true;
    }
    return false;
}

} // namespace orv
