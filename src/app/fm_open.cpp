#include "app/fm_open.h"

#include "serial/port_list.h"
#include "settings/reg.h"
#include "update/fm_update.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <stdexcept>

namespace orv {

namespace {

QStringList MachinePorts() {
    QStringList entries;
    for (const std::string& entry : ListPortEntries())
        entries << QString::fromStdString(entry);
    return entries;
}

QComboBox* PickList(QWidget* parent, const char* name, const QStringList& entries) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setEditable(false); // a typed entry has no position and is never used
    list->addItems(entries);
    return list;
}

QLabel* FieldLabel(const char* text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setBuddy(buddy);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

// The position of the chosen entry; an unchosen list stops "Connect PLC" with a message that
// says which choice is missing.
int ChosenIndex(const QComboBox* list, const char* what) {
    const int index = list->currentIndex();
    if (index >= 0)
        return index;
    if (list->count() == 0)
        throw std::runtime_error(std::string("Choose ") + what + ": none is present");
    throw std::runtime_error(std::string("Choose ") + what + ": none is chosen");
}

std::string LoadValue(const char* name, bool& present) {
    std::string value;
    present = Reg().LoadStringNoted("", name, value);
    return value;
}

} // namespace

QStringList SpeedEntries() {
    QStringList entries;
    for (const int speed : kSpeedList)
        entries << QString::number(speed);
    return entries;
}

void ChooseEntry(QComboBox* list, const QString& text) {
    for (int i = 0; i < list->count(); ++i) {
        if (list->itemText(i).compare(text, Qt::CaseInsensitive) == 0) {
            list->setCurrentIndex(i);
            return;
        }
    }
    list->setCurrentIndex(-1);
}

// A close box, like Escape, leaves the dialog without connecting.
TfmOpen::TfmOpen(TComm& comm, StationState& station, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      comm_(comm), station_(station) {
    setObjectName(QStringLiteral("fmOpen"));
    setWindowTitle(QStringLiteral("Connect PLC"));
    setFixedSize(421, 203);
    ApplyProgramFont(this);
    PortSource = MachinePorts;

    edStation = new QLineEdit(QStringLiteral("1"), this);
    edStation->setObjectName(QStringLiteral("edStation"));
    edStation->setFixedWidth(30);
    edStation->setMaxLength(8);
    cbBaudRate = PickList(this, "cbBaudRate", SpeedEntries());
    cbPort =
        PickList(this, "cbPort", {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"});
    cbPort->setFixedWidth(233);
    cbParity = PickList(this, "cbParity", {"EVEN", "ODD", "NONE"});
    cbDataBit = PickList(this, "cbDataBit", {"8", "7"});
    for (QComboBox* list : {cbBaudRate, cbParity, cbDataBit})
        list->setFixedWidth(90);
    Button1 = new QPushButton(QStringLiteral("Connect PLC"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setFixedSize(137, 33);
    Button1->setDefault(true);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(10);
    grid->addWidget(FieldLabel("COM:", cbPort, this), 0, 0);
    grid->addWidget(cbPort, 0, 1, 1, 3, Qt::AlignLeft);
    grid->addWidget(FieldLabel("Baud Rate:", cbBaudRate, this), 1, 0);
    grid->addWidget(cbBaudRate, 1, 1, Qt::AlignLeft);
    grid->addWidget(FieldLabel("Station NO.:", edStation, this), 1, 2);
    grid->addWidget(edStation, 1, 3, Qt::AlignLeft);
    grid->addWidget(FieldLabel("Parity:", cbParity, this), 2, 0);
    grid->addWidget(cbParity, 2, 1, Qt::AlignLeft);
    grid->addWidget(FieldLabel("Data Bit:", cbDataBit, this), 2, 2);
    grid->addWidget(cbDataBit, 2, 3, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(Button1);
    buttonRow->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 14);
    layout->addLayout(grid);
    layout->addStretch(1);
    layout->addLayout(buttonRow);

    // Tab goes through the fields as they are laid out, not as they were created.
    setTabOrder(cbPort, cbBaudRate);
    setTabOrder(cbBaudRate, edStation);
    setTabOrder(edStation, cbParity);
    setTabOrder(cbParity, cbDataBit);
    setTabOrder(cbDataBit, Button1);

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    FormCreate();
}

TfmOpen::~TfmOpen() {
    FormDestroy();
}

void TfmOpen::FillPortList(QComboBox* list) {
    list->clear();
    // A failing enumeration leaves the list empty or partly filled; nothing is reported.
    try {
        list->addItems(PortSource ? PortSource() : QStringList());
    } catch (const std::exception&) {
    }
}

void TfmOpen::FormCreate() {
    FillPortList(cbPort);
    if (cbPort->count() > 0)
        cbPort->setCurrentIndex(0);
    Reg().KeyPath = kRegKeyPath;
    // Each value on its own, so one that cannot be used does not stop the rest; it is reported
    // once every window has loaded. A stored value chooses the entry equal to it (none when no
    // entry is); an absent or unusable one chooses the first entry.
    const auto loadList = [](const char* name, QComboBox* list) {
        bool present = false;
        const std::string value = LoadValue(name, present);
        if (present)
            ChooseEntry(list, QString::fromStdString(value));
        else if (list->count() > 0)
            list->setCurrentIndex(0);
    };
    loadList("ComPort", cbPort);
    loadList("BaudRate", cbBaudRate);
    bool present = false;
    const std::string station = LoadValue("Station", present);
    if (present)
        edStation->setText(QString::fromStdString(station));
    loadList("Parity", cbParity);
    loadList("DataBit", cbDataBit);
}

void TfmOpen::FormDestroy() {
    Reg().SaveStringNoted("", "ComPort", cbPort->currentText().toStdString());
    Reg().SaveStringNoted("", "BaudRate", cbBaudRate->currentText().toStdString());
    Reg().SaveStringNoted("", "Parity", cbParity->currentText().toStdString());
    Reg().SaveStringNoted("", "DataBit", cbDataBit->currentText().toStdString());
    Reg().SaveStringNoted("", "Station", edStation->text().toStdString());
}

void TfmOpen::FormActivate() {
    const QString remembered = cbPort->currentText();
    FillPortList(cbPort);
    ChooseEntry(cbPort, remembered);
    if (cbPort->currentIndex() < 0 && cbPort->count() > 0)
        cbPort->setCurrentIndex(0);
}

void TfmOpen::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        CentreWindow(this);
        FormActivate();
    }
}

void TfmOpen::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // Back from another window, say after plugging in an adapter: list what is there now.
    if (event->type() == QEvent::ActivationChange && isVisible() && isActiveWindow())
        FormActivate();
}

void TfmOpen::ApplyLineSettings() {
    const int speed = ChosenIndex(cbBaudRate, "a baud rate");
    comm_.SetBaudRate(static_cast<uint32_t>(kSpeedList[static_cast<size_t>(speed)]));

    ChosenIndex(cbPort, "a COM port");
    const QString entry = cbPort->currentText();
    const qsizetype colon = entry.indexOf(QLatin1Char(':'));
    comm_.CommName = (colon < 0 ? entry : entry.left(colon)).toStdString();

    switch (ChosenIndex(cbParity, "a parity")) {
    case 0:
        comm_.SetParity(TParity::Even);
        break;
    case 1:
        comm_.SetParity(TParity::Odd);
        break;
    default:
        comm_.SetParity(TParity::None);
        break;
    }

    comm_.SetByteSize(ChosenIndex(cbDataBit, "the data bits") == 0 ? TByteSize::_8 : TByteSize::_7);
    comm_.SetRtsControl(TRtsControl::RtsEnable);

    station_.StationHex = FormatStationHex(StationNumberFromText(edStation->text().toStdString()));
}

void TfmOpen::Button1Click() {
    bool connected = false;
    GuardHandler(this, [this, &connected] {
        ApplyLineSettings();
        station_.PortSettingWord =
            ComputePortSettingWord(cbDataBit->currentIndex() == 0, cbParity->currentIndex());
        connected = true;
        accept();
    });
    // The refusal's message box has closed and the dialog is active again, which not every
    // platform reports as an activation: the adapter may have been plugged in meanwhile.
    if (!connected && isVisible())
        FormActivate();
}

} // namespace orv
