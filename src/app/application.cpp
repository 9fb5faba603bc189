#include "app/application.h"

#include "settings/reg.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <cstdio>

namespace orv {

namespace {

// Trouble with the settings is told once, on standard error and in one message box.
void ReportSettingsTrouble(const std::string& text) {
    std::fprintf(stderr, "orv-os-update: %s\n", text.c_str());
    ShowMessageBox(nullptr, QString::fromStdString(text));
}

// " in <file>", " to <file>"; nothing when the store does not say where it keeps the values.
std::string SettingsPlace(const char* preposition) {
    const std::string location = Reg().Location();
    return location.empty() ? std::string() : preposition + location;
}

} // namespace

TOrvQApplication::TOrvQApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // No display name: the platform would append it to every window's title. The name (also
    // the window class the desktop file names) stands in a title only where a caption is empty,
    // the status window's, since X11 titles are never left empty.
    setApplicationName(QStringLiteral("orv-os-update"));
    setApplicationVersion(QStringLiteral("1.61"));
    // The program ends when the main window closes, not when the last visible window does:
    // the main window is hidden while the about box and the status window are up.
    setQuitOnLastWindowClosed(false);
}

bool TOrvQApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowApplicationError(nullptr, std::current_exception());
        return false;
    }
}

TOrvApplication::TOrvApplication() {
    // Only what this run's windows load and save is reported.
    Reg().TakeLoadProblems();
    Reg().TakeSaveFailure();

    fmStartup = std::make_unique<TfmStartup>(*this);
    QWidget* main = fmStartup.get();
    fmUpdate = std::make_unique<TfmUpdate>(Station, Dispatch, main);
    fmStatus = std::make_unique<TfmStatus>(main);
    fmStopPLC = std::make_unique<TfmStopPLC>(main);
    fmAbout = std::make_unique<TfmAbout>(main);
    fmOpen = std::make_unique<TfmOpen>(fmUpdate->CommPort(), Station, main);
    fmSpeed = std::make_unique<TfmSpeed>(main);
    fmUpdate->SetPeers(this);

    const std::vector<std::string> problems = Reg().TakeLoadProblems();
    if (!problems.empty()) {
        std::string text = "These stored settings" + SettingsPlace(" in ") +
                           " cannot be used; their defaults stand instead:";
        for (const std::string& problem : problems)
            text += "\n" + problem;
        ReportSettingsTrouble(text);
    }
}

TOrvApplication::~TOrvApplication() {
    // Nothing may call back into dialogs that are going away.
    if (fmUpdate)
        fmUpdate->SetPeers(nullptr);
    fmSpeed.reset();
    fmOpen.reset();
    fmAbout.reset();
    fmStopPLC.reset();
    fmStatus.reset();
    fmUpdate.reset();
    fmStartup.reset();

    const std::string failure = Reg().TakeSaveFailure();
    if (!failure.empty()) {
        ReportSettingsTrouble("The settings could not be saved" + SettingsPlace(" to ") + ": " +
                              failure + ".\nWhat was stored there before is kept.");
    }
}

int TOrvApplication::Run() {
    QObject::connect(fmStartup.get(), &TfmStartup::Closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    fmStartup->show();
    return QApplication::exec();
}

bool TOrvApplication::ConnectEightDataBits() {
    return fmOpen->cbDataBit->currentIndex() == 0;
}

int TOrvApplication::ConnectSpeedIndex() {
    return fmOpen->cbBaudRate->currentIndex();
}

std::string TOrvApplication::UpdateSpeedText() {
    return fmSpeed->cbBaudRate->currentText().toStdString();
}

std::string TOrvApplication::StationText() {
    return fmOpen->edStation->text().toStdString();
}

bool TOrvApplication::AskStopPlc() {
    return fmStopPLC->Ask();
}

void TOrvApplication::SetStatusTitle(const QString& title) {
    fmStatus->pnStatus->setText(title);
}

void TOrvApplication::FillStatus(const std::string& version, const std::string& date,
                                 const std::string& flash) {
    fmStatus->Fill(version, date, flash);
}

void TOrvApplication::ShowStatusModal() {
    fmStatus->exec();
}

} // namespace orv
