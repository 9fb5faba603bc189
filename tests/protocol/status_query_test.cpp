#include "link_fakes.h"
#include "protocol/status_query.h"
#include "status_reply_builder.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace orv;
using orv::fakes::FakePort;
using orv::fakes::FakeTimer;

namespace {

class FakeStatusView : public IStatusView {
public:
    std::string StationText() override { return station; }
    void SetStationText(const std::string& text) override { station = text; }
    void SetStatusBar(const std::string& text) override { statusBar = text; }
    void ShowMessage(const std::string& text) override {
        messages.push_back(text);
        if (duringModal)
            duringModal();
    }
    void ShowPlcStatus(const StatusReply& reply) override {
        shown.push_back(reply);
        if (duringModal)
            duringModal();
    }
    void ShowStartupWindow() override { ++startupShown; }
    void EnableUpdateButtons() override { ++buttonsEnabled; }

    std::string station = "1";
    std::string statusBar;
    std::vector<std::string> messages;
    std::vector<StatusReply> shown;
    int startupShown = 0;
    int buttonsEnabled = 0;
    std::function<void()> duringModal;
};

class StatusQueryTest : public ::testing::Test {
protected:
    void Deliver(const uint8_t* block, uint16_t length) { dispatch.Dispatch(block, length); }
    template <size_t N>
    void Deliver(const std::array<uint8_t, N>& block) {
        Deliver(block.data(), static_cast<uint16_t>(N));
    }
    // The timer fires only when it is enabled, as a real one would.
    void Tick() {
        if (timer.enabled)
            query.tmTimeOutTimer();
    }
    const std::vector<uint8_t> request1{0x02, 0x30, 0x31, 0x30, 0x30, 0x43, 0x33, 0x03};

    FakePort port;
    FakeTimer timer;
    FakeStatusView view;
    StationState station;
    ReplyDispatch dispatch;
    StatusQuery query{port, timer, view, station, dispatch};
};

} // namespace

TEST_F(StatusQueryTest, NoReplyFourSendsThenFailWithButtons) {
    query.Start();
    EXPECT_TRUE(port.open);
    EXPECT_EQ(dispatch.PortOpened, 1);
    EXPECT_EQ(station.StationHex, "01");
    EXPECT_EQ(view.statusBar, "Get PLC Status ....");
    EXPECT_TRUE(timer.enabled);
    EXPECT_EQ(timer.interval, 1);
    EXPECT_TRUE(port.writes.empty()); // the first send comes from the timer

    const char* bars[] = {"Get PLC Status ....", "Get PLC Status .... try #2",
                          "Get PLC Status .... try #3", "Get PLC Status .... try #4"};
    for (int i = 0; i < 4; ++i) {
        Tick();
        ASSERT_EQ(port.writes.size(), static_cast<size_t>(i + 1));
        EXPECT_EQ(port.writes.back(), request1);
        EXPECT_TRUE(timer.enabled);
        EXPECT_EQ(timer.interval, 500);
        EXPECT_EQ(view.statusBar, bars[i]);
    }
    EXPECT_EQ(view.buttonsEnabled, 0);
    Tick();
    EXPECT_EQ(port.writes.size(), 4u);
    EXPECT_FALSE(timer.enabled);
    EXPECT_EQ(view.messages, std::vector<std::string>{"Get PLC Status Fail !!"});
    EXPECT_EQ(view.statusBar, "Get PLC Status Fail");
    EXPECT_EQ(view.startupShown, 1);
    EXPECT_EQ(view.buttonsEnabled, 1);
    EXPECT_EQ(query.StatusQueryActive, 1);

    // A late valid reply after the failure still shows the status.
    Deliver(fakes::MakeStatusReply());
    ASSERT_EQ(view.shown.size(), 1u);
    EXPECT_EQ(view.shown[0].Version, "1.61");
    EXPECT_EQ(query.StatusQueryActive, 0);
}

TEST_F(StatusQueryTest, RecognisedReplyBetweenTicksFillsStatusAndAdoptsStation) {
    query.Start();
    Tick();
    Tick();
    ASSERT_EQ(port.writes.size(), 2u);
    // While the status window is open, more blocks and ticks are ignored.
    view.duringModal = [&] {
        Deliver(fakes::MakeStatusReply("999", "1299", '1', '3', "05"));
        query.tmTimeOutTimer();
    };
    Deliver(fakes::MakeStatusReply("161", "0310", '2', '2', "0A"));
    EXPECT_FALSE(timer.enabled);
    ASSERT_EQ(view.shown.size(), 1u);
    EXPECT_EQ(view.shown[0].Version, "1.61");
    EXPECT_EQ(view.shown[0].ReleaseDate, "03/2010");
    EXPECT_EQ(view.shown[0].FlashType, "AT29C020");
    EXPECT_EQ(station.StationHex, "0A");
    EXPECT_EQ(view.station, "10");
    EXPECT_EQ(station.PortRegisterCode, 2);
    EXPECT_EQ(view.statusBar, "");
    EXPECT_EQ(view.buttonsEnabled, 1);
    EXPECT_EQ(query.StatusQueryActive, 0);
    EXPECT_EQ(port.writes.size(), 2u);

    // The next frames go to the adopted station.
    CompleteChangeModeFrame(station);
    EXPECT_EQ(station.ChangeModeFrame[1], '0');
    EXPECT_EQ(station.ChangeModeFrame[2], 'A');
}

TEST_F(StatusQueryTest, UnreadableRegisterCodeOrStationCountsAsUnrecognised) {
    station.PortRegisterCode = 3;
    query.Start();
    Tick();
    Deliver(fakes::MakeStatusReply("161", "0310", '2', '7', "0A"));
    Deliver(fakes::MakeStatusReply("161", "0310", '2', '1', "x1"));
    Deliver(fakes::MakeStatusReply("161", "0310", '2', '1', "0a"));
    EXPECT_TRUE(view.shown.empty());
    EXPECT_EQ(port.writes.size(), 4u); // each one asked again
    EXPECT_EQ(view.statusBar, "Get PLC Status .... try #4");
    Deliver(fakes::MakeStatusReply("161", "0310", '2', '9', "0A"));
    EXPECT_EQ(view.messages, std::vector<std::string>{"Connect Fail"});
    EXPECT_EQ(view.buttonsEnabled, 0);
    EXPECT_EQ(station.PortRegisterCode, 3);
    EXPECT_EQ(station.StationHex, "01");
    EXPECT_EQ(view.station, "1");

    // Only the flash type may be out of its table: it shows as "Unknown".
    Deliver(fakes::MakeStatusReply("161", "0310", '8', '2', "0A"));
    ASSERT_EQ(view.shown.size(), 1u);
    EXPECT_EQ(view.shown[0].FlashType, "Unknown");
    EXPECT_EQ(station.PortRegisterCode, 2);
}

TEST_F(StatusQueryTest, NoiseResendsAtOnceAndFiveGiveConnectFail) {
    query.Start();
    Tick();
    const uint8_t noise[] = {'x', 'y', 'z'};
    for (int i = 2; i <= 4; ++i) {
        Deliver(noise, sizeof noise);
        ASSERT_EQ(port.writes.size(), static_cast<size_t>(i));
        EXPECT_EQ(port.writes.back(), request1);
        EXPECT_EQ(view.statusBar, "Get PLC Status .... try #" + std::to_string(i));
        // The re-send is followed by a time-out of its own.
        EXPECT_TRUE(timer.enabled);
        EXPECT_EQ(timer.interval, 500);
    }
    // A recognised block shorter than 66 bytes counts as noise too.
    const auto full = fakes::MakeStatusReply();
    std::vector<uint8_t> truncated(full.begin(), full.begin() + 40);
    Deliver(truncated.data(), static_cast<uint16_t>(truncated.size()));
    EXPECT_EQ(port.writes.size(), 4u);
    EXPECT_EQ(view.messages, std::vector<std::string>{"Connect Fail"});
    EXPECT_EQ(view.statusBar, "Get PLC Status Fail");
    EXPECT_EQ(view.buttonsEnabled, 0);
    EXPECT_FALSE(timer.enabled);
    // Further noise counts on and repeats the message, one box at a time: noise that comes
    // while the box is open opens no box inside it. A valid reply still decodes.
    int nested = 0;
    view.duringModal = [&] {
        if (++nested > 3)
            return; // boxes inside boxes already show the fault; do not recurse further
        Deliver(noise, sizeof noise);
        Deliver(noise, sizeof noise);
    };
    Deliver(noise, sizeof noise);
    EXPECT_EQ(view.messages.size(), 2u);
    EXPECT_EQ(nested, 1);
    view.duringModal = nullptr;
    Deliver(full);
    EXPECT_EQ(view.shown.size(), 1u);
    EXPECT_EQ(view.buttonsEnabled, 1);
}

TEST_F(StatusQueryTest, NoiseResendThenSilenceStillEndsInFail) {
    query.Start();
    Tick();
    const uint8_t noise[] = {0xFF};
    Deliver(noise, 1);
    for (int i = 0; i < 10; ++i)
        Tick();
    EXPECT_EQ(port.writes.size(), 4u);
    EXPECT_EQ(view.messages, std::vector<std::string>{"Get PLC Status Fail !!"});
    EXPECT_EQ(view.buttonsEnabled, 1);
}

TEST_F(StatusQueryTest, AbortGateDropsReplies) {
    query.Start();
    Tick();
    dispatch.AbortRequested = true;
    Deliver(fakes::MakeStatusReply());
    EXPECT_TRUE(view.shown.empty());
    EXPECT_EQ(query.StatusQueryActive, 1);
    EXPECT_TRUE(timer.enabled);
    dispatch.AbortRequested = false;
    Deliver(fakes::MakeStatusReply());
    EXPECT_EQ(view.shown.size(), 1u);
}

TEST_F(StatusQueryTest, StartReopensAnOpenPortAndTakesTheHandlerBack) {
    dispatch.PortOpened = 1;
    int otherCalls = 0;
    dispatch.ReplyHandler = [&](const uint8_t*, uint16_t) { ++otherCalls; };
    query.Start();
    EXPECT_EQ(port.closes, 1);
    EXPECT_EQ(port.opens, 1);
    Tick();
    Deliver(fakes::MakeStatusReply());
    EXPECT_EQ(otherCalls, 0);
    EXPECT_EQ(view.shown.size(), 1u);

    // Idle: ticks and replies do nothing.
    const auto writes = port.writes.size();
    query.tmTimeOutTimer();
    Deliver(fakes::MakeStatusReply());
    EXPECT_EQ(port.writes.size(), writes);
    EXPECT_EQ(view.shown.size(), 1u);
}

TEST_F(StatusQueryTest, BadStationOrPortStartsNothing) {
    for (const char* bad : {"abc", "", "256", "-3", "1.5"}) {
        view.station = bad;
        EXPECT_THROW(query.Start(), std::invalid_argument) << bad;
    }
    EXPECT_EQ(port.opens, 0);
    EXPECT_FALSE(timer.enabled);
    EXPECT_FALSE(dispatch.ReplyHandler);
    EXPECT_EQ(query.StatusQueryActive, 0);

    view.station = "31";
    port.failOpen = true;
    EXPECT_THROW(query.Start(), std::runtime_error);
    EXPECT_FALSE(timer.enabled);
    EXPECT_EQ(query.StatusQueryActive, 0);
    port.failOpen = false;
    query.Start();
    Tick();
    ASSERT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(port.WriteText(0), std::string("\x02") + "1F00D9\x03");
}

// orv-flash's rules for a line with several PLCs: a quiet line before the first request (the
// quiet counted by the port, not from a block already handed over), traffic before it dropped,
// another station's reply ignored, a reply naming another station refused, and a block cut as
// a whole reply that is not exactly the status reply turns the port to interval timing.
TEST_F(StatusQueryTest, OwnStationOnlyOnASharedLine) {
    std::vector<StatusOutcome> outcomes;
    query.OnOutcome = [&](const StatusOutcome& o) { outcomes.push_back(o); };
    query.OwnStationOnly = true;
    view.station = "10";
    port.quiet = 30;
    query.Start();
    EXPECT_EQ(timer.interval, 100);
    Tick();
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(timer.interval, 70);                                  // the rest of the read interval
    Deliver(fakes::MakeStatusReply("161", "0310", '2', '1', "0A")); // before our request
    EXPECT_TRUE(view.shown.empty());
    port.quiet = UINT32_MAX;
    Tick();
    ASSERT_EQ(port.writes.size(), 1u);

    auto stranger = fakes::MakeStatusReply("161", "0310", '2', '1', "0B");
    stranger[1] = '0';
    stranger[2] = 'B';
    Deliver(stranger);
    EXPECT_TRUE(timer.enabled) << "another station's answer leaves the time-out running";
    EXPECT_EQ(port.writes.size(), 1u);

    port.whole = true;
    const auto cut = fakes::MakeStatusReply("161", "0310", '2', '1', "0A");
    Deliver(cut.data(), 40);
    EXPECT_FALSE(port.whole);
    EXPECT_EQ(port.writes.size(), 2u) << "sent again at once";

    auto named = fakes::MakeStatusReply("161", "0310", '2', '1', "0B");
    named[1] = '0';
    named[2] = 'A';
    AddChecksum(named.data(), 63);
    Deliver(named);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].Kind, StatusOutcome::TKind::OtherStation);
    EXPECT_EQ(outcomes[0].Asked, 10);
    EXPECT_EQ(view.station, "10") << "not adopted";
    EXPECT_TRUE(view.shown.empty());
}
