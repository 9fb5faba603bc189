#include "update/fm_update.h"

#include "settings/reg.h"
#include "widgets/cgauge.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QThread>
#include <QToolButton>
#include <QVBoxLayout>
#include <stdexcept>

namespace orv {

const QString TfmUpdate::kOsFileFilter = QStringLiteral("OS file [*.os;*.bin] (*.os *.bin)");

void ShowApplicationError(QWidget* parent, std::exception_ptr error) {
    QString text;
    try {
        std::rethrow_exception(error);
    } catch (const ECommsError& e) {
        text = QString::fromStdString(e.what());
        const std::string detail = e.Detail();
        if (!detail.empty())
            text += QLatin1Char('\n') + QString::fromStdString(detail);
    } catch (const std::exception& e) {
        text = QString::fromStdString(e.what());
    } catch (...) {
        text = QStringLiteral("An unexpected error stopped this action.");
    }
    if (text.isEmpty())
        text = QStringLiteral("An unexpected error stopped this action.");
    if (parent == nullptr)
        parent = QApplication::activeModalWidget();
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok,
                    parent);
    box.exec();
}

void ShowMessageBox(QWidget* parent, const QString& text) {
    if (parent == nullptr)
        parent = QApplication::activeModalWidget();
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok,
                    parent);
    box.exec();
}

void ApplyProgramFont(QWidget* window) {
    QFont font = window->font();
    font.setFamilies(
        {QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"), font.family()});
    font.setPixelSize(11);
    window->setFont(font);
}

void CentreWindow(QWidget* window, const QWidget* over) {
    QRect area;
    if (over != nullptr && over->isVisible()) {
        area = over->frameGeometry();
    } else {
        const QScreen* screen = window->screen();
        if (screen == nullptr)
            screen = QGuiApplication::primaryScreen();
        if (screen == nullptr)
            return;
        area = screen->availableGeometry();
    }
    QRect frame = window->frameGeometry();
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}

void TCommLinePort::SetDataBits(int bits) {
    comm_.SetByteSize(bits == 8 ? TByteSize::_8 : TByteSize::_7);
}

void TCommLinePort::SetParity(LineParity parity) {
    switch (parity) {
    case LineParity::Even:
        comm_.SetParity(TParity::Even);
        break;
    case LineParity::Odd:
        comm_.SetParity(TParity::Odd);
        break;
    case LineParity::None:
        comm_.SetParity(TParity::None);
        break;
    }
}

TfmUpdate::TfmUpdate(StationState& station, ReplyDispatch& dispatch, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      station_(station), dispatch_(dispatch) {
    setObjectName(QStringLiteral("fmUpdate"));
    setWindowTitle(QStringLiteral("Update Orv OS"));
    setFixedSize(451, 255);
    ApplyProgramFont(this);

    lblOS = new QLabel(QStringLiteral("OS File:"), this);
    lblOS->setObjectName(QStringLiteral("lblOS"));
    edtOSFile = new QLineEdit(this);
    edtOSFile->setObjectName(QStringLiteral("edtOSFile"));
    lblOS->setBuddy(edtOSFile);
    btnOS = new QToolButton(this);
    btnOS->setObjectName(QStringLiteral("btnOS"));
    btnOS->setAutoRaise(true);
    btnOS->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    btnOS->setToolTip(QStringLiteral("Choose the OS file"));
    btnOS->setAccessibleName(btnOS->toolTip()); // it shows only a glyph
    btnOS->setFixedSize(26, 24);

    btDUReroro = new QPushButton(QStringLiteral("Update OS"), this);
    btDUReroro->setObjectName(QStringLiteral("btDUReroro"));
    btAbort = new QPushButton(QStringLiteral("Abort"), this);
    btAbort->setObjectName(QStringLiteral("btAbort"));
    btAbort->setEnabled(false);
    btExit = new QPushButton(QStringLiteral("Exit"), this);
    btExit->setObjectName(QStringLiteral("btExit"));
    for (QPushButton* b : {btDUReroro, btAbort, btExit}) {
        b->setFixedSize(100, 30);
        b->setAutoDefault(false);
    }

    pnlStatus = new QLabel(this);
    pnlStatus->setObjectName(QStringLiteral("pnlStatus"));
    pnlStatus->setAlignment(Qt::AlignCenter);
    pnlStatus->setTextFormat(Qt::PlainText);
    QFont big = pnlStatus->font();
    big.setPixelSize(19);
    big.setBold(true);
    pnlStatus->setFont(big);
    QPalette navy = pnlStatus->palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    pnlStatus->setPalette(navy);

    prbMain = new TCGauge(this);
    prbMain->setObjectName(QStringLiteral("prbMain"));
    prbMain->setFixedHeight(30);
    prbMain->SetForeColor(QColor(0, 0, 128));
    prbMain->SetBackColor(palette().color(QPalette::Light));
    prbMain->SetColor(palette().color(QPalette::Button));

    sbStatus = new QStatusBar(this);
    sbStatus->setObjectName(QStringLiteral("sbStatus"));
    sbStatus->setSizeGripEnabled(false);
    sbStatusPanel = new QLabel(sbStatus);
    sbStatusPanel->setObjectName(QStringLiteral("sbStatusPanel"));
    sbStatusPanel->setAlignment(Qt::AlignCenter);
    sbStatusPanel->setTextFormat(Qt::PlainText);
    sbStatusPanel->setMinimumWidth(120);
    sbStatus->addWidget(sbStatusPanel, 1);

    auto* fileRow = new QHBoxLayout;
    fileRow->setSpacing(6);
    fileRow->addWidget(lblOS);
    fileRow->addWidget(edtOSFile, 1);
    fileRow->addWidget(btnOS);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(12);
    buttonRow->addStretch(1);
    buttonRow->addWidget(btDUReroro);
    buttonRow->addWidget(btAbort);
    buttonRow->addWidget(btExit);
    buttonRow->addStretch(1);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(12, 12, 12, 6);
    body->setSpacing(10);
    body->addLayout(fileRow);
    body->addLayout(buttonRow);
    body->addWidget(pnlStatus, 1);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addLayout(body, 1);
    outer->addWidget(prbMain);
    outer->addWidget(sbStatus);

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(800);

    Comm = std::make_unique<TQtComm>();
    // The stored values of the update window's port; the connect dialog overwrites port,
    // speed, parity, data bits and RTS before first use.
    Comm->CommName = "COM1";
    Comm->SetBaudRate(38400);
    Comm->SetParityCheck(true);
    Comm->SetOutx_CtsFlow(false);
    Comm->SetOutx_DsrFlow(false);
    Comm->SetDtrControl(TDtrControl::DtrEnable);
    Comm->SetDsrSensitivity(false);
    Comm->SetTxContinueOnXoff(false);
    Comm->SetOutx_XonXoffFlow(false);
    Comm->SetInx_XonXoffFlow(false);
    Comm->SetReplaceWhenParityError(false);
    Comm->SetIgnoreNullChar(true);
    Comm->SetRtsControl(TRtsControl::RtsEnable);
    Comm->SetXonLimit(500);
    Comm->SetXoffLimit(500);
    Comm->SetByteSize(TByteSize::_7);
    Comm->SetParity(TParity::Even);
    Comm->SetStopBits(TStopBits::_1);
    Comm->SetXonChar(0x11);
    Comm->SetXoffChar(0x13);
    Comm->SetReplacedChar(0x00);
    Comm->SetReadIntervalTimeout(100);
    Comm->SetReadTotalTimeoutMultiplier(0);
    Comm->SetReadTotalTimeoutConstant(0);
    Comm->SetWriteTotalTimeoutMultiplier(0);
    Comm->SetWriteTotalTimeoutConstant(0);
    Comm->OnReceiveData = [this](TComm* sender, const uint8_t* buffer, uint16_t length) {
        CommReceiveData(sender, buffer, length);
    };
    Comm->OnSendDataEmpty = [this](TComm* sender) { CommSendDataEmpty(sender); };
    Comm->OnRequestHangup = [this](TComm* sender) { CommRequestHangup(sender); };

    timer2Adapter_ = std::make_unique<TTimerAdapter>(*Timer2);
    linePort_ = std::make_unique<TCommLinePort>(*Comm);
    sequence_ =
        std::make_unique<UpdateSequence>(*linePort_, *timer2Adapter_, *this, station_, dispatch_);

    connect(btDUReroro, &QPushButton::clicked, this, [this] { btDUReroroClick(); });
    connect(btAbort, &QPushButton::clicked, this, [this] { btAbortClick(); });
    connect(btExit, &QPushButton::clicked, this, [this] { btExitClick(); });
    connect(btnOS, &QToolButton::clicked, this, [this] { btnOSClick(); });
    connect(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });

    FormCreate();
}

TfmUpdate::~TfmUpdate() {
    FormDestroy();
    // Nothing may reach the window once it is half gone.
    Comm->OnReceiveData = nullptr;
    Comm->OnSendDataEmpty = nullptr;
    Comm->OnRequestHangup = nullptr;
    Comm->StopComm();
}

IUpdatePeers& TfmUpdate::Peers() {
    if (peers_ == nullptr)
        throw std::logic_error("The update window is not connected to its dialogs.");
    return *peers_;
}

void TfmUpdate::FormCreate() {
    Reg().KeyPath = kRegKeyPath;
    edtOSFile->clear();
    std::string path;
    if (Reg().LoadStringNoted("", "OSFile", path))
        edtOSFile->setText(QString::fromStdString(path));
}

void TfmUpdate::FormDestroy() {
    GuardHandler(nullptr, [this] {
        if (dispatch_.PortOpened != 0)
            Comm->StopComm();
    });
    Reg().SaveStringNoted("", "OSFile", edtOSFile->text().toStdString());
}

void TfmUpdate::FormActivate() {
    pnlStatus->clear();
    sbStatusPanel->clear();
    prbMain->SetProgress(0);
}

void TfmUpdate::FormClose() {
    GuardHandler(this, [this] { sequence_->FormClose(); });
}

void TfmUpdate::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Each opening starts clean; coming back from one of its own message boxes does not
    // wipe the status the box was about.
    if (!event->spontaneous()) {
        CentreWindow(this);
        FormActivate();
    }
}

void TfmUpdate::keyPressEvent(QKeyEvent* event) {
    // No close box and no cancel button: Escape must not walk out of a running update.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// The close box and Alt+F4: the sequence decides. During a run it aborts and sends the
// restore-speed command as Exit would, and the window closes when that is over.
void TfmUpdate::closeEvent(QCloseEvent* event) {
    bool mayClose = false;
    GuardHandler(this, [&] { mayClose = sequence_->FormCloseQuery(); });
    if (mayClose)
        QDialog::closeEvent(event);
    else
        event->ignore();
}

void TfmUpdate::done(int result) {
    FormClose();
    QDialog::done(result);
}

void TfmUpdate::CommReceiveData(TComm*, const uint8_t* buffer, uint16_t length) {
    GuardHandler(this, [&] { dispatch_.Dispatch(buffer, length); });
}

void TfmUpdate::CommSendDataEmpty(TComm*) {
    GuardHandler(this, [this] { sequence_->CommSendDataEmpty(); });
}

// The adapter has gone (unplugged, or the far end closed): further writes are refused, and a
// run waiting for a reply runs out its retries to "Comm. No response abandon update" (or,
// restoring the speed, to closing the window) instead of waiting for ever.
void TfmUpdate::CommRequestHangup(TComm*) {
    linePort_->LineDown();
    GuardHandler(this, [this] { sequence_->CommRequestHangup(); });
}

void TfmUpdate::Timer2Timer() {
    GuardHandler(this, [this] { sequence_->Timer2Timer(); });
}

void TfmUpdate::btDUReroroClick() {
    GuardHandler(this, [this] { sequence_->btDUReroroClick(); });
}

void TfmUpdate::btAbortClick() {
    GuardHandler(this, [this] { sequence_->btAbortClick(); });
}

void TfmUpdate::btExitClick() {
    GuardHandler(this, [this] { sequence_->btExitClick(); });
}

void TfmUpdate::btnOSClick() {
    GuardHandler(this, [this] {
        QFileDialog dialog(this, QStringLiteral("Open"));
        dialog.setObjectName(QStringLiteral("OpenDialog"));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setNameFilter(kOsFileFilter);
        const QString current = edtOSFile->text();
        const QFileInfo info(current);
        if (!current.isEmpty() && info.absoluteDir().exists()) {
            dialog.setDirectory(info.absolutePath());
            dialog.selectFile(info.fileName());
        } else {
            // Not the working directory, which means nothing to the operator.
            dialog.setDirectory(QDir::homePath());
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return;
        edtOSFile->setText(dialog.selectedFiles().first());
        Peers().SetStatusTitle(QStringLiteral("OS Status"));
        ShowImageInfo(true);
    });
}

void TfmUpdate::ShowImageInfo(bool show) {
    const ShowResult result = LoadImageInfo(edtOSFile->text().toStdString());
    switch (result.Outcome) {
    case ShowOutcome::EmptyFile:
        return;
    case ShowOutcome::ReadError:
        throw std::runtime_error(result.Error);
    case ShowOutcome::Illegal:
        ImageHeader = result.Header;
        ShowMessage("File corruption or Illegal OS file");
        return;
    case ShowOutcome::Shown:
        ImageHeader = result.Header;
        Peers().FillStatus(result.Info.Version, result.Info.ReleaseDate, result.Info.FlashType);
        if (show)
            Peers().ShowStatusModal();
        return;
    }
}

std::optional<PreparedImage> TfmUpdate::PrepareImage() {
    if (edtOSFile->text().trimmed().isEmpty()) {
        ShowMessage("Choose an OS file first");
        return std::nullopt;
    }
    const std::string path = edtOSFile->text().toStdString();
    PrepareResult result = PrepareImageFile(path);
    if (result.Outcome == PrepareOutcome::Ready)
        return std::move(result.Image);
    const std::string text = PrepareResultText(result, path);
    if (text.empty())
        return std::nullopt;
    if (PrepareOutcomeIsMessageBox(result.Outcome))
        ShowMessage(text);
    else
        SetPanelStatus(text);
    return std::nullopt;
}

void TfmUpdate::SetPanelStatus(const std::string& text) {
    pnlStatus->setText(QString::fromStdString(text));
    pnlStatus->repaint();
}

void TfmUpdate::SetStatusBar(const std::string& text) {
    sbStatusPanel->setText(QString::fromStdString(text));
}

void TfmUpdate::SetGauge(int percent) {
    prbMain->SetProgress(percent);
}

void TfmUpdate::SetBusyButtons() {
    btAbort->setEnabled(true);
    btDUReroro->setEnabled(false);
    btExit->setEnabled(false);
    btnOS->setEnabled(false);
}

void TfmUpdate::SetIdleButtons() {
    btAbort->setEnabled(false);
    btDUReroro->setEnabled(true);
    btExit->setEnabled(true);
    btnOS->setEnabled(true);
}

void TfmUpdate::SetAbortEnabled(bool enabled) {
    btAbort->setEnabled(enabled);
}

void TfmUpdate::SetExitEnabled(bool enabled) {
    btExit->setEnabled(enabled);
}

void TfmUpdate::ShowMessage(const std::string& text) {
    ShowMessageBox(this, QString::fromStdString(text));
}

bool TfmUpdate::AskStopPlc() {
    return Peers().AskStopPlc();
}

void TfmUpdate::CloseWindow() {
    done(QDialog::Accepted);
}

void TfmUpdate::Wait(int ms) {
    QThread::msleep(static_cast<unsigned long>(ms));
}

bool TfmUpdate::ConnectEightDataBits() {
    return Peers().ConnectEightDataBits();
}

int TfmUpdate::ConnectSpeedIndex() {
    return Peers().ConnectSpeedIndex();
}

std::string TfmUpdate::UpdateSpeedText() {
    return Peers().UpdateSpeedText();
}

std::string TfmUpdate::StationText() {
    return Peers().StationText();
}

} // namespace orv
