#include "qt/small_dialogs.h"

#include "common/version.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace orv {

namespace {

constexpr Qt::WindowFlags kNoBorderIcons =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;

QPushButton* KindButton(const char* name, const char* text, QStyle::StandardPixmap glyph,
                        QWidget* parent) {
    auto* button =
        new QPushButton(parent->style()->standardIcon(glyph), QString::fromLatin1(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setFixedSize(88, 28);
    return button;
}

QLabel* NamedLabel(const char* name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

// The speed dialog.

TfmSpeed::TfmSpeed(QWidget* parent) : QDialog(parent, kNoBorderIcons) {
    setObjectName(QStringLiteral("fmSpeed"));
    setWindowTitle(QStringLiteral("Update Download Speed"));
    setFixedSize(326, 151);
    ApplyProgramFont(this);

    Label2 = NamedLabel("Label2", QStringLiteral("Update &Speed:"), this);
    cbBaudRate = NewPickList("cbBaudRate", this); // a typed speed would have no speed code
    cbBaudRate->setFixedWidth(110);
    baudRateList_ = std::make_unique<TComboChoice>(*cbBaudRate);
    Label2->setBuddy(cbBaudRate);
    BitBtn1 = KindButton("BitBtn1", "&OK", QStyle::SP_DialogOkButton, this);
    BitBtn1->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 24, 16, 16);
    layout->addLayout(CentredRow({Label2, cbBaudRate}, 10));
    layout->addStretch(1);
    layout->addLayout(CentredRow({BitBtn1}));

    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

void TfmSpeed::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        CentreWindow(this, parentWidget());
}

void TfmSpeed::keyPressEvent(QKeyEvent* event) {
    // Left through OK only, like the dialog without border icons it is.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// The stop-PLC question.

TfmStopPLC::TfmStopPLC(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("fmStopPLC"));
    setWindowTitle(QStringLiteral("fmStopPLC"));
    setFixedSize(265, 184);
    ApplyProgramFont(this);

    Label1 = NamedLabel("Label1", QStringLiteral("PLC is Running !!"), this);
    Label2 = NamedLabel("Label2", QStringLiteral("Are you sure to stop the PLC ?"), this);
    for (QLabel* label : {Label1, Label2})
        label->setAlignment(Qt::AlignCenter);
    BitBtn1 = KindButton("BitBtn1", "&Yes", QStyle::SP_DialogYesButton, this);
    BitBtn2 = KindButton("BitBtn2", "&No", QStyle::SP_DialogNoButton, this);
    BitBtn1->setAutoDefault(false);
    BitBtn2->setDefault(true); // Enter must not stop a running machine

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 18, 16, 22);
    layout->setSpacing(10);
    layout->addStretch(1);
    layout->addWidget(Label1);
    layout->addWidget(Label2);
    layout->addStretch(1);
    layout->addLayout(CentredRow({BitBtn1, BitBtn2}));

    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void TfmStopPLC::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        CentreWindow(this);
}

// The status window.

TfmStatus::TfmStatus(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("fmStatus"));
    setWindowTitle(QString());
    setFixedSize(328, 285);
    ApplyProgramFont(this);

    pnStatus = NewTitlePanel(QStringLiteral("PLC Status"), this);
    pnStatus->setObjectName(QStringLiteral("pnStatus"));

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Sunken);
    Panel1->setAutoFillBackground(true);
    QPalette window = Panel1->palette();
    window.setColor(QPalette::Window, palette().color(QPalette::Base));
    Panel1->setPalette(window);

    Label1 = NamedLabel("Label1", QStringLiteral("OS Series :"), Panel1);
    Label2 = NamedLabel("Label2", QStringLiteral("OS Type:"), Panel1);
    Label3 = NamedLabel("Label3", QStringLiteral(" Version:"), Panel1);
    Label4 = NamedLabel("Label4", QStringLiteral("Released Date:"), Panel1);
    Label5 = NamedLabel("Label5", QStringLiteral("Flash Type:"), Panel1);
    stSeries = NamedLabel("stSeries", QStringLiteral("Orv"), Panel1);
    stOSType = NamedLabel("stOSType", QStringLiteral("PLC"), Panel1);
    stVersion = NamedLabel("stVersion", QStringLiteral("1.00"), Panel1);
    stDate = NamedLabel("stDate", QStringLiteral("03/2003"), Panel1);
    stFlash = NamedLabel("stFlash", QStringLiteral("W29C020"), Panel1);

    auto* rows = new QGridLayout(Panel1);
    rows->setContentsMargins(24, 12, 24, 12);
    rows->setHorizontalSpacing(14);
    rows->setVerticalSpacing(8);
    QLabel* const captions[] = {Label1, Label2, Label3, Label4, Label5};
    QLabel* const values[] = {stSeries, stOSType, stVersion, stDate, stFlash};
    for (int row = 0; row < 5; ++row) {
        QLabel* caption = captions[row];
        caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        rows->addWidget(caption, row, 0);
        QLabel* value = values[row];
        // Red value texts, at least 58 pixels wide; wider when a flash name needs it.
        value->setMinimumWidth(58);
        QPalette red = value->palette();
        red.setColor(QPalette::WindowText, QColor(255, 0, 0));
        value->setPalette(red);
        rows->addWidget(value, row, 1);
    }
    rows->setColumnStretch(0, 1);
    rows->setColumnStretch(1, 1);

    BitBtn1 = KindButton("BitBtn1", "&OK", QStyle::SP_DialogOkButton, this);
    BitBtn1->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 12);
    layout->setSpacing(10);
    layout->addWidget(pnStatus);
    layout->addWidget(Panel1, 1);
    layout->addLayout(CentredRow({BitBtn1}));

    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

void TfmStatus::SetTitle(const std::string& text) {
    pnStatus->setText(QString::fromStdString(text));
}

void TfmStatus::SetValues(const std::string& version, const std::string& date,
                          const std::string& flash) {
    stVersion->setText(QString::fromStdString(version));
    stDate->setText(QString::fromStdString(date));
    stFlash->setText(QString::fromStdString(flash));
}

void TfmStatus::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        CentreWindow(this);
}

// The about box.

TfmAbout::TfmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("fmAbout"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(323, 192);
    ApplyProgramFont(this);

    lblName = NamedLabel("lblName", QStringLiteral("Orv OS update"), this);
    QFont bold = lblName->font();
    bold.setBold(true);
    lblName->setFont(bold);
    lblVersion =
        NamedLabel("lblVersion", QStringLiteral("Version ") + QString::fromLatin1(kVersion), this);
    lblPurpose = NamedLabel(
        "lblPurpose",
        QStringLiteral("Reads an Orv PLC's status and replaces its operating system over a "
                       "serial line."),
        this);
    lblPurpose->setWordWrap(true);
    for (QLabel* label : {lblName, lblVersion, lblPurpose})
        label->setAlignment(Qt::AlignCenter);
    btOK = KindButton("btOK", "&OK", QStyle::SP_DialogOkButton, this);
    btOK->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 22, 20, 16);
    layout->setSpacing(8);
    layout->addWidget(lblName);
    layout->addWidget(lblVersion);
    layout->addWidget(lblPurpose);
    layout->addStretch(1);
    layout->addLayout(CentredRow({btOK}));

    connect(btOK, &QPushButton::clicked, this, &QDialog::accept);
}

void TfmAbout::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        CentreWindow(this);
}

} // namespace orv
