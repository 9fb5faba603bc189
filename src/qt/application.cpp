#include "qt/application.h"

#include "common/version.h"
#include "qt/window_kit.h"

namespace orv {

TOrvQApplication::TOrvQApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // No display name: the platform would append it to every window's title. The name (also
    // the window class the desktop file names) stands in a title only where a caption is empty,
    // the status window's, since X11 titles are never left empty.
    setApplicationName(QStringLiteral("orv-os-update"));
    setApplicationVersion(QString::fromLatin1(kVersion));
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

void TQtWindows::ShowProgramMessage(const std::string& text) {
    ShowMessageBox(nullptr, text);
}

TOrvApplication::TOrvApplication()
    : TOrvProgram(MakeUserRegStore()), sessionEnd_(*Forms->fmStartup, *fmStartup) {}

int TOrvApplication::Run() {
    QObject::connect(fmStartup.get(), &TfmStartup::Closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    fmStartup->show();
    return QApplication::exec();
}

} // namespace orv
