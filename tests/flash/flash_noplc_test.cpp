// orv-flash with nothing at the other end of the line: the window's blind road, with its real
// time-outs, and every byte it sends on the way.

#include "common/crc16.h"
#include "flash_testkit.h"

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orv::flashtest {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// An ASCII station frame: STX, text, the byte sum as two hex digits, ETX.
Bytes StationFrame(const std::string& text) {
    Bytes f;
    f.reserve(text.size() + 4);
    f.push_back(0x02);
    for (const char c : text)
        f.push_back(static_cast<uint8_t>(c));
    unsigned sum = 0;
    for (const uint8_t b : f)
        sum += b;
    static const char* const kHex = "0123456789ABCDEF";
    f.push_back(static_cast<uint8_t>(kHex[(sum >> 4) & 0xF]));
    f.push_back(static_cast<uint8_t>(kHex[sum & 0xF]));
    f.push_back(0x03);
    return f;
}

void Repeat(Bytes& into, const Bytes& frame, int times) {
    for (int i = 0; i < times; ++i)
        into.insert(into.end(), frame.begin(), frame.end());
}

TEST(FlashNoPlc, TakesTheBlindRoadAndClaimsNothingItDidNotSee) {
    const std::string dir = ScratchDir("noplc");
    const std::string image = dir + "/os.bin";
    MakeImage(image, ImageRecipe{});

    // A pseudo-terminal that nobody answers on: what the program sends collects here.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    Bytes heard;
    std::atomic<bool> stop{false};
    std::thread listener([&] {
        while (!stop) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
                uint8_t buf[4096];
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0)
                    heard.insert(heard.end(), buf, buf + n);
            }
        }
    });

    const RunResult r = RunTool({ToolPath("flash"), "--port", slave, "--image", image}, 90s);
    stop = true;
    listener.join();
    ::close(master);

    EXPECT_EQ(r.Exit, 1) << r.Out << r.Err;
    EXPECT_NE(r.Out.find("Get PLC Status Fail !!"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("Change Download Baud .. Try #4"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("Change Mode .. Try #5"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("Blind try Update OS .."), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("Blind try page #0"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("Prog .. Try #5"), std::string::npos) << r.Out;
    // A status at the download speed would say the PLC left its download mode; none comes, so
    // no restore-speed command goes, and nothing claims where the PLC is.
    EXPECT_EQ(r.Out.find("Restore Speed"), std::string::npos) << r.Out;
    EXPECT_NE(r.Err.find("orv-flash: Comm. No response abandon update (no answer to page 0); "
                         "stopped at page 1 of 417: no page was answered, so the PLC may be in "
                         "download mode at 115200 bit/s with a partial OS, or not reached at all"),
              std::string::npos)
        << r.Err;

    // Station 1, 9600 8E1 at connect, 115200 for the download, port register 0 (no status).
    Bytes expected;
    Repeat(expected, StationFrame("0100"), 4);
    Repeat(expected, StationFrame("014701R04050566C"), 5);
    Repeat(expected, StationFrame("013E"), 6);
    Bytes page0{0x01, 0x0D, 0x13, 0x01, 0x00, 0x00, 0x01, 0x00};
    Bytes file = ReadFile(image);
    ASSERT_GE(file.size(), 0x22000u);
    const uint16_t imageCrc =
        CRC16(file.data() + 0x8000, static_cast<uint32_t>(file.size() - 0x8000), 0xFFFF);
    file[26] = static_cast<uint8_t>(imageCrc >> 8);
    file[27] = static_cast<uint8_t>(imageCrc & 0xFF);
    page0.insert(page0.end(), file.begin(), file.begin() + 256);
    const uint16_t frameCrc = CRC16(page0.data(), static_cast<uint32_t>(page0.size()), 0xFFFF);
    page0.push_back(static_cast<uint8_t>(frameCrc & 0xFF));
    page0.push_back(static_cast<uint8_t>(frameCrc >> 8));
    Repeat(expected, page0, 6);
    Repeat(expected, StationFrame("0100"), 4);

    ASSERT_EQ(heard.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(heard[i], expected[i]) << "first difference at byte " << i;
}

} // namespace
} // namespace orv::flashtest
