#pragma once
// The update window (fmUpdate, "Update Orv OS"): the file box, the update sequence's view and
// handlers, and the dispatch of what the port receives to the current reply handler.

#include "forms/form_kit.h"
#include "history/update_record.h"
#include "update/os_image.h"
#include "update/update_sequence.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace orv {

class TOrvForms;

enum class TUpdateButton { btDUReroro, btAbort, btExit, btnOS };

// What the file dialog offers.
struct TFileChoice {
    std::string Title;                 // "Open"
    std::string FilterName;            // the one filter entry: "OS file [*.os;*.bin]"
    std::vector<std::string> Patterns; // its patterns: "*.os", "*.bin"
    std::string Folder;                // where the dialog opens; empty: where the toolkit likes
    std::string FileName;              // preset in that folder; "" for none
};

class IUpdateWindow : public IMessageWindow {
public:
    // edtOSFile, "OS File:".
    virtual std::string FileText() = 0;
    virtual void SetFileText(const std::string& text) = 0;
    // pnlStatus, drawn before this returns: the sequence may block the GUI thread right after.
    virtual void SetPanelStatus(const std::string& text) = 0;
    // sbStatus's one panel.
    virtual void SetStatusBar(const std::string& text) = 0;
    // prbMain's Progress, 0 to 100.
    virtual void SetGauge(int percent) = 0;
    virtual void SetButtonEnabled(TUpdateButton button, bool enabled) = 0;
    // Shows the window modally; returns once it has closed, by EndModal or by a close request
    // (close box, Alt+F4) that FormCloseQuery allowed. The window calls FormActivate each time
    // it is shown (not when it becomes active again after one of its own boxes), and FormClose
    // each time it has closed, whatever closed it. Escape does nothing.
    virtual void ShowModal() = 0;
    virtual void EndModal() = 0;
    // The file dialog, modal: the path chosen, or nothing when the operator cancelled.
    virtual std::optional<std::string> ChooseFile(const TFileChoice& choice) = 0;
};

class TUpdateForm final : private IUpdateView {
public:
    // FormCreate: the file box from the stored "OSFile" (empty on a first run), the buttons
    // idle; takes over the port's events.
    TUpdateForm(TOrvForms& app, IUpdateWindow& window, ITimer& timer2);
    // FormDestroy: stops Timer2, and the port if it was ever opened, then saves "OSFile".
    ~TUpdateForm() override;
    TUpdateForm(const TUpdateForm&) = delete;
    TUpdateForm& operator=(const TUpdateForm&) = delete;

    void ShowModal() { window_.ShowModal(); }

    // Handlers.
    void FormActivate(); // empties pnlStatus and the status bar, the gauge to 0
    // The close box: true when the window may close now; during a run, Abort then Exit, and
    // the window closes when the restore-speed command is over.
    bool FormCloseQuery();
    void FormClose();
    void btDUReroroClick();
    void btAbortClick();
    void btExitClick();
    void btnOSClick(); // the file dialog, then the image's header in the status window
    void Timer2Timer();
    void CommReceiveData(const uint8_t* buffer, uint16_t length);
    void CommSendDataEmpty();
    void CommRequestHangup();

    // Saves "OSFile", as at program end.
    void SaveSettings();

    // The session's end. An update runs, or the PLC's port still runs at the download speed:
    // only this window can put the PLC back, so the session must wait for it.
    bool RunOrRestoreDue() const;
    // What closing the window does, even with one of the run's own boxes up: a run aborted, then
    // the restore-speed command where the speed was changed.
    void StopForSessionEnd();
    // The restore-speed command's reply or time-outs are still to come.
    bool Restoring() const { return sequence_.UpdateState == UpdateSequence::RestoreSpeed; }
    // The window closes, restored or not.
    void CloseForSessionEnd() { window_.EndModal(); }

    // Loads the file named in the file box and fills the status window from its header,
    // showing it when `show` is set. Throws when the file cannot be read.
    void ShowImageInfo(bool show);

    UpdateSequence& Sequence() { return sequence_; }
    // Each run's line in the update history.
    TUpdateRecord& Record() { return record_; }
    // The header of the file last shown, zero-padded.
    std::array<uint8_t, kImageHeaderSize> ImageHeader{};

private:
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

    TFileChoice FileDialogChoice();

    TOrvForms& app_;
    IUpdateWindow& window_;
    ITimer& timer2_;
    UpdateSequence sequence_;
    TUpdateRecord record_{"orv-os-update"};
};

} // namespace orv
