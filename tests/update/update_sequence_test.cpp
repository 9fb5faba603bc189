#include "common/crc16.h"
#include "link_fakes.h"
#include "status_reply_builder.h"
#include "update/update_sequence.h"

#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace orv;
using orv::fakes::FakePort;
using orv::fakes::FakeTimer;

namespace {

class FakeUpdateView : public IUpdateView {
public:
    void SetPanelStatus(const std::string& text) override { panel.push_back(text); }
    void SetStatusBar(const std::string& text) override { bar.push_back(text); }
    void SetGauge(int percent) override { gauge.push_back(percent); }
    void SetBusyButtons() override {
        busy = true;
        abortEnabled = true;
        exitEnabled = false;
    }
    void SetIdleButtons() override {
        busy = false;
        abortEnabled = false;
        exitEnabled = true;
    }
    void SetAbortEnabled(bool enabled) override { abortEnabled = enabled; }
    void SetExitEnabled(bool enabled) override { exitEnabled = enabled; }
    void ShowMessage(const std::string& text) override {
        messages.push_back(text);
        if (duringModal)
            duringModal();
    }
    bool AskStopPlc() override {
        ++questions;
        if (duringModal)
            duringModal();
        return answerYes;
    }
    void CloseWindow() override {
        ++closes;
        if (onClose)
            onClose();
    }
    void Wait(int ms) override { waits.push_back(ms); }
    std::optional<PreparedImage> PrepareImage() override {
        ++prepares;
        return image;
    }
    bool ConnectEightDataBits() override { return eightBits; }
    int ConnectSpeedIndex() override { return connectSpeedIndex; }
    std::string UpdateSpeedText() override { return updateSpeed; }
    std::string StationText() override { return station; }

    std::string LastPanel() const { return panel.empty() ? "" : panel.back(); }
    std::string LastBar() const { return bar.empty() ? "" : bar.back(); }

    std::vector<std::string> panel, bar, messages;
    std::vector<int> gauge, waits;
    bool busy = false, abortEnabled = false, exitEnabled = true;
    int questions = 0, closes = 0, prepares = 0;
    bool answerYes = true;
    std::function<void()> duringModal, onClose;
    std::optional<PreparedImage> image;
    bool eightBits = false;
    int connectSpeedIndex = 0; // 9600
    std::string updateSpeed = "115200";
    std::string station = "1";
};

PreparedImage MakeImage(int pageCount, int firstPage) {
    PreparedImage image;
    image.PageCount = pageCount;
    image.FirstPage = firstPage;
    image.Bytes.resize(static_cast<size_t>(pageCount) * kPageSize);
    uint32_t x = 12345;
    for (auto& b : image.Bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return image;
}

std::string Frame(const std::string& body) {
    return "\x02" + body + "\x03";
}

class UpdateSequenceTest : public ::testing::Test {
protected:
    UpdateSequenceTest() {
        station.StationHex = "01";
        station.PortSettingWord = ComputePortSettingWord(false, 1); // 7 data bits, ODD
        BuildSpeedFrame(station, 1, 4);                             // to 115200
        port.baud = 9600;
        port.dataBits = 7;
        port.parity = LineParity::Odd;
        view.image = MakeImage(6, 3);
        view.onClose = [this] { seq.FormClose(); };
    }

    // Every write leaves the send buffer at once, and its event arms Timer2.
    void Drain() {
        while (drained < port.writes.size()) {
            ++drained;
            seq.CommSendDataEmpty();
        }
    }
    void Start() {
        seq.btDUReroroClick();
        Drain();
    }
    void Reply(const std::vector<uint8_t>& bytes) {
        dispatch.Dispatch(bytes.data(), static_cast<uint16_t>(bytes.size()));
        Drain();
    }
    void Reply(const std::string& text) { Reply(std::vector<uint8_t>(text.begin(), text.end())); }
    // Timer2 fires only while enabled, as a real one would.
    void Tick() {
        if (timer.enabled)
            seq.Timer2Timer();
        Drain();
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i)
            Tick();
    }
    void Ack() { Reply(std::vector<uint8_t>{0x01, 0x0D}); }
    std::string Sent(size_t i) const { return port.WriteText(i); }
    std::string LastSent() const { return port.WriteText(port.writes.size() - 1); }
    int PageOf(const std::vector<uint8_t>& frame) const { return frame.at(4) << 8 | frame.at(5); }

    const std::string speedUp = Frame("01470093");
    const std::string modeOk = Frame("013E00B");
    const std::string modeRefused = Frame("013E10C");
    const std::string stopOk = Frame("01410F8");
    const std::string changeMode = Frame("013EDB");
    const std::string stopPlc = Frame("01410F8");

    FakePort port;
    FakeTimer timer;
    FakeUpdateView view;
    StationState station;
    ReplyDispatch dispatch;
    UpdateSequence seq{port, timer, view, station, dispatch};
    size_t drained = 0;
};

} // namespace

TEST_F(UpdateSequenceTest, FullRunOrderMarksGaugeAndLineSettings) {
    view.image = MakeImage(544, 128);
    const PreparedImage image = *view.image;
    Start();
    EXPECT_EQ(timer.interval, 800);
    EXPECT_TRUE(view.busy);
    EXPECT_EQ(seq.UpdateState, UpdateSequence::ChangeSpeed);
    EXPECT_EQ(view.LastPanel(), "Change Download Speed ...");
    EXPECT_EQ(view.LastBar(), "Change Download Speed ..");
    ASSERT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(Sent(0), station.DownloadSpeedFrame);
    EXPECT_EQ(Sent(0).substr(1, 16), "014701R0405056AC");
    EXPECT_TRUE(dispatch.PortOpened);
    // "Update OS": data bits from the connect dialog, the rest unchanged.
    EXPECT_EQ(port.baud, 9600u);
    EXPECT_EQ(port.dataBits, 7);
    EXPECT_EQ(port.parity, LineParity::Odd);

    Reply(std::vector<uint8_t>{0x06});
    EXPECT_EQ(seq.UpdateState, UpdateSequence::ChangeMode);
    EXPECT_EQ(LastSent(), changeMode);
    EXPECT_EQ(port.baud, 115200u);
    EXPECT_EQ(port.dataBits, 7);
    EXPECT_EQ(port.parity, LineParity::Odd);
    EXPECT_EQ(view.LastPanel(), "Change Mode ...");
    EXPECT_EQ(view.LastBar(), "Change Mode ..");

    Reply(modeOk);
    EXPECT_EQ(seq.UpdateState, UpdateSequence::Programming);
    EXPECT_EQ(view.waits, std::vector<int>{200});
    EXPECT_EQ(port.dataBits, 8);
    EXPECT_EQ(port.parity, LineParity::Even);
    EXPECT_EQ(port.baud, 115200u);
    EXPECT_TRUE(view.abortEnabled);
    EXPECT_FALSE(view.exitEnabled);
    EXPECT_EQ(view.bar.back(), "Update OS ..");
    EXPECT_EQ(view.LastPanel(), "page #0");

    const size_t firstPageWrite = port.writes.size() - 1;
    for (int i = 0; i < 1 + (544 - 128); ++i)
        Ack();
    EXPECT_EQ(view.LastPanel(), "DU Reroro ... OK!!");
    EXPECT_EQ(view.LastBar(), "");
    EXPECT_FALSE(view.busy);
    EXPECT_FALSE(seq.Image);
    EXPECT_EQ(port.dataBits, 7);
    EXPECT_EQ(port.parity, LineParity::Even);
    EXPECT_EQ(port.baud, 115200u);
    EXPECT_FALSE(timer.enabled);

    // Pages 0, 128 .. 543; only the last carries 0xFF; each frame checks and holds its page.
    std::vector<int> pages;
    for (size_t i = firstPageWrite; i < port.writes.size(); ++i) {
        const auto& f = port.writes[i];
        ASSERT_EQ(f.size(), kPageFrameSize);
        const int page = PageOf(f);
        pages.push_back(page);
        EXPECT_EQ(f[0], 1);
        EXPECT_EQ(f[1], 0x0D);
        EXPECT_EQ(f[2], 0x13);
        EXPECT_EQ(f[3], page == 543 ? 0xFF : 0x01) << page;
        EXPECT_EQ(CRC16(f.data(), static_cast<uint32_t>(f.size()), kCrcInit), 0) << page;
        EXPECT_TRUE(std::equal(f.begin() + 8, f.begin() + 264,
                               image.Bytes.begin() + static_cast<long>(page) * 256));
    }
    std::vector<int> expected{0};
    for (int p = 128; p < 544; ++p)
        expected.push_back(p);
    EXPECT_EQ(pages, expected);

    // The gauge: 0 at the start, page 0 and the first page, rising to 99, then 100.
    ASSERT_EQ(view.gauge.size(), 1u + 417u + 1u);
    EXPECT_EQ(view.gauge[0], 0);
    EXPECT_EQ(view.gauge[1], 0);
    EXPECT_EQ(view.gauge[2], 0);
    EXPECT_EQ(view.gauge[view.gauge.size() - 2], 99);
    EXPECT_EQ(view.gauge.back(), 100);
    EXPECT_TRUE(std::is_sorted(view.gauge.begin(), view.gauge.end()));
    EXPECT_EQ(view.panel[view.panel.size() - 2], "page #543");

    // A stray acknowledgement after completion sends nothing.
    const size_t writes = port.writes.size();
    Ack();
    Ticks(3);
    EXPECT_EQ(port.writes.size(), writes);
    EXPECT_TRUE(view.messages.empty());

    // Exit restores the connect speed (9600), then closes on a reply of two bytes or more.
    seq.btExitClick();
    Drain();
    EXPECT_EQ(LastSent(), Frame("014701R0405056A157"));
    EXPECT_EQ(view.LastPanel(), "Restore Speed ...");
    EXPECT_EQ(view.LastBar(), "Restore Speed ..");
    EXPECT_EQ(port.baud, 115200u); // the PC keeps the download speed
    // Nothing can be pressed until the restore is over ("Update OS" would start a run whose
    // speed change the restore reply would answer).
    EXPECT_TRUE(view.busy);
    EXPECT_FALSE(view.abortEnabled);
    Reply(std::vector<uint8_t>{0x02});
    EXPECT_EQ(view.closes, 0);
    Reply(stopOk); // a late answer to another command
    EXPECT_EQ(view.closes, 0);
    Reply(speedUp); // the register write's own answer
    EXPECT_EQ(view.closes, 1);
    EXPECT_EQ(seq.UpdateState, UpdateSequence::Idle);
    EXPECT_FALSE(view.busy);
    EXPECT_FALSE(view.abortEnabled);
}

TEST_F(UpdateSequenceTest, NoPlcRoadThenExitRestoresFourTimesAndCloses) {
    view.eightBits = true;
    Start();
    for (int n = 1; n <= 4; ++n) {
        Tick();
        EXPECT_EQ(LastSent(), station.DownloadSpeedFrame);
        EXPECT_EQ(view.LastBar(), "Change Download Baud .. Try #" + std::to_string(n));
    }
    EXPECT_EQ(port.writes.size(), 5u);
    EXPECT_EQ(port.baud, 9600u);
    Tick(); // the 5th carries on as if the PLC had answered
    EXPECT_EQ(seq.UpdateState, UpdateSequence::ChangeMode);
    EXPECT_EQ(port.baud, 115200u);
    EXPECT_EQ(LastSent(), changeMode);
    for (int n = 1; n <= 5; ++n) {
        Tick();
        EXPECT_EQ(LastSent(), changeMode);
        EXPECT_EQ(view.LastBar(), "Change Mode .. Try #" + std::to_string(n));
    }
    EXPECT_EQ(port.writes.size(), 11u);
    Tick(); // the 6th starts blind, without the wait
    EXPECT_EQ(seq.UpdateState, UpdateSequence::Programming);
    EXPECT_TRUE(seq.BlindTry);
    EXPECT_TRUE(view.waits.empty());
    EXPECT_EQ(view.LastBar(), "Blind try Update OS ..");
    EXPECT_EQ(view.LastPanel(), "Blind try page #0");
    EXPECT_EQ(port.dataBits, 8);
    EXPECT_EQ(port.parity, LineParity::Even);
    EXPECT_EQ(PageOf(port.writes.back()), 0);
    for (int n = 1; n <= 5; ++n) {
        Tick();
        EXPECT_EQ(view.LastBar(), "Prog .. Try #" + std::to_string(n));
        EXPECT_EQ(PageOf(port.writes.back()), 0);
    }
    EXPECT_EQ(port.writes.size(), 17u);
    EXPECT_TRUE(view.messages.empty());
    Tick();
    EXPECT_EQ(view.messages, std::vector<std::string>{"Comm. No response abandon update"});
    EXPECT_FALSE(view.busy);
    EXPECT_FALSE(timer.enabled);
    EXPECT_EQ(port.writes.size(), 17u);

    // Nothing moves after giving up: not a tick, not a stray acknowledgement.
    seq.Timer2Timer();
    Ack();
    EXPECT_EQ(port.writes.size(), 17u);
    EXPECT_EQ(view.messages.size(), 1u);

    seq.btExitClick();
    Drain();
    Ticks(10);
    EXPECT_EQ(view.closes, 1);
    ASSERT_EQ(port.writes.size(), 21u);
    for (size_t i = 17; i < 21; ++i)
        EXPECT_EQ(Sent(i).substr(1, 16), "014701R0405056A1");
    EXPECT_FALSE(timer.enabled);
}

TEST_F(UpdateSequenceTest, BlindStartFirstAckClearsBlindAndGoesToFirstPage) {
    Start();
    Ticks(5 + 6);
    ASSERT_TRUE(seq.BlindTry);
    Reply(std::vector<uint8_t>{0x0D}); // a single byte is no answer
    EXPECT_TRUE(seq.BlindTry);
    EXPECT_TRUE(timer.enabled);
    Reply(std::vector<uint8_t>{0x55, 0x0D, 0x00});
    EXPECT_FALSE(seq.BlindTry);
    EXPECT_EQ(seq.CurrentPage, 3);
    EXPECT_EQ(PageOf(port.writes.back()), 3);
    EXPECT_EQ(view.LastPanel(), "page #3");
}

TEST_F(UpdateSequenceTest, SingleByteMovesOnlyChangeSpeed) {
    Start();
    Reply(std::vector<uint8_t>{'0'});
    ASSERT_EQ(seq.UpdateState, UpdateSequence::ChangeMode);
    const size_t writes = port.writes.size();
    Reply(std::vector<uint8_t>{'0'});
    EXPECT_EQ(seq.UpdateState, UpdateSequence::ChangeMode);
    EXPECT_TRUE(timer.enabled);
    EXPECT_EQ(port.writes.size(), writes);
    Reply(modeOk);
    Reply(std::vector<uint8_t>{0x0D});
    EXPECT_EQ(seq.CurrentPage, 0);
    EXPECT_TRUE(timer.enabled);
}

TEST_F(UpdateSequenceTest, RefusedPageEndsInProgNackAndStraysAreIgnored) {
    Start();
    Reply(speedUp);
    Reply(modeOk);
    Ack();
    ASSERT_EQ(seq.CurrentPage, 3);
    const size_t writes = port.writes.size();
    Reply(std::vector<uint8_t>{0x0D, 0x15}); // starts with CR, but byte 1 decides
    EXPECT_EQ(view.messages,
              std::vector<std::string>{
                  "Prog NACK\nThe PLC refused page 3 (it answered 0D 15 hex) and is left in "
                  "download mode at 115200 bit/s. Run the update again; switching the PLC off and "
                  "on returns it to its old speed."});
    EXPECT_EQ(seq.UpdateState, UpdateSequence::Idle);
    EXPECT_FALSE(view.busy);
    Ack();
    Ticks(8);
    EXPECT_EQ(port.writes.size(), writes);
    EXPECT_EQ(view.messages.size(), 1u);
}

TEST_F(UpdateSequenceTest, RefusedPagesGoAgainUpToNakRetriesEachThenProgNack) {
    seq.NakRetries = 2;
    port.readInterval = 37;
    Start();
    Reply(speedUp);
    Reply(modeOk);
    Ack();
    ASSERT_EQ(seq.CurrentPage, 3);
    const std::vector<uint8_t> nak{0x15, 0x15};
    Reply(nak);
    Reply(nak);
    EXPECT_EQ(view.LastBar(), "Prog NACK .. Try #2");
    ASSERT_EQ(PageOf(port.writes.back()), 3);
    size_t writes = port.writes.size();
    // Either copy may be the one acknowledged: the next page waits for a quiet line.
    Ack();
    EXPECT_EQ(port.writes.size(), writes);
    EXPECT_EQ(timer.interval, 37);
    Tick();
    ASSERT_EQ(PageOf(port.writes.back()), 4);
    EXPECT_EQ(timer.interval, 800);

    // Each page has its own retries; a time-out in between does not count as one.
    Reply(nak);
    Tick();
    Reply(nak);
    writes = port.writes.size();
    EXPECT_TRUE(view.messages.empty());
    Reply(nak);
    EXPECT_EQ(port.writes.size(), writes);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].rfind("Prog NACK\nThe PLC refused page 4", 0), 0u);
    EXPECT_EQ(seq.UpdateState, UpdateSequence::Idle);
}

TEST_F(UpdateSequenceTest, StopQuestionYesStopsThenChangesModeAgain) {
    Start();
    Reply(speedUp);
    Reply(modeRefused);
    EXPECT_EQ(view.questions, 1);
    EXPECT_EQ(seq.UpdateState, UpdateSequence::StopPlc);
    EXPECT_EQ(LastSent(), stopPlc);
    EXPECT_EQ(view.LastBar(), "Stop PLC ..");
    Tick();
    EXPECT_EQ(LastSent(), stopPlc);
    EXPECT_EQ(view.LastBar(), "Stop PLC .. Try #1");
    EXPECT_EQ(seq.RetryCount, 1);

    Reply(stopOk);
    EXPECT_EQ(seq.UpdateState, UpdateSequence::ChangeMode);
    EXPECT_EQ(seq.RetryCount, 0);
    EXPECT_EQ(LastSent(), changeMode);
    EXPECT_EQ(view.LastPanel(), "Change Mode ...");
    EXPECT_TRUE(timer.enabled); // armed by the send-buffer-empty event
    Reply(modeOk);
    EXPECT_EQ(seq.UpdateState, UpdateSequence::Programming);
    EXPECT_EQ(view.waits, std::vector<int>{200});
}

TEST_F(UpdateSequenceTest, StopQuestionNoHalts) {
    view.answerYes = false;
    Start();
    Reply(speedUp);
    const size_t writes = port.writes.size();
    Reply(modeRefused);
    EXPECT_EQ(view.questions, 1);
    EXPECT_EQ(seq.UpdateState, UpdateSequence::ChangeMode);
    EXPECT_EQ(view.LastBar(), "");
    EXPECT_FALSE(timer.enabled);
    EXPECT_EQ(port.writes.size(), writes);
    EXPECT_TRUE(view.abortEnabled);
    EXPECT_FALSE(view.exitEnabled);

    // Halted, it waits for the operator: neither a hang-up nor a late acceptance moves it.
    seq.CommRequestHangup();
    EXPECT_FALSE(timer.enabled);
    Ticks(10);
    Reply(modeOk);
    EXPECT_EQ(seq.UpdateState, UpdateSequence::ChangeMode);
    EXPECT_EQ(port.writes.size(), writes);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(UpdateSequenceTest, StopRefusedAndUnansweredStop) {
    Start();
    Reply(speedUp);
    Reply(modeRefused);
    Reply(Frame("01411F9"));
    EXPECT_EQ(view.messages, std::vector<std::string>{"PLC Can't Stop"});
    EXPECT_EQ(view.LastBar(), "");
    EXPECT_EQ(seq.UpdateState, UpdateSequence::StopPlc);
    EXPECT_FALSE(timer.enabled);
    EXPECT_TRUE(view.busy);
    seq.CommRequestHangup();
    Reply(stopOk);
    Ticks(6);
    EXPECT_EQ(seq.UpdateState, UpdateSequence::StopPlc);
    EXPECT_EQ(view.messages.size(), 1u);

    // The same run again, with the stop command never answered.
    view.messages.clear();
    seq.btAbortClick();
    Start();
    Reply(speedUp);
    Reply(modeRefused);
    const size_t first = port.writes.size();
    Ticks(6);
    EXPECT_EQ(port.writes.size(), first + 5);
    EXPECT_EQ(view.messages, std::vector<std::string>{"Comm. No response abandon update"});
    EXPECT_FALSE(view.busy);
    Reply(stopOk); // too late: the run is over
    EXPECT_EQ(port.writes.size(), first + 5);
}

TEST_F(UpdateSequenceTest, AbortStopsRetriesAndLateAcksThenExitRestores) {
    Start();
    Reply(speedUp);
    Reply(modeOk);
    Ack();
    const size_t writes = port.writes.size();
    seq.btAbortClick();
    EXPECT_TRUE(dispatch.AbortRequested);
    EXPECT_EQ(view.LastPanel(), "Comm. Aborted!!");
    EXPECT_FALSE(view.busy);
    EXPECT_EQ(seq.UpdateState, UpdateSequence::Programming);
    seq.Timer2Timer();
    seq.CommSendDataEmpty();
    Ticks(10);
    Ack();
    seq.OnUpdateReply(std::vector<uint8_t>{0x01, 0x0D}.data(), 2);
    EXPECT_EQ(port.writes.size(), writes);
    EXPECT_TRUE(view.messages.empty());

    seq.btExitClick();
    Drain();
    EXPECT_FALSE(dispatch.AbortRequested);
    EXPECT_EQ(port.writes.size(), writes + 1);
    Ack();
    EXPECT_EQ(view.closes, 1);
}

TEST_F(UpdateSequenceTest, ExitWithoutStartSendsNothing) {
    seq.btExitClick();
    EXPECT_EQ(view.closes, 1);
    EXPECT_TRUE(port.writes.empty());
    EXPECT_FALSE(timer.enabled);
}

TEST_F(UpdateSequenceTest, ModalWindowsDropBlocksAndTicks) {
    Start();
    Reply(speedUp);
    // While the stop question is open: more refusals, an acceptance and a tick arrive.
    int nested = 0;
    view.duringModal = [&] {
        if (++nested > 1)
            return; // a second question already shows the fault; do not recurse further
        Reply(modeRefused);
        Reply(modeOk);
        timer.enabled = true;
        Tick();
    };
    const size_t writes = port.writes.size();
    Reply(modeRefused);
    EXPECT_EQ(view.questions, 1);
    EXPECT_EQ(nested, 1);
    ASSERT_EQ(port.writes.size(), writes + 1);
    EXPECT_EQ(LastSent(), stopPlc);
    EXPECT_EQ(seq.UpdateState, UpdateSequence::StopPlc);

    // While "Prog NACK" is open an acknowledgement must not send the next page.
    view.duringModal = nullptr;
    Reply(stopOk);
    Reply(modeOk);
    view.duringModal = [&] { Ack(); };
    const size_t before = port.writes.size();
    Reply(std::vector<uint8_t>{0x01, 0x15});
    EXPECT_EQ(port.writes.size(), before);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].rfind("Prog NACK\n", 0), 0u);
}

TEST_F(UpdateSequenceTest, LateRepliesNeverAnswerALaterRequest) {
    Start();
    // A late answer to the status query is no answer to the speed change.
    const auto status = fakes::MakeStatusReply();
    Reply(std::vector<uint8_t>(status.begin(), status.end()));
    EXPECT_EQ(seq.UpdateState, UpdateSequence::ChangeSpeed);
    EXPECT_TRUE(timer.enabled);
    Reply(speedUp);

    // A running PLC that answers late: the stop command goes out twice and is answered twice.
    Reply(modeRefused);
    Tick();
    Reply(stopOk);
    ASSERT_EQ(LastSent(), changeMode);
    Reply(stopOk); // the second stop's answer is not the change mode's
    EXPECT_EQ(seq.UpdateState, UpdateSequence::ChangeMode);
    EXPECT_TRUE(timer.enabled);
    Tick();
    Reply(modeOk);
    ASSERT_EQ(seq.UpdateState, UpdateSequence::Programming);
    Reply(modeOk); // the second change mode's answer is not page 0's
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(seq.CurrentPage, 0);
    EXPECT_TRUE(timer.enabled);
    Ack();
    ASSERT_EQ(seq.CurrentPage, 3);

    // Page 3 is acknowledged late, after it went out again: both copies are acknowledged, and
    // page 4 goes out only once the line has been quiet for the port's read interval.
    port.readInterval = 37;
    Tick();
    const size_t writes = port.writes.size();
    Ack();
    EXPECT_EQ(port.writes.size(), writes);
    EXPECT_TRUE(timer.enabled);
    EXPECT_EQ(timer.interval, 37);
    Ack();
    EXPECT_EQ(port.writes.size(), writes);
    Tick();
    ASSERT_EQ(port.writes.size(), writes + 1);
    EXPECT_EQ(PageOf(port.writes.back()), 4);
    EXPECT_EQ(timer.interval, 800);
    Ack();
    ASSERT_EQ(seq.CurrentPage, 5); // the last page

    // The last page goes out again and is acknowledged before the copy has left the port: the
    // wait starts when it has. The copy is then refused: that is reported, not success.
    seq.Timer2Timer();
    const std::vector<uint8_t> ack{0x06, 0x0D};
    dispatch.Dispatch(ack.data(), 2);
    EXPECT_FALSE(timer.enabled);
    Drain();
    EXPECT_TRUE(timer.enabled);
    Reply(std::vector<uint8_t>{0x06, 0x15});
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(
        view.messages[0].rfind("Prog NACK\nThe PLC refused page 5 (it answered 06 15 hex)", 0), 0u);
    for (const std::string& panel : view.panel)
        EXPECT_NE(panel, "DU Reroro ... OK!!");
    Ticks(3);
    EXPECT_EQ(port.writes.size(), writes + 3);
}

TEST_F(UpdateSequenceTest, CloseRequestDuringARunAbortsThenRestores) {
    // No run: the window may close, and nothing goes out.
    EXPECT_TRUE(seq.FormCloseQuery());
    EXPECT_TRUE(port.writes.empty());

    Start();
    Reply(speedUp);
    Reply(modeOk);
    Ack();
    EXPECT_FALSE(seq.FormCloseQuery());
    EXPECT_FALSE(dispatch.AbortRequested);
    EXPECT_EQ(seq.UpdateState, UpdateSequence::RestoreSpeed);
    EXPECT_EQ(LastSent().substr(1, 16), "014701R0405056A1");
    Drain();
    EXPECT_FALSE(seq.FormCloseQuery()); // the restore closes the window by itself
    Ticks(4);
    EXPECT_EQ(view.closes, 1);
    EXPECT_FALSE(view.busy);

    // A run halted at the stop question is stopped the same way.
    view.answerYes = false;
    Start();
    Reply(speedUp);
    Reply(modeRefused);
    EXPECT_FALSE(seq.FormCloseQuery());
    EXPECT_EQ(seq.UpdateState, UpdateSequence::RestoreSpeed);
    Reply(speedUp);
    EXPECT_EQ(view.closes, 2);
    EXPECT_FALSE(view.busy);
}

TEST_F(UpdateSequenceTest, RefusedWritesStillRunOutToAFailure) {
    Start();
    Reply(speedUp);
    Reply(modeOk);
    port.refuseWrites = true; // the adapter has gone: no send-buffer-empty events any more
    Ack();
    EXPECT_TRUE(timer.enabled);
    Ticks(6);
    EXPECT_EQ(view.messages, std::vector<std::string>{"Comm. No response abandon update"});
    EXPECT_FALSE(view.busy);
    seq.btExitClick();
    Ticks(4);
    EXPECT_EQ(view.closes, 1);
}

TEST_F(UpdateSequenceTest, StartRefusalsChangeNothing) {
    view.station = "x1";
    EXPECT_THROW(seq.btDUReroroClick(), std::invalid_argument);
    view.station = "1";
    view.updateSpeed = "fast";
    EXPECT_THROW(seq.btDUReroroClick(), std::invalid_argument);
    EXPECT_EQ(view.prepares, 0);
    view.updateSpeed = "115200";

    view.image.reset(); // PrepareImage has reported its own failure
    seq.btDUReroroClick();
    EXPECT_EQ(view.prepares, 1);

    PreparedImage bad = MakeImage(6, 3);
    bad.Bytes.resize(size_t{5} * 256); // fewer bytes than pages
    view.image = bad;
    EXPECT_THROW(seq.btDUReroroClick(), std::invalid_argument);
    EXPECT_FALSE(view.busy);
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(seq.UpdateState, UpdateSequence::Idle);

    view.image = MakeImage(6, 3);
    port.failOpen = true;
    EXPECT_THROW(seq.btDUReroroClick(), std::runtime_error);
    EXPECT_FALSE(view.busy);
    EXPECT_FALSE(seq.Image);
    EXPECT_EQ(seq.UpdateState, UpdateSequence::Idle);
    EXPECT_TRUE(port.writes.empty());
    EXPECT_FALSE(timer.enabled);
    EXPECT_FALSE(seq.SpeedChanged);
}

TEST_F(UpdateSequenceTest, ExitWithAnUnsendableSpeedKeepsTheRun) {
    Start();
    Reply(speedUp);
    Reply(modeOk);
    seq.btAbortClick();
    view.connectSpeedIndex = 7;
    const std::string before = station.DownloadSpeedFrame;
    EXPECT_THROW(seq.btExitClick(), EFrameError);
    EXPECT_TRUE(seq.SpeedChanged);
    EXPECT_EQ(station.DownloadSpeedFrame, before);
    view.connectSpeedIndex = 2;
    seq.btExitClick();
    EXPECT_EQ(LastSent().substr(1, 16), "014701R0405056A3");
}
