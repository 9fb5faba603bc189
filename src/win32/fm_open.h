#pragma once
// The connect dialog on Win32: draws what its form says and forwards its events to it.

#include "forms/open_form.h"
#include "win32/window_kit.h"

namespace orv {

class TfmOpen final : public TFormWindow, public IOpenWindow {
public:
    TfmOpen();

    // From now on the window's events go to the form; Unbind stops that before the form goes.
    void Bind(TOpenForm& form) { form_ = &form; }
    void Unbind() { form_ = nullptr; }

    // IOpenWindow.
    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;
    IChoiceList& PortList() override { return portList_; }
    IChoiceList& BaudRateList() override { return baudRateList_; }
    IChoiceList& ParityList() override { return parityList_; }
    IChoiceList& DataBitList() override { return dataBitList_; }
    std::string StationText() override;
    void SetStationText(const std::string& text) override;
    bool ShowModal() override;
    void EndModal() override { EndModalWith(1); }

    // In the order Tab goes through them, as they are laid out.
    HWND cbPort = nullptr;
    HWND cbBaudRate = nullptr;
    HWND edStation = nullptr;
    HWND cbParity = nullptr;
    HWND cbDataBit = nullptr;
    HWND Button1 = nullptr;

    enum : int { idcbPort = 301, idcbBaudRate, idedStation, idcbParity, idcbDataBit, idButton1 };

protected:
    bool OnCommand(int id, int code, HWND control) override;
    // Escape and the close box leave without connecting: a cancel.
    void OnClose() override { EndModalWith(0); }
    // Back from a message box or another program, say after plugging in an adapter: the list
    // shows what is there now.
    void OnActivated() override;

private:
    TOpenForm* form_ = nullptr;
    TComboChoice portList_;
    TComboChoice baudRateList_;
    TComboChoice parityList_;
    TComboChoice dataBitList_;
};

} // namespace orv
