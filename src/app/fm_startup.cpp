#include "app/fm_startup.h"

#include "app/application.h"
#include "app/fm_open.h"
#include "app/small_dialogs.h"
#include "update/fm_update.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <stdexcept>

namespace orv {

TfmStartup::TfmStartup(TOrvApplication& app) : app_(app) {
    setObjectName(QStringLiteral("fmStartup"));
    setWindowTitle(QStringLiteral("Orv OS update"));
    setFixedSize(485, 322);
    ApplyProgramFont(this);

    About1 = menuBar()->addAction(QStringLiteral("&About"));
    About1->setObjectName(QStringLiteral("About1"));
    menuBar()->setObjectName(QStringLiteral("MainMenu1"));

    auto* central = new QWidget(this);
    Panel1 = NewTitlePanel(QStringLiteral("Orv PLC  OS update Utility          V1.61"), central);
    Panel1->setObjectName(QStringLiteral("Panel1"));

    Button1 = new QPushButton(QStringLiteral("&Get PLC's Status"), central);
    Button1->setObjectName(QStringLiteral("Button1"));
    btNext = new QPushButton(QStringLiteral("&Proceed to Update OS"), central);
    btNext->setObjectName(QStringLiteral("btNext"));
    btNext->setEnabled(false);
    btUpdateBaud = new QPushButton(QStringLiteral("Setup Update &Speed"), central);
    btUpdateBaud->setObjectName(QStringLiteral("btUpdateBaud"));
    btUpdateBaud->setEnabled(false);
    Button2 = new QPushButton(QStringLiteral("E&xit"), central);
    Button2->setObjectName(QStringLiteral("Button2"));

    auto* column = new QVBoxLayout;
    column->setSpacing(12);
    for (QPushButton* button : {Button1, btNext, btUpdateBaud, Button2}) {
        button->setFixedSize(137, 33);
        button->setAutoDefault(true); // Enter presses the button that has the focus
        column->addWidget(button, 0, Qt::AlignHCenter);
    }
    // Connecting comes first; Enter presses it when no button has the focus.
    Button1->setDefault(true);

    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Panel1);
    layout->addStretch(1);
    layout->addLayout(column);
    layout->addStretch(1);
    setCentralWidget(central);

    sbStatus = new QStatusBar(this);
    sbStatus->setObjectName(QStringLiteral("sbStatus"));
    sbStatus->setSizeGripEnabled(false);
    // One panel, at least 100 pixels; it runs to the right edge so no status text is cut.
    sbStatusPanel = new QLabel(sbStatus);
    sbStatusPanel->setObjectName(QStringLiteral("sbStatusPanel"));
    sbStatusPanel->setTextFormat(Qt::PlainText);
    sbStatusPanel->setMinimumWidth(100);
    sbStatus->addWidget(sbStatusPanel, 1);
    setStatusBar(sbStatus);

    tmTimeOut = new QTimer(this);
    tmTimeOut->setObjectName(QStringLiteral("tmTimeOut"));
    tmTimeOut->setInterval(500);
    timerAdapter_ = std::make_unique<TTimerAdapter>(*tmTimeOut);

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(btNext, &QPushButton::clicked, this, [this] { btNextClick(); });
    connect(btUpdateBaud, &QPushButton::clicked, this, [this] { btUpdateBaudClick(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(About1, &QAction::triggered, this, [this] { About1Click(); });
    connect(tmTimeOut, &QTimer::timeout, this, [this] { tmTimeOutTimer(); });
}

TfmStartup::~TfmStartup() {
    tmTimeOut->stop();
}

StatusQuery& TfmStartup::Query() {
    if (query_ == nullptr) {
        query_ = std::make_unique<StatusQuery>(app_.fmUpdate->LinePort(), *timerAdapter_, *this,
                                               app_.Station, app_.Dispatch);
    }
    return *query_;
}

void TfmStartup::Button1Click() {
    GuardHandler(this, [this] {
        // Leaving the connect dialog by Escape or its close box is a cancel.
        if (app_.fmOpen->exec() != QDialog::Accepted)
            return;
        Query().Start();
    });
}

void TfmStartup::btNextClick() {
    GuardHandler(this, [this] {
        const int station = StationNumberFromText(app_.fmOpen->edStation->text().toStdString());
        const int speed = app_.fmSpeed->cbBaudRate->currentIndex();
        if (speed < 0)
            throw std::runtime_error(
                "Choose an update speed with \"Setup Update Speed\": none is chosen");
        BuildSpeedFrame(app_.Station, station, speed);
        app_.fmUpdate->exec();
    });
}

void TfmStartup::btUpdateBaudClick() {
    GuardHandler(this, [this] { app_.fmSpeed->exec(); });
}

void TfmStartup::About1Click() {
    GuardHandler(this, [this] {
        hide();
        app_.fmAbout->exec();
        show();
    });
}

void TfmStartup::Button2Click() {
    close();
}

void TfmStartup::FormClose() {
    GuardHandler(this, [this] {
        tmTimeOut->stop();
        if (app_.Dispatch.PortOpened == 1)
            app_.fmUpdate->CommPort().StopComm();
    });
}

void TfmStartup::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept(); // the close itself is never refused
    emit Closed();
}

void TfmStartup::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && Button1->isEnabled()) {
        event->accept();
        Button1->click();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TfmStartup::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!placed_) {
        placed_ = true;
        CentreWindow(this);
    }
}

void TfmStartup::tmTimeOutTimer() {
    GuardHandler(this, [this] {
        if (query_ != nullptr)
            query_->tmTimeOutTimer();
        else
            tmTimeOut->stop();
    });
}

std::string TfmStartup::StationText() {
    return app_.fmOpen->edStation->text().toStdString();
}

void TfmStartup::SetStationText(const std::string& text) {
    app_.fmOpen->edStation->setText(QString::fromStdString(text));
}

void TfmStartup::SetStatusBar(const std::string& text) {
    sbStatusPanel->setText(QString::fromStdString(text));
}

void TfmStartup::ShowMessage(const std::string& text) {
    ShowMessageBox(this, QString::fromStdString(text));
}

void TfmStartup::ShowPlcStatus(const StatusReply& reply) {
    hide();
    TfmStatus& status = *app_.fmStatus;
    status.pnStatus->setText(QStringLiteral("PLC Status"));
    status.Fill(reply.Version, reply.ReleaseDate, reply.FlashType);
    status.exec();
    show();
}

void TfmStartup::ShowStartupWindow() {
    show();
}

void TfmStartup::EnableUpdateButtons() {
    btNext->setEnabled(true);
    btUpdateBaud->setEnabled(true);
}

} // namespace orv
