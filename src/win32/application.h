#pragma once
// The Win32 program: the one port with its notification window, the seven windows and the
// forms that decide what they do, assembled as every front end does (forms/orv_program.h).

#include "forms/orv_program.h"
#include "win32/fm_open.h"
#include "win32/fm_startup.h"
#include "win32/fm_update.h"
#include "win32/small_dialogs.h"
#include "win32/win32_comm_sink.h"

#include <memory>

namespace orv {

// The Win32 front end's parts, for TOrvProgram.
struct TWin32Windows {
    using Comm = TWin32Comm;
    using Startup = TfmStartup;
    using Update = TfmUpdate;
    using Status = TfmStatus;
    using StopPlc = TfmStopPLC;
    using About = TfmAbout;
    using Open = TfmOpen;
    using Speed = TfmSpeed;

    // The main window is made first and owns the others through TFormWindow::MainWindow.
    template <class TWindow>
    static std::unique_ptr<TWindow> Make(TfmStartup&) {
        return std::make_unique<TWindow>();
    }
    static void ShowProgramMessage(const std::string& text);
};

namespace detail {
// Before the first window: the common controls' classes, and COM for the accessibility
// objects and the file dialog; COM ends after the last window.
class TWin32Start {
public:
    TWin32Start();
    ~TWin32Start();
    TWin32Start(const TWin32Start&) = delete;
    TWin32Start& operator=(const TWin32Start&) = delete;

private:
    bool com_ = false;
};
} // namespace detail

class TOrvWin32Application final : private detail::TWin32Start, public TOrvProgram<TWin32Windows> {
public:
    // The settings in `store`: the current user's registry for the program.
    explicit TOrvWin32Application(std::unique_ptr<RegStore> store);
    TOrvWin32Application();

    // Shows the main window and runs the program's message loop until it has closed.
    int Run();
};

} // namespace orv
