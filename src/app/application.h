#pragma once
// The application object: the program-wide station and dispatch state and the seven windows,
// created once in order and destroyed in reverse order at program end (when the connect and
// speed dialogs and the update window save their settings).

#include "app/fm_open.h"
#include "app/fm_startup.h"
#include "app/small_dialogs.h"
#include "protocol/link.h"
#include "protocol/station.h"
#include "update/fm_update.h"

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

class TOrvApplication final : public IUpdatePeers {
public:
    TOrvApplication();
    ~TOrvApplication() override;
    TOrvApplication(const TOrvApplication&) = delete;
    TOrvApplication& operator=(const TOrvApplication&) = delete;

    // Shows the main window and runs until it closes.
    int Run();

    // IUpdatePeers: the update window reads the dialogs through these.
    bool ConnectEightDataBits() override;
    int ConnectSpeedIndex() override;
    std::string UpdateSpeedText() override;
    std::string StationText() override;
    bool AskStopPlc() override;
    void SetStatusTitle(const QString& title) override;
    void FillStatus(const std::string& version, const std::string& date,
                    const std::string& flash) override;
    void ShowStatusModal() override;

    // Declared before the windows, so they outlive every window that uses them.
    StationState Station;
    ReplyDispatch Dispatch;

    std::unique_ptr<TfmStartup> fmStartup;
    std::unique_ptr<TfmUpdate> fmUpdate;
    std::unique_ptr<TfmStatus> fmStatus;
    std::unique_ptr<TfmStopPLC> fmStopPLC;
    std::unique_ptr<TfmAbout> fmAbout;
    std::unique_ptr<TfmOpen> fmOpen;
    std::unique_ptr<TfmSpeed> fmSpeed;
};

} // namespace orv
