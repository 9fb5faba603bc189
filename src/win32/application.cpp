#include "win32/application.h"

#include <commctrl.h>
#include <objbase.h>

namespace orv {

detail::TWin32Start::TWin32Start() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX controls{};
        controls.dwSize = sizeof controls;
        controls.dwICC = ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_WIN95_CLASSES;
        return InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)done;
    com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

detail::TWin32Start::~TWin32Start() {
    if (com_)
        CoUninitialize();
}

void TWin32Windows::ShowProgramMessage(const std::string& text) {
    ShowMessageBox(nullptr, text);
}

TOrvWin32Application::TOrvWin32Application() : TOrvWin32Application(MakeUserRegStore()) {}

TOrvWin32Application::TOrvWin32Application(std::unique_ptr<RegStore> store)
    : TOrvProgram(std::move(store)) {}

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

} // namespace orv
