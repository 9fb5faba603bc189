#pragma once
// The speed dialog, the stop-PLC question, the status window and the about box on Qt.

#include "forms/small_forms.h"
#include "qt/window_kit.h"

#include <QDialog>
#include <memory>
#include <string>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

namespace orv {

class TfmSpeed : public QDialog, public ISpeedWindow {
    Q_OBJECT
public:
    explicit TfmSpeed(QWidget* parent = nullptr);

    // ISpeedWindow.
    IChoiceList& BaudRateList() override { return *baudRateList_; }
    void ShowModal() override { exec(); }

    QLabel* Label2 = nullptr;
    QComboBox* cbBaudRate = nullptr;
    QPushButton* BitBtn1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::unique_ptr<TComboChoice> baudRateList_;
};

class TfmStopPLC : public QDialog, public IStopPlcWindow {
    Q_OBJECT
public:
    explicit TfmStopPLC(QWidget* parent = nullptr);

    // IStopPlcWindow: true only for Yes.
    bool ShowModal() override { return exec() == QDialog::Accepted; }

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};

class TfmStatus : public QDialog, public IStatusWindow {
    Q_OBJECT
public:
    explicit TfmStatus(QWidget* parent = nullptr);

    // IStatusWindow.
    void SetTitle(const std::string& text) override;
    void SetValues(const std::string& version, const std::string& date,
                   const std::string& flash) override;
    void ShowModal() override { exec(); }

    QLabel* pnStatus = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* stSeries = nullptr;
    QLabel* stOSType = nullptr;
    QLabel* stVersion = nullptr;
    QLabel* stDate = nullptr;
    QLabel* stFlash = nullptr;
    QPushButton* BitBtn1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};

class TfmAbout : public QDialog, public IAboutWindow {
    Q_OBJECT
public:
    explicit TfmAbout(QWidget* parent = nullptr);

    // IAboutWindow.
    void ShowModal() override { exec(); }

    QLabel* lblName = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblPurpose = nullptr;
    QPushButton* btOK = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace orv
