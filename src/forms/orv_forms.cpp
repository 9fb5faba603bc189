#include "forms/orv_forms.h"

#include <chrono>
#include <cstdio>
#include <utility>
#include <vector>

namespace orv {

TOrvForms::TOrvForms(ICommPort& comm, const TFormsTimers& timers, const TFormsViews& views,
                     std::unique_ptr<RegStore> store)
    : Comm(comm), Reg(kRegKeyPath, std::move(store)), program_(views.Program) {
    fmStartup = std::make_unique<TStartupForm>(*this, views.Startup, timers.tmTimeOut);
    fmUpdate = std::make_unique<TUpdateForm>(*this, views.Update, timers.Timer2);
    fmStatus = std::make_unique<TStatusForm>(views.Status);
    fmStopPLC = std::make_unique<TStopPlcForm>(views.StopPlc);
    fmAbout = std::make_unique<TAboutForm>(views.About);
    fmOpen = std::make_unique<TOpenForm>(views.Open, Comm, Station, Reg);
    fmSpeed = std::make_unique<TSpeedForm>(views.Speed, Reg);

    const std::vector<std::string> problems = Reg.TakeLoadProblems();
    if (!problems.empty()) {
        std::string text = "These stored settings" + SettingsPlace(" in ") +
                           " cannot be used; their defaults stand instead:";
        for (const std::string& problem : problems)
            text += "\n" + problem;
        ReportSettingsTrouble(text);
    }
}

TOrvForms::~TOrvForms() {
    fmSpeed.reset();
    fmOpen.reset();
    fmAbout.reset();
    fmStopPLC.reset();
    fmStatus.reset();
    fmUpdate.reset();
    fmStartup.reset();

    const std::string failure = Reg.TakeSaveFailure();
    if (!failure.empty()) {
        ReportSettingsTrouble("The settings could not be saved" + SettingsPlace(" to ") + ": " +
                              failure + ".\nWhat was stored there before is kept.");
    }
}

bool TOrvForms::QueryEndSession() {
    if (fmUpdate->RunOrRestoreDue())
        return false;
    SaveSettings();
    return true;
}

void TOrvForms::EndSession(const std::function<void(int ms)>& pump, int waitMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    fmUpdate->StopForSessionEnd();
    while (fmUpdate->Restoring()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pump(static_cast<int>(left));
    }
    fmUpdate->CloseForSessionEnd();
    fmStartup->Button2Click();
    SaveSettings();
}

void TOrvForms::SaveSettings() {
    fmUpdate->SaveSettings();
    fmOpen->SaveSettings();
    fmSpeed->SaveSettings();
}

void TOrvForms::ReportSettingsTrouble(const std::string& text) {
    std::fprintf(stderr, "orv-os-update: %s\n", text.c_str());
    program_.ShowProgramMessage(text);
}

std::string TOrvForms::SettingsPlace(const char* preposition) const {
    const std::string location = Reg.Location();
    return location.empty() ? std::string() : preposition + location;
}

} // namespace orv
