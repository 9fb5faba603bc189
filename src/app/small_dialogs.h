#pragma once
// The speed dialog, the stop-PLC question, the status window and the about box.

#include <QDialog>
#include <string>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

namespace orv {

// A grey title panel with blue text of 16 pixels, as the startup and status windows show.
QLabel* NewTitlePanel(const QString& text, QWidget* parent);

class TfmSpeed : public QDialog {
    Q_OBJECT
public:
    explicit TfmSpeed(QWidget* parent = nullptr);
    ~TfmSpeed() override;

    void FormCreate();
    void FormDestroy();

    QLabel* Label2 = nullptr;
    QComboBox* cbBaudRate = nullptr;
    QPushButton* BitBtn1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

class TfmStopPLC : public QDialog {
    Q_OBJECT
public:
    explicit TfmStopPLC(QWidget* parent = nullptr);

    // Shows the question modally; true only for Yes.
    bool Ask();

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};

class TfmStatus : public QDialog {
    Q_OBJECT
public:
    explicit TfmStatus(QWidget* parent = nullptr);

    // The three rows the status query and the image display write; the series and type rows
    // keep their texts.
    void Fill(const std::string& version, const std::string& date, const std::string& flash);

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

class TfmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfmAbout(QWidget* parent = nullptr);

    QLabel* lblName = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblPurpose = nullptr;
    QPushButton* btOK = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace orv
