// orv-plcsim in a thread of the test, driven over its pseudo-terminal with hand-built frames.
#include "common/crc16.h"
#include "sim_line.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>

using namespace orv::test;

namespace {

const Bytes kStatus1{0x02, 0x30, 0x31, 0x30, 0x30, 0x43, 0x33, 0x03};
const Bytes kChangeMode1{0x02, 0x30, 0x31, 0x33, 0x45, 0x44, 0x42, 0x03};
const Bytes kStop1{0x02, 0x30, 0x31, 0x34, 0x31, 0x30, 0x46, 0x38, 0x03};
const Bytes kAck{0x06, 0x0D};
const Bytes kNak{0x15, 0x15};

std::string Text(const Bytes& b, size_t pos, size_t n) {
    return pos + n <= b.size() ? std::string(b.begin() + static_cast<long>(pos),
                                             b.begin() + static_cast<long>(pos + n))
                               : std::string();
}

Bytes PageFrame(uint8_t station, int page, bool last, const uint8_t* data) {
    Bytes f{station,
            0x0D,
            0x13,
            static_cast<uint8_t>(last ? 0xFF : 0x01),
            static_cast<uint8_t>(page >> 8),
            static_cast<uint8_t>(page),
            0x01,
            0x00};
    for (int i = 0; i < 256; ++i)
        f.push_back(data[i]);
    f.resize(266);
    orv::AppendCrc(f.data(), 264);
    return f;
}

// An image of `pages` pages with the given first page and its image CRC patched in.
Bytes MakeImage(int pages, uint8_t firstPage, bool goodCrc = true) {
    Bytes image(static_cast<size_t>(pages) * 256);
    std::mt19937 rng(42);
    for (auto& b : image)
        b = static_cast<uint8_t>(rng());
    image[8] = 0x40;
    image[9] = 0xA6;
    image[12] = 0x05; // version 2.05
    image[13] = 0x02;
    image[14] = 0x07; // 07/2021
    image[15] = 0x21;
    image[23] = firstPage;
    image[25] = 3;
    const uint16_t crc =
        orv::CRC16(image.data() + 0x8000, static_cast<uint32_t>(image.size() - 0x8000), 0xFFFF);
    image[26] = static_cast<uint8_t>(crc >> 8);
    image[27] = static_cast<uint8_t>(goodCrc ? crc : crc ^ 1);
    return image;
}

// A folder for a simulator's flash files, removed with everything in it.
struct TempDir {
    char path[32] = "/tmp/plcsim-flash-XXXXXX";
    bool made = mkdtemp(path) != nullptr;
    ~TempDir() { std::filesystem::remove_all(path); }
};

void EnterDownloadMode(int fd) {
    const Bytes r = Exchange(fd, kChangeMode1, 9);
    ASSERT_EQ(r.size(), 9u);
    ASSERT_EQ(r[5], '0');
}

TEST(PlcSim, StatusReplyBytesAndFields) {
    SimThread sim({"--no-pace", "--station", "10", "--register-code", "3", "--version", "1.61",
                   "--date", "03/2010", "--flash-type", "2"});
    ASSERT_EQ(sim.FirstLine().rfind("listening on /dev/pts/", 0), 0u) << sim.FirstLine();
    EXPECT_NE(sim.FirstLine().find(" as " + sim.Name()), std::string::npos);
    const int fd = sim.OpenPort();
    ASSERT_GE(fd, 0);

    const Bytes r = Exchange(fd, StationFrame("0A", "00"), 66);
    ASSERT_EQ(r.size(), 66u);
    EXPECT_EQ(r[0], 0x02);
    EXPECT_EQ(r[65], 0x03);
    EXPECT_EQ(Text(r, 1, 5), "0A000");
    EXPECT_EQ(r[6], '3');
    EXPECT_EQ(Text(r, 26, 8), "16103102"); // 1.61, 03/2010, flash 2
    EXPECT_EQ(Text(r, 57, 2), "0A");
    unsigned sum = 0;
    for (int i = 0; i < 63; ++i)
        sum += r[static_cast<size_t>(i)];
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", sum & 0xFF);
    EXPECT_EQ(Text(r, 63, 2), hex);
    for (size_t i = 1; i < 65; ++i)
        EXPECT_TRUE(r[i] >= 0x20 && r[i] < 0x7F) << "position " << i;

    // Not for this station, a bad checksum, a frame cut short: no answer at all.
    EXPECT_TRUE(Exchange(fd, kStatus1, 66, 200).empty());
    Bytes bad = StationFrame("0A", "00");
    bad[5] = 'F';
    EXPECT_TRUE(Exchange(fd, bad, 66, 200).empty());
    // An unknown command is answered with a refusal.
    const Bytes unknown = Exchange(fd, StationFrame("0A", "99"), 9);
    ASSERT_EQ(unknown.size(), 9u);
    EXPECT_NE(unknown[5], '0');
}

TEST(PlcSim, FrameInPiecesAfterNoiseIsUnderstood) {
    SimThread sim({"--no-pace"});
    const int fd = sim.OpenPort();
    ASSERT_GE(fd, 0);
    Send(fd, {0x41, 0x7F, 0x03});
    Send(fd, {kStatus1.begin(), kStatus1.begin() + 3});
    usleep(30000);
    Send(fd, {kStatus1.begin() + 3, kStatus1.end()});
    const Bytes r = Receive(fd, 66);
    ASSERT_EQ(r.size(), 66u);
    EXPECT_EQ(Text(r, 1, 2), "01");
}

TEST(PlcSim, SpeedChangeHeardAtOldSpeedNextFrameOnlyAtNew) {
    SimThread sim({"--no-pace"});
    const int fd = sim.OpenPort(9600);
    ASSERT_GE(fd, 0);
    // Another register than the port's: refused, and the line stays.
    const Bytes wrong = Exchange(fd, StationFrame("01", "47", "01R04146566C"), 9);
    ASSERT_EQ(wrong.size(), 9u);
    EXPECT_NE(wrong[5], '0');
    ASSERT_EQ(Exchange(fd, kStatus1, 66).size(), 66u);

    // R04050 = 0x566C: 115200 bit/s, 8 data bits, even parity. The literal is the frame the
    // program sends for that setting.
    const Bytes speed{0x02, '0', '1', '4', '7', '0', '1', 'R', '0', '4',
                      '0',  '5', '0', '5', '6', '6', 'C', '5', 'E', 0x03};
    ASSERT_EQ(speed, StationFrame("01", "47", "01R04050566C"));
    const Bytes ok = Exchange(fd, speed, 9);
    ASSERT_EQ(ok.size(), 9u);
    EXPECT_EQ(Text(ok, 1, 4), "0147");
    EXPECT_EQ(ok[5], '0');

    // Still at 9600 the PLC does not understand us.
    const Bytes old = Exchange(fd, kStatus1, 66, 300);
    EXPECT_NE(old.size(), 66u);
    SetSpeed(fd, 115200);
    const Bytes now = Exchange(fd, kStatus1, 66);
    ASSERT_EQ(now.size(), 66u);
    EXPECT_EQ(now[0], 0x02);
}

TEST(PlcSim, ChangeModeRefusedWhileRunningAcceptedAfterStop) {
    {
        SimThread sim({"--no-pace", "--running"});
        const int fd = sim.OpenPort();
        ASSERT_GE(fd, 0);
        const Bytes refused = Exchange(fd, kChangeMode1, 9);
        ASSERT_EQ(refused.size(), 9u);
        EXPECT_EQ(Text(refused, 3, 2), "3E");
        EXPECT_NE(refused[5], '0');
        const Bytes stopped = Exchange(fd, kStop1, 9);
        ASSERT_EQ(stopped.size(), 9u);
        EXPECT_EQ(Text(stopped, 3, 3), "410");
        const Bytes accepted = Exchange(fd, kChangeMode1, 9);
        ASSERT_EQ(accepted.size(), 9u);
        EXPECT_EQ(accepted[5], '0');
        // Now in download mode: station frames are no longer answered.
        EXPECT_TRUE(Exchange(fd, kStatus1, 66, 200).empty());
    }
    {
        SimThread sim({"--no-pace", "--running", "--refuse-stop"});
        const int fd = sim.OpenPort();
        ASSERT_GE(fd, 0);
        const Bytes stop = Exchange(fd, kStop1, 9);
        ASSERT_EQ(stop.size(), 9u);
        EXPECT_NE(stop[5], '0');
        const Bytes mode = Exchange(fd, kChangeMode1, 9);
        ASSERT_EQ(mode.size(), 9u);
        EXPECT_NE(mode[5], '0');
    }
}

TEST(PlcSim, WholeImageDownloadedPageByPage) {
    TempDir dir;
    ASSERT_TRUE(dir.made);
    const std::string flashPath = std::string(dir.path) + "/flash.bin";
    SimThread sim({"--no-pace", "--once", "--flash-out", flashPath});
    const int fd = sim.OpenPort();
    ASSERT_GE(fd, 0);
    const Bytes image = MakeImage(136, 128);
    EnterDownloadMode(fd);

    std::vector<int> order{0};
    for (int p = 128; p < 136; ++p)
        order.push_back(p);
    for (int p : order) {
        const Bytes ack =
            Exchange(fd, PageFrame(1, p, p == 135, &image[static_cast<size_t>(p) * 256]), 2);
        ASSERT_EQ(ack, kAck) << "page " << p;
    }
    EXPECT_EQ(sim.ReadLine(2000), "download complete: 136 pages, image CRC ok");

    std::ifstream in(flashPath, std::ios::binary);
    const Bytes flash((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(flash.size(), image.size());
    for (int p = 0; p < 136; ++p) {
        const bool sent = p == 0 || p >= 128;
        for (size_t i = 0; i < 256; ++i) {
            const size_t at = static_cast<size_t>(p) * 256 + i;
            ASSERT_EQ(flash[at], sent ? image[at] : 0xFF) << "offset " << at;
        }
    }

    // Back in station mode, reporting the OS it received.
    const Bytes status = Exchange(fd, kStatus1, 66);
    ASSERT_EQ(status.size(), 66u);
    EXPECT_EQ(Text(status, 26, 8), "20507213");

    // The restore-speed command ends a --once run.
    const Bytes restore = Exchange(fd, StationFrame("01", "47", "01R040505661"), 9);
    ASSERT_EQ(restore.size(), 9u);
    EXPECT_EQ(restore[5], '0');
    EXPECT_EQ(sim.Wait(3000), 0);
    EXPECT_FALSE(Exists(sim.LinkPath()));
}

// Several PLCs on one line: each answers only its own frames with its own settings, and only
// the one in download mode takes page frames, into a flash (and a file) of its own.
TEST(PlcSim, MultiDropStationsAnswerForThemselves) {
    TempDir dir;
    ASSERT_TRUE(dir.made);
    const std::string flashPath = std::string(dir.path) + "/flash";
    SimThread sim({"--no-pace", "--version", "1.20", "--flash-out", flashPath, "--stations", "2",
                   "--stations", "5,7:version=1.50:date=11/2012:register-code=3:running"});
    const int fd = sim.OpenPort();
    ASSERT_GE(fd, 0);

    const Bytes two = Exchange(fd, StationFrame("02", "00"), 66);
    ASSERT_EQ(two.size(), 66u);
    EXPECT_EQ(Text(two, 1, 2), "02");
    EXPECT_EQ(Text(two, 26, 7), "1200303");
    EXPECT_EQ(two[6], '0');
    const Bytes seven = Exchange(fd, StationFrame("07", "00"), 66);
    ASSERT_EQ(seven.size(), 66u);
    EXPECT_EQ(Text(seven, 57, 2), "07");
    EXPECT_EQ(Text(seven, 26, 7), "1501112");
    EXPECT_EQ(seven[6], '3');
    EXPECT_TRUE(Exchange(fd, StationFrame("03", "00"), 66, 300).empty());

    // 5 runs and refuses; 2 goes into download mode, while 5 still answers station frames.
    const Bytes refused = Exchange(fd, StationFrame("05", "3E"), 9);
    ASSERT_EQ(refused.size(), 9u);
    EXPECT_NE(refused[5], '0');
    const Bytes accepted = Exchange(fd, StationFrame("02", "3E"), 9);
    ASSERT_EQ(accepted.size(), 9u);
    EXPECT_EQ(Text(accepted, 1, 5), "023E0");
    const Bytes image = MakeImage(129, 128);
    EXPECT_EQ(Exchange(fd, PageFrame(2, 0, false, image.data()), 2), kAck);
    EXPECT_EQ(Exchange(fd, StationFrame("05", "00"), 66).size(), 66u);
    // Nobody else takes a page frame: the one for station 5 is refused by 2, the only one
    // listening for pages.
    EXPECT_EQ(Exchange(fd, PageFrame(5, 128, true, &image[size_t{128} * 256]), 2), kNak);
    EXPECT_EQ(Exchange(fd, PageFrame(2, 128, true, &image[size_t{128} * 256]), 2), kAck);
    EXPECT_EQ(sim.ReadLine(2000), "station 2: download complete: 129 pages, image CRC ok");

    EXPECT_EQ(Text(Exchange(fd, StationFrame("02", "00"), 66), 26, 7), "2050721");
    EXPECT_EQ(Text(Exchange(fd, StationFrame("05", "00"), 66), 26, 7), "1501112");
    EXPECT_EQ(Text(Exchange(fd, StationFrame("07", "00"), 66), 26, 7), "1501112");
    EXPECT_EQ(std::filesystem::file_size(flashPath + ".2"), image.size());
    EXPECT_FALSE(Exists(flashPath + ".5"));
    EXPECT_FALSE(Exists(flashPath));
}

TEST(PlcSim, DamagedFramesRefused) {
    SimThread sim({"--no-pace"});
    const int fd = sim.OpenPort();
    ASSERT_GE(fd, 0);
    const Bytes image = MakeImage(129, 128, false);
    EnterDownloadMode(fd);

    Bytes damaged = PageFrame(1, 0, false, image.data());
    damaged[100] ^= 0x10;
    EXPECT_EQ(Exchange(fd, damaged, 2), kNak);
    EXPECT_EQ(Exchange(fd, PageFrame(2, 0, false, image.data()), 2), kNak); // another station
    // Garbage ahead of a sound frame costs only itself.
    Bytes noisy{0x55, 0x0D, 0x99};
    const Bytes page0 = PageFrame(1, 0, false, image.data());
    for (uint8_t b : page0)
        noisy.push_back(b);
    EXPECT_EQ(Exchange(fd, noisy, 2), kAck);
    // After the header comes the first page it names, not page 1.
    EXPECT_EQ(Exchange(fd, PageFrame(1, 1, false, &image[256]), 2), kNak);
    EXPECT_EQ(Exchange(fd, PageFrame(1, 128, true, &image[size_t{128} * 256]), 2), kAck);
    const std::string verdict = sim.ReadLine(2000);
    EXPECT_EQ(verdict.rfind("download complete: 129 pages, image CRC MISMATCH", 0), 0u) << verdict;
    // An image that fails its CRC is not started: the old OS is still reported.
    const Bytes status = Exchange(fd, kStatus1, 66);
    ASSERT_EQ(status.size(), 66u);
    EXPECT_EQ(Text(status, 26, 8), "10003031");
}

// A PLC that keeps its old OS, and one that takes its time to start the new one: deaf for a
// while after the restore, not before.
TEST(PlcSim, KeepOsReportsTheOldOsAfterASoundDownloadAndBootsAfterTheRestore) {
    SimThread sim({"--no-pace", "--keep-os", "--boot-ms", "1000"});
    const int fd = sim.OpenPort();
    ASSERT_GE(fd, 0);
    const Bytes image = MakeImage(129, 128);
    EnterDownloadMode(fd);
    EXPECT_EQ(Exchange(fd, PageFrame(1, 0, false, image.data()), 2), kAck);
    EXPECT_EQ(Exchange(fd, PageFrame(1, 128, true, &image[size_t{128} * 256]), 2), kAck);
    EXPECT_EQ(sim.ReadLine(2000), "download complete: 129 pages, image CRC ok");
    const Bytes status = Exchange(fd, kStatus1, 66);
    ASSERT_EQ(status.size(), 66u);
    EXPECT_EQ(Text(status, 26, 8), "10003031");
    EXPECT_EQ(Exchange(fd, StationFrame("01", "47", "01R040505661"), 9).size(), 9u);
    EXPECT_TRUE(Exchange(fd, kStatus1, 66, 300).empty());
    usleep(800000);
    EXPECT_EQ(Exchange(fd, kStatus1, 66).size(), 66u);
}

TEST(PlcSim, FaultKinds) {
    {
        SimThread sim({"--no-pace", "--fault", "drop:1x,garble:1x"});
        const int fd = sim.OpenPort();
        EXPECT_TRUE(Exchange(fd, kStatus1, 66, 300).empty()); // dropped
        const Bytes damaged = Exchange(fd, kStatus1, 66);
        const Bytes clean = Exchange(fd, kStatus1, 66);
        ASSERT_EQ(damaged.size(), 66u);
        ASSERT_EQ(clean.size(), 66u);
        int differ = 0;
        for (size_t i = 0; i < 66; ++i) {
            differ += damaged[i] != clean[i];
            EXPECT_NE(damaged[i], 0);
        }
        EXPECT_EQ(differ, 1);
    }
    {
        SimThread sim({"--no-pace", "--fault", "nak:1x,delay:300"});
        const int fd = sim.OpenPort();
        const double t0 = Seconds();
        EnterDownloadMode(fd);
        EXPECT_GE(Seconds() - t0, 0.29);
        const Bytes image = MakeImage(129, 128);
        EXPECT_EQ(Exchange(fd, PageFrame(1, 0, false, image.data()), 2), kNak);
        EXPECT_EQ(Exchange(fd, PageFrame(1, 0, false, image.data()), 2), kAck);
    }
    {
        SimThread sim({"--no-pace", "--fault", "silent"});
        const int fd = sim.OpenPort();
        EXPECT_TRUE(Exchange(fd, kStatus1, 66, 300).empty());
    }
    {
        SimThread sim({"--no-pace", "--fault", "vanish-after:2"});
        const int fd = sim.OpenPort();
        EnterDownloadMode(fd);
        const Bytes image = MakeImage(136, 128);
        EXPECT_EQ(Exchange(fd, PageFrame(1, 0, false, image.data()), 2), kAck);
        EXPECT_EQ(Exchange(fd, PageFrame(1, 128, false, &image[size_t{128} * 256]), 2), kAck);
        EXPECT_EQ(sim.Wait(2000), 0);
        EXPECT_FALSE(Exists(sim.LinkPath()));
        // The program's side is hung up, like an unplugged adapter.
        pollfd p{fd, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 1000), 1);
        EXPECT_TRUE(p.revents & POLLHUP);
    }
}

// Whole, a reply comes when its last byte would have; by bytes, in the pieces a UART sends.
TEST(PlcSim, PacedReplyTakesTheLineTime) {
    for (const std::string pace : {"reply", "bytes"}) {
        SimThread sim({"--pace", pace});
        const int fd = sim.OpenPort(9600);
        const double t0 = Seconds();
        Send(fd, kStatus1);
        int reads = 0;
        const Bytes r = Receive(fd, 66, 1000, &reads);
        ASSERT_EQ(r.size(), 66u) << pace;
        // 8 bytes in and 66 out at 11 bits a byte: 85 ms on a real line.
        EXPECT_GE(Seconds() - t0, 0.084) << pace;
        EXPECT_TRUE(pace == "reply" || reads >= 5) << reads;
    }
}

// Lines a client must cope with: a converter that echoes, a station that answers after the
// client has moved on to the next, an acknowledgement whose line end comes apart from it.
TEST(PlcSim, EchoLateStationAndSplitAcknowledgement) {
    {
        SimThread sim({"--no-pace", "--echo"});
        const Bytes r = Exchange(sim.OpenPort(), kStatus1, 74);
        ASSERT_EQ(r.size(), 74u);
        EXPECT_EQ(Bytes(r.begin(), r.begin() + 8), kStatus1);
        EXPECT_EQ(Text(r, 8 + 57, 2), "01");
    }
    {
        SimThread sim({"--no-pace", "--stations", "1", "--stations", "3:delay=300"});
        const int fd = sim.OpenPort();
        const double t0 = Seconds();
        Send(fd, StationFrame("03", "00"));
        usleep(100000);
        const Bytes r = Exchange(fd, StationFrame("01", "00"), 132);
        EXPECT_GE(Seconds() - t0, 0.3);
        ASSERT_EQ(r.size(), 132u);
        EXPECT_EQ(Text(r, 1, 2) + Text(r, 67, 2), "0301");
    }
    {
        SimThread sim({"--no-pace", "--fault", "ack-split:200"});
        const int fd = sim.OpenPort();
        EnterDownloadMode(fd);
        const Bytes image = MakeImage(129, 128);
        EXPECT_EQ(Exchange(fd, PageFrame(1, 0, false, image.data()), 3), kAck);
        EXPECT_EQ(Receive(fd, 1), Bytes{0x0A});
    }
}

} // namespace
