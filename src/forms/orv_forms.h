#pragma once
// The program as its windows see it, for every front end: the program-wide state, the settings
// store, the port and the timers given by the front end, and the seven forms, created once in
// order and destroyed in reverse order at program end (when the connect and speed dialogs and
// the update window save their settings).
//
// A front end creates its seven windows (implementing the interfaces below), its TComm with
// the notification sink that brings the port's events to the GUI thread, a TCommLinePort over
// it (comm_line_port.h) and two window timers behind ITimer; then TOrvForms. The windows then
// forward their events, all on the GUI thread, nested modal loops included:
//   fmStartup  "Get PLC's Status" -> Button1Click, "Proceed to Update OS" -> btNextClick,
//              "Setup Update Speed" -> btUpdateBaudClick, "Exit" -> Button2Click, the menu's
//              "About" -> About1Click, the window closing (Exit or its close box; never
//              refused) -> FormClose, then the program ends; tmTimeOut -> tmTimeOutTimer
//   fmUpdate   "Update OS" -> btDUReroroClick, "Abort" -> btAbortClick, "Exit" -> btExitClick,
//              the file button -> btnOSClick, shown -> FormActivate, a close request (close
//              box, Alt+F4) -> FormCloseQuery, closed -> FormClose; Timer2 -> Timer2Timer
//   fmOpen     "Connect PLC" -> Button1Click, shown or active again -> FormActivate
//   the rest   no handlers: their buttons end their modal showing
// The front end runs its message loop until the main window has closed, stops forwarding,
// destroys TOrvForms, and only then its windows, timers and port.

#include "forms/comm_port.h"
#include "forms/open_form.h"
#include "forms/small_forms.h"
#include "forms/startup_form.h"
#include "forms/update_form.h"
#include "protocol/link.h"
#include "protocol/reply_dispatch.h"
#include "protocol/station.h"
#include "settings/reg.h"

#include <functional>
#include <memory>
#include <string>

namespace orv {

// Why the program holds up the end of the session (the shut-down screen shows it on Windows).
inline constexpr const char* kSessionEndRefusal =
    "Updating the PLC's OS: stopping now leaves the PLC in download mode";
// How long the end of a session waits for the restore-speed command's reply or time-outs (four
// of 800 ms at most): within the 5 s Windows gives a program before it ends it anyway.
inline constexpr int kSessionEndWaitMs = 4000;

// What the program shows outside its windows.
class IProgramView {
public:
    virtual ~IProgramView() = default;
    // A message box with an OK button that belongs to no window, captioned kAppTitle: the
    // reports of settings that could not be loaded (before the main window is shown) or saved
    // (after the forms are gone). Returns once it has closed.
    virtual void ShowProgramMessage(const std::string& text) = 0;
};

// The front end's windows, each alive for as long as the TOrvForms that uses it.
struct TFormsViews {
    IProgramView& Program;
    IStartupWindow& Startup;
    IUpdateWindow& Update;
    IStatusWindow& Status;
    IStopPlcWindow& StopPlc;
    IAboutWindow& About;
    IOpenWindow& Open;
    ISpeedWindow& Speed;
};

// The two window timers; their ticks go to the handlers named above.
struct TFormsTimers {
    ITimer& tmTimeOut; // the status query's, the startup window's
    ITimer& Timer2;    // the update sequence's, the update window's
};

class TOrvForms {
public:
    // Creates the seven forms in order, each loading its settings from `store` through its
    // window; then reports, once, the stored values that could not be used.
    TOrvForms(ICommPort& comm, const TFormsTimers& timers, const TFormsViews& views,
              std::unique_ptr<RegStore> store);
    // Destroys the forms in reverse order: the settings are saved and the port is stopped if
    // it was opened. Then reports, once, a save that failed.
    ~TOrvForms();
    TOrvForms(const TOrvForms&) = delete;
    TOrvForms& operator=(const TOrvForms&) = delete;

    // The session is to end (log-off, shut-down, an update restart): false while an update
    // runs or the PLC's speed is still to be restored, which only the program can do. Otherwise
    // true, with the settings saved now: nothing is sure to run once the session has ended.
    bool QueryEndSession();
    // The session ends now, asked or not: what closing the update window and the program does,
    // within `waitMs`. A run is aborted; where the speed was changed, the restore-speed command
    // goes out and its reply or time-outs are awaited while `pump` runs the front end's events
    // (for at most the milliseconds it is given); then the main window closes, stopping the
    // port, and the settings are saved.
    void EndSession(const std::function<void(int ms)>& pump, int waitMs = kSessionEndWaitMs);
    // The windows' settings saved now, as at program end.
    void SaveSettings();

    ICommPort& Comm;
    TReg Reg;
    StationState Station;
    ReplyDispatch Dispatch;

    std::unique_ptr<TStartupForm> fmStartup;
    std::unique_ptr<TUpdateForm> fmUpdate;
    std::unique_ptr<TStatusForm> fmStatus;
    std::unique_ptr<TStopPlcForm> fmStopPLC;
    std::unique_ptr<TAboutForm> fmAbout;
    std::unique_ptr<TOpenForm> fmOpen;
    std::unique_ptr<TSpeedForm> fmSpeed;

private:
    // On standard error and in one message box.
    void ReportSettingsTrouble(const std::string& text);
    // " in <where>", " to <where>"; nothing when the store does not say where it keeps them.
    std::string SettingsPlace(const char* preposition) const;

    IProgramView& program_;
};

} // namespace orv
