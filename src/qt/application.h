#pragma once
// The Qt program: the one port with its Qt notification sink, the seven windows and the forms
// that decide what they do, assembled as every front end does (forms/orv_program.h), and the
// end of the session: the session manager's questions and SIGTERM.

#include "forms/orv_program.h"
#include "qt/fm_open.h"
#include "qt/fm_startup.h"
#include "qt/fm_update.h"
#include "qt/qt_comm_sink.h"
#include "qt/session_end.h"
#include "qt/small_dialogs.h"

#include <QApplication>
#include <memory>

namespace orv {

// The Qt application with the last line of the error display: whatever a handler let slip is
// shown, and the event loop goes on.
class TOrvQApplication : public QApplication {
public:
    TOrvQApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The Qt front end's parts, for TOrvProgram.
struct TQtWindows {
    using Comm = TQtComm;
    using Startup = TfmStartup;
    using Update = TfmUpdate;
    using Status = TfmStatus;
    using StopPlc = TfmStopPLC;
    using About = TfmAbout;
    using Open = TfmOpen;
    using Speed = TfmSpeed;

    // The other windows are the main window's children, destroyed before it.
    template <class TWindow>
    static std::unique_ptr<TWindow> Make(TfmStartup& main) {
        return std::make_unique<TWindow>(&main);
    }
    static void ShowProgramMessage(const std::string& text);
};

class TOrvApplication final : public TOrvProgram<TQtWindows> {
public:
    TOrvApplication();

    // Shows the main window and runs until it closes.
    int Run();

private:
    TQtSessionEnd sessionEnd_;
};

} // namespace orv
