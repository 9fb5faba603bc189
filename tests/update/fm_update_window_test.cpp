// The update window offscreen: its port, its start state, the file box kept between runs, the
// file button, the image refusals where the operator sees them, and the reply dispatch.

#include "modal_helper.h"
#include "settings/reg.h"
#include "test_files.h"
#include "update/fm_update.h"
#include "widgets/cgauge.h"

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

// The dialogs created after the update window, as the test plays them.
class FakePeers : public IUpdatePeers {
public:
    bool ConnectEightDataBits() override { return true; }
    int ConnectSpeedIndex() override { return 0; }
    std::string UpdateSpeedText() override { return "115200"; }
    std::string StationText() override { return "1"; }
    bool AskStopPlc() override { return false; }
    void SetStatusTitle(const QString& title) override { Title = title; }
    void FillStatus(const std::string& version, const std::string& date,
                    const std::string& flash) override {
        Version = version;
        Date = date;
        Flash = flash;
    }
    void ShowStatusModal() override { ++StatusShown; }

    QString Title;
    std::string Version, Date, Flash;
    int StatusShown = 0;
};

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
    }

    QString WriteImage(const QString& name, size_t size, bool rightId = true) {
        return test::WritePlainImage(dir_.filePath(name), size, rightId);
    }

    StationState station_;
    ReplyDispatch dispatch_;
    FakePeers peers_;
    QTemporaryDir dir_;
};

// The stored values that differ from the component's own defaults.
TEST_F(UpdateWindowTest, PortStartsWithTheWindowsStoredValues) {
    TfmUpdate fm(station_, dispatch_);
    const TComm& comm = fm.CommPort();
    EXPECT_EQ(comm.CommName, "COM1");
    EXPECT_EQ(comm.BaudRate(), 38400u);
    EXPECT_EQ(comm.ByteSize(), TByteSize::_7);
    EXPECT_EQ(comm.Parity(), TParity::Even);
    EXPECT_TRUE(comm.ParityCheck());
    EXPECT_TRUE(comm.IgnoreNullChar());
    EXPECT_FALSE(comm.TxContinueOnXoff() || comm.Outx_XonXoffFlow() || comm.Inx_XonXoffFlow());
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(fm.btAbort->isEnabled());
}

TEST_F(UpdateWindowTest, FileBoxIsKeptAndEachOpeningStartsClean) {
    {
        TfmUpdate fm(station_, dispatch_);
        EXPECT_TRUE(fm.edtOSFile->text().isEmpty());
        fm.edtOSFile->setText("/srv/os/orv.bin");
    }
    TfmUpdate fm(station_, dispatch_);
    fm.SetPeers(&peers_);
    EXPECT_EQ(fm.edtOSFile->text(), "/srv/os/orv.bin");

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

TEST_F(UpdateWindowTest, FileButtonShowsTheImageHeader) {
    TfmUpdate fm(station_, dispatch_);
    fm.SetPeers(&peers_);
    const QString image = WriteImage("orv-1.61.bin", 0x22000);

    // A glyph alone names nothing to a screen reader.
    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(fm.btnOS);
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->text(QAccessible::Name).isEmpty());

    QString filter, folder;
    ModalScript script;
    script.Then([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr) << modal->metaObject()->className();
        filter = dialog->nameFilters().value(0);
        folder = dialog->directory().absolutePath();
        Choose(dialog, image);
    });
    fm.btnOS->click();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(filter, "OS file [*.os;*.bin] (*.os *.bin)");
    EXPECT_EQ(folder, QDir::homePath()) << "a first run starts in the home folder";
    EXPECT_EQ(fm.edtOSFile->text(), image);
    EXPECT_EQ(peers_.Title, "OS Status");
    EXPECT_EQ(peers_.Version, "1.61");
    EXPECT_EQ(peers_.Date, "03/2010");
    EXPECT_EQ(peers_.Flash, "AT29C020");
    EXPECT_EQ(peers_.StatusShown, 1);
    EXPECT_EQ(fm.ImageHeader[23], 0x80);

    // Cancelling changes nothing.
    peers_.Title.clear();
    script.Then([](QWidget* modal) { qobject_cast<QFileDialog*>(modal)->reject(); });
    fm.btnOS->click();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(fm.edtOSFile->text(), image);
    EXPECT_TRUE(peers_.Title.isEmpty());
    EXPECT_EQ(peers_.StatusShown, 1);

    // A file with the wrong identification is refused; its path stays in the box.
    const QString illegal = WriteImage("other.bin", 0x22000, false);
    QString message;
    script.Then([&](QWidget* modal) { Choose(modal, illegal); }).ReadMessage(message);
    fm.btnOS->click();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(message, "File corruption or Illegal OS file");
    EXPECT_EQ(fm.edtOSFile->text(), illegal);
    EXPECT_EQ(peers_.StatusShown, 1);
}

TEST_F(UpdateWindowTest, ImageRefusalsAreShownWhereTheOperatorLooks) {
    TfmUpdate fm(station_, dispatch_);
    fm.SetPeers(&peers_);
    // Connected to station 1, and "Proceed to Update OS" has built the speed command.
    station_.StationHex = "01";
    BuildSpeedFrame(station_, 1, 4);

    // No file named: the operator is told to choose one; nothing started.
    QString message;
    ModalScript script;
    script.ReadMessage(message);
    fm.btDUReroro->click();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(message, "Choose an OS file first");
    EXPECT_EQ(fm.Sequence().UpdateState, UpdateSequence::Idle);
    EXPECT_TRUE(fm.btDUReroro->isEnabled());
    EXPECT_EQ(dispatch_.PortOpened, 0);

    const QString missing = dir_.filePath("missing.bin");
    fm.edtOSFile->setText(missing);
    script.ReadMessage(message);
    fm.btDUReroro->click();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(message, "OS File << " + missing + " >> not Exist !!");

    fm.edtOSFile->setText(WriteImage("small.bin", 0x21FFF));
    fm.btDUReroro->click();
    EXPECT_EQ(fm.pnlStatus->text(), "OS File Size Error!!");

    fm.edtOSFile->setText(WriteImage("wrong-id.bin", 0x22000, false));
    fm.btDUReroro->click();
    EXPECT_EQ(fm.pnlStatus->text(), "OS File ID Error!!");

    EXPECT_EQ(fm.Sequence().UpdateState, UpdateSequence::Idle);
    EXPECT_TRUE(fm.btDUReroro->isEnabled());
    EXPECT_FALSE(fm.btAbort->isEnabled());
    EXPECT_EQ(dispatch_.PortOpened, 0);
    EXPECT_FALSE(fm.CommPort().IsOpen());
}

TEST_F(UpdateWindowTest, ReceivedDataGoesToTheCurrentHandlerUnlessTheGateIsClosed) {
    TfmUpdate fm(station_, dispatch_);
    std::vector<std::string> heard;
    dispatch_.ReplyHandler = [&](const uint8_t* buffer, uint16_t length) {
        heard.emplace_back(reinterpret_cast<const char*>(buffer), length);
    };
    const uint8_t block[] = {0x02, '0', '1'};
    fm.CommReceiveData(&fm.CommPort(), block, 3);
    dispatch_.AbortRequested = true;
    fm.CommReceiveData(&fm.CommPort(), block, 2);
    dispatch_.AbortRequested = false;
    fm.CommReceiveData(&fm.CommPort(), block, 1);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0], std::string("\x02"
                                    "01"));
    EXPECT_EQ(heard[1], std::string("\x02"));

    // A handler that fails is reported, and the window goes on.
    dispatch_.ReplyHandler = [](const uint8_t*, uint16_t) {
        throw std::runtime_error("reply handler failed");
    };
    QString message;
    ModalScript script;
    script.ReadMessage(message);
    fm.CommReceiveData(&fm.CommPort(), block, 3);
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(message, "reply handler failed");
}

TEST_F(UpdateWindowTest, ExitWithoutAStartClosesAndSendsNothing) {
    TfmUpdate fm(station_, dispatch_);
    fm.SetPeers(&peers_);
    ModalScript script;
    script.Then([&](QWidget* modal) {
        EXPECT_EQ(modal, &fm);
        fm.btExit->click();
    });
    fm.exec();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_FALSE(fm.isVisible());
    EXPECT_EQ(fm.Sequence().UpdateState, UpdateSequence::Idle);
    EXPECT_FALSE(fm.btAbort->isEnabled());
    EXPECT_EQ(dispatch_.PortOpened, 0);
}

// The close box (or Alt+F4) in the middle of a run: the run is aborted, the restore-speed
// command goes out, the window closes on its reply and opens again ready for the next run.
TEST_F(UpdateWindowTest, CloseBoxDuringARunRestoresTheSpeedAndLeavesTheWindowReady) {
    test::VirtualPort line("updwin-close");
    TfmUpdate fm(station_, dispatch_);
    fm.SetPeers(&peers_);
    station_.StationHex = "01";
    BuildSpeedFrame(station_, 1, 4);
    fm.CommPort().CommName = "updwin-close";
    fm.edtOSFile->setText(WriteImage("orv.bin", 0x22000));

    ModalScript script;
    script.Then([&](QWidget* modal) {
        ASSERT_EQ(modal, &fm);
        fm.btDUReroro->click(); // the speed command goes out; the PLC does not answer
        EXPECT_EQ(fm.Sequence().UpdateState, UpdateSequence::ChangeSpeed);
        fm.close();
        if (fm.Sequence().UpdateState != UpdateSequence::RestoreSpeed) {
            ADD_FAILURE() << "no restore-speed command";
            fm.done(QDialog::Rejected); // nothing else would end exec()
            return;
        }
        EXPECT_TRUE(fm.isVisible());
        EXPECT_EQ(fm.pnlStatus->text(), "Restore Speed ...");
        for (QAbstractButton* b :
             std::initializer_list<QAbstractButton*>{fm.btDUReroro, fm.btAbort, fm.btExit})
            EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
        // The PLC answers the restore command: STX, "01", "47", "0", checksum, ETX.
        const char reply[] = "\x02"
                             "01470"
                             "FE\x03";
        EXPECT_EQ(::write(line.Master(), reply, sizeof reply - 1),
                  static_cast<ssize_t>(sizeof reply - 1));
    });
    fm.exec();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_FALSE(fm.isVisible());
    EXPECT_EQ(fm.Sequence().UpdateState, UpdateSequence::Idle);

    // The speed command, then the restore command (the connect speed's code 1).
    const std::string sent = test::ReadAvailable(line.Master());
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
