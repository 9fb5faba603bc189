// What the windows decide, with the front end played by fakes: the settings kept between runs,
// "Connect PLC" and its refusals, "Get PLC's Status", "Proceed to Update OS", the update
// window's file box and refusals, its wiring of the update sequence and the reply dispatch.

#include "common/home_folder.h"
#include "form_fakes.h"
#include "history/history.h"
#include "serial/comm.h"
#include "status_reply_builder.h"
#include "test_images.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace orv {
namespace {

namespace fs = std::filesystem;
using fakes::FakeFrontEnd;
using test::WritePlainImageFile;

constexpr uint32_t kMinImage = 0x22000;

class FormsTest : public ::testing::Test, public FakeFrontEnd {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("orv-forms-" +
                   std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(folder_);
        port.ports = {"ttyS7", "ttyUSB9: (FT232R USB UART)"};
    }
    void TearDown() override {
        Stop();
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    // "Get PLC's Status" connected to station 1 at 9600 7E1, answered by the PLC.
    void Connected() {
        open.whileShown = [this] { open.Connect("ttyS7", "9600", "EVEN", "7", "1"); };
        forms->fmStartup->Button1Click();
        const auto reply = fakes::MakeStatusReply("161", "0310", '2', '0', "01");
        port.Receive(std::string(reply.begin(), reply.end()));
    }

    fs::path folder_;
};

TEST_F(FormsTest, ChoicesAreKeptBetweenRunsAndStoredTextsMatchIgnoringCase) {
    Start();
    EXPECT_TRUE(program.messages.empty()) << "a first run has nothing to report";
    open.port.Pick("ttyUSB9: (FT232R USB UART)");
    open.baud.Pick("19200");
    open.parity.Pick("NONE");
    open.dataBit.Pick("7");
    open.station = "12";
    speed.list.Pick("57600");
    update.fileText = "/srv/os/orv-1.61.os";
    Stop();

    Start();
    EXPECT_EQ(open.port.Shown(), "ttyUSB9: (FT232R USB UART)");
    EXPECT_EQ(open.baud.Shown(), "19200");
    EXPECT_EQ(open.parity.Shown(), "NONE");
    EXPECT_EQ(open.dataBit.Shown(), "7");
    EXPECT_EQ(open.station, "12");
    EXPECT_EQ(speed.list.Shown(), "57600");
    EXPECT_EQ(update.fileText, "/srv/os/orv-1.61.os");
    EXPECT_TRUE(port.repliesWhole);
    Stop();

    // Letter case is ignored, in a description beyond ASCII too; a text that matches no entry
    // chooses none.
    auto& values = stored->keys[kRegKeyPath];
    values["Parity"] = std::string("odd");
    values["BaudRate"] = std::string("4800");
    values["Speed"] = std::string("1200");
    port.ports = {"ttyS7", "COM3: (Puerto de comunicación)"};
    values["ComPort"] = std::string("com3: (PUERTO DE COMUNICACIÓN)");
    values["ReplyTiming"] = std::string("Interval");
    Start();
    EXPECT_FALSE(port.repliesWhole);
    EXPECT_EQ(open.parity.Shown(), "ODD");
    EXPECT_EQ(open.baud.chosen, -1);
    EXPECT_EQ(speed.list.chosen, -1);
    EXPECT_EQ(open.port.chosen, 1);
}

// A value of the wrong type keeps its default while the values after it load; every such value
// and a failed save at exit are told once, on standard error and in a box of their own.
TEST_F(FormsTest, UnusableStoredValuesAndFailedSavesAreReportedOnce) {
    auto& values = stored->keys[kRegKeyPath];
    values["ComPort"] = uint32_t{1};
    values["BaudRate"] = std::string("19200");
    values["Speed"] = uint32_t{2};
    values["OSFile"] = std::string("/srv/os/orv.os");
    ::testing::internal::CaptureStderr();
    Start();
    const std::string warning = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(open.port.Shown(), "ttyS7");
    EXPECT_EQ(open.baud.Shown(), "19200");
    EXPECT_EQ(speed.list.Shown(), "115200");
    EXPECT_EQ(update.fileText, "/srv/os/orv.os");
    ASSERT_EQ(program.messages.size(), 1u);
    for (const std::string& told : {program.messages[0], warning}) {
        EXPECT_NE(told.find("in memory:Software\\Velko\\DUReroro\\v1.0 cannot be used"),
                  std::string::npos)
            << told;
        EXPECT_NE(told.find("Invalid data type for 'ComPort'"), std::string::npos) << told;
        EXPECT_NE(told.find("Invalid data type for 'Speed'"), std::string::npos) << told;
    }

    program.messages.clear();
    open.parity.Pick("NONE");
    stored->savesFail = true;
    ::testing::internal::CaptureStderr();
    Stop();
    const std::string failure = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(program.messages.size(), 1u);
    EXPECT_EQ(program.messages[0], "The settings could not be saved to "
                                   "memory:Software\\Velko\\DUReroro\\v1.0: the store is full.\n"
                                   "What was stored there before is kept.");
    EXPECT_NE(failure.find(program.messages[0]), std::string::npos);
    EXPECT_EQ(std::get<uint32_t>(values["ComPort"]), 1u);
}

// The line settings reaching the port are the Qt window test's; here the station and the port
// setting word that the speed command is built from.
TEST_F(FormsTest, ConnectSetsTheStationAndThePortSettingWord) {
    Start();
    open.whileShown = [&] {
        open.Connect("ttyUSB9: (FT232R USB UART)", "57600", "ODD", "7", "31");
    };
    EXPECT_TRUE(forms->fmOpen->ShowModal());
    EXPECT_EQ(forms->Station.StationHex, "1F");
    EXPECT_EQ(forms->Station.PortSettingWord, 0x56A0);

    // EVEN and 8 bits add 0x20 and 0x40.
    open.whileShown = [&] { open.Connect("ttyS7", "9600", "EVEN", "8", "1"); };
    EXPECT_TRUE(forms->fmOpen->ShowModal());
    EXPECT_EQ(forms->Station.StationHex, "01");
    EXPECT_EQ(forms->Station.PortSettingWord, 0x5660);

    open.whileShown = [&] { open.Connect("ttyS7", "115200", "NONE", "8", " +007 "); };
    EXPECT_TRUE(forms->fmOpen->ShowModal());
    EXPECT_EQ(forms->Station.StationHex, "07");
    EXPECT_EQ(forms->Station.PortSettingWord, 0x5640);
}

// A choice that cannot be used is shown by the error display, the dialog stays up with the
// steps before it applied, and the port list is read again once the box has closed.
TEST_F(FormsTest, ConnectRefusesWhatCannotBeUsedWithTheDialogStillUp) {
    Start();
    forms->Station.StationHex = "05";
    for (const std::string bad : {"abc", "256", "-1", "1.5", ""}) {
        SCOPED_TRACE(bad);
        open.errors.clear();
        open.whileShown = [&] { open.Connect("ttyS7", "38400", "ODD", "8", bad); };
        EXPECT_FALSE(forms->fmOpen->ShowModal());
        ASSERT_EQ(open.errors.size(), 1u);
        EXPECT_EQ(open.errors[0].rfind("Station NO.", 0), 0u) << open.errors[0];
        EXPECT_NE(open.errors[0].find("0 to 255"), std::string::npos) << open.errors[0];
        EXPECT_EQ(port.baud, 38400u);
        EXPECT_EQ(port.parity, LineParity::Odd);
        EXPECT_EQ(forms->Station.StationHex, "05");
    }

    // No port present: the speed is applied, then the port is refused. An adapter plugged in
    // while the box is up is listed and chosen when it closes.
    port.ports.clear();
    open.errors.clear();
    open.whileShown = [&] {
        forms->fmOpen->FormActivate();
        open.baud.Pick("19200");
        open.duringBox = [&] { port.ports = {"ttyACM0: (Orv USB)"}; };
        forms->fmOpen->Button1Click();
        open.duringBox = nullptr;
    };
    EXPECT_FALSE(forms->fmOpen->ShowModal());
    EXPECT_EQ(open.errors, std::vector<std::string>{"Choose a COM port: none is present"});
    EXPECT_EQ(port.baud, 19200u);
    EXPECT_EQ(open.port.Shown(), "ttyACM0: (Orv USB)");

    open.errors.clear();
    open.whileShown = [&] {
        open.baud.chosen = -1;
        forms->fmOpen->Button1Click();
    };
    EXPECT_FALSE(forms->fmOpen->ShowModal());
    EXPECT_EQ(open.errors, std::vector<std::string>{"Choose a baud rate: none is chosen"});

    // A failing enumeration leaves the list empty and says nothing.
    open.errors.clear();
    port.listFails = true;
    forms->fmOpen->FormActivate();
    EXPECT_TRUE(open.port.entries.empty());
    EXPECT_EQ(open.port.chosen, -1);
    EXPECT_TRUE(open.errors.empty());
}

// What the status window shows is the end-to-end test's; here leaving the connect dialog, the
// query frame and the PLC's own station taken over.
TEST_F(FormsTest, GetPlcStatusConnectsQueriesAndTakesThePlcsStation) {
    Start();
    // Left by Escape or the close box: no query follows.
    forms->fmStartup->Button1Click();
    EXPECT_EQ(open.shown, 1);
    EXPECT_EQ(port.opens, 0);
    EXPECT_FALSE(tmTimeOut.enabled);

    open.whileShown = [&] { open.Connect("ttyS7", "9600", "EVEN", "7", "10"); };
    forms->fmStartup->Button1Click();
    EXPECT_TRUE(port.open);
    EXPECT_EQ(forms->Dispatch.PortOpened, 1);
    EXPECT_EQ(startup.statusText, "Get PLC Status ....");
    EXPECT_TRUE(tmTimeOut.enabled);
    forms->fmStartup->tmTimeOutTimer();
    ASSERT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(port.WriteText(0), "\x02"
                                 "0A00D3\x03");

    const auto reply = fakes::MakeStatusReply("161", "0310", '2', '2', "0B");
    port.Receive(std::string(reply.begin(), reply.end()));
    EXPECT_EQ(status.shown, 1);
    EXPECT_EQ(open.station, "11");
    EXPECT_EQ(forms->Station.StationHex, "0B");
    EXPECT_EQ(forms->Station.PortRegisterCode, 2);
    EXPECT_TRUE(startup.nextEnabled);
}

TEST_F(FormsTest, PortThatCannotBeOpenedIsShownAndNothingStarts) {
    Start();
    port.openError = std::make_exception_ptr(
        ECommsError("Error opening serial port", "/dev/ttyS7: Permission denied."));
    open.whileShown = [&] { open.Connect("ttyS7", "9600", "EVEN", "8", "1"); };
    forms->fmStartup->Button1Click();
    EXPECT_EQ(startup.errors, std::vector<std::string>{"Error opening serial port\n"
                                                       "/dev/ttyS7: Permission denied."});
    EXPECT_EQ(forms->Dispatch.PortOpened, 0);
    EXPECT_FALSE(tmTimeOut.enabled);
    EXPECT_FALSE(startup.nextEnabled);
}

TEST_F(FormsTest, ProceedBuildsTheSpeedFrameFromTheDialogsAndOpensTheUpdateWindow) {
    Start();
    forms->Station.PortSettingWord = 0x5660; // EVEN, 8 data bits
    forms->Station.PortRegisterCode = 1;
    forms->fmStartup->btNextClick();
    EXPECT_EQ(update.shown, 1);
    // Station 1, register R04146, 0x5660 + speed code 12 for 115200.
    EXPECT_EQ(forms->Station.DownloadSpeedFrame.substr(0, 17), "\x02"
                                                               "014701R04146566C");

    // Pressed again, it takes the speed dialog's choice at that time.
    forms->fmStartup->btUpdateBaudClick();
    EXPECT_EQ(speed.shown, 1);
    speed.list.Pick("9600");
    forms->fmStartup->btNextClick();
    EXPECT_EQ(forms->Station.DownloadSpeedFrame.substr(0, 17), "\x02"
                                                               "014701R041465661");

    // A speed without a code, or a station that is no number, is refused before the update
    // window opens.
    speed.list.chosen = -1;
    forms->fmStartup->btNextClick();
    speed.list.Pick("9600");
    open.station = "x";
    forms->fmStartup->btNextClick();
    EXPECT_EQ(update.shown, 2);
    ASSERT_EQ(startup.errors.size(), 2u);
    EXPECT_EQ(startup.errors[0],
              "Choose an update speed with \"Setup Update Speed\": none is chosen");
    EXPECT_EQ(startup.errors[1].rfind("Station NO. \"x\"", 0), 0u) << startup.errors[1];
}

TEST_F(FormsTest, AboutHidesTheMainWindowAndExitStopsOnlyAnOpenedPort) {
    Start();
    bool hiddenMeanwhile = false;
    about.whileShown = [&] { hiddenMeanwhile = !startup.visible; };
    forms->fmStartup->About1Click();
    EXPECT_TRUE(hiddenMeanwhile);
    EXPECT_TRUE(startup.visible);

    forms->fmStartup->Button2Click();
    EXPECT_TRUE(startup.closed);
    EXPECT_EQ(port.closes, 0);

    Connected();
    EXPECT_TRUE(port.open);
    forms->fmStartup->Button2Click();
    EXPECT_FALSE(port.open);
    EXPECT_FALSE(tmTimeOut.enabled);
}

TEST_F(FormsTest, FileButtonShowsTheImageHeader) {
    Start();
    const std::string image = WritePlainImageFile(folder_ / "orv-1.61.bin");
    update.chosenFile = image;
    forms->fmUpdate->btnOSClick();
    ASSERT_EQ(update.offered.size(), 1u);
    EXPECT_EQ(update.offered[0].Folder, HomeFolder()) << "a first run starts in the home folder";
    EXPECT_EQ(update.fileText, image);
    EXPECT_EQ(status.title, "OS Status");
    EXPECT_EQ(status.version, "1.61");
    EXPECT_EQ(status.date, "03/2010");
    EXPECT_EQ(status.flash, "AT29C020");
    EXPECT_EQ(status.shown, 1);
    EXPECT_EQ(forms->fmUpdate->ImageHeader[23], 0x80);

    // Next time the dialog starts at that file; cancelling changes nothing.
    status.title.clear();
    update.chosenFile.reset();
    forms->fmUpdate->btnOSClick();
    EXPECT_TRUE(fs::equivalent(fs::path(update.offered[1].Folder), folder_));
    EXPECT_EQ(update.offered[1].FileName, "orv-1.61.bin");
    EXPECT_EQ(update.fileText, image);
    EXPECT_EQ(status.title, "");
    EXPECT_EQ(status.shown, 1);

    // A file with the wrong identification is refused in a box, its path kept in the file box;
    // one that cannot be read goes to the error display.
    const std::string illegal = WritePlainImageFile(folder_ / "other.bin", kMinImage, false);
    update.chosenFile = illegal;
    forms->fmUpdate->btnOSClick();
    EXPECT_EQ(update.messages, std::vector<std::string>{"File corruption or Illegal OS file"});
    EXPECT_EQ(update.fileText, illegal);
    update.chosenFile = (folder_ / "gone.bin").string();
    forms->fmUpdate->btnOSClick();
    EXPECT_EQ(update.errors.size(), 1u);
    EXPECT_EQ(status.shown, 1);
}

TEST_F(FormsTest, UpdateOsRefusesImagesWhereTheOperatorLooks) {
    Start();
    Connected();
    forms->fmStartup->btNextClick();
    const auto refused = [&](const std::string& file) {
        update.fileText = file;
        update.panel.clear();
        forms->fmUpdate->btDUReroroClick();
        EXPECT_EQ(forms->fmUpdate->Sequence().UpdateState, UpdateSequence::Idle);
        EXPECT_TRUE(update.Enabled(TUpdateButton::btDUReroro));
        EXPECT_FALSE(update.Enabled(TUpdateButton::btAbort));
    };
    const size_t sent = port.writes.size();
    refused("  ");
    const std::string missing = (folder_ / "missing.bin").string();
    refused(missing);
    EXPECT_EQ(update.messages,
              (std::vector<std::string>{"Choose an OS file first",
                                        "OS File << " + missing + " >> not Exist !!"}));
    refused(WritePlainImageFile(folder_ / "small.bin", kMinImage - 1));
    EXPECT_EQ(update.panel, "OS File Size Error!!");
    refused(WritePlainImageFile(folder_ / "wrong-id.bin", kMinImage, false));
    EXPECT_EQ(update.panel, "OS File ID Error!!");
    EXPECT_EQ(port.writes.size(), sent);
}

// "Update OS" reads the connect and speed dialogs' choices when it needs them; the stop question
// is the stop-PLC window's; the close box during a run restores the speed, and the window is
// ready for a run when it next opens. The run leaves one line in the update history.
TEST_F(FormsTest, UpdateWindowRunsTheSequenceWithTheDialogsChoices) {
    Start();
    Connected();
    speed.list.Pick("57600");
    const std::string image = WritePlainImageFile(folder_ / "orv.bin");
    const std::string history = (folder_ / "state" / "history.jsonl").string();
    forms->fmUpdate->Record().Path = history;
    update.whileShown = [&] {
        update.fileText = image;
        forms->fmUpdate->btDUReroroClick();
        EXPECT_EQ(update.panel, "Change Download Speed ...");
        EXPECT_TRUE(update.Enabled(TUpdateButton::btAbort));
        EXPECT_FALSE(update.Enabled(TUpdateButton::btExit));
        EXPECT_FALSE(update.Enabled(TUpdateButton::btnOS));
        EXPECT_EQ(port.dataBits, 7);
        forms->fmUpdate->CommSendDataEmpty();
        port.Receive("\x02"
                     "01470"
                     "FE\x03");
        EXPECT_EQ(port.baud, 57600u);
        EXPECT_EQ(port.WriteText(port.writes.size() - 1), "\x02"
                                                          "013EDB\x03");
        // Refused: the PLC runs. No to the question halts the run.
        port.Receive("\x02"
                     "013E1"
                     "00\x03");
        EXPECT_EQ(stopPlc.asked, 1);
        EXPECT_FALSE(forms->fmUpdate->FormCloseQuery());
        EXPECT_EQ(forms->fmUpdate->Sequence().UpdateState, UpdateSequence::RestoreSpeed);
        EXPECT_EQ(update.panel, "Restore Speed ...");
        port.Receive("\x02"
                     "01470"
                     "FE\x03");
        EXPECT_TRUE(update.ended);
    };
    forms->fmStartup->btNextClick();
    EXPECT_EQ(update.shown, 1);
    EXPECT_EQ(forms->fmUpdate->Sequence().UpdateState, UpdateSequence::Idle);
    EXPECT_TRUE(update.Enabled(TUpdateButton::btDUReroro));
    EXPECT_TRUE(update.Enabled(TUpdateButton::btExit));
    EXPECT_FALSE(update.Enabled(TUpdateButton::btAbort));
    EXPECT_EQ(update.fileText, image);

    // Halted by No, then aborted by the close box: one run, one line.
    const HistoryReading lines = ReadHistory(history);
    ASSERT_EQ(lines.Entries.size(), 1u);
    const HistoryEntry& e = lines.Entries[0];
    EXPECT_EQ(e.Result, "failed");
    EXPECT_EQ(e.Message, "PLC is Running !!: not stopped");
    EXPECT_EQ(e.Port, "ttyS7");
    EXPECT_EQ(e.Station, 1);
    EXPECT_EQ(e.Image, image);
    EXPECT_EQ(e.ImageSize, static_cast<long long>(fs::file_size(image)));
    ASSERT_TRUE(e.Before && e.ImageOs);
    EXPECT_EQ(e.Before->Version, "1.61");
    EXPECT_EQ(e.Before->Date, "03/2010");
    EXPECT_EQ(e.Program.rfind("orv-os-update ", 0), 0u);
}

// The end of the session: idle, it may end, the settings saved at once; during a run, not.
// Ending anyway aborts the run and sends the restore-speed command, waits for its reply only as
// long as it is given, then closes the program: the port stopped, the settings saved.
TEST_F(FormsTest, SessionEndRefusesDuringARunAndEndsItWithinItsTime) {
    Start();
    Connected();
    open.station = "12";
    EXPECT_TRUE(forms->QueryEndSession());
    EXPECT_EQ(std::get<std::string>(stored->keys[kRegKeyPath]["Station"]), "12");
    open.station = "1";
    const std::string image = WritePlainImageFile(folder_ / "orv.bin");
    int pumped = 0;
    const auto endDuringARun = [&](const std::function<void(int)>& pump, int waitMs) {
        update.fileText = image;
        forms->fmUpdate->btDUReroroClick();
        forms->fmUpdate->CommSendDataEmpty();
        EXPECT_FALSE(forms->QueryEndSession());
        pumped = 0;
        startup.closed = false;
        forms->EndSession(pump, waitMs);
        // The restore-speed command.
        EXPECT_EQ(port.WriteText(port.writes.size() - 1).substr(0, 5), "\x02"
                                                                       "0147");
        EXPECT_TRUE(update.ended);
        EXPECT_TRUE(startup.closed);
        EXPECT_FALSE(port.open);
    };
    // No reply: the wait ends when its time is up.
    update.whileShown = [&] {
        const auto start = std::chrono::steady_clock::now();
        endDuringARun(
            [&](int ms) {
                ++pumped;
                std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 10)));
            },
            40);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_GE(pumped, 2);
    };
    forms->fmStartup->btNextClick();
    // The reply ends it at once.
    update.whileShown = [&] {
        endDuringARun(
            [&](int) {
                ++pumped;
                port.Receive("\x02"
                             "01470"
                             "FE\x03");
            },
            kSessionEndWaitMs);
        EXPECT_EQ(pumped, 1);
    };
    forms->fmStartup->btNextClick();
    EXPECT_EQ(update.shown, 2);
}

TEST_F(FormsTest, ReceivedDataGoesToTheCurrentHandlerUntilTheFormsAreGone) {
    TOrvForms& app = Start();
    std::vector<std::string> heard;
    app.Dispatch.ReplyHandler = [&](const uint8_t* buffer, uint16_t length) {
        heard.emplace_back(reinterpret_cast<const char*>(buffer), length);
    };
    port.Receive("\x02"
                 "01");
    app.Dispatch.AbortRequested = true;
    port.Receive("dropped");
    app.Dispatch.AbortRequested = false;
    port.Receive("\x02");
    EXPECT_EQ(heard, (std::vector<std::string>{"\x02"
                                               "01",
                                               "\x02"}));

    // A handler that fails is reported, and the window goes on.
    app.Dispatch.ReplyHandler = [](const uint8_t*, uint16_t) {
        throw std::runtime_error("reply handler failed");
    };
    port.Receive("x");
    EXPECT_EQ(update.errors, std::vector<std::string>{"reply handler failed"});

    // At program end the port is stopped, once it was opened, and no event reaches the forms.
    Connected();
    update.fileText = "/srv/os/orv.os";
    Stop();
    EXPECT_FALSE(port.open);
    EXPECT_FALSE(port.OnReceiveData || port.OnSendDataEmpty || port.OnRequestHangup);
    EXPECT_EQ(std::get<std::string>(stored->keys[kRegKeyPath]["OSFile"]), "/srv/os/orv.os");
}

} // namespace
} // namespace orv
