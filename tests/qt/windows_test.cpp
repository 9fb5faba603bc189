// The program's Qt windows offscreen: what they show of their forms, "Connect PLC" reaching the
// port, the connect dialog's showings and ways out, the keyboard, the error display, a failed
// save at exit, and each window's title and texts.

#include "pty.h"
#include "qt/application.h"
#include "qt_steps.h"
#include "settings/reg.h"

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
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <xcb/xcb.h>

namespace orv {
namespace {

using test::ChooseEntry;
using test::EnsureProgramApplication;
using test::ModalScript;
using test::TVirtualPort;

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
    EXPECT_EQ(app.Forms->Dispatch.PortOpened, 0);
    EXPECT_TRUE(app.Forms->Station.StationHex.empty());
}

// What "Connect PLC" chooses reaches the program's TComm.
TEST_F(WindowsTest, ConnectAppliesTheChoicesToTheComm) {
    TOrvApplication app;
    app.LinePort.PortSource = [] {
        return std::vector<std::string>{"ttyS7", "ttyUSB9: (FT232R USB UART)"};
    };
    TComm& comm = app.Comm;

    ModalScript script;
    script.Then(Connect("ttyUSB9: (FT232R USB UART)", "57600", "ODD", "7", "31"));
    EXPECT_EQ(app.fmOpen->exec(), QDialog::Accepted);
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(comm.CommName, "ttyUSB9");
    EXPECT_EQ(comm.BaudRate(), 57600u);
    EXPECT_EQ(comm.Parity(), TParity::Odd);
    EXPECT_EQ(comm.ByteSize(), TByteSize::_7);
    EXPECT_EQ(comm.RtsControl(), TRtsControl::RtsEnable);
    EXPECT_EQ(app.Forms->Station.StationHex, "1F");

    script.Then(Connect("ttyS7", "9600", "EVEN", "8", "1"));
    EXPECT_EQ(app.fmOpen->exec(), QDialog::Accepted);
    EXPECT_EQ(comm.CommName, "ttyS7");
    EXPECT_EQ(comm.Parity(), TParity::Even);
    EXPECT_EQ(comm.ByteSize(), TByteSize::_8);

    script.Then(Connect("ttyS7", "115200", "NONE", "8", "0"));
    EXPECT_EQ(app.fmOpen->exec(), QDialog::Accepted);
    EXPECT_EQ(comm.Parity(), TParity::None);
    // Connecting never opens the port: the status query does.
    EXPECT_FALSE(comm.IsOpen());
}

TEST_F(WindowsTest, PortListIsRefreshedAtEveryShowing) {
    TOrvApplication app;
    std::vector<std::string> ports{"ttyS7"};
    app.LinePort.PortSource = [&] { return ports; };
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
    TVirtualPort port("wintest-cancel");
    const QString entry = QString::fromStdString(port.Entry());
    TOrvApplication app;
    std::vector<std::string> ports;
    app.LinePort.PortSource = [&] { return ports; };
    QString noPort;
    ModalScript script;
    script.Then([](QWidget* modal) { qobject_cast<TfmOpen*>(modal)->Button1->click(); })
        .Then([&](QWidget* box) {
            noPort = qobject_cast<QMessageBox*>(box)->text();
            ports = {port.Entry()};
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
        EXPECT_EQ(app.Forms->Dispatch.PortOpened, 0);
        EXPECT_FALSE(app.fmStartup->tmTimeOut->isActive());
    }
    app.fmStartup->close();
}

// The keyboard reaches what the mouse does: the main window's mnemonics and its default
// button, and Tab through the connect dialog's fields in the order they are laid out.
TEST_F(WindowsTest, KeyboardReachesTheWindows) {
    TOrvApplication app;
    app.LinePort.PortSource = [] { return std::vector<std::string>{"ttyS7"}; };
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

// SIGTERM, as a log-off may send it: the program closes as "Exit" does, its settings saved.
TEST_F(WindowsTest, SigtermClosesTheProgramWithItsSettingsSaved) {
    TOrvApplication app;
    app.fmStartup->show();
    app.fmOpen->edStation->setText("12");
    std::raise(SIGTERM);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !app.fmStartup->isVisible(); }, 5000));
    QFile stored(test::SettingsFile());
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_TRUE(stored.readAll().contains("\"Station\"=\"12\""));
}

TEST_F(WindowsTest, StatusQueryWithoutAnswerGivesUpAndEnablesTheUpdateButtons) {
    TVirtualPort port("wintest-silent");
    TOrvApplication app;
    app.fmStartup->show();
    QString message;
    ModalScript script(6000);
    script.Then(Connect(QString::fromStdString(port.Entry()), "9600", "EVEN", "7", "3"))
        .ReadMessage(message);
    app.fmStartup->Button1->click();
    EXPECT_EQ(app.Forms->Dispatch.PortOpened, 1);
    EXPECT_TRUE(script.WaitDone(8000));
    EXPECT_EQ(message, "Get PLC Status Fail !!");
    EXPECT_EQ(app.fmStartup->sbStatusPanel->text(), "Get PLC Status Fail");
    EXPECT_TRUE(app.fmStartup->btNext->isEnabled());
    EXPECT_TRUE(app.fmStartup->btUpdateBaud->isEnabled());

    // Four requests went out to station 03, 500 ms apart.
    const std::string sent = port.ReadText(std::chrono::milliseconds(300));
    ASSERT_EQ(sent.size(), 32u);
    EXPECT_EQ(sent.substr(0, 8), "\x02"
                                 "0300"
                                 "C5"
                                 "\x03");
    EXPECT_EQ(sent.substr(24, 8), sent.substr(0, 8));
    app.fmStartup->close();
    EXPECT_FALSE(app.Comm.IsOpen());
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
    app.fmStatus->SetValues("1.61", "12/2099", "AT29C020");
    app.fmUpdate->edtOSFile->setText("/home/op/os/orv-1.61.os");
    app.fmStartup->SetStatusText("Get PLC Status .... try #4");
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
        // A mnemonic's "&" is not drawn.
        const auto shown = [](QString text) { return text.remove(QLatin1Char('&')); };
        for (QLabel* label : window->findChildren<QLabel*>()) {
            if (!label->isVisible() || label->wordWrap() || label->text().isEmpty())
                continue;
            const int needed = label->fontMetrics().horizontalAdvance(
                label->buddy() ? shown(label->text()) : label->text());
            EXPECT_LE(needed, label->contentsRect().width())
                << label->objectName().toStdString() << ": " << label->text().toStdString();
        }
        for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
            if (button->isVisible() && !button->text().isEmpty()) {
                const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
                const int needed =
                    button->fontMetrics().horizontalAdvance(shown(button->text())) + icon;
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
