#pragma once
// The connect dialog (fmOpen, "Connect PLC"): port, speed, parity, data bits and station,
// remembered between runs and applied to the program's one port on "Connect PLC".

#include "forms/form_kit.h"

#include <string>

namespace orv {

class ICommPort;
class TReg;
struct StationState;

class IOpenWindow : public IMessageWindow {
public:
    // "COM:", "Baud Rate:", "Parity:" and "Data Bit:"; the form fills all four.
    virtual IChoiceList& PortList() = 0;     // cbPort
    virtual IChoiceList& BaudRateList() = 0; // cbBaudRate
    virtual IChoiceList& ParityList() = 0;   // cbParity
    virtual IChoiceList& DataBitList() = 0;  // cbDataBit
    // edStation, "Station NO.:": free text.
    virtual std::string StationText() = 0;
    virtual void SetStationText(const std::string& text) = 0;
    // Shows the dialog modally and returns true once EndModal has closed it, false when the
    // operator left it (Escape, the close box). While it is up, the window calls FormActivate
    // each time it is shown and each time it becomes the active window again (after a message
    // box, or back from another program).
    virtual bool ShowModal() = 0;
    // Closes the dialog shown by ShowModal, which then returns true.
    virtual void EndModal() = 0;
};

class TOpenForm {
public:
    // FormCreate: the lists filled (the machine's ports, the speeds, parities and data bits),
    // station "1", then the stored choices.
    TOpenForm(IOpenWindow& window, ICommPort& comm, StationState& station, TReg& reg);
    // FormDestroy: saves the five choices.
    ~TOpenForm();
    void SaveSettings();
    TOpenForm(const TOpenForm&) = delete;
    TOpenForm& operator=(const TOpenForm&) = delete;

    // Shows the dialog; true when "Connect PLC" has applied the choices and closed it.
    bool ShowModal() { return window_.ShowModal(); }

    // Handlers.
    // Lists the ports present now, keeping the chosen one (letter case ignored) or else
    // choosing the first.
    void FormActivate();
    // "Connect PLC": applies the choices, sets PortSettingWord and closes the dialog. A choice
    // that cannot be used is shown by the error display with the dialog still up, the steps
    // before it applied; the port list is then refreshed.
    void Button1Click();

    // Port, speed, parity, data bits, RTS and StationHex, in that order.
    void ApplyLineSettings();

    // The choices, as the other windows read them.
    std::string StationText() { return window_.StationText(); }
    void SetStationText(const std::string& text) { window_.SetStationText(text); }
    bool EightDataBits() const { return dataBit_.Index() == 0; }
    int SpeedIndex() const { return baudRate_.Index(); }
    std::string PortName() const { return port_.Text().substr(0, port_.Text().find(':')); }

private:
    void FillPortList();

    IOpenWindow& window_;
    ICommPort& comm_;
    StationState& station_;
    TReg& reg_;
    TChoice port_;
    TChoice baudRate_;
    TChoice parity_;
    TChoice dataBit_;
};

} // namespace orv
