#pragma once
// The update window on Win32: draws what its form says and forwards its events to it. It holds
// the update sequence's timer, Timer2, and the progress gauge.

#include "forms/update_form.h"
#include "win32/cgauge.h"
#include "win32/window_kit.h"

namespace orv {

class TfmUpdate final : public TFormWindow, public IUpdateWindow {
public:
    TfmUpdate();
    ~TfmUpdate() override;

    // From now on the window's events go to the form; Unbind stops that before the form goes.
    void Bind(TUpdateForm& form) { form_ = &form; }
    void Unbind() { form_ = nullptr; }
    ITimer& Timer2Seam() { return Timer2; }

    // IUpdateWindow.
    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;
    std::string FileText() override;
    void SetFileText(const std::string& text) override;
    void SetPanelStatus(const std::string& text) override;
    void SetStatusBar(const std::string& text) override;
    void SetGauge(int percent) override;
    void SetButtonEnabled(TUpdateButton button, bool enabled) override;
    void ShowModal() override;
    void EndModal() override;
    std::optional<std::string> ChooseFile(const TFileChoice& choice) override;

    HWND lblOS = nullptr;
    HWND edtOSFile = nullptr;
    HWND btnOS = nullptr;
    HWND btDUReroro = nullptr;
    HWND btAbort = nullptr;
    HWND btExit = nullptr;
    HWND pnlStatus = nullptr;
    HWND sbStatus = nullptr;
    TCGauge prbMain;
    TWindowTimer Timer2;

    enum : int {
        idlblOS = 201,
        idedtOSFile,
        idbtnOS,
        idbtDUReroro,
        idbtAbort,
        idbtExit,
        idpnlStatus,
        idsbStatus,
        idprbMain,
    };

protected:
    bool OnCommand(int id, int code, HWND control) override;
    // The close request (Alt+F4, the window manager's close): the form decides.
    void OnClose() override;
    void OnTimer(UINT_PTR id) override;
    void LayoutExtras() override;
    void OnSystemColours() override;

private:
    void MakeFolderGlyph();

    TUpdateForm* form_ = nullptr;
    HWND tip_ = nullptr;
    HICON folder_ = nullptr;
};

} // namespace orv
