#pragma once
// The startup window on Qt, the program's main window: draws what its form says and forwards
// its events to it. It holds the status query's timer, tmTimeOut.

#include "forms/startup_form.h"
#include "qt/qt_timer.h"

#include <QMainWindow>
#include <QTimer>
#include <memory>

class QAction;
class QLabel;
class QPushButton;
class QStatusBar;

namespace orv {

class TfmStartup : public QMainWindow, public IStartupWindow {
    Q_OBJECT
public:
    TfmStartup();
    ~TfmStartup() override;

    // From now on the window's events go to the form; Unbind stops that before the form goes.
    void Bind(TStartupForm& form);
    void Unbind();
    ITimer& TimeOutSeam() { return *timerAdapter_; }

    // IStartupWindow.
    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void SetStatusText(const std::string& text) override;
    void SetButtonEnabled(TStartupButton button, bool enabled) override;
    void SetVisible(bool visible) override;
    void Close() override;

    QLabel* Panel1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* btNext = nullptr;
    QPushButton* btUpdateBaud = nullptr;
    QPushButton* Button2 = nullptr;
    QStatusBar* sbStatus = nullptr;
    QLabel* sbStatusPanel = nullptr;
    QTimer* tmTimeOut = nullptr;
    QAction* About1 = nullptr;

signals:
    // The main window has closed: the program ends.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    TStartupForm* form_ = nullptr;
    QObject* binding_ = nullptr; // the context of the connections to the form
    bool placed_ = false;
    std::unique_ptr<TTimerAdapter> timerAdapter_;
};

} // namespace orv
