#include "forms/open_form.h"

#include "forms/comm_port.h"
#include "protocol/station.h"
#include "settings/reg.h"

#include <stdexcept>

namespace orv {

namespace {

// The position of the chosen entry; an unchosen list stops "Connect PLC" with a message that
// says which choice is missing.
int ChosenIndex(const TChoice& list, const char* what) {
    const int index = list.Index();
    if (index >= 0)
        return index;
    if (list.Count() == 0)
        throw std::runtime_error(std::string("Choose ") + what + ": none is present");
    throw std::runtime_error(std::string("Choose ") + what + ": none is chosen");
}

} // namespace

TOpenForm::TOpenForm(IOpenWindow& window, ICommPort& comm, StationState& station, TReg& reg)
    : window_(window), comm_(comm), station_(station), reg_(reg), port_(window.PortList()),
      baudRate_(window.BaudRateList()), parity_(window.ParityList()),
      dataBit_(window.DataBitList()) {
    baudRate_.Fill(SpeedEntries());
    parity_.Fill({"EVEN", "ODD", "NONE"});
    dataBit_.Fill({"8", "7"});
    window_.SetStationText("1");
    FillPortList();
    port_.ChooseFirst();

    // Each value on its own, so one that cannot be used does not stop the rest; the
    // application reports it once every window has loaded. A stored value chooses the entry
    // equal to it (none when no entry is); an absent or unusable one chooses the first entry.
    const auto load = [this](const char* name, std::string& value) {
        return reg_.LoadStringNoted("", name, value);
    };
    const auto loadList = [&](const char* name, TChoice& list) {
        std::string value;
        if (load(name, value))
            list.ChooseText(value);
        else
            list.ChooseFirst();
    };
    loadList("ComPort", port_);
    loadList("BaudRate", baudRate_);
    std::string stationText;
    if (load("Station", stationText))
        window_.SetStationText(stationText);
    loadList("Parity", parity_);
    loadList("DataBit", dataBit_);
}

TOpenForm::~TOpenForm() {
    SaveSettings();
}

void TOpenForm::SaveSettings() {
    reg_.SaveStringNoted("", "ComPort", port_.Text());
    reg_.SaveStringNoted("", "BaudRate", baudRate_.Text());
    reg_.SaveStringNoted("", "Parity", parity_.Text());
    reg_.SaveStringNoted("", "DataBit", dataBit_.Text());
    reg_.SaveStringNoted("", "Station", window_.StationText());
}

void TOpenForm::FillPortList() {
    // A failing enumeration leaves the list empty; nothing is reported.
    std::vector<std::string> entries;
    try {
        entries = comm_.ListPorts();
    } catch (const std::exception&) {
        entries.clear();
    }
    port_.Fill(std::move(entries));
}

void TOpenForm::FormActivate() {
    const std::string remembered = port_.Text();
    FillPortList();
    if (!port_.ChooseText(remembered))
        port_.ChooseFirst();
}

void TOpenForm::ApplyLineSettings() {
    const int speed = ChosenIndex(baudRate_, "a baud rate");
    comm_.SetBaudRate(static_cast<uint32_t>(kSpeedList[static_cast<size_t>(speed)]));

    ChosenIndex(port_, "a COM port");
    const std::string entry = port_.Text();
    comm_.SetCommName(entry.substr(0, entry.find(':')));

    comm_.SetParity(ParityOfIndex(ChosenIndex(parity_, "a parity")));

    comm_.SetDataBits(ChosenIndex(dataBit_, "the data bits") == 0 ? 8 : 7);
    comm_.SetRtsEnabled();

    station_.StationHex = FormatStationHex(StationNumberFromText(window_.StationText()));
}

void TOpenForm::Button1Click() {
    bool connected = false;
    Guarded(window_, [this, &connected] {
        ApplyLineSettings();
        station_.PortSettingWord = ComputePortSettingWord(dataBit_.Index() == 0, parity_.Index());
        connected = true;
        window_.EndModal();
    });
    // The refusal's box has closed and the dialog is active again, which not every platform
    // reports as an activation: the adapter may have been plugged in meanwhile.
    if (!connected)
        FormActivate();
}

} // namespace orv
