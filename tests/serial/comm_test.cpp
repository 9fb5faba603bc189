// What TComm does on every platform, on a real pseudo-terminal: the port's own part of each
// platform is in comm_test_posix.cpp and comm_test_win32.cpp.

#include "comm_test.h"

namespace orv::test {
namespace {

TEST_F(CommTest, StartTwiceKeepsThePortWorking) {
    StartAndSettle();
    EXPECT_EQ(MessageOf(Comm), "This serial port already opened");
    EXPECT_TRUE(Comm.IsOpen());
    const uint8_t data[] = {'o', 'k'};
    ASSERT_TRUE(Comm.WriteCommData(data, 2));
    EXPECT_EQ(Pty.Read(2, 2000ms), Bytes({'o', 'k'}));
    Pty.Write("in");
    ASSERT_TRUE(WaitReceived(2));
    Comm.StopComm();
    Comm.StopComm(); // harmless
    EXPECT_FALSE(Comm.IsOpen());
}

// What the pseudo-terminal keeps of the settings shows them: speed, odd parity, two stop bits,
// raw input without software flow control.
TEST_F(CommTest, SettingsReachTheLineAndReapplyOnlyOnChange) {
    Comm.SetBaudRate(38400);
    Comm.SetByteSize(TByteSize::_7);
    Comm.SetParity(TParity::Even);
    StartAndSettle();
    TPtyLine line = Pty.Line();
    EXPECT_EQ(line.Speed, 38400u);
    EXPECT_FALSE(line.OddParity);
    EXPECT_FALSE(line.SoftwareFlow);
    EXPECT_TRUE(line.Raw);

    // Changes while open, with data queued both ways: nothing is lost.
    Pty.Write("queued-in");
    const uint8_t out[] = {'q', 'o'};
    ASSERT_TRUE(Comm.WriteCommData(out, 2));
    Comm.SetBaudRate(115200);
    Comm.SetByteSize(TByteSize::_8);
    Comm.SetParity(TParity::Odd);
    line = Pty.Line();
    EXPECT_EQ(line.Speed, 115200u);
    EXPECT_TRUE(line.OddParity);
    EXPECT_EQ(Pty.Read(2, 2000ms), Bytes({'q', 'o'}));
    ASSERT_TRUE(WaitReceived(9));
    EXPECT_EQ(Received(), Bytes({'q', 'u', 'e', 'u', 'e', 'd', '-', 'i', 'n'}));

    // The same value again does not touch the port: a change made behind its back stays.
    line.OddParity = false;
    Pty.SetLine(line);
    Comm.SetParity(TParity::Odd);
    Comm.SetBaudRate(115200);
    EXPECT_FALSE(Pty.Line().OddParity);
    // A real change re-applies the whole group.
    Comm.SetStopBits(TStopBits::_2);
    line = Pty.Line();
    EXPECT_TRUE(line.OddParity);
    EXPECT_TRUE(line.TwoStopBits);
}

TEST_F(CommTest, BackToBackWritesArriveInOrderWithOneEmptyNotice) {
    StartAndSettle();
    Sink.WaitAndPump(100ms);
    EXPECT_EQ(Empties, 1) << "one notice right after start, no more while idle";

    // The first block is larger than the terminal takes at once, so the other two queue
    // behind it while it is written in parts.
    Bytes first(60000);
    for (size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<uint8_t>(i * 7 + i / 251);
    const Bytes second = {'2', '2'}, third = {'3', '3', '3'};
    ASSERT_TRUE(Comm.WriteCommData(first.data(), static_cast<uint16_t>(first.size())));
    ASSERT_TRUE(Comm.WriteCommData(second.data(), 2));
    ASSERT_TRUE(Comm.WriteCommData(third.data(), 3));
    Bytes expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), third.begin(), third.end());
    const Bytes got = Pty.Read(expected.size(), 5000ms);
    EXPECT_TRUE(got == expected) << "got " << got.size() << " of " << expected.size();
    ASSERT_TRUE(Sink.PumpUntil([&] { return Empties == 2; }, 2000ms));
    Sink.WaitAndPump(150ms);
    EXPECT_EQ(Empties, 2);
}

TEST_F(CommTest, ReadIntervalGroupsBytesIntoBlocks) {
    StartAndSettle(); // ReadIntervalTimeout 100 ms by default
    for (char c : std::string("abc")) {
        Pty.Write(std::string(1, c));
        Sleep(20);
    }
    Sleep(400);
    Pty.Write("de");
    ASSERT_TRUE(WaitReceived(5));
    ASSERT_EQ(Blocks.size(), 2u);
    EXPECT_EQ(Blocks[0], Bytes({'a', 'b', 'c'}));
    EXPECT_EQ(Blocks[1], Bytes({'d', 'e'}));
    // Received bytes are also reported on the line-event path, one report per block here.
    EXPECT_EQ(Modem, std::vector<uint32_t>({ME_RXCHAR, ME_RXCHAR}));

    // More than a block's worth at once: blocks of at most 2048 bytes, nothing lost.
    Blocks.clear();
    Bytes burst(5000);
    for (size_t i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<uint8_t>(1 + i % 200);
    Pty.Write(burst);
    ASSERT_TRUE(WaitReceived(burst.size()));
    EXPECT_EQ(Received(), burst);
    EXPECT_GE(Blocks.size(), 3u);
    for (const Bytes& b : Blocks)
        EXPECT_LE(b.size(), 2048u);

    // A reply that a slow line brings in chunks over longer than the interval, after a pause
    // longer than it: the interval runs from the last byte, so the reply stays one block.
    Blocks.clear();
    Sleep(300);
    for (int i = 0; i < 11; ++i, Sleep(15))
        Pty.Write(Bytes(6, 'r'));
    ASSERT_TRUE(WaitReceived(66));
    EXPECT_EQ(Blocks, std::vector<Bytes>{Bytes(66, 'r')});
}

// With no read interval a block ends only when full, so any block shorter than that was ended
// by the rule.
TEST_F(CommTest, AReplyRuleEndsEachBlockTheMomentItIsAWholeReply) {
    Comm.SetReadIntervalTimeout(0);
    StartAndSettle();
    const uint8_t page[] = {1, 0x0D, 0x13};
    // An acknowledgement of two bytes, or a station reply: STX to ETX, at least 9 bytes.
    const TReplyRule pageRule{2, -1, 0x02, 9, 0x03};
    Comm.SetReplyRule(pageRule);
    ASSERT_TRUE(Comm.WriteCommData(page, 3));
    ASSERT_EQ(TakeRequest(3).size(), 3u);
    Pty.Write(Bytes{0x06, 0x0D});
    ASSERT_TRUE(WaitReceived(2));
    EXPECT_EQ(Blocks, std::vector<Bytes>{Bytes({0x06, 0x0D})});

    // A station reply, whatever was asked, is cut by its own form: whole at its ETX once it is
    // at least as long as the envelope.
    Blocks.clear();
    Comm.SetReplyRule(pageRule);
    ASSERT_TRUE(Comm.WriteCommData(page, 3));
    ASSERT_EQ(TakeRequest(3).size(), 3u);
    Pty.Write(std::string("\x02"
                          "01\x03"));
    Sleep(50);
    Pty.Write(std::string("3E0D"));
    Sleep(50);
    Pty.Write(std::string("B\x03"));
    ASSERT_TRUE(WaitReceived(10));
    EXPECT_EQ(Blocks, std::vector<Bytes>{Bytes({2, '0', '1', 3, '3', 'E', '0', 'D', 'B', 3})})
        << "an ETX inside the envelope ends nothing";
    EXPECT_TRUE(Tails.empty());
}

// Bytes that come before the request has left the line (its time on the wire, here on a slow
// line whose terminal passes them at once), or after its whole reply, are the tail of an
// earlier reply: dropped, reported, and from then on the interval alone ends blocks.
TEST_F(CommTest, BytesOutOfPlaceUnderAReplyRuleAreATailAndEndTheRule) {
    Comm.SetBaudRate(300);
    StartAndSettle();
    const Bytes request(10, 'r'); // a third of a second on the line
    Comm.SetReplyRule(TReplyRule{2});
    ASSERT_TRUE(Comm.WriteCommData(request.data(), 10));
    ASSERT_EQ(Pty.Read(10, 2000ms).size(), 10u);
    Pty.Write(std::string("ab"));
    ASSERT_TRUE(Sink.PumpUntil([&] { return !Tails.empty(); }, 2000ms));
    EXPECT_EQ(Tails, std::vector<Bytes>{Bytes({'a', 'b'})});
    Comm.SetReplyRule(TReplyRule{2});
    ASSERT_TRUE(Comm.WriteCommData(request.data(), 10));
    ASSERT_EQ(TakeRequest(10).size(), 10u);
    Pty.Write(std::string("cd"));
    Sleep(20);
    Pty.Write(std::string("ef"));
    ASSERT_TRUE(WaitReceived(4));
    EXPECT_EQ(Blocks, std::vector<Bytes>{Bytes({'c', 'd', 'e', 'f'})}) << "the rule is gone";
    EXPECT_EQ(Tails.size(), 1u);

    // A new opening takes rules again. A reply with more than its rule says: the reply goes
    // out whole, the rest is the tail, which lasts until the line is quiet for the interval.
    Comm.StopComm();
    Tails.clear();
    Blocks.clear();
    Empties = 0;
    StartAndSettle();
    Comm.SetReplyRule(TReplyRule{2});
    ASSERT_TRUE(Comm.WriteCommData(request.data(), 2));
    ASSERT_EQ(TakeRequest(2).size(), 2u);
    Pty.Write(std::string("\x06\x0Dxy"));
    Sleep(20);
    Pty.Write(std::string("z"));
    ASSERT_TRUE(Sink.PumpUntil([&] { return !Tails.empty(); }, 2000ms));
    EXPECT_EQ(Blocks, std::vector<Bytes>{Bytes({0x06, 0x0D})});
    EXPECT_EQ(Tails, std::vector<Bytes>{Bytes({'x', 'y', 'z'})});
}

// A line that returns what is sent (a 2-wire RS-485 converter): the echo is removed, whole or
// in parts, in both timings, and said once per opening. Bytes that match it in part are data.
TEST_F(CommTest, TheLineEchoIsRemovedBeforeTheReply) {
    StartAndSettle();
    const std::string request = "\x02"
                                "013EDB\x03";
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(request.data());
    ASSERT_TRUE(Comm.WriteCommData(bytes, 8));
    Sleep(20);
    Pty.Write(request.substr(0, 3));
    Sleep(20);
    Pty.Write(request.substr(3) + "reply");
    ASSERT_TRUE(WaitReceived(5));
    EXPECT_EQ(Blocks, std::vector<Bytes>{Bytes({'r', 'e', 'p', 'l', 'y'})});
    Blocks.clear();
    ASSERT_TRUE(Comm.WriteCommData(bytes, 8));
    Sleep(20);
    Pty.Write(request.substr(0, 4) + "X");
    ASSERT_TRUE(WaitReceived(5));
    EXPECT_EQ(Received(), Bytes({2, '0', '1', '3', 'X'}));

    // A page frame's echo has 0x0D at byte 1, yet is never taken for an acknowledgement; its
    // NUL bytes are dropped on the way like any others.
    Blocks.clear();
    Comm.SetIgnoreNullChar(true);
    const Bytes page = {1, 0x0D, 0x13, 0x01, 0, 5, 1, 0, 0x40};
    Comm.SetReplyRule(TReplyRule{2});
    ASSERT_TRUE(Comm.WriteCommData(page.data(), 9));
    ASSERT_EQ(Pty.Read(8 + 8 + 9, 2000ms).size(), 25u); // both requests, then the frame
    Pty.Write(page);
    Sleep(30);
    Pty.Write(Bytes{0x15, 0x15});
    ASSERT_TRUE(WaitReceived(2));
    EXPECT_EQ(Blocks, std::vector<Bytes>{Bytes({0x15, 0x15})});
    EXPECT_EQ(Echoes, 1) << "once per opening";

    // A line that has answered without an echo: a copy of a request is then its reply, as a
    // station accepting a stop gives it.
    Comm.StopComm();
    Empties = 0;
    StartAndSettle();
    for (const std::string& reply : {std::string("plain"), request}) {
        ASSERT_TRUE(Comm.WriteCommData(bytes, 8));
        Sleep(20);
        Pty.Write(reply);
        Sleep(150);
    }
    ASSERT_TRUE(WaitReceived(2 + 5 + 8));
    EXPECT_EQ(Blocks.back(), Bytes(request.begin(), request.end()));
}

TEST_F(CommTest, NulBytesDroppedWhenAsked) {
    Comm.SetIgnoreNullChar(true);
    StartAndSettle();
    Pty.Write(Bytes{0, 'A', 0, 0, 'B', 0});
    ASSERT_TRUE(WaitReceived(2));
    Sink.WaitAndPump(200ms);
    EXPECT_EQ(Received(), Bytes({'A', 'B'}));
}

// Settings changed while the reader waits for the line apply to the bytes read next.
TEST_F(CommTest, ASettingChangeAppliesToTheNextByteRead) {
    StartAndSettle();
    Sink.WaitAndPump(50ms);
    Comm.SetIgnoreNullChar(true);
    Pty.Write(Bytes{'A', 0, 'B'});
    ASSERT_TRUE(WaitReceived(2));
    Sink.WaitAndPump(200ms);
    EXPECT_EQ(Received(), Bytes({'A', 'B'}));

    Blocks.clear();
    Comm.SetParityCheck(true); // a received 0xFF still arrives as sent
    Pty.Write(Bytes{0xFF, 'x'});
    ASSERT_TRUE(WaitReceived(2));
    Sink.WaitAndPump(200ms);
    EXPECT_EQ(Received(), Bytes({0xFF, 'x'}));

    // A shorter interval ends the block in hand by itself.
    Blocks.clear();
    Modem.clear();
    Comm.SetReadIntervalTimeout(60000);
    Pty.Write("ab");
    AwaitBytesInHand();
    ASSERT_TRUE(Blocks.empty()) << "read, not delivered";
    Comm.SetReadIntervalTimeout(20);
    EXPECT_TRUE(WaitReceived(2));
}

// The reply that came just before the other end went away still arrives, before the hang-up.
TEST_F(CommTest, BlockInHandIsDeliveredBeforeTheHangup) {
    Comm.SetReadIntervalTimeout(60000);
    StartAndSettle();
    std::vector<std::string> order;
    Comm.OnReceiveData = [&](TComm*, const uint8_t* buffer, uint16_t length) {
        order.emplace_back(reinterpret_cast<const char*>(buffer), length);
    };
    Comm.OnRequestHangup = [&](TComm*) { order.emplace_back("(hang-up)"); };
    Pty.Write("last reply");
    AwaitBytesInHand();
    Sleep(50); // the whole reply is in the reader's block
    Pty.CloseMaster();
    ASSERT_TRUE(Sink.PumpUntil([&] { return order.size() >= 2; }, 3000ms));
    EXPECT_EQ(order, std::vector<std::string>({"last reply", "(hang-up)"}));
}

TEST_F(CommTest, StopDuringAWriteThatCannotFinish) {
    StartAndSettle();
    Bytes big(65535, 'z');
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(Comm.WriteCommData(big.data(), static_cast<uint16_t>(big.size())));
    Sleep(100); // the other end reads nothing: the writer is stuck in the first block
    const auto t0 = std::chrono::steady_clock::now();
    Comm.StopComm();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1000ms);
    Sink.WaitAndPump(100ms);
    EXPECT_EQ(Hangups, 0);
    EXPECT_EQ(Empties, 1);
    EXPECT_FALSE(Comm.WriteCommData(big.data(), 1));
}

// A line that holds its output (CTS off, a slow line) keeps the notice back until it has
// drained, or plainly never will, and keeps taking new requests meanwhile.
TEST_F(CommTest, SendDataEmptyWaitsUntilTheLineHasDrained) {
    StartAndSettle();
    driver::Drive(Pty.SlavePath);
    driver::OutputQueued = 5;
    const uint8_t first[] = {'a', 'b', 'c'}, second[] = {'d', 'e'};
    ASSERT_TRUE(Comm.WriteCommData(first, 3));
    EXPECT_EQ(Pty.Read(3, 2000ms), Bytes({'a', 'b', 'c'})) << "the driver has taken them";
    ASSERT_TRUE(Comm.WriteCommData(second, 2));
    EXPECT_EQ(Pty.Read(2, 2000ms), Bytes({'d', 'e'}));
    Sink.WaitAndPump(300ms);
    EXPECT_EQ(Empties, 1) << "no notice while output is still queued";

    driver::OutputQueued = 0;
    ASSERT_TRUE(Sink.PumpUntil([&] { return Empties == 2; }, 3000ms));
    Sink.WaitAndPump(150ms);
    EXPECT_EQ(Empties, 2) << "one notice for both requests";

    // A queue that never drains: the notice comes all the same, a second after its bytes'
    // time on the wire, so that a reply time-out started by it runs.
    driver::OutputQueued = 5;
    ASSERT_TRUE(Comm.WriteCommData(first, 3));
    EXPECT_EQ(Pty.Read(3, 2000ms).size(), 3u);
    Sink.WaitAndPump(800ms);
    EXPECT_EQ(Empties, 2);
    EXPECT_TRUE(Sink.PumpUntil([&] { return Empties == 3; }, 2000ms));
    Comm.StopComm();
    driver::Release();
    EXPECT_EQ(Hangups, 0);
}

// A driver that takes a block in small parts and never makes the writer wait: only the
// writer's own look at the stop signal between parts ends the block.
TEST_F(CommTest, StopEndsABlockWithinOneWrite) {
    StartAndSettle();
    driver::Drive(Pty.SlavePath);
    driver::TakeInParts = true;
    const Bytes big(65535, 'p');
    ASSERT_TRUE(Comm.WriteCommData(big.data(), static_cast<uint16_t>(big.size())));
    ASSERT_TRUE(driver::WaitForParts(1));
    driver::Stopping = true;
    Comm.StopComm();
    const size_t parts = driver::PartsWritten;
    driver::Release();
    EXPECT_LE(parts, 2u) << "of the " << big.size() / 16 + 1 << " parts of the block";
    Sink.WaitAndPump(100ms);
    EXPECT_EQ(Hangups, 0);
}

TEST_F(CommTest, OtherEndClosingGivesOneHangup) {
    StartAndSettle();
    Pty.Write(Bytes(300, 'm'));
    Sleep(20);
    Pty.CloseMaster();
    ASSERT_TRUE(Sink.PumpUntil([&] { return Hangups > 0; }, 3000ms));
    // The writer meets the same vanished device: still one notice.
    const uint8_t b = 1;
    Comm.WriteCommData(&b, 1);
    Sink.WaitAndPump(300ms);
    EXPECT_EQ(Hangups, 1);
    // The writer has ended on the vanished device: further requests are refused.
    EXPECT_TRUE(Sink.PumpUntil([&] { return !Comm.WriteCommData(&b, 1); }, 2000ms));
    EXPECT_EQ(Hangups, 1);
    EXPECT_TRUE(Comm.IsOpen()) << "the component stays open until StopComm";
    Comm.StopComm();
    EXPECT_FALSE(Comm.IsOpen());
}

TEST_F(CommTest, ClosedOrEmptyWritesAreRefused) {
    const uint8_t b = 1;
    EXPECT_FALSE(Comm.WriteCommData(&b, 1));
    EXPECT_EQ(Comm.GetModemState(), 0u);
    StartAndSettle();
    EXPECT_FALSE(Comm.WriteCommData(&b, 0));
    Sink.WaitAndPump(150ms);
    EXPECT_EQ(Empties, 1);
    EXPECT_TRUE(Pty.Read(1, 100ms).empty());
}

TEST_F(CommTest, NotificationsPostedBeforeStopArriveAfterIt) {
    StartAndSettle();
    Pty.Write("late");
    Sleep(400); // posted, not pumped
    Comm.StopComm();
    Sink.Pump();
    EXPECT_EQ(Received(), Bytes({'l', 'a', 't', 'e'}));
}

// A reconnect after the adapter vanished: the old opening's hang-up, still queued, must not
// declare the new line dead; its data, posted before the stop, still arrives.
TEST_F(CommTest, HangupOfAnEarlierOpeningIsNotRaisedAfterReopen) {
    StartAndSettle();
    Pty.Write("old");
    Sleep(300);
    Pty.CloseMaster();
    Sleep(300); // the hang-up is posted, not pumped
    Comm.StopComm();
    TPty fresh;
    Comm.CommName = fresh.SlavePath;
    Comm.StartComm();
    Sink.WaitAndPump(300ms);
    EXPECT_EQ(Hangups, 0);
    EXPECT_EQ(Received(), Bytes({'o', 'l', 'd'}));
    fresh.Write("new");
    EXPECT_TRUE(WaitReceived(6));
    Comm.StopComm();
}

TEST_F(CommTest, DestroyingTheComponentReleasesWhatIsQueued) {
    {
        TComm scoped(&Sink);
        scoped.CommName = Pty.SlavePath;
        scoped.StartComm();
        Pty.Write("left behind");
        Sleep(300);
        EXPECT_GE(Sink.Pending(), 2u);
    } // open and with queued data: stopped, and its notifications dropped with their blocks
    EXPECT_EQ(Sink.Pending(), 0u);
}

} // namespace
} // namespace orv::test
