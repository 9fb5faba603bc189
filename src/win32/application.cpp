#include "win32/application.h"

#include "settings/reg_store.h"

#include <commctrl.h>

namespace orv {

namespace {

void InitCommonControlsOnce() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX controls{};
        controls.dwSize = sizeof controls;
        controls.dwICC = ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_WIN95_CLASSES;
        return InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)done;
}

} // namespace

TOrvWin32Application::TOrvWin32Application() : TOrvWin32Application(MakeUserRegStore()) {}

TOrvWin32Application::TOrvWin32Application(std::unique_ptr<RegStore> store) {
    InitCommonControlsOnce();
    SetStoredCommValues(Comm);
    fmStartup = std::make_unique<TfmStartup>();
    fmUpdate = std::make_unique<TfmUpdate>();
    fmStatus = std::make_unique<TfmStatus>();
    fmStopPLC = std::make_unique<TfmStopPLC>();
    fmAbout = std::make_unique<TfmAbout>();
    fmOpen = std::make_unique<TfmOpen>();
    fmSpeed = std::make_unique<TfmSpeed>();

    Forms = std::make_unique<TOrvForms>(
        LinePort, TFormsTimers{fmStartup->TimeOutSeam(), fmUpdate->Timer2Seam()},
        TFormsViews{*this, *fmStartup, *fmUpdate, *fmStatus, *fmStopPLC, *fmAbout, *fmOpen,
                    *fmSpeed},
        std::move(store));
    fmStartup->Bind(*Forms->fmStartup);
    fmUpdate->Bind(*Forms->fmUpdate);
    fmOpen->Bind(*Forms->fmOpen);
}

TOrvWin32Application::~TOrvWin32Application() {
    fmStartup->Unbind();
    fmUpdate->Unbind();
    fmOpen->Unbind();
    // The members go in reverse order: the forms, then the windows the main window owns,
    // then the main window.
}

int TOrvWin32Application::Run() {
    fmStartup->Centre();
    ShowWindow(fmStartup->Handle(), SW_SHOW);
    SetForegroundWindow(fmStartup->Handle());
    MSG message;
    while (!fmStartup->Closed()) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(message.wParam);
        if (got == -1)
            return 1;
        TFormWindow::DispatchThreadMessage(message);
    }
    return 0;
}

void TOrvWin32Application::ShowProgramMessage(const std::string& text) {
    ShowMessageBox(nullptr, text);
}

} // namespace orv
