#pragma once
// The startup window, the program's main window: "Get PLC's Status", "Setup Update Speed",
// "Proceed to Update OS", "About" and "Exit". It is the status query's view and holds its
// time-out timer.

#include "protocol/status_query.h"

#include <QMainWindow>
#include <QTimer>
#include <memory>

class QAction;
class QLabel;
class QPushButton;
class QStatusBar;

namespace orv {

class TOrvApplication;
class TTimerAdapter;

class TfmStartup : public QMainWindow, public IStatusView {
    Q_OBJECT
public:
    explicit TfmStartup(TOrvApplication& app);
    ~TfmStartup() override;

    // Handlers.
    void Button1Click();
    void btNextClick();
    void btUpdateBaudClick();
    void About1Click();
    void Button2Click();
    void FormClose();
    void tmTimeOutTimer();

    // The status query, created on first use: the port it talks through belongs to the update
    // window, which is created after this one.
    StatusQuery& Query();
    bool HasQuery() const { return query_ != nullptr; }

    // IStatusView.
    std::string StationText() override;
    void SetStationText(const std::string& text) override;
    void SetStatusBar(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    void ShowPlcStatus(const StatusReply& reply) override;
    void ShowStartupWindow() override;
    void EnableUpdateButtons() override;

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
    TOrvApplication& app_;
    bool placed_ = false;
    std::unique_ptr<TTimerAdapter> timerAdapter_;
    std::unique_ptr<StatusQuery> query_;
};

} // namespace orv
