// The program's windows offscreen: start state, "Connect PLC", its refusals, the update
// buttons, the about box, the error display and the settings kept between runs.

#include "app/application.h"
#include "app_steps.h"
#include "modal_helper.h"
#include "settings/reg.h"
#include "test_files.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTest>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <xcb/xcb.h>

namespace orv {
namespace {

using test::EnsureProgramApplication;
using test::ModalScript;
using test::VirtualPort;

// The title the window manager is given for a window (its _NET_WM_NAME), read back from the
// X server.
QString ShownTitle(QWidget* window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11->connection();
    const char* name = "_NET_WM_NAME";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, std::strlen(name), name), nullptr);
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, static_cast<xcb_window_t>(window->winId()),
                         atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE), XCB_GET_PROPERTY_TYPE_ANY,
                         0, 1024),
        nullptr);
    QString title;
    if (property != nullptr)
        title = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(property)),
                                  xcb_get_property_value_length(property));
    std::free(property);
    std::free(atom);
    return title;
}

class WindowsTest : public ::testing::Test {
protected:
    // Closes, as a failure, any modal window that no step of the test answers.
    std::unique_ptr<ModalScript> watchdog_;

    void SetUp() override {
        EnsureProgramApplication();
        watchdog_ = std::make_unique<ModalScript>(6000);
        // Every test starts as a first run.
        test::ForgetSettings();
    }

    static ModalScript::Step Connect(const QString& port, const QString& baud,
                                     const QString& parity, const QString& bits,
                                     const QString& station) {
        return test::ConnectStep(port, baud, parity, bits, station);
    }
};

TEST_F(WindowsTest, StartState) {
    TOrvApplication app;
    EXPECT_TRUE(app.fmStartup->Button1->isEnabled());
    EXPECT_FALSE(app.fmStartup->btNext->isEnabled());
    EXPECT_FALSE(app.fmStartup->btUpdateBaud->isEnabled());
    EXPECT_TRUE(app.fmStartup->Button2->isEnabled());
    EXPECT_FALSE(app.fmStartup->tmTimeOut->isActive());
    EXPECT_EQ(app.fmStartup->tmTimeOut->interval(), 500);

    // First run: the connect dialog offers 9600, the speed dialog 115200.
    EXPECT_EQ(app.fmOpen->cbBaudRate->currentText(), "9600");
    EXPECT_EQ(app.fmOpen->cbParity->currentText(), "EVEN");
    EXPECT_EQ(app.fmOpen->cbDataBit->currentText(), "8");
    EXPECT_EQ(app.fmOpen->edStation->text(), "1");
    EXPECT_EQ(app.fmSpeed->cbBaudRate->currentText(), "115200");
    EXPECT_TRUE(app.fmUpdate->edtOSFile->text().isEmpty());
    // The design's COM1..COM8 never survive: the list is the machine's.
    for (int i = 0; i < app.fmOpen->cbPort->count(); ++i)
        EXPECT_NE(app.fmOpen->cbPort->itemText(i), "COM8");

    EXPECT_EQ(app.fmStatus->stSeries->text(), "Orv");
    EXPECT_EQ(app.fmStatus->stOSType->text(), "PLC");
    EXPECT_EQ(app.fmStatus->pnStatus->text(), "PLC Status");
    EXPECT_EQ(app.Dispatch.PortOpened, 0);
    EXPECT_TRUE(app.Station.StationHex.empty());
}

TEST_F(WindowsTest, ConnectAppliesLineSettingsAndPortSettingWord) {
    TOrvApplication app;
    app.fmOpen->PortSource = [] { return QStringList{"ttyS7", "ttyUSB9: (FT232R USB UART)"}; };
    TComm& comm = app.fmUpdate->CommPort();

    ModalScript script;
    script.Then(Connect("ttyUSB9: (FT232R USB UART)", "57600", "ODD", "7", "31"));
    EXPECT_EQ(app.fmOpen->exec(), QDialog::Accepted);
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(comm.CommName, "ttyUSB9");
    EXPECT_EQ(comm.BaudRate(), 57600u);
    EXPECT_EQ(comm.Parity(), TParity::Odd);
    EXPECT_EQ(comm.ByteSize(), TByteSize::_7);
    EXPECT_EQ(comm.RtsControl(), TRtsControl::RtsEnable);
    EXPECT_EQ(app.Station.StationHex, "1F");
    EXPECT_EQ(app.Station.PortSettingWord, 0x56A0);

    // An entry without a description is taken whole; EVEN and 8 bits add 0x20 and 0x40.
    script.Then(Connect("ttyS7", "9600", "EVEN", "8", "1"));
    EXPECT_EQ(app.fmOpen->exec(), QDialog::Accepted);
    EXPECT_EQ(comm.CommName, "ttyS7");
    EXPECT_EQ(comm.BaudRate(), 9600u);
    EXPECT_EQ(comm.Parity(), TParity::Even);
    EXPECT_EQ(comm.ByteSize(), TByteSize::_8);
    EXPECT_EQ(app.Station.StationHex, "01");
    EXPECT_EQ(app.Station.PortSettingWord, 0x5660);

    script.Then(Connect("ttyS7", "115200", "NONE", "8", "0"));
    EXPECT_EQ(app.fmOpen->exec(), QDialog::Accepted);
    EXPECT_EQ(comm.Parity(), TParity::None);
    EXPECT_EQ(app.Station.StationHex, "00");
    EXPECT_EQ(app.Station.PortSettingWord, 0x5640);
    // Connecting never opens the port: the status query does.
    EXPECT_FALSE(comm.IsOpen());
}

TEST_F(WindowsTest, BadStationIsRefusedWithTheDialogStillOpen) {
    TOrvApplication app;
    app.fmOpen->PortSource = [] { return QStringList{"ttyS7"}; };
    TComm& comm = app.fmUpdate->CommPort();
    app.Station.StationHex = "05";

    for (const QString bad : {"abc", "256", "-1", "1.5", ""}) {
        SCOPED_TRACE(bad.toStdString());
        QString message;
        bool stillOpen = false;
        ModalScript script;
        script.Then(Connect("ttyS7", "19200", "EVEN", "8", bad))
            .Then([&](QWidget* box) {
                stillOpen = app.fmOpen->isVisible();
                message = qobject_cast<QMessageBox*>(box)->text();
                qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
            })
            .Then(Connect("ttyS7", "9600", "EVEN", "8", "2"));
        EXPECT_EQ(app.fmOpen->exec(), QDialog::Accepted);
        EXPECT_TRUE(script.WaitDone());
        EXPECT_TRUE(stillOpen);
        EXPECT_TRUE(message.startsWith("Station NO.")) << message.toStdString();
        EXPECT_TRUE(message.contains("0 to 255")) << message.toStdString();
        EXPECT_EQ(app.Station.StationHex, "02");
        app.Station.StationHex = "05";
    }

    // The settings applied before the station was read stay applied.
    QString message;
    ModalScript script;
    script.Then(Connect("ttyS7", "38400", "ODD", "7", "x"))
        .ReadMessage(message)
        .Then([&](QWidget* modal) {
            EXPECT_EQ(comm.BaudRate(), 38400u);
            EXPECT_EQ(comm.Parity(), TParity::Odd);
            EXPECT_EQ(app.Station.StationHex, "05");
            qobject_cast<QDialog*>(modal)->done(QDialog::Rejected);
        });
    app.fmOpen->exec();
    EXPECT_TRUE(script.WaitDone());
}

TEST_F(WindowsTest, UnchosenListsSayWhichChoiceIsMissing) {
    TOrvApplication app;
    TComm& comm = app.fmUpdate->CommPort();
    app.fmOpen->PortSource = [] { return QStringList{}; };

    QString noPort;
    ModalScript script;
    script
        .Then([](QWidget* modal) {
            auto* open = qobject_cast<TfmOpen*>(modal);
            EXPECT_EQ(open->cbPort->count(), 0);
            ChooseEntry(open->cbBaudRate, "19200");
            open->Button1->click();
        })
        .ReadMessage(noPort)
        .Then([&](QWidget* modal) {
            // Still the connect dialog, with the speed already applied.
            EXPECT_EQ(modal, app.fmOpen.get());
            EXPECT_EQ(comm.BaudRate(), 19200u);
            qobject_cast<QDialog*>(modal)->done(QDialog::Rejected);
        });
    app.fmOpen->exec();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(noPort, "Choose a COM port: none is present");

    // A stored speed that is not an entry leaves the list unchosen.
    app.fmOpen->cbBaudRate->setCurrentIndex(-1);
    app.fmOpen->PortSource = [] { return QStringList{"ttyS7"}; };
    QString noSpeed;
    script.Then([](QWidget* modal) { qobject_cast<TfmOpen*>(modal)->Button1->click(); })
        .ReadMessage(noSpeed)
        .Then([](QWidget* modal) { qobject_cast<QDialog*>(modal)->done(QDialog::Rejected); });
    app.fmOpen->exec();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(noSpeed, "Choose a baud rate: none is chosen");
}

TEST_F(WindowsTest, PortListIsRefreshedAtEveryShowing) {
    TOrvApplication app;
    QStringList ports{"ttyS7"};
    app.fmOpen->PortSource = [&] { return ports; };
    ModalScript script;
    script.Then([](QWidget* modal) { qobject_cast<TfmOpen*>(modal)->Button1->click(); });
    app.fmOpen->exec();
    EXPECT_EQ(app.fmOpen->cbPort->count(), 1);

    // An adapter plugged in meanwhile is listed; the chosen port stays chosen.
    ports = {"ttyACM0: (Orv USB)", "ttyS7"};
    script.Then([](QWidget* modal) {
        auto* open = qobject_cast<TfmOpen*>(modal);
        EXPECT_EQ(open->cbPort->count(), 2);
        EXPECT_EQ(open->cbPort->currentText(), "ttyS7");
        open->Button1->click();
    });
    app.fmOpen->exec();
    EXPECT_TRUE(script.WaitDone());

    // The chosen port went away: the first entry is chosen.
    ports = {"ttyACM0: (Orv USB)"};
    script.Then([](QWidget* modal) {
        EXPECT_EQ(qobject_cast<TfmOpen*>(modal)->cbPort->currentText(), "ttyACM0: (Orv USB)");
        qobject_cast<TfmOpen*>(modal)->Button1->click();
    });
    app.fmOpen->exec();
    EXPECT_TRUE(script.WaitDone());
}

// An adapter plugged in while "none is present" is up is listed once that message closes.
// Escape and the close box leave the dialog as a cancel: no status query follows.
TEST_F(WindowsTest, ConnectDialogRefreshesAfterItsMessageAndCanBeLeft) {
    VirtualPort port("wintest-cancel");
    const QString entry = QString::fromStdString(port.Entry());
    TOrvApplication app;
    QStringList ports;
    app.fmOpen->PortSource = [&] { return ports; };
    QString noPort;
    ModalScript script;
    script.Then([](QWidget* modal) { qobject_cast<TfmOpen*>(modal)->Button1->click(); })
        .Then([&](QWidget* box) {
            noPort = qobject_cast<QMessageBox*>(box)->text();
            ports = {entry};
            qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
        })
        .Then([&](QWidget* modal) {
            auto* open = qobject_cast<TfmOpen*>(modal);
            EXPECT_EQ(open->cbPort->currentText(), entry);
            if (open->cbPort->currentIndex() < 0)
                open->done(QDialog::Rejected);
            else
                open->Button1->click();
        });
    EXPECT_EQ(app.fmOpen->exec(), QDialog::Accepted);
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(noPort, "Choose a COM port: none is present");

    EXPECT_TRUE(app.fmOpen->windowFlags() & Qt::WindowCloseButtonHint);
    app.fmStartup->show();
    for (const bool byEscape : {true, false}) {
        SCOPED_TRACE(byEscape ? "Escape" : "close box");
        script.Then([&](QWidget* modal) {
            if (byEscape)
                QTest::keyClick(modal->focusWidget() ? modal->focusWidget() : modal,
                                Qt::Key_Escape);
            else
                modal->close();
            if (modal->isVisible()) {
                ADD_FAILURE() << "the connect dialog stayed open";
                qobject_cast<QDialog*>(modal)->done(QDialog::Rejected);
            }
        });
        app.fmStartup->Button1->click();
        EXPECT_TRUE(script.WaitDone());
        EXPECT_EQ(app.Dispatch.PortOpened, 0);
        EXPECT_FALSE(app.fmStartup->tmTimeOut->isActive());
    }
    app.fmStartup->close();
}

// The keyboard reaches what the mouse does: the main window's mnemonics and its default
// button, and Tab through the connect dialog's fields in the order they are laid out.
TEST_F(WindowsTest, KeyboardReachesTheWindows) {
    TOrvApplication app;
    app.fmOpen->PortSource = [] { return QStringList{"ttyS7"}; };
    app.fmStartup->show();
    // Back from a dialog, this platform does not activate the main window again by itself.
    const auto activate = [&] {
        app.fmStartup->activateWindow();
        return QTest::qWaitForWindowActive(app.fmStartup.get());
    };
    QWidget* const focused = nullptr; // keys go where the focus is
    ASSERT_TRUE(activate());

    QStringList order;
    ModalScript script;
    script.Then([&](QWidget* modal) {
        order << QApplication::focusWidget()->objectName();
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(focused, Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        qobject_cast<QDialog*>(modal)->reject();
    });
    QTest::keyClick(focused, Qt::Key_G, Qt::AltModifier);
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(order, (QStringList{"cbPort", "cbBaudRate", "edStation", "cbParity", "cbDataBit",
                                  "Button1"}));

    bool about = false;
    script.Then([&](QWidget* modal) {
        about = modal == app.fmAbout.get();
        test::PressButton(modal, "OK");
    });
    ASSERT_TRUE(activate());
    QTest::keyClick(focused, Qt::Key_A, Qt::AltModifier);
    EXPECT_TRUE(script.WaitDone());
    EXPECT_TRUE(about);

    // Enter: the default button, "Get PLC's Status".
    bool connect = false;
    script.Then([&](QWidget* modal) {
        connect = modal == app.fmOpen.get();
        qobject_cast<QDialog*>(modal)->reject();
    });
    ASSERT_TRUE(activate());
    QTest::keyClick(focused, Qt::Key_Return);
    EXPECT_TRUE(script.WaitDone());
    EXPECT_TRUE(connect);
    app.fmStartup->close();
}

TEST_F(WindowsTest, SettingsWrittenAtExitAreReadByTheNextStart) {
    VirtualPort port("wintest-persist");
    {
        TOrvApplication app;
        ChooseEntry(app.fmOpen->cbPort, QString::fromStdString(port.Entry()));
        ASSERT_GE(app.fmOpen->cbPort->currentIndex(), 0);
        ChooseEntry(app.fmOpen->cbBaudRate, "19200");
        ChooseEntry(app.fmOpen->cbParity, "NONE");
        ChooseEntry(app.fmOpen->cbDataBit, "7");
        app.fmOpen->edStation->setText("12");
        ChooseEntry(app.fmSpeed->cbBaudRate, "57600");
        app.fmUpdate->edtOSFile->setText("/srv/os/orv-1.61.os");
    }
    {
        TOrvApplication app;
        EXPECT_EQ(app.fmOpen->cbPort->currentText().toStdString(), port.Entry());
        EXPECT_EQ(app.fmOpen->cbBaudRate->currentText(), "19200");
        EXPECT_EQ(app.fmOpen->cbParity->currentText(), "NONE");
        EXPECT_EQ(app.fmOpen->cbDataBit->currentText(), "7");
        EXPECT_EQ(app.fmOpen->edStation->text(), "12");
        EXPECT_EQ(app.fmSpeed->cbBaudRate->currentText(), "57600");
        EXPECT_EQ(app.fmUpdate->edtOSFile->text(), "/srv/os/orv-1.61.os");
    }
    // Stored texts match entries whatever their letter case; one that matches none chooses
    // nothing.
    Reg().KeyPath = kRegKeyPath;
    Reg().SaveString("", "Parity", "odd");
    Reg().SaveString("", "BaudRate", "4800");
    Reg().SaveString("", "Speed", "1200");
    {
        TOrvApplication app;
        EXPECT_EQ(app.fmOpen->cbParity->currentText(), "ODD");
        EXPECT_EQ(app.fmOpen->cbBaudRate->currentIndex(), -1);
        EXPECT_EQ(app.fmSpeed->cbBaudRate->currentIndex(), -1);
    }
}

// A value of the wrong type keeps its default; the values after it load, and every such value
// is reported once, whichever windows they belong to.
TEST_F(WindowsTest, WrongTypedSettingsKeepTheirDefaultsAndAreReportedOnce) {
    Reg().KeyPath = kRegKeyPath;
    Reg().SaveString("", "OSFile", "/srv/os/orv.os");
    Reg().SaveInteger("", "ComPort", 1);
    Reg().SaveString("", "BaudRate", "19200");
    Reg().SaveString("", "Station", "12");
    Reg().SaveString("", "Parity", "ODD");
    Reg().SaveString("", "DataBit", "7");
    Reg().SaveInteger("", "Speed", 2);

    QString message;
    ModalScript script;
    script.ReadMessage(message);
    ::testing::internal::CaptureStderr();
    TOrvApplication app;
    const std::string warning = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(app.fmOpen->cbPort->currentIndex(), app.fmOpen->cbPort->count() > 0 ? 0 : -1);
    EXPECT_EQ(app.fmOpen->cbBaudRate->currentText(), "19200");
    EXPECT_EQ(app.fmOpen->edStation->text(), "12");
    EXPECT_EQ(app.fmOpen->cbParity->currentText(), "ODD");
    EXPECT_EQ(app.fmOpen->cbDataBit->currentText(), "7");
    EXPECT_EQ(app.fmSpeed->cbBaudRate->currentText(), "115200");
    EXPECT_EQ(app.fmUpdate->edtOSFile->text(), "/srv/os/orv.os");
    for (const QString& told : {message, QString::fromStdString(warning)}) {
        EXPECT_TRUE(told.contains(test::SettingsFile())) << told.toStdString();
        EXPECT_TRUE(told.contains("Invalid data type for 'ComPort'")) << told.toStdString();
        EXPECT_TRUE(told.contains("Invalid data type for 'Speed'")) << told.toStdString();
    }
}

// Saving at exit fails: the operator is told where and why, and the file keeps what it had.
TEST_F(WindowsTest, AFailedSaveAtExitIsReportedAndTheFileKept) {
    const QString file = test::SettingsFile();
    {
        TOrvApplication app;
        ChooseEntry(app.fmOpen->cbParity, "ODD");
    }
    QFile stored(file);
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    const QByteArray before = stored.readAll();
    stored.close();

    QString message;
    ModalScript script;
    script.ReadMessage(message);
    ::testing::internal::CaptureStderr();
    {
        TOrvApplication app;
        ChooseEntry(app.fmOpen->cbParity, "NONE");
        // Nothing can take the settings lock: a folder stands where its file belongs.
        QFile::remove(file + ".lock");
        ASSERT_TRUE(QDir().mkpath(file + ".lock"));
    }
    const std::string warning = ::testing::internal::GetCapturedStderr();
    QDir(file + ".lock").removeRecursively();
    EXPECT_TRUE(script.Done());
    for (const QString& told : {message, QString::fromStdString(warning)}) {
        EXPECT_TRUE(told.contains("could not be saved to " + file + ": ")) << told.toStdString();
        EXPECT_TRUE(told.contains(file + ".lock: ")) << told.toStdString();
    }
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), before);
}

TEST_F(WindowsTest, ProceedBuildsTheSpeedFrameAndOpensTheUpdateWindow) {
    TOrvApplication app;
    app.Station.PortSettingWord = 0x5660; // EVEN, 8 data bits
    app.Station.PortRegisterCode = 1;
    app.fmStartup->EnableUpdateButtons();

    bool updateShown = false;
    ModalScript script;
    script.Then([&](QWidget* modal) {
        updateShown = modal == app.fmUpdate.get();
        EXPECT_TRUE(app.fmStartup->isVisible());
        app.fmUpdate->btExit->click();
    });
    app.fmStartup->show();
    app.fmStartup->btNext->click();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_TRUE(updateShown);
    // Station 1, register R04146, 0x5660 + speed code 12 for 115200.
    const std::string& frame = app.Station.DownloadSpeedFrame;
    ASSERT_EQ(frame.size(), 20u);
    EXPECT_EQ(frame.substr(0, 17), "\x02"
                                   "014701R04146566C");
    EXPECT_EQ(frame.back(), '\x03');

    // Pressed again, it takes the speed dialog's current choice.
    ChooseEntry(app.fmSpeed->cbBaudRate, "9600");
    script.Then([&](QWidget*) { app.fmUpdate->btExit->click(); });
    app.fmStartup->btNext->click();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(app.Station.DownloadSpeedFrame.substr(0, 17), "\x02"
                                                            "014701R041465661");

    // A speed without a code is refused before the update window opens.
    app.fmSpeed->cbBaudRate->setCurrentIndex(-1);
    QString message;
    script.ReadMessage(message);
    app.fmStartup->btNext->click();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_TRUE(message.startsWith("Choose an update speed")) << message.toStdString();
    EXPECT_EQ(app.Station.DownloadSpeedFrame.substr(0, 17), "\x02"
                                                            "014701R041465661");
    app.fmStartup->close();
}

TEST_F(WindowsTest, AboutHidesTheMainWindowMeanwhile) {
    TOrvApplication app;
    app.fmStartup->show();
    bool mainHidden = false;
    QString version;
    ModalScript script;
    script.Then([&](QWidget* modal) {
        mainHidden = !app.fmStartup->isVisible();
        version = qobject_cast<TfmAbout*>(modal)->lblVersion->text();
        test::PressButton(modal, "OK");
    });
    app.fmStartup->About1->trigger();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_TRUE(mainHidden);
    EXPECT_TRUE(version.contains("1.61"));
    EXPECT_TRUE(app.fmStartup->isVisible());
    app.fmStartup->close();
}

TEST_F(WindowsTest, PortErrorIsShownAndTheWindowStaysAsItWas) {
    TOrvApplication app;
    app.fmOpen->PortSource = [] { return QStringList{"orv-no-such-port"}; };
    app.fmStartup->show();
    QString message;
    ModalScript script;
    script.Then(Connect("orv-no-such-port", "9600", "EVEN", "8", "1")).ReadMessage(message);
    app.fmStartup->Button1->click();
    EXPECT_TRUE(script.WaitDone());
    const QStringList lines = message.split('\n');
    ASSERT_GE(lines.size(), 2) << message.toStdString();
    EXPECT_EQ(lines[0], "Error opening serial port");
    EXPECT_FALSE(lines[1].isEmpty());
    EXPECT_EQ(app.Dispatch.PortOpened, 0);
    EXPECT_FALSE(app.fmStartup->tmTimeOut->isActive());
    EXPECT_FALSE(app.fmStartup->btNext->isEnabled());
    EXPECT_TRUE(app.fmStartup->Button1->isEnabled());
    app.fmStartup->close();
}

TEST_F(WindowsTest, StatusQueryWithoutAnswerGivesUpAndEnablesTheUpdateButtons) {
    VirtualPort port("wintest-silent");
    TOrvApplication app;
    app.fmStartup->show();
    QString message;
    ModalScript script(6000);
    script.Then(Connect(QString::fromStdString(port.Entry()), "9600", "EVEN", "7", "3"))
        .ReadMessage(message);
    app.fmStartup->Button1->click();
    EXPECT_EQ(app.Dispatch.PortOpened, 1);
    EXPECT_TRUE(script.WaitDone(8000));
    EXPECT_EQ(message, "Get PLC Status Fail !!");
    EXPECT_EQ(app.fmStartup->sbStatusPanel->text(), "Get PLC Status Fail");
    EXPECT_TRUE(app.fmStartup->btNext->isEnabled());
    EXPECT_TRUE(app.fmStartup->btUpdateBaud->isEnabled());

    // Four requests went out to station 03, 500 ms apart.
    const std::string sent = test::ReadAvailable(port.Master());
    ASSERT_EQ(sent.size(), 32u);
    EXPECT_EQ(sent.substr(0, 8), "\x02"
                                 "0300"
                                 "C5"
                                 "\x03");
    EXPECT_EQ(sent.substr(24, 8), sent.substr(0, 8));
    app.fmStartup->close();
    EXPECT_FALSE(app.fmUpdate->CommPort().IsOpen());
}

TEST_F(WindowsTest, AnErrorThatSlipsPastTheHandlersIsShownAndTheProgramGoesOn) {
    QString message;
    ModalScript script;
    script.ReadMessage(message);
    QTimer::singleShot(0, qApp, [] { throw std::runtime_error("slipped past the handlers"); });
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(message, "slipped past the handlers");
    bool later = false;
    QTimer::singleShot(0, qApp, [&] { later = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return later; }, 2000));
}

// Each window's title is its caption and nothing more; where the caption is empty the program's
// name stands. Message boxes carry the program's title. The offscreen platform keeps no
// titles, so this runs in a second run of these tests on an X server.
TEST_F(WindowsTest, TitlesAreExactlyTheCaptions) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server (the windows test's run under Xvfb)";
    TOrvApplication app;
    const std::vector<QWidget*> windows{app.fmStartup.get(), app.fmUpdate.get(), app.fmStatus.get(),
                                        app.fmStopPLC.get(), app.fmAbout.get(),  app.fmOpen.get(),
                                        app.fmSpeed.get()};
    for (QWidget* window : windows) {
        const QString caption = window->windowTitle();
        EXPECT_EQ(ShownTitle(window),
                  caption.isEmpty() ? QCoreApplication::applicationName() : caption)
            << window->objectName().toStdString();
    }
    QString boxTitle;
    ModalScript script;
    script.Then([&](QWidget* box) {
        boxTitle = ShownTitle(box);
        qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
    });
    ShowMessageBox(nullptr, "Get PLC Status Fail !!");
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(boxTitle, kAppTitle);
}

// Every text fits its control, in every window, with the longest texts the program writes;
// with ORV_WINDOW_PNG_DIR set, each window is also saved there as a picture.
TEST_F(WindowsTest, EveryWindowShowsItsTextsUncut) {
    TOrvApplication app;
    app.fmStatus->Fill("1.61", "12/2099", "AT29C020");
    app.fmUpdate->edtOSFile->setText("/home/op/os/orv-1.61.os");
    app.fmStartup->SetStatusBar("Get PLC Status .... try #4");
    const QString folder = qEnvironmentVariable("ORV_WINDOW_PNG_DIR");
    const std::vector<QWidget*> windows{app.fmStartup.get(), app.fmUpdate.get(), app.fmStatus.get(),
                                        app.fmStopPLC.get(), app.fmAbout.get(),  app.fmOpen.get(),
                                        app.fmSpeed.get()};
    for (QWidget* window : windows) {
        SCOPED_TRACE(window->objectName().toStdString());
        window->show();
        if (window == app.fmUpdate.get()) {
            // Opening the window clears these; the longest the sequence writes.
            app.fmUpdate->SetPanelStatus("Comm. No response abandon update");
            app.fmUpdate->SetStatusBar("Change Download Baud .. Try #4");
            app.fmUpdate->SetGauge(42);
        }
        QCoreApplication::processEvents();
        for (QLabel* label : window->findChildren<QLabel*>()) {
            if (!label->isVisible() || label->wordWrap() || label->text().isEmpty())
                continue;
            const int needed = label->fontMetrics().horizontalAdvance(label->text());
            EXPECT_LE(needed, label->contentsRect().width())
                << label->objectName().toStdString() << ": " << label->text().toStdString();
        }
        for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
            if (button->isVisible() && !button->text().isEmpty()) {
                const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
                const int needed = button->fontMetrics().horizontalAdvance(button->text()) + icon;
                EXPECT_LE(needed + 8, button->width()) << button->text().toStdString();
            }
        }
        if (!folder.isEmpty())
            window->grab().save(folder + "/win-" + window->objectName() + ".png");
        window->hide();
    }
}

} // namespace
} // namespace orv
