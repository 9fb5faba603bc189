// orv-os-update.exe: replaces the operating system of an Orv-series PLC over a serial line.

#include "forms/form_kit.h"
#include "win32/application.h"
#include "win32/window_kit.h"

#include <exception>
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        orv::TOrvWin32Application app;
        return app.Run();
    } catch (...) {
        // An error that escapes the start-up is shown like any other.
        orv::ShowErrorBox(nullptr, orv::ErrorText(std::current_exception()));
        return 1;
    }
}
