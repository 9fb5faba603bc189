#include "forms/update_form.h"

#include "common/home_folder.h"
#include "common/platform_io.h"
#include "forms/orv_forms.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace orv {

namespace {

namespace fs = std::filesystem;

bool IsBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n\v\f") == std::string::npos;
}

} // namespace

TUpdateForm::TUpdateForm(TOrvForms& app, IUpdateWindow& window, ITimer& timer2)
    : app_(app), window_(window), timer2_(timer2),
      sequence_(app.Comm, timer2, *this, app.Station, app.Dispatch) {
    std::string path;
    window_.SetFileText(app_.Reg.LoadStringNoted("", "OSFile", path) ? path : std::string());
    // Replies are taken the moment they are whole; "interval" keeps the 100 ms of silence that
    // ends each one, for a line whose PLC or converter misbehaves with the faster timing.
    std::string timing;
    app_.Comm.SetRepliesWhole(!app_.Reg.LoadStringNoted("", "ReplyTiming", timing) ||
                              !SameTextIgnoringCase(timing, "interval"));
    SetIdleButtons();
    app_.Comm.OnReceiveData = [this](const uint8_t* buffer, uint16_t length) {
        CommReceiveData(buffer, length);
    };
    app_.Comm.OnSendDataEmpty = [this] { CommSendDataEmpty(); };
    app_.Comm.OnRequestHangup = [this] { CommRequestHangup(); };
    sequence_.OnOutcome = [this](const UpdateSequence::TOutcome& outcome) {
        if (const std::string why = record_.Outcome(outcome); !why.empty())
            std::fprintf(stderr, "orv-os-update: the update history was not written: %s\n",
                         why.c_str());
    };
}

TUpdateForm::~TUpdateForm() {
    // Nothing may reach the form once it is half gone.
    app_.Comm.OnReceiveData = nullptr;
    app_.Comm.OnSendDataEmpty = nullptr;
    app_.Comm.OnRequestHangup = nullptr;
    timer2_.Disable();
    Guarded(window_, [this] {
        if (app_.Dispatch.PortOpened != 0)
            app_.Comm.Close();
    });
    SaveSettings();
}

void TUpdateForm::SaveSettings() {
    app_.Reg.SaveStringNoted("", "OSFile", window_.FileText());
}

bool TUpdateForm::RunOrRestoreDue() const {
    return sequence_.UpdateState != UpdateSequence::Idle || sequence_.SpeedChanged;
}

void TUpdateForm::StopForSessionEnd() {
    Guarded(window_, [this] {
        if (sequence_.Image || (sequence_.UpdateState != UpdateSequence::Idle && !Restoring()))
            sequence_.btAbortClick();
        if (sequence_.SpeedChanged)
            sequence_.btExitClick();
    });
}

void TUpdateForm::FormActivate() {
    window_.SetPanelStatus("");
    window_.SetStatusBar("");
    window_.SetGauge(0);
}

bool TUpdateForm::FormCloseQuery() {
    bool mayClose = false;
    Guarded(window_, [&] { mayClose = sequence_.FormCloseQuery(); });
    return mayClose;
}

void TUpdateForm::FormClose() {
    Guarded(window_, [this] { sequence_.FormClose(); });
}

void TUpdateForm::btDUReroroClick() {
    Guarded(window_, [this] {
        record_.Begin(app_.fmOpen->PortName(),
                      ParseStationNumber(app_.fmOpen->StationText()).value_or(-1),
                      window_.FileText(), app_.fmStartup->LastStatus);
        sequence_.btDUReroroClick();
    });
}

void TUpdateForm::btAbortClick() {
    Guarded(window_, [this] { sequence_.btAbortClick(); });
}

void TUpdateForm::btExitClick() {
    Guarded(window_, [this] { sequence_.btExitClick(); });
}

void TUpdateForm::Timer2Timer() {
    Guarded(window_, [this] { sequence_.Timer2Timer(); });
}

void TUpdateForm::CommReceiveData(const uint8_t* buffer, uint16_t length) {
    Guarded(window_, [&] { app_.Dispatch.Dispatch(buffer, length); });
}

void TUpdateForm::CommSendDataEmpty() {
    Guarded(window_, [this] { sequence_.CommSendDataEmpty(); });
}

// The adapter has gone (unplugged, or the far end closed): the port refuses further writes, and
// a run waiting for a reply runs out its retries to "Comm. No response abandon update" (or,
// restoring the speed, to closing the window) instead of waiting for ever.
void TUpdateForm::CommRequestHangup() {
    Guarded(window_, [this] { sequence_.CommRequestHangup(); });
}

// The dialog starts at the file in the box; on a first run, or when its folder has gone, in
// the home folder rather than the working directory, which means nothing to the operator.
TFileChoice TUpdateForm::FileDialogChoice() {
    TFileChoice choice{"Open", "OS file [*.os;*.bin]", {"*.os", "*.bin"}, HomeFolder(), ""};
    const std::string current = window_.FileText();
    if (current.empty())
        return choice;
    std::error_code error;
    const fs::path path = fs::absolute(PathOf(current), error).lexically_normal();
    if (!error && fs::is_directory(path.parent_path(), error)) {
        choice.Folder = TextOf(path.parent_path());
        choice.FileName = TextOf(path.filename());
    }
    return choice;
}

void TUpdateForm::btnOSClick() {
    Guarded(window_, [this] {
        const std::optional<std::string> chosen = window_.ChooseFile(FileDialogChoice());
        if (!chosen)
            return;
        window_.SetFileText(*chosen);
        app_.fmStatus->SetTitle("OS Status");
        ShowImageInfo(true);
    });
}

void TUpdateForm::ShowImageInfo(bool show) {
    const ShowResult result = LoadImageInfo(window_.FileText());
    switch (result.Outcome) {
    case ShowOutcome::EmptyFile:
        return;
    case ShowOutcome::ReadError:
        throw std::runtime_error(result.Error);
    case ShowOutcome::Illegal:
        ImageHeader = result.Header;
        window_.ShowMessage(
            WithCipheredNameHint("File corruption or Illegal OS file", window_.FileText()));
        return;
    case ShowOutcome::Shown:
        ImageHeader = result.Header;
        app_.fmStatus->Fill(result.Info.Version, result.Info.ReleaseDate, result.Info.FlashType);
        if (show)
            app_.fmStatus->ShowModal();
        return;
    }
}

std::optional<PreparedImage> TUpdateForm::PrepareImage() {
    const std::string path = window_.FileText();
    if (IsBlank(path)) {
        window_.ShowMessage("Choose an OS file first");
        return std::nullopt;
    }
    PrepareResult result = PrepareImageFile(path);
    if (result.Outcome == PrepareOutcome::Ready)
        return std::move(result.Image);
    const std::string text = PrepareResultText(result, path);
    if (text.empty())
        return std::nullopt;
    if (PrepareOutcomeIsMessageBox(result.Outcome))
        window_.ShowMessage(text);
    else
        window_.SetPanelStatus(text);
    return std::nullopt;
}

void TUpdateForm::SetPanelStatus(const std::string& text) {
    window_.SetPanelStatus(text);
}

void TUpdateForm::SetStatusBar(const std::string& text) {
    window_.SetStatusBar(text);
}

void TUpdateForm::SetGauge(int percent) {
    window_.SetGauge(percent);
}

void TUpdateForm::SetBusyButtons() {
    window_.SetButtonEnabled(TUpdateButton::btAbort, true);
    window_.SetButtonEnabled(TUpdateButton::btDUReroro, false);
    window_.SetButtonEnabled(TUpdateButton::btExit, false);
    window_.SetButtonEnabled(TUpdateButton::btnOS, false);
}

// Abort goes last: a button that is disabled hands the focus on to the next one that takes it,
// and after a download that must be Exit, the next step, not the file box (where a key typed
// would replace the path), which is all that is left while the others are still disabled.
void TUpdateForm::SetIdleButtons() {
    window_.SetButtonEnabled(TUpdateButton::btDUReroro, true);
    window_.SetButtonEnabled(TUpdateButton::btExit, true);
    window_.SetButtonEnabled(TUpdateButton::btnOS, true);
    window_.SetButtonEnabled(TUpdateButton::btAbort, false);
}

void TUpdateForm::SetAbortEnabled(bool enabled) {
    window_.SetButtonEnabled(TUpdateButton::btAbort, enabled);
}

void TUpdateForm::SetExitEnabled(bool enabled) {
    window_.SetButtonEnabled(TUpdateButton::btExit, enabled);
}

void TUpdateForm::ShowMessage(const std::string& text) {
    window_.ShowMessage(text);
}

bool TUpdateForm::AskStopPlc() {
    return app_.fmStopPLC->Ask();
}

void TUpdateForm::CloseWindow() {
    window_.EndModal();
}

void TUpdateForm::Wait(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool TUpdateForm::ConnectEightDataBits() {
    return app_.fmOpen->EightDataBits();
}

int TUpdateForm::ConnectSpeedIndex() {
    return app_.fmOpen->SpeedIndex();
}

std::string TUpdateForm::UpdateSpeedText() {
    return app_.fmSpeed->ChosenText();
}

std::string TUpdateForm::StationText() {
    return app_.fmOpen->StationText();
}

} // namespace orv
