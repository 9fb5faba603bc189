#pragma once
// The Win32 program: the one port with its notification window, the seven windows, and the
// forms that decide what they do. The windows are made first, then the forms in order; at
// program end the forms go first (saving their settings), then the windows.

#include "forms/comm_line_port.h"
#include "forms/orv_forms.h"
#include "win32/fm_open.h"
#include "win32/fm_startup.h"
#include "win32/fm_update.h"
#include "win32/small_dialogs.h"
#include "win32/win32_comm_sink.h"

#include <memory>

namespace orv {

class RegStore;

class TOrvWin32Application final : public IProgramView {
public:
    // The settings in `store`: the current user's registry for the program.
    explicit TOrvWin32Application(std::unique_ptr<RegStore> store);
    TOrvWin32Application();
    ~TOrvWin32Application() override;
    TOrvWin32Application(const TOrvWin32Application&) = delete;
    TOrvWin32Application& operator=(const TOrvWin32Application&) = delete;

    // Shows the main window and runs the program's message loop until it has closed.
    int Run();

    // IProgramView.
    void ShowProgramMessage(const std::string& text) override;

    // Declared first: the port outlives the windows and the forms.
    TWin32Comm Comm;
    TCommLinePort LinePort{Comm};

    std::unique_ptr<TfmStartup> fmStartup;
    std::unique_ptr<TfmUpdate> fmUpdate;
    std::unique_ptr<TfmStatus> fmStatus;
    std::unique_ptr<TfmStopPLC> fmStopPLC;
    std::unique_ptr<TfmAbout> fmAbout;
    std::unique_ptr<TfmOpen> fmOpen;
    std::unique_ptr<TfmSpeed> fmSpeed;

    std::unique_ptr<TOrvForms> Forms;
};

} // namespace orv
