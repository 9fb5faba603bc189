#pragma once
// The speed dialog, the stop-PLC question, the status window and the about box on Win32.

#include "forms/small_forms.h"
#include "win32/window_kit.h"

namespace orv {

class TfmSpeed final : public TFormWindow, public ISpeedWindow {
public:
    TfmSpeed();

    // ISpeedWindow.
    IChoiceList& BaudRateList() override { return baudRateList_; }
    // Centred on the main window.
    void ShowModal() override { RunModal(MainWindow()); }

    HWND Label2 = nullptr;
    HWND cbBaudRate = nullptr;
    HWND BitBtn1 = nullptr;

    enum : int { idcbBaudRate = 401, idBitBtn1 };

protected:
    bool OnCommand(int id, int code, HWND control) override;
    void OnClose() override { EndModalWith(1); }

private:
    TComboChoice baudRateList_;
};

class TfmStopPLC final : public TFormWindow, public IStopPlcWindow {
public:
    TfmStopPLC();

    // IStopPlcWindow: true only for Yes. "No" has the focus: Enter must not stop a machine.
    bool ShowModal() override { return RunModal(nullptr, BitBtn2) == 1; }

    HWND Label1 = nullptr;
    HWND Label2 = nullptr;
    HWND BitBtn1 = nullptr;
    HWND BitBtn2 = nullptr;

    enum : int { idBitBtn1 = 501, idBitBtn2 };

protected:
    bool OnCommand(int id, int code, HWND control) override;
    // Escape and the close box answer No.
    void OnClose() override { EndModalWith(0); }
};

class TfmStatus final : public TFormWindow, public IStatusWindow {
public:
    TfmStatus();

    // IStatusWindow.
    void SetTitle(const std::string& text) override;
    void SetValues(const std::string& version, const std::string& date,
                   const std::string& flash) override;
    void ShowModal() override { RunModal(); }

    HWND pnStatus = nullptr;
    HWND Label1 = nullptr;
    HWND Label2 = nullptr;
    HWND Label3 = nullptr;
    HWND Label4 = nullptr;
    HWND Label5 = nullptr;
    HWND stSeries = nullptr;
    HWND stOSType = nullptr;
    HWND stVersion = nullptr;
    HWND stDate = nullptr;
    HWND stFlash = nullptr;
    HWND BitBtn1 = nullptr;

    enum : int { idBitBtn1 = 601 };

protected:
    bool OnCommand(int id, int code, HWND control) override;
    void OnClose() override { EndModalWith(1); }
    // Panel1: the lowered panel in the window colour that holds the rows.
    void OnPaint(HDC dc) override;
};

class TfmAbout final : public TFormWindow, public IAboutWindow {
public:
    TfmAbout();

    // IAboutWindow.
    void ShowModal() override { RunModal(); }

    HWND lblName = nullptr;
    HWND lblVersion = nullptr;
    HWND lblPurpose = nullptr;
    HWND btOK = nullptr;

    enum : int { idbtOK = 701 };

protected:
    bool OnCommand(int id, int code, HWND control) override;
    void OnClose() override { EndModalWith(1); }
};

} // namespace orv
