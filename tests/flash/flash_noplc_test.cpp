// orv-flash with nothing at the other end of the line: the window's blind road, with its real
// time-outs, and every byte it sends on the way.

#include "common/crc16.h"
#include "pty.h"
#include "sim_line.h"
#include "tools.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace orv::test {
namespace {

using namespace std::chrono_literals;

void Repeat(Bytes& into, const Bytes& frame, int times) {
    for (int i = 0; i < times; ++i)
        into.insert(into.end(), frame.begin(), frame.end());
}

TEST(FlashNoPlc, TakesTheBlindRoadAndClaimsNothingItDidNotSee) {
    const std::string dir = ScratchDir("noplc");
    const std::string image = dir + "/os.bin";
    MakeImage(image, ImageRecipe{});

    // A pseudo-terminal that nobody answers on: what the program sends collects here.
    TPty line;
    Bytes heard;
    std::atomic<bool> stop{false};
    std::thread listener([&] {
        while (!stop) {
            const Bytes got = line.Read(SIZE_MAX, 50ms);
            heard.insert(heard.end(), got.begin(), got.end());
        }
    });

    const RunResult r =
        RunTool({ToolPath("flash"), "--port", line.SlavePath, "--image", image}, 90s);
    stop = true;
    listener.join();

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
    Repeat(expected, StationFrame("01", "00"), 4);
    Repeat(expected, StationFrame("01", "47", "01R04050566C"), 5);
    Repeat(expected, StationFrame("01", "3E"), 6);
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
    Repeat(expected, StationFrame("01", "00"), 4);

    ASSERT_EQ(heard.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(heard[i], expected[i]) << "first difference at byte " << i;
}

} // namespace
} // namespace orv::test
