// End to end through the real windows, the real Comm and orv-plcsim on a pseudo-terminal:
// "Get PLC's Status", and the update window's wiring of the update sequence (the stop
// question, the pages with their time-outs re-armed by the port, Abort, Exit's restore).

#include "qt/application.h"
#include "qt_steps.h"
#include "tools.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

namespace orv {
namespace {

using test::ConnectStep;
using test::EnsureProgramApplication;
using test::ModalScript;
using test::PlcSim;
using test::PortListed;

TEST(StatusEndToEnd, GetPlcStatusShowsTheSimulatorsStatus) {
    EnsureProgramApplication();
    test::ForgetSettings();
    // The reply as a UART sends it, a byte a millisecond: a read interval shorter than the
    // whole reply still keeps it one block, as it runs from each byte.
    PlcSim sim({"--name", "e2e-status", "--speed", "9600", "--format", "7E1", "--station", "10",
                "--register-code", "2", "--version", "1.61", "--date", "03/2010", "--flash-type",
                "2", "--pace", "bytes"});

    TOrvApplication app;
    app.Comm.SetReadIntervalTimeout(50);
    app.fmStartup->show();
    bool mainHidden = false;
    QString title, series, version, date, flash;
    ModalScript script(8000);
    script
        .Then(ConnectStep("e2e-status: (Virtual port)", "9600", "EVEN", "7", "10",
                          PortListed::Required))
        .Then([&](QWidget* modal) {
            auto* status = qobject_cast<TfmStatus*>(modal);
            ASSERT_NE(status, nullptr) << modal->metaObject()->className();
            mainHidden = !app.fmStartup->isVisible();
            title = status->pnStatus->text();
            series = status->stSeries->text();
            version = status->stVersion->text();
            date = status->stDate->text();
            flash = status->stFlash->text();
            status->BitBtn1->click();
        });
    app.fmStartup->Button1->click();
    ASSERT_TRUE(script.WaitDone(10000));

    EXPECT_TRUE(mainHidden);
    EXPECT_EQ(title, "PLC Status");
    EXPECT_EQ(series, "Orv");
    EXPECT_EQ(version, "1.61");
    EXPECT_EQ(date, "03/2010");
    EXPECT_EQ(flash, "AT29C020");
    EXPECT_TRUE(app.fmStartup->isVisible());
    EXPECT_TRUE(app.fmStartup->btNext->isEnabled());
    EXPECT_TRUE(app.fmStartup->btUpdateBaud->isEnabled());
    EXPECT_EQ(app.Forms->Station.StationHex, "0A");
    EXPECT_EQ(app.Forms->Station.PortRegisterCode, 2);
    EXPECT_EQ(app.fmOpen->edStation->text(), "10");

    // The simulator heard exactly the status frame for station 0A: STX "0A00", checksum
    // 0x02 + 0x30 + 0x41 + 0x30 + 0x30 = 0xD3, ETX.
    const QString log = QString::fromStdString(sim.Log());
    EXPECT_TRUE(log.contains("\"dir\":\"frame\"")) << log.toStdString();
    EXPECT_TRUE(log.contains("\"hex\":\"02 30 41 30 30 44 33 03\"")) << log.toStdString();
    app.fmStartup->close();
    EXPECT_FALSE(app.Comm.IsOpen());
}

// Connects to the simulator at 9600 baud, 7 data bits, even parity, station 1.
ModalScript::Step ConnectTo(const QString& entry) {
    return ConnectStep(entry, "9600", "EVEN", "7", "1", PortListed::Required);
}

// The simulator's log holds a frame with exactly these bytes.
bool Heard(const QString& log, const QString& hex) {
    return log.contains("\"dir\":\"frame\"") && log.contains("\"hex\":\"" + hex + "\"");
}

TEST(UpdateEndToEnd, RunningPlcIsStoppedPagesGoOutAbortHoldsAndExitRestoresTheSpeed) {
    EnsureProgramApplication();
    test::ForgetSettings();
    PlcSim sim({"--name", "e2e-update", "--speed", "9600", "--format", "7E1", "--running"});
    const QString image = test::WritePlainImage(QDir::temp().filePath(
        QStringLiteral("orv-e2e-%1.bin").arg(QCoreApplication::applicationPid())));

    TOrvApplication app;
    app.fmStartup->show();
    ModalScript script(10000);
    script.Then(ConnectTo("e2e-update: (Virtual port)")).Press("OK");
    app.fmStartup->Button1->click();
    ASSERT_TRUE(script.WaitDone(10000));
    ASSERT_TRUE(app.fmStartup->btNext->isEnabled());

    app.fmUpdate->edtOSFile->setText(image);
    bool stopAsked = false;
    QString aborted;
    int pageAtAbort = -1;
    script
        .Then([&](QWidget* modal) {
            ASSERT_EQ(modal, app.fmUpdate.get());
            app.fmUpdate->btDUReroro->click();
            // The PLC refuses the change mode; the stop question is answered below. Then the
            // download runs at 115200: let a few pages past the header go out.
            UpdateSequence& seq = app.Forms->fmUpdate->Sequence();
            EXPECT_TRUE(test::WaitWhileProgressing([&] { return seq.CurrentPage >= 130; },
                                                   [&] {
                                                       return app.fmUpdate->pnlStatus->text() +
                                                              " | " +
                                                              app.fmUpdate->sbStatusPanel->text();
                                                   }));
            EXPECT_TRUE(app.fmUpdate->btAbort->isEnabled());
            EXPECT_FALSE(app.fmUpdate->btExit->isEnabled());
            EXPECT_TRUE(app.fmUpdate->pnlStatus->text().startsWith("page #"));
            app.fmUpdate->btAbort->click();
            aborted = app.fmUpdate->pnlStatus->text();
            pageAtAbort = seq.CurrentPage;
            // Nothing more goes out while aborted: no retries, and late replies are dropped.
            QTest::qWait(2000);
            EXPECT_EQ(seq.CurrentPage, pageAtAbort);
            EXPECT_TRUE(app.fmUpdate->btExit->isEnabled());
            app.fmUpdate->btExit->click(); // the restore command; the reply closes the window
        })
        .Then([&](QWidget* modal) {
            stopAsked = modal == app.fmStopPLC.get();
            test::PressButton(modal, "Yes");
        });
    app.fmStartup->btNext->click();
    EXPECT_TRUE(script.WaitDone(30000));
    EXPECT_FALSE(app.fmUpdate->isVisible());
    EXPECT_TRUE(stopAsked);
    EXPECT_EQ(aborted, "Comm. Aborted!!");
    EXPECT_GE(pageAtAbort, 130);
    EXPECT_EQ(app.Forms->fmUpdate->Sequence().UpdateState, UpdateSequence::Idle);

    const QString log = QString::fromStdString(sim.Log());
    // Download speed: station 01, register R04050, 0x5620 (7 data bits, even) + code 12.
    EXPECT_TRUE(Heard(log, "02 30 31 34 37 30 31 52 30 34 30 35 30 35 36 32 43 35 41 03"))
        << log.left(4000).toStdString();
    EXPECT_TRUE(Heard(log, "02 30 31 33 45 44 42 03"));              // change mode
    EXPECT_TRUE(Heard(log, "02 30 31 34 31 30 46 38 03"));           // stop PLC
    EXPECT_TRUE(log.contains("\"hex\":\"01 0D 13 01 00 00 01 00"));  // page 0
    EXPECT_TRUE(log.contains("\"hex\":\"01 0D 13 01 00 80 01 00"));  // then page 128
    EXPECT_FALSE(log.contains("\"hex\":\"01 0D 13 01 00 01 01 00")); // never page 1
    // Restore: the connect speed's code 1.
    EXPECT_TRUE(Heard(log, "02 30 31 34 37 30 31 52 30 34 30 35 30 35 36 32 31 34 38 03"));
    app.fmStartup->close();
    QFile::remove(image);
}

} // namespace
} // namespace orv
