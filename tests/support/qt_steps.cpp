#include "qt_steps.h"

#include "qt/cgauge.h"
#include "qt/fm_open.h"
#include "qt/fm_update.h"
#include "qt/small_dialogs.h"
#include "test_images.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace orv::test {

void EnsureProgramApplication() {
    if (QApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "orv-os-update-test";
        static char* argv[] = {name, nullptr};
        new TOrvQApplication(argc, argv); // deleted after the last test
    }
}

ModalScript::Step ConnectStep(const QString& port, const QString& baud, const QString& parity,
                              const QString& bits, const QString& station, PortListed listed) {
    return [=](QWidget* modal) {
        auto* open = qobject_cast<TfmOpen*>(modal);
        ASSERT_NE(open, nullptr) << modal->metaObject()->className();
        ChooseEntry(open->cbPort, port);
        if (listed == PortListed::Required) {
            ASSERT_GE(open->cbPort->currentIndex(), 0) << "the port is not listed";
        }
        ChooseEntry(open->cbBaudRate, baud);
        ChooseEntry(open->cbParity, parity);
        ChooseEntry(open->cbDataBit, bits);
        open->edStation->setText(station);
        open->Button1->click();
    };
}

bool WaitWhileProgressing(const std::function<bool()>& done, const std::function<QString()>& seen,
                          int stallMs) {
    // A loop of its own rather than QTest's waits, which sleep between their rounds: the port's
    // events are handled the moment they come, as in the program's own loop.
    QString last = seen();
    QElapsedTimer still;
    still.start();
    bool moving = true;
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (done()) {
            loop.quit();
        } else if (seen() != last) {
            last = seen();
            still.restart();
        } else if (still.elapsed() > stallMs) {
            ADD_FAILURE() << "nothing moved on for " << stallMs
                          << " ms; last seen: " << last.toStdString();
            moving = false;
            loop.quit();
        }
    });
    tick.start(20);
    if (!done())
        loop.exec();
    return moving;
}

QString GetStatus(TOrvApplication& app, const QString& portName) {
    QString version;
    ModalScript script(8000);
    script
        .Then(ConnectStep(portName + ": (Virtual port)", "9600", "EVEN", "7", "1",
                          PortListed::Required))
        .Then([&](QWidget* modal) {
            auto* status = qobject_cast<TfmStatus*>(modal);
            ASSERT_NE(status, nullptr) << modal->metaObject()->className();
            version = status->stVersion->text();
            status->BitBtn1->click();
        });
    app.fmStartup->Button1->click();
    EXPECT_TRUE(script.WaitDone(10000));
    return version;
}

namespace {

UpdateOutcome Observe(TOrvApplication& app) {
    TfmUpdate& fm = *app.fmUpdate;
    return {fm.pnlStatus->text(),       fm.sbStatusPanel->text(), fm.prbMain->Progress(),
            fm.btDUReroro->isEnabled(), fm.btAbort->isEnabled(),  fm.btExit->isEnabled(),
            fm.focusWidget(),           app.Comm.ByteSize(),      app.Comm.Parity(),
            app.Comm.BaudRate()};
}

} // namespace

UpdateOutcome Update(TOrvApplication& app, const QString& image,
                     const std::function<void(ModalScript&)>& more, int timeoutMs) {
    UpdateOutcome seen;
    ModalScript script(10000);
    script.Then([&](QWidget* modal) {
        ASSERT_EQ(modal, app.fmUpdate.get());
        TfmUpdate& fm = *app.fmUpdate;
        fm.edtOSFile->setText(image);
        QTest::mouseClick(fm.btDUReroro, Qt::LeftButton); // which takes the focus
        WaitWhileProgressing(
            [&] { return fm.btDUReroro->isEnabled() && QApplication::activeModalWidget() == &fm; },
            [&] { return fm.pnlStatus->text() + " | " + fm.sbStatusPanel->text(); });
        seen = Observe(app);
        if (fm.btAbort->isEnabled())
            fm.btAbort->click();
        fm.btExit->click(); // the restore command; its reply closes the window
    });
    if (more)
        more(script);
    app.fmStartup->btNext->click();
    EXPECT_TRUE(script.WaitDone(timeoutMs + 10000));
    EXPECT_FALSE(app.fmUpdate->isVisible());
    return seen;
}

QString SettingsFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/orv-os-update/registry.reg");
}

void ForgetSettings() {
    QFile::remove(SettingsFile());
}

QString WritePlainImage(const QString& path, size_t size, bool rightId) {
    WritePlainImageFile(path.toStdString(), size, rightId);
    EXPECT_TRUE(QFile::exists(path)) << path.toStdString();
    return path;
}

} // namespace orv::test
