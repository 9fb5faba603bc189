#include "qt/session_end.h"

#include "forms/orv_forms.h"
#include "forms/startup_form.h"
#include "qt/window_kit.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orv {

namespace {

// The signal handler may only write: the pipe's write end, and the action it replaced.
int pipeEnds[2] = {-1, -1};
struct sigaction previous {};

void OnTerminate(int) {
    const char byte = 1;
    const int saved = errno;
    (void)!write(pipeEnds[1], &byte, 1);
    errno = saved;
}

// Runs the event loop for up to `ms`: a single-shot timer wakes it if nothing else does.
void RunEventsFor(int ms) {
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(ms);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace

TQtSessionEnd::TQtSessionEnd(TStartupForm& form, QWidget& mainWindow)
    : form_(form), main_(mainWindow) {
    connect(qApp, &QGuiApplication::commitDataRequest, this, &TQtSessionEnd::CommitData);
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pipeEnds) != 0)
        return; // without it, SIGTERM ends the program as it always would
    notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TQtSessionEnd::Terminated);
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &previous);
}

TQtSessionEnd::~TQtSessionEnd() {
    if (!notifier_)
        return;
    sigaction(SIGTERM, &previous, nullptr);
    delete notifier_;
    for (int& end : pipeEnds) {
        close(end);
        end = -1;
    }
}

void TQtSessionEnd::CommitData(QSessionManager& manager) {
    if (form_.QueryEndSession())
        return;
    // The shut-down may be cancelled only by a program that may ask the operator first.
    if (manager.allowsInteraction()) {
        ShowMessageBox(&main_, kSessionEndRefusal);
        manager.cancel();
    }
}

void TQtSessionEnd::Terminated() {
    char bytes[16];
    while (read(pipeEnds[0], bytes, sizeof bytes) > 0) {
    }
    form_.EndSession(RunEventsFor);
}

} // namespace orv
