#pragma once
// The startup window (fmStartup), the program's main window: "Get PLC's Status", "Setup Update
// Speed", "Proceed to Update OS", "About" and "Exit". It is the status query's view and paces
// the query with its timer, tmTimeOut.

#include "forms/form_kit.h"
#include "protocol/status_query.h"

#include <functional>
#include <optional>
#include <string>

namespace orv {

class TOrvForms;

enum class TStartupButton { btNext, btUpdateBaud };

class IStartupWindow : public IMessageWindow {
public:
    // sbStatus's one panel.
    virtual void SetStatusText(const std::string& text) = 0;
    // "Proceed to Update OS" (btNext) and "Setup Update Speed" (btUpdateBaud).
    virtual void SetButtonEnabled(TStartupButton button, bool enabled) = 0;
    // Hidden while the about box, and a PLC's status, are up.
    virtual void SetVisible(bool visible) = 0;
    // Closes the main window, which ends the program: the window calls FormClose, then the
    // front end leaves its message loop. The window's own close box does the same.
    virtual void Close() = 0;
};

class TStartupForm final : private IStatusView {
public:
    // Both update buttons disabled; tmTimeOut at 500 ms, disabled.
    TStartupForm(TOrvForms& app, IStartupWindow& window, ITimer& tmTimeOut);
    // No tick reaches a form that has gone.
    ~TStartupForm() override { tmTimeOut_.Disable(); }
    TStartupForm(const TStartupForm&) = delete;
    TStartupForm& operator=(const TStartupForm&) = delete;

    // Handlers.
    void Button1Click();      // "Get PLC's Status": the connect dialog, then the status query
    void btNextClick();       // "Proceed to Update OS": the download-speed frame, then fmUpdate
    void btUpdateBaudClick(); // "Setup Update Speed"
    void About1Click();       // the menu's "About"
    void Button2Click();      // "Exit"
    // The main window is closing (by Exit or its close box): stops the port if it was opened.
    void FormClose();
    void tmTimeOutTimer();
    // The session is to end, and ends (log-off, shut-down, an update restart; on Linux the
    // session manager and SIGTERM): the program's answer and its close (TOrvForms).
    bool QueryEndSession();
    void EndSession(const std::function<void(int ms)>& pump);

    // The status last read, for the update history's OS before.
    std::optional<StatusReply> LastStatus;

private:
    // IStatusView.
    std::string StationText() override;
    void SetStationText(const std::string& text) override;
    void SetStatusBar(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    void ShowPlcStatus(const StatusReply& reply) override;
    void ShowStartupWindow() override;
    void EnableUpdateButtons() override;

    TOrvForms& app_;
    IStartupWindow& window_;
    ITimer& tmTimeOut_;
    StatusQuery query_;
};

} // namespace orv
