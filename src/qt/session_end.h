#pragma once
// The end of the session for the Qt program. The session manager's commitDataRequest asks
// whether it may end: not while an update runs or the PLC's speed is to be restored (the
// operator is told why, and the shut-down cancelled); otherwise the settings are saved. SIGTERM,
// which ends a program at a log-off or shut-down without asking, is taken through a
// self-pipe in the event loop: the program closes as Abort, Exit and "Exit" would, then quits.
// The forms decide (TOrvForms::QueryEndSession, EndSession).

#include <QObject>

class QSessionManager;
class QSocketNotifier;
class QWidget;

namespace orv {

class TStartupForm;

class TQtSessionEnd final : public QObject {
    Q_OBJECT
public:
    // Takes SIGTERM from now on, until destroyed; one at a time.
    TQtSessionEnd(TStartupForm& form, QWidget& mainWindow);
    ~TQtSessionEnd() override;
    TQtSessionEnd(const TQtSessionEnd&) = delete;
    TQtSessionEnd& operator=(const TQtSessionEnd&) = delete;

private:
    void CommitData(QSessionManager& manager);
    void Terminated();

    TStartupForm& form_;
    QWidget& main_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace orv
