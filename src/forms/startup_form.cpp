#include "forms/startup_form.h"

#include "forms/orv_forms.h"

#include <stdexcept>

namespace orv {

namespace {

constexpr int kTimeOutIntervalMs = 500;

} // namespace

TStartupForm::TStartupForm(TOrvForms& app, IStartupWindow& window, ITimer& tmTimeOut)
    : app_(app), window_(window), tmTimeOut_(tmTimeOut),
      query_(app.Comm, tmTimeOut, *this, app.Station, app.Dispatch) {
    tmTimeOut_.Disable();
    tmTimeOut_.SetInterval(kTimeOutIntervalMs);
    window_.SetButtonEnabled(TStartupButton::btNext, false);
    window_.SetButtonEnabled(TStartupButton::btUpdateBaud, false);
}

void TStartupForm::Button1Click() {
    Guarded(window_, [this] {
        // Leaving the connect dialog by Escape or its close box is a cancel.
        if (!app_.fmOpen->ShowModal())
            return;
        query_.Start();
    });
}

void TStartupForm::btNextClick() {
    Guarded(window_, [this] {
        const int station = StationNumberFromText(app_.fmOpen->StationText());
        const int speed = app_.fmSpeed->ChosenIndex();
        if (speed < 0)
            throw std::runtime_error(
                "Choose an update speed with \"Setup Update Speed\": none is chosen");
        BuildSpeedFrame(app_.Station, station, speed);
        app_.fmUpdate->ShowModal();
    });
}

void TStartupForm::btUpdateBaudClick() {
    Guarded(window_, [this] { app_.fmSpeed->ShowModal(); });
}

void TStartupForm::About1Click() {
    Guarded(window_, [this] {
        window_.SetVisible(false);
        app_.fmAbout->ShowModal();
        window_.SetVisible(true);
    });
}

void TStartupForm::Button2Click() {
    window_.Close();
}

void TStartupForm::FormClose() {
    Guarded(window_, [this] {
        tmTimeOut_.Disable();
        if (app_.Dispatch.PortOpened == 1)
            app_.Comm.Close();
    });
}

bool TStartupForm::QueryEndSession() {
    return app_.QueryEndSession();
}

void TStartupForm::EndSession(const std::function<void(int ms)>& pump) {
    app_.EndSession(pump);
}

void TStartupForm::tmTimeOutTimer() {
    Guarded(window_, [this] { query_.tmTimeOutTimer(); });
}

std::string TStartupForm::StationText() {
    return app_.fmOpen->StationText();
}

void TStartupForm::SetStationText(const std::string& text) {
    app_.fmOpen->SetStationText(text);
}

void TStartupForm::SetStatusBar(const std::string& text) {
    window_.SetStatusText(text);
}

void TStartupForm::ShowMessage(const std::string& text) {
    window_.ShowMessage(text);
}

void TStartupForm::ShowPlcStatus(const StatusReply& reply) {
    LastStatus = reply;
    window_.SetVisible(false);
    TStatusForm& status = *app_.fmStatus;
    status.SetTitle("PLC Status");
    status.Fill(reply.Version, reply.ReleaseDate, reply.FlashType);
    status.ShowModal();
    window_.SetVisible(true);
}

void TStartupForm::ShowStartupWindow() {
    window_.SetVisible(true);
}

void TStartupForm::EnableUpdateButtons() {
    window_.SetButtonEnabled(TStartupButton::btNext, true);
    window_.SetButtonEnabled(TStartupButton::btUpdateBaud, true);
}

} // namespace orv
