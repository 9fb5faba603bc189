#pragma once
// The speed dialog, the stop-PLC question, the status window and the about box: their windows
// as the forms see them, and what each decides.

#include "forms/form_kit.h"

#include <string>

namespace orv {

class TReg;

// fmSpeed, "Update Download Speed": the line speed for the download.
class ISpeedWindow {
public:
    virtual ~ISpeedWindow() = default;
    // cbBaudRate, "Update Speed:".
    virtual IChoiceList& BaudRateList() = 0;
    // Shows the dialog modally; returns once its OK button has closed it.
    virtual void ShowModal() = 0;
};

class TSpeedForm {
public:
    // FormCreate: the five speeds, with the stored "Speed" chosen (none when it matches no
    // entry) or, on a first run, 115200.
    TSpeedForm(ISpeedWindow& window, TReg& reg);
    // FormDestroy: saves the chosen speed as "Speed".
    ~TSpeedForm();
    void SaveSettings();
    TSpeedForm(const TSpeedForm&) = delete;
    TSpeedForm& operator=(const TSpeedForm&) = delete;

    void ShowModal() { window_.ShowModal(); }
    // Read when needed, never pushed: the position for the speed code, the text for the rate.
    int ChosenIndex() const { return speed_.Index(); }
    std::string ChosenText() const { return speed_.Text(); }

private:
    ISpeedWindow& window_;
    TReg& reg_;
    TChoice speed_;
};

// fmStopPLC: "PLC is Running !!" / "Are you sure to stop the PLC ?".
class IStopPlcWindow {
public:
    virtual ~IStopPlcWindow() = default;
    // Asks modally; true for "Yes", false for "No" and for any other way out.
    virtual bool ShowModal() = 0;
};

class TStopPlcForm {
public:
    explicit TStopPlcForm(IStopPlcWindow& window) : window_(window) {}
    // True only when the operator answered Yes.
    bool Ask() { return window_.ShowModal(); }

private:
    IStopPlcWindow& window_;
};

// fmStatus: a PLC's status or an image file's header. Its "OS Series" and "OS Type" rows keep
// their design texts.
class IStatusWindow {
public:
    virtual ~IStatusWindow() = default;
    // pnStatus, the title panel.
    virtual void SetTitle(const std::string& text) = 0;
    // stVersion, stDate and stFlash.
    virtual void SetValues(const std::string& version, const std::string& date,
                           const std::string& flash) = 0;
    // Shows the window modally; returns once its OK button has closed it.
    virtual void ShowModal() = 0;
};

class TStatusForm {
public:
    explicit TStatusForm(IStatusWindow& window) : window_(window) {}
    void SetTitle(const std::string& text) { window_.SetTitle(text); }
    void Fill(const std::string& version, const std::string& date, const std::string& flash) {
        window_.SetValues(version, date, flash);
    }
    void ShowModal() { window_.ShowModal(); }

private:
    IStatusWindow& window_;
};

// fmAbout.
class IAboutWindow {
public:
    virtual ~IAboutWindow() = default;
    // Shows the box modally; returns once it has closed.
    virtual void ShowModal() = 0;
};

class TAboutForm {
public:
    explicit TAboutForm(IAboutWindow& window) : window_(window) {}
    void ShowModal() { window_.ShowModal(); }

private:
    IAboutWindow& window_;
};

} // namespace orv
