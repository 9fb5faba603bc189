#pragma once
// The front end as the forms' tests play it: windows that note what they are told and run the
// test's operator while they are modal, a port and timers that fire nothing by themselves, and
// a settings store in memory that lasts from one run of the program to the next.

#include "forms/orv_forms.h"
#include "link_fakes.h"
#include "settings/reg_store.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace orv::fakes {

// What the operator does while a modal window is up.
using Operator = std::function<void()>;

class FakeList : public IChoiceList {
public:
    void SetEntries(const std::vector<std::string>& e) override {
        entries = e;
        chosen = -1;
    }
    int ChosenIndex() const override { return chosen; }
    void Choose(int index) override { chosen = index; }

    // As the operator picks: the entry with exactly this text, none when there is none.
    void Pick(const std::string& text) {
        chosen = -1;
        for (size_t i = 0; i < entries.size(); ++i)
            if (entries[i] == text)
                chosen = static_cast<int>(i);
    }
    std::string Shown() const { return chosen < 0 ? "" : entries.at(static_cast<size_t>(chosen)); }

    std::vector<std::string> entries;
    int chosen = -1;
};

// A window with message boxes, which notes them and runs the operator while each is up.
template <class Window>
class WithBoxes : public Window {
public:
    void ShowMessage(const std::string& text) override {
        messages.push_back(text);
        if (duringBox)
            duringBox();
    }
    void ShowError(const std::string& text) override {
        errors.push_back(text);
        if (duringBox)
            duringBox();
    }
    std::vector<std::string> messages, errors;
    Operator duringBox;
};

class FakeStartupWindow : public WithBoxes<IStartupWindow> {
public:
    void SetStatusText(const std::string& text) override { statusText = text; }
    void SetButtonEnabled(TStartupButton button, bool enabled) override {
        if (button == TStartupButton::btNext)
            nextEnabled = enabled;
    }
    void SetVisible(bool v) override { visible = v; }
    void Close() override {
        form->FormClose();
        closed = true;
    }

    TStartupForm* form = nullptr;
    std::string statusText;
    bool nextEnabled = true, visible = true, closed = false;
};

class FakeUpdateWindow : public WithBoxes<IUpdateWindow> {
public:
    std::string FileText() override { return fileText; }
    void SetFileText(const std::string& text) override { fileText = text; }
    void SetPanelStatus(const std::string& text) override { panel = text; }
    void SetStatusBar(const std::string&) override {}
    void SetGauge(int) override {}
    void SetButtonEnabled(TUpdateButton button, bool enabled) override {
        buttons[button] = enabled;
    }
    void ShowModal() override {
        ++shown;
        ended = false;
        form->FormActivate();
        if (whileShown)
            whileShown();
        form->FormClose();
    }
    void EndModal() override { ended = true; }
    std::optional<std::string> ChooseFile(const TFileChoice& choice) override {
        offered.push_back(choice);
        return chosenFile;
    }

    bool Enabled(TUpdateButton button) { return buttons.at(button); }

    TUpdateForm* form = nullptr;
    std::string fileText, panel;
    int shown = 0;
    bool ended = false;
    std::map<TUpdateButton, bool> buttons;
    Operator whileShown;
    std::vector<TFileChoice> offered;
    std::optional<std::string> chosenFile;
};

class FakeOpenWindow : public WithBoxes<IOpenWindow> {
public:
    IChoiceList& PortList() override { return port; }
    IChoiceList& BaudRateList() override { return baud; }
    IChoiceList& ParityList() override { return parity; }
    IChoiceList& DataBitList() override { return dataBit; }
    std::string StationText() override { return station; }
    void SetStationText(const std::string& text) override { station = text; }
    bool ShowModal() override {
        ++shown;
        ended = false;
        form->FormActivate();
        if (whileShown)
            whileShown();
        return ended;
    }
    void EndModal() override { ended = true; }

    // Fills the dialog and presses "Connect PLC".
    void Connect(const std::string& portEntry, const std::string& speed, const std::string& par,
                 const std::string& bits, const std::string& stationText) {
        port.Pick(portEntry);
        baud.Pick(speed);
        parity.Pick(par);
        dataBit.Pick(bits);
        station = stationText;
        form->Button1Click();
    }

    TOpenForm* form = nullptr;
    FakeList port, baud, parity, dataBit;
    std::string station;
    int shown = 0;
    bool ended = false;
    Operator whileShown;
};

class FakeSpeedWindow : public ISpeedWindow {
public:
    IChoiceList& BaudRateList() override { return list; }
    void ShowModal() override { ++shown; }
    FakeList list;
    int shown = 0;
};

class FakeStopPlcWindow : public IStopPlcWindow {
public:
    bool ShowModal() override {
        ++asked;
        return false;
    }
    int asked = 0;
};

class FakeStatusWindow : public IStatusWindow {
public:
    void SetTitle(const std::string& text) override { title = text; }
    void SetValues(const std::string& v, const std::string& d, const std::string& f) override {
        version = v;
        date = d;
        flash = f;
    }
    void ShowModal() override {
        ++shown;
        if (whileShown)
            whileShown();
    }
    std::string title, version, date, flash;
    int shown = 0;
    Operator whileShown;
};

class FakeAboutWindow : public IAboutWindow {
public:
    void ShowModal() override {
        ++shown;
        if (whileShown)
            whileShown();
    }
    int shown = 0;
    Operator whileShown;
};

class FakeProgramView : public IProgramView {
public:
    void ShowProgramMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

class FakeCommPort : public TFakePort<ICommPort> {
public:
    // Nothing set yet: a form that forgets a line setting is seen to.
    FakeCommPort() {
        baud = 0;
        dataBits = 0;
        parity = LineParity::None;
    }
    void SetCommName(const std::string&) override {}
    void SetRtsEnabled() override {}
    void SetRepliesWhole(bool on) override { repliesWhole = on; }
    std::vector<std::string> ListPorts() override {
        if (listFails)
            throw std::runtime_error("the device list cannot be read");
        return ports;
    }

    // What the port's threads would post: a block received.
    void Receive(const std::string& bytes) {
        OnReceiveData(reinterpret_cast<const uint8_t*>(bytes.data()),
                      static_cast<uint16_t>(bytes.size()));
    }

    std::vector<std::string> ports;
    bool listFails = false;
    bool repliesWhole = false;
};

// The values of a settings store, kept for the next run.
struct StoredValues {
    std::map<std::string, std::map<std::string, std::variant<std::string, uint32_t>>> keys;
    bool savesFail = false;
};

class MemoryRegStore : public RegStore {
public:
    explicit MemoryRegStore(std::shared_ptr<StoredValues> values) : values_(std::move(values)) {}

    std::unique_ptr<RegKey> OpenKey(std::string_view path, bool) override {
        return std::make_unique<Key>(*values_, std::string(path));
    }
    std::string Location(std::string_view path) const override {
        return "memory:" + std::string(path);
    }
    std::string FailureReason() const override { return "the store is full"; }

private:
    // Changes reach the store when the key closes, unless saves fail.
    class Key : public RegKey {
    public:
        Key(StoredValues& store, std::string path)
            : store_(store), path_(std::move(path)), values_(store.keys[path_]) {}
        bool ValueExists(std::string_view name) override {
            return values_.count(std::string(name)) > 0;
        }
        std::string ReadString(std::string_view name) override {
            const auto* text = std::get_if<std::string>(&values_.at(std::string(name)));
            if (text == nullptr)
                throw ERegError(InvalidDataTypeMessage(name));
            return *text;
        }
        uint32_t ReadDWord(std::string_view name) override {
            const auto* number = std::get_if<uint32_t>(&values_.at(std::string(name)));
            if (number == nullptr)
                throw ERegError(InvalidDataTypeMessage(name));
            return *number;
        }
        void WriteString(std::string_view name, std::string_view value) override {
            values_[std::string(name)] = std::string(value);
        }
        void WriteDWord(std::string_view name, uint32_t value) override {
            values_[std::string(name)] = value;
        }
        bool Close() override {
            if (store_.savesFail)
                return false;
            store_.keys[path_] = values_;
            return true;
        }

    private:
        StoredValues& store_;
        std::string path_;
        std::map<std::string, std::variant<std::string, uint32_t>> values_;
    };

    std::shared_ptr<StoredValues> values_;
};

// One run of the program over the fakes: the forms created on Start, destroyed on Stop.
class FakeFrontEnd {
public:
    FakeFrontEnd() : stored(std::make_shared<StoredValues>()) {}

    TOrvForms& Start() {
        forms = std::make_unique<TOrvForms>(
            port, TFormsTimers{tmTimeOut, timer2},
            TFormsViews{program, startup, update, status, stopPlc, about, open, speed},
            std::make_unique<MemoryRegStore>(stored));
        startup.form = forms->fmStartup.get();
        update.form = forms->fmUpdate.get();
        open.form = forms->fmOpen.get();
        return *forms;
    }
    void Stop() { forms.reset(); }

    std::shared_ptr<StoredValues> stored;
    FakeCommPort port;
    FakeTimer tmTimeOut, timer2;
    FakeProgramView program;
    FakeStartupWindow startup;
    FakeUpdateWindow update;
    FakeStatusWindow status;
    FakeStopPlcWindow stopPlc;
    FakeAboutWindow about;
    FakeOpenWindow open;
    FakeSpeedWindow speed;
    std::unique_ptr<TOrvForms> forms;
};

} // namespace orv::fakes
