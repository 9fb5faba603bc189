#include "qt/fm_update.h"

#include "qt/cgauge.h"
#include "qt/window_kit.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStringList>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace orv {

TfmUpdate::TfmUpdate(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("fmUpdate"));
    setWindowTitle(QStringLiteral("Update Orv OS"));
    setFixedSize(451, 255);
    ApplyProgramFont(this);

    lblOS = new QLabel(QStringLiteral("&OS File:"), this);
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

    btDUReroro = new QPushButton(QStringLiteral("&Update OS"), this);
    btDUReroro->setObjectName(QStringLiteral("btDUReroro"));
    btAbort = new QPushButton(QStringLiteral("&Abort"), this);
    btAbort->setObjectName(QStringLiteral("btAbort"));
    btExit = new QPushButton(QStringLiteral("E&xit"), this);
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

    auto* body = new QVBoxLayout;
    body->setContentsMargins(12, 12, 12, 6);
    body->setSpacing(10);
    body->addLayout(fileRow);
    body->addLayout(CentredRow({btDUReroro, btAbort, btExit}, 12));
    body->addWidget(pnlStatus, 1);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addLayout(body, 1);
    outer->addWidget(prbMain);
    outer->addWidget(sbStatus);

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    timer2Adapter_ = std::make_unique<TTimerAdapter>(*Timer2);
}

TfmUpdate::~TfmUpdate() {
    Timer2->stop();
}

void TfmUpdate::Bind(TUpdateForm& form) {
    Unbind();
    form_ = &form;
    binding_ = new QObject(this);
    connect(btDUReroro, &QPushButton::clicked, binding_, [&form] { form.btDUReroroClick(); });
    connect(btAbort, &QPushButton::clicked, binding_, [&form] { form.btAbortClick(); });
    connect(btExit, &QPushButton::clicked, binding_, [&form] { form.btExitClick(); });
    connect(btnOS, &QToolButton::clicked, binding_, [&form] { form.btnOSClick(); });
    connect(Timer2, &QTimer::timeout, binding_, [&form] { form.Timer2Timer(); });
}

void TfmUpdate::Unbind() {
    form_ = nullptr;
    delete binding_;
    binding_ = nullptr;
}

void TfmUpdate::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Each opening starts clean; coming back from one of its own message boxes does not
    // wipe the status the box was about.
    if (!event->spontaneous()) {
        CentreWindow(this);
        if (form_ != nullptr)
            form_->FormActivate();
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

// The close box and Alt+F4: the form decides.
void TfmUpdate::closeEvent(QCloseEvent* event) {
    if (form_ == nullptr || form_->FormCloseQuery())
        QDialog::closeEvent(event);
    else
        event->ignore();
}

void TfmUpdate::done(int result) {
    if (form_ != nullptr)
        form_->FormClose();
    QDialog::done(result);
}

void TfmUpdate::ShowMessage(const std::string& text) {
    ShowMessageBox(this, text);
}

void TfmUpdate::ShowError(const std::string& text) {
    ShowErrorBox(this, text);
}

std::string TfmUpdate::FileText() {
    return edtOSFile->text().toStdString();
}

void TfmUpdate::SetFileText(const std::string& text) {
    edtOSFile->setText(QString::fromStdString(text));
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

void TfmUpdate::SetButtonEnabled(TUpdateButton button, bool enabled) {
    switch (button) {
    case TUpdateButton::btDUReroro:
        btDUReroro->setEnabled(enabled);
        break;
    case TUpdateButton::btAbort:
        btAbort->setEnabled(enabled);
        break;
    case TUpdateButton::btExit:
        btExit->setEnabled(enabled);
        break;
    case TUpdateButton::btnOS:
        btnOS->setEnabled(enabled);
        break;
    }
}

void TfmUpdate::ShowModal() {
    exec();
}

void TfmUpdate::EndModal() {
    done(QDialog::Accepted);
}

std::optional<std::string> TfmUpdate::ChooseFile(const TFileChoice& choice) {
    QFileDialog dialog(this, QString::fromStdString(choice.Title));
    dialog.setObjectName(QStringLiteral("OpenDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    QStringList patterns;
    for (const std::string& pattern : choice.Patterns)
        patterns << QString::fromStdString(pattern);
    dialog.setNameFilter(QStringLiteral("%1 (%2)").arg(QString::fromStdString(choice.FilterName),
                                                       patterns.join(QLatin1Char(' '))));
    dialog.setDirectory(QString::fromStdString(choice.Folder));
    if (!choice.FileName.empty())
        dialog.selectFile(QString::fromStdString(choice.FileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

} // namespace orv
