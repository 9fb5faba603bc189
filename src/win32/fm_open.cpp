#include "win32/fm_open.h"

namespace orv {

namespace {

constexpr int kWidth = 421;
constexpr int kHeight = 203;
constexpr int kListHeight = 200; // a combo box's height holds its dropped-down list
constexpr int kRow = 22;
constexpr DWORD kPickList = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
constexpr DWORD kLabel = SS_RIGHT | SS_CENTERIMAGE;

// Left column: the label, then its field; right column likewise. Rows 34 apart.
constexpr int kLabel1 = 10, kField1 = 88, kLabel2 = 186, kField2 = 278, kLabelWidth = 72;
constexpr int kRow1 = 16, kRow2 = 50, kRow3 = 84;

} // namespace

TfmOpen::TfmOpen()
    : TFormWindow("Connect PLC", WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, kWidth, kHeight),
      portList_(nullptr), baudRateList_(nullptr), parityList_(nullptr), dataBitList_(nullptr) {
    // Made in the order Tab goes through them.
    AddControl(L"STATIC", L"C&OM:", kLabel, -1, {kLabel1, kRow1, kLabelWidth, kRow});
    cbPort = AddControl(L"COMBOBOX", L"", kPickList, idcbPort, {kField1, kRow1, 233, kListHeight});
    AddControl(L"STATIC", L"&Baud Rate:", kLabel, -1, {kLabel1, kRow2, kLabelWidth, kRow});
    cbBaudRate =
        AddControl(L"COMBOBOX", L"", kPickList, idcbBaudRate, {kField1, kRow2, 90, kListHeight});
    AddControl(L"STATIC", L"&Station NO.:", kLabel, -1, {kLabel2, kRow2, 86, kRow});
    edStation = AddControl(L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, idedStation,
                           {kField2, kRow2, 30, kRow}, TFontRole::Normal, WS_EX_CLIENTEDGE);
    SendMessageW(edStation, EM_LIMITTEXT, 8, 0);
    AddControl(L"STATIC", L"&Parity:", kLabel, -1, {kLabel1, kRow3, kLabelWidth, kRow});
    cbParity =
        AddControl(L"COMBOBOX", L"", kPickList, idcbParity, {kField1, kRow3, 90, kListHeight});
    AddControl(L"STATIC", L"&Data Bit:", kLabel, -1, {kLabel2, kRow3, 86, kRow});
    cbDataBit =
        AddControl(L"COMBOBOX", L"", kPickList, idcbDataBit, {kField2, kRow3, 90, kListHeight});
    Button1 = AddControl(L"BUTTON", L"&Connect PLC", BS_DEFPUSHBUTTON | WS_TABSTOP, idButton1,
                         {(kWidth - 137) / 2, kHeight - 14 - 33, 137, 33});
    portList_ = TComboChoice(cbPort);
    baudRateList_ = TComboChoice(cbBaudRate);
    parityList_ = TComboChoice(cbParity);
    dataBitList_ = TComboChoice(cbDataBit);
}

bool TfmOpen::OnCommand(int id, int code, HWND) {
    if (id == idButton1 && code == BN_CLICKED) {
        if (form_)
            form_->Button1Click();
        return true;
    }
    return false;
}

void TfmOpen::OnActivated() {
    if (ShownModal() && form_)
        form_->FormActivate();
}

void TfmOpen::ShowMessage(const std::string& text) {
    ShowMessageBox(Handle(), text);
}

void TfmOpen::ShowError(const std::string& text) {
    ShowErrorBox(Handle(), text);
}

std::string TfmOpen::StationText() {
    return WindowText(edStation);
}

void TfmOpen::SetStationText(const std::string& text) {
    SetWindowTextUtf8(edStation, text);
}

bool TfmOpen::ShowModal() {
    // The list as it is now, also where the window is not activated by being shown.
    if (form_)
        form_->FormActivate();
    return RunModal() == 1;
}

} // namespace orv
