#pragma once
// The update window on Qt: draws what its form says and forwards its events to it.

#include "forms/update_form.h"
#include "qt/qt_timer.h"

#include <QDialog>
#include <QTimer>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QToolButton;

namespace orv {

class TCGauge;

class TfmUpdate : public QDialog, public IUpdateWindow {
    Q_OBJECT
public:
    explicit TfmUpdate(QWidget* parent = nullptr);
    ~TfmUpdate() override;

    // From now on the window's events go to the form; Unbind stops that before the form goes.
    void Bind(TUpdateForm& form);
    void Unbind();
    ITimer& Timer2Seam() { return *timer2Adapter_; }

    // IUpdateWindow.
    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;
    std::string FileText() override;
    void SetFileText(const std::string& text) override;
    void SetPanelStatus(const std::string& text) override;
    void SetStatusBar(const std::string& text) override;
    void SetGauge(int percent) override;
    void SetButtonEnabled(TUpdateButton button, bool enabled) override;
    void ShowModal() override;
    void EndModal() override;
    std::optional<std::string> ChooseFile(const TFileChoice& choice) override;

    // Controls, named as the operator's manual names them.
    QLabel* lblOS = nullptr;
    QLineEdit* edtOSFile = nullptr;
    QToolButton* btnOS = nullptr;
    QPushButton* btDUReroro = nullptr;
    QPushButton* btAbort = nullptr;
    QPushButton* btExit = nullptr;
    QLabel* pnlStatus = nullptr;
    QStatusBar* sbStatus = nullptr;
    QLabel* sbStatusPanel = nullptr;
    TCGauge* prbMain = nullptr;
    QTimer* Timer2 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

public slots:
    void done(int result) override;

private:
    TUpdateForm* form_ = nullptr;
    QObject* binding_ = nullptr; // the context of the connections to the form
    std::unique_ptr<TTimerAdapter> timer2Adapter_;
};

} // namespace orv
