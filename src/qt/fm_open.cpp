#include "qt/fm_open.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace orv {

namespace {

QLabel* FieldLabel(const char* text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setBuddy(buddy);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

} // namespace

// A close box, like Escape, leaves the dialog without connecting.
TfmOpen::TfmOpen(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      edStation(new QLineEdit(this)), cbBaudRate(NewPickList("cbBaudRate", this)),
      cbPort(NewPickList("cbPort", this)), cbParity(NewPickList("cbParity", this)),
      cbDataBit(NewPickList("cbDataBit", this)), portList_(*cbPort), baudRateList_(*cbBaudRate),
      parityList_(*cbParity), dataBitList_(*cbDataBit) {
    setObjectName(QStringLiteral("fmOpen"));
    setWindowTitle(QStringLiteral("Connect PLC"));
    setFixedSize(421, 203);
    ApplyProgramFont(this);

    edStation->setObjectName(QStringLiteral("edStation"));
    edStation->setFixedWidth(30);
    edStation->setMaxLength(8);
    cbPort->setFixedWidth(233);
    for (QComboBox* list : {cbBaudRate, cbParity, cbDataBit})
        list->setFixedWidth(90);
    Button1 = new QPushButton(QStringLiteral("&Connect PLC"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setFixedSize(137, 33);
    Button1->setDefault(true);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(10);
    grid->addWidget(FieldLabel("C&OM:", cbPort, this), 0, 0);
    grid->addWidget(cbPort, 0, 1, 1, 3, Qt::AlignLeft);
    grid->addWidget(FieldLabel("&Baud Rate:", cbBaudRate, this), 1, 0);
    grid->addWidget(cbBaudRate, 1, 1, Qt::AlignLeft);
    grid->addWidget(FieldLabel("&Station NO.:", edStation, this), 1, 2);
    grid->addWidget(edStation, 1, 3, Qt::AlignLeft);
    grid->addWidget(FieldLabel("&Parity:", cbParity, this), 2, 0);
    grid->addWidget(cbParity, 2, 1, Qt::AlignLeft);
    grid->addWidget(FieldLabel("&Data Bit:", cbDataBit, this), 2, 2);
    grid->addWidget(cbDataBit, 2, 3, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 14);
    layout->addLayout(grid);
    layout->addStretch(1);
    layout->addLayout(CentredRow({Button1}, -1));

    // Tab goes through the fields as they are laid out, not as they were created.
    setTabOrder(cbPort, cbBaudRate);
    setTabOrder(cbBaudRate, edStation);
    setTabOrder(edStation, cbParity);
    setTabOrder(cbParity, cbDataBit);
    setTabOrder(cbDataBit, Button1);
}

void TfmOpen::Bind(TOpenForm& form) {
    Unbind();
    form_ = &form;
    binding_ = new QObject(this);
    connect(Button1, &QPushButton::clicked, binding_, [&form] { form.Button1Click(); });
}

void TfmOpen::Unbind() {
    form_ = nullptr;
    delete binding_;
    binding_ = nullptr;
}

void TfmOpen::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        CentreWindow(this);
        if (form_ != nullptr)
            form_->FormActivate();
    }
}

void TfmOpen::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // Back from another window, say after plugging in an adapter: list what is there now.
    if (event->type() == QEvent::ActivationChange && isVisible() && isActiveWindow() &&
        form_ != nullptr)
        form_->FormActivate();
}

void TfmOpen::ShowMessage(const std::string& text) {
    ShowMessageBox(this, text);
}

void TfmOpen::ShowError(const std::string& text) {
    ShowErrorBox(this, text);
}

std::string TfmOpen::StationText() {
    return edStation->text().toStdString();
}

void TfmOpen::SetStationText(const std::string& text) {
    edStation->setText(QString::fromStdString(text));
}

bool TfmOpen::ShowModal() {
    return exec() == QDialog::Accepted;
}

void TfmOpen::EndModal() {
    accept();
}

} // namespace orv
