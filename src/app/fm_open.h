#pragma once
// The connect dialog: port, speed, parity, data bits and station, remembered between runs and
// applied to the one Comm on "Connect PLC".

#include "protocol/station.h"
#include "serial/comm.h"

#include <QDialog>
#include <QStringList>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace orv {

class TfmOpen : public QDialog {
    Q_OBJECT
public:
    TfmOpen(TComm& comm, StationState& station, QWidget* parent = nullptr);
    ~TfmOpen() override;

    void FormCreate();
    void FormDestroy();
    void FormActivate();
    void Button1Click();
    // Transfers port, speed, parity, data bits, RTS and station, in that order; a step that
    // fails leaves the steps before it applied.
    void ApplyLineSettings();
    // Replaces the list's entries with the machine's ports.
    void FillPortList(QComboBox* list);

    // Where the port entries come from; tests put their own here.
    std::function<QStringList()> PortSource;

    QLineEdit* edStation = nullptr;
    QComboBox* cbBaudRate = nullptr;
    QComboBox* cbPort = nullptr;
    QComboBox* cbParity = nullptr;
    QComboBox* cbDataBit = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    TComm& comm_;
    StationState& station_;
};

// The five speed entries shared by the connect and speed dialogs: "9600" to "115200".
QStringList SpeedEntries();

// Chooses the entry whose text equals text, letter case ignored; none when no entry does.
void ChooseEntry(QComboBox* list, const QString& text);

} // namespace orv
