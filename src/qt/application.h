#pragma once
// The Qt program: the one port with its Qt notification sink, the seven windows, and the forms
// that decide what they do. The windows are created first, then the forms in order; at
// program end the forms go first (saving their settings), then the windows.

#include "forms/comm_line_port.h"
#include "forms/orv_forms.h"
#include "qt/fm_open.h"
#include "qt/fm_startup.h"
#include "qt/fm_update.h"
#include "qt/qt_comm_sink.h"
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

class TOrvApplication final : public IProgramView {
public:
    TOrvApplication();
    ~TOrvApplication() override;
    TOrvApplication(const TOrvApplication&) = delete;
    TOrvApplication& operator=(const TOrvApplication&) = delete;

    // Shows the main window and runs until it closes.
    int Run();

    // IProgramView.
    void ShowProgramMessage(const std::string& text) override;

    // Declared first: the port outlives the windows and the forms.
    TQtComm Comm;
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
