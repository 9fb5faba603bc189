// The simulator's line model, frame assembly, controller, options and virtual-port links, each
// on its own.
#include "options.h"
#include "port.h"
#include "pty.h"

#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace orv::plcsim;

namespace {

std::vector<uint8_t> Values(const std::vector<LineChar>& chars, bool* anyError) {
    std::vector<uint8_t> v;
    for (const auto& c : chars) {
        v.push_back(c.value);
        if (anyError && c.error)
            *anyError = true;
    }
    return v;
}

LineFormat Fmt(uint32_t speed, const char* text) {
    return *ParseFormat(text, speed);
}

// push_back rather than insert: g++ 12 misreads insert after a braced list as out of bounds.
void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& from, size_t n = SIZE_MAX) {
    for (size_t i = 0; i < from.size() && i < n; ++i)
        to.push_back(from[i]);
}

TEST(PlcSimLine, SameSettingsPassBytesSpeedMismatchGarbles) {
    const std::vector<uint8_t> frame{0x02, '0', '1', '0', '0', 'C', '3', 0x03};
    EXPECT_EQ(Values(CarryOverLine(frame, Fmt(9600, "8E1"), Fmt(9600, "8E1"))), frame);
    // Two stop bits sent, one expected: still the same bytes.
    bool error = false;
    EXPECT_EQ(Values(CarryOverLine(frame, Fmt(9600, "8E2"), Fmt(9600, "8E1")), &error), frame);
    EXPECT_FALSE(error);

    for (auto [from, to] :
         {std::pair{9600u, 115200u}, {115200u, 9600u}, {9600u, 19200u}, {38400u, 57600u}}) {
        error = false;
        const auto heard = Values(CarryOverLine(frame, Fmt(from, "8E1"), Fmt(to, "8E1")), &error);
        EXPECT_TRUE(heard != frame || error) << from << " -> " << to;
    }
}

TEST(PlcSimLine, DataBitsAndParityAtTheBitLevel) {
    // A 7-bit receiver loses the top bit; the bits after it land on parity and stop.
    auto heard =
        CarryOverLine(std::vector<uint8_t>{0x86, 0x41}, Fmt(9600, "8E1"), Fmt(9600, "7E1"));
    EXPECT_EQ(Values(heard), (std::vector<uint8_t>{0x06, 0x41}));
    // ASCII sent 7E1 reads as the same bytes at 8N1 when the parity bit is 0 ('0' has two
    // ones), and as another byte when it is 1 ('1' has three).
    heard = CarryOverLine(std::vector<uint8_t>{'0'}, Fmt(9600, "7E1"), Fmt(9600, "8N1"));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].value, '0');
    EXPECT_FALSE(heard[0].error);
    heard = CarryOverLine(std::vector<uint8_t>{'1'}, Fmt(9600, "7E1"), Fmt(9600, "8N1"));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].value, '1' | 0x80);
    // Even parity sent, odd expected.
    heard = CarryOverLine(std::vector<uint8_t>{0x03}, Fmt(9600, "8E1"), Fmt(9600, "8O1"));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_TRUE(heard[0].error);
}

std::vector<RxFrame> FeedAll(FrameAssembler& a, const std::vector<uint8_t>& bytes, double t = 0) {
    std::vector<RxFrame> frames;
    for (uint8_t b : bytes)
        if (auto f = a.Feed({b, false}, t))
            frames.push_back(*f);
    return frames;
}

TEST(PlcSimAssembler, StationFramesResyncOnStxAndGiveUpStalledFragments) {
    FrameAssembler a;
    const std::vector<uint8_t> status{0x02, '0', '1', '0', '0', 'C', '3', 0x03};
    // Noise, a fragment cut by a new STX, then a whole frame.
    std::vector<uint8_t> in{'x', 0x03, 0x02, '0', '1'};
    Append(in, status);
    auto frames = FeedAll(a, in);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, status);

    // A fragment that stalls past the gap is dropped, so its ETX-less start does not swallow
    // the frame that follows.
    FeedAll(a, {0x02, '0', '1'}, 1.0);
    frames = FeedAll(a, {'0', '0', 'C', '3', 0x03}, 1.0 + kFrameGapSeconds + 0.1);
    EXPECT_TRUE(frames.empty());
    // Within the gap the pieces make one frame.
    FeedAll(a, {0x02, '0', '1', '0'}, 5.0);
    frames = FeedAll(a, {'0', 'C', '3', 0x03}, 5.2);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, status);

    // Endless bytes without ETX never grow the buffer past the cap.
    FeedAll(a, std::vector<uint8_t>(1000, 'A'), 9.0);
    FeedAll(a, {0x02}, 9.0);
    FeedAll(a, std::vector<uint8_t>(1000, 'A'), 9.0);
    EXPECT_LT(a.Pending(), kMaxStationFrame);
}

TEST(PlcSimAssembler, PageFramesSyncOnTheirHeader) {
    FrameAssembler a;
    a.SetDownloadMode(true);
    std::vector<uint8_t> page(kPageFrameSize, 0xAA);
    page[0] = 1;
    page[1] = 0x0D;
    page[2] = 0x13;
    std::vector<uint8_t> in{0x0D, 0x13, 0x77, 0x0D}; // garbage that looks like a header start
    Append(in, page);
    Append(in, page, 100); // start of the next one
    auto frames = FeedAll(a, in);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, page);
    EXPECT_EQ(a.Pending(), 100u);
}

std::vector<uint8_t> Station(const std::string& body) {
    std::vector<uint8_t> f{0x02};
    for (char c : body)
        f.push_back(static_cast<uint8_t>(c));
    unsigned sum = 0;
    for (uint8_t b : f)
        sum += b;
    const char* hex = "0123456789ABCDEF";
    f.push_back(static_cast<uint8_t>(hex[(sum >> 4) & 0xF]));
    f.push_back(static_cast<uint8_t>(hex[sum & 0xF]));
    f.push_back(0x03);
    return f;
}

TEST(PlcSimController, PortRegisterWritesAndWhenTheLineSwitches) {
    PlcConfig config;
    config.registerCode = 2; // R04158
    Plc plc(config);
    auto code = [&](const std::string& body) {
        const Outcome out = plc.OnStationFrame({Station(body), false});
        plc.ReplyGone();
        return out.reply && out.reply->size() == 9 ? static_cast<char>((*out.reply)[5]) : '-';
    };
    EXPECT_NE(code("014701R04050566C"), '0'); // another register
    EXPECT_NE(code("014701R04158566D"), '0'); // speed code 13 does not exist
    EXPECT_NE(code("014701R04158568C"), '0'); // odd-only parity bit
    EXPECT_NE(code("014702R04158566C"), '0'); // two registers
    EXPECT_NE(code("014701R04158566c"), '0'); // lower-case hex
    EXPECT_EQ(plc.Line().speed, 9600u);

    // 0x56AB: 57600 bit/s, 7 data bits, odd parity; it takes effect once the reply has gone.
    const Outcome out = plc.OnStationFrame({Station("014701R0415856AB"), false});
    ASSERT_TRUE(out.reply);
    EXPECT_EQ((*out.reply)[5], '0');
    EXPECT_EQ(plc.Line().speed, 9600u);
    plc.ReplyGone();
    EXPECT_EQ(plc.Line(), Fmt(57600, "7O1"));

    // A frame with a line error is not understood, however well it reads.
    EXPECT_FALSE(plc.OnStationFrame({Station("0100"), true}).reply);
}

TEST(PlcSimOptions, FaultSpecsAndArguments) {
    Faults f;
    EXPECT_EQ(ParseFaults("drop:0.25,garble:3x,nak:1,delay:40,silent,vanish-after:7", f), "");
    EXPECT_DOUBLE_EQ(f.drop.probability, 0.25);
    EXPECT_EQ(f.garble.count, 3);
    EXPECT_DOUBLE_EQ(f.nak.probability, 1.0);
    EXPECT_EQ(f.delayMs, 40);
    EXPECT_TRUE(f.silent);
    EXPECT_EQ(f.vanishAfter, 7);
    for (const char* bad : {"", "drop", "drop:", "drop:-0.1", "drop:x", "garble:0x", "silent:1",
                            "delay:-5", "nak:0.5,", "vanish-after:1.5", "melt:1", "ack-split:x"}) {
        Faults g;
        EXPECT_NE(ParseFaults(bad, g), "") << bad;
    }

    FaultDice dice(9);
    FaultRate twice{0, 2};
    EXPECT_TRUE(dice.Roll(twice));
    EXPECT_TRUE(dice.Roll(twice));
    EXPECT_FALSE(dice.Roll(twice));
    FaultRate half{0.5, 0};
    int hits = 0;
    for (int i = 0; i < 1000; ++i)
        hits += dice.Roll(half);
    EXPECT_GT(hits, 400);
    EXPECT_LT(hits, 600);

    Options o;
    EXPECT_EQ(ParseOptions({"--station=31", "--format", "7o2", "--speed", "19200", "--no-pace"}, o),
              "");
    EXPECT_EQ(o.plc.station, 31);
    EXPECT_EQ(o.plc.line, Fmt(19200, "7O2"));
    EXPECT_EQ(o.pace, Pace::Off);
    // Every --fault counts; numbers are decimal whatever their leading zeros.
    Options m;
    EXPECT_EQ(ParseOptions({"--fault", "drop:1x", "--fault=nak:2x", "--station", "010"}, m), "");
    EXPECT_EQ(m.faults.drop.count, 1);
    EXPECT_EQ(m.faults.nak.count, 2);
    EXPECT_EQ(m.plc.station, 10);
    Options n;
    EXPECT_EQ(ParseOptions({"--pace", "bytes", "--boot-ms", "4000", "--echo", "--fault",
                            "ack-split:20", "--stations", "1,3:delay=300"},
                           n),
              "");
    EXPECT_EQ(n.pace, Pace::Bytes);
    EXPECT_EQ(n.bootMs, 4000);
    EXPECT_TRUE(n.echo);
    EXPECT_EQ(n.faults.ackSplitMs, 20);
    ASSERT_EQ(n.stations.size(), 2u);
    EXPECT_EQ(n.stations[1].replyDelayMs, 300);
    for (std::vector<std::string> bad : {std::vector<std::string>{"--station"},
                                         {"--pace", "fast"},
                                         {"--pace", "off", "--no-pace"},
                                         {"--date", "13/2010"},
                                         {"--date", "03/1999"},
                                         {"--register-code", "5"},
                                         {"--flash-type", "x"},
                                         {"--name", "a", "--device", "/dev/x"},
                                         {"--no-pace=1"},
                                         {"--seed", "-1"}}) {
        Options p;
        EXPECT_NE(ParseOptions(bad, p), "") << bad[0];
    }
}

} // namespace

// A link left by a simulator killed before it could remove it is taken over, even once its
// terminal's number has gone to another terminal; a link to a terminal in use is not.
TEST(PlcSimPort, StaleLinksAreTakenOverLiveOnesKept) {
    orv::test::TPty pty;
    char dir[] = "/tmp/plcsim-ports-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string link = std::string(dir) + "/p";
    std::string error;
    EXPECT_TRUE(RegisterLink(link, pty.SlavePath, error)) << error;
    EXPECT_FALSE(RegisterLink(link, "/dev/null", error));
    EXPECT_NE(error.find("is in use"), std::string::npos) << error;
    const timespec longAgo[2] = {{0, UTIME_OMIT}, {1, 0}};
    EXPECT_EQ(utimensat(AT_FDCWD, link.c_str(), longAgo, AT_SYMLINK_NOFOLLOW), 0);
    EXPECT_TRUE(RegisterLink(link, "/dev/null", error)) << error;
    std::filesystem::remove_all(dir);
}
