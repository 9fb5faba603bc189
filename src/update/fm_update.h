#pragma once
// The update window: the program's one serial port (Comm), the dispatch of received data to
// the current reply handler, the file box and the wiring of the update sequence. Also the Qt
// glue the other windows share: the application's error display, the timer adapter and the
// port adapter over Comm.

#include "protocol/link.h"
#include "protocol/station.h"
#include "serial/comm.h"
#include "serial/qt_comm_sink.h"
#include "update/os_image.h"
#include "update/qt_timer.h"
#include "update/update_sequence.h"

#include <QDialog>
#include <QTimer>
#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QToolButton;
class QFileDialog;

namespace orv {

class TCGauge;

// The program's key under the current user's settings.
inline constexpr const char* kRegKeyPath = "Software\\Velko\\DUReroro\\v1.0";
// The caption of the program's message boxes.
inline constexpr const char* kAppTitle = "Orv OS update";

// The application's error display: the error's what() (and, for a port error, its detail on
// a second line) in a message box with an OK button.
void ShowApplicationError(QWidget* parent, std::exception_ptr error);
// A plain message box with an OK button, as the program's own messages are shown.
void ShowMessageBox(QWidget* parent, const QString& text);

// Every handler runs its work through this: an exception must not unwind through Qt's own
// frames, and the window stays as it was.
template <typename F>
void GuardHandler(QWidget* window, F&& work) {
    try {
        work();
    } catch (...) {
        ShowApplicationError(window, std::current_exception());
    }
}

// The program's text: MS Sans Serif where there is one, else the desktop's sans serif, 13
// pixels from ascent to descent.
void ApplyProgramFont(QWidget* window);

// Centres a window on the screen, or over another window when one is given.
void CentreWindow(QWidget* window, const QWidget* over = nullptr);

// The engines' port seam over the one TComm.
class TCommLinePort final : public ILinePort {
public:
    explicit TCommLinePort(TComm& comm) : comm_(comm) {}
    void Open() override {
        comm_.StartComm();
        lineDown_ = false;
    }
    void Close() override { comm_.StopComm(); }
    // Refused once the port has reported a hang-up: a write the writer thread would only drop
    // brings no send-buffer-empty event, so the caller must see it refused.
    bool Write(const uint8_t* data, uint16_t count) override {
        return !lineDown_ && comm_.WriteCommData(data, count);
    }
    // The port's threads have hung up (the device or the far end has gone) until it reopens.
    void LineDown() { lineDown_ = true; }
    void SetBaudRate(uint32_t baud) override { comm_.SetBaudRate(baud); }
    void SetDataBits(int bits) override;
    void SetParity(LineParity parity) override;
    uint32_t ReadIntervalMs() const override { return comm_.ReadIntervalTimeout(); }

private:
    TComm& comm_;
    bool lineDown_ = false;
};

// What the update window needs from the windows created after it (the connect dialog, the
// speed dialog, the status window and the stop-PLC question). Dialogs hand nothing back; the
// update window reads their controls through this when it needs them.
class IUpdatePeers {
public:
    virtual ~IUpdatePeers() = default;
    virtual bool ConnectEightDataBits() = 0;
    virtual int ConnectSpeedIndex() = 0;
    virtual std::string UpdateSpeedText() = 0;
    virtual std::string StationText() = 0;
    virtual bool AskStopPlc() = 0;
    virtual void SetStatusTitle(const QString& title) = 0;
    virtual void FillStatus(const std::string& version, const std::string& date,
                            const std::string& flash) = 0;
    virtual void ShowStatusModal() = 0;
};

class TfmUpdate : public QDialog, public IUpdateView {
    Q_OBJECT
public:
    TfmUpdate(StationState& station, ReplyDispatch& dispatch, QWidget* parent = nullptr);
    ~TfmUpdate() override;

    // The connect dialog, speed dialog and status window are created after this window.
    void SetPeers(IUpdatePeers* peers) { peers_ = peers; }

    TComm& CommPort() { return *Comm; }
    ILinePort& LinePort() { return *linePort_; }
    UpdateSequence& Sequence() { return *sequence_; }
    ReplyDispatch& Dispatch() { return dispatch_; }

    // Handlers.
    void FormCreate();
    void FormDestroy();
    void FormActivate();
    void FormClose();
    void CommReceiveData(TComm* sender, const uint8_t* buffer, uint16_t length);
    void CommSendDataEmpty(TComm* sender);
    void CommRequestHangup(TComm* sender);
    void Timer2Timer();
    void btDUReroroClick();
    void btAbortClick();
    void btExitClick();
    void btnOSClick();
    // Loads the file named in the file box and fills the status window from its header.
    void ShowImageInfo(bool show);

    // IUpdateView.
    void SetPanelStatus(const std::string& text) override;
    void SetStatusBar(const std::string& text) override;
    void SetGauge(int percent) override;
    void SetBusyButtons() override;
    void SetIdleButtons() override;
    void SetAbortEnabled(bool enabled) override;
    void SetExitEnabled(bool enabled) override;
    void ShowMessage(const std::string& text) override;
    bool AskStopPlc() override;
    void CloseWindow() override;
    void Wait(int ms) override;
    std::optional<PreparedImage> PrepareImage() override;
    bool ConnectEightDataBits() override;
    int ConnectSpeedIndex() override;
    std::string UpdateSpeedText() override;
    std::string StationText() override;

    // Controls, named as the operator's manual names them.
    QLabel* lblOS = nullptr;
    QLineEdit* edtOSFile = nullptr;
    QToolButton* btnOS = nullptr;
    QPushButton* btDUReroro = nullptr;
    QPushButton* btAbort = nullptr;
    QPushButton* btExit = nullptr;
    QLabel* pnlStatus = nullptr;
    QStatusBar* sbStatus = nullptr;
    QLabel* sbStatusPanel = nullptr;
    TCGauge* prbMain = nullptr;
    QTimer* Timer2 = nullptr;
    // Header of the file last shown, zero-padded.
    std::array<uint8_t, kImageHeaderSize> ImageHeader{};

    // The file dialog's single filter entry.
    static const QString kOsFileFilter;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

public slots:
    void done(int result) override;

private:
    IUpdatePeers& Peers();

    StationState& station_;
    ReplyDispatch& dispatch_;
    IUpdatePeers* peers_ = nullptr;

public:
    // The program's one serial port, with its own notification sink on the GUI thread.
    std::unique_ptr<TQtComm> Comm;

private:
    std::unique_ptr<TTimerAdapter> timer2Adapter_;
    std::unique_ptr<TCommLinePort> linePort_;
    std::unique_ptr<UpdateSequence> sequence_;
};

} // namespace orv
