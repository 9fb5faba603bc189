// The update window offscreen: its port, what each opening shows, the file dialog it builds
// from its form's request, and how it closes (Exit, and the close box during a run).

#include "pty.h"
#include "qt/application.h"
#include "qt/cgauge.h"
#include "qt_steps.h"
#include "settings/reg.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <unistd.h>
#include <vector>

namespace orv {
namespace {

using test::ModalScript;

// Types the path into the file dialog's name box and accepts, as an operator would.
void Choose(QWidget* dialog, const QString& path) {
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(path);
    static_cast<QDialog*>(dialog)->accept();
}

class UpdateWindowTest : public ::testing::Test {
protected:
    // Closes, as a failure, any modal window that no step of the test answers.
    std::unique_ptr<ModalScript> watchdog_;

    void SetUp() override {
        test::EnsureApplication();
        watchdog_ = std::make_unique<ModalScript>(6000);
        test::ForgetSettings();
        ASSERT_TRUE(dir_.isValid());
        app_ = std::make_unique<TOrvApplication>();
    }
    void TearDown() override { app_.reset(); }

    QString WriteImage(const QString& name, size_t size, bool rightId = true) {
        return test::WritePlainImage(dir_.filePath(name), size, rightId);
    }

    QTemporaryDir dir_;
    std::unique_ptr<TOrvApplication> app_;
};

// The stored values that differ from the component's own defaults.
TEST_F(UpdateWindowTest, PortStartsWithTheWindowsStoredValues) {
    const TComm& comm = app_->Comm;
    EXPECT_EQ(comm.CommName, "COM1");
    EXPECT_EQ(comm.BaudRate(), 38400u);
    EXPECT_EQ(comm.ByteSize(), TByteSize::_7);
    EXPECT_EQ(comm.Parity(), TParity::Even);
    EXPECT_TRUE(comm.ParityCheck());
    EXPECT_TRUE(comm.IgnoreNullChar());
    EXPECT_FALSE(comm.TxContinueOnXoff() || comm.Outx_XonXoffFlow() || comm.Inx_XonXoffFlow());
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(app_->fmUpdate->btAbort->isEnabled());
}

// Opening the window clears the status texts and the gauge; the file box keeps its path.
TEST_F(UpdateWindowTest, EachOpeningStartsClean) {
    TfmUpdate& fm = *app_->fmUpdate;
    fm.edtOSFile->setText("/srv/os/orv.bin");
    fm.SetPanelStatus("DU Reroro ... OK!!");
    fm.SetStatusBar("Prog .. Try #2");
    fm.SetGauge(100);
    fm.show();
    EXPECT_TRUE(fm.pnlStatus->text().isEmpty());
    EXPECT_TRUE(fm.sbStatusPanel->text().isEmpty());
    EXPECT_EQ(fm.prbMain->Progress(), 0);
    EXPECT_EQ(fm.edtOSFile->text(), "/srv/os/orv.bin");
    fm.hide();
}

TEST_F(UpdateWindowTest, FileButtonOpensTheFileDialogAndTheImagesStatus) {
    TfmUpdate& fm = *app_->fmUpdate;
    const QString image = WriteImage("orv-1.61.bin", 0x22000);

    // A glyph alone names nothing to a screen reader.
    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(fm.btnOS);
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->text(QAccessible::Name).isEmpty());

    QString filter, folder, title, version;
    ModalScript script;
    script
        .Then([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr) << modal->metaObject()->className();
            filter = dialog->nameFilters().value(0);
            folder = dialog->directory().absolutePath();
            Choose(dialog, image);
        })
        .Then([&](QWidget* modal) {
            EXPECT_EQ(modal, app_->fmStatus.get());
            title = app_->fmStatus->pnStatus->text();
            version = app_->fmStatus->stVersion->text();
            test::PressButton(modal, "OK");
        });
    fm.btnOS->click();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(filter, "OS file [*.os;*.bin] (*.os *.bin)");
    EXPECT_EQ(folder, QDir::homePath()) << "a first run starts in the home folder";
    EXPECT_EQ(fm.edtOSFile->text(), image);
    EXPECT_EQ(title, "OS Status");
    EXPECT_EQ(version, "1.61");
}

TEST_F(UpdateWindowTest, ExitWithoutAStartClosesAndSendsNothing) {
    TfmUpdate& fm = *app_->fmUpdate;
    ModalScript script;
    script.Then([&](QWidget* modal) {
        EXPECT_EQ(modal, &fm);
        fm.btExit->click();
    });
    fm.exec();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_FALSE(fm.isVisible());
    EXPECT_EQ(app_->Forms->fmUpdate->Sequence().UpdateState, UpdateSequence::Idle);
    EXPECT_FALSE(fm.btAbort->isEnabled());
    EXPECT_EQ(app_->Forms->Dispatch.PortOpened, 0);
}

// The close box (or Alt+F4) in the middle of a run: the run is aborted, the restore-speed
// command goes out, the window closes on its reply and opens again ready for the next run.
TEST_F(UpdateWindowTest, CloseBoxDuringARunRestoresTheSpeedAndLeavesTheWindowReady) {
    test::TVirtualPort line("updwin-close");
    TfmUpdate& fm = *app_->fmUpdate;
    UpdateSequence& sequence = app_->Forms->fmUpdate->Sequence();
    app_->Forms->Station.StationHex = "01";
    BuildSpeedFrame(app_->Forms->Station, 1, 4);
    app_->Comm.CommName = "updwin-close";
    fm.edtOSFile->setText(WriteImage("orv.bin", 0x22000));

    std::string sent;
    ModalScript script;
    script.Then([&](QWidget* modal) {
        ASSERT_EQ(modal, &fm);
        fm.btDUReroro->click(); // the speed command goes out; the PLC does not answer
        EXPECT_EQ(sequence.UpdateState, UpdateSequence::ChangeSpeed);
        fm.close();
        if (sequence.UpdateState != UpdateSequence::RestoreSpeed) {
            ADD_FAILURE() << "no restore-speed command";
            fm.done(QDialog::Rejected); // nothing else would end exec()
            return;
        }
        EXPECT_TRUE(fm.isVisible());
        EXPECT_EQ(fm.pnlStatus->text(), "Restore Speed ...");
        for (QAbstractButton* b :
             std::initializer_list<QAbstractButton*>{fm.btDUReroro, fm.btAbort, fm.btExit})
            EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
        // Once the restore command is out (a reply cannot come before it), the PLC answers
        // it: STX, "01", "47", "0", checksum, ETX.
        sent = line.ReadText(std::chrono::milliseconds(300));
        line.Write("\x02"
                   "01470"
                   "FE\x03");
    });
    fm.exec();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_FALSE(fm.isVisible());
    EXPECT_EQ(sequence.UpdateState, UpdateSequence::Idle);

    // The speed command, then the restore command (the connect speed's code 1).
    ASSERT_EQ(sent.size(), 40u);
    EXPECT_EQ(sent.substr(0, 17), "\x02"
                                  "014701R04050000C");
    EXPECT_EQ(sent.substr(20, 17), "\x02"
                                   "014701R040500001");
    EXPECT_TRUE(fm.btDUReroro->isEnabled());
    EXPECT_TRUE(fm.btExit->isEnabled());
    EXPECT_TRUE(fm.btnOS->isEnabled());
    EXPECT_FALSE(fm.btAbort->isEnabled());
}

} // namespace
} // namespace orv
