// TComm and its threads on real pseudo-terminals, notifications pumped through a queue sink.

#include "pty.h"
#include "serial/comm.h"
#include "serial/port_list.h"
#include "serial/port_name_posix.h"
#include "serial/queue_sink.h"

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

// The test plays the port's driver for what a pseudo-terminal cannot show: a line whose output
// does not drain (a pseudo-terminal's output-queue count is always 0) and a driver that takes a
// block in small parts without ever making the writer wait. The program is linked with
// --wrap=write,--wrap=ioctl, so calls from its own code pass through here and go on unchanged
// unless a test drives the port.
namespace driver {

std::atomic<dev_t> Port{0};           // the device driven; 0: nothing is
std::atomic<int> OutputQueued{-1};    // >= 0: the output-queue count the port reports
std::atomic<bool> TakeInParts{false}; // writes take 16 bytes each and never block
std::atomic<bool> Stopping{false};    // the test is about to stop the component
std::atomic<size_t> PartsWritten{0};
std::mutex Lock;
std::condition_variable Changed;
bool StopSignalled = false;

bool IsPort(int fd) {
    const dev_t port = Port.load();
    struct stat st {};
    return port != 0 && fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == port;
}

void Drive(const std::string& path) {
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    std::lock_guard<std::mutex> lock(Lock);
    StopSignalled = false;
    PartsWritten = 0;
    Port = st.st_rdev;
}

void Release() {
    Port = 0;
    OutputQueued = -1;
    TakeInParts = false;
    Stopping = false;
}

bool WaitForParts(size_t n) {
    std::unique_lock<std::mutex> lock(Lock);
    return Changed.wait_for(lock, std::chrono::seconds(5), [&] { return PartsWritten >= n; });
}

} // namespace driver

extern "C" ssize_t __real_write(int fd, const void* buf, size_t n);
extern "C" int __real_ioctl(int fd, unsigned long request, ...);

extern "C" ssize_t __wrap_write(int fd, const void* buf, size_t n) {
    if (!driver::TakeInParts || !driver::IsPort(fd)) {
        const ssize_t r = __real_write(fd, buf, n);
        if (driver::Stopping && r > 0) {
            // The first write of StopComm is its stop signal.
            std::lock_guard<std::mutex> lock(driver::Lock);
            driver::StopSignalled = true;
            driver::Changed.notify_all();
        }
        return r;
    }
    // The first part is held until the component has signalled the stop, so that the rest of
    // the block is left to the writer's own look at the signal.
    std::unique_lock<std::mutex> lock(driver::Lock);
    ++driver::PartsWritten;
    driver::Changed.notify_all();
    driver::Changed.wait_for(lock, std::chrono::seconds(10), [] { return driver::StopSignalled; });
    return static_cast<ssize_t>(std::min<size_t>(n, 16));
}

extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    const int queued = driver::OutputQueued;
    if (request == TIOCOUTQ && queued >= 0 && driver::IsPort(fd)) {
        *static_cast<int*>(arg) = queued;
        return 0;
    }
    return __real_ioctl(fd, request, arg);
}

namespace orv {
namespace {

using namespace std::chrono_literals;
using test::Sleep;
using Bytes = std::vector<uint8_t>;

class CommTest : public ::testing::Test {
protected:
    void SetUp() override {
        Comm.CommName = Pty.SlavePath;
        // As the update window stores them: no software flow control.
        Comm.SetOutx_XonXoffFlow(false);
        Comm.SetInx_XonXoffFlow(false);
        Comm.OnReceiveData = [this](TComm* sender, const uint8_t* buffer, uint16_t length) {
            EXPECT_EQ(sender, &Comm);
            EXPECT_EQ(buffer[length], 0) << "a zero byte follows the data";
            Blocks.emplace_back(buffer, buffer + length);
        };
        Comm.OnSendDataEmpty = [this](TComm*) { ++Empties; };
        Comm.OnRequestHangup = [this](TComm*) { ++Hangups; };
        Comm.OnReceiveError = [this](TComm*, uint32_t mask) { Errors.push_back(mask); };
        Comm.OnModemStateChange = [this](TComm*, uint32_t word) { Modem.push_back(word); };
        Comm.OnReplyTail = [this](TComm*, const uint8_t* buffer, uint16_t length) {
            Tails.emplace_back(buffer, buffer + length);
        };
    }

    void TearDown() override { driver::Release(); }

    Bytes Received() const {
        Bytes all;
        for (const Bytes& b : Blocks)
            all.insert(all.end(), b.begin(), b.end());
        return all;
    }
    bool WaitReceived(size_t n, std::chrono::milliseconds timeout = 3000ms) {
        return Sink.PumpUntil([&] { return Received().size() >= n; }, timeout);
    }
    void StartAndSettle() {
        Comm.StartComm();
        ASSERT_TRUE(Sink.PumpUntil([&] { return Empties == 1; }, 2000ms));
    }

    TQueueCommSink Sink; // outlives the component
    test::TPty Pty;
    TComm Comm{&Sink};
    std::vector<Bytes> Blocks;
    std::vector<uint32_t> Errors;
    std::vector<uint32_t> Modem;
    std::vector<Bytes> Tails;
    int Empties = 0;
    int Hangups = 0;
};

std::string MessageOf(TComm& comm, std::string* detail = nullptr) {
    try {
        comm.StartComm();
    } catch (const ECommsError& e) {
        if (detail)
            *detail = e.Detail();
        return e.what();
    }
    return "(opened)";
}

TEST_F(CommTest, OpenFailuresSayWhatAndWhy) {
    std::string detail;
    Comm.CommName = "";
    EXPECT_EQ(MessageOf(Comm), "Error opening serial port");
    EXPECT_FALSE(Comm.IsOpen());

    Comm.CommName = "orv-no-such-port";
    EXPECT_EQ(MessageOf(Comm, &detail), "Error opening serial port");
    EXPECT_NE(detail.find("/dev/orv-no-such-port"), std::string::npos) << detail;
    EXPECT_NE(detail.find(VirtualPortFolder() + "orv-no-such-port"), std::string::npos) << detail;
    EXPECT_NE(detail.find("plugged in"), std::string::npos) << detail;

    const std::string file =
        std::string(std::getenv("HOME") ? std::getenv("HOME") : "/tmp") + "/orv-not-a-port.txt";
    std::ofstream(file) << "text";
    Comm.CommName = file;
    EXPECT_EQ(MessageOf(Comm, &detail), "File handle is not a comm handle ");
    EXPECT_NE(detail.find(file), std::string::npos);
    EXPECT_FALSE(Comm.IsOpen());
    std::filesystem::remove(file);

    // Permission: the hint names the group that owns the device.
    const std::string hint = OpenFailureDetail(Pty.SlavePath, EACCES);
    EXPECT_NE(hint.find(Pty.SlavePath + ": Permission denied"), std::string::npos) << hint;
    EXPECT_NE(hint.find("log out and in again"), std::string::npos) << hint;
    if (geteuid() != 0) {
        chmod(Pty.SlavePath.c_str(), 0);
        Comm.CommName = Pty.SlavePath;
        EXPECT_EQ(MessageOf(Comm, &detail), "Error opening serial port");
        EXPECT_NE(detail.find("Permission denied"), std::string::npos) << detail;
        chmod(Pty.SlavePath.c_str(), 0620);
    }
}

TEST_F(CommTest, PortHeldElsewhereIsRefused) {
    StartAndSettle();
    TComm second(&Sink);
    second.CommName = Pty.SlavePath;
    std::string detail;
    EXPECT_EQ(MessageOf(second, &detail), "Error opening serial port");
    EXPECT_NE(detail.find("Another program holds the port"), std::string::npos) << detail;
    EXPECT_FALSE(second.IsOpen());
    Comm.StopComm();

    // Another program's lock, without any component involved.
    const int other = open(Pty.SlavePath.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(MessageOf(Comm), "Error opening serial port");
    close(other);
    EXPECT_EQ(MessageOf(Comm), "(opened)");
}

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

// A pseudo-terminal forces 8 bits without parity generation (CSIZE, PARENB); what it keeps
// shows the settings: speed, PARODD, CSTOPB and the input flags.
TEST_F(CommTest, SettingsReachTheLineAndReapplyOnlyOnChange) {
    Comm.SetBaudRate(38400);
    Comm.SetByteSize(TByteSize::_7);
    Comm.SetParity(TParity::Even);
    Comm.SetParityCheck(true);
    StartAndSettle();
    termios t = Pty.SlaveSettings();
    EXPECT_FALSE(t.c_cflag & PARODD);
    EXPECT_EQ(t.c_iflag & (INPCK | PARMRK | IXON | IXOFF), tcflag_t(INPCK | PARMRK));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));
    EXPECT_EQ(cfgetospeed(&t), speed_t(B38400));

    // Changes while open, with data queued both ways: nothing is lost.
    Pty.Write("queued-in");
    const uint8_t out[] = {'q', 'o'};
    ASSERT_TRUE(Comm.WriteCommData(out, 2));
    Comm.SetBaudRate(115200);
    Comm.SetByteSize(TByteSize::_8);
    Comm.SetParity(TParity::Odd);
    t = Pty.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
    EXPECT_TRUE(t.c_cflag & PARODD);
    EXPECT_EQ(Pty.Read(2, 2000ms), Bytes({'q', 'o'}));
    ASSERT_TRUE(WaitReceived(9));
    EXPECT_EQ(Received(), Bytes({'q', 'u', 'e', 'u', 'e', 'd', '-', 'i', 'n'}));

    // The same value again does not touch the port: a change made behind its back stays.
    t.c_cflag &= ~PARODD;
    Pty.SetSlaveSettings(t);
    Comm.SetParity(TParity::Odd);
    Comm.SetBaudRate(115200);
    EXPECT_FALSE(Pty.SlaveSettings().c_cflag & PARODD);
    // A real change re-applies the whole group.
    Comm.SetStopBits(TStopBits::_2);
    t = Pty.SlaveSettings();
    EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB), tcflag_t(PARODD | CSTOPB));

    // A rate without a B-constant goes through the kernel's arbitrary-rate interface.
    Comm.SetBaudRate(250000);
    t = Pty.SlaveSettings();
    constexpr speed_t ArbitraryRate = 0010000; // the kernel's BOTHER
    EXPECT_EQ(cfgetospeed(&t), ArbitraryRate);
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
}

// With no read interval a block ends only when full, so any block shorter than that was ended
// by the rule.
TEST_F(CommTest, AReplyRuleEndsEachBlockTheMomentItIsAWholeReply) {
    Comm.SetReadIntervalTimeout(0);
    StartAndSettle();
    const uint8_t page[] = {1, 0x0D, 0x13};
    Comm.SetReplyRule(TReplyRule{2});
    ASSERT_TRUE(Comm.WriteCommData(page, 3));
    ASSERT_EQ(Pty.Read(3, 2000ms).size(), 3u);
    Pty.Write(Bytes{0x06, 0x0D});
    ASSERT_TRUE(WaitReceived(2));
    EXPECT_EQ(Blocks, std::vector<Bytes>{Bytes({0x06, 0x0D})});

    // A station reply: whole at its ETX once it is at least as long as the envelope.
    Blocks.clear();
    const std::string request = "\x02"
                                "013EDB\x03";
    Comm.SetReplyRule(TReplyRule{9, 0x03});
    ASSERT_TRUE(Comm.WriteCommData(reinterpret_cast<const uint8_t*>(request.data()), 8));
    ASSERT_EQ(Pty.Read(8, 2000ms).size(), 8u);
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

// Bytes that come before the request has left the line, or after its whole reply, are the tail
// of an earlier reply: dropped, reported, and from then on the interval alone ends blocks.
TEST_F(CommTest, BytesOutOfPlaceUnderAReplyRuleAreATailAndEndTheRule) {
    StartAndSettle();
    const uint8_t request[] = {'r', 'q'};
    driver::Drive(Pty.SlavePath);
    driver::OutputQueued = 2; // still on the line
    Comm.SetReplyRule(TReplyRule{2});
    ASSERT_TRUE(Comm.WriteCommData(request, 2));
    ASSERT_EQ(Pty.Read(2, 2000ms).size(), 2u);
    Pty.Write(std::string("ab"));
    ASSERT_TRUE(Sink.PumpUntil([&] { return !Tails.empty(); }, 2000ms));
    EXPECT_EQ(Tails, std::vector<Bytes>{Bytes({'a', 'b'})});
    driver::OutputQueued = 0;
    Comm.SetReplyRule(TReplyRule{2});
    ASSERT_TRUE(Comm.WriteCommData(request, 2));
    ASSERT_EQ(Pty.Read(2, 2000ms).size(), 2u);
    Pty.Write(std::string("cd"));
    Sleep(20);
    Pty.Write(std::string("ef"));
    ASSERT_TRUE(WaitReceived(4));
    EXPECT_EQ(Blocks, std::vector<Bytes>{Bytes({'c', 'd', 'e', 'f'})}) << "the rule is gone";
    EXPECT_EQ(Tails.size(), 1u);

    // A new opening takes rules again. A reply with more than its rule says: the reply goes
    // on, the rest is the tail; so are bytes in hand when the next request is about to go.
    Comm.StopComm();
    Comm.SetReadIntervalTimeout(0);
    Tails.clear();
    Blocks.clear();
    Empties = 0;
    StartAndSettle();
    Comm.SetReplyRule(TReplyRule{2});
    ASSERT_TRUE(Comm.WriteCommData(request, 2));
    ASSERT_EQ(Pty.Read(2, 2000ms).size(), 2u);
    Pty.Write(std::string("\x06\x0Dxyz"));
    ASSERT_TRUE(Sink.PumpUntil([&] { return !Tails.empty(); }, 2000ms));
    EXPECT_EQ(Blocks, std::vector<Bytes>{Bytes({0x06, 0x0D})});
    EXPECT_EQ(Tails, std::vector<Bytes>{Bytes({'x', 'y', 'z'})});

    Comm.StopComm();
    Tails.clear();
    Blocks.clear();
    Empties = 0;
    StartAndSettle();
    Pty.Write(std::string("w"));
    Sleep(100); // in hand: no rule, and no interval to end it
    Comm.SetReplyRule(TReplyRule{2});
    ASSERT_TRUE(Comm.WriteCommData(request, 2));
    ASSERT_EQ(Pty.Read(2, 2000ms).size(), 2u);
    Pty.Write(std::string("ok"));
    ASSERT_TRUE(Sink.PumpUntil([&] { return !Tails.empty(); }, 2000ms));
    Sink.WaitAndPump(100ms);
    EXPECT_EQ(Tails, std::vector<Bytes>{Bytes({'w'})});
    EXPECT_TRUE(Blocks.empty()) << "the reply waits for the interval, which is off here";
}

TEST_F(CommTest, NulBytesDroppedWhenAsked) {
    Comm.SetIgnoreNullChar(true);
    StartAndSettle();
    Pty.Write(Bytes{0, 'A', 0, 0, 'B', 0});
    ASSERT_TRUE(WaitReceived(2));
    Sink.WaitAndPump(200ms);
    EXPECT_EQ(Received(), Bytes({'A', 'B'}));
}

TEST_F(CommTest, ParityCheckingDeliversBytesAsSentAndReportsMarkedBytes) {
    Comm.SetParity(TParity::Even);
    Comm.SetParityCheck(true);
    StartAndSettle();
    const Bytes sent = {0xFF, 1, 0xFF, 0xFF, 0, 0xFF};
    Pty.Write(sent);
    ASSERT_TRUE(WaitReceived(sent.size()));
    Sink.WaitAndPump(200ms);
    EXPECT_EQ(Received(), sent);
    EXPECT_TRUE(Errors.empty());

    // A pseudo-terminal never flags parity errors; with the driver's marking switched off
    // behind the component's back, the marked form reaches the reader as is.
    termios t = Pty.SlaveSettings();
    t.c_iflag &= ~PARMRK;
    Pty.SetSlaveSettings(t);
    Blocks.clear();
    Pty.Write(Bytes{'a', 0xFF, 0x00, 'x', 'b'});
    ASSERT_TRUE(WaitReceived(3));
    EXPECT_EQ(Received(), Bytes({'a', 'x', 'b'}));
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0], CE_RXPARITY);
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
    Comm.SetParityCheck(true); // the driver now doubles a received 0xFF
    Pty.Write(Bytes{0xFF, 'x'});
    ASSERT_TRUE(WaitReceived(2));
    Sink.WaitAndPump(200ms);
    EXPECT_EQ(Received(), Bytes({0xFF, 'x'}));

    // A shorter interval ends the block in hand by itself.
    Blocks.clear();
    Modem.clear();
    Comm.SetReadIntervalTimeout(60000);
    Pty.Write("ab");
    ASSERT_TRUE(Sink.PumpUntil([&] { return !Modem.empty(); }, 3000ms)) << "read, not delivered";
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
    ASSERT_TRUE(Sink.PumpUntil([&] { return !Modem.empty(); }, 3000ms));
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
// drained, keeps taking new requests meanwhile, and never holds up a stop.
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

    driver::OutputQueued = 5; // never drains
    ASSERT_TRUE(Comm.WriteCommData(first, 3));
    EXPECT_EQ(Pty.Read(3, 2000ms).size(), 3u);
    Comm.StopComm();
    driver::Release();
    Sink.WaitAndPump(100ms);
    EXPECT_EQ(Empties, 2);
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
    test::TPty fresh;
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

TEST_F(CommTest, BareNameFoundInVirtualPortFolder) {
    const std::string folder = VirtualPortFolder();
    std::filesystem::create_directories(folder);
    const std::string link = folder + "orvtest-comm0";
    std::filesystem::remove(link);
    std::filesystem::create_symlink(Pty.SlavePath, link);
    Comm.CommName = "orvtest-comm0";
    StartAndSettle();
    EXPECT_EQ(Comm.PortPath(), link);
    Pty.Write("v");
    EXPECT_TRUE(WaitReceived(1));
    Comm.StopComm();
    std::filesystem::remove(link);
}

TEST(PortList, ListsLiveVirtualPortsAfterTheRealOnes) {
    test::TPty pty;
    namespace fs = std::filesystem;
    const fs::path folder = VirtualPortFolder();
    fs::create_directories(folder);
    const auto names = {"orvtest-live", "orvtest-gone", "orvtest-file", "orvtest:colon",
                        "orvtest-null"};
    for (const char* name : names)
        fs::remove(folder / name);
    fs::create_symlink(pty.SlavePath, folder / "orvtest-live");
    fs::create_symlink("/dev/pts/999999", folder / "orvtest-gone");
    std::ofstream(folder / "plain.txt") << "x";
    fs::create_symlink(folder / "plain.txt", folder / "orvtest-file");
    fs::create_symlink(pty.SlavePath, folder / "orvtest:colon");
    fs::create_symlink("/dev/null", folder / "orvtest-null"); // a device, not a terminal

    const std::vector<std::string> entries = ListPortEntries();
    std::vector<std::string> ours;
    for (const std::string& e : entries)
        if (e.rfind("orvtest", 0) == 0)
            ours.push_back(e);
    EXPECT_EQ(ours, std::vector<std::string>{"orvtest-live: (Virtual port)"});
    EXPECT_EQ(entries.back(), "orvtest-live: (Virtual port)");
    // The machine's own ports before them are serial devices in /dev, never a console, a
    // virtual terminal or a pseudo-terminal.
    for (const std::string& e : entries) {
        if (e.find(": (Virtual port)") != std::string::npos)
            continue;
        const std::string name = e.substr(0, e.find(':'));
        struct stat st {};
        EXPECT_TRUE(stat(("/dev/" + name).c_str(), &st) == 0 && S_ISCHR(st.st_mode)) << e;
        const bool terminal = name == "tty" || name == "console" || name == "ptmx" ||
                              (name.size() > 3 && name.rfind("tty", 0) == 0 && isdigit(name[3]));
        EXPECT_FALSE(terminal) << e;
    }

    for (const char* name : names)
        fs::remove(folder / name);
    fs::remove(folder / "plain.txt");
}

} // namespace
} // namespace orv
