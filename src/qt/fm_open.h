#pragma once
// The connect dialog on Qt: draws what its form says and forwards its events to it.

#include "forms/open_form.h"
#include "qt/window_kit.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace orv {

class TfmOpen : public QDialog, public IOpenWindow {
    Q_OBJECT
public:
    explicit TfmOpen(QWidget* parent = nullptr);

    // From now on the window's events go to the form; Unbind stops that before the form goes.
    void Bind(TOpenForm& form);
    void Unbind();

    // IOpenWindow.
    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;
    IChoiceList& PortList() override { return portList_; }
    IChoiceList& BaudRateList() override { return baudRateList_; }
    IChoiceList& ParityList() override { return parityList_; }
    IChoiceList& DataBitList() override { return dataBitList_; }
    std::string StationText() override;
    void SetStationText(const std::string& text) override;
    bool ShowModal() override;
    void EndModal() override;

    QLineEdit* edStation = nullptr;
    QComboBox* cbBaudRate = nullptr;
    QComboBox* cbPort = nullptr;
    QComboBox* cbParity = nullptr;
    QComboBox* cbDataBit = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    TOpenForm* form_ = nullptr;
    QObject* binding_ = nullptr; // the context of the connections to the form
    TComboChoice portList_;
    TComboChoice baudRateList_;
    TComboChoice parityList_;
    TComboChoice dataBitList_;
};

} // namespace orv
