#include "qt/fm_startup.h"

#include "common/version.h"
#include "qt/window_kit.h"

#include <QAction>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

namespace orv {

TfmStartup::TfmStartup() {
    setObjectName(QStringLiteral("fmStartup"));
    setWindowTitle(QStringLiteral("Orv OS update"));
    setFixedSize(485, 322);
    ApplyProgramFont(this);

    About1 = menuBar()->addAction(QStringLiteral("&About"));
    About1->setObjectName(QStringLiteral("About1"));
    menuBar()->setObjectName(QStringLiteral("MainMenu1"));

    auto* central = new QWidget(this);
    Panel1 = NewTitlePanel(QStringLiteral("Orv PLC  OS update Utility          V") +
                               QString::fromLatin1(kVersion),
                           central);
    Panel1->setObjectName(QStringLiteral("Panel1"));

    Button1 = new QPushButton(QStringLiteral("&Get PLC's Status"), central);
    Button1->setObjectName(QStringLiteral("Button1"));
    btNext = new QPushButton(QStringLiteral("&Proceed to Update OS"), central);
    btNext->setObjectName(QStringLiteral("btNext"));
    btUpdateBaud = new QPushButton(QStringLiteral("Setup Update &Speed"), central);
    btUpdateBaud->setObjectName(QStringLiteral("btUpdateBaud"));
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
    timerAdapter_ = std::make_unique<TTimerAdapter>(*tmTimeOut);
}

TfmStartup::~TfmStartup() {
    tmTimeOut->stop();
}

void TfmStartup::Bind(TStartupForm& form) {
    Unbind();
    form_ = &form;
    binding_ = new QObject(this);
    connect(Button1, &QPushButton::clicked, binding_, [&form] { form.Button1Click(); });
    connect(btNext, &QPushButton::clicked, binding_, [&form] { form.btNextClick(); });
    connect(btUpdateBaud, &QPushButton::clicked, binding_, [&form] { form.btUpdateBaudClick(); });
    connect(Button2, &QPushButton::clicked, binding_, [&form] { form.Button2Click(); });
    connect(About1, &QAction::triggered, binding_, [&form] { form.About1Click(); });
    connect(tmTimeOut, &QTimer::timeout, binding_, [&form] { form.tmTimeOutTimer(); });
}

void TfmStartup::Unbind() {
    form_ = nullptr;
    delete binding_;
    binding_ = nullptr;
}

void TfmStartup::closeEvent(QCloseEvent* event) {
    if (form_ != nullptr)
        form_->FormClose();
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

void TfmStartup::ShowMessage(const std::string& text) {
    ShowMessageBox(this, text);
}

void TfmStartup::ShowError(const std::string& text) {
    ShowErrorBox(this, text);
}

void TfmStartup::SetStatusText(const std::string& text) {
    sbStatusPanel->setText(QString::fromStdString(text));
}

void TfmStartup::SetButtonEnabled(TStartupButton button, bool enabled) {
    (button == TStartupButton::btNext ? btNext : btUpdateBaud)->setEnabled(enabled);
}

void TfmStartup::SetVisible(bool visible) {
    setVisible(visible);
}

void TfmStartup::Close() {
    close();
}

} // namespace orv
