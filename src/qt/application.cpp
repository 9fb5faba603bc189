#include "qt/application.h"

#include "qt/window_kit.h"

namespace orv {

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
        ShowErrorBox(nullptr, ErrorText(std::current_exception()));
        return false;
    }
}

TOrvApplication::TOrvApplication() {
    SetStoredCommValues(Comm);
    fmStartup = std::make_unique<TfmStartup>();
    QWidget* main = fmStartup.get();
    fmUpdate = std::make_unique<TfmUpdate>(main);
    fmStatus = std::make_unique<TfmStatus>(main);
    fmStopPLC = std::make_unique<TfmStopPLC>(main);
    fmAbout = std::make_unique<TfmAbout>(main);
    fmOpen = std::make_unique<TfmOpen>(main);
    fmSpeed = std::make_unique<TfmSpeed>(main);

    Forms = std::make_unique<TOrvForms>(
        LinePort, TFormsTimers{fmStartup->TimeOutSeam(), fmUpdate->Timer2Seam()},
        TFormsViews{*this, *fmStartup, *fmUpdate, *fmStatus, *fmStopPLC, *fmAbout, *fmOpen,
                    *fmSpeed},
        MakeUserRegStore());
    fmStartup->Bind(*Forms->fmStartup);
    fmUpdate->Bind(*Forms->fmUpdate);
    fmOpen->Bind(*Forms->fmOpen);
}

TOrvApplication::~TOrvApplication() {
    fmStartup->Unbind();
    fmUpdate->Unbind();
    fmOpen->Unbind();
    // The members go in reverse order: the forms, then the dialogs, which are the main
    // window's children, then the main window.
}

int TOrvApplication::Run() {
    QObject::connect(fmStartup.get(), &TfmStartup::Closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    fmStartup->show();
    return QApplication::exec();
}

void TOrvApplication::ShowProgramMessage(const std::string& text) {
    ShowMessageBox(nullptr, text);
}

} // namespace orv
